// The job's life cycle: reset, start on the caller's thread or a worker, stop, pause, clean-up.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "engine/FFmpeg.h"
#include "logging/FFmpegLogger.h"
#include "util/MainThread.h"
#include "util/OutputClaims.h"
#include "util/WideFiles.h"

namespace zembra {

namespace {

// Counts a thread off the job when it leaves, however it leaves: a terminate callback that
// throws must not leave the job waited for forever.
class TActiveThreadGuard {
  public:
    explicit TActiveThreadGuard(std::atomic<int>& Count) : FCount(Count) {}
    ~TActiveThreadGuard() {
        FCount.fetch_sub(1);
        NotifyMainThread();
    }
    TActiveThreadGuard(const TActiveThreadGuard&) = delete;
    TActiveThreadGuard& operator=(const TActiveThreadGuard&) = delete;

  private:
    std::atomic<int>& FCount;
};

}  // namespace

// Runs the job on a worker thread.
class TConvertThread : public TThread {
  public:
    explicit TConvertThread(TCustomFFmpeg& Job) : FJob(Job) {}

  protected:
    void Execute() override {
        TActiveThreadGuard Active(FJob.FActiveThreads);
        FJob.Run();
    }

  private:
    TCustomFFmpeg& FJob;
};

// Waits until the job's worker has ended, sleeping 10 ms between checks.
class TWaitThread : public TThread {
  public:
    explicit TWaitThread(std::function<bool()> Busy) : FBusy(std::move(Busy)) {}

  protected:
    void Execute() override {
        while (FBusy()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

  private:
    std::function<bool()> FBusy;
};

// Reports the end of a job that never ran.
class TUnstartedJobEndNotifier : public TThread {
  public:
    explicit TUnstartedJobEndNotifier(TCustomFFmpeg& Job) : FJob(Job) {}

  protected:
    void Execute() override {
        TActiveThreadGuard Active(FJob.FActiveThreads);
        FJob.DoTerminated();
    }

  private:
    TCustomFFmpeg& FJob;
};

TCriticalSection& PreviewLock() {
    static TCriticalSection Lock;
    return Lock;
}

namespace {

bool LibrariesLoaded() {
    return FFLoader().AllLoaded(kDefaultLibrarySet);
}

}  // namespace

TCustomFFmpeg::TCustomFFmpeg() {
    // A folder without file locks is said once, through the log, whoever names outputs there.
    static std::once_flag WarningsToLog;
    std::call_once(WarningsToLog, [] {
        SetOutputFolderWarningHandler(
            [](const std::string& Message) { GetLogger().Log(nullptr, llWarning, Message); });
    });
    ResetDefaults();
}

TCustomFFmpeg::~TCustomFFmpeg() {
    Stop(true);
    WaitForActiveThreads();
    if (FWorkerThread) FWorkerThread->WaitFor();
    CleanUp();
}

void TCustomFFmpeg::Log(int Level, const std::string& Message) {
    GetLogger().Log(this, static_cast<TLogLevel>(Level), Message);
}

void TCustomFFmpeg::WaitForActiveThreads() {
    WaitInMainThread([this] { return FActiveThreads.load() == 0; });
}

void TCustomFFmpeg::ResetDefaults() {
    FSettings = TJobSettings{};
    FStreamMaps.clear();
    FMetaDataMaps.clear();
    for (auto& File : FInputTsScale) File.fill(0.0);
}

void TCustomFFmpeg::ResetJob() {
    if (!LibrariesLoaded()) return;
    if (FWorkerThread && !FThread.load()) {
        FWorkerThread->WaitFor();
        FWorkerThread.reset();
    }
    CleanUp();
    FFilesReleased = false;
    ResetDefaults();
    FJoined = false;
    FRunning = false;
    FStopRequested = false;
    FFinished = false;
    FTerminated = false;
    FNotifyPending = false;
    // A pause that came after the last run's last checkpoint must not hold the next run.
    FPauseGate.Open();
    FErrorOccurred = false;
    FErrorMessage.clear();
    FLastError.clear();
    FTotalDuration = -1;
    CreateOptionContexts();
}

void TCustomFFmpeg::CreateOptionContexts() {
    for (int Type = 0; Type < kOptionMediaTypes; ++Type) {
        FCodecOpts[Type].reset(lavc.avcodec_alloc_context3(nullptr));
        if (!FCodecOpts[Type]) throw FFmpegException("Cannot allocate the codec option context");
        FCodecOpts[Type]->codec_type = static_cast<AVMediaType>(Type);
    }
    FFormatOpts.reset(lavf.avformat_alloc_context());
    if (!FFormatOpts) throw FFmpegException("Cannot allocate the format option context");
    FSwsOpts.reset(lsws.sws_getContext(16, 16, AV_PIX_FMT_YUV420P, 16, 16, AV_PIX_FMT_YUV420P,
                                       FSettings.ScalerFlags, nullptr, nullptr, nullptr));
    if (!FSwsOpts) throw FFmpegException("Cannot allocate the scaler option context");
}

void TCustomFFmpeg::ReleaseOptionContexts() {
    for (auto& Context : FCodecOpts) Context.reset();
    FFormatOpts.reset();
    FSwsOpts.reset();
    for (auto& Dict : FPrivateOpts) Dict.Clear();
    FPrivateFormatOpts.Clear();
    FOptionNames.clear();
}

void TCustomFFmpeg::CloseOutputFiles() {
    for (int I = 0; I < FOutputFileCount; ++I) {
        AVFormatContext* Oc = FOutputFiles[I];
        FOutputFiles[I] = nullptr;
        if (!Oc) continue;
        CloseOutputIO(Oc);
        lavf.avformat_free_context(Oc);
        const std::u16string Name = FOutputFileNames[I], Temporary = FOutputTemporaryNames[I];
        FOutputFileNames[I].clear();
        FOutputTemporaryNames[I].clear();
        if (!Temporary.empty()) {
            // Not committed: a failed or stopped run, a job never run, or files released until
            // the run. What was written goes; the name keeps what it held before (a file being
            // replaced, this job's reservation while released), or nothing when the job took it.
            ::unlink(FileSystemName(Temporary).c_str());
            ForgetTemporaryOutput(FileSystemName(Temporary));
            if (!Name.empty()) ReleaseOutputClaim(FileSystemName(Name), true);
        } else if (IsRegularFileW(Name) && (FDiscardOutputs || FileSizeW(Name) == 0)) {
            // Written directly (an output committed, a link): an output that never got a byte is
            // no output. Only a plain file goes: a device (a first pass written to /dev/null), a
            // pipe or a link named as the output stays.
            ::unlink(FileSystemName(Name).c_str());
        }
        FOutputStreams[I].clear();
        if (FJoined) {
            for (int J = I + 1; J < FOutputFileCount; ++J) {
                FOutputFiles[J] = nullptr;
                FOutputFileNames[J].clear();
                FOutputTemporaryNames[J].clear();
                FOutputStreams[J].clear();
            }
            break;
        }
    }
    FOutputFileCount = 0;
    FOutputEncoders.clear();
    FDiscardOutputs = false;
}

void TCustomFFmpeg::CloseInputFiles() {
    for (int I = 0; I < FInputFileCount; ++I) {
        FInputCodecs[I].clear();
        CloseInputContext(FInputFiles[I]);
    }
    FInputFileCount = 0;
    FInputDecoders.clear();
}

void TCustomFFmpeg::CleanUp() {
    DropReservations();
    if (!LibrariesLoaded()) return;
    ReleaseOptionContexts();
    CloseOutputFiles();
    CloseInputFiles();
    FSettings.IntraMatrix.clear();
    FSettings.InterMatrix.clear();
    FSettings.VStatsFileName.clear();
    FSettings.VideoCodecName.clear();
    FSettings.AudioCodecName.clear();
    FSettings.SubtitleCodecName.clear();
    FSettings.VideoStandard.clear();
    FSettings.RcOverride.clear();
    FSettings.AudioLanguage.clear();
    FSettings.SubtitleLanguage.clear();
    FSettings.SubtitleCodecTag = 0;
    FSettings.VideoHooks.clear();
    ReleaseFrameHooks(FFrameHooks);
    FPreviewer.reset();
}

void TCustomFFmpeg::DropReservations() {
    // As with an output the run never wrote to: the empty file that took the name goes, a file
    // that was there before stays.
    for (const std::u16string& Name : FReservedOutputs) ReleaseOutputClaim(FileSystemName(Name), true);
    FReservedOutputs.clear();
}

void TCustomFFmpeg::ReleaseFiles() {
    if (FFilesReleased || FRunning.load() || FTerminated.load() || !LibrariesLoaded()) return;
    std::vector<std::u16string> Reserved;
    for (int I = 0; I < FOutputFileCount; ++I) {
        if (FOutputFileNames[I].empty()) continue;
        Reserved.push_back(std::move(FOutputFileNames[I]));
        FOutputFileNames[I].clear();  // closed below without being removed
    }
    CloseRegisteredCodecs();
    CleanUp();
    FReservedOutputs = std::move(Reserved);
    FFilesReleased = true;
}

void TCustomFFmpeg::ResetSetup() {
    const int32_t Verbose = FSettings.Verbose;
    ReleaseOptionContexts();
    ResetDefaults();
    FSettings.Verbose = Verbose;
    FJoined = false;
    FTotalDuration = -1;
    CreateOptionContexts();
}

void TCustomFFmpeg::ReopenFiles() {
    throw FFmpegException("The files of this job cannot be opened again");
}

void TCustomFFmpeg::ReopenReleasedFiles() {
    FFilesReleased = false;
    ReopenFiles();
    // The reopened outputs are the job's own again: what happens to them is the run's business.
    FReservedOutputs.clear();
    if (FOutputFileCount <= 0) throw FFmpegException("At least one output file must be specified");
    if (FInputFileCount == 0) throw FFmpegException("At least one input file must be specified");
}

TThread* TCustomFFmpeg::Start(bool InBackground, TThreadPriority Priority) {
    if (FRunning.load() || FTerminated.load()) return nullptr;
    try {
        // A job holding its files only for the run checks them once they are open again.
        if (!FFilesReleased && FOutputFileCount <= 0) {
            CleanUp();
            throw FFmpegException("At least one output file must be specified");
        }
        if (!FFilesReleased && FInputFileCount == 0) {
            CleanUp();
            throw FFmpegException("At least one input file must be specified");
        }
    } catch (const std::exception& E) {
        Log(llQuiet, E.what());
        FErrorOccurred = true;
        FErrorMessage = E.what();
        DoTerminated();
        return nullptr;
    }
    FRunning = true;
    FStopRequested = false;
    FFinished = false;
    FTerminated = false;
    // A run starts unpaused, whatever an earlier run was left with.
    FPauseGate.Open();
    if (!InBackground) {
        Run();
        return nullptr;
    }
    if (FWorkerThread) FWorkerThread->WaitFor();  // the previous run's worker has ended
    auto Worker = std::make_unique<TConvertThread>(*this);
    Worker->SetPriority(Priority);
    TThread* Started = Worker.get();
    {
        std::lock_guard<std::mutex> G(FWorkerLock);
        FWorkerThread = std::move(Worker);
    }
    FActiveThreads.fetch_add(1);
    FThread = Started;
    return Started;
}

void TCustomFFmpeg::Run() {
    FFinished = false;
    FLoudness.reset();
    FKeptPartialName.clear();
    try {
        if (FFilesReleased) ReopenReleasedFiles();
        Transcode();
        // A stopped run's output is a valid file of what was converted; whether it is kept (under
        // a partial name, never the output's) is the owner's choice. The name holds what it held
        // before.
        if (FFinished.load() || FKeepStoppedOutputs) CommitOutputFiles();
    } catch (const std::exception& E) {
        Log(llQuiet, E.what());
        FErrorOccurred = true;
        FErrorMessage = E.what();
        // A run that failed has no trailer: what it wrote must not pass for a finished file.
        FDiscardOutputs = true;
    }
    CloseRegisteredCodecs();
    CleanUp();
    // A pause that arrived after the loop's last checkpoint leaves no ended job paused.
    FPauseGate.Open();
    DoTerminated();
}

void TCustomFFmpeg::CloseRegisteredCodecs() {
    for (std::vector<TCodecNode>* List : {&FEncoders, &FDecoders}) {
        for (TCodecNode& Node : *List) {
            {
                TCodecLockGuard G;
                Node.Context.reset();
            }
            // The encoder does not own its statistics input: it goes after the encoder.
            Node.StatsIn.reset();
        }
        List->clear();
    }
}

void TCustomFFmpeg::DoTerminated() {
    FRunning = false;
    FTerminated = true;
    FThread = nullptr;
    if (FOnTerminate) FOnTerminate(*this);
}

void TCustomFFmpeg::Stop(bool Wait) {
    FStopRequested = true;
    FPauseGate.Open();  // a paused worker must reach its next stop check
    if (!FThread.load()) return;
    bool OnWorker = false;
    {
        // The worker may be released meanwhile, once its run is over.
        std::lock_guard<std::mutex> G(FWorkerLock);
        if (FWorkerThread) FWorkerThread->Resume();
        OnWorker = FWorkerThread && FWorkerThread->IsCurrentThread();
    }
    // A stop from the worker itself (its terminate handler, say) cannot wait for itself.
    if (!Wait || OnWorker) return;
    TWaitThread Waiter([this] { return FActiveThreads.load() != 0; });
    Waiter.Resume();
    Waiter.WaitFor();
}

bool TCustomFFmpeg::ReleaseEndedWorker() {
    std::unique_ptr<TThread> Ended;
    {
        std::lock_guard<std::mutex> G(FWorkerLock);
        if (!FWorkerThread) return true;
        if (FThread.load() || FActiveThreads.load() != 0 || !FWorkerThread->Finished() ||
            FWorkerThread->IsCurrentThread())
            return false;
        Ended = std::move(FWorkerThread);
    }
    // Joins a thread that has returned: at once.
    Ended.reset();
    return true;
}

void TCustomFFmpeg::StopOrNotify(bool Wait) {
    if (FRunning.load()) {
        Stop(Wait);
        return;
    }
    if (FTerminated.load()) return;
    bool Expected = false;
    if (!FNotifyPending.compare_exchange_strong(Expected, true)) return;  // already on its way
    FActiveThreads.fetch_add(1);
    if (Wait) {
        TUnstartedJobEndNotifier Notifier(*this);
        Notifier.Resume();
        Notifier.WaitFor();
    } else {
        auto* Notifier = new TUnstartedJobEndNotifier(*this);
        Notifier->SetFreeOnTerminate(true);
        Notifier->Resume();
    }
}

void TCustomFFmpeg::Pause() {
    if (FThread.load()) FPauseGate.Close();
}

void TCustomFFmpeg::Resume() {
    if (FThread.load()) FPauseGate.Open();
}

void TCustomFFmpeg::SetPreviewFlags(uint8_t Value) {
    ChangePreviewFlags([Value](uint8_t) { return Value; });
}

void TCustomFFmpeg::ClearPreviewFlags(uint8_t Bits) {
    ChangePreviewFlags([Bits](uint8_t Old) { return static_cast<uint8_t>(Old & ~Bits); });
}

void TCustomFFmpeg::ChangePreviewFlags(const std::function<uint8_t(uint8_t)>& Change) {
    std::shared_ptr<IPreviewWindow> Closing;
    {
        std::lock_guard<TCriticalSection> G(PreviewLock());
        const uint8_t Old = FPreviewFlags.load();
        const uint8_t Value = Change(Old);
        if (Old == Value) return;
        if ((Old & 1) && !(Value & 1)) Closing = std::move(FPreviewer);
        FPreviewFlags = Value;
    }
    // The window goes outside the lock: closing it needs the main thread.
}

void TCustomFFmpeg::SetStartTime(int64_t Microseconds) {
    if (Microseconds > 0) FSettings.StartTime = Microseconds;
}

void TCustomFFmpeg::SetProgramId(int32_t Value) {
    if (Value >= 0) FSettings.ProgramId = Value;
}

void TCustomFFmpeg::SetRecordingTimeMs(int64_t Milliseconds) {
    if (Milliseconds <= 0) return;
    FSettings.RecordingTime = Milliseconds * 1000;
    FTotalDuration = static_cast<int32_t>(std::min<int64_t>(Milliseconds, INT32_MAX));
}

void TCustomFFmpeg::SetRecordingTime(int64_t Microseconds) {
    if (Microseconds <= 0) return;
    FSettings.RecordingTime = Microseconds;
    FTotalDuration = static_cast<int32_t>(std::min<int64_t>(Microseconds / 1000, INT32_MAX));
}

void TCustomFFmpeg::SetPTSPeriods(const std::vector<TPTSPeriod>& Periods) {
    FPTSPeriods = Periods;
    std::sort(FPTSPeriods.begin(), FPTSPeriods.end(),
              [](const TPTSPeriod& A, const TPTSPeriod& B) { return A.End < B.End; });
}

}  // namespace zembra
