// Joining FLAC sequences from separate encoders: crafted frames renumbered (and refused when
// they are no frames), STREAMINFO fields set, and real flac encodes, whole and in two segments,
// that decode and sum the same once the second segment's frames are renumbered.

#include "engine/FlacSplice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "binding/FFmpegHolders.h"
#include "binding/FFmpegLoader.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/support/PacketDecoder.h"

namespace zembra::testing {
namespace {

using TBytes = std::vector<uint8_t>;
using TPackets = std::vector<TBytes>;

constexpr int kRate = 44100;
constexpr size_t kStreamInfoBytes = 34;

std::span<const uint8_t> Span(const TBytes& B) {
    return {B.data(), B.size()};
}

// ---- Frames written and read here, bit by bit, independently of the code under test ----

uint8_t ReferenceCrc8(const uint8_t* Data, size_t N) {
    uint8_t Crc = 0;
    for (size_t I = 0; I < N; ++I)
        for (int Bit = 7; Bit >= 0; --Bit) {
            const bool Top = (Crc & 0x80) != 0;
            Crc = static_cast<uint8_t>(Crc << 1);
            if (Top != (((Data[I] >> Bit) & 1) != 0)) Crc ^= 0x07;
        }
    return Crc;
}

uint16_t ReferenceCrc16(const uint8_t* Data, size_t N) {
    uint16_t Crc = 0;
    for (size_t I = 0; I < N; ++I)
        for (int Bit = 7; Bit >= 0; --Bit) {
            const bool Top = (Crc & 0x8000) != 0;
            Crc = static_cast<uint16_t>(Crc << 1);
            if (Top != (((Data[I] >> Bit) & 1) != 0)) Crc ^= 0x8005;
        }
    return Crc;
}

// The coded number's bytes: one for 7 bits, else a lead of N ones and a zero, then N - 1
// bytes of 10xxxxxx.
TBytes CodedNumber(uint64_t V) {
    if (V < 0x80) return {static_cast<uint8_t>(V)};
    int Bits = 0;
    while (Bits < 64 && (V >> Bits)) ++Bits;
    int N = 2;
    while (6 * (N - 1) + (7 - N) < Bits) ++N;
    TBytes Out(static_cast<size_t>(N));
    for (int I = N - 1; I > 0; --I, V >>= 6)
        Out[static_cast<size_t>(I)] = static_cast<uint8_t>(0x80 | (V & 0x3F));
    Out[0] = static_cast<uint8_t>(((0xFF << (8 - N)) & 0xFF) | V);
    return Out;
}

void FixCrcs(TBytes& F, size_t CrcAt) {
    F[CrcAt] = ReferenceCrc8(F.data(), CrcAt);
    const uint16_t C = ReferenceCrc16(F.data(), F.size() - 2);
    F[F.size() - 2] = static_cast<uint8_t>(C >> 8);
    F[F.size() - 1] = static_cast<uint8_t>(C & 0xFF);
}

// A 16-bit stereo frame at 44.1 kHz, its block size written out in 16 bits and each channel a
// verbatim subframe: small enough to write by hand, real enough for FFmpeg's decoder.
struct TCrafted {
    TBytes Bytes;
    size_t CrcAt = 0;  // the CRC-8's place
};

TCrafted CraftFrame(bool Variable, uint64_t Number, const std::vector<int16_t>& Left,
                    const std::vector<int16_t>& Right) {
    TCrafted C;
    TBytes& F = C.Bytes;
    F = {0xFF, static_cast<uint8_t>(Variable ? 0xF9 : 0xF8), 0x79, 0x18};
    const TBytes N = CodedNumber(Number);
    F.insert(F.end(), N.begin(), N.end());
    const size_t Block = Left.size() - 1;
    F.push_back(static_cast<uint8_t>(Block >> 8));
    F.push_back(static_cast<uint8_t>(Block & 0xFF));
    C.CrcAt = F.size();
    F.push_back(0);
    for (const std::vector<int16_t>* Channel : {&Left, &Right}) {
        F.push_back(0x02);
        for (int16_t S : *Channel) {
            F.push_back(static_cast<uint8_t>(static_cast<uint16_t>(S) >> 8));
            F.push_back(static_cast<uint8_t>(S & 0xFF));
        }
    }
    F.push_back(0);
    F.push_back(0);
    FixCrcs(F, C.CrcAt);
    return C;
}

TCrafted CraftFrame(bool Variable, uint64_t Number, size_t Samples = 16) {
    std::vector<int16_t> L(Samples), R(Samples);
    for (size_t I = 0; I < Samples; ++I) {
        L[I] = static_cast<int16_t>(I * 1000);
        R[I] = static_cast<int16_t>(-static_cast<int>(I) * 777);
    }
    return CraftFrame(Variable, Number, L, R);
}

// What a frame header says, read with no help from the code under test.
struct THeaderRead {
    bool Variable = false;
    uint64_t Number = 0;
    size_t NumberBytes = 0;
    size_t Bytes = 0;  // through the CRC-8
    bool CrcsMatch = false;
};

std::optional<THeaderRead> ReadHeader(const TBytes& F) {
    if (F.size() < 8 || F[0] != 0xFF || (F[1] & 0xFE) != 0xF8) return std::nullopt;
    THeaderRead H;
    H.Variable = F[1] & 1;
    int Ones = 0;
    while (Ones < 8 && (F[4] & (0x80 >> Ones))) ++Ones;
    if (Ones == 1 || Ones == 8) return std::nullopt;
    H.NumberBytes = Ones == 0 ? 1 : static_cast<size_t>(Ones);
    H.Number = Ones == 0 ? F[4] : static_cast<uint64_t>(F[4] & (0x7F >> Ones));
    for (size_t I = 1; I < H.NumberBytes; ++I) H.Number = (H.Number << 6) | (F.at(4 + I) & 0x3F);
    const unsigned BlockCode = F[2] >> 4, RateCode = F[2] & 15;
    size_t Pos = 4 + H.NumberBytes +
                 (BlockCode == 6   ? 1
                  : BlockCode == 7 ? 2
                                   : 0) +
                 (RateCode == 12                       ? 1
                  : (RateCode == 13 || RateCode == 14) ? 2
                                                       : 0);
    if (Pos + 3 > F.size()) return std::nullopt;
    H.Bytes = Pos + 1;
    const uint16_t Footer = static_cast<uint16_t>((F[F.size() - 2] << 8) | F[F.size() - 1]);
    H.CrcsMatch = F[Pos] == ReferenceCrc8(F.data(), Pos) && Footer == ReferenceCrc16(F.data(), F.size() - 2);
    return H;
}

// The frame past its header, CRC-16 excluded: what the encoder made of the samples.
TBytes Body(const TBytes& F) {
    const std::optional<THeaderRead> H = ReadHeader(F);
    if (!H) return {};
    return TBytes(F.begin() + static_cast<ptrdiff_t>(H->Bytes), F.end() - 2);
}

// ---- Renumbering crafted frames ----

TEST(FlacFrameTest, RenumberedHeadersCarryTheNewNumber) {
    struct TCase {
        bool Variable;
        uint64_t Number;  // frame number, or sample number for variable frames
        size_t CodedBytes;
    } Cases[] = {
        {false, 0, 1},
        {false, 127, 1},
        {false, 128, 2},
        {false, 2047, 2},
        {false, 2048, 3},
        {false, 65535, 3},
        {false, 65536, 4},
        {false, 200000, 4},
        {false, (1u << 21) - 1, 4},
        {false, 1u << 21, 5},
        {false, 1u << 26, 6},
        {false, (1ull << 31) - 1, 6},
        {true, 0, 1},
        {true, 4096, 3},
        {true, (1ull << 31) - 1, 6},
        {true, 1ull << 31, 7},
        {true, (1ull << 36) - 1, 7},
    };
    constexpr int kBlock = 4608;
    for (const TCase& C : Cases) {
        for (const uint64_t From : {uint64_t{0}, uint64_t{100000}, (uint64_t{1} << 31) - 1}) {
            SCOPED_TRACE(::testing::Message()
                         << (C.Variable ? "variable " : "fixed ") << From << " -> " << C.Number);
            const TCrafted Original = CraftFrame(C.Variable, From);
            const uint64_t FirstSample = C.Variable ? C.Number : C.Number * kBlock;
            const std::optional<TBytes> Out = RenumberFlacFrame(Span(Original.Bytes), FirstSample, kBlock);
            ASSERT_TRUE(Out);
            const std::optional<THeaderRead> Before = ReadHeader(Original.Bytes), After = ReadHeader(*Out);
            ASSERT_TRUE(Before && After);
            EXPECT_EQ(After->Variable, C.Variable);
            EXPECT_EQ(After->Number, C.Number);
            EXPECT_EQ(After->NumberBytes, C.CodedBytes);
            EXPECT_EQ(Out->size(), Original.Bytes.size() - Before->NumberBytes + C.CodedBytes);
            EXPECT_TRUE(After->CrcsMatch);
            EXPECT_TRUE(std::equal(Out->begin(), Out->begin() + 4, Original.Bytes.begin()));
            EXPECT_TRUE(std::equal(Out->begin() + static_cast<ptrdiff_t>(4 + After->NumberBytes),
                                   Out->begin() + static_cast<ptrdiff_t>(After->Bytes - 1),
                                   Original.Bytes.begin() + static_cast<ptrdiff_t>(4 + Before->NumberBytes)))
                << "the block size after the number moved or changed";
            EXPECT_EQ(Body(*Out), Body(Original.Bytes));
            if (From == C.Number) {
                EXPECT_EQ(*Out, Original.Bytes) << "the same number should give the same frame";
            }
        }
    }
}

TEST(FlacFrameTest, RenumberRefusesWhatIsNoFrameOrNoNumber) {
    const TCrafted Good = CraftFrame(false, 300);  // two coded bytes
    ASSERT_TRUE(RenumberFlacFrame(Span(Good.Bytes), 0, 16));
    struct TCase {
        const char* Name;
        size_t Byte;
        uint8_t Xor;
        bool FixCrcs;  // so that only the code itself is wrong
    } Cases[] = {
        {"broken sync", 0, 0x01, true},
        {"broken sync, second byte", 1, 0x08, true},
        {"reserved bit after sync", 1, 0x02, true},
        {"block size code 0", 2, 0x70, true},
        {"sample rate code 15", 2, 0x06, true},
        {"channel code 11", 3, 0xA0, true},
        {"sample size code 3", 3, 0x0E, true},
        {"last reserved header bit", 3, 0x01, true},
        {"coded number lead byte 10xxxxxx", 4, 0x40, true},
        {"coded number continuation 11xxxxxx", 5, 0x40, true},
        {"bad CRC-8", Good.CrcAt, 0x01, false},
        {"bad CRC-16", Good.Bytes.size() - 1, 0x80, false},
        {"a body bit changed", Good.CrcAt + 5, 0x10, false},
        {"a block size bit changed", Good.CrcAt - 1, 0x01, false},
    };
    for (const TCase& C : Cases) {
        TBytes Bad = Good.Bytes;
        Bad[C.Byte] ^= C.Xor;
        if (C.FixCrcs) FixCrcs(Bad, Good.CrcAt);
        EXPECT_FALSE(RenumberFlacFrame(Span(Bad), 0, 16)) << C.Name;
    }
    for (size_t N = 0; N < Good.Bytes.size(); ++N) {
        const TBytes Short(Good.Bytes.begin(), Good.Bytes.begin() + static_cast<ptrdiff_t>(N));
        EXPECT_FALSE(RenumberFlacFrame(Span(Short), 0, 16)) << "cut to " << N << " bytes";
    }
    // A byte past the footer (not a zero byte: with it the CRC-16 comes out right again, and only
    // decoding the subframes could tell).
    TBytes Longer = Good.Bytes;
    Longer.push_back(0x55);
    EXPECT_FALSE(RenumberFlacFrame(Span(Longer), 0, 16)) << "a byte past the footer";

    // A frame number has 31 bits and a fixed stream's frames start on the block grid.
    EXPECT_FALSE(RenumberFlacFrame(Span(Good.Bytes), 17, 16)) << "off the block grid";
    EXPECT_FALSE(RenumberFlacFrame(Span(Good.Bytes), 16, 0)) << "no block size";
    EXPECT_FALSE(RenumberFlacFrame(Span(Good.Bytes), (uint64_t{1} << 31) * 16, 16)) << "frame number 2^31";
    const TCrafted Variable = CraftFrame(true, 0);
    EXPECT_TRUE(RenumberFlacFrame(Span(Variable.Bytes), 17, 0)) << "sample numbers need no grid";
    EXPECT_FALSE(RenumberFlacFrame(Span(Variable.Bytes), uint64_t{1} << 36, 0)) << "sample number 2^36";
    // Seven coded bytes are for sample numbers only.
    const TCrafted Seven = CraftFrame(true, uint64_t{1} << 33);
    TBytes SevenFixed = Seven.Bytes;
    SevenFixed[1] = 0xF8;
    FixCrcs(SevenFixed, Seven.CrcAt);
    EXPECT_TRUE(RenumberFlacFrame(Span(Seven.Bytes), 0, 0));
    EXPECT_FALSE(RenumberFlacFrame(Span(SevenFixed), 0, 16));
}

// ---- STREAMINFO ----

uint64_t ReadBits(const TBytes& B, size_t Offset, int Bits) {
    uint64_t V = 0;
    for (int I = 0; I < Bits; ++I) {
        const size_t Bit = Offset + static_cast<size_t>(I);
        V = (V << 1) | ((B[Bit / 8] >> (7 - Bit % 8)) & 1u);
    }
    return V;
}

TEST(FlacStreamInfoTest, PatchSetsItsFieldsAndNothingElse) {
    struct TCase {
        uint64_t Total;
        uint32_t Min, Max;
    } Cases[] = {
        {0, 0, 0},
        {220500, 1234, 15678},
        {(uint64_t{1} << 36) - 1, (1u << 24) - 1, (1u << 24) - 1},
        {uint64_t{1} << 32, 1, 2},
    };
    // Fields of the untouched bits: block sizes 0-31, sample rate, channels, bits per sample 80-107.
    auto Untouched = [](const TBytes& B) { return std::make_pair(ReadBits(B, 0, 32), ReadBits(B, 80, 28)); };
    for (const uint8_t Fill : {uint8_t{0x00}, uint8_t{0xFF}, uint8_t{0x5A}}) {
        for (const TCase& C : Cases) {
            SCOPED_TRACE(::testing::Message() << "fill " << int(Fill) << " total " << C.Total);
            TBytes Info(kStreamInfoBytes, Fill);
            const auto Before = Untouched(Info);
            uint8_t Md5[16];
            for (int I = 0; I < 16; ++I) Md5[I] = static_cast<uint8_t>(0xC3 ^ (I * 17));
            ASSERT_TRUE(PatchStreamInfo(Info, C.Total, C.Min, C.Max, Md5));
            EXPECT_EQ(ReadBits(Info, 32, 24), C.Min);
            EXPECT_EQ(ReadBits(Info, 56, 24), C.Max);
            EXPECT_EQ(ReadBits(Info, 108, 36), C.Total);
            EXPECT_TRUE(std::equal(Info.begin() + 18, Info.end(), Md5));
            EXPECT_EQ(Untouched(Info), Before);
        }
    }
    const uint8_t Md5[16] = {};
    struct TRefusal {
        const char* Name;
        size_t Size;
        uint64_t Total;
        uint32_t Min, Max;
    } Refusals[] = {
        {"empty", 0, 1, 1, 1},
        {"33 bytes", 33, 1, 1, 1},
        {"35 bytes", 35, 1, 1, 1},
        {"metadata block header too", 38, 1, 1, 1},
        {"total 2^36", 34, uint64_t{1} << 36, 1, 1},
        {"smallest frame 2^24", 34, 1, 1u << 24, 1},
        {"largest frame 2^24", 34, 1, 1, 1u << 24},
    };
    for (const TRefusal& R : Refusals) {
        TBytes Info(R.Size, 0x77);
        EXPECT_FALSE(PatchStreamInfo(Info, R.Total, R.Min, R.Max, Md5)) << R.Name;
        EXPECT_EQ(Info, TBytes(R.Size, 0x77)) << R.Name << ": changed though refused";
    }
}

// ---- Through the libraries ----

// Both channels' samples as the encoder takes them and the decoder gives them back: in the top
// bits of their 16- or 32-bit container.
struct TSound {
    int Bits = 16;
    std::vector<int32_t> Left, Right;
    size_t Samples() const { return Left.size(); }
};

// Two gliding tones a channel and a little noise, at a third of full scale: enough variety that
// the encoder's frames differ in size and predictor.
TSound TonesAndNoise(int Bits, size_t Samples) {
    TSound S;
    S.Bits = Bits;
    S.Left.resize(Samples);
    S.Right.resize(Samples);
    std::mt19937 Rng(20261209u + static_cast<unsigned>(Bits));
    std::normal_distribution<double> Noise(0.0, 0.01);
    const double Full = std::ldexp(1.0, Bits - 1) - 1;
    const int Shift = (Bits > 16 ? 32 : 16) - Bits;
    for (size_t N = 0; N < Samples; ++N) {
        const double T = static_cast<double>(N) / kRate;
        const double A = std::sin(2 * std::numbers::pi * (440 + 40 * T) * T),
                     B = std::sin(2 * std::numbers::pi * 1234.5 * T + std::sin(3 * T));
        const double L = std::clamp(0.2 * A + 0.1 * B + Noise(Rng), -1.0, 1.0);
        const double R = std::clamp(0.15 * A - 0.15 * B + Noise(Rng), -1.0, 1.0);
        S.Left[N] = static_cast<int32_t>(std::lround(L * Full)) * (int32_t{1} << Shift);
        S.Right[N] = static_cast<int32_t>(std::lround(R * Full)) * (int32_t{1} << Shift);
    }
    return S;
}

struct TEncoded {
    TPackets Packets;
    TBytes StreamInfo;  // from the last packet's new extradata
    int FrameSize = 0;
    int EmptyPackets = 0;
};

// Samples [From, To) of Sound with FFmpeg's flac encoder at its default settings.
std::string EncodeFlac(const TSound& Sound, size_t From, size_t To, TEncoded& Out) {
    const AVCodec* Codec = lavc.avcodec_find_encoder_by_name("flac");
    if (!Codec) return "no flac encoder";
    TCodecContextPtr Ctx(lavc.avcodec_alloc_context3(Codec));
    TFramePtr Frame = MakeFrame();
    TPacketPtr Packet = MakePacket();
    if (!Ctx || !Frame || !Packet) return "out of memory";
    const AVSampleFormat Format = Sound.Bits > 16 ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16;
    Ctx->sample_fmt = Format;
    Ctx->bits_per_raw_sample = Sound.Bits;
    Ctx->sample_rate = kRate;
    Ctx->time_base = AVRational{1, kRate};
    lavu.av_channel_layout_default(&Ctx->ch_layout, 2);
    int Ret;
    {
        TCodecLockGuard Lock;
        Ret = lavc.avcodec_open2(Ctx.get(), Codec, nullptr);
    }
    if (Ret < 0) return "cannot open flac: " + std::to_string(Ret);
    Out.FrameSize = Ctx->frame_size;
    if (Out.FrameSize <= 0) return "no frame size";

    auto Drain = [&]() -> std::string {
        for (;;) {
            const int R = lavc.avcodec_receive_packet(Ctx.get(), Packet.get());
            if (R == AVERROR(EAGAIN) || R == AVERROR_EOF) return {};
            if (R < 0) return "encoding failed: " + std::to_string(R);
            // The encoder's last packet is an empty one that only carries the final STREAMINFO.
            if (Packet->size > 0)
                Out.Packets.emplace_back(Packet->data, Packet->data + Packet->size);
            else
                ++Out.EmptyPackets;
            size_t Size = 0;
            if (const uint8_t* Info =
                    lavc.av_packet_get_side_data(Packet.get(), AV_PKT_DATA_NEW_EXTRADATA, &Size))
                Out.StreamInfo.assign(Info, Info + Size);
            lavc.av_packet_unref(Packet.get());
        }
    };
    const size_t Step = static_cast<size_t>(Out.FrameSize);
    for (size_t Pos = From; Pos < To; Pos += Step) {
        const size_t N = std::min(Step, To - Pos);
        lavu.av_frame_unref(Frame.get());
        Frame->nb_samples = static_cast<int>(N);
        Frame->format = Format;
        Frame->sample_rate = kRate;
        if (lavu.av_channel_layout_copy(&Frame->ch_layout, &Ctx->ch_layout) < 0) return "layout copy failed";
        if (lavu.av_frame_get_buffer(Frame.get(), 0) < 0) return "no frame buffer";
        for (size_t I = 0; I < N; ++I) {
            if (Format == AV_SAMPLE_FMT_S16) {
                int16_t* D = reinterpret_cast<int16_t*>(Frame->data[0]);
                D[2 * I] = static_cast<int16_t>(Sound.Left[Pos + I]);
                D[2 * I + 1] = static_cast<int16_t>(Sound.Right[Pos + I]);
            } else {
                int32_t* D = reinterpret_cast<int32_t*>(Frame->data[0]);
                D[2 * I] = Sound.Left[Pos + I];
                D[2 * I + 1] = Sound.Right[Pos + I];
            }
        }
        Frame->pts = static_cast<int64_t>(Pos - From);
        if ((Ret = lavc.avcodec_send_frame(Ctx.get(), Frame.get())) < 0)
            return "frame refused: " + std::to_string(Ret);
        if (std::string E = Drain(); !E.empty()) return E;
    }
    if (lavc.avcodec_send_frame(Ctx.get(), nullptr) < 0) return "flush refused";
    return Drain();
}

struct TDecoded {
    std::vector<int32_t> Left, Right;  // as the decoder's container holds them
    int Refused = 0;
    int Complaints = 0;
    bool Summed = true;  // every frame taken by the sum
    AVSampleFormat Format = AV_SAMPLE_FMT_NONE;
};

class FlacSpliceTest : public EngineTest {
  protected:
    // Decodes Packets with FFmpeg's flac decoder checking every CRC, each frame also added to
    // Sum when there is one.
    std::string Decode(const TPackets& Packets, const TBytes& StreamInfo, AVSampleFormat Request,
                       TDecoded& Out, TFlacSoundSum* Sum) {
        const size_t LoggedBefore = LogLevels.size();
        const std::string Error = DecodePackets(
            "flac", "crccheck+explode", StreamInfo, Packets,
            [Request](AVCodecContext* Ctx) { Ctx->request_sample_fmt = Request; },
            [&](const AVFrame* Frame) -> std::string {
                const AVSampleFormat F = static_cast<AVSampleFormat>(Frame->format);
                Out.Format = F;
                if (Frame->ch_layout.nb_channels != 2) return "not stereo";
                for (int I = 0; I < Frame->nb_samples; ++I)
                    for (int C = 0; C < 2; ++C) {
                        int32_t V;
                        if (F == AV_SAMPLE_FMT_S16)
                            V = reinterpret_cast<const int16_t*>(Frame->data[0])[2 * I + C];
                        else if (F == AV_SAMPLE_FMT_S16P)
                            V = reinterpret_cast<const int16_t*>(Frame->extended_data[C])[I];
                        else if (F == AV_SAMPLE_FMT_S32)
                            V = reinterpret_cast<const int32_t*>(Frame->data[0])[2 * I + C];
                        else if (F == AV_SAMPLE_FMT_S32P)
                            V = reinterpret_cast<const int32_t*>(Frame->extended_data[C])[I];
                        else
                            return "unexpected sample format";
                        (C == 0 ? Out.Left : Out.Right).push_back(V);
                    }
                if (Sum && !Sum->Add(Frame)) Out.Summed = false;
                return {};
            },
            Out.Refused);
        for (size_t I = LoggedBefore; I < LogLevels.size(); ++I)
            if (LogLevels[I] <= llWarning) ++Out.Complaints;
        return Error;
    }
};

// One sound encoded whole, and as two encoders' output split on a frame boundary, the second's
// frames renumbered. FLAC frames depend on their own samples only, so the second encoder writes
// the very bodies the whole encode has at the same place (checked: every one), and its frames,
// renumbered, are byte for byte the whole encode's. The joined sequence decodes with every CRC
// checked to the input; its decoded sum is the whole encode's STREAMINFO MD5, for the decoder's
// packed and planar output; and the second encoder's STREAMINFO, patched with the joined
// sequence's totals, is the whole encode's.
TEST_F(FlacSpliceTest, SplicedEncodesDecodeAsTheWholeOne) {
    constexpr size_t kSplitFrame = 13;
    for (const int Bits : {16, 24}) {
        SCOPED_TRACE(::testing::Message() << Bits << " bits");
        const TSound Sound = TonesAndNoise(Bits, 4 * kRate + 1234);
        TEncoded Whole, First, Second;
        ASSERT_EQ(EncodeFlac(Sound, 0, Sound.Samples(), Whole), "");
        const size_t Block = static_cast<size_t>(Whole.FrameSize), Split = kSplitFrame * Block;
        ASSERT_LT(Split, Sound.Samples());
        ASSERT_EQ(EncodeFlac(Sound, 0, Split, First), "");
        ASSERT_EQ(EncodeFlac(Sound, Split, Sound.Samples(), Second), "");
        EXPECT_EQ(Whole.EmptyPackets, 1);
        ASSERT_EQ(Whole.StreamInfo.size(), kStreamInfoBytes);
        ASSERT_EQ(Second.StreamInfo.size(), kStreamInfoBytes);
        ASSERT_EQ(First.Packets.size(), kSplitFrame);
        ASSERT_EQ(Whole.Packets.size(), kSplitFrame + Second.Packets.size());
        for (size_t I = 0; I < kSplitFrame; ++I) ASSERT_EQ(First.Packets[I], Whole.Packets[I]) << I;

        TPackets Spliced = First.Packets;
        size_t SameBodies = 0;
        for (size_t I = 0; I < Second.Packets.size(); ++I) {
            const TBytes& Made = Second.Packets[I];
            const TBytes& Expected = Whole.Packets[kSplitFrame + I];
            const std::optional<THeaderRead> H = ReadHeader(Made);
            ASSERT_TRUE(H);
            ASSERT_EQ(H->Number, I) << "the second encoder does not count from its own start";
            ASSERT_FALSE(H->Variable);
            const bool SameBody = Body(Made) == Body(Expected);
            SameBodies += SameBody ? 1 : 0;
            const std::optional<TBytes> Renumbered =
                RenumberFlacFrame(Span(Made), Split + I * Block, Whole.FrameSize);
            ASSERT_TRUE(Renumbered) << I;
            if (SameBody) {
                EXPECT_EQ(*Renumbered, Expected) << "frame " << kSplitFrame + I;
            }
            Spliced.push_back(*Renumbered);
        }
        EXPECT_EQ(SameBodies, Second.Packets.size())
            << "the encoders' frames differ in more than their number";

        uint8_t WholeMd5[16];
        std::memcpy(WholeMd5, Whole.StreamInfo.data() + 18, 16);
        for (const AVSampleFormat Request :
             {AV_SAMPLE_FMT_NONE, Bits > 16 ? AV_SAMPLE_FMT_S32 : AV_SAMPLE_FMT_S16}) {
            SCOPED_TRACE(Request == AV_SAMPLE_FMT_NONE ? "decoder's own format" : "packed");
            TDecoded D;
            TFlacSoundSum Sum(Bits);
            ASSERT_EQ(Decode(Spliced, Whole.StreamInfo, Request, D, &Sum), "");
            EXPECT_EQ(D.Refused, 0);
            EXPECT_EQ(D.Complaints, 0);
            EXPECT_TRUE(D.Summed);
            EXPECT_EQ(D.Format == AV_SAMPLE_FMT_S32 || D.Format == AV_SAMPLE_FMT_S32P, Bits > 16);
            EXPECT_TRUE(D.Left == Sound.Left && D.Right == Sound.Right)
                << "decoded samples differ from the input";
            uint8_t Md5[16];
            Sum.Finish(Md5);
            EXPECT_TRUE(std::equal(Md5, Md5 + 16, WholeMd5)) << "the sum is not the whole encode's MD5";
        }

        EXPECT_NE(Second.StreamInfo, Whole.StreamInfo);
        uint32_t Min = UINT32_MAX, Max = 0;
        for (const TBytes& P : Spliced) {
            Min = std::min(Min, static_cast<uint32_t>(P.size()));
            Max = std::max(Max, static_cast<uint32_t>(P.size()));
        }
        TBytes Patched = Second.StreamInfo;
        ASSERT_TRUE(PatchStreamInfo(Patched, Sound.Samples(), Min, Max, WholeMd5));
        EXPECT_EQ(Patched, Whole.StreamInfo);
    }
}

// A real frame renumbered far ahead (frame 0 to 200000: one coded byte to four) takes a longer
// header and still decodes, every CRC checked; crafted variable-blocksize frames of different
// sizes, all numbered 0, decode to their samples once each carries its sample number. That the
// decoder really checks the CRCs here is shown too: a changed body byte gets a frame refused.
TEST_F(FlacSpliceTest, RenumberedFramesDecodeWithCrcCheck) {
    const TSound Sound = TonesAndNoise(16, 3 * 4608);
    TEncoded E;
    ASSERT_EQ(EncodeFlac(Sound, 0, Sound.Samples(), E), "");
    ASSERT_GE(E.Packets.size(), 2u);
    const uint64_t Far = 200000;
    const std::optional<TBytes> Moved =
        RenumberFlacFrame(Span(E.Packets[0]), Far * static_cast<uint64_t>(E.FrameSize), E.FrameSize);
    ASSERT_TRUE(Moved);
    EXPECT_EQ(Moved->size(), E.Packets[0].size() + 3);
    ASSERT_EQ(ReadHeader(*Moved)->Number, Far);
    TDecoded D;
    ASSERT_EQ(Decode({*Moved}, E.StreamInfo, AV_SAMPLE_FMT_NONE, D, nullptr), "");
    EXPECT_EQ(D.Refused + D.Complaints, 0);
    const size_t Block = static_cast<size_t>(E.FrameSize);
    EXPECT_TRUE(D.Left ==
                std::vector<int32_t>(Sound.Left.begin(), Sound.Left.begin() + static_cast<ptrdiff_t>(Block)));

    const size_t Sizes[] = {1000, 576, 4000, 1};
    std::vector<int16_t> Left, Right;
    TPackets Variable;
    uint64_t Start = 0;
    for (const size_t Size : Sizes) {
        std::vector<int16_t> L(Size), R(Size);
        for (size_t I = 0; I < Size; ++I) {
            L[I] = static_cast<int16_t>(Sound.Left[Start + I]);
            R[I] = static_cast<int16_t>(Sound.Right[Start + I]);
        }
        Left.insert(Left.end(), L.begin(), L.end());
        Right.insert(Right.end(), R.begin(), R.end());
        const TCrafted F = CraftFrame(true, 0, L, R);
        const std::optional<TBytes> Numbered = RenumberFlacFrame(Span(F.Bytes), Start, 0);
        ASSERT_TRUE(Numbered);
        ASSERT_EQ(ReadHeader(*Numbered)->Number, Start);
        Variable.push_back(*Numbered);
        Start += Size;
    }
    TDecoded V;
    ASSERT_EQ(Decode(Variable, {}, AV_SAMPLE_FMT_S16, V, nullptr), "");
    EXPECT_EQ(V.Refused + V.Complaints, 0);
    EXPECT_TRUE(V.Left == std::vector<int32_t>(Left.begin(), Left.end()) &&
                V.Right == std::vector<int32_t>(Right.begin(), Right.end()));

    // The decoder really checks: the same frames with one body byte changed are refused.
    TPackets Damaged = Variable;
    Damaged[1][Damaged[1].size() / 2] ^= 0x04;
    TDecoded X;
    ASSERT_EQ(Decode(Damaged, {}, AV_SAMPLE_FMT_S16, X, nullptr), "");
    EXPECT_GT(X.Refused + X.Complaints, 0) << "a wrong CRC-16 went unnoticed";
}

// The sum takes only what a decoder of that many bits can give: its own sample formats, with
// nothing below the stream's bits; what it refuses leaves the sum as it was.
TEST_F(FlacSpliceTest, SoundSumRefusesFramesItCannotRead) {
    auto MakeAudio = [](AVSampleFormat Format, int Samples, int32_t Value) {
        TFramePtr F = MakeFrame();
        if (!F) return F;
        F->format = Format;
        F->nb_samples = Samples;
        F->sample_rate = kRate;
        lavu.av_channel_layout_default(&F->ch_layout, 2);
        if (lavu.av_frame_get_buffer(F.get(), 0) < 0) return TFramePtr();
        const int Planes = lavu.av_sample_fmt_is_planar(Format) ? 2 : 1;
        const int PerPlane = Samples * (Planes == 1 ? 2 : 1);
        for (int P = 0; P < Planes; ++P)
            for (int I = 0; I < PerPlane; ++I) {
                if (lavu.av_get_bytes_per_sample(Format) == 1)
                    F->extended_data[P][I] = static_cast<uint8_t>(Value);
                else if (lavu.av_get_bytes_per_sample(Format) == 2)
                    reinterpret_cast<int16_t*>(F->extended_data[P])[I] = static_cast<int16_t>(Value);
                else
                    reinterpret_cast<int32_t*>(F->extended_data[P])[I] = Value;
            }
        return F;
    };
    struct TCase {
        const char* Name;
        int Bits;
        AVSampleFormat Format;
        int32_t Value;
        bool Taken;
    } Cases[] = {
        {"16 bits packed", 16, AV_SAMPLE_FMT_S16, -3, true},
        {"16 bits planar", 16, AV_SAMPLE_FMT_S16P, -3, true},
        {"24 bits in 32, shifted", 24, AV_SAMPLE_FMT_S32P, -3 * 256, true},
        {"24 bits in 32, not shifted", 24, AV_SAMPLE_FMT_S32P, -3, false},
        {"12 bits in 16, shifted", 12, AV_SAMPLE_FMT_S16, 5 * 16, true},
        {"12 bits in 16, not shifted", 12, AV_SAMPLE_FMT_S16, 5, false},
        {"32 bits", 32, AV_SAMPLE_FMT_S32, -7, true},
        {"24 bits in a 16-bit container", 24, AV_SAMPLE_FMT_S16, 0, false},
        {"floating point", 16, AV_SAMPLE_FMT_FLTP, 0, false},
        {"unsigned 8 bits", 8, AV_SAMPLE_FMT_U8, 0, false},
        {"33 bits", 33, AV_SAMPLE_FMT_S32, 0, false},
        {"3 bits", 3, AV_SAMPLE_FMT_S16, 0, false},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Name);
        TFramePtr Frame = MakeAudio(C.Format, 64, C.Value);
        ASSERT_TRUE(Frame);
        TFlacSoundSum Sum(C.Bits), Empty(C.Bits);
        EXPECT_EQ(Sum.Add(Frame.get()), C.Taken);
        uint8_t Got[16], Nothing[16];
        Sum.Finish(Got);
        Empty.Finish(Nothing);
        EXPECT_EQ(std::equal(Got, Got + 16, Nothing), !C.Taken) << "the sum changed exactly when taken";
        // Finish starts afresh.
        Sum.Finish(Got);
        EXPECT_TRUE(std::equal(Got, Got + 16, Nothing));
    }
    TFlacSoundSum Sum(16);
    EXPECT_FALSE(Sum.Add(nullptr));
    // Packed and planar frames of the same samples sum alike, and the order of channels counts.
    TFramePtr Packed = MakeAudio(AV_SAMPLE_FMT_S16, 8, 0), Planar = MakeAudio(AV_SAMPLE_FMT_S16P, 8, 0);
    ASSERT_TRUE(Packed && Planar);
    for (int I = 0; I < 8; ++I) {
        reinterpret_cast<int16_t*>(Packed->data[0])[2 * I] = static_cast<int16_t>(I);
        reinterpret_cast<int16_t*>(Packed->data[0])[2 * I + 1] = static_cast<int16_t>(-I * 300);
        reinterpret_cast<int16_t*>(Planar->extended_data[0])[I] = static_cast<int16_t>(I);
        reinterpret_cast<int16_t*>(Planar->extended_data[1])[I] = static_cast<int16_t>(-I * 300);
    }
    TFlacSoundSum A(16), B(16), Swapped(16);
    ASSERT_TRUE(A.Add(Packed.get()));
    ASSERT_TRUE(B.Add(Planar.get()));
    std::swap(Planar->extended_data[0], Planar->extended_data[1]);
    ASSERT_TRUE(Swapped.Add(Planar.get()));
    std::swap(Planar->extended_data[0], Planar->extended_data[1]);
    uint8_t MA[16], MB[16], MS[16];
    A.Finish(MA);
    B.Finish(MB);
    Swapped.Finish(MS);
    EXPECT_TRUE(std::equal(MA, MA + 16, MB));
    EXPECT_FALSE(std::equal(MA, MA + 16, MS));
}

}  // namespace
}  // namespace zembra::testing
