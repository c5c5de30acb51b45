#include "util/Bitmap.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <stdexcept>

namespace zembra {

void TBitmap::SetSize(int Width, int Height) {
    const int64_t W = std::max(Width, 0), H = std::max(Height, 0);
    const int64_t Stride = (W * 3 + 3) & ~int64_t{3};
    // Sizes come from files: a row must fit an int, the picture the address space.
    if (Stride > std::numeric_limits<int>::max() || (H > 0 && Stride > PTRDIFF_MAX / H))
        throw std::length_error("picture too large for a bitmap");
    FPixels.assign(static_cast<size_t>(Stride * H), 0);
    FWidth = static_cast<int>(W);
    FHeight = static_cast<int>(H);
    FStride = static_cast<int>(Stride);
}

void TBitmap::Fill(uint8_t B, uint8_t G, uint8_t R) {
    for (int Y = 0; Y < FHeight; ++Y) {
        uint8_t* P = ScanLine(Y);
        for (int X = 0; X < FWidth; ++X, P += 3) {
            P[0] = B;
            P[1] = G;
            P[2] = R;
        }
    }
}

}  // namespace zembra
