// How many threads a video codec gets.
#pragma once

#include "binding/FFmpegHeaders.h"

namespace zembra {

// Pictures of at least this many pixels are worth splitting into slices across threads.
constexpr int64_t kSliceThreadingMinPixels = 1280 * 720;

// The thread count for a video encoder about to be opened for Width x Height pictures: 0 (the
// codec uses what the machine has), or 1 where threading would cost more than it wins.
int VideoEncoderThreadCount(const AVCodec* Codec, int Width, int Height);

}  // namespace zembra
