#include "engine/CodecThreads.h"

#include <cstdlib>

#include "engine/EngineTypes.h"

namespace zembra {

int VideoEncoderThreadCount(const AVCodec* Codec, int Width, int Height) {
    if (!Codec) return kVideoCodecThreads;
    // Encoders that thread by frames or on threads of their own (x264, for one) gain at every
    // size. One that only splits each picture into slices wakes and joins its threads once per
    // picture: on standard-definition pictures that costs more than the parallel work saves
    // (measured: MPEG-4 at 480x360 ran 20% slower on two threads than on one), and the slices
    // also cost bits. It pays from HD pictures on.
    if (Codec->capabilities & (AV_CODEC_CAP_FRAME_THREADS | AV_CODEC_CAP_OTHER_THREADS))
        return kVideoCodecThreads;
    if (static_cast<int64_t>(Width) * Height >= kSliceThreadingMinPixels) return kVideoCodecThreads;
    return 1;
}

int VideoDecoderThreadCount(int Width, int Height) {
    // A decoder's frame threads copy the decoder's state from picture to picture and wait for
    // each other. Below HD pictures that bookkeeping is a large share of decoding itself: MPEG-4
    // at 640x480 scaled to 480x360 took 15% more processor time with them, which is 15% fewer
    // pictures a second whenever the other core is busy, and the conversion only kept pace with
    // a plain one-thread loop while it had a core to itself.
    if (static_cast<int64_t>(Width) * Height >= kSliceThreadingMinPixels) return kVideoCodecThreads;
    return 1;
}

int ParseCodecThreadLimit(const char* Text) {
    if (!Text || !*Text) return 0;
    int Value = 0;
    for (const char* C = Text; *C; ++C) {
        if (*C < '0' || *C > '9' || Value > 1024) return 0;
        Value = Value * 10 + (*C - '0');
    }
    return Value;
}

int CodecThreadLimit() {
    static const int Limit = ParseCodecThreadLimit(std::getenv("ZEMBRA_CODEC_THREADS"));
    return Limit;
}

int LimitedThreadCount(int Requested) {
    const int Limit = CodecThreadLimit();
    if (Limit <= 0) return Requested;
    if (Requested <= 0 || Requested > Limit) return Limit;
    return Requested;
}

}  // namespace zembra
