#pragma once

// Pictures to 24-bit BGR bitmaps and back, with cached scalers: the custom hook paints on the
// bitmap, previews show it.

#include "binding/FFmpegHolders.h"
#include "util/Bitmap.h"

namespace zembra {

class TPictureConverter {
  public:
    // Renders the picture into the bitmap (sized to the picture). False when no scaler to BGR
    // can be made for its format.
    bool Render(const AVFrame* Picture);
    // Writes the bitmap back into the picture, which must be writable and of the size last
    // rendered. False when no scaler from BGR can be made for its format.
    bool WriteBack(AVFrame* Picture);
    TBitmap& Bitmap() { return FBitmap; }
    void Reset();

  private:
    TBitmap FBitmap;
    TSwsPtr FToRGB;
    TSwsPtr FFromRGB;
};

}  // namespace zembra
