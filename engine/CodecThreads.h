// How many threads a video codec gets.
#pragma once

#include "binding/FFmpegHeaders.h"

namespace zembra {

// Pictures of at least this many pixels are worth splitting into slices across threads.
constexpr int64_t kSliceThreadingMinPixels = 1280 * 720;

// The thread count for a video encoder about to be opened for Width x Height pictures: 0 (the
// codec uses what the machine has), or 1 where threading would cost more than it wins.
int VideoEncoderThreadCount(const AVCodec* Codec, int Width, int Height);
// The same for a video decoder of Width x Height pictures.
int VideoDecoderThreadCount(int Width, int Height);

// The most threads a codec or a filter graph may start, from the environment variable
// ZEMBRA_CODEC_THREADS (a positive number); 0 when it is unset or not a positive number.
//
// The ThreadSanitizer run sets it to 1. The libraries hand pictures between their own threads
// with atomics compiled without the sanitizer, so it cannot see that hand-off and reports races
// between the libraries' threads and whoever touches the picture next, our code included; which
// report comes depends on how the threads are scheduled. Without library threads those hand-offs
// do not exist, while every thread of ours still runs as it always does.
int CodecThreadLimit();
// The limit a value of ZEMBRA_CODEC_THREADS gives (null: unset).
int ParseCodecThreadLimit(const char* Text);
// Requested (0: as many as the codec likes) within CodecThreadLimit().
int LimitedThreadCount(int Requested);

}  // namespace zembra
