#include "engine/CodecThreads.h"

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

}  // namespace zembra
