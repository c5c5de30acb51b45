// Joining Layer III sequences from separate encoders: frames read from crafted headers and side
// information, the reservoir bytes carried into the frame before the join (at a higher bitrate
// when needed), and real LAME sequences that decode across the join as one encoding does.

#include "engine/Mp3Splice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "binding/FFmpegHolders.h"
#include "binding/FFmpegLoader.h"
#include "tests/engine/EngineTestSupport.h"
#include "util/StringUtils.h"

namespace zembra::testing {
namespace {

using TBytes = std::vector<uint8_t>;
using TPackets = std::vector<TBytes>;

constexpr int kRate = 44100;
constexpr int kFrameSamples = 1152;

// ---- Crafted frames ----

class TBitWriter {
  public:
    void Put(unsigned Value, int Bits) {
        for (int I = Bits - 1; I >= 0; --I) {
            if (FBits % 8 == 0) Bytes.push_back(0);
            if ((Value >> I) & 1u) Bytes.back() |= static_cast<uint8_t>(0x80 >> (FBits % 8));
            ++FBits;
        }
    }
    TBytes Bytes;

  private:
    size_t FBits = 0;
};

// A Layer III frame whose granules are all long blocks with no big values, coded with count1
// table B: a granule of part2_3_length 576 over slot bytes of 0xFF is 144 all-zero quadruples,
// so a frame that finds 0xFF where its main data is decodes to silence, and one that finds 0x00
// decodes to ±1 lines instead.
struct TCraft {
    TMpegVersion Version = TMpegVersion::Mpeg1;
    int BitrateIndex = 9;
    int RateIndex = 0;
    bool Padding = false;
    bool Mono = false;
    bool Crc = false;
    int MainDataBegin = 0;
    std::vector<int> Part23;  // per granule and channel; missing ones are 0
    uint8_t Fill = 0xFF;      // the whole slot
};

uint16_t ReferenceCrc(const TBytes& Frame, size_t SideEnd) {
    uint16_t Crc = 0xFFFF;
    for (size_t I = 2; I < SideEnd; ++I) {
        if (I == 4 || I == 5) continue;  // the CRC's own place
        for (int Bit = 7; Bit >= 0; --Bit) {
            const bool Top = (Crc & 0x8000) != 0;
            Crc = static_cast<uint16_t>(Crc << 1);
            if (Top != (((Frame[I] >> Bit) & 1) != 0)) Crc ^= 0x8005;
        }
    }
    return Crc;
}

TBytes Craft(const TCraft& C) {
    static const int Mpeg1Kbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int Mpeg2Kbps[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int Rates[] = {44100, 48000, 32000};
    const bool Mpeg1 = C.Version == TMpegVersion::Mpeg1;
    const int Rate = Rates[C.RateIndex] / (Mpeg1 ? 1 : C.Version == TMpegVersion::Mpeg2 ? 2 : 4);
    const int Kbps = (Mpeg1 ? Mpeg1Kbps : Mpeg2Kbps)[C.BitrateIndex];
    const int Size = (Mpeg1 ? 144 : 72) * Kbps * 1000 / Rate + (C.Padding ? 1 : 0);
    const int VersionBits = Mpeg1 ? 3 : C.Version == TMpegVersion::Mpeg2 ? 2 : 0;
    const int Channels = C.Mono ? 1 : 2;

    TBitWriter W;
    W.Put(0x7FF, 11);  // sync
    W.Put(static_cast<unsigned>(VersionBits), 2);
    W.Put(1, 2);  // Layer III
    W.Put(C.Crc ? 0 : 1, 1);
    W.Put(static_cast<unsigned>(C.BitrateIndex), 4);
    W.Put(static_cast<unsigned>(C.RateIndex), 2);
    W.Put(C.Padding ? 1 : 0, 1);
    W.Put(0, 1);
    W.Put(C.Mono ? 3 : 0, 2);
    W.Put(0, 6);
    if (C.Crc) W.Put(0, 16);
    W.Put(static_cast<unsigned>(C.MainDataBegin), Mpeg1 ? 9 : 8);
    W.Put(0, Mpeg1 ? (C.Mono ? 5 : 3) : (C.Mono ? 1 : 2));
    if (Mpeg1) W.Put(0, 4 * Channels);
    const int Blocks = (Mpeg1 ? 2 : 1) * Channels;
    for (int I = 0; I < Blocks; ++I) {
        W.Put(static_cast<unsigned>(I < static_cast<int>(C.Part23.size()) ? C.Part23[static_cast<size_t>(I)] : 0),
              12);
        W.Put(0, 9);             // big_values
        W.Put(210, 8);           // global_gain: lines of 1 at full scale
        W.Put(0, Mpeg1 ? 4 : 9); // scalefac_compress: no scale factor bits
        W.Put(0, 1);             // long blocks
        W.Put(0, 22);            // table_select, region counts
        W.Put(0, Mpeg1 ? 2 : 1); // (preflag,) scalefac_scale
        W.Put(1, 1);             // count1 table B
    }
    TBytes Frame = W.Bytes;
    const size_t SideEnd = Frame.size();
    Frame.resize(static_cast<size_t>(Size), C.Fill);
    if (C.Crc) {
        const uint16_t Crc = ReferenceCrc(Frame, SideEnd);
        Frame[4] = static_cast<uint8_t>(Crc >> 8);
        Frame[5] = static_cast<uint8_t>(Crc & 0xFF);
    }
    return Frame;
}

std::span<const uint8_t> Span(const TBytes& B) { return {B.data(), B.size()}; }

// ---- Encoding and decoding through the libraries ----

struct TSound {
    std::vector<float> Left, Right;
    size_t Samples() const { return Left.size(); }
};

// A melody of gliding sine notes with a harmonic, and short noise bursts: the bursts make LAME
// spend more than a frame's share, the quiet tones let it save for them.
TSound MusicLike(size_t Samples) {
    TSound S;
    S.Left.resize(Samples);
    S.Right.resize(Samples);
    std::mt19937 Rng(20261209);
    std::uniform_real_distribution<float> Noise(-1.0f, 1.0f);
    static const int Steps[] = {0, 4, 7, 12, 7, 5, 9, 2};
    const size_t NoteLength = kRate / 4, BurstEvery = kRate * 37 / 100, BurstLength = kRate * 3 / 100;
    double Phase = 0;
    for (size_t N = 0; N < Samples; ++N) {
        const double T = static_cast<double>(N) / kRate;
        const int Step = Steps[(N / NoteLength) % 8];
        const double Freq = 220.0 * std::pow(2.0, Step / 12.0) * (1.0 + 0.02 * std::sin(2 * std::numbers::pi * 5 * T));
        Phase += 2 * std::numbers::pi * Freq / kRate;
        const double Tone = 0.3 * std::sin(Phase) + 0.1 * std::sin(3 * Phase);
        const size_t InBurst = N % BurstEvery;
        const double Burst =
            InBurst < BurstLength ? 0.4 * std::exp(-6.0 * static_cast<double>(InBurst) / BurstLength) : 0.0;
        S.Left[N] = static_cast<float>(Tone + Burst * Noise(Rng));
        S.Right[N] = static_cast<float>(0.8 * Tone + Burst * Noise(Rng));
    }
    return S;
}

// Samples [From, To) of Sound (To - From a whole number of frames) encoded at 128 kbit/s CBR
// into Packets; Delay gets the encoder's lead-in, in samples of the decoded output.
std::string EncodeMp3(const TSound& Sound, size_t From, size_t To, TPackets& Packets, int& Delay) {
    const AVCodec* Codec = lavc.avcodec_find_encoder_by_name("libmp3lame");
    if (!Codec) return "no libmp3lame encoder";
    TCodecContextPtr Ctx(lavc.avcodec_alloc_context3(Codec));
    TFramePtr Frame = MakeFrame();
    TPacketPtr Packet = MakePacket();
    if (!Ctx || !Frame || !Packet) return "out of memory";
    Ctx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    Ctx->sample_rate = kRate;
    Ctx->bit_rate = 128000;
    Ctx->time_base = AVRational{1, kRate};
    lavu.av_channel_layout_default(&Ctx->ch_layout, 2);
    int Ret;
    {
        TCodecLockGuard Lock;
        Ret = lavc.avcodec_open2(Ctx.get(), Codec, nullptr);
    }
    if (Ret < 0) return "cannot open libmp3lame: " + std::to_string(Ret);
    if (Ctx->frame_size != kFrameSamples) return "unexpected frame size " + std::to_string(Ctx->frame_size);
    Delay = Ctx->initial_padding;

    auto Drain = [&]() -> std::string {
        for (;;) {
            const int R = lavc.avcodec_receive_packet(Ctx.get(), Packet.get());
            if (R == AVERROR(EAGAIN) || R == AVERROR_EOF) return {};
            if (R < 0) return "encoding failed: " + std::to_string(R);
            Packets.emplace_back(Packet->data, Packet->data + Packet->size);
            lavc.av_packet_unref(Packet.get());
        }
    };
    for (size_t Pos = From; Pos < To; Pos += kFrameSamples) {
        lavu.av_frame_unref(Frame.get());
        Frame->nb_samples = kFrameSamples;
        Frame->format = AV_SAMPLE_FMT_FLTP;
        Frame->sample_rate = kRate;
        if ((Ret = lavu.av_channel_layout_copy(&Frame->ch_layout, &Ctx->ch_layout)) < 0) return "layout copy failed";
        if ((Ret = lavu.av_frame_get_buffer(Frame.get(), 0)) < 0) return "no frame buffer";
        std::memcpy(Frame->extended_data[0], Sound.Left.data() + Pos, kFrameSamples * sizeof(float));
        std::memcpy(Frame->extended_data[1], Sound.Right.data() + Pos, kFrameSamples * sizeof(float));
        Frame->pts = static_cast<int64_t>(Pos - From);
        if ((Ret = lavc.avcodec_send_frame(Ctx.get(), Frame.get())) < 0) return "frame refused: " + std::to_string(Ret);
        if (std::string E = Drain(); !E.empty()) return E;
    }
    if ((Ret = lavc.avcodec_send_frame(Ctx.get(), nullptr)) < 0) return "flush refused";
    return Drain();
}

struct TDecoded {
    std::vector<float> Left, Right;
    int Refused = 0;     // packets the decoder returned an error for
    int Complaints = 0;  // warnings and errors it logged
    size_t Samples() const { return Left.size(); }
};

class Mp3SpliceTest : public EngineTest {
  protected:
    // Decodes Packets with the floating-point MP3 decoder, one packet at a time as a demuxer
    // would hand them over.
    std::string Decode(const TPackets& Packets, bool CrcCheck, TDecoded& Out) {
        const AVCodec* Codec = lavc.avcodec_find_decoder_by_name("mp3float");
        if (!Codec) return "no mp3float decoder";
        TCodecContextPtr Ctx(lavc.avcodec_alloc_context3(Codec));
        TFramePtr Frame = MakeFrame();
        TPacketPtr Packet = MakePacket();
        if (!Ctx || !Frame || !Packet) return "out of memory";
        if (CrcCheck && lavu.av_opt_set(Ctx.get(), "err_detect", "crccheck", 0) < 0) return "no err_detect";
        int Ret;
        {
            TCodecLockGuard Lock;
            Ret = lavc.avcodec_open2(Ctx.get(), Codec, nullptr);
        }
        if (Ret < 0) return "cannot open mp3float";
        const size_t LoggedBefore = LogLevels.size();
        auto Receive = [&]() -> std::string {
            for (;;) {
                const int R = lavc.avcodec_receive_frame(Ctx.get(), Frame.get());
                if (R == AVERROR(EAGAIN) || R == AVERROR_EOF) return {};
                if (R < 0) return "decoding failed: " + std::to_string(R);
                if (Frame->format != AV_SAMPLE_FMT_FLTP) return "unexpected sample format";
                const int Channels = Frame->ch_layout.nb_channels;
                const float* L = reinterpret_cast<const float*>(Frame->extended_data[0]);
                const float* Rt = reinterpret_cast<const float*>(Frame->extended_data[Channels > 1 ? 1 : 0]);
                Out.Left.insert(Out.Left.end(), L, L + Frame->nb_samples);
                Out.Right.insert(Out.Right.end(), Rt, Rt + Frame->nb_samples);
                lavu.av_frame_unref(Frame.get());
            }
        };
        for (const TBytes& P : Packets) {
            if ((Ret = lavc.av_new_packet(Packet.get(), static_cast<int>(P.size()))) < 0) return "no packet";
            std::memcpy(Packet->data, P.data(), P.size());
            Ret = lavc.avcodec_send_packet(Ctx.get(), Packet.get());
            lavc.av_packet_unref(Packet.get());
            if (Ret < 0) {
                ++Out.Refused;
                continue;
            }
            if (std::string E = Receive(); !E.empty()) return E;
        }
        if (lavc.avcodec_send_packet(Ctx.get(), nullptr) < 0) return "flush refused";
        if (std::string E = Receive(); !E.empty()) return E;
        for (size_t I = LoggedBefore; I < LogLevels.size(); ++I)
            if (LogLevels[I] <= llWarning) ++Out.Complaints;
        return {};
    }
};

// ---- Reading frames ----

TEST(Mp3FrameTest, ReadsHeadersAndSideInformation) {
    struct TCase {
        const char* Name;
        TCraft Frame;
        int Size, HeaderBytes, SideInfoBytes, MainDataBytes, SampleRate, FreeTail;
    } Cases[] = {
        {"MPEG-1 stereo 128k 44.1k",
         {.MainDataBegin = 300, .Part23 = {100, 200, 300, 401}}, 417, 4, 32, 126, 44100, 381},
        {"MPEG-1 mono 320k 48k, CRC, padded, whole reservoir",
         {.BitrateIndex = 14, .RateIndex = 1, .Padding = true, .Mono = true, .Crc = true, .MainDataBegin = 511,
          .Part23 = {4000, 8}},
         961, 6, 17, 501, 48000, 938},
        {"MPEG-1 stereo 32k, main data past the reservoir into the slot",
         {.BitrateIndex = 5, .RateIndex = 2, .MainDataBegin = 10, .Part23 = {800, 0, 0, 1}}, 288, 4, 32, 101, 32000,
         161},
        {"MPEG-2 stereo 64k 24k", {.Version = TMpegVersion::Mpeg2, .BitrateIndex = 8, .RateIndex = 1,
                                   .MainDataBegin = 255, .Part23 = {1000, 1001}},
         192, 4, 17, 251, 24000, 171},
        {"MPEG-2 mono 160k 16k, CRC, padded",
         {.Version = TMpegVersion::Mpeg2, .BitrateIndex = 14, .RateIndex = 2, .Padding = true, .Mono = true,
          .Crc = true, .MainDataBegin = 3, .Part23 = {9}},
         721, 6, 9, 2, 16000, 706},
        {"MPEG-2.5 mono 8k 8k", {.Version = TMpegVersion::Mpeg25, .BitrateIndex = 1, .RateIndex = 2,
                                  .Mono = true, .MainDataBegin = 7, .Part23 = {400}},
         72, 4, 9, 50, 8000, 16},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        const TBytes Frame = Craft(C.Frame);
        ASSERT_EQ(Frame.size(), static_cast<size_t>(C.Size));
        const std::optional<TMp3Frame> F = ParseMp3Frame(Span(Frame));
        ASSERT_TRUE(F);
        EXPECT_EQ(F->Size, C.Size);
        EXPECT_EQ(F->HeaderBytes, C.HeaderBytes);
        EXPECT_EQ(F->SideInfoBytes, C.SideInfoBytes);
        EXPECT_EQ(F->MainDataBegin, C.Frame.MainDataBegin);
        EXPECT_EQ(F->MainDataBytes, C.MainDataBytes);
        EXPECT_EQ(F->BitrateIndex, C.Frame.BitrateIndex);
        EXPECT_EQ(F->Version, C.Frame.Version);
        EXPECT_EQ(F->SampleRate, C.SampleRate);
        EXPECT_EQ(F->Channels, C.Frame.Mono ? 1 : 2);
        EXPECT_EQ(F->Padding, C.Frame.Padding);
        EXPECT_EQ(F->Crc, C.Frame.Crc);
        EXPECT_EQ(Mp3MainDataBegin(Span(Frame)), C.Frame.MainDataBegin);
        EXPECT_EQ(Mp3FreeTail(Span(Frame)), C.FreeTail);
        // Every cut-short copy is refused, and read only within itself (the sanitizer run).
        for (size_t N = 0; N < Frame.size(); ++N) {
            const TBytes Short(Frame.begin(), Frame.begin() + static_cast<ptrdiff_t>(N));
            EXPECT_FALSE(ParseMp3Frame(Span(Short))) << N;
        }
    }
}

TEST(Mp3FrameTest, RefusesWhatIsNoLayerThreeFrame) {
    const TBytes Good = Craft({.MainDataBegin = 20, .Part23 = {100}});
    ASSERT_TRUE(ParseMp3Frame(Span(Good)));
    struct TCase {
        const char* Name;
        size_t Byte;
        uint8_t Mask, Value;  // Byte = (Byte & ~Mask) | Value
    } Cases[] = {
        {"broken sync", 1, 0xE0, 0xC0},      {"reserved version", 1, 0x18, 0x08},
        {"Layer II", 1, 0x06, 0x04},         {"Layer I", 1, 0x06, 0x06},
        {"free bitrate", 2, 0xF0, 0x00},     {"bitrate index 15", 2, 0xF0, 0xF0},
        {"reserved sample rate", 2, 0x0C, 0x0C}, {"padding the length lacks", 2, 0x02, 0x02},
        {"no sync byte", 0, 0xFF, 0x7F},
    };
    for (const TCase& C : Cases) {
        TBytes Bad = Good;
        Bad[C.Byte] = static_cast<uint8_t>((Bad[C.Byte] & ~C.Mask) | C.Value);
        EXPECT_FALSE(ParseMp3Frame(Span(Bad))) << C.Name;
        EXPECT_EQ(Mp3MainDataBegin(Span(Bad)), -1) << C.Name;
        EXPECT_EQ(Mp3FreeTail(Span(Bad)), -1) << C.Name;
    }
    TBytes Longer = Good;
    Longer.push_back(0);
    EXPECT_FALSE(ParseMp3Frame(Span(Longer))) << "a byte more than the header's length";
    // 381 slot bytes and 20 of reservoir hold 401 bytes of main data, not 402.
    EXPECT_TRUE(ParseMp3Frame(Span(Craft({.MainDataBegin = 20, .Part23 = {8 * 401}}))));
    EXPECT_FALSE(ParseMp3Frame(Span(Craft({.MainDataBegin = 20, .Part23 = {8 * 401 + 1}}))));
}

// ---- Taking and carrying the borrowed bytes ----

TEST(Mp3FrameTest, BorrowedBytesAreTheEndOfTheDroppedSlots) {
    // Slots numbered so that every byte says where it came from.
    auto Numbered = [](uint8_t First) {
        TBytes F = Craft({});
        for (size_t I = 36; I < F.size(); ++I) F[I] = static_cast<uint8_t>(First + I);
        return F;
    };
    const TBytes D0 = Numbered(0), D1 = Numbered(100);  // 381 slot bytes each
    const std::vector<std::span<const uint8_t>> Dropped = {Span(D0), Span(D1)};

    const std::optional<TBytes> Across = BorrowedBytes(Dropped, Span(Craft({.MainDataBegin = 391})));
    ASSERT_TRUE(Across);
    TBytes Expected(391);
    std::copy(D0.end() - 10, D0.end(), Expected.begin());
    std::copy(D1.begin() + 36, D1.end(), Expected.begin() + 10);
    EXPECT_EQ(*Across, Expected);

    const std::optional<TBytes> None = BorrowedBytes(Dropped, Span(Craft({})));
    ASSERT_TRUE(None);
    EXPECT_TRUE(None->empty());

    const TBytes Garbage(417, 0x55);
    const std::optional<TBytes> NewestOnly =
        BorrowedBytes({Span(Garbage), Span(D1)}, Span(Craft({.MainDataBegin = 381})));
    ASSERT_TRUE(NewestOnly);
    EXPECT_EQ(*NewestOnly, TBytes(D1.begin() + 36, D1.end()));
    EXPECT_FALSE(BorrowedBytes({Span(Garbage), Span(D1)}, Span(Craft({.MainDataBegin = 382}))));
    EXPECT_FALSE(BorrowedBytes({Span(D1)}, Span(Craft({.MainDataBegin = 382})))) << "too few dropped bytes";
    EXPECT_FALSE(BorrowedBytes({}, Span(Craft({.MainDataBegin = 1}))));
    EXPECT_FALSE(BorrowedBytes(Dropped, Span(Garbage)));
}

TEST(Mp3FrameTest, CarryKeepsTheFrameOrRaisesItsBitrate) {
    struct TCase {
        const char* Name;
        TCraft Previous;
        int Borrowed;
        int Size, BitrateIndex;  // 0: cannot
        bool Padding;
    } Cases[] = {
        // 128k 44.1k stereo: 381 slot bytes, 288 of them its own main data, 93 free.
        {"room left", {.MainDataBegin = 0, .Part23 = {576, 576, 576, 576}}, 93, 417, 9, false},
        {"one byte short: padding", {.Part23 = {576, 576, 576, 576}}, 94, 418, 9, true},
        {"reservoir full: 256k exactly", {.Part23 = {576, 576, 576, 576}}, 511, 835, 13, false},
        {"own data from the reservoir takes less slot", {.MainDataBegin = 100, .Part23 = {576, 576, 576, 576}},
         193, 417, 9, false},
        {"320k exactly full", {.BitrateIndex = 14, .Part23 = {1000, 1000, 1000, 1000}}, 508, 1044, 14, false},
        {"320k cannot", {.BitrateIndex = 14, .Part23 = {1000, 1000, 1000, 1000}}, 509, 0, 0, false},
        {"MPEG-2 mono 64k to 128k", {.Version = TMpegVersion::Mpeg2, .BitrateIndex = 8, .Mono = true,
                                      .Part23 = {800}},
         255, 417, 12, false},
        {"with CRC", {.Crc = true, .Part23 = {576, 576, 576, 576}}, 400, 731, 12, false},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        TCraft Kind = C.Previous;
        Kind.Fill = 0x11;
        const TBytes Previous = Craft(Kind);
        const std::optional<TMp3Frame> P = ParseMp3Frame(Span(Previous));
        ASSERT_TRUE(P);
        TBytes Borrowed(static_cast<size_t>(C.Borrowed));
        for (size_t I = 0; I < Borrowed.size(); ++I) Borrowed[I] = static_cast<uint8_t>(0x80 | I);

        const std::optional<TBytes> Out = CarryReservoir(Span(Previous), Span(Borrowed));
        if (C.Size == 0) {
            EXPECT_FALSE(Out);
            continue;
        }
        ASSERT_TRUE(Out);
        const std::optional<TMp3Frame> R = ParseMp3Frame(Span(*Out));
        ASSERT_TRUE(R);
        EXPECT_EQ(R->Size, C.Size);
        EXPECT_EQ(R->BitrateIndex, C.BitrateIndex);
        EXPECT_EQ(R->Padding, C.Padding);
        EXPECT_EQ(R->Version, P->Version);
        EXPECT_EQ(R->SampleRate, P->SampleRate);
        EXPECT_EQ(R->Channels, P->Channels);
        EXPECT_EQ(R->MainDataBegin, P->MainDataBegin);
        EXPECT_EQ(R->MainDataBytes, P->MainDataBytes);
        EXPECT_EQ((*Out)[3], Previous[3]);
        EXPECT_EQ((*Out)[1], Previous[1]);
        const size_t SideStart = static_cast<size_t>(P->HeaderBytes);
        const size_t SlotStart = SideStart + static_cast<size_t>(P->SideInfoBytes);
        EXPECT_TRUE(std::equal(Previous.begin() + static_cast<ptrdiff_t>(SideStart),
                               Previous.begin() + static_cast<ptrdiff_t>(SlotStart),
                               Out->begin() + static_cast<ptrdiff_t>(SideStart)))
            << "side information changed";
        const size_t Own = static_cast<size_t>(P->OwnSlotBytes());
        EXPECT_TRUE(std::equal(Previous.begin() + static_cast<ptrdiff_t>(SlotStart),
                               Previous.begin() + static_cast<ptrdiff_t>(SlotStart + Own),
                               Out->begin() + static_cast<ptrdiff_t>(SlotStart)))
            << "own main data moved";
        EXPECT_EQ(TBytes(Out->end() - C.Borrowed, Out->end()), Borrowed);
        if (P->Crc) {
            EXPECT_EQ(((*Out)[4] << 8) | (*Out)[5], ReferenceCrc(*Out, SlotStart));
            EXPECT_EQ(((*Out)[4] << 8) | (*Out)[5], Mp3Crc(Span(*Out)));
        }
    }
    EXPECT_FALSE(CarryReservoir(Span(TBytes(417, 0xFF)), {}));
}

// A whole reservoir carried into a full frame with a CRC: the decoder, checking CRCs, takes the
// raised frame and finds the silence the borrowed bytes code; without the carry it decodes
// other bytes, and a frame whose CRC does not match is refused.
TEST_F(Mp3SpliceTest, CarriedReservoirDecodesWithCrcCheck) {
    const TCraft Kind{.Crc = true};
    TCraft Lead = Kind, Previous = Kind, Dropped = Kind, First = Kind;
    Lead.Fill = 0x00;
    Previous.Part23 = {576, 576, 576, 576};  // 288 bytes of silence, 91 free bytes of 0x00
    Previous.Fill = 0x00;
    First.MainDataBegin = 511;
    First.Part23 = {576, 576, 576, 576};
    TBytes PreviousFrame = Craft(Previous);
    for (size_t I = 38; I < 38 + 288; ++I) PreviousFrame[I] = 0xFF;
    const TBytes D0 = Craft(Dropped), D1 = Craft(Dropped), G = Craft(First);

    const std::optional<TBytes> Borrowed = BorrowedBytes({Span(D0), Span(D1)}, Span(G));
    ASSERT_TRUE(Borrowed);
    ASSERT_EQ(Borrowed->size(), 511u);
    const std::optional<TBytes> Carried = CarryReservoir(Span(PreviousFrame), Span(*Borrowed));
    ASSERT_TRUE(Carried);
    ASSERT_EQ(ParseMp3Frame(Span(*Carried))->BitrateIndex, 14);

    auto Loudest = [](const TDecoded& D) {
        float M = 0;
        for (size_t I = 0; I < D.Samples(); ++I) M = std::max({M, std::fabs(D.Left[I]), std::fabs(D.Right[I])});
        return M;
    };
    TDecoded Spliced;
    ASSERT_EQ(Decode({Craft(Lead), *Carried, G}, true, Spliced), "");
    EXPECT_EQ(Spliced.Refused, 0);
    EXPECT_EQ(Spliced.Complaints, 0);
    EXPECT_EQ(Spliced.Samples(), 3u * kFrameSamples);
    EXPECT_EQ(Loudest(Spliced), 0.0f);

    TDecoded Unfixed;
    ASSERT_EQ(Decode({Craft(Lead), PreviousFrame, G}, true, Unfixed), "");
    EXPECT_GT(Loudest(Unfixed), 0.0f) << "the borrowed bytes made no difference";
    std::printf("DEBUG crafted unfixed refused %d complaints %d loudest %g\n", Unfixed.Refused, Unfixed.Complaints, Loudest(Unfixed));
    for (auto& L : LogLines) std::printf("DEBUG log %s\n", L.c_str());

    TBytes WrongCrc = *Carried;
    WrongCrc[5] ^= 0x01;
    TDecoded Refused;
    ASSERT_EQ(Decode({Craft(Lead), WrongCrc, G}, true, Refused), "");
    EXPECT_TRUE(Refused.Refused > 0 || Refused.Complaints > 0) << "a wrong CRC went unnoticed";
    std::printf("DEBUG wrongcrc refused %d complaints %d samples %zu\n", Refused.Refused, Refused.Complaints, Refused.Samples());
    for (auto& L : LogLines) std::printf("DEBUG log %s\n", L.c_str());
}

// The largest difference between Decoded and Sound (shifted by the coding delay) over decoded
// samples [From, To).
double LargestError(const TDecoded& Decoded, const TSound& Sound, int Delay, size_t From, size_t To) {
    double Largest = 0;
    for (size_t D = From; D < To; ++D) {
        const size_t S = D - static_cast<size_t>(Delay);
        Largest = std::max({Largest, std::fabs(static_cast<double>(Decoded.Left[D]) - Sound.Left[S]),
                            std::fabs(static_cast<double>(Decoded.Right[D]) - Sound.Right[S])});
    }
    return Largest;
}

// One sound encoded as one sequence, and as two: the second encoder starts some frames before
// the join and its first packets are dropped. The join is put where the second sequence's frame
// borrows most from its dropped frames. Carried, the joined packets decode without a complaint
// and, within 20 ms of the join, stay as close to the source as the one-sequence decoding;
// without the carry the same checks fail.
TEST_F(Mp3SpliceTest, JoinedLameSequencesDecodeLikeOne) {
    constexpr size_t kFrames = 200, kSecondStart = 60, kMinPreRoll = 3;
    const TSound Sound = MusicLike(kFrames * kFrameSamples);

    TPackets One, Second;
    int Delay = 0, SecondDelay = 0;
    ASSERT_EQ(EncodeMp3(Sound, 0, Sound.Samples(), One, Delay), "");
    ASSERT_EQ(EncodeMp3(Sound, kSecondStart * kFrameSamples, Sound.Samples(), Second, SecondDelay), "");
    ASSERT_EQ(Delay, SecondDelay);
    ASSERT_GT(Delay, 0);

    // What LAME's frames look like, for the record.
    int Largest = 0, Zero = 0;
    for (const TBytes& P : One) {
        const int Begin = Mp3MainDataBegin(Span(P));
        ASSERT_GE(Begin, 0) << "LAME made a packet that is not one Layer III frame";
        Largest = std::max(Largest, Begin);
        Zero += Begin == 0;
    }
    std::printf("LAME 128k: %zu frames, main_data_begin 0 in %d, largest %d\n", One.size(), Zero, Largest);

    size_t Kept = kMinPreRoll;  // index in Second of the first kept frame
    for (size_t J = kMinPreRoll; J + 40 < Second.size(); ++J)
        if (Mp3MainDataBegin(Span(Second[J])) > Mp3MainDataBegin(Span(Second[Kept]))) Kept = J;
    const size_t Join = kSecondStart + Kept;  // frames of the first sequence kept
    const int Borrows = Mp3MainDataBegin(Span(Second[Kept]));
    ASSERT_GT(Borrows, 0) << "no frame borrows: the join would prove nothing";

    // The first sequence's encoder stops some frames after the join, as a segment's would.
    TPackets First;
    int FirstDelay = 0;
    ASSERT_EQ(EncodeMp3(Sound, 0, (Join + 8) * kFrameSamples, First, FirstDelay), "");
    ASSERT_GE(First.size(), Join);

    std::vector<std::span<const uint8_t>> Dropped;
    for (size_t J = 0; J < Kept; ++J) Dropped.push_back(Span(Second[J]));
    const std::optional<TBytes> Borrowed = BorrowedBytes(Dropped, Span(Second[Kept]));
    ASSERT_TRUE(Borrowed);
    ASSERT_EQ(Borrowed->size(), static_cast<size_t>(Borrows));
    const std::optional<TBytes> Carried = CarryReservoir(Span(First[Join - 1]), Span(*Borrowed));
    ASSERT_TRUE(Carried);
    std::printf("join after frame %zu: %d bytes borrowed, free tail %d, frame %zu -> %zu bytes\n", Join, Borrows,
                Mp3FreeTail(Span(First[Join - 1])), First[Join - 1].size(), Carried->size());

    TPackets Joined(First.begin(), First.begin() + static_cast<ptrdiff_t>(Join));
    TPackets Unfixed = Joined;
    Joined.back() = *Carried;
    Joined.insert(Joined.end(), Second.begin() + static_cast<ptrdiff_t>(Kept), Second.end());
    Unfixed.insert(Unfixed.end(), Second.begin() + static_cast<ptrdiff_t>(Kept), Second.end());

    TDecoded OneDecoded, JoinedDecoded, UnfixedDecoded;
    ASSERT_EQ(Decode(One, false, OneDecoded), "");
    ASSERT_EQ(Decode(Joined, false, JoinedDecoded), "");
    ASSERT_EQ(Decode(Unfixed, false, UnfixedDecoded), "");
    ASSERT_EQ(OneDecoded.Samples(), One.size() * kFrameSamples);

    const size_t Splice = Join * kFrameSamples, Reach = kRate / 50;
    const size_t From = Splice - Reach, To = Splice + Reach;
    const double OneError = LargestError(OneDecoded, Sound, Delay, From, To);
    double Loudest = 0;
    for (size_t D = From; D < To; ++D) Loudest = std::max<double>(Loudest, std::fabs(Sound.Left[D - Delay]));
    // The bound below means something only if the one sequence follows the source closely.
    ASSERT_LT(OneError, 0.5 * Loudest) << "the decoded sound is not aligned with the source";

    auto Faults = [&](const TDecoded& D, const TPackets& Packets) {
        std::string F;
        if (D.Refused) F += Format(" %d packets refused;", D.Refused);
        if (D.Complaints) F += Format(" %d complaints;", D.Complaints);
        if (D.Samples() != Packets.size() * kFrameSamples)
            F += Format(" %zu samples of %zu packets;", D.Samples(), Packets.size());
        else if (const double E = LargestError(D, Sound, Delay, From, To); E > 2 * OneError)
            F += Format(" error %.4f near the join, one sequence %.4f;", E, OneError);
        return F;
    };
    EXPECT_EQ(Faults(JoinedDecoded, Joined), "");
    std::printf("DEBUG identical %d tails equal %d\n", One[Join] == Second[Kept],
                TBytes(First[Join - 1].end() - Borrows, First[Join - 1].end()) == *Borrowed);
    for (size_t F = Join - 2; F < Join + 4; ++F)
        std::printf("DEBUG frame %zu: one %.4f joined %.4f unfixed %.4f\n", F,
                    LargestError(OneDecoded, Sound, Delay, F * kFrameSamples, (F + 1) * kFrameSamples),
                    LargestError(JoinedDecoded, Sound, Delay, F * kFrameSamples, (F + 1) * kFrameSamples),
                    LargestError(UnfixedDecoded, Sound, Delay, F * kFrameSamples, (F + 1) * kFrameSamples));
    {
        double MaxD = 0; size_t At = 0;
        for (size_t D = 0; D < std::min(JoinedDecoded.Samples(), UnfixedDecoded.Samples()); ++D)
            if (std::fabs(JoinedDecoded.Left[D] - UnfixedDecoded.Left[D]) > MaxD) { MaxD = std::fabs(JoinedDecoded.Left[D] - UnfixedDecoded.Left[D]); At = D; }
        std::printf("DEBUG joined vs unfixed max %g at %zu (frame %zu) sizes %zu %zu\n", MaxD, At, At / 1152, JoinedDecoded.Samples(), UnfixedDecoded.Samples());
        const std::optional<TMp3Frame> GF = ParseMp3Frame(Span(Second[Kept]));
        const std::optional<TMp3Frame> PF = ParseMp3Frame(Span(First[Join - 1]));
        std::printf("DEBUG G mdb %d bytes %d ; P mdb %d bytes %d slot %d\n", GF->MainDataBegin, GF->MainDataBytes, PF->MainDataBegin, PF->MainDataBytes, PF->SlotBytes());
        for (size_t J = 0; J < 12; ++J) std::printf("DEBUG second %zu mdb %d bytes %d size %zu\n", J, Mp3MainDataBegin(Span(Second[J])), ParseMp3Frame(Span(Second[J]))->MainDataBytes, Second[J].size());
    }
    std::printf("DEBUG unfixed refused %d complaints %d\n", UnfixedDecoded.Refused, UnfixedDecoded.Complaints);
    for (auto& L : LogLines) std::printf("DEBUG log %s\n", L.c_str());
    std::printf("one sequence: error %.4f near the join; joined: %.4f; unfixed:%s\n", OneError,
                LargestError(JoinedDecoded, Sound, Delay, From, To), Faults(UnfixedDecoded, Unfixed).c_str());
    EXPECT_NE(Faults(UnfixedDecoded, Unfixed), "") << "the checks cannot tell a join without the carry";
}

}  // namespace
}  // namespace zembra::testing
