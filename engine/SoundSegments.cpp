#include "engine/SoundSegments.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "engine/DecodeAhead.h"
#include "engine/EncoderParameters.h"
#include "engine/FlacSplice.h"
#include "engine/Mp3Splice.h"
#include "engine/SampleLevels.h"
#include "engine/Transcoder.h"
#include "protocol/UnicodeProtocol.h"
#include "logging/FFmpegLogger.h"
#include "util/NumericCasts.h"
#include "util/StringUtils.h"

namespace zembra {

namespace {

std::atomic<int64_t> gSegmentedRuns{0};
std::atomic<int64_t> gRunsOn{0};

// The pre-roll warms a segment's decoder and encoder up (a decoder's first frame after a seek
// lacks what the frames before would have given it, an encoder's first frames lack their
// look-back); the post-roll lets the encoder see the sound past the segment's end, so that its
// last kept frame overlaps the next segment's first as the one-thread encode's frames do.
constexpr double kPreRollSeconds = 1.0;
// The AAC encoder settles its rate control over several seconds: its segments start earlier.
constexpr double kAacPreRollSeconds = 6.0;
constexpr double kPostRollSeconds = 0.5;
// MP3 splices look this far to either side of the planned start for a frame that borrows
// nothing from the frames before it.
constexpr double kSpliceWindowSeconds = 0.4;
// A later segment's first frames, by their place in the file, that the segment before it
// checks its placing against.
constexpr size_t kAnchors = 64;

// Encoders whose splice is proven by the tests: frames that stand alone (PCM, FLAC once
// renumbered), or transforms whose overlap a pre-roll rebuilds. Vorbis and Opus change their
// block sizes with the sound, which a splice of two encoders cannot match: they stay on one
// thread.
bool SplicedCodec(AVCodecID Id) {
    switch (Id) {
        case AV_CODEC_ID_MP3:
        case AV_CODEC_ID_MP2:
        case AV_CODEC_ID_AAC:
        case AV_CODEC_ID_AC3:
        case AV_CODEC_ID_WMAV2:
        case AV_CODEC_ID_FLAC:
        case AV_CODEC_ID_PCM_S16LE:
        case AV_CODEC_ID_PCM_S16BE:
        case AV_CODEC_ID_PCM_S24LE:
        case AV_CODEC_ID_PCM_S32LE:
        case AV_CODEC_ID_PCM_F32LE:
        case AV_CODEC_ID_PCM_U8:
        case AV_CODEC_ID_PCM_MULAW:
        case AV_CODEC_ID_PCM_ALAW:
            return true;
        default:
            return false;
    }
}

// A time base whose ticks are whole samples, or whole parts of one (MP3's 1/14112000),
// places each frame to the sample.
bool ExactTimeBase(AVRational Tb, int Rate) {
    if (Tb.num <= 0 || Tb.den <= 0 || Rate <= 0) return false;
    const int64_t Sample = static_cast<int64_t>(Tb.num) * Rate;
    return Sample % Tb.den == 0 || Tb.den % Sample == 0;
}

// Decoders whose output from a little before any point on is the same as from the start:
// others draw random noise (AAC's noise substitution, AC-3's dither) whose sequence depends on
// where decoding began, so that no split gives a lossless output the one-thread samples.
bool DecodesAlikeFromAnyStart(AVCodecID Id) {
    return (Id >= AV_CODEC_ID_FIRST_AUDIO && Id < AV_CODEC_ID_ADPCM_IMA_QT) || Id == AV_CODEC_ID_FLAC ||
           Id == AV_CODEC_ID_ALAC || Id == AV_CODEC_ID_WAVPACK || Id == AV_CODEC_ID_TTA ||
           Id == AV_CODEC_ID_MP3 || Id == AV_CODEC_ID_MP2 || Id == AV_CODEC_ID_MP1;
}

// Source codecs whose every frame holds the same number of samples: where the container's
// timestamps are coarser than a sample (Matroska's milliseconds), a frame's place is the whole
// number of frames nearest its time.
bool FixedFrameSource(AVCodecID Id) {
    return Id == AV_CODEC_ID_MP3 || Id == AV_CODEC_ID_MP2 || Id == AV_CODEC_ID_AAC || Id == AV_CODEC_ID_AC3 ||
           Id == AV_CODEC_ID_EAC3 || Id == AV_CODEC_ID_DTS;
}

// Whether the sound's own times run on without a hole or an overlap: where they jump, the
// one-thread run closes the hole up (or plays the overlap once), which a segment placed by its
// first frame's time cannot match. "" when they run even, or when nothing tells (no durations):
// the run's own check then falls back to one thread if it finds a jump. A container's index is
// read where it lists every packet (MP4); else the packets' times, without their sound.
std::string UnevenTimeline(const AVFormatContext* Source, int StreamIndex, const TFileIdentity& Identity) {
    // The index is read, never changed; its reader only takes a stream it may change.
    AVStream* St = Source->streams[StreamIndex];
    const AVCodecParameters* Par = St->codecpar;
    auto Jump = [&](int64_t Expected, int64_t Found) {
        return Format("the sound's times jump by %.3f s at %.3f s",
                      (Found - Expected) * av_q2d(St->time_base), Found * av_q2d(St->time_base));
    };
    // Half a frame, and the container's rounding (Matroska's milliseconds), is no jump.
    auto Tolerance = [](int64_t Duration) { return Duration / 2 + 1; };
    const int Entries = lavf.avformat_index_get_entries_count(St);
    if (Par->frame_size > 0 && Par->sample_rate > 0 && St->duration > 0 && Entries > 1) {
        const int64_t Frame = lavu.av_rescale_q(Par->frame_size, {1, Par->sample_rate}, St->time_base);
        if (Frame > 0 && Entries >= St->duration / Frame) {
            for (int I = 1; I < Entries; ++I) {
                const AVIndexEntry* A = lavf.avformat_index_get_entry(St, I - 1);
                const AVIndexEntry* B = lavf.avformat_index_get_entry(St, I);
                if (!A || !B) return "";
                if (std::llabs(B->timestamp - (A->timestamp + Frame)) > Tolerance(Frame))
                    return Jump(A->timestamp + Frame, B->timestamp);
            }
            return "";
        }
    }
    int Error = 0;
    bool Replaced = false;
    TReopenedInputPtr Input = ReopenInput(Source, Identity, Error, Replaced);
    if (!Input || StreamIndex >= static_cast<int>(Input->nb_streams)) return "";
    for (unsigned I = 0; I < Input->nb_streams; ++I)
        if (static_cast<int>(I) != StreamIndex) Input->streams[I]->discard = AVDISCARD_ALL;
    TPacketPtr Packet = MakePacket();
    if (!Packet) return "";
    // Where every frame holds the same number of samples, that is a packet's length: an MP4
    // stretches the packet before a hole over it, Matroska gives none.
    const int64_t FixedFrame = Par->frame_size > 0 && Par->sample_rate > 0 && FixedFrameSource(Par->codec_id)
                                   ? lavu.av_rescale_q(Par->frame_size, {1, Par->sample_rate}, St->time_base)
                                   : 0;
    int64_t Next = AV_NOPTS_VALUE, Last = 0;
    while (lavf.av_read_frame(Input.get(), Packet.get()) >= 0) {
        const int64_t Pts = Packet->pts, Duration = FixedFrame > 0 ? FixedFrame : Packet->duration;
        const bool Ours = Packet->stream_index == StreamIndex;
        lavc.av_packet_unref(Packet.get());
        if (!Ours) continue;
        if (Pts == AV_NOPTS_VALUE || Duration <= 0) return "";
        if (Next != AV_NOPTS_VALUE && std::llabs(Pts - Next) > Tolerance(Last)) return Jump(Next, Pts);
        Next = Pts + Duration;
        Last = Duration;
    }
    return "";
}

// Where a later segment stands on the output's timeline.
enum class TPlacing { Unknown, Placed, Unplaceable };

// Output samples as planned for one segment's thread: the packets it made, and where it got to.
struct TSegment {
    size_t Index = 0;
    TSegmentSpan Span;       // the sound decoded
    int64_t EncodeFrom = 0;  // and the first of it encoded
    int64_t Start = 0;       // the planned first kept sample
    int64_t NextStart = 0;   // and the next segment's
    TReopenedInputPtr Input;
    int StreamIndex = 0;
    TCodecContextPtr Decoder;
    AVCodecContext* Encoder = nullptr;  // the job's own for the first segment
    TCodecContextPtr OwnEncoder;
    TSwrPtr Swr;
    AVSampleFormat SwrFormat = AV_SAMPLE_FMT_NONE;
    AVChannelLayout SwrLayout{};
    TAudioFifoPtr Fifo;
    TFramePtr Decoded, ToEncode;
    TPacketPtr Packet;
    std::vector<uint8_t*> Planes;
    TAvBufferPtr PlaneData;
    int PlaneCapacity = 0;
    int64_t NextPts = 0;              // encoder samples sent, from Span.From
    int64_t Position = INT64_MIN;     // output sample of the next decoded sample
    std::atomic<int64_t> Reached{0};  // output samples encoded, for progress
    // An earlier segment encodes on through this one's part: it stops, and nothing it made is
    // used.
    std::atomic<bool> Dropped{false};
    // This one encodes on to the end of the sound, the segments after it dropped.
    std::atomic<bool> RunsOn{false};
    // Its own thread's: a frame's time disagreed with the samples counted before it (a hole or
    // an overlap in the sound's timeline), and where each frame it decoded came from in the file
    // (its byte position) with the output sample it was counted at.
    bool Uneven = false;
    bool Checked = false;  // whether it has asked RunOn
    std::vector<std::pair<int64_t, int64_t>> Seen;
    // Guarded by the run's lock.
    std::deque<TPacketPtr> Packets;
    bool Closed = false;
    bool ReachedEnd = false;  // the source ended before the segment's end
    TPlacing Placing = TPlacing::Unknown;
    // The byte positions of its first frames with the output samples their times placed them at.
    std::vector<std::pair<int64_t, int64_t>> Anchors;
    std::unique_ptr<TThread> Thread;

    ~TSegment() { lavu.av_channel_layout_uninit(&SwrLayout); }
};

class TSegmentThread : public TThread {
  public:
    explicit TSegmentThread(std::function<void()> Body) : FBody(std::move(Body)) {}

  protected:
    void Execute() override { FBody(); }

  private:
    std::function<void()> FBody;
};

}  // namespace

bool SegmentsAllowed(const char* Setting) {
    return !Setting || std::strcmp(Setting, "0") != 0;
}

int64_t SegmentedRunCount() {
    return gSegmentedRuns.load();
}

int64_t SegmentRunOnCount() {
    return gRunsOn.load();
}

std::vector<int64_t> PlanSegments(int64_t Samples, int FrameSize, int Wanted, int64_t MinSamples) {
    if (FrameSize <= 0 || Samples <= 0 || Wanted < 2) return {0};
    const int64_t Count = std::min<int64_t>(Wanted, Samples / std::max<int64_t>(MinSamples, 1));
    if (Count < 2) return {0};
    std::vector<int64_t> Starts;
    for (int64_t K = 0; K < Count; ++K) {
        const auto Start = static_cast<int64_t>(static_cast<__int128>(Samples) * K / Count);
        Starts.push_back(Start / FrameSize * FrameSize);
    }
    return Starts;
}

TSegmentSpan SegmentSpan(std::span<const int64_t> Starts, size_t Index, int64_t PreRoll, int64_t PostRoll) {
    TSegmentSpan Span;
    Span.From = Index == 0 ? 0 : std::max<int64_t>(Starts[Index] - PreRoll, 0);
    Span.To = Index + 1 < Starts.size() ? Starts[Index + 1] + PostRoll : INT64_MAX;
    return Span;
}

// The run of one job's sound in segments. Every segment thread reads its own opening of the
// input; the job's thread only muxes, in order, and reports.
class TSoundSegmentRun {
  public:
    TSoundSegmentRun(TTranscoder& Owner, TPauseGate& Gate, bool Cut, TOutputStreamState& Ost,
                     TInputStreamState& Ist, std::vector<int64_t> Starts)
        : T(Owner), FGate(Gate), FCut(Cut), FOst(Ost), FIst(Ist), FStarts(std::move(Starts)) {}

    ~TSoundSegmentRun() {
        Leave();
        for (auto& G : FSegments)
            if (G->Thread) G->Thread->WaitFor();
    }

    // Opens what each segment reads and encodes with; false when the input reads differently
    // opened again, and the job is better run on one thread.
    bool Open();
    void Start();
    // Muxes the segments' packets in order until the last; false when the run was stopped.
    bool MuxInOrder();
    // The output time the segments have reached together, in seconds.
    double Position() const;

  private:
    void Leave() {
        FLeave.store(true);
        FChanged.notify_all();
        FGate.Wake();
    }
    void Encode(TSegment& G);
    void TakeFrame(TSegment& G, AVFrame* F);
    void FeedEncoder(TSegment& G, AVFrame* F, int First, int Count);
    void SendFrames(TSegment& G, bool Final);
    void ReceivePackets(TSegment& G);
    void Finish(TSegment& G, bool ReachedEnd);
    // Once G has decoded its part: whether it goes on to the end of the sound instead, because
    // the next segment cannot be placed where the one-thread run has its sound (a timeline
    // with holes, or times that drifted from the samples), so that the output stays that sound.
    bool RunOn(TSegment& G);
    // Records how G was placed (once), and where a frame at FilePosition (unless negative) was.
    void Place(TSegment& G, TPlacing Placing, int64_t FilePosition, int64_t At);
    // Where a decoded frame starts in the source's samples (INT64_MIN: it has no time), and
    // whether that is exact.
    int64_t FrameSourceSample(const AVFrame* F, bool& Exact) const;
    // Waits for the next packet of G (null once G is closed and empty); rethrows a segment's
    // failure, reports progress meanwhile.
    TPacketPtr Next(TSegment& G);
    void Write(TPacketPtr Packet);

    TTranscoder& T;
    TPauseGate& FGate;
    const bool FCut;
    TOutputStreamState& FOst;
    TInputStreamState& FIst;
    std::vector<int64_t> FStarts;
    std::vector<std::unique_ptr<TSegment>> FSegments;
    std::unique_ptr<TFlacJoin> FFlac;
    int FRate = 0;
    int FFrameSize = 0;
    int64_t FDelay = 0;  // the encoder's priming samples: packets start this far early
    int64_t FPreRoll = 0, FPostRoll = 0;
    int64_t FEnd = INT64_MAX;  // the output sample the sound ends at on a cut
    AVRational FSourceTb{0, 1};
    bool FExactTimes = true;
    int FSourceFrame = 0;
    int64_t FOffsetUs = 0;
    std::atomic<bool> FLeave{false};
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    std::exception_ptr FFailure;
    bool FOriginKnown = false;
    int64_t FOrigin = 0;      // the source sample that is output sample 0
    int64_t FFrameStart = 0;  // the source sample where the frame holding it starts
    int64_t FGrid = 0;        // and where that frame ends, a frame's bound
    double FReported = 0.0;
    int64_t FLastReport = 0;
};

bool TSoundSegmentRun::Open() {
    AVCodecContext* Job = FOst.Enc->Codec;
    FRate = Job->sample_rate;
    FFrameSize = Job->frame_size > 0 ? Job->frame_size : 1;
    FDelay = Job->initial_padding;
    const double PreRoll = Job->codec_id == AV_CODEC_ID_AAC ? kAacPreRollSeconds : kPreRollSeconds;
    FPreRoll = (static_cast<int64_t>(PreRoll * FRate) / FFrameSize + 1) * FFrameSize;
    // Lossless frames stand alone: their encoder starts at the segment's start, while the
    // source's decoder still warms up over the pre-roll (a lossy source's first frame after a
    // seek decodes wrong).
    const bool EncoderFromStart = Job->codec_id == AV_CODEC_ID_FLAC;
    if (EncoderFromStart) FFlac = std::make_unique<TFlacJoin>(FOst.St->codecpar, FFrameSize);
    FPostRoll = static_cast<int64_t>(kPostRollSeconds * FRate) + FDelay + 2 * FFrameSize;
    FSourceTb = FIst.St->time_base;
    // A time base whose every tick is a whole number of samples places each frame exactly.
    FExactTimes = ExactTimeBase(FSourceTb, FRate);
    FSourceFrame = FIst.St->codecpar->frame_size;
    FOffsetUs = T.FJob.InputFileTsOffset(FIst.FileIndex);
    const AVFormatContext* Source = T.FJob.InputFile(FIst.FileIndex);
    if (T.S.RecordingTime != INT64_MAX) FEnd = lavu.av_rescale(T.S.RecordingTime, FRate, AV_TIME_BASE);
    for (size_t K = 0; K < FStarts.size(); ++K) {
        auto G = std::make_unique<TSegment>();
        G->Index = K;
        G->Start = FStarts[K];
        G->NextStart = K + 1 < FStarts.size() ? FStarts[K + 1] : INT64_MAX;
        G->Span = SegmentSpan(FStarts, K, FPreRoll, FPostRoll);
        G->Span.To = std::min(G->Span.To, FEnd);
        G->EncodeFrom = EncoderFromStart ? G->Start : G->Span.From;
        int Error = 0;
        bool Replaced = false;
        G->Input = ReopenInput(Source, T.FJob.InputIdentity(FIst.FileIndex), Error, Replaced);
        // A segment reads the very file the job opened, or the job stops: half of one file and
        // half of another is no conversion.
        if (Replaced)
            throw FFmpegException(
                Format("%s: the file was replaced or changed after the conversion opened it",
                       Utf16ToUtf8(URLToFileName(Source->url)).c_str()));
        if (!G->Input) throw FFmpegException(OpenErrorWithReason(Utf8ToUtf16(Source->url), Error));
        G->StreamIndex = FIst.StreamIndex;
        // Opened without the job's demuxer options, a raw input may read differently: then
        // the job runs on one thread as usual.
        if (G->StreamIndex >= static_cast<int>(G->Input->nb_streams)) return false;
        const AVStream* Again = G->Input->streams[G->StreamIndex];
        if (Again->codecpar->codec_id != FIst.St->codecpar->codec_id ||
            Again->codecpar->sample_rate != FIst.St->codecpar->sample_rate ||
            Again->codecpar->ch_layout.nb_channels != FIst.St->codecpar->ch_layout.nb_channels ||
            av_cmp_q(Again->time_base, FIst.St->time_base) != 0)
            return false;
        for (unsigned I = 0; I < G->Input->nb_streams; ++I)
            if (static_cast<int>(I) != G->StreamIndex) G->Input->streams[I]->discard = AVDISCARD_ALL;
        G->Decoder.reset(lavc.avcodec_alloc_context3(nullptr));
        if (!G->Decoder) throw FFmpegException("Out of memory for a segment's decoder");
        if (lavc.avcodec_parameters_to_context(G->Decoder.get(), FIst.St->codecpar) < 0)
            throw FFmpegException("The sound's parameters could not be given to a segment's decoder");
        G->Decoder->pkt_timebase = G->Input->streams[G->StreamIndex]->time_base;
        G->Decoder->thread_count = 1;
        T.FJob.ApplyStoredOptions(G->Decoder.get(), T.FJob.CodecOptions(omtAudio),
                                  AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_DECODING_PARAM);
        int Result;
        {
            TCodecLockGuard Lock;
            Result = lavc.avcodec_open2(G->Decoder.get(), FIst.Decoder->codec, nullptr);
        }
        if (Result < 0) throw FFmpegException(T.DecodeErrorText(FIst));
        if (K == 0) {
            G->Encoder = Job;
        } else {
            if (!FOst.Enc->Pristine)
                throw FFmpegException(
                    "The sound encoder's settings were not kept for the segments' encoders");
            G->OwnEncoder = OpenEncoderCopy(FOst.Enc->Pristine.get(), T.FJob.PrivateCodecOptions(omtAudio));
            G->Encoder = G->OwnEncoder.get();
        }
        G->Fifo.reset(lavu.av_audio_fifo_alloc(Job->sample_fmt, Job->ch_layout.nb_channels, 4096));
        G->Decoded = MakeFrame();
        G->ToEncode = MakeFrame();
        G->Packet = MakePacket();
        if (!G->Fifo || !G->Decoded || !G->ToEncode || !G->Packet)
            throw FFmpegException("Out of memory for a segment's sound FIFO, frames and packet");
        FSegments.push_back(std::move(G));
    }
    return true;
}

void TSoundSegmentRun::Start() {
    gSegmentedRuns.fetch_add(1);
    for (auto& Owned : FSegments) {
        TSegment* G = Owned.get();
        G->Thread = std::make_unique<TSegmentThread>([this, G] {
            try {
                Encode(*G);
            } catch (...) {
                std::lock_guard<std::mutex> L(FLock);
                G->Closed = true;
                if (G->Placing == TPlacing::Unknown) G->Placing = TPlacing::Unplaceable;
                FChanged.notify_all();
                // What a dropped segment met is no matter: the one before it reads the same sound.
                if (G->Dropped.load()) return;
                if (!FFailure) FFailure = std::current_exception();
                FLeave.store(true);
            }
        });
        G->Thread->Resume();
    }
}

int64_t TSoundSegmentRun::FrameSourceSample(const AVFrame* F, bool& Exact) const {
    int64_t Pts = F->best_effort_timestamp != AV_NOPTS_VALUE ? F->best_effort_timestamp : F->pts;
    Exact = Pts != AV_NOPTS_VALUE && FExactTimes;
    if (Pts == AV_NOPTS_VALUE) return INT64_MIN;
    return lavu.av_rescale_q(Pts, FSourceTb, AVRational{1, FRate});
}

void TSoundSegmentRun::Encode(TSegment& G) {
    AVFormatContext* Ic = G.Input.get();
    AVStream* St = Ic->streams[G.StreamIndex];
    if (G.Index == 0) {
        // As the job's own opening did: a cut starts reading at its start.
        if (FCut) (void)lavf.av_seek_frame(Ic, -1, -FOffsetUs, AVSEEK_FLAG_BACKWARD);
    } else {
        std::unique_lock<std::mutex> L(FLock);
        FChanged.wait(L, [&] { return FOriginKnown || FLeave.load() || G.Dropped.load(); });
        if (FLeave.load() || G.Dropped.load()) {
            L.unlock();
            return Finish(G, false);
        }
        const int64_t Target = FOrigin + G.Span.From;
        L.unlock();
        // A failed seek reads from the start: slower, but the frames before the pre-roll are
        // only passed over.
        if (lavf.av_seek_frame(Ic, G.StreamIndex,
                               lavu.av_rescale_q(Target, AVRational{1, FRate}, St->time_base),
                               AVSEEK_FLAG_BACKWARD) < 0)
            (void)lavf.av_seek_frame(Ic, -1, INT64_MIN, AVSEEK_FLAG_BACKWARD);
    }
    AVPacket* Pkt = G.Packet.get();
    AVCodecContext* Dec = G.Decoder.get();
    auto Drain = [&] {
        for (;;) {
            const int Got = lavc.avcodec_receive_frame(Dec, G.Decoded.get());
            if (Got == AVERROR(EAGAIN) || Got == AVERROR_EOF) return;
            if (Got < 0) {
                const std::string Error = T.DecodeErrorText(FIst);
                if (T.S.ExitOnError) throw FFmpegException(Error);
                return;
            }
            TakeFrame(G, G.Decoded.get());
            lavu.av_frame_unref(G.Decoded.get());
            if (G.Dropped.load() || G.Position >= G.Span.To) return;
        }
    };
    while (G.Position < G.Span.To) {
        FGate.WaitUnless([this, &G] { return FLeave.load() || G.Dropped.load(); });
        if (FLeave.load() || G.Dropped.load() || T.FJob.StopRequested()) return Finish(G, false);
        const int Read = lavf.av_read_frame(Ic, Pkt);
        if (Read == AVERROR(EAGAIN)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (Read < 0) {
            if (lavc.avcodec_send_packet(Dec, nullptr) >= 0) Drain();
            return Finish(G, G.Position < G.Span.To);
        }
        if (Pkt->stream_index == G.StreamIndex) {
            const int Sent = lavc.avcodec_send_packet(Dec, Pkt);
            if (Sent < 0 && Sent != AVERROR(EAGAIN) && T.S.ExitOnError)
                throw FFmpegException(T.DecodeErrorText(FIst));
            Drain();
        }
        lavc.av_packet_unref(Pkt);
    }
    Finish(G, false);
}

void TSoundSegmentRun::TakeFrame(TSegment& G, AVFrame* F) {
    if (F->nb_samples <= 0) return;
    if (F->sample_rate != FRate)
        throw FFmpegException(
            Format("The sound changed its rate to %d Hz while it was encoded in segments", F->sample_rate));
    if (T.S.AudioVolume != 256) ScaleSoundVolume(F, T.S.AudioVolume);
    int First = 0;
    bool Exact = false;
    const int64_t Source = FrameSourceSample(F, Exact);
    // Frames of a fixed length with times coarser than a sample are placed to the frame.
    const int N = FSourceFrame > 0 ? FSourceFrame : F->nb_samples;
    if (G.Position == INT64_MIN) {
        if (G.Index == 0) {
            // Output sample 0 is where the one-thread run starts: the first decoded sample, or
            // on a cut the first at or after zero on the input's timeline.
            if (FCut && Source != INT64_MIN) {
                const int64_t ClockUs = SaturatingAdd(
                    lavu.av_rescale_q(
                        F->best_effort_timestamp != AV_NOPTS_VALUE ? F->best_effort_timestamp : F->pts,
                        FSourceTb, AV_TIME_BASE_Q),
                    FOffsetUs);
                if (ClockUs < 0) {
                    const int64_t Skip = lavu.av_rescale(-ClockUs, FRate, 1000000);
                    if (Skip >= F->nb_samples) return;
                    First = static_cast<int>(Skip);
                }
            }
            std::lock_guard<std::mutex> L(FLock);
            FFrameStart = Source == INT64_MIN ? 0 : Source;
            FOrigin = FFrameStart + First;
            FGrid = FFrameStart + F->nb_samples;
            FOriginKnown = true;
            FChanged.notify_all();
            G.Position = -First;
        } else {
            int64_t At = Source == INT64_MIN ? INT64_MIN : Source - FOrigin;
            if (At != INT64_MIN && !Exact) {
                // Coarse timestamps: the frame ends a whole number of frames from where the
                // first segment's first frame ended (that one may be short: the decoder drops
                // the encoder's delay from it, and its time is then of its first sample kept).
                const int64_t FromGrid = Source + F->nb_samples - FGrid;
                const int64_t Frames = (FromGrid + (FromGrid >= 0 ? N / 2 : -N / 2)) / N;
                At = std::llabs(FromGrid - Frames * N) > N / 4 || (F->nb_samples != N && Frames != 0)
                         ? INT64_MIN
                         : FGrid + Frames * N - F->nb_samples - FOrigin;
            }
            if (At == INT64_MIN) {
                // No time, or one too far from any frame's: the segment before goes on through
                // this one's part.
                Place(G, TPlacing::Unplaceable, -1, 0);
                G.Dropped.store(true);
                return;
            }
            G.Position = At;
            Place(G, TPlacing::Placed, -1, 0);
        }
    } else if (Source != INT64_MIN && !G.Uneven) {
        // The one-thread run counts the samples as they come: a frame whose time says otherwise
        // follows a hole or an overlap, which places every segment after it wrong.
        const int64_t Off = Source - (FOrigin + G.Position);
        if (std::llabs(Off) > (Exact ? 0 : N / 4)) G.Uneven = true;
    }
    if (F->pkt_pos >= 0 && (G.Seen.empty() || G.Seen.back().first != F->pkt_pos)) {
        G.Seen.emplace_back(F->pkt_pos, G.Position);
        if (G.Index > 0 && G.Position < G.Start) Place(G, TPlacing::Placed, F->pkt_pos, G.Position);
    }
    const int64_t Begin = G.Position + First;
    const int64_t End = G.Position + F->nb_samples;
    // Decided before the frame's samples past the end are left out.
    if (End >= G.Span.To && !G.Checked) {
        G.Checked = true;
        RunOn(G);
    }
    const int64_t From = std::max(Begin, G.EncodeFrom);
    const int64_t To = std::min(End, G.Span.To);
    if (To > From) FeedEncoder(G, F, static_cast<int>(From - G.Position), static_cast<int>(To - From));
    G.Position = End;
    G.Reached.store(std::clamp<int64_t>(End, G.Start, std::max(G.Start, G.Span.To)) - G.Start);
}

void TSoundSegmentRun::Place(TSegment& G, TPlacing Placing, int64_t FilePosition, int64_t At) {
    std::lock_guard<std::mutex> L(FLock);
    if (G.Placing == TPlacing::Unknown) G.Placing = Placing;
    if (FilePosition >= 0 && G.Anchors.size() < kAnchors) G.Anchors.emplace_back(FilePosition, At);
    FChanged.notify_all();
}

bool TSoundSegmentRun::RunOn(TSegment& G) {
    if (G.RunsOn.load() || G.Index + 1 >= FSegments.size()) return false;
    TSegment& After = *FSegments[G.Index + 1];
    TPlacing Placing = TPlacing::Unknown;
    std::vector<std::pair<int64_t, int64_t>> Anchors;
    {
        std::unique_lock<std::mutex> L(FLock);
        while (After.Placing == TPlacing::Unknown && !FLeave.load() && !G.Dropped.load()) {
            FChanged.wait_for(L, std::chrono::milliseconds(50));
            if (T.FJob.StopRequested()) return false;
        }
        if (FLeave.load() || G.Dropped.load()) return false;
        Placing = After.Placing;
        Anchors = After.Anchors;
    }
    // The frames both decoded, known by where they lie in the file, must stand at the same
    // output sample in both: else the next segment's times put it elsewhere than the samples
    // counted up to there (a seek that estimates the times, trimmed samples it did not see).
    bool Misplaced = Placing != TPlacing::Placed;
    for (const auto& [Position, At] : Anchors) {
        const auto Found =
            std::lower_bound(G.Seen.begin(), G.Seen.end(), Position,
                             [](const std::pair<int64_t, int64_t>& E, int64_t P) { return E.first < P; });
        if (Found != G.Seen.end() && Found->first == Position && Found->second != At) Misplaced = true;
    }
    if (!Misplaced && !G.Uneven) return false;
    G.Span.To = FEnd;
    {
        std::lock_guard<std::mutex> L(FLock);
        G.RunsOn.store(true);
        gRunsOn.fetch_add(1);
        for (size_t K = G.Index + 1; K < FSegments.size(); ++K) FSegments[K]->Dropped.store(true);
        FChanged.notify_all();
    }
    FGate.Wake();
    return true;
}

void TSoundSegmentRun::FeedEncoder(TSegment& G, AVFrame* F, int First, int Count) {
    AVCodecContext* C = G.Encoder;
    const auto Format = static_cast<AVSampleFormat>(F->format);
    AVChannelLayout Layout{};
    if (F->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        lavu.av_channel_layout_default(&Layout, F->ch_layout.nb_channels);
    else if (lavu.av_channel_layout_copy(&Layout, &F->ch_layout) < 0)
        throw FFmpegException("Out of memory for a decoded frame's channel layout");
    std::unique_ptr<AVChannelLayout, void (*)(AVChannelLayout*)> LayoutGuard(
        &Layout, [](AVChannelLayout* L) { lavu.av_channel_layout_uninit(L); });
    if (!G.Swr || G.SwrFormat != Format || lavu.av_channel_layout_compare(&G.SwrLayout, &Layout) != 0) {
        SwrContext* Raw = nullptr;
        int Result = lswr.swr_alloc_set_opts2(&Raw, &C->ch_layout, C->sample_fmt, C->sample_rate, &Layout,
                                              Format, F->sample_rate, 0, nullptr);
        TSwrPtr Swr(Raw);
        if (Result >= 0 && Layout.nb_channels != C->ch_layout.nb_channels)
            Result = SetChannelConversionFilter(Swr.get());
        if (Result >= 0) Result = lswr.swr_init(Swr.get());
        if (Result < 0)
            throw FFmpegException(
                zembra::Format("Can not resample %d channels @ %d Hz to %d channels @ %d Hz",
                               Layout.nb_channels, F->sample_rate, C->ch_layout.nb_channels, C->sample_rate));
        G.Swr = std::move(Swr);
        G.SwrFormat = Format;
        lavu.av_channel_layout_uninit(&G.SwrLayout);
        if (lavu.av_channel_layout_copy(&G.SwrLayout, &Layout) < 0)
            throw FFmpegException("Out of memory for the resampler's channel layout");
    }
    const int Channels = F->ch_layout.nb_channels;
    const bool Planar = lavu.av_sample_fmt_is_planar(Format);
    const size_t Step = static_cast<size_t>(First) * lavu.av_get_bytes_per_sample(Format) *
                        static_cast<size_t>(Planar ? 1 : Channels);
    std::vector<const uint8_t*> In(static_cast<size_t>(Planar ? Channels : 1));
    for (size_t P = 0; P < In.size(); ++P) In[P] = F->extended_data[P] + Step;
    const int Capacity = lswr.swr_get_out_samples(G.Swr.get(), Count) + 32;
    if (Capacity > G.PlaneCapacity) {
        const int Out = C->ch_layout.nb_channels;
        G.Planes.assign(static_cast<size_t>(lavu.av_sample_fmt_is_planar(C->sample_fmt) ? Out : 1), nullptr);
        G.PlaneData.reset();
        if (lavu.av_samples_alloc(G.Planes.data(), nullptr, Out, Capacity, C->sample_fmt, 0) < 0)
            throw FFmpegException(zembra::Format("Out of memory for %d resampled samples", Capacity));
        G.PlaneData.reset(G.Planes[0]);
        G.PlaneCapacity = Capacity;
    }
    const int Converted = lswr.swr_convert(G.Swr.get(), G.Planes.data(), G.PlaneCapacity, In.data(), Count);
    if (Converted < 0) throw FFmpegException("Could not resample the sound of a segment");
    if (Converted > 0 && lavu.av_audio_fifo_write(G.Fifo.get(), reinterpret_cast<void**>(G.Planes.data()),
                                                  Converted) < Converted)
        throw FFmpegException(
            zembra::Format("Out of memory for %d more samples in the sound FIFO", Converted));
    SendFrames(G, false);
}

void TSoundSegmentRun::SendFrames(TSegment& G, bool Final) {
    AVCodecContext* C = G.Encoder;
    const bool Variable = (C->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) || C->frame_size <= 1;
    for (;;) {
        const int Available = lavu.av_audio_fifo_size(G.Fifo.get());
        int Samples =
            Variable ? std::min(Available, 16384) : (Available >= C->frame_size ? C->frame_size : 0);
        if (Variable) {
            // Blocks of an encoder that takes any size end at the segments' starts, where the
            // splice goes.
            const int64_t At = G.EncodeFrom + G.NextPts;
            for (const int64_t Cut : {G.Start, G.NextStart})
                if (At < Cut && At + Samples > Cut) Samples = static_cast<int>(Cut - At);
        }
        int FrameSamples = Samples;
        if (Samples == 0 && Final && Available > 0) {
            // The sound's last frame: short where the encoder allows it, else padded with silence.
            Samples = Available;
            FrameSamples =
                (C->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) ? Available : C->frame_size;
        }
        if (Samples == 0) return;
        AVFrame* Out = G.ToEncode.get();
        lavu.av_frame_unref(Out);
        Out->nb_samples = FrameSamples;
        Out->format = C->sample_fmt;
        Out->sample_rate = C->sample_rate;
        if (lavu.av_channel_layout_copy(&Out->ch_layout, &C->ch_layout) < 0 ||
            lavu.av_frame_get_buffer(Out, 0) < 0)
            throw FFmpegException(
                zembra::Format("Out of memory for a frame of %d samples to encode", FrameSamples));
        if (lavu.av_audio_fifo_read(G.Fifo.get(), reinterpret_cast<void**>(Out->extended_data), Samples) <
            Samples)
            throw FFmpegException(zembra::Format("Could not read %d samples from the sound FIFO", Samples));
        if (FrameSamples > Samples)
            lavu.av_samples_set_silence(Out->extended_data, Samples, FrameSamples - Samples,
                                        C->ch_layout.nb_channels, C->sample_fmt);
        LimitFloatSamples(Out, C->ch_layout.nb_channels);
        Out->pts = G.NextPts;
        G.NextPts += FrameSamples;
        if (lavc.avcodec_send_frame(C, Out) < 0) throw FFmpegException("Audio encoding failed");
        ReceivePackets(G);
        if (Samples < C->frame_size && !Variable) return;
    }
}

void TSoundSegmentRun::ReceivePackets(TSegment& G) {
    for (;;) {
        TPacketPtr Out = MakePacket();
        if (!Out) throw FFmpegException("Out of memory for an encoded packet of the sound");
        const int Result = lavc.avcodec_receive_packet(G.Encoder, Out.get());
        if (Result == AVERROR(EAGAIN) || Result == AVERROR_EOF) return;
        if (Result < 0) throw FFmpegException("Audio encoding failed");
        // On the output's timeline: the segment's encoder counted from its own first sample.
        if (Out->pts != AV_NOPTS_VALUE) Out->pts += G.EncodeFrom;
        if (Out->dts != AV_NOPTS_VALUE) Out->dts += G.EncodeFrom;
        std::lock_guard<std::mutex> L(FLock);
        // The job's thread waits only on an empty queue: a wake for every packet would cost
        // more than the muxing.
        const bool WasEmpty = G.Packets.empty();
        G.Packets.push_back(std::move(Out));
        if (WasEmpty) FChanged.notify_all();
    }
}

void TSoundSegmentRun::Finish(TSegment& G, bool ReachedEnd) {
    if (!FLeave.load() && !G.Dropped.load() && !T.FJob.StopRequested()) {
        SendFrames(G, true);
        if (lavc.avcodec_send_frame(G.Encoder, nullptr) >= 0) ReceivePackets(G);
    }
    std::lock_guard<std::mutex> L(FLock);
    G.Closed = true;
    // A segment that ended before its first frame cannot be placed either.
    if (G.Placing == TPlacing::Unknown) G.Placing = TPlacing::Unplaceable;
    G.ReachedEnd = ReachedEnd;
    // A segment that got to its end has encoded all it stands for, its post-roll included.
    if (G.Span.To != INT64_MAX && !ReachedEnd) G.Reached.store(G.Span.To - G.Start);
    FChanged.notify_all();
}

double TSoundSegmentRun::Position() const {
    int64_t Samples = 0;
    for (size_t K = 0; K < FSegments.size(); ++K) {
        const bool On = FSegments[K]->RunsOn.load();
        const int64_t Length = K + 1 < FStarts.size() && !On ? FStarts[K + 1] - FStarts[K] : INT64_MAX;
        Samples += std::min(FSegments[K]->Reached.load(), Length);
        if (On) break;
    }
    return FRate > 0 ? static_cast<double>(Samples) / FRate : 0.0;
}

TPacketPtr TSoundSegmentRun::Next(TSegment& G) {
    std::unique_lock<std::mutex> L(FLock);
    for (;;) {
        if (FFailure) std::rethrow_exception(FFailure);
        if (!G.Packets.empty()) {
            TPacketPtr P = std::move(G.Packets.front());
            G.Packets.pop_front();
            return P;
        }
        if (G.Closed || FLeave.load()) return nullptr;
        FChanged.wait_for(L, std::chrono::milliseconds(50));
        if (T.FJob.StopRequested()) {
            L.unlock();
            Leave();
            return nullptr;
        }
        const int64_t Now = lavu.av_gettime_relative();
        if (Now - FLastReport > T.FJob.ProgressInterval()) {
            FLastReport = Now;
            // Never back: a segment that starts late adds to the figure, none takes from it.
            FReported = std::max(FReported, Position());
            L.unlock();
            T.FSegmentsPosition = FReported;
            T.ReportProgress(false);
            L.lock();
        }
    }
}

void TSoundSegmentRun::Write(TPacketPtr Packet) {
    if (FFlac) Packet = FFlac->Take(std::move(Packet));
    T.FAudioBytes += Packet->size;
    Packet->stream_index = FOst.Index;
    T.WritePacket(FOst, Packet.get(), FOst.Enc->Codec->time_base);
}

bool TSoundSegmentRun::MuxInOrder() {
    std::deque<TPacketPtr> Carried;  // the current segment's packets from the splice on
    for (size_t K = 0; K < FSegments.size(); ++K) {
        TSegment& G = *FSegments[K];
        const bool Last = K + 1 == FSegments.size();
        // The next segment's packets start at Planned; the previous segment's packets up to a
        // window before it go out as they come, the rest waits for the splice.
        const int64_t Planned = Last ? INT64_MAX : FStarts[K + 1] - FDelay;
        int64_t Hold =
            Last ? INT64_MAX : Planned - static_cast<int64_t>(kSpliceWindowSeconds * FRate) - 2 * FFrameSize;
        bool RunsOn = false;
        std::deque<TPacketPtr> Tail;
        auto Take = [&](TPacketPtr P) {
            if (!RunsOn && G.RunsOn.load()) {
                // The segment goes on to the end: its packets are the rest of the sound. (Said
                // here: the log may take the job's thread, which a segment must not wait for.)
                RunsOn = true;
                GetLogger().Log(
                    &T.FJob, llVerbose,
                    Format(
                        "The sound's timeline cannot be split at %.3f s: the rest is encoded on one thread",
                        static_cast<double>(G.NextStart) / FRate));
                Hold = INT64_MAX;
                for (TPacketPtr& Held : Tail) Write(std::move(Held));
                Tail.clear();
            }
            // A segment's encoder ends with a packet of no sound that brings the header it made
            // (FLAC's count and sum): only the last one's stands for the whole.
            if (P->size == 0 && !Last && !RunsOn) return;
            if (P->pts < Hold && Tail.empty())
                Write(std::move(P));
            else
                Tail.push_back(std::move(P));
        };
        for (TPacketPtr& P : Carried) Take(std::move(P));
        Carried.clear();
        for (;;) {
            TPacketPtr P = Next(G);
            if (!P) break;
            Take(std::move(P));
        }
        if (FLeave.load() || T.FJob.StopRequested()) return false;
        bool Ended = false;
        {
            std::lock_guard<std::mutex> L(FLock);
            Ended = G.ReachedEnd;
        }
        if (Last || Ended || G.RunsOn.load()) {
            for (TPacketPtr& P : Tail) Write(std::move(P));
            return true;
        }
        // The next segment's packets as far as the splice may go.
        TSegment& After = *FSegments[K + 1];
        std::deque<TPacketPtr> Following;
        const int64_t Reach = Planned + static_cast<int64_t>(kSpliceWindowSeconds * FRate) + FFrameSize;
        for (;;) {
            if (!Following.empty() && Following.back()->pts >= Reach) break;
            TPacketPtr P = Next(After);
            if (!P) break;
            Following.push_back(std::move(P));
        }
        if (FLeave.load() || T.FJob.StopRequested()) return false;
        const bool Mp3 = FOst.Enc->Codec->codec_id == AV_CODEC_ID_MP3;
        const int64_t Splice =
            Mp3 ? ChooseMp3Splice(Tail, Following, Planned,
                                  static_cast<int64_t>(kSpliceWindowSeconds * FRate), FFrameSize)
                : Planned;
        while (!Tail.empty() && Tail.back()->pts >= Splice) Tail.pop_back();
        if (Mp3 && !CarryMp3Reservoir(Tail, Following, Splice))
            GetLogger().Log(&T.FJob, llWarning, "An MP3 frame could not carry the data the next one borrows");
        for (TPacketPtr& P : Tail) Write(std::move(P));
        for (TPacketPtr& P : Following)
            if (P->pts >= Splice) Carried.push_back(std::move(P));
    }
    return true;
}

int TTranscoder::SoundSegmentsWanted() const {
    if (S.Segments == 0 || S.Segments == 1 || !SegmentsAllowed(std::getenv("ZEMBRA_SEGMENTS"))) return 0;
    if (FJob.FJoined || FJob.FInputFileCount != 1 || FOutputFileCount != 1 || FOutputs.size() != 1) return 0;
    // State carried along the timeline, which a segment starting half-way would not have: drift
    // correction, rate emulation, the input's own or shifted or scaled times, the limits.
    if (S.AudioSyncMethod != 0 || S.RateEmu || S.CopyTs || S.InputTsOffset != 0 || S.LimitFileSize != 0 ||
        S.LoopInput)
        return 0;
    // The loudness meter takes the sound in order, as it goes to the one encoder.
    if (S.ReplayGain != 0) return 0;
    for (const int32_t Limit : S.MaxFrames)
        if (Limit != INT_MAX) return 0;
    const TOutputStreamState& Ost = FOutputs[0];
    if (!Ost.EncodingNeeded || !Ost.Enc->Codec || Ost.Enc->Codec->codec_type != AVMEDIA_TYPE_AUDIO) return 0;
    if (!SplicedCodec(Ost.Enc->Codec->codec_id) || !Ost.Enc->Filters.empty() || !Ost.Enc->Pristine) return 0;
    // Left to itself, a job splits only where it pays: PCM costs nothing to encode (its segments
    // would only hold their sound in memory), and the FLAC join decodes every frame again for the
    // header's sum, which costs more than the encoding it spreads. Asked for, they split too.
    const AVCodecID Id = Ost.Enc->Codec->codec_id;
    const bool Pcm = Id >= AV_CODEC_ID_FIRST_AUDIO && Id < AV_CODEC_ID_ADPCM_IMA_QT;
    if (S.Segments < 0 && (Id == AV_CODEC_ID_FLAC || Pcm)) return 0;
    const TInputStreamState& Ist = FInputs[Ost.SourceIndex];
    if (!Ist.Decoder || Ist.Decoder->sample_rate != Ost.Enc->Codec->sample_rate) return 0;
    if (FJob.InputTsScale(Ist.FileIndex, Ist.StreamIndex) != 0.0) return 0;
    for (const TInputStreamState& Other : FInputs)
        if (&Other != &Ist && !Other.Discard) return 0;
    if (!ExactTimeBase(Ist.St->time_base, Ist.Decoder->sample_rate) &&
        !FixedFrameSource(Ist.St->codecpar->codec_id))
        return 0;
    if ((Id == AV_CODEC_ID_FLAC || Pcm) && !DecodesAlikeFromAnyStart(Ist.St->codecpar->codec_id)) return 0;
    const AVFormatContext* Ic = FJob.FInputFiles[Ist.FileIndex];
    if (!Ic->pb || !(Ic->pb->seekable & AVIO_SEEKABLE_NORMAL) || Ic->duration == AV_NOPTS_VALUE ||
        Ic->duration <= 0)
        return 0;
    // A segment is placed by its first frame's time, while the one-thread run closes up any
    // hole in the sound: containers of broadcasts, whose times jump where reception failed,
    // stay on one thread.
    if (Ic->iformat->flags & AVFMT_TS_DISCONT) return 0;
    return S.Segments > 1 ? S.Segments : TRunningLoop::Processors() - TRunningLoop::Running() + 1;
}

bool TTranscoder::RunSoundSegments(int Wanted) {
    TOutputStreamState& Ost = FOutputs[0];
    TInputStreamState& Ist = FInputs[Ost.SourceIndex];
    const AVCodecContext* C = Ost.Enc->Codec;
    const AVFormatContext* Ic = FJob.FInputFiles[Ist.FileIndex];
    // The timeline's length: the file's end on it, or the cut's length.
    int64_t LengthUs =
        SaturatingAdd(SaturatingAdd(Ic->duration, Ic->start_time != AV_NOPTS_VALUE ? Ic->start_time : 0),
                      FJob.InputFileTsOffset(Ist.FileIndex));
    if (S.RecordingTime != INT64_MAX) LengthUs = std::min(LengthUs, S.RecordingTime);
    const int64_t Samples = lavu.av_rescale(LengthUs, C->sample_rate, AV_TIME_BASE);
    const int64_t MinSamples = lavu.av_rescale(std::max(S.SegmentMs, 1), C->sample_rate, 1000);
    std::vector<int64_t> Starts =
        PlanSegments(Samples, C->frame_size > 0 ? C->frame_size : 1, Wanted, MinSamples);
    if (Starts.size() < 2) return false;
    const int Count = static_cast<int>(Starts.size());
    // Left to itself, a job looks at the whole timeline first rather than finding a jump
    // half-way and encoding on one thread from there; asked for segments, it trusts that
    // finding alone.
    if (S.Segments < 0)
        if (const std::string Why = UnevenTimeline(Ic, Ist.StreamIndex, FJob.InputIdentity(Ist.FileIndex));
            !Why.empty()) {
            if (S.Verbose >= 0) GetLogger().Log(&FJob, llVerbose, "Encoding the sound on one thread: " + Why);
            return false;
        }
    // Each segment thread counts as a running loop, so that a job starting meanwhile finds the
    // processors taken instead of splitting or decoding ahead too.
    std::vector<std::unique_ptr<TRunningLoop>> Busy;
    for (size_t K = 1; K < Starts.size(); ++K) Busy.push_back(std::make_unique<TRunningLoop>());
    {
        TSoundSegmentRun Run(*this, FJob.FPauseGate, FJob.FInputFilesCut[Ist.FileIndex], Ost, Ist,
                             std::move(Starts));
        if (!Run.Open()) return false;
        if (S.Verbose >= 0)
            GetLogger().Log(&FJob, llVerbose,
                            Format("Encoding the sound in %d segments on as many threads", Count));
        Run.Start();
        Run.MuxInOrder();
    }
    FSegmentsPosition = -1.0;
    // Every decoder and encoder the segments used is drained; the job's own decoder never ran.
    Ost.Enc->Drained = true;
    Ist.Flushed = true;
    FInputFiles[Ist.FileIndex].Ended = true;
    return true;
}

}  // namespace zembra
