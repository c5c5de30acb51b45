#include "engine/Mp3Splice.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "binding/EntryPoints.h"
#include "engine/FFmpegException.h"

// Why the frame before a join changes: Layer III keeps a "bit reservoir". A frame's main data
// (scale factors and Huffman codes) need not start in its own slot; main_data_begin says how
// many bytes before the slot it starts, counted back through the slots of the frames before
// (headers and side information do not count). An encoder that had bits to spare in earlier
// frames left them there for later ones.
//
// When the sequence after a join comes from an encoder that was started early, its first kept
// frame G may start its main data in the frames we drop. A decoder reading the joined sequence
// looks back the same main_data_begin(G) bytes, and finds the end of the previous segment's
// last kept frame P instead. So those bytes must be the dropped ones: they go at the very end
// of P's slot, where only the next frame of the old sequence (now gone) or ancillary filler
// was. P's own main data starts main_data_begin(P) bytes before its slot and may run into it;
// that part stays where it is. When the rest of P's slot is too short, P is written again at a
// higher bitrate: a larger frame with the same side information, its main data in the same
// place relative to the slot's start (so main_data_begin(P) holds), zeros, then the borrowed
// bytes. The borrowed bytes must lie wholly after P's own main data: a decoder keeps only what
// follows the previous frame's main data as its reservoir (FFmpeg's does), so G may not reach
// into P's. Frames after G cannot reach back further than G does, since every frame's main data
// starts where the previous one's ended or later.

namespace zembra {

namespace {

// Kilobits per second by bitrate index; 0 (free format) and 15 are not usable.
constexpr int kBitratesMpeg1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
constexpr int kBitratesMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
constexpr int kSampleRatesMpeg1[3] = {44100, 48000, 32000};

constexpr int kFirstBitrateIndex = 1;
constexpr int kLastBitrateIndex = 14;

// Reads big-endian bit fields, never past the end of its span (zeros there, and Failed set).
class TBitReader {
  public:
    TBitReader(std::span<const uint8_t> Data, size_t FirstBit) : FData(Data), FPos(FirstBit) {}
    unsigned Read(int Bits) {
        unsigned V = 0;
        for (int I = 0; I < Bits; ++I, ++FPos) {
            const size_t Byte = FPos / 8;
            unsigned Bit = 0;
            if (Byte < FData.size())
                Bit = (FData[Byte] >> (7 - FPos % 8)) & 1u;
            else
                FFailed = true;
            V = (V << 1) | Bit;
        }
        return V;
    }
    void Skip(int Bits) { FPos += static_cast<size_t>(Bits); }
    bool Failed() const { return FFailed || FPos > FData.size() * 8; }

  private:
    std::span<const uint8_t> FData;
    size_t FPos;
    bool FFailed = false;
};

int BitrateKbps(TMpegVersion Version, int Index) {
    return Version == TMpegVersion::Mpeg1 ? kBitratesMpeg1[Index] : kBitratesMpeg2[Index];
}

int FrameBytes(TMpegVersion Version, int BitrateIndex, int SampleRate, bool Padding) {
    // A Layer III frame holds 1152 samples in MPEG-1 and 576 in MPEG-2 and 2.5.
    const int Coefficient = Version == TMpegVersion::Mpeg1 ? 144 : 72;
    return Coefficient * BitrateKbps(Version, BitrateIndex) * 1000 / SampleRate + (Padding ? 1 : 0);
}

int SideInfoBytesOf(TMpegVersion Version, int Channels) {
    if (Version == TMpegVersion::Mpeg1) return Channels == 1 ? 17 : 32;
    return Channels == 1 ? 9 : 17;
}

// The header fields alone; no length checks beyond its four bytes.
std::optional<TMp3Frame> ParseHeader(std::span<const uint8_t> Data) {
    if (Data.size() < 4) return std::nullopt;
    if (Data[0] != 0xFF || (Data[1] & 0xE0) != 0xE0) return std::nullopt;
    TMp3Frame F;
    switch ((Data[1] >> 3) & 3) {
        case 0:
            F.Version = TMpegVersion::Mpeg25;
            break;
        case 2:
            F.Version = TMpegVersion::Mpeg2;
            break;
        case 3:
            F.Version = TMpegVersion::Mpeg1;
            break;
        default:
            return std::nullopt;
    }
    if (((Data[1] >> 1) & 3) != 1) return std::nullopt;  // Layer III only
    F.Crc = (Data[1] & 1) == 0;
    F.BitrateIndex = Data[2] >> 4;
    if (F.BitrateIndex < kFirstBitrateIndex || F.BitrateIndex > kLastBitrateIndex) return std::nullopt;
    const int RateIndex = (Data[2] >> 2) & 3;
    if (RateIndex == 3) return std::nullopt;
    F.SampleRate = kSampleRatesMpeg1[RateIndex] / (F.Version == TMpegVersion::Mpeg1   ? 1
                                                   : F.Version == TMpegVersion::Mpeg2 ? 2
                                                                                      : 4);
    F.Padding = (Data[2] >> 1) & 1;
    F.Channels = (Data[3] >> 6) == 3 ? 1 : 2;
    F.Size = FrameBytes(F.Version, F.BitrateIndex, F.SampleRate, F.Padding);
    F.HeaderBytes = F.Crc ? 6 : 4;
    F.SideInfoBytes = SideInfoBytesOf(F.Version, F.Channels);
    return F;
}

uint16_t CrcOf(std::span<const uint8_t> Frame, const TMp3Frame& F) {
    uint16_t Crc = 0xFFFF;
    auto Feed = [&Crc](uint8_t Byte) {
        for (int Bit = 7; Bit >= 0; --Bit) {
            const bool In = ((Byte >> Bit) & 1) != 0;
            const bool Top = (Crc & 0x8000) != 0;
            Crc = static_cast<uint16_t>(Crc << 1);
            if (In != Top) Crc ^= 0x8005;
        }
    };
    Feed(Frame[2]);
    Feed(Frame[3]);
    for (int I = 0; I < F.SideInfoBytes; ++I) Feed(Frame[static_cast<size_t>(F.HeaderBytes + I)]);
    return Crc;
}

}  // namespace

std::optional<TMp3Frame> ParseMp3Frame(std::span<const uint8_t> Data) {
    std::optional<TMp3Frame> F = ParseHeader(Data);
    if (!F || Data.size() != static_cast<size_t>(F->Size) || F->SlotBytes() < 0) return std::nullopt;

    const bool Mpeg1 = F->Version == TMpegVersion::Mpeg1;
    TBitReader Side(Data.first(static_cast<size_t>(F->HeaderBytes + F->SideInfoBytes)),
                    static_cast<size_t>(F->HeaderBytes) * 8);
    int Granules, GranuleChannelBits;
    if (Mpeg1) {
        F->MainDataBegin = static_cast<int>(Side.Read(9));
        Side.Skip(F->Channels == 1 ? 5 : 3);  // private bits
        Side.Skip(4 * F->Channels);           // scfsi
        Granules = 2;
        GranuleChannelBits = 59;
    } else {
        F->MainDataBegin = static_cast<int>(Side.Read(8));
        Side.Skip(F->Channels == 1 ? 1 : 2);  // private bits
        Granules = 1;
        GranuleChannelBits = 63;
    }
    int Bits = 0;
    for (int I = 0; I < Granules * F->Channels; ++I) {
        Bits += static_cast<int>(Side.Read(12));  // part2_3_length
        Side.Skip(GranuleChannelBits - 12);
    }
    if (Side.Failed()) return std::nullopt;
    F->MainDataBytes = (Bits + 7) / 8;
    // Main data that would run past its own slot is no frame a decoder can take.
    if (F->OwnSlotBytes() > F->SlotBytes()) return std::nullopt;
    return F;
}

int Mp3MainDataBegin(std::span<const uint8_t> Frame) {
    const std::optional<TMp3Frame> F = ParseMp3Frame(Frame);
    return F ? F->MainDataBegin : -1;
}

int Mp3FreeTail(std::span<const uint8_t> Frame) {
    const std::optional<TMp3Frame> F = ParseMp3Frame(Frame);
    return F ? F->SlotBytes() - F->OwnSlotBytes() : -1;
}

std::optional<std::vector<uint8_t>> BorrowedBytes(const std::vector<std::span<const uint8_t>>& Dropped,
                                                  std::span<const uint8_t> FirstKept) {
    const int Wanted = Mp3MainDataBegin(FirstKept);
    if (Wanted < 0) return std::nullopt;
    std::vector<uint8_t> Bytes(static_cast<size_t>(Wanted));
    // Filled from the back, newest dropped frame first, until the borrowed count is met.
    size_t Missing = Bytes.size();
    for (auto It = Dropped.rbegin(); It != Dropped.rend() && Missing > 0; ++It) {
        const std::optional<TMp3Frame> F = ParseMp3Frame(*It);
        if (!F) return std::nullopt;
        const std::span<const uint8_t> Slot =
            It->subspan(static_cast<size_t>(F->HeaderBytes + F->SideInfoBytes));
        const size_t Take = std::min(Missing, Slot.size());
        std::memcpy(Bytes.data() + (Missing - Take), Slot.data() + (Slot.size() - Take), Take);
        Missing -= Take;
    }
    if (Missing > 0) return std::nullopt;
    return Bytes;
}

std::optional<std::vector<uint8_t>> CarryReservoir(std::span<const uint8_t> Previous,
                                                   std::span<const uint8_t> Borrowed) {
    const std::optional<TMp3Frame> P = ParseMp3Frame(Previous);
    if (!P) return std::nullopt;
    const size_t Own = static_cast<size_t>(P->OwnSlotBytes());
    const size_t Fixed = static_cast<size_t>(P->HeaderBytes + P->SideInfoBytes);

    if (static_cast<size_t>(P->SlotBytes()) - Own >= Borrowed.size()) {
        std::vector<uint8_t> Out(Previous.begin(), Previous.end());
        if (!Borrowed.empty())
            std::memcpy(Out.data() + Out.size() - Borrowed.size(), Borrowed.data(), Borrowed.size());
        return Out;
    }

    // The smallest frame of the same kind that holds both; a padding byte is cheaper than the
    // next bitrate, and may be all that is missing.
    int BestIndex = 0, BestSize = 0;
    bool BestPadding = false;
    for (int Index = kFirstBitrateIndex; Index <= kLastBitrateIndex; ++Index)
        for (const bool Padding : {false, true}) {
            const int Size = FrameBytes(P->Version, Index, P->SampleRate, Padding);
            const size_t Slot = static_cast<size_t>(Size) - Fixed;
            if (Slot >= Own + Borrowed.size() && (BestSize == 0 || Size < BestSize)) {
                BestIndex = Index;
                BestSize = Size;
                BestPadding = Padding;
            }
        }
    if (BestSize == 0) return std::nullopt;

    std::vector<uint8_t> Out(static_cast<size_t>(BestSize), 0);
    std::memcpy(Out.data(), Previous.data(), Fixed + Own);
    Out[2] = static_cast<uint8_t>((BestIndex << 4) | (Previous[2] & 0x0C) | (BestPadding ? 0x02 : 0) |
                                  (Previous[2] & 0x01));
    std::memcpy(Out.data() + Out.size() - Borrowed.size(), Borrowed.data(), Borrowed.size());
    if (P->Crc) {
        TMp3Frame Rewritten = *P;
        Rewritten.Size = BestSize;
        const uint16_t Crc = CrcOf(Out, Rewritten);
        Out[4] = static_cast<uint8_t>(Crc >> 8);
        Out[5] = static_cast<uint8_t>(Crc & 0xFF);
    }
    return Out;
}

int64_t ChooseMp3Splice(const std::deque<TPacketPtr>& Tail, const std::deque<TPacketPtr>& Next,
                        int64_t Planned, int64_t Window, int FrameSize) {
    int64_t Best = Planned;
    int BestCost = INT_MAX;
    for (size_t I = 1; I < Next.size(); ++I) {
        const int64_t At = Next[I]->pts;
        if (At < Planned - Window || At > Planned + Window) continue;
        const auto Previous = std::find_if(Tail.begin(), Tail.end(),
                                           [&](const TPacketPtr& P) { return P->pts + P->duration == At; });
        if (Previous == Tail.end()) continue;
        const int Borrowed = Mp3MainDataBegin({Next[I]->data, static_cast<size_t>(Next[I]->size)});
        const int Free = Mp3FreeTail({(*Previous)->data, static_cast<size_t>((*Previous)->size)});
        if (Borrowed < 0 || Free < 0) continue;
        // Cost: bytes the previous frame must grow by, then the distance from the plan.
        const int Grow = std::max(0, Borrowed - Free);
        const int Cost = Grow * 1000 + static_cast<int>(std::llabs(At - Planned) / FrameSize);
        if (Cost < BestCost) {
            BestCost = Cost;
            Best = At;
        }
    }
    return Best;
}

bool CarryMp3Reservoir(std::deque<TPacketPtr>& Tail, const std::deque<TPacketPtr>& Next, int64_t Splice) {
    if (Tail.empty()) return true;
    std::vector<std::span<const uint8_t>> Dropped;
    const AVPacket* FirstKept = nullptr;
    for (const TPacketPtr& P : Next) {
        if (P->pts < Splice)
            Dropped.emplace_back(P->data, static_cast<size_t>(P->size));
        else if (!FirstKept)
            FirstKept = P.get();
    }
    if (!FirstKept) return true;
    const auto Borrowed = BorrowedBytes(Dropped, {FirstKept->data, static_cast<size_t>(FirstKept->size)});
    if (!Borrowed || Borrowed->empty()) return true;
    AVPacket* Previous = Tail.back().get();
    const auto Rewritten = CarryReservoir({Previous->data, static_cast<size_t>(Previous->size)}, *Borrowed);
    if (!Rewritten) return false;
    TPacketPtr Grown = MakePacket();
    if (!Grown || lavc.av_new_packet(Grown.get(), static_cast<int>(Rewritten->size())) < 0)
        throw FFmpegException("Out of memory for an MP3 frame grown to carry the next one's data");
    if (lavc.av_packet_copy_props(Grown.get(), Previous) < 0)
        throw FFmpegException(
            "An MP3 frame grown to carry the next one's data could not take its packet's times");
    std::memcpy(Grown->data, Rewritten->data(), Rewritten->size());
    Tail.back() = std::move(Grown);
    return true;
}

}  // namespace zembra
