#include "hooks/kit/Text.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H

#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

namespace zembra::hooks {

namespace {

// Invalid bytes become U+FFFD, so a text in another encoding still renders something.
std::vector<char32_t> DecodeUtf8(const std::string& S) {
    std::vector<char32_t> Out;
    size_t I = 0;
    while (I < S.size()) {
        const unsigned char C = static_cast<unsigned char>(S[I]);
        int Extra = 0;
        char32_t Code = 0;
        if (C < 0x80) {
            Code = C;
        } else if ((C & 0xE0) == 0xC0) {
            Code = C & 0x1F;
            Extra = 1;
        } else if ((C & 0xF0) == 0xE0) {
            Code = C & 0x0F;
            Extra = 2;
        } else if ((C & 0xF8) == 0xF0) {
            Code = C & 0x07;
            Extra = 3;
        } else {
            Out.push_back(0xFFFD);
            ++I;
            continue;
        }
        bool Ok = I + Extra < S.size();
        for (int K = 1; Ok && K <= Extra; ++K) {
            const unsigned char N = static_cast<unsigned char>(S[I + K]);
            if ((N & 0xC0) != 0x80)
                Ok = false;
            else
                Code = (Code << 6) | (N & 0x3F);
        }
        if (!Ok) {
            Out.push_back(0xFFFD);
            ++I;
            continue;
        }
        Out.push_back(Code);
        I += Extra + 1;
    }
    return Out;
}

struct TGlyph {
    int Left = 0, Top = 0;  // bitmap position relative to the pen on the baseline (Top upward)
    int Width = 0, Rows = 0;
    std::vector<uint8_t> Coverage;
};

struct TLibraryDone {
    void operator()(FT_Library L) const { FT_Done_FreeType(L); }
};
struct TFaceDone {
    void operator()(FT_Face F) const { FT_Done_Face(F); }
};

}  // namespace

bool RenderText(const std::string& Text, const TTextStyle& Style, TOverlay& Out, std::string& Error) {
    Out = TOverlay();
    FT_Library RawLibrary = nullptr;
    if (FT_Init_FreeType(&RawLibrary)) {
        Error = "the font engine could not start";
        return false;
    }
    std::unique_ptr<FT_LibraryRec_, TLibraryDone> Library(RawLibrary);
    FT_Face RawFace = nullptr;
    if (Style.FontFile.empty() || FT_New_Face(RawLibrary, Style.FontFile.c_str(), 0, &RawFace)) {
        Error = "cannot open font " + (Style.FontFile.empty() ? std::string("(none found)") : Style.FontFile);
        return false;
    }
    std::unique_ptr<FT_FaceRec_, TFaceDone> Face(RawFace);
    const int PixelSize = std::clamp(Style.PixelSize, 1, 1000);
    if (FT_Set_Pixel_Sizes(RawFace, 0, PixelSize)) {
        Error = "font " + Style.FontFile + " has no size " + std::to_string(PixelSize);
        return false;
    }
    if (Style.Italic) {
        FT_Matrix Shear{0x10000, 0x3800, 0, 0x10000};  // about 12 degrees
        FT_Set_Transform(RawFace, &Shear, nullptr);
    }
    const bool Embolden = Style.Bold && !Style.BoldFace;

    const int Ascent = int((RawFace->size->metrics.ascender + 63) >> 6);
    const int Descent = int((-RawFace->size->metrics.descender + 63) >> 6);

    std::vector<TGlyph> Glyphs;
    std::vector<int> PenX;
    int Pen = 0;
    FT_UInt Previous = 0;
    for (char32_t Code : DecodeUtf8(Text)) {
        const FT_UInt Index = FT_Get_Char_Index(RawFace, Code);
        if (Previous && Index && FT_HAS_KERNING(RawFace)) {
            FT_Vector K;
            if (!FT_Get_Kerning(RawFace, Previous, Index, FT_KERNING_DEFAULT, &K)) Pen += int(K.x >> 6);
        }
        Previous = Index;
        if (FT_Load_Glyph(RawFace, Index, FT_LOAD_DEFAULT | FT_LOAD_NO_BITMAP)) continue;
        FT_GlyphSlot Slot = RawFace->glyph;
        if (Embolden && Slot->format == FT_GLYPH_FORMAT_OUTLINE) {
            const FT_Pos Strength = std::max<FT_Pos>(PixelSize * 64 / 24, 32);
            FT_Outline_EmboldenXY(&Slot->outline, Strength, 0);
            Slot->advance.x += Strength;
        }
        if (FT_Render_Glyph(Slot, FT_RENDER_MODE_NORMAL)) continue;
        TGlyph G;
        G.Left = Slot->bitmap_left;
        G.Top = Slot->bitmap_top;
        G.Width = int(Slot->bitmap.width);
        G.Rows = int(Slot->bitmap.rows);
        if (Slot->bitmap.pixel_mode == FT_PIXEL_MODE_GRAY && G.Width > 0 && G.Rows > 0) {
            G.Coverage.resize(size_t(G.Width) * G.Rows);
            for (int R = 0; R < G.Rows; ++R) {
                const unsigned char* Src = Slot->bitmap.buffer + ptrdiff_t(R) * Slot->bitmap.pitch;
                std::copy(Src, Src + G.Width, G.Coverage.begin() + ptrdiff_t(R) * G.Width);
            }
        } else {
            G.Width = G.Rows = 0;
        }
        Glyphs.push_back(std::move(G));
        PenX.push_back(Pen);
        Pen += int((Slot->advance.x + 32) >> 6);
    }

    // The line box, widened to take in glyph parts that reach out of it.
    int MinX = 0, MaxX = std::max(Pen, 0), MinY = -Ascent, MaxY = Descent;
    for (size_t I = 0; I < Glyphs.size(); ++I) {
        const TGlyph& G = Glyphs[I];
        if (!G.Width) continue;
        MinX = std::min(MinX, PenX[I] + G.Left);
        MaxX = std::max(MaxX, PenX[I] + G.Left + G.Width);
        MinY = std::min(MinY, -G.Top);
        MaxY = std::max(MaxY, -G.Top + G.Rows);
    }
    int LineThickness = 1, UnderlineY = Descent / 2;
    if (FT_IS_SCALABLE(RawFace)) {
        LineThickness =
            std::max(1, int(FT_MulFix(RawFace->underline_thickness, RawFace->size->metrics.y_scale) >> 6));
        UnderlineY =
            std::max(1, int(-FT_MulFix(RawFace->underline_position, RawFace->size->metrics.y_scale) >> 6));
    }
    if (Style.Underline) MaxY = std::max(MaxY, UnderlineY + LineThickness);
    if (MaxX <= MinX || Glyphs.empty()) {
        Out.SetSize(0, 0);
        return true;
    }

    Out.SetSize(MaxX - MinX, MaxY - MinY);
    Out.AnchorX = -MinX;
    Out.AnchorY = -MinY - Ascent;            // the pen's top, Ascent above the baseline
    const int BaseX = -MinX, BaseY = -MinY;  // the pen origin inside the overlay
    std::vector<uint8_t> Cover(Out.Pixels.size(), 0);
    for (size_t I = 0; I < Glyphs.size(); ++I) {
        const TGlyph& G = Glyphs[I];
        for (int R = 0; R < G.Rows; ++R) {
            const int Y = BaseY - G.Top + R;
            for (int C = 0; C < G.Width; ++C) {
                const int X = BaseX + PenX[I] + G.Left + C;
                uint8_t& Dst = Cover[size_t(Y) * Out.Width + X];
                Dst = std::max(Dst, G.Coverage[size_t(R) * G.Width + C]);
            }
        }
    }
    auto Bar = [&](int Top, int Thickness) {
        for (int Y = Top; Y < Top + Thickness; ++Y) {
            if (Y < 0 || Y >= Out.Height) continue;
            for (int X = BaseX; X < BaseX + Pen && X < Out.Width; ++X)
                if (X >= 0) Cover[size_t(Y) * Out.Width + X] = 255;
        }
    };
    if (Style.Underline) Bar(BaseY + UnderlineY, LineThickness);
    if (Style.StrikeOut) Bar(BaseY - Ascent * 3 / 10 - LineThickness / 2, LineThickness);

    const uint32_t Rgb = Style.Colour & 0xFFFFFF;
    for (size_t I = 0; I < Cover.size(); ++I)
        if (Cover[I]) Out.Pixels[I] = (uint32_t(Cover[I]) << 24) | Rgb;
    return true;
}

}  // namespace zembra::hooks
