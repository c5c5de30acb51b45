#pragma once

// One run of a job: the per-run tables, setup, the packet loop, the audio path, muxing and
// reporting. Lives on the worker thread for the length of Transcode.

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "binding/FFmpegHolders.h"
#include "engine/FFmpeg.h"
#include "engine/PictureConverter.h"

namespace zembra {

class TDecodeAhead;

// Whether a tag describes the stream itself (its encoder, language, handler), not the recording.
bool IsStreamOnlyTag(const char* Key);

struct TInputFileState {
    bool Ended = false;
    int FirstIndex = 0;
    int StreamCount = 0;
    int64_t ReadUpTo = INT64_MIN;  // the latest packet time read from the file, microseconds
    // ReadUpTo when the first output stream fed by the file had all it takes; INT64_MAX before.
    int64_t EndSeenAt = INT64_MAX;
};

// Where an input stream has got to, in microseconds: the time of the packet or frame last
// read and the time expected next.
struct TStreamClock {
    int64_t Pts = 0;
    int64_t NextPts = AV_NOPTS_VALUE;
};

struct TInputStreamState {
    int FileIndex = 0;
    int StreamIndex = 0;
    AVStream* St = nullptr;
    bool Discard = true;  // no output uses it yet
    bool DecodingNeeded = false;
    int64_t StartWall = 0;
    TStreamClock Clock;
    bool IsStart = true;
    bool Flushed = false;
    AVCodecContext* Decoder = nullptr;  // owned by the job's decoder registry
    TFramePtr Frame;
    // Video filters ("vfilters"): the graph fed by this input, and the frame taken out of it.
    TFilterGraphPtr Graph;
    AVFilterContext* FilterSource = nullptr;
    AVFilterContext* FilterSink = nullptr;
    TFramePtr Filtered;
    TFramePtr Deinterlaced;
};

// What belongs to one output stream of the container, shared by the join entries that write
// to it: the encoder, its sample FIFO, its bitstream filters and where the stream has got to.
struct TEncoderState {
    AVStream* St = nullptr;
    TOutputStreamSetup* Setup = nullptr;
    AVCodecContext* Codec = nullptr;  // owned by the job's encoder registry once opened
    TAudioFifoPtr Fifo;
    TFramePtr EncodeFrame;
    int64_t NextSamplePts = 0;  // encoder time base (1 / sample rate)
    std::vector<TBsfPtr> Filters;
    std::vector<std::string> FilterNames;
    AVRational PacketTimeBase{0, 1};  // of the packets handed to WritePacket
    int64_t LastDts = AV_NOPTS_VALUE;
    double EndSeconds = 0.0;  // end of the last packet written
    float Quality = -1.0f;    // of the last coded video frame, lambda units
    int PictureType = 0;
    uint64_t Errors[3] = {0, 0, 0};  // squared errors of the last coded frame, with PSNR on
    std::FILE* PassLog = nullptr;
    TAvBufferPtr StatsIn;  // pass-2 statistics, handed to the encoder's registry entry
    bool Drained = false;
    // A sound encoder's settings as they were before it opened, for the segments' own encoders.
    TCodecContextPtr Pristine;
};

struct TOutputStreamState {
    int FileIndex = 0;
    int Index = 0;
    int SourceIndex = 0;
    int SyncIndex = 0;
    AVStream* St = nullptr;
    bool EncodingNeeded = false;
    int64_t FrameNumber = 0;
    int64_t SyncOpts = 0;
    double SyncShift = 0;  // frames of input time skipped at broken timestamps
    // Everything up to the recording time has been taken: no later input is of use to it, so it
    // no longer keeps the input open.
    bool Done = false;
    TEncoderState* Enc = nullptr;
    // Audio conversion from the decoder's format to the encoder's.
    TSwrPtr Swr;
    AVSampleFormat SwrInFormat = AV_SAMPLE_FMT_NONE;
    int SwrInRate = 0;
    AVChannelLayout SwrInLayout{};
    bool ResampleFlag = false;
    // The converted samples on their way into the FIFO, grown as needed.
    TAvBufferPtr ConvertData;
    std::vector<uint8_t*> ConvertPlanes;
    int ConvertCapacity = 0;
    int64_t CopyStartOffset = 0;  // output time base
    // Video: crop bands, scaling to the encoder's size and format, pad borders.
    TSwsPtr Scaler;
    TFramePtr Scaled;  // the temporary picture the encoder gets
    TFramePtr Cropped;
    int ScalerFlags = SWS_BICUBIC;
    bool CropFlag = false, PadFlag = false;
    int CropTop = 0, CropBottom = 0, CropLeft = 0, CropRight = 0;
    int FirstCropTop = 0, FirstCropBottom = 0, FirstCropLeft = 0, FirstCropRight = 0;
    int PadTop = 0, PadBottom = 0, PadLeft = 0, PadRight = 0;
    int FirstWidth = 0, FirstHeight = 0;
    // The decoded picture size the crop bands were made for.
    int BandsWidth = 0, BandsHeight = 0;
    int ScaledWidth = 0, ScaledHeight = 0;
    AVPixelFormat ScaledFormat = AV_PIX_FMT_NONE;
};

class TTranscoder {
  public:
    explicit TTranscoder(TCustomFFmpeg& Job);
    ~TTranscoder();
    TTranscoder(const TTranscoder&) = delete;
    TTranscoder& operator=(const TTranscoder&) = delete;

    void Run();

  private:
    // Setup.
    void BuildInputTables();
    void BuildOutputTables();
    void MapStreams();
    void PrepareCodecParameters();
    void PrepareStreamCopy(TOutputStreamState& Ost, TInputStreamState& Ist);
    void PrepareEncoding(TOutputStreamState& Ost, TInputStreamState& Ist, int Number);
    // Where the user set no rate or channel count, the ones nearest the source that the encoder takes.
    void FitAudioToEncoder(TOutputStreamSetup& Setup);
    void UseGenericTagNames(AVDictionary*& Metadata);
    const AVStream* TaggedAudioStream(int InFile, int OutFile) const;
    void PrepareVideoEncoding(TOutputStreamState& Ost, TInputStreamState& Ist);
    void OpenEncoders();
    void OpenDecoders();
    void InitBitstreamFilters(TEncoderState& Enc, const AVCodecParameters* Source, AVRational TimeBase);
    void MapMetadata();
    void WriteHeaders();
    void ReportMapping();
    void DumpOutput(int File);
    [[noreturn]] void Fail(const std::string& Message, bool WithMapping = false);

    // The packet loop.
    void PacketLoop();
    int SelectInputFile();
    // Corrects a packet's times by its file's offset and scale, and folds a discontinuity of
    // the formats that have them into the offset; Clock is where the stream has got to.
    void CorrectPacketTimes(int File, const TInputStreamState& Ist, const TStreamClock& Clock, AVPacket* Pkt);
    // Moves Clock on by the packet and decodes it (Packet null: drains the decoder). What comes
    // out is handled here, or with Ahead passed on to the job's thread.
    int ProcessInputPacket(TInputStreamState& Ist, const AVPacket* Packet, TStreamClock& Clock,
                           TDecodeAhead* Ahead);
    int DecodeAudioOrVideo(TInputStreamState& Ist, const AVPacket* Packet, TStreamClock& Clock,
                           TDecodeAhead* Ahead);
    void CopyToOutputs(TInputStreamState& Ist, const AVPacket* Packet);
    std::string DecodeErrorText(const TInputStreamState& Ist) const;
    // Throws with "xerror", otherwise logs and the loop goes on.
    void ReportDecodeError(const std::string& Error);
    // Decoding ahead: whether this run's inputs and options allow it, and the run of the loop
    // with it (DecodeAhead.cpp). RunDecodeAhead is true when the loop is over, false when the
    // helper thread stopped early and this thread goes on alone.
    bool DecodeAheadPossible() const;
    bool RunDecodeAhead();
    // Segments: how many threads the sound of this run may be encoded on (0: one), and the run
    // of the loop with them (SoundSegments.cpp); false when the sound is too short to split.
    int SoundSegmentsWanted() const;
    bool RunSoundSegments(int Wanted);
    int DecodeSubtitle(TInputStreamState& Ist, const AVPacket* Packet);
    // Drops the samples of a decoded sound frame before a cut's start (zero on the input's
    // timeline); false when none is left.
    bool TrimToStart(TInputStreamState& Ist, AVFrame* Frame);
    void HandleDecodedFrame(TInputStreamState& Ist, AVFrame* Frame);
    void CopyPacket(TOutputStreamState& Ost, TInputStreamState& Ist, const AVPacket* Packet);
    bool FinishJoinedFile(int File);
    void DrainDecoder(TInputStreamState& Ist);
    void Teardown();
    // A finished run whose output is far shorter than its source claimed to be says so in the
    // job's message, the run still finished.
    void CheckShortResult();

    // Audio.
    void ScaleVolume(AVFrame* Frame) const;
    void EncodeAudio(TOutputStreamState& Ost, TInputStreamState& Ist, const AVFrame* Frame);
    void ConvertIntoFifo(TOutputStreamState& Ost, const uint8_t* const* Data, int Samples);
    void EnsureResampler(TOutputStreamState& Ost, const AVFrame* Frame);
    void EncodeFifo(TOutputStreamState& Ost, bool Final);
    void SendAudioFrame(TOutputStreamState& Ost, int Samples, int FrameSamples);
    void FlushResampler(TOutputStreamState& Ost);
    static int AllocResampler(SwrContext** Swr, const AVCodecContext* C, const AVChannelLayout& InLayout,
                              AVSampleFormat InFormat, int InRate);
    void DrainEncoder(TOutputStreamState& Ost);
    void ReceivePackets(TOutputStreamState& Ost);

    // Loudness, with replaygain=1 (SoundMeasure.cpp): the first sound output's samples as its
    // encoder gets them, or the decoded samples of a sound that is copied.
    void ChooseMeasuredStream();
    bool Measures(const TOutputStreamState& Ost) const {
        return FMeasured >= 0 && FOutputs[static_cast<size_t>(FMeasured)].Enc == Ost.Enc;
    }
    void Measure(const uint8_t* const* Data, AVSampleFormat Format, const AVChannelLayout& Layout, int Rate,
                 int Samples);
    void MeasureCopiedSound(const TInputStreamState& Ist, const AVFrame* Frame);

    // Video.
    void PrepareVideoFrame(TInputStreamState& Ist, AVFrame* Frame);
    void RunCustomHook(AVFrame* Frame, int64_t PTS);
    void RunFrameHooks(AVFrame* Frame, int64_t PTS);
    bool ConfigureFilters(TOutputStreamState& Ost, TInputStreamState& Ist);
    void FilterAndEncode(TInputStreamState& Ist, AVFrame* Frame);
    void EncodeVideo(TOutputStreamState& Ost, TInputStreamState& Ist, const AVFrame* Picture, int64_t PTS);
    const AVFrame* CropScalePad(TOutputStreamState& Ost, TInputStreamState& Ist, const AVFrame* Picture);
    // Fits the crop bands to a decoded picture of another size than the one they were made for.
    void RescaleCropBands(TOutputStreamState& Ost, const AVFrame* Picture);
    void DeliverPreview(const AVFrame* Picture, int64_t PTS);
    void WriteVideoStats(TOutputStreamState& Ost, int FrameSize);

    // Muxing and reporting.
    void WritePacket(TOutputStreamState& Ost, AVPacket* Packet, AVRational TimeBase);
    void FilterAndWrite(TOutputStreamState& Ost, AVPacket* Packet, size_t Filter);
    void Mux(TOutputStreamState& Ost, AVPacket* Packet);
    void EncodeSubtitle(TOutputStreamState& Ost, TInputStreamState& Ist, int64_t Pts, AVSubtitle& Subtitle);
    void ReportProgress(bool Last);
    void OpenPassLog(int Number, TOutputStreamState& Ost);
    double OutputPosition(const TOutputStreamState& Ost) const;
    int OutputStreamCount() const { return static_cast<int>(FOutputs.size()); }
    // A Matroska cover attachment: the header writes it, no packet ever goes to it.
    static bool IsAttachment(const TOutputStreamState& Ost) {
        return Ost.St->codecpar->codec_type == AVMEDIA_TYPE_ATTACHMENT;
    }

    friend class TDecodeAhead;
    friend class TSoundSegmentRun;

    TCustomFFmpeg& FJob;
    const TJobSettings& S;
    std::vector<TInputFileState> FInputFiles;
    std::vector<TInputStreamState> FInputs;
    std::vector<TOutputStreamState> FOutputs;
    std::vector<std::unique_ptr<TEncoderState>> FEncoders;
    int FOutputFileCount = 0;  // distinct containers (1 when joined)
    int FStreamsPerFile = 0;   // k of join mode
    int FCurrentJoinFile = 0;
    bool FHeadersWritten = false;
    int64_t FRunStart = 0;
    int64_t FVideoBytes = 0, FAudioBytes = 0, FHeaderBytes = 0;
    int64_t FPacketsMuxed = 0;  // over every output file
    int64_t FDupFrames = 0, FDropFrames = 0;
    TPacketPtr FPacket;
    TPacketPtr FOutPacket;
    std::vector<uint8_t> FSubtitleBuffer;
    TFramePtr FSilenceFrame;
    // Hooks and previews of this run.
    int32_t FHookFrame = 0;
    THookAction FHookAction = haContinue;
    size_t FPeriodIndex = 0;
    bool FHooksActive = false;
    bool FCustomHookOn = false;
    TPictureConverter FHookConverter;
    TPictureConverter FPreviewConverter;
    int64_t FLastPreview = 0;
    std::string FFilterError;
    std::array<int, 52> FQpHistogram{};
    std::FILE* FVStats = nullptr;
    std::array<bool, kMaxFiles> NoPacket{};
    int NoPacketCount = 0;
    double FMinOutputPosition = 0.0;
    // While the sound is encoded in segments: the output time they have reached together.
    double FSegmentsPosition = -1.0;
    int FMeasured = -1;  // the output stream measured, an index of FOutputs
    std::unique_ptr<TLoudnessMeter> FMeter;
    std::vector<float> FMeterSamples;  // samples of other formats, as floats
    std::vector<const float*> FMeterPlanes;
};

}  // namespace zembra
