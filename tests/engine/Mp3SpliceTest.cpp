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
#include "tests/support/PacketDecoder.h"
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

// The CRC-16 of header bytes 2 and 3 and the side information, worked out here on its own so
// that the decoder, checking CRCs, judges both this and the carry's.
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
        W.Put(static_cast<unsigned>(I < static_cast<int>(C.Part23.size()) ? C.Part23[static_cast<size_t>(I)]
                                                                          : 0),
              12);
        W.Put(0, 9);              // big_values
        W.Put(210, 8);            // global_gain: lines of 1 at full scale
        W.Put(0, Mpeg1 ? 4 : 9);  // scalefac_compress: no scale factor bits
        W.Put(0, 1);              // long blocks
        W.Put(0, 22);             // table_select, region counts
        W.Put(0, Mpeg1 ? 2 : 1);  // (preflag,) scalefac_scale
        W.Put(1, 1);              // count1 table B
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

std::span<const uint8_t> Span(const TBytes& B) {
    return {B.data(), B.size()};
}

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
        const double Freq =
            220.0 * std::pow(2.0, Step / 12.0) * (1.0 + 0.02 * std::sin(2 * std::numbers::pi * 5 * T));
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
        if ((Ret = lavu.av_channel_layout_copy(&Frame->ch_layout, &Ctx->ch_layout)) < 0)
            return "layout copy failed";
        if ((Ret = lavu.av_frame_get_buffer(Frame.get(), 0)) < 0) return "no frame buffer";
        std::memcpy(Frame->extended_data[0], Sound.Left.data() + Pos, kFrameSamples * sizeof(float));
        std::memcpy(Frame->extended_data[1], Sound.Right.data() + Pos, kFrameSamples * sizeof(float));
        Frame->pts = static_cast<int64_t>(Pos - From);
        if ((Ret = lavc.avcodec_send_frame(Ctx.get(), Frame.get())) < 0)
            return "frame refused: " + std::to_string(Ret);
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
        const size_t LoggedBefore = LogLevels.size();
        const std::string Error = DecodePackets(
            "mp3float", CrcCheck ? "crccheck" : "", {}, Packets, nullptr,
            [&](const AVFrame* Frame) -> std::string {
                if (Frame->format != AV_SAMPLE_FMT_FLTP) return "unexpected sample format";
                const int Channels = Frame->ch_layout.nb_channels;
                const float* L = reinterpret_cast<const float*>(Frame->extended_data[0]);
                const float* Rt = reinterpret_cast<const float*>(Frame->extended_data[Channels > 1 ? 1 : 0]);
                Out.Left.insert(Out.Left.end(), L, L + Frame->nb_samples);
                Out.Right.insert(Out.Right.end(), Rt, Rt + Frame->nb_samples);
                return {};
            },
            Out.Refused);
        for (size_t I = LoggedBefore; I < LogLevels.size(); ++I)
            if (LogLevels[I] <= llWarning) ++Out.Complaints;
        return Error;
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
         {.MainDataBegin = 300, .Part23 = {100, 200, 300, 401}},
         417,
         4,
         32,
         126,
         44100,
         381},
        {"MPEG-1 mono 320k 48k, CRC, padded, whole reservoir",
         {.BitrateIndex = 14,
          .RateIndex = 1,
          .Padding = true,
          .Mono = true,
          .Crc = true,
          .MainDataBegin = 511,
          .Part23 = {4000, 8}},
         961,
         6,
         17,
         501,
         48000,
         938},
        {"MPEG-1 stereo 32k, main data past the reservoir into the slot",
         {.BitrateIndex = 5, .RateIndex = 2, .MainDataBegin = 10, .Part23 = {800, 0, 0, 1}},
         288,
         4,
         32,
         101,
         32000,
         161},
        {"MPEG-2 stereo 64k 24k",
         {.Version = TMpegVersion::Mpeg2,
          .BitrateIndex = 8,
          .RateIndex = 1,
          .MainDataBegin = 255,
          .Part23 = {1000, 1001}},
         192,
         4,
         17,
         251,
         24000,
         171},
        {"MPEG-2 mono 160k 16k, CRC, padded",
         {.Version = TMpegVersion::Mpeg2,
          .BitrateIndex = 14,
          .RateIndex = 2,
          .Padding = true,
          .Mono = true,
          .Crc = true,
          .MainDataBegin = 3,
          .Part23 = {9}},
         721,
         6,
         9,
         2,
         16000,
         706},
        {"MPEG-2.5 mono 8k 8k",
         {.Version = TMpegVersion::Mpeg25,
          .BitrateIndex = 1,
          .RateIndex = 2,
          .Mono = true,
          .MainDataBegin = 7,
          .Part23 = {400}},
         72,
         4,
         9,
         50,
         8000,
         16},
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
        {"broken sync", 1, 0xE0, 0xC0},
        {"reserved version", 1, 0x18, 0x08},
        {"Layer II", 1, 0x06, 0x04},
        {"Layer I", 1, 0x06, 0x06},
        {"free bitrate", 2, 0xF0, 0x00},
        {"bitrate index 15", 2, 0xF0, 0xF0},
        {"reserved sample rate", 2, 0x0C, 0x0C},
        {"padding the length lacks", 2, 0x02, 0x02},
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
        {"own data from the reservoir takes less slot",
         {.MainDataBegin = 100, .Part23 = {576, 576, 576, 576}},
         193,
         417,
         9,
         false},
        {"320k exactly full", {.BitrateIndex = 14, .Part23 = {1000, 1000, 1000, 1000}}, 508, 1044, 14, false},
        {"320k padded", {.BitrateIndex = 14, .Part23 = {1000, 1000, 1000, 1000}}, 509, 1045, 14, true},
        {"320k cannot", {.BitrateIndex = 14, .Part23 = {1000, 1000, 1000, 1000}}, 510, 0, 0, false},
        {"MPEG-2 mono 64k to 128k",
         {.Version = TMpegVersion::Mpeg2, .BitrateIndex = 8, .Mono = true, .Part23 = {800}},
         255,
         417,
         12,
         false},
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
        }
    }
    EXPECT_FALSE(CarryReservoir(Span(TBytes(417, 0xFF)), {}));
}

// A whole reservoir carried into a frame with a CRC whose slot is too short for it: the decoder,
// checking CRCs, takes the raised frame and finds the silence the borrowed bytes code; without
// the carry it finds other bytes and makes sound of them; a frame whose CRC does not match is
// reported. Every frame's main data sits where a decoder keeps it: after the previous frame's.
TEST_F(Mp3SpliceTest, CarriedReservoirDecodesWithCrcCheck) {
    const TCraft Kind{.Crc = true};  // 128k 44.1k stereo: 379 slot bytes
    TCraft Lead0 = Kind, Lead1 = Kind, Previous = Kind, First = Kind;
    Lead1.MainDataBegin = 100;
    // 288 bytes of silence, all from the leading frames' slots, so its own slot is all free.
    Previous.MainDataBegin = 420;
    Previous.Part23 = {576, 576, 576, 576};
    Previous.Fill = 0x00;
    First.MainDataBegin = 511;
    First.Part23 = {576, 576, 576, 576};
    const TBytes Lead = Craft(Lead0), Lead2 = Craft(Lead1), PreviousFrame = Craft(Previous), G = Craft(First);
    const TBytes D0 = Craft(Kind), D1 = Craft(Kind);

    const std::optional<TBytes> Borrowed = BorrowedBytes({Span(D0), Span(D1)}, Span(G));
    ASSERT_TRUE(Borrowed);
    ASSERT_EQ(Borrowed->size(), 511u);
    const std::optional<TBytes> Carried = CarryReservoir(Span(PreviousFrame), Span(*Borrowed));
    ASSERT_TRUE(Carried);
    ASSERT_EQ(ParseMp3Frame(Span(*Carried))->BitrateIndex, 11);  // 160k leaves 484 bytes, 192k 588

    auto Loudest = [](const TDecoded& D) {
        float M = 0;
        for (size_t I = 0; I < D.Samples(); ++I)
            M = std::max({M, std::fabs(D.Left[I]), std::fabs(D.Right[I])});
        return M;
    };
    TDecoded Joined;
    ASSERT_EQ(Decode({Lead, Lead2, *Carried, G}, true, Joined), "");
    EXPECT_EQ(Joined.Refused, 0);
    EXPECT_EQ(Joined.Complaints, 0);
    EXPECT_EQ(Joined.Samples(), 4u * kFrameSamples);
    EXPECT_EQ(Loudest(Joined), 0.0f);

    TDecoded Unfixed;
    ASSERT_EQ(Decode({Lead, Lead2, PreviousFrame, G}, true, Unfixed), "");
    EXPECT_GT(Loudest(Unfixed), 0.01f) << "the borrowed bytes made no difference";

    TBytes WrongCrc = *Carried;
    WrongCrc[5] ^= 0x01;
    TDecoded Refused;
    ASSERT_EQ(Decode({Lead, Lead2, WrongCrc, G}, true, Refused), "");
    EXPECT_TRUE(Refused.Refused > 0 || Refused.Complaints > 0) << "a wrong CRC went unnoticed";
}

// The root mean square of Decoded minus Sound (shifted by the coding delay) over decoded
// samples [From, To) of both channels.
double ErrorRms(const TDecoded& Decoded, const TSound& Sound, int Delay, size_t From, size_t To) {
    double Sum = 0;
    for (size_t D = From; D < To; ++D) {
        const size_t S = D - static_cast<size_t>(Delay);
        const double L = Decoded.Left.at(D) - Sound.Left.at(S), R = Decoded.Right.at(D) - Sound.Right.at(S);
        Sum += L * L + R * R;
    }
    return std::sqrt(Sum / (2.0 * static_cast<double>(To - From)));
}

// One sound encoded as one sequence, and as two: the second encoder starts some frames before
// the join and its first packets are dropped; the first is the one sequence up to the join (an
// encoder that went on past its segment's end, as the engine's may). LAME started on the same
// frame grid often comes to write the very bytes the other encoder wrote, reservoir included, so
// the joins tried are those where the bytes a decoder would find before the first kept frame
// differ from those that frame borrows. At each, carried, the joined packets decode without a
// complaint and stay as close to the source as the one sequence does around the join: from 20 ms
// before it to 20 ms after the first kept frame, whose last granule's samples the decoder
// overlaps with the next frame's. The error is compared as a root mean square: LAME's own largest
// errors come in the noise bursts, the very frames that borrow most, and drown a wrong granule.
// At the join that borrows most, without the carry the same checks fail.
TEST_F(Mp3SpliceTest, JoinedLameSequencesDecodeLikeOne) {
    constexpr size_t kFrames = 200, kSecondStart = 60, kMinPreRoll = 3, kReach = kRate / 50;
    const TSound Sound = MusicLike(kFrames * kFrameSamples);

    TPackets One, Second;
    int Delay = 0, SecondDelay = 0;
    ASSERT_EQ(EncodeMp3(Sound, 0, Sound.Samples(), One, Delay), "");
    ASSERT_EQ(EncodeMp3(Sound, kSecondStart * kFrameSamples, Sound.Samples(), Second, SecondDelay), "");
    ASSERT_EQ(Delay, SecondDelay);
    ASSERT_GT(Delay, 0);
    for (const TBytes& P : One) ASSERT_GE(Mp3MainDataBegin(Span(P)), 0) << "a packet that is not one frame";
    TDecoded OneDecoded;
    ASSERT_EQ(Decode(One, false, OneDecoded), "");
    ASSERT_EQ(OneDecoded.Samples(), One.size() * kFrameSamples);
    ASSERT_EQ(OneDecoded.Complaints + OneDecoded.Refused, 0);
    // The comparisons below mean something only if the delay lines the decoding up with the source.
    double SoundSquares = 0;
    for (size_t I = 0; I < Sound.Samples(); ++I)
        SoundSquares += Sound.Left[I] * Sound.Left[I] + Sound.Right[I] * Sound.Right[I];
    const size_t Aligned = static_cast<size_t>(Delay);
    ASSERT_LT(ErrorRms(OneDecoded, Sound, Delay, Aligned, Sound.Samples()),
              0.1 * std::sqrt(SoundSquares / (2.0 * static_cast<double>(Sound.Samples()))));

    auto Spans = [](const TPackets& Packets, size_t Count) {
        std::vector<std::span<const uint8_t>> S;
        for (size_t I = 0; I < Count; ++I) S.push_back(Span(Packets[I]));
        return S;
    };
    // Packets One[0, Join) and Second[Kept, end), the last of the first carrying Borrowed or not.
    auto JoinedPackets = [&](size_t Kept, const TBytes* Carried) {
        const size_t Join = kSecondStart + Kept;
        TPackets Joined(One.begin(), One.begin() + static_cast<ptrdiff_t>(Join));
        if (Carried) Joined.back() = *Carried;
        Joined.insert(Joined.end(), Second.begin() + static_cast<ptrdiff_t>(Kept), Second.end());
        return Joined;
    };
    // What is wrong with decoding Packets joined after One[Join - 1] ("" when nothing).
    auto Faults = [&](const TPackets& Packets, size_t Join) {
        TDecoded D;
        std::string F = Decode(Packets, false, D);
        if (!F.empty()) return F;
        if (D.Refused) F += Format(" %d packets refused;", D.Refused);
        if (D.Complaints) F += Format(" %d complaints;", D.Complaints);
        if (D.Samples() != Packets.size() * kFrameSamples)
            return F + Format(" %zu samples of %zu packets;", D.Samples(), Packets.size());
        const size_t From = Join * kFrameSamples - kReach, To = (Join + 1) * kFrameSamples + kReach;
        const double Error = ErrorRms(D, Sound, Delay, From, To),
                     OneError = ErrorRms(OneDecoded, Sound, Delay, From, To);
        if (Error > 2 * OneError)
            F += Format(" error %.4f around the join, one sequence %.4f;", Error, OneError);
        return F;
    };

    size_t Joins = 0, WorstKept = 0;
    std::optional<TBytes> WorstBorrowed;
    for (size_t Kept = kMinPreRoll; Kept + 10 < Second.size(); ++Kept) {
        const std::optional<TBytes> Borrowed = BorrowedBytes(Spans(Second, Kept), Span(Second[Kept]));
        const std::optional<TBytes> Found =
            BorrowedBytes(Spans(One, kSecondStart + Kept), Span(Second[Kept]));
        ASSERT_TRUE(Borrowed && Found) << Kept;
        if (*Borrowed == *Found) continue;
        ++Joins;
        const std::optional<TBytes> Carried =
            CarryReservoir(Span(One[kSecondStart + Kept - 1]), Span(*Borrowed));
        ASSERT_TRUE(Carried) << Kept;
        EXPECT_EQ(Faults(JoinedPackets(Kept, &*Carried), kSecondStart + Kept), "")
            << "join after frame " << kSecondStart + Kept;
        if (!WorstBorrowed || Borrowed->size() > WorstBorrowed->size()) {
            WorstKept = Kept;
            WorstBorrowed = Borrowed;
        }
    }
    ASSERT_GT(Joins, 0u) << "no join where the carry matters: the test would prove nothing";
    ASSERT_GT(WorstBorrowed->size(), 0u);
    EXPECT_NE(Faults(JoinedPackets(WorstKept, nullptr), kSecondStart + WorstKept), "")
        << "the checks cannot tell a join without the carry";
    RecordProperty("JoinsWhereTheCarryMatters", static_cast<int>(Joins));
    RecordProperty("MostBytesBorrowed", static_cast<int>(WorstBorrowed->size()));
}

}  // namespace
}  // namespace zembra::testing
