#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "binding/FFUtils.h"
#include "binding/FFmpegHolders.h"
#include "engine/EngineTypes.h"
#include "engine/FFmpegException.h"
#include "engine/FrameHook.h"
#include "engine/LoudnessMeter.h"
#include "engine/OptionDefs.h"
#include "engine/PreviewWindow.h"
#include "util/Bitmap.h"
#include "util/CriticalSection.h"
#include "util/Thread.h"

namespace zembra {

class TCustomFFmpeg;
class TConvertThread;
class TTranscoder;
class TUnstartedJobEndNotifier;

using TTerminateCallback = std::function<void(TCustomFFmpeg& AJob)>;

enum THookAction : int32_t { haContinue, haIgnore, haStop };

// Progress: frames of the first video stream (-1 without video), frames per second (-1
// without video), output time reached in ms, quality (-1.0 without encoded video), bit rate in
// kbit/s, bytes written, and the job's total duration in ms (-1 when unknown).
using TProgressCallback =
    std::function<void(TCustomFFmpeg& Sender, int32_t FrameNumber, int32_t FPS, int32_t CurrentDuration,
                       float Quality, float BitRate, int64_t CurrentSize, int32_t TotalOutputDuration)>;
// Called on the worker thread for each decoded picture; PTS in microseconds.
using TBeforeHookCallback = std::function<void(TCustomFFmpeg& Sender, int64_t PTS, THookAction& Action)>;
using TCustomHookCallback = std::function<void(TCustomFFmpeg& Sender, TBitmap& Bitmap, int32_t FrameNumber,
                                               int64_t PTS, bool& Update, bool& StopHook)>;
using TPreviewBitmapCallback =
    std::function<void(TCustomFFmpeg& Sender, TBitmap& Bitmap, int32_t FrameNumber, int64_t PTS)>;

// Option-line phases.
constexpr int kPhaseExtraStreams = 0;
constexpr int kPhasePresets = 1;
constexpr int kPhaseOrdinary = 2;

// Held while preview frames are delivered and while a job's preview flags change.
TCriticalSection& PreviewLock();

// A codec the run opened (or tried to), closed by the run's epilogue.
struct TCodecNode {
    TCodecContextPtr Context;
    bool Opened = false;
    TAvBufferPtr StatsIn;  // two-pass statistics handed to the encoder
};

// An output stream as stream creation leaves it for the run: its encoder context (or the
// copy flag), the encoder chosen, its quality and its bitstream filters.
struct TOutputStreamSetup {
    AVStream* Stream = nullptr;  // owned by the output container
    TCodecContextPtr Codec;
    const AVCodec* Encoder = nullptr;
    bool StreamCopy = false;
    // The user asked for this rate / channel count: the encoder must take it or fail.
    bool SampleRateGiven = false;
    bool ChannelsGiven = false;
    // The source's attached picture this stream copies (owned by its input container): an
    // attached picture of the output's fed only by that stream, or a Matroska attachment that
    // holds its bytes from the start and takes no packets.
    const AVStream* Cover = nullptr;
    float Quality = 0.0f;
    TBitstreamFilterChain Filters;
};

// Closes an input container and the I/O context the job opened for it.
void CloseInputContext(AVFormatContext*& Context);
// What tells one file from another that took its name: the device and inode, the size and
// the last change, as they were when the job opened it.
struct TFileIdentity {
    bool Known = false;
    uint64_t Device = 0, Inode = 0;
    int64_t Size = 0;
    int64_t ModifiedNs = 0;
    bool operator==(const TFileIdentity&) const = default;
};
// The identity of the local file a URL names (Known false for anything else).
TFileIdentity IdentityOfInput(const std::string& URL);

// A second, independent opening of an input the job opened (its file, in its format, its
// streams found), for another thread to read; null with Error set when it cannot be opened.
// When Opened is known, the file at the name must still be that one: else null with Replaced.
// Closed as the job closes its own inputs, with the I/O context opened for it.
using TReopenedInputPtr = TClosedByPtr<AVFormatContext, CloseInputContext>;
TReopenedInputPtr ReopenInput(const AVFormatContext* Open, const TFileIdentity& Opened, int& Error,
                              bool& Replaced);
// Closes an output container's file (a custom I/O context of ours or the library's): 0, or the
// AVERROR of the last bytes that could not be written or of the close.
int CloseOutputIO(AVFormatContext* Container);

// One conversion job: options, files, and the run on the caller's thread or a worker.
class TCustomFFmpeg {
  public:
    TCustomFFmpeg();
    virtual ~TCustomFFmpeg();
    TCustomFFmpeg(const TCustomFFmpeg&) = delete;
    TCustomFFmpeg& operator=(const TCustomFFmpeg&) = delete;

    // --- life cycle ---
    void ResetJob();
    void CleanUp();
    // Returns the worker (created suspended; the caller resumes it) or nullptr.
    TThread* Start(bool InBackground, TThreadPriority Priority = TThreadPriority::tpNormal);
    void Run();
    void DoTerminated();
    void Stop(bool Wait);
    void StopOrNotify(bool Wait);
    void Pause();
    void Resume();
    // Frees the thread of an ended run, whose stack stays with the process until it is joined:
    // a long list of ended jobs would otherwise keep one each. True when no such thread is left;
    // false while it still runs (or when called on it).
    bool ReleaseEndedWorker();

    // --- files held only while the job runs ---
    // Closes what a checked job holds open (its inputs, its outputs, their codec and option
    // state) until its run, so that a long list of waiting jobs holds no file handles. The
    // outputs stay on disk, empty, as the reservation of their names: the run opens them again
    // (ReopenFiles) instead of choosing names anew, and a job that never runs removes them.
    void ReleaseFiles();
    bool FilesReleased() const { return FFilesReleased; }

    // --- files ---
    bool OpenInputFile(const std::u16string& FileName);
    // The new number of output files, or -1 with LastError set.
    int32_t OpenOutputFile(const std::u16string& FileName, bool Join);
    // Type: "vcd", "svcd", "dvd", "dv" or "dv50"; Norm: "pal", "ntsc", "film" or anything else
    // for automatic detection falling back to DefaultNorm.
    void SetTarget(const std::string& Type, const std::string& Norm, const std::string& DefaultNorm);
    // Looks a codec up by name. An empty name succeeds with no codec; otherwise LastError gets
    // "Unknown %s '%s'" or "Invalid %s type '%s'" on failure.
    bool FindCodecByName(const std::string& Name, AVMediaType Type, bool Encoder, const AVCodec*& Codec);

    // --- option lines ---
    void ApplyOptionLines(const std::string& Text, int Phase);
    void ApplyOption(const std::string& Name, const std::string& Value);
    // Whether ApplyOption handles Name itself; any other name goes to the libraries' options.
    static bool IsTableOption(const std::string& Name);
    bool SetGenericOption(const std::string& Name, const std::string& Value);
    // Copies each stored generic option whose flags hold all of Mask from Source to Target.
    void ApplyStoredOptions(void* Target, void* Source, int Mask);
    void LoadPreset(const std::string& OptionName, const std::string& PresetName);

    // --- setters used outside option lines ---
    void SetVerbose(int32_t Value) { FSettings.Verbose = Value; }
    void SetPreviewFlags(uint8_t Value);
    // Clears Bits of the preview flags, leaving the others as they are at that moment.
    void ClearPreviewFlags(uint8_t Bits);
    void SetStartTime(int64_t Microseconds);
    void SetProgramId(int32_t Value);
    void SetRecordingTimeMs(int64_t Milliseconds);
    void SetRecordingTime(int64_t Microseconds);
    void SetPadColor(int32_t RGB);
    void AddMetadata(const std::string& Name, const std::string& Value);
    void SetCodecOptionInt(const std::string& Name, int32_t Value);
    void SetPTSPeriods(const std::vector<TPTSPeriod>& Periods);
    void SetInputFormat(const std::string& Name);
    void SetOutputFormat(const std::string& Name);

    void SetOnTerminate(TTerminateCallback Callback) { FOnTerminate = std::move(Callback); }
    void SetOnProgress(TProgressCallback Callback) { FOnProgress = std::move(Callback); }
    void SetOnBeforeHook(TBeforeHookCallback Callback) { FOnBeforeHook = std::move(Callback); }
    void SetOnCustomHook(TCustomHookCallback Callback) { FOnCustomHook = std::move(Callback); }
    void SetOnPreviewBitmap(TPreviewBitmapCallback Callback) { FOnPreviewBitmap = std::move(Callback); }

    // --- state ---
    bool Running() const { return FRunning.load(); }
    bool Terminated() const { return FTerminated.load(); }
    bool Finished() const { return FFinished.load(); }
    bool StopRequested() const { return FStopRequested.load(); }
    bool ErrorOccurred() const { return FErrorOccurred; }
    const std::string& ErrorMessage() const { return FErrorMessage; }
    const std::string& LastError() const { return FLastError; }
    int32_t TotalDuration() const { return FTotalDuration; }
    bool Joined() const { return FJoined; }
    uint8_t PreviewFlags() const { return FPreviewFlags.load(); }
    bool Paused() const { return FPauseGate.IsClosed(); }
    // Whether hook modules were added for the next run.
    bool FrameHooksActive() const { return !FFrameHooks.Empty(); }
    int FrameHookCount() const { return FFrameHooks.Count(); }
    int64_t ProgressInterval() const { return FProgressInterval; }
    // Bytes the last run read from its inputs, their headers included: what a cut costs.
    int64_t InputBytesRead() const { return FInputBytesRead.load(); }
    // With replaygain=1, what the last run measured of the sound it wrote (nullptr when it
    // measured none).
    const TLoudnessMeter* Loudness() const { return FLoudness.get(); }
    void SetProgressInterval(int64_t Microseconds) { FProgressInterval = Microseconds; }

    // Whether a stopped run's output is kept (true, as a valid file of what was converted, under
    // a partial name) or goes. Either way the output's name is left as it was before the run.
    // May change while the task runs.
    void SetKeepStoppedOutputs(bool Value) { FKeepStoppedOutputs = Value; }
    bool KeepStoppedOutputs() const { return FKeepStoppedOutputs; }
    // Where the last run kept what it converted before it was stopped ("NAME.partial.EXT", never
    // the output's own name); empty when it kept nothing.
    const std::u16string& KeptPartialName() const { return FKeptPartialName; }

    const TJobSettings& Settings() const { return FSettings; }
    const std::vector<TPTSPeriod>& PTSPeriods() const { return FPTSPeriods; }
    const std::vector<TStreamMapEntry>& StreamMaps() const { return FStreamMaps; }
    const std::vector<TMetaDataMap>& MetaDataMaps() const { return FMetaDataMaps; }
    const std::vector<std::string>& StoredOptionNames() const { return FOptionNames; }
    int InputFileCount() const { return FInputFileCount; }
    AVFormatContext* InputFile(int Index) const { return FInputFiles[Index]; }
    int64_t InputFileTsOffset(int Index) const { return FInputFilesTsOffset[Index]; }
    const TFileIdentity& InputIdentity(int Index) const { return FInputIdentity[Index]; }
    AVCodecContext* InputCodec(int File, int Stream) const;
    const std::vector<const AVCodec*>& InputDecoders() const { return FInputDecoders; }
    AVFormatContext* OutputFile(int Index) const { return FOutputFiles[Index]; }
    const std::vector<TOutputStreamSetup>& OutputStreams(int File) const { return FOutputStreams[File]; }
    const std::vector<const AVCodec*>& OutputEncoders() const { return FOutputEncoders; }
    bool FiltersEnabled() const { return FFiltersEnabled; }
    AVDictionary* PrivateFormatOptions() const { return FPrivateFormatOpts.Get(); }
    int OutputFileCount() const { return FOutputFileCount; }
    double InputTsScale(int File, int Stream) const { return FInputTsScale[File][Stream]; }

    // The option contexts (nullptr before ResetJob or after CleanUp).
    AVCodecContext* CodecOptions(TOptionMediaType Type) const { return FCodecOpts[Type].get(); }
    AVFormatContext* FormatOptions() const { return FFormatOpts.get(); }
    SwsContext* ScalerOptions() const { return FSwsOpts.get(); }
    // Options private to an encoder or decoder (x264's "crf", say), by media type; handed to
    // the codec when it is opened.
    AVDictionary* PrivateCodecOptions(TOptionMediaType Type) const { return FPrivateOpts[Type].Get(); }

  protected:
    // The run's work between setup and teardown; raises on failure.
    virtual void Transcode();
    // Opens again, on the run's thread, what ReleaseFiles closed, the way it was opened the
    // first time; raises the open error. The engine alone cannot: it does not keep the option
    // calls its files were opened with, so a job that releases its files overrides this.
    virtual void ReopenFiles();
    // For ReopenFiles: the option state of a freshly reset job (the log verbosity kept),
    // leaving the run's flags and the callbacks alone.
    void ResetSetup();
    // The packet loop passes this once per iteration; it blocks while the job is paused.
    void PauseCheckpoint() { FPauseGate.Wait(); }

    void Log(int Level, const std::string& Message);
    void ResetDefaults();
    void CreateOptionContexts();
    void ReleaseOptionContexts();
    void CloseRegisteredCodecs();
    void CloseOutputFiles();
    void CloseInputFiles();
    template <typename T>
    void StoreOption(const TOptionDef& Def, T Value);
    // The setters behind the option table's custom rows. A setter shared by several rows takes
    // what tells the rows apart (the field, the stream kind) from its row, never from the name.
    void SetFrameLimit(const std::string& Value, size_t Kind);
    void SetLogLevelOption(const std::string& Value);
    void SetFrameRate(const std::string& Value);
    void SetPadColorOption(const std::string& Value);
    void AddStreamMap(const std::string& Value);
    void AddMetaDataMap(const std::string& Value);
    void SetFrameSize(const std::string& Value);
    void SetAspect(const std::string& Value);
    void SetPixelFormat(const std::string& Value);
    void SetSampleFormat(const std::string& Value);
    void SetCrop(const std::string& Value, int32_t TJobSettings::*Side, bool Vertical);
    void SetCodecName(const std::string& Value, std::string TJobSettings::*Codec, bool TJobSettings::*Copy);
    void SetCodecTag(const std::string& Value, uint32_t TJobSettings::*Tag, const char* Kind);
    void SetMatrix(const std::string& Value, std::vector<uint16_t> TJobSettings::*Matrix);
    // Name is the library option the bit rate is handed on as.
    void SetBitrate(const std::string& Name, const std::string& Value, TOptionMediaType Kind);
    void SetBitstreamFilter(const std::string& Value, TBitstreamFilterChain TJobSettings::*Chain);
    void SetVStats(const std::string& Value);
    void SetFormat(const std::string& Value);
    void SetITSScale(const std::string& Value);
    void SetMetadataOption(const std::string& Value);
    void AddExtraStream(void (TCustomFFmpeg::*Add)(AVFormatContext* Container, int FileIndex));
    // Codec: the field whose codec names the preset first ("libx264-normal"), when one is set.
    void LoadPresetFor(const std::string& PresetName, std::string TJobSettings::*Codec);
    void SetTargetOption(const std::string& Value);
    // A picture size the encoder cannot code, chosen by no one, becomes the nearest it can.
    void FitPictureToEncoder(AVCodecContext* Codec);
    // With copy_cover, the inputs' first cover as the output's, in the form the container keeps
    // one (an attached picture, a Matroska attachment); nothing when it keeps none.
    void AddCoverStream(AVFormatContext* Container, int FileIndex);
    void AddVideoStream(AVFormatContext* Container, int FileIndex);
    void AddAudioStream(AVFormatContext* Container, int FileIndex);
    void AddSubtitleStream(AVFormatContext* Container, int FileIndex);
    AVStream* NewStream(AVFormatContext* Container, int FileIndex, AVMediaType Type, const AVCodec* Encoder,
                        TOutputStreamSetup*& Setup);
    AVRational StreamAspect(int Width, int Height) const;
    void OpenOutputIO(AVFormatContext* Container, const std::u16string& FileName, const std::string& URL);
    // Opens the file an output is written to: for a plain file, a link (the link, never what it
    // points to) or a name not there yet, a hidden temporary file beside it, the name itself
    // taken by an empty file of this process (when nothing was there) or left as it is (a file
    // the output replaces once finished).
    void OpenOutputTarget(AVFormatContext* Container, int Index, const std::u16string& FileName);
    // Gives each output that is to be kept its name: the temporary file renamed over it, or for
    // a stopped run over a new "NAME.partial.EXT" name. Raises when a file cannot be completed or
    // renamed, or when its temporary file is no longer the one this job wrote.
    void CommitOutputFiles();
    // Renames the temporary file of output Index to the first free partial name of its output.
    void KeepPartialOutput(int Index);
    void ClearForcedFormats();
    void AddFrameHook(const std::string& Value);
    bool SetPrivateCodecOption(const std::string& Name, const std::string& Value, bool& Found);
    bool SetPrivateFormatOption(const std::string& Name, const std::string& Value, bool& Found);

    TJobSettings FSettings;

    // Run state.
    bool FJoined = false;
    std::atomic<bool> FRunning{false};
    std::atomic<bool> FStopRequested{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FTerminated{false};
    bool FErrorOccurred = false;
    std::string FErrorMessage;
    std::string FLastError;
    int32_t FTotalDuration = -1;
    // The running worker ("assigned" while it runs) and its owner, kept until the next run so
    // that a late Stop never touches a freed thread.
    std::atomic<TThread*> FThread{nullptr};
    std::unique_ptr<TThread> FWorkerThread;
    // Guards FWorkerThread against ReleaseEndedWorker on another thread.
    std::mutex FWorkerLock;
    // Threads that may still touch the job (a worker until its terminate callback returned, a
    // pending end notification): a waiting stop and the destructor wait for them.
    std::atomic<int> FActiveThreads{0};
    std::atomic<bool> FNotifyPending{false};
    friend std::span<const TOptionDef> EngineOptionTable();
    friend class TConvertThread;
    friend class TTranscoder;
    friend class TUnstartedJobEndNotifier;
    void WaitForActiveThreads();
    // Replaces the preview flags by Change(old flags) under the preview lock.
    void ChangePreviewFlags(const std::function<uint8_t(uint8_t)>& Change);
    int64_t FProgressInterval = 500000;
    int64_t FPreviewInterval = 100000;
    std::atomic<uint8_t> FPreviewFlags{0};
    std::vector<TPTSPeriod> FPTSPeriods;
    TPauseGate FPauseGate;
    TTerminateCallback FOnTerminate;
    TProgressCallback FOnProgress;
    TBeforeHookCallback FOnBeforeHook;
    TCustomHookCallback FOnCustomHook;
    TPreviewBitmapCallback FOnPreviewBitmap;

    // File tables.
    std::array<AVFormatContext*, kMaxFiles> FInputFiles{};
    std::array<int64_t, kMaxFiles> FInputFilesTsOffset{};
    // Opened at a cut's start (seeked there) with its offset putting the start at zero.
    std::array<bool, kMaxFiles> FInputFilesCut{};
    // The file each input was opened from, for the helper threads that open it again.
    std::array<TFileIdentity, kMaxFiles> FInputIdentity{};
    std::array<std::array<double, kMaxStreams>, kMaxFiles> FInputTsScale{};
    // Per input stream its decoder context, as the stream information filled it.
    std::array<std::vector<TCodecContextPtr>, kMaxFiles> FInputCodecs;
    int FInputFileCount = 0;
    std::vector<const AVCodec*> FInputDecoders;
    std::array<AVFormatContext*, kMaxFiles> FOutputFiles{};
    std::array<std::u16string, kMaxFiles> FOutputFileNames;
    // Where each output is written until it is finished; empty when it is written to its name
    // directly (a device, a pipe, a link).
    std::array<std::u16string, kMaxFiles> FOutputTemporaryNames;
    // The device and inode of each temporary file as it was made: another program (a second run
    // into a folder whose locks do not hold) may remove or replace it before the rename.
    std::array<std::array<uint64_t, 2>, kMaxFiles> FOutputTemporaryIds{};
    // Packets each output was given, written by the muxing thread and read once the run has
    // joined it: a stop before the first packet leaves a header that no player opens.
    std::array<uint64_t, kMaxFiles> FOutputPacketCounts{};
    std::u16string FKeptPartialName;
    std::atomic<bool> FKeepStoppedOutputs{true};
    std::atomic<int64_t> FInputBytesRead{0};
    std::unique_ptr<TLoudnessMeter> FLoudness;
    // The finished temporary output with its ReplayGain tags, before it takes its name; a
    // failure leaves it untagged and says so in the run's message.
    void TagLoudness(const std::u16string& Temporary, const AVOutputFormat* Muxer);
    std::array<std::vector<TOutputStreamSetup>, kMaxFiles> FOutputStreams;
    bool FFiltersEnabled = false;
    int FOutputFileCount = 0;
    std::vector<const AVCodec*> FOutputEncoders;
    std::vector<TStreamMapEntry> FStreamMaps;
    std::vector<TMetaDataMap> FMetaDataMaps;
    std::vector<TCodecNode> FEncoders;
    std::vector<TCodecNode> FDecoders;
    // The realtime preview window of this job; shared so that a worker showing a frame keeps
    // it alive while the main thread switches previews off.
    std::shared_ptr<IPreviewWindow> FPreviewer;
    // The hook modules added by "vhook", in order.
    TFrameHookChain FFrameHooks;
    // Set when a run failed after its outputs got data: such half-written files go at clean-up.
    bool FDiscardOutputs = false;
    // Between ReleaseFiles and the run: the outputs' names, whose empty files stand reserved.
    bool FFilesReleased = false;
    std::vector<std::u16string> FReservedOutputs;
    void DropReservations();
    void ReopenReleasedFiles();

    // Option contexts.
    std::array<TCodecContextPtr, kOptionMediaTypes> FCodecOpts;
    TFormatContextPtr FFormatOpts;
    TSwsPtr FSwsOpts;
    std::array<TDictionary, kOptionMediaTypes> FPrivateOpts;
    TDictionary FPrivateFormatOpts;
    std::vector<std::string> FOptionNames;
};

// The job of one task: the engine plus the task's index.
class TFFmpeg : public TCustomFFmpeg {
  public:
    TFFmpeg() = default;
    // Read by the worker for every event while the component may renumber the task.
    int32_t Index() const { return FIndex.load(); }
    void SetIndex(int32_t Value) { FIndex.store(Value); }

  private:
    std::atomic<int32_t> FIndex{-1};
};

}  // namespace zembra
