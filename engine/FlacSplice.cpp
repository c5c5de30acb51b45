#include "engine/FlacSplice.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "engine/FFmpegException.h"

// Why renumbering is all a later segment's frames need: a FLAC frame's subframes are predicted
// only from the frame's own samples, so an encoder started on the block grid of the whole sound
// writes the same bodies the whole sound's encoder would have. Only the header's position field
// differs: an encoder counts from its own first frame. That field is a UTF-8-like number whose
// length depends on its value, so a renumbered frame can be longer or shorter than the one it
// came from, and both CRCs cover it.

namespace zembra {

namespace {

constexpr size_t kStreamInfoBytes = 34;
constexpr uint64_t kMaxFrameNumber = (uint64_t{1} << 31) - 1;   // six coded bytes
constexpr uint64_t kMaxSampleNumber = (uint64_t{1} << 36) - 1;  // seven coded bytes

constexpr std::array<uint8_t, 256> MakeCrc8Table() {
    std::array<uint8_t, 256> T{};
    for (unsigned I = 0; I < 256; ++I) {
        unsigned C = I;
        for (int B = 0; B < 8; ++B) C = (C & 0x80) ? ((C << 1) ^ 0x07) : (C << 1);
        T[I] = static_cast<uint8_t>(C);
    }
    return T;
}

constexpr std::array<uint16_t, 256> MakeCrc16Table() {
    std::array<uint16_t, 256> T{};
    for (unsigned I = 0; I < 256; ++I) {
        unsigned C = I << 8;
        for (int B = 0; B < 8; ++B) C = (C & 0x8000) ? ((C << 1) ^ 0x8005) : (C << 1);
        T[I] = static_cast<uint16_t>(C);
    }
    return T;
}

constexpr std::array<uint8_t, 256> kCrc8 = MakeCrc8Table();
constexpr std::array<uint16_t, 256> kCrc16 = MakeCrc16Table();

uint8_t Crc8(std::span<const uint8_t> Data) {
    uint8_t C = 0;
    for (uint8_t B : Data) C = kCrc8[C ^ B];
    return C;
}

uint16_t Crc16(std::span<const uint8_t> Data) {
    uint16_t C = 0;
    for (uint8_t B : Data) C = static_cast<uint16_t>((C << 8) ^ kCrc16[((C >> 8) ^ B) & 0xFF]);
    return C;
}

struct THeader {
    bool Variable = false;
    size_t NumberBytes = 0;  // the coded number, which starts at byte 4
    size_t Bytes = 0;        // through the CRC-8
};

// The header of Frame when it is a whole, intact frame: its CRC-16 has to match too, since a
// frame rewritten with fresh CRCs would otherwise hide damage it came with.
std::optional<THeader> ParseFrame(std::span<const uint8_t> Frame) {
    THeader H;
    if (Frame.size() < 6) return std::nullopt;
    // Fourteen sync bits, then a reserved bit that must be clear.
    if (Frame[0] != 0xFF || (Frame[1] & 0xFE) != 0xF8) return std::nullopt;
    H.Variable = (Frame[1] & 0x01) != 0;
    const unsigned BlockCode = Frame[2] >> 4, RateCode = Frame[2] & 0x0F;
    const unsigned ChannelCode = Frame[3] >> 4, SizeCode = (Frame[3] >> 1) & 0x07;
    if (BlockCode == 0 || RateCode == 15 || ChannelCode > 10 || SizeCode == 3 || (Frame[3] & 0x01) != 0)
        return std::nullopt;

    const uint8_t Lead = Frame[4];
    if (Lead < 0x80)
        H.NumberBytes = 1;
    else if ((Lead & 0xE0) == 0xC0)
        H.NumberBytes = 2;
    else if ((Lead & 0xF0) == 0xE0)
        H.NumberBytes = 3;
    else if ((Lead & 0xF8) == 0xF0)
        H.NumberBytes = 4;
    else if ((Lead & 0xFC) == 0xF8)
        H.NumberBytes = 5;
    else if ((Lead & 0xFE) == 0xFC)
        H.NumberBytes = 6;
    else if (Lead == 0xFE)
        H.NumberBytes = 7;
    else
        return std::nullopt;
    // A frame number has at most 31 bits; only sample numbers use the seventh byte.
    if (!H.Variable && H.NumberBytes > 6) return std::nullopt;
    size_t Pos = 4 + H.NumberBytes;
    if (Pos > Frame.size()) return std::nullopt;
    for (size_t I = 5; I < Pos; ++I)
        if ((Frame[I] & 0xC0) != 0x80) return std::nullopt;

    if (BlockCode == 6)
        Pos += 1;
    else if (BlockCode == 7)
        Pos += 2;
    if (RateCode == 12)
        Pos += 1;
    else if (RateCode == 13 || RateCode == 14)
        Pos += 2;
    // The CRC-8, at least one subframe header byte and the CRC-16 follow.
    if (Pos + 4 > Frame.size()) return std::nullopt;
    if (Crc8(Frame.first(Pos)) != Frame[Pos]) return std::nullopt;
    H.Bytes = Pos + 1;

    const size_t FooterAt = Frame.size() - 2;
    const unsigned Footer = (static_cast<unsigned>(Frame[FooterAt]) << 8) | Frame[FooterAt + 1];
    if (Crc16(Frame.first(FooterAt)) != Footer) return std::nullopt;
    return H;
}

void PutCodedNumber(std::vector<uint8_t>& Out, uint64_t Value) {
    if (Value < 0x80) {
        Out.push_back(static_cast<uint8_t>(Value));
        return;
    }
    // Each byte after the first holds six bits; the first holds 7 - Bytes of them.
    size_t Bytes = 2;
    while (Bytes < 7 && Value >= (uint64_t{1} << (5 * Bytes + 1))) ++Bytes;
    const unsigned LeadMark = (0xFF00u >> Bytes) & 0xFF;
    Out.push_back(static_cast<uint8_t>(LeadMark | (Value >> (6 * (Bytes - 1)))));
    for (size_t I = Bytes - 1; I-- > 0;)
        Out.push_back(static_cast<uint8_t>(0x80 | ((Value >> (6 * I)) & 0x3F)));
}

// Writes Bits bits of Value into Info at bit Offset (from the top of byte 0), big-endian.
void PutBits(std::span<uint8_t> Info, size_t Offset, int Bits, uint64_t Value) {
    for (int I = 0; I < Bits; ++I) {
        const size_t Bit = Offset + static_cast<size_t>(I);
        const uint8_t Mask = static_cast<uint8_t>(0x80u >> (Bit % 8));
        if ((Value >> (Bits - 1 - I)) & 1u)
            Info[Bit / 8] |= Mask;
        else
            Info[Bit / 8] &= static_cast<uint8_t>(~Mask);
    }
}

}  // namespace

std::optional<std::vector<uint8_t>> RenumberFlacFrame(std::span<const uint8_t> Frame, uint64_t FirstSample,
                                                      int BlockSize) {
    const std::optional<THeader> H = ParseFrame(Frame);
    if (!H) return std::nullopt;
    uint64_t Number = FirstSample;
    if (!H->Variable) {
        if (BlockSize <= 0 || FirstSample % static_cast<uint64_t>(BlockSize) != 0) return std::nullopt;
        Number = FirstSample / static_cast<uint64_t>(BlockSize);
    }
    if (Number > (H->Variable ? kMaxSampleNumber : kMaxFrameNumber)) return std::nullopt;

    std::vector<uint8_t> Out;
    Out.reserve(Frame.size() + 6);
    Out.insert(Out.end(), Frame.begin(), Frame.begin() + 4);
    PutCodedNumber(Out, Number);
    const size_t RestAt = 4 + H->NumberBytes, CrcAt = H->Bytes - 1;
    Out.insert(Out.end(), Frame.begin() + static_cast<ptrdiff_t>(RestAt),
               Frame.begin() + static_cast<ptrdiff_t>(CrcAt));
    Out.push_back(Crc8(Out));
    Out.insert(Out.end(), Frame.begin() + static_cast<ptrdiff_t>(H->Bytes), Frame.end() - 2);
    const uint16_t Footer = Crc16(Out);
    Out.push_back(static_cast<uint8_t>(Footer >> 8));
    Out.push_back(static_cast<uint8_t>(Footer & 0xFF));
    return Out;
}

bool PatchStreamInfo(std::span<uint8_t> Info, uint64_t TotalSamples, uint32_t MinFrameBytes,
                     uint32_t MaxFrameBytes, const uint8_t (&Md5)[16]) {
    if (Info.size() != kStreamInfoBytes) return false;
    if (TotalSamples >> 36 || MinFrameBytes >> 24 || MaxFrameBytes >> 24) return false;
    // Block sizes (2 x 16 bits), frame sizes (2 x 24), sample rate (20), channels (3), bits per
    // sample (5), total samples (36), MD5 (128).
    PutBits(Info, 32, 24, MinFrameBytes);
    PutBits(Info, 56, 24, MaxFrameBytes);
    PutBits(Info, 108, 36, TotalSamples);
    std::memcpy(Info.data() + 18, Md5, sizeof Md5);
    return true;
}

TFlacSoundSum::TFlacSoundSum(int BitsPerSample) : FBits(BitsPerSample), FMd5(lavu.av_md5_alloc()) {
    if (!FMd5) throw std::bad_alloc();
    lavu.av_md5_init(FMd5.get());
}

bool TFlacSoundSum::Add(const AVFrame* Decoded) {
    if (!Decoded || FBits < 4 || FBits > 32) return false;
    int ContainerBits = 0;
    bool Planar = false;
    switch (Decoded->format) {
        case AV_SAMPLE_FMT_S16P:
            Planar = true;
            [[fallthrough]];
        case AV_SAMPLE_FMT_S16:
            ContainerBits = 16;
            break;
        case AV_SAMPLE_FMT_S32P:
            Planar = true;
            [[fallthrough]];
        case AV_SAMPLE_FMT_S32:
            ContainerBits = 32;
            break;
        default:
            return false;
    }
    if (FBits > ContainerBits) return false;
    const int Channels = Decoded->ch_layout.nb_channels;
    if (Channels <= 0 || Decoded->nb_samples < 0 || !Decoded->extended_data) return false;
    const size_t Samples = static_cast<size_t>(Decoded->nb_samples), Chans = static_cast<size_t>(Channels);
    if (Samples == 0) return true;
    const size_t InBytes = static_cast<size_t>(ContainerBits / 8);
    const size_t PlaneBytes = Samples * InBytes * (Planar ? 1 : Chans);
    // Audio frames give one line size, good for every plane.
    if (Decoded->linesize[0] < 0 || static_cast<size_t>(Decoded->linesize[0]) < PlaneBytes) return false;
    for (size_t C = 0; C < (Planar ? Chans : 1); ++C)
        if (!Decoded->extended_data[C]) return false;

    const int Shift = ContainerBits - FBits;
    const uint32_t BelowMask = (uint32_t{1} << Shift) - 1;
    const size_t OutBytes = static_cast<size_t>((FBits + 7) / 8);
    FBytes.resize(Samples * Chans * OutBytes);
    uint8_t* Out = FBytes.data();
    for (size_t S = 0; S < Samples; ++S) {
        for (size_t C = 0; C < Chans; ++C) {
            const uint8_t* In = Planar ? Decoded->extended_data[C] + S * InBytes
                                       : Decoded->extended_data[0] + (S * Chans + C) * InBytes;
            int32_t V;
            if (ContainerBits == 16) {
                int16_t V16;
                std::memcpy(&V16, In, sizeof V16);
                V = V16;
            } else {
                std::memcpy(&V, In, sizeof V);
            }
            if (static_cast<uint32_t>(V) & BelowMask) return false;
            const uint32_t Sample = static_cast<uint32_t>(V >> Shift);
            for (size_t B = 0; B < OutBytes; ++B) *Out++ = static_cast<uint8_t>(Sample >> (8 * B));
        }
    }
    lavu.av_md5_update(FMd5.get(), FBytes.data(), FBytes.size());
    return true;
}

void TFlacSoundSum::Finish(uint8_t (&Md5)[16]) {
    lavu.av_md5_final(FMd5.get(), Md5);
    lavu.av_md5_init(FMd5.get());
}

TFlacJoin::TFlacJoin(const AVCodecParameters* Par, int BlockSize)
    : FSum(Par->bits_per_raw_sample), FBlockSize(BlockSize) {
    const AVCodec* Decoder = lavc.avcodec_find_decoder(AV_CODEC_ID_FLAC);
    if (!Decoder) throw FFmpegException("No FLAC decoder to sum the sound with");
    FDecoder.reset(lavc.avcodec_alloc_context3(Decoder));
    FFrame = MakeFrame();
    if (!FDecoder || !FFrame) throw FFmpegException("Out of memory for the FLAC decoder that sums the sound");
    if (lavc.avcodec_parameters_to_context(FDecoder.get(), Par) < 0)
        throw FFmpegException(
            "The FLAC stream's parameters could not be given to the decoder that sums the sound");
    FDecoder->thread_count = 1;
    int Result;
    {
        TCodecLockGuard G;
        Result = lavc.avcodec_open2(FDecoder.get(), Decoder, nullptr);
    }
    if (Result < 0) throw FFmpegException("Could not open a FLAC decoder to sum the sound");
}

TPacketPtr TFlacJoin::Take(TPacketPtr P) {
    if (P->size > 0) {
        const auto Renumbered = RenumberFlacFrame({P->data, static_cast<size_t>(P->size)},
                                                  static_cast<uint64_t>(P->pts), FBlockSize);
        if (!Renumbered)
            throw FFmpegException("A FLAC frame of a segment could not be numbered for its place");
        if (Renumbered->size() != static_cast<size_t>(P->size) ||
            std::memcmp(Renumbered->data(), P->data, Renumbered->size()) != 0) {
            TPacketPtr Copy = MakePacket();
            if (!Copy || lavc.av_new_packet(Copy.get(), static_cast<int>(Renumbered->size())) < 0)
                throw FFmpegException("Out of memory for a renumbered FLAC frame");
            if (lavc.av_packet_copy_props(Copy.get(), P.get()) < 0)
                throw FFmpegException("A renumbered FLAC frame could not take its packet's times and data");
            std::memcpy(Copy->data, Renumbered->data(), Renumbered->size());
            P = std::move(Copy);
        }
        FMinBytes = std::min(FMinBytes, static_cast<uint32_t>(P->size));
        FMaxBytes = std::max(FMaxBytes, static_cast<uint32_t>(P->size));
        if (lavc.avcodec_send_packet(FDecoder.get(), P.get()) < 0)
            throw FFmpegException("A FLAC frame of a segment does not decode");
        while (lavc.avcodec_receive_frame(FDecoder.get(), FFrame.get()) >= 0) {
            FSamples += static_cast<uint64_t>(FFrame->nb_samples);
            if (!FSum.Add(FFrame.get())) throw FFmpegException("The FLAC sound could not be summed");
            lavu.av_frame_unref(FFrame.get());
        }
    }
    size_t Size = 0;
    if (uint8_t* Info = lavc.av_packet_get_side_data(P.get(), AV_PKT_DATA_NEW_EXTRADATA, &Size)) {
        uint8_t Md5[16];
        FSum.Finish(Md5);
        if (!PatchStreamInfo({Info, Size}, FSamples, FMinBytes, FMaxBytes, Md5))
            throw FFmpegException("The FLAC header could not be completed");
    }
    return P;
}

}  // namespace zembra
