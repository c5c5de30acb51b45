#include "engine/DecodeAhead.h"

#include <sched.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

#include "binding/EntryPoints.h"
#include "engine/FFmpegException.h"

namespace zembra {

namespace {

std::atomic<int> gRunningLoops{0};
std::atomic<int64_t> gDecodeAheadRuns{0};

int ProcessorCount() {
    static const int Count = [] {
        cpu_set_t Set;
        CPU_ZERO(&Set);
        if (sched_getaffinity(0, sizeof(Set), &Set) == 0 && CPU_COUNT(&Set) > 0) return CPU_COUNT(&Set);
        const unsigned Hardware = std::thread::hardware_concurrency();
        return Hardware > 0 ? static_cast<int>(Hardware) : 1;
    }();
    return Count;
}

// How many items of a stream may wait. Pictures are large: a few. A frame of sound is small
// and quickly encoded, and the helper, woken when the ring is half empty, would otherwise be
// woken every few frames; a wake costs more than decoding a frame of sound. So sound gets about
// a megabyte of frames, between 16 and 128 of them.
size_t SlotsFor(const AVCodecParameters* Par) {
    constexpr size_t kPictures = 4;
    constexpr size_t kSoundBytes = size_t{1} << 20;
    constexpr size_t kOtherPackets = 16;
    if (Par->codec_type == AVMEDIA_TYPE_VIDEO) return kPictures;
    if (Par->codec_type != AVMEDIA_TYPE_AUDIO) return kOtherPackets;
    const size_t Samples = Par->frame_size > 0 ? static_cast<size_t>(Par->frame_size) : 1024;
    const size_t Channels =
        Par->ch_layout.nb_channels > 0 ? static_cast<size_t>(Par->ch_layout.nb_channels) : 2;
    return std::clamp<size_t>(kSoundBytes / (Samples * Channels * sizeof(float)), 16, 128);
}

// Outside work can take the processors too: then the two threads share what is left, and the
// hand-off is work the one-thread loop does not do. The helper looks at the machine's idle
// time twice a second and hands back after two readings in a row with less than a tenth of a
// processor idle (its own thread and the job's count as busy): only a machine that has more
// work than processors leaves none idle, while a desktop's light outside work leaves room.
constexpr int64_t kLoadInterval = 500000;  // microseconds
constexpr double kBusyBelowIdle = 0.1;
constexpr int kBusyReadings = 2;

}  // namespace

TRunningLoop::TRunningLoop() {
    gRunningLoops.fetch_add(1);
}

TRunningLoop::~TRunningLoop() {
    gRunningLoops.fetch_sub(1);
}

bool TRunningLoop::FreeProcessor() {
    return gRunningLoops.load() < ProcessorCount();
}

int TRunningLoop::Processors() {
    return ProcessorCount();
}

int TRunningLoop::Running() {
    return gRunningLoops.load();
}

int64_t DecodeAheadRunCount() {
    return gDecodeAheadRuns.load();
}

bool DecodeAheadAllowed(const char* Setting) {
    return !Setting || std::strcmp(Setting, "0") != 0;
}

class TDecodeAhead::TReader : public TThread {
  public:
    explicit TReader(TDecodeAhead& Owner) : FOwner(Owner) {}

  protected:
    void Execute() override { FOwner.Read(); }

  private:
    TDecodeAhead& FOwner;
};

TDecodeAhead::TDecodeAhead(TTranscoder& Owner, TPauseGate& Gate, size_t Capacity)
    : FOwner(Owner), FGate(Gate), FQueue(Capacity) {}

TDecodeAhead::~TDecodeAhead() {
    FLeave.store(true);
    FQueue.Close();
    FGate.Wake();
    if (FThread) FThread->WaitFor();
}

void TDecodeAhead::Start() {
    FPacket = MakePacket();
    if (!FPacket) throw FFmpegException("av_mallocz fail");
    FClocks.clear();
    for (const TInputStreamState& Ist : FOwner.FInputs) FClocks.push_back(Ist.Clock);
    FLoadKnown = ReadProcessorTimes(FLoad);
    FLoadReadAt = lavu.av_gettime_relative();
    FThread = std::make_unique<TReader>(*this);
    FThread->Resume();
}

void TDecodeAhead::Finish() {
    if (FThread) FThread->WaitFor();
}

bool TDecodeAhead::MachineBusy() {
    if (!FLoadKnown) return false;
    const int64_t Now = lavu.av_gettime_relative();
    if (Now - FLoadReadAt < kLoadInterval) return false;
    TProcessorTimes Load;
    if (!ReadProcessorTimes(Load)) return false;
    FBusyReadings = IdleProcessors(FLoad, Load) < kBusyBelowIdle ? FBusyReadings + 1 : 0;
    FLoad = Load;
    FLoadReadAt = Now;
    return FBusyReadings >= kBusyReadings;
}

int TDecodeAhead::IndexOf(const TInputStreamState& Ist) const {
    return static_cast<int>(&Ist - FOwner.FInputs.data());
}

TDecodedItem* TDecodeAhead::BeginItem(TDecodedItem::TKind Kind, int Input) {
    TDecodedItem* Item = FQueue.BeginPush();
    if (!Item) return nullptr;  // a closed queue: the job's thread has gone
    Item->Kind = Kind;
    Item->Input = Input;
    Item->Message.clear();
    Item->Failure = nullptr;
    Item->Clocks.assign(FClocks.begin(), FClocks.end());
    return Item;
}

void TDecodeAhead::Pass(TDecodedItem::TKind Kind, int Input) {
    if (BeginItem(Kind, Input)) FQueue.EndPush();
}

void TDecodeAhead::PassError(int Input, std::string Message, std::exception_ptr Failure) {
    TDecodedItem* Item = BeginItem(TDecodedItem::TKind::Error, Input);
    if (!Item) return;
    Item->Message = std::move(Message);
    Item->Failure = std::move(Failure);
    FQueue.EndPush();
}

namespace {

// Whether Kept, a frame of an earlier item, can take Next's content in its own buffers: it
// shares them with nothing (the job's thread lets go of a frame someone still holds) and has
// Next's shape.
bool FitsInto(const AVFrame* Kept, const AVFrame* Next) {
    return Kept->buf[0] && Kept->format == Next->format && Kept->width == Next->width &&
           Kept->height == Next->height && Kept->nb_samples == Next->nb_samples &&
           lavu.av_channel_layout_compare(&Kept->ch_layout, &Next->ch_layout) == 0 &&
           lavu.av_frame_is_writable(const_cast<AVFrame*>(Kept)) > 0;
}

// Drops what av_frame_copy_props adds to rather than replaces.
void ClearProps(AVFrame* Frame) {
    while (Frame->nb_side_data > 0) lavu.av_frame_remove_side_data(Frame, Frame->side_data[0]->type);
    lavu.av_dict_free(&Frame->metadata);
    lavu.av_buffer_unref(&Frame->opaque_ref);
}

}  // namespace

void TDecodeAhead::PassFrame(TInputStreamState& Ist, AVFrame* Frame) {
    TDecodedItem* Item = BeginItem(TDecodedItem::TKind::Frame, IndexOf(Ist));
    if (!Item) return;
    // The frame crosses as a copy in buffers of the slot's own. The decoder's buffers come from
    // its pools, which its later frames and its closing use on this thread: which thread lets
    // go of such a buffer last, returning it to a pool or freeing the pool, would depend on
    // timing, and the library's reference counts, which order that, are invisible to
    // ThreadSanitizer. A copy costs little beside decoding, and it is made on the helper's
    // processor.
    if (!Item->Frame) Item->Frame = MakeFrame();
    AVFrame* Copy = Item->Frame.get();
    if (!Copy) throw FFmpegException("av_mallocz fail");
    if (FitsInto(Copy, Frame)) {
        ClearProps(Copy);
    } else {
        lavu.av_frame_unref(Copy);
        Copy->format = Frame->format;
        Copy->width = Frame->width;
        Copy->height = Frame->height;
        Copy->nb_samples = Frame->nb_samples;
        if (lavu.av_channel_layout_copy(&Copy->ch_layout, &Frame->ch_layout) < 0 ||
            lavu.av_frame_get_buffer(Copy, 0) < 0)
            throw FFmpegException("av_malloc failed");
    }
    if (lavu.av_frame_copy(Copy, Frame) < 0 || lavu.av_frame_copy_props(Copy, Frame) < 0)
        throw FFmpegException("av_malloc failed");
    FQueue.EndPush();
}

void TDecodeAhead::PassPacket(TInputStreamState& Ist, const AVPacket* Packet) {
    TDecodedItem* Item = BeginItem(TDecodedItem::TKind::Packet, IndexOf(Ist));
    if (!Item) return;
    if (!Item->Packet) Item->Packet = MakePacket();
    if (!Item->Packet || lavc.av_packet_ref(Item->Packet.get(), Packet) < 0)
        throw FFmpegException("av_mallocz fail");
    FQueue.EndPush();
}

// The helper's loop: the one-thread loop's reading and decoding for a job of one input file.
void TDecodeAhead::Read() {
    TTranscoder& T = FOwner;
    constexpr int File = 0;
    AVFormatContext* Ic = T.FJob.InputFile(File);
    const TInputFileState& FileState = T.FInputFiles[File];
    try {
        for (;;) {
            FGate.WaitUnless([this] { return FLeave.load(); });
            if (FLeave.load()) return;
            if (T.FJob.StopRequested()) return Pass(TDecodedItem::TKind::End);
            if (!TRunningLoop::FreeProcessor() || MachineBusy()) return Pass(TDecodedItem::TKind::HandBack);
            AVPacket* Pkt = FPacket.get();
            const int ReadResult = lavf.av_read_frame(Ic, Pkt);
            if (ReadResult == AVERROR(EAGAIN)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            if (ReadResult < 0) return Pass(TDecodedItem::TKind::End);
            if (T.S.DoPktDump)
                lavf.av_pkt_dump_log2(nullptr, AV_LOG_DEBUG, Pkt, T.S.DoHexDump ? 1 : 0,
                                      Ic->streams[Pkt->stream_index]);
            const int Index = FileState.FirstIndex + Pkt->stream_index;
            if (Pkt->stream_index < FileState.StreamCount && !T.FInputs[Index].Discard) {
                TInputStreamState& Ist = T.FInputs[Index];
                TStreamClock& Clock = FClocks[static_cast<size_t>(Index)];
                T.CorrectPacketTimes(File, Ist, Clock, Pkt);
                if (T.ProcessInputPacket(Ist, Pkt, Clock, this) < 0)
                    PassError(Index, T.DecodeErrorText(Ist), nullptr);
            }
            lavc.av_packet_unref(Pkt);
        }
    } catch (...) {
        // The job's thread throws it in its place; nothing more comes after it.
        PassError(-1, std::string(), std::current_exception());
    }
}

bool TTranscoder::DecodeAheadPossible() const {
    if (S.DecodeAhead == 0 || !DecodeAheadAllowed(std::getenv("ZEMBRA_DECODE_AHEAD")) || FJob.FJoined ||
        FJob.FInputFileCount != 1)
        return false;
    // A limit that ends the loop before the input ends would find the decoders further on than
    // the one-thread loop leaves them, and the frames they still give up at the end would differ.
    if (S.RecordingTime != INT64_MAX || S.LimitFileSize != 0 || S.RateEmu) return false;
    for (const int32_t Limit : S.MaxFrames)
        if (Limit != INT_MAX) return false;
    bool Decoding = false;
    for (const TInputStreamState& Ist : FInputs) {
        if (Ist.Discard || !Ist.DecodingNeeded) continue;
        // Subtitles are encoded as they are decoded.
        if (Ist.St->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) return false;
        Decoding = true;
    }
    return Decoding;
}

bool TTranscoder::RunDecodeAhead() {
    size_t Capacity = 0;
    for (const TInputStreamState& Ist : FInputs)
        if (!Ist.Discard) Capacity += SlotsFor(Ist.St->codecpar);
    TDecodeAhead Ahead(*this, FJob.FPauseGate, Capacity);
    Ahead.Start();
    gDecodeAheadRuns.fetch_add(1);
    int64_t LastReport = FRunStart;
    TDecodedQueue& Queue = Ahead.Queue();
    for (;;) {
        FJob.PauseCheckpoint();
        // The helper always ends with End or HandBack (or an error), so BeginPop does not fail.
        TDecodedItem* Item = Queue.BeginPop();
        if (!Item) return true;
        if (Item->Clocks.size() == FInputs.size())
            for (size_t I = 0; I < FInputs.size(); ++I) FInputs[I].Clock = Item->Clocks[I];
        switch (Item->Kind) {
            case TDecodedItem::TKind::End:
                Queue.EndPop();
                Ahead.Finish();
                FInputFiles[0].Ended = true;
                return true;
            case TDecodedItem::TKind::HandBack:
                Queue.EndPop();
                Ahead.Finish();
                return false;
            case TDecodedItem::TKind::Error:
                if (Item->Failure) {
                    const std::exception_ptr Failure = Item->Failure;
                    Queue.EndPop();
                    std::rethrow_exception(Failure);
                }
                ReportDecodeError(Item->Message);
                break;
            case TDecodedItem::TKind::Frame: {
                AVFrame* Frame = Item->Frame.get();
                HandleDecodedFrame(FInputs[static_cast<size_t>(Item->Input)], Frame);
                // The helper writes the next frame into these buffers: not while a filter or
                // an encoder of this thread still holds them.
                if (!Frame->buf[0] || lavu.av_frame_is_writable(Frame) <= 0) lavu.av_frame_unref(Frame);
                break;
            }
            case TDecodedItem::TKind::Packet:
                CopyToOutputs(FInputs[static_cast<size_t>(Item->Input)], Item->Packet.get());
                lavc.av_packet_unref(Item->Packet.get());
                break;
        }
        Queue.EndPop();
        const int64_t Now = lavu.av_gettime_relative();
        if (Now - LastReport > FJob.FProgressInterval) {
            LastReport = Now;
            ReportProgress(false);
        }
    }
}

}  // namespace zembra
