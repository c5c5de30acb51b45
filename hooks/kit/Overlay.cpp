#include "hooks/kit/Overlay.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace zembra::hooks {

namespace {

struct TLayout {
    bool Packed = false;
    bool RedFirst = false;  // packed: R G B in memory (else B G R)
    int ShiftX = 0;         // planar: log2 of the chroma subsampling
    int ShiftY = 0;
    bool FullRange = false;  // planar: the "J" formats use the whole 0..255 range
};

bool LayoutOf(int PixelFormat, TLayout& L) {
    L = TLayout();
    switch (PixelFormat) {
        case ZEMBRA_HOOK_PIX_FMT_RGB24:
            L.Packed = true;
            L.RedFirst = true;
            return true;
        case ZEMBRA_HOOK_PIX_FMT_BGR24:
            L.Packed = true;
            return true;
        case ZEMBRA_HOOK_PIX_FMT_YUV420P:
            L.ShiftX = 1;
            L.ShiftY = 1;
            return true;
        case ZEMBRA_HOOK_PIX_FMT_YUVJ420P:
            L.ShiftX = 1;
            L.ShiftY = 1;
            L.FullRange = true;
            return true;
        case ZEMBRA_HOOK_PIX_FMT_YUV422P:
            L.ShiftX = 1;
            return true;
        case ZEMBRA_HOOK_PIX_FMT_YUVJ422P:
            L.ShiftX = 1;
            L.FullRange = true;
            return true;
        case ZEMBRA_HOOK_PIX_FMT_YUV444P:
            return true;
        case ZEMBRA_HOOK_PIX_FMT_YUVJ444P:
            L.FullRange = true;
            return true;
        case ZEMBRA_HOOK_PIX_FMT_YUV410P:
            L.ShiftX = 2;
            L.ShiftY = 2;
            return true;
        case ZEMBRA_HOOK_PIX_FMT_YUV411P:
            L.ShiftX = 2;
            return true;
        default:
            return false;
    }
}

inline int Clamp255(int V) {
    return V < 0 ? 0 : (V > 255 ? 255 : V);
}

// Mixes Colour into Frame by Alpha (0..255), rounded.
inline int Mix(int Frame, int Colour, int Alpha) {
    return (Frame * (255 - Alpha) + Colour * Alpha + 127) / 255;
}

// ITU-R BT.601 in integer form; the limited range puts black at 16 and white at 235.
inline int LumaOf(int R, int G, int B, bool Full) {
    return Full ? Clamp255((77 * R + 150 * G + 29 * B + 128) >> 8)
                : Clamp255(((66 * R + 129 * G + 25 * B + 128) >> 8) + 16);
}
inline int BlueDiffOf(int R, int G, int B, bool Full) {
    return Full ? Clamp255(((-43 * R - 85 * G + 128 * B + 128) >> 8) + 128)
                : Clamp255(((-38 * R - 74 * G + 112 * B + 128) >> 8) + 128);
}
inline int RedDiffOf(int R, int G, int B, bool Full) {
    return Full ? Clamp255(((128 * R - 107 * G - 21 * B + 128) >> 8) + 128)
                : Clamp255(((112 * R - 94 * G - 18 * B + 128) >> 8) + 128);
}

inline int Grey(uint32_t P) {
    return (77 * int(RedOf(P)) + 150 * int(GreenOf(P)) + 29 * int(BlueOf(P)) + 128) >> 8;
}

// How far a pixel lightens or darkens in Shade mode, on the 0..255 scale.
inline int ShadeOffset(uint32_t P, int Alpha) {
    return (Grey(P) - 128) * Alpha / 255;
}

inline int AbsLine(int L) {
    return L < 0 ? -L : L;
}

}  // namespace

void TOverlay::SetSize(int W, int H) {
    Width = std::max(W, 0);
    Height = std::max(H, 0);
    Pixels.assign(static_cast<size_t>(Width) * Height, 0);
}

bool IsSupportedFormat(int PixelFormat) {
    TLayout L;
    return LayoutOf(PixelFormat, L);
}

bool DrawOverlay(const TOverlay& O, TZembraHookPicture* P, int PixelFormat, int Width, int Height, int64_t X,
                 int64_t Y, TBlend Mode, int Opacity) {
    TLayout L;
    if (!P || !LayoutOf(PixelFormat, L) || Width <= 0 || Height <= 0) return false;
    const int ChromaWidth = (Width + (1 << L.ShiftX) - 1) >> L.ShiftX;
    if (L.Packed) {
        if (!P->data[0] || int64_t(AbsLine(P->linesize[0])) < int64_t(Width) * 3) return false;
    } else {
        if (!P->data[0] || !P->data[1] || !P->data[2]) return false;
        if (AbsLine(P->linesize[0]) < Width || AbsLine(P->linesize[1]) < ChromaWidth ||
            AbsLine(P->linesize[2]) < ChromaWidth)
            return false;
    }
    if (O.Empty()) return true;
    Opacity = std::clamp(Opacity, 0, 256);

    // The overlay's rectangle on the frame, clipped to the frame.
    const int64_t Left = X - O.AnchorX;
    const int64_t Top = Y - O.AnchorY;
    const int X0 = int(std::clamp<int64_t>(Left, 0, Width));
    const int X1 = int(std::clamp<int64_t>(Left + O.Width, 0, Width));
    const int Y0 = int(std::clamp<int64_t>(Top, 0, Height));
    const int Y1 = int(std::clamp<int64_t>(Top + O.Height, 0, Height));
    if (X0 >= X1 || Y0 >= Y1) return true;
    const int OffX = int(X0 - Left);  // overlay column of frame column X0
    const int OffY = int(Y0 - Top);

    auto AlphaAt = [&](uint32_t Pixel) {
        const int A = int(AlphaOf(Pixel));
        return Opacity == 256 ? A : (A * Opacity + 128) >> 8;
    };

    if (L.Packed) {
        const int RIndex = L.RedFirst ? 0 : 2;
        const int BIndex = L.RedFirst ? 2 : 0;
        for (int Row = Y0; Row < Y1; ++Row) {
            uint8_t* Line = P->data[0] + static_cast<ptrdiff_t>(Row) * P->linesize[0];
            for (int Col = X0; Col < X1; ++Col) {
                const uint32_t Pixel = O.At(OffX + Col - X0, OffY + Row - Y0);
                const int A = AlphaAt(Pixel);
                if (A == 0) continue;
                uint8_t* Px = Line + Col * 3;
                if (Mode == TBlend::Mix) {
                    Px[RIndex] = uint8_t(Mix(Px[RIndex], int(RedOf(Pixel)), A));
                    Px[1] = uint8_t(Mix(Px[1], int(GreenOf(Pixel)), A));
                    Px[BIndex] = uint8_t(Mix(Px[BIndex], int(BlueOf(Pixel)), A));
                } else {
                    const int D = ShadeOffset(Pixel, A);
                    for (int C = 0; C < 3; ++C) Px[C] = uint8_t(Clamp255(Px[C] + D));
                }
            }
        }
        return true;
    }

    const bool Full = L.FullRange;
    for (int Row = Y0; Row < Y1; ++Row) {
        uint8_t* Line = P->data[0] + static_cast<ptrdiff_t>(Row) * P->linesize[0];
        for (int Col = X0; Col < X1; ++Col) {
            const uint32_t Pixel = O.At(OffX + Col - X0, OffY + Row - Y0);
            const int A = AlphaAt(Pixel);
            if (A == 0) continue;
            if (Mode == TBlend::Mix) {
                Line[Col] = uint8_t(Mix(
                    Line[Col], LumaOf(int(RedOf(Pixel)), int(GreenOf(Pixel)), int(BlueOf(Pixel)), Full), A));
            } else {
                int D = ShadeOffset(Pixel, A);
                if (!Full) D = D * 219 / 255;
                Line[Col] = uint8_t(Clamp255(Line[Col] + D));
            }
        }
    }
    if (Mode == TBlend::Shade) return true;

    // A chroma sample covers a block of luma pixels; it takes the overlay's colour in proportion
    // to how much of the block the overlay covers, so edges and transparent holes stay soft.
    const int CX0 = X0 >> L.ShiftX, CX1 = (X1 - 1) >> L.ShiftX;
    const int CY0 = Y0 >> L.ShiftY, CY1 = (Y1 - 1) >> L.ShiftY;
    for (int CY = CY0; CY <= CY1; ++CY) {
        const int LY0 = CY << L.ShiftY, LY1 = std::min((CY + 1) << L.ShiftY, Height);
        uint8_t* ULine = P->data[1] + static_cast<ptrdiff_t>(CY) * P->linesize[1];
        uint8_t* VLine = P->data[2] + static_cast<ptrdiff_t>(CY) * P->linesize[2];
        for (int CX = CX0; CX <= CX1; ++CX) {
            const int LX0 = CX << L.ShiftX, LX1 = std::min((CX + 1) << L.ShiftX, Width);
            const int Count = (LY1 - LY0) * (LX1 - LX0);
            int SumA = 0, SumU = 0, SumV = 0;
            for (int LY = std::max(LY0, Y0); LY < std::min(LY1, Y1); ++LY) {
                for (int LX = std::max(LX0, X0); LX < std::min(LX1, X1); ++LX) {
                    const uint32_t Pixel = O.At(OffX + LX - X0, OffY + LY - Y0);
                    const int A = AlphaAt(Pixel);
                    if (A == 0) continue;
                    const int R = int(RedOf(Pixel)), G = int(GreenOf(Pixel)), B = int(BlueOf(Pixel));
                    SumA += A;
                    SumU += A * BlueDiffOf(R, G, B, Full);
                    SumV += A * RedDiffOf(R, G, B, Full);
                }
            }
            if (SumA == 0 || Count <= 0) continue;
            const int A = (SumA + Count / 2) / Count;
            const int U = (SumU + SumA / 2) / SumA;
            const int V = (SumV + SumA / 2) / SumA;
            ULine[CX] = uint8_t(Mix(ULine[CX], U, A));
            VLine[CX] = uint8_t(Mix(VLine[CX], V, A));
        }
    }
    return true;
}

TOverlay ScaleOverlay(const TOverlay& S, int Width, int Height) {
    TOverlay D;
    D.SetSize(Width, Height);
    if (S.Empty() || D.Empty()) return D;
    const double ScaleX = double(S.Width) / D.Width;
    const double ScaleY = double(S.Height) / D.Height;
    for (int DY = 0; DY < D.Height; ++DY) {
        const double SY = std::clamp((DY + 0.5) * ScaleY - 0.5, 0.0, double(S.Height - 1));
        const int Y0 = int(SY);
        const int Y1 = std::min(Y0 + 1, S.Height - 1);
        const double FY = SY - Y0;
        for (int DX = 0; DX < D.Width; ++DX) {
            const double SX = std::clamp((DX + 0.5) * ScaleX - 0.5, 0.0, double(S.Width - 1));
            const int X0 = int(SX);
            const int X1 = std::min(X0 + 1, S.Width - 1);
            const double FX = SX - X0;
            const uint32_t Px[4] = {S.At(X0, Y0), S.At(X1, Y0), S.At(X0, Y1), S.At(X1, Y1)};
            const double W[4] = {(1 - FX) * (1 - FY), FX * (1 - FY), (1 - FX) * FY, FX * FY};
            double A = 0, R = 0, G = 0, B = 0;
            for (int I = 0; I < 4; ++I) {
                const double Wa = W[I] * AlphaOf(Px[I]);
                A += Wa;
                R += Wa * RedOf(Px[I]);
                G += Wa * GreenOf(Px[I]);
                B += Wa * BlueOf(Px[I]);
            }
            if (A <= 0) continue;
            D.At(DX, DY) = Argb(uint32_t(std::lround(std::min(A, 255.0))), uint32_t(std::lround(R / A)),
                                uint32_t(std::lround(G / A)), uint32_t(std::lround(B / A)));
        }
    }
    return D;
}

void ApplyKeyColour(TOverlay& O, uint32_t Rgb) {
    for (uint32_t& P : O.Pixels)
        if ((P & 0xFFFFFF) == (Rgb & 0xFFFFFF)) P = 0;
}

}  // namespace zembra::hooks
