#include "engine/PictureConverter.h"

#include <algorithm>
#include <cstring>

#include "binding/EntryPoints.h"

namespace zembra {

void TPictureConverter::Reset() {
    FBitmap.SetSize(0, 0);
    FToRGB.reset();
    FFromRGB.reset();
}

bool TPictureConverter::Render(const AVFrame* Picture) {
    const int W = Picture->width, H = Picture->height;
    if (W <= 0 || H <= 0) return false;
    if (FBitmap.Width() != W || FBitmap.Height() != H) FBitmap.SetSize(W, H);
    const auto Format = static_cast<AVPixelFormat>(Picture->format);
    if (Format == AV_PIX_FMT_BGR24) {
        // Already in the bitmap's layout: rows are copied, each within the bitmap's row.
        const size_t Row = static_cast<size_t>(W) * 3;
        for (int Y = 0; Y < H; ++Y)
            std::memcpy(FBitmap.ScanLine(Y),
                        Picture->data[0] + static_cast<ptrdiff_t>(Y) * Picture->linesize[0], Row);
        return true;
    }
    FToRGB.reset(lsws.sws_getCachedContext(FToRGB.release(), W, H, Format, W, H, AV_PIX_FMT_BGR24,
                                           SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!FToRGB) return false;
    uint8_t* Dst[4] = {FBitmap.Bits(), nullptr, nullptr, nullptr};
    int DstStride[4] = {FBitmap.Stride(), 0, 0, 0};
    return lsws.sws_scale(FToRGB.get(), Picture->data, Picture->linesize, 0, H, Dst, DstStride) >= 0;
}

bool TPictureConverter::WriteBack(AVFrame* Picture) {
    const int W = std::min(Picture->width, FBitmap.Width()), H = std::min(Picture->height, FBitmap.Height());
    if (W <= 0 || H <= 0) return false;
    const auto Format = static_cast<AVPixelFormat>(Picture->format);
    if (Format == AV_PIX_FMT_BGR24) {
        const size_t Row = static_cast<size_t>(W) * 3;
        for (int Y = 0; Y < H; ++Y)
            std::memcpy(Picture->data[0] + static_cast<ptrdiff_t>(Y) * Picture->linesize[0],
                        FBitmap.ScanLine(Y), Row);
        return true;
    }
    FFromRGB.reset(lsws.sws_getCachedContext(FFromRGB.release(), W, H, AV_PIX_FMT_BGR24, W, H, Format,
                                             SWS_BICUBIC, nullptr, nullptr, nullptr));
    if (!FFromRGB) return false;
    const uint8_t* Src[4] = {FBitmap.Bits(), nullptr, nullptr, nullptr};
    const int SrcStride[4] = {FBitmap.Stride(), 0, 0, 0};
    return lsws.sws_scale(FFromRGB.get(), Src, SrcStride, 0, H, Picture->data, Picture->linesize) >= 0;
}

}  // namespace zembra
