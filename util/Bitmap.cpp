#include "util/Bitmap.h"

#include <algorithm>

namespace zembra {

void TBitmap::SetSize(int Width, int Height) {
    FWidth = std::max(Width, 0);
    FHeight = std::max(Height, 0);
    FStride = (FWidth * 3 + 3) & ~3;
    FPixels.assign(static_cast<size_t>(FStride) * FHeight, 0);
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
