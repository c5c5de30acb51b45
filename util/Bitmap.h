#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zembra {

// A 24-bit picture: BGR byte order, each row padded to a multiple of 4 bytes.
class TBitmap {
  public:
    TBitmap() = default;
    TBitmap(int Width, int Height) { SetSize(Width, Height); }

    // Negative sizes count as 0. The pixels are black after a size change. A size whose row or
    // whole does not fit (an int, the address space) throws std::length_error.
    void SetSize(int Width, int Height);
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    bool Empty() const { return FWidth == 0 || FHeight == 0; }
    int Stride() const { return FStride; }

    uint8_t* ScanLine(int Row) { return FPixels.data() + static_cast<size_t>(Row) * FStride; }
    const uint8_t* ScanLine(int Row) const { return FPixels.data() + static_cast<size_t>(Row) * FStride; }
    uint8_t* Bits() { return FPixels.data(); }
    const uint8_t* Bits() const { return FPixels.data(); }
    size_t ByteSize() const { return FPixels.size(); }

    // Fills every pixel with one colour.
    void Fill(uint8_t B, uint8_t G, uint8_t R);

  private:
    int FWidth = 0;
    int FHeight = 0;
    int FStride = 0;
    std::vector<uint8_t> FPixels;
};

}  // namespace zembra
