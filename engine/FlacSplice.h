#pragma once

// Joining FLAC frame sequences that were encoded independently (one encoder per segment of a
// long sound), so that the joined file reads as one encoder's. Every FLAC frame stands on its
// own except for where its header says it lies in the stream, and the stream's STREAMINFO
// describes all of it; those are the two things a join has to set right.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "binding/FFmpegHolders.h"

namespace zembra {

// The frame with its header's number set to the one of the frame starting at FirstSample (for
// fixed-blocksize streams the frame number FirstSample / BlockSize, BlockSize being the
// stream's nominal block size, which a shorter last frame does not change; for
// variable-blocksize streams the sample number FirstSample itself, BlockSize unused), its CRC-8
// and CRC-16 recomputed. The number may take more or fewer bytes than before, so the frame may
// change length. Nullopt when Frame is no valid FLAC frame (bad sync, reserved codes, bad CRC-8
// or CRC-16, truncated), or when the number cannot be written: FirstSample not on the fixed
// block grid, or beyond what the header can hold. Reads nothing outside Frame.
std::optional<std::vector<uint8_t>> RenumberFlacFrame(std::span<const uint8_t> Frame, uint64_t FirstSample,
                                                      int BlockSize);

// STREAMINFO (the 34-byte block as the encoder's extradata holds it) with total samples, the
// smallest and largest frame size and the MD5 set, every other bit left as it was. False, and
// Info untouched, if Info is not 34 bytes or a value does not fit its field (36 bits of total
// samples, 24 of frame size).
bool PatchStreamInfo(std::span<uint8_t> Info, uint64_t TotalSamples, uint32_t MinFrameBytes,
                     uint32_t MaxFrameBytes, const uint8_t (&Md5)[16]);

// The MD5 FLAC's STREAMINFO holds, of decoded sound: fed the decoder's frames as they are
// written, in order. The sum is over the samples interleaved by channel, each a signed
// little-endian integer of (BitsPerSample + 7) / 8 bytes; FFmpeg's decoder hands them over
// shifted to the top of its 16- or 32-bit container, and they are shifted back here.
class TFlacSoundSum {
  public:
    // BitsPerSample as STREAMINFO says (4..32). Throws std::bad_alloc when the library cannot
    // allocate its MD5 context.
    explicit TFlacSoundSum(int BitsPerSample);

    // False, and nothing added, when Decoded is not s16, s16p, s32 or s32p, its container is
    // narrower than the bits per sample, a sample has bits set below them (so it did not come
    // from a stream of these bits), or its buffers are shorter than its sample count.
    bool Add(const AVFrame* Decoded);

    // The sum of everything added so far; a new, empty sum starts.
    void Finish(uint8_t (&Md5)[16]);

  private:
    int FBits;
    TMd5Ptr FMd5;
    std::vector<uint8_t> FBytes;  // one frame's samples as they are summed, kept to save allocations
};

// The join of a sound's segments each encoded to FLAC by an encoder of its own: a later
// segment's frames are numbered for their place in the whole, and the header the last
// segment's encoder leaves for the muxer gets the whole sound's figures, summed from the frames
// as they are written.
class TFlacJoin {
  public:
    // Par: the output stream's (its bits per sample); BlockSize: the encoders' frame size.
    // Throws FFmpegException when the decoder that sums the sound cannot be opened.
    TFlacJoin(const AVCodecParameters* Par, int BlockSize);

    // The packet as it goes to the muxer, its pts being its first sample's place in the whole
    // sound: renumbered (a new packet if its length or bytes changed), and, when it brings the
    // encoder's new header, that header completed with the count and sum of every frame taken
    // so far, this one included. Throws FFmpegException on a frame that cannot be renumbered
    // or decoded.
    TPacketPtr Take(TPacketPtr P);

  private:
    TCodecContextPtr FDecoder;
    TFramePtr FFrame;
    TFlacSoundSum FSum;
    int FBlockSize;
    uint64_t FSamples = 0;
    uint32_t FMinBytes = UINT32_MAX, FMaxBytes = 0;
};

}  // namespace zembra
