#include "component/RUvivoVOV.h"

#include <cmath>
#include <ctime>

#include "binding/FFmpegLoader.h"
#include "component/OutputFieldTable.h"
#include "engine/OptionValues.h"
#include "logging/FFmpegLogger.h"
#include "util/MainThread.h"
#include "util/NumericCasts.h"
#include "util/OutputClaims.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra {

namespace events {

// The task whose event is being raised on this thread.
thread_local TTaskId tRaisingTask = 0;

using TRaisingTask = TEventTaskScope;

// Raises one terminate event on a thread of its own, so that the reporting thread goes on with
// the end-of-task steps (which may start the next task) while the handler runs.
class TTerminateEventThread : public TThread {
  public:
    TTerminateEventThread(TTerminateEvent Handler, TTaskId AId, int32_t AIndex, bool AFinished,
                          bool AException, std::string AMessage)
        : FOnTerminate(std::move(Handler)),
          FId(AId),
          FIndex(AIndex),
          FFinished(AFinished),
          FException(AException),
          FMessage(std::move(AMessage)) {}

  protected:
    void Execute() override {
        try {
            const TRaisingTask Raising(FId);
            FOnTerminate(FIndex, FFinished, FException, FMessage);
        } catch (const std::exception& E) {
            GetLogger().Log(nullptr, llError, "Error occurs OnTerminate: " + std::string(E.what()));
        }
    }

  private:
    TTerminateEvent FOnTerminate;
    TTaskId FId;
    int32_t FIndex;
    bool FFinished;
    bool FException;
    std::string FMessage;
};

}  // namespace events

// ---------------------------------------------------------------------------------------------
// Helpers

std::string TargetTypeName(int32_t Target) {
    return Target == 1 ? "vcd" : Target == 2 ? "svcd" : Target == 3 ? "dvd" : "";
}

std::string TargetNormName(int32_t Norm) {
    return Norm == 1 ? "pal" : Norm == 2 ? "ntsc" : "auto";
}

namespace {

// The task keeps a copy of the record (the reset one without a record), named after the file
// when the record names none.
template <typename TRecord>
void KeepRecord(const std::u16string& FileName, const TRecord* Record, std::u16string& KeptName,
                bool& HasRecord, TRecord& Kept) {
    KeptName = FileName;
    HasRecord = Record != nullptr;
    Kept = Record ? *Record : TRecord{};
    if (Record && Kept.FileName.empty()) Kept.FileName = FileName;
}

}  // namespace

std::string TargetDefaultNormName(int32_t Norm) {
    return Norm == 1 ? "pal" : "ntsc";
}

namespace {

int64_t ReadMilliseconds(const std::string& Text) {
    try {
        return StrToInt64(Text);
    } catch (const std::exception&) {
        return -1;
    }
}

// The libraries' date syntax, in UTC.
std::string UnixSecondsToDateText(int64_t Seconds) {
    const std::time_t T = static_cast<std::time_t>(Seconds);
    std::tm Utc{};
    gmtime_r(&T, &Utc);
    char Text[40];
    std::strftime(Text, sizeof(Text), "%Y-%m-%dT%H:%M:%SZ", &Utc);
    return Text;
}

// Reads the handler under the handler lock: handlers may be rebound while tasks run.
template <typename T>
T Copy(std::mutex& Lock, const T& Handler) {
    std::lock_guard<std::mutex> G(Lock);
    return Handler;
}

template <typename T>
void Store(std::mutex& Lock, T& Handler, T Value) {
    std::lock_guard<std::mutex> G(Lock);
    Handler = std::move(Value);
}

}  // namespace

std::vector<TPTSPeriod> ParsePTSPeriods(const std::string& Text) {
    std::string Rest = Trim(Text);
    size_t Slots = 1;
    for (char C : Rest)
        if (C == ',') ++Slots;
    std::vector<TPTSPeriod> Periods;
    Periods.reserve(Slots);
    for (size_t I = 0; I < Slots; ++I) {
        std::string Item = Trim(SplitFirst(Rest, ",", true));
        const std::string Start = Trim(SplitFirst(Item, "-", true));
        const std::string End = Trim(Item);
        // A period's end may be written as a huge number meaning "to the end".
        const int64_t StartUs =
            SaturatingCast<int64_t>(static_cast<double>(ReadMilliseconds(Start)) * 1000.0);
        const int64_t EndUs = SaturatingCast<int64_t>(static_cast<double>(ReadMilliseconds(End)) * 1000.0);
        if (EndUs >= StartUs && EndUs >= 0) Periods.push_back({StartUs, EndUs});
    }
    return Periods;
}

int64_t DateTimeToUnixSeconds(double DayCount) {
    const std::time_t Now = std::time(nullptr);
    std::tm Local{};
    localtime_r(&Now, &Local);
    const double BiasMinutes = -static_cast<double>(Local.tm_gmtoff) / 60.0;  // UTC = local + bias
    return static_cast<int64_t>(std::llround((DayCount - 25569.0 + BiasMinutes / 1440.0) * 86400.0));
}

// ---------------------------------------------------------------------------------------------
// TEventLock

void TEventLock::Enter() {
    EnterPumping(FLock);
    FOwner = std::this_thread::get_id();
    ++FDepth;
}

void TEventLock::Leave() {
    if (--FDepth == 0) FOwner = std::thread::id();
    FLock.Leave();
    // A main thread waiting for the lock polls; this lets it look at once.
    NotifyMainThread();
}

// ---------------------------------------------------------------------------------------------
// TCustomRUvivoVOV

TCustomRUvivoVOV::TCustomRUvivoVOV() : FProbe(std::make_unique<TAVProbe>()) {}

TCustomRUvivoVOV::~TCustomRUvivoVOV() {
    {
        // A handler still running finishes first, and no task starts while the list goes.
        std::lock_guard<TEventLock> G(FEventLock);
        FPendingCount = 0;
        // The tasks going with the component report to nobody, and no run ends any more.
        FFinalRaised = true;
        FRunActive = false;
    }
    std::vector<TTaskPtr> All = FTasks.ExtractAll();
    {
        std::lock_guard<TEventLock> G(FEventLock);
        for (TTaskPtr& Engine : All) Engine->FDetached = true;
    }
    FreeEngines(All);
    FlushDisposed();
    WaitForEventThreads();
    FProbe->Close();
}

bool TCustomRUvivoVOV::WaitForEventThreads(std::chrono::milliseconds Timeout) {
    const bool Done = WaitInMainThread(
        [this] {
            std::lock_guard<std::mutex> G(FEventThreadLock);
            for (const auto& Thread : FEventThreads)
                if (!Thread->Finished() && !Thread->IsCurrentThread()) return false;
            return true;
        },
        Timeout);
    ReapEventThreads();
    return Done;
}

void TCustomRUvivoVOV::ReapEventThreads() {
    std::vector<std::unique_ptr<TThread>> Ended;
    {
        std::lock_guard<std::mutex> G(FEventThreadLock);
        for (auto It = FEventThreads.begin(); It != FEventThreads.end();) {
            if ((*It)->Finished() && !(*It)->IsCurrentThread()) {
                Ended.push_back(std::move(*It));
                It = FEventThreads.erase(It);
            } else {
                ++It;
            }
        }
    }
    // Freeing joins each thread, so none is left running code once it is gone.
    Ended.clear();
}

TTaskPtr TCustomRUvivoVOV::CreateTask() {
    return std::make_unique<TTaskFFmpeg>();
}

bool TCustomRUvivoVOV::LoadLibraries(const std::u16string& ALibraryFolder) {
    TFFmpegLoader& Loader = FFLoader();
    Loader.SetLibraryPath(ALibraryFolder);
    const bool Ok = Loader.LoadLibrarySet(kDefaultLibrarySet);
    if (!Ok) FLastError = Loader.LastError();
    return Ok;
}

void TCustomRUvivoVOV::UnloadLibraries() {
    FFLoader().UnloadLibrarySet(kDefaultLibrarySet);
}

void TCustomRUvivoVOV::SetPreview(bool Value) {
    FTasks.SetPreviewAll(Value);
    FPreview = Value;
}

void TCustomRUvivoVOV::SetPreviewBitmap(bool Value) {
    FTasks.SetPreviewBitmapAll(Value);
    FPreviewBitmap = Value;
}

void TCustomRUvivoVOV::SetKeepStoppedOutputs(bool Value) {
    FKeepStoppedOutputs = Value;
    std::vector<TTaskPtr>& List = FTasks.LockList();
    for (TTaskPtr& Engine : List) Engine->SetKeepStoppedOutputs(Value);
    FTasks.UnlockList();
}

TProgressEvent TCustomRUvivoVOV::GetOnProgress() const {
    return Copy(FHandlerLock, FOnProgress);
}
std::u16string TCustomRUvivoVOV::KeptPartialName(TTaskId AId) const {
    std::lock_guard<std::mutex> G(FHandlerLock);
    const auto It = FKeptPartials.find(AId);
    return It == FKeptPartials.end() ? std::u16string() : It->second;
}

TTerminateEvent TCustomRUvivoVOV::GetOnTerminate() const {
    return Copy(FHandlerLock, FOnTerminate);
}
TPreviewBitmapEvent TCustomRUvivoVOV::GetOnPreviewBitmap() const {
    return Copy(FHandlerLock, FOnPreviewBitmap);
}
TBeforeHookEvent TCustomRUvivoVOV::GetOnBeforeHook() const {
    return Copy(FHandlerLock, FOnBeforeHook);
}
TCustomHookEvent TCustomRUvivoVOV::GetOnCustomHook() const {
    return Copy(FHandlerLock, FOnCustomHook);
}
void TCustomRUvivoVOV::SetOnProgress(TProgressEvent Value) {
    Store(FHandlerLock, FOnProgress, std::move(Value));
}
void TCustomRUvivoVOV::SetOnTerminate(TTerminateEvent Value) {
    Store(FHandlerLock, FOnTerminate, std::move(Value));
}
void TCustomRUvivoVOV::SetOnPreviewBitmap(TPreviewBitmapEvent Value) {
    Store(FHandlerLock, FOnPreviewBitmap, std::move(Value));
}
void TCustomRUvivoVOV::SetOnBeforeHook(TBeforeHookEvent Value) {
    Store(FHandlerLock, FOnBeforeHook, std::move(Value));
}
void TCustomRUvivoVOV::SetOnCustomHook(TCustomHookEvent Value) {
    Store(FHandlerLock, FOnCustomHook, std::move(Value));
}

// --- tasks -----------------------------------------------------------------------------------

int32_t TCustomRUvivoVOV::NewTask(const std::u16string& AFileName, const TInputOptions* AOptions) {
    FlushDisposed();
    TTaskPtr Engine;
    try {
        Engine = CreateTask();
        Engine->ResetJob();
        Engine->SetVerbose(FVerbosity);
        {
            EnterPumping(PreviewLock());
            std::lock_guard<TCriticalSection> P(PreviewLock(), std::adopt_lock);
            Engine->SetPreviewFlags(static_cast<uint8_t>((FPreview ? 1 : 0) | (FPreviewBitmap ? 2 : 0)));
        }
        Engine->SetOnPreviewBitmap([this](TCustomFFmpeg& Sender, TBitmap& Bitmap, int32_t Frame,
                                          int64_t PTS) { DoPreviewBitmap(Sender, Bitmap, Frame, PTS); });
        Engine->SetKeepStoppedOutputs(FKeepStoppedOutputs.load());
        KeepRecord(AFileName, AOptions, Engine->FInputFileName, Engine->FHasInputOptions,
                   Engine->FInputOptions);
        if (!OpenTaskInput(*Engine)) {
            FLastError = Engine->LastError();
            return -1;
        }
        Engine->Probe().AttachContext(Engine->InputFile(Engine->InputFileCount() - 1));
        Engine->SetOnProgress([this](TCustomFFmpeg& Sender, int32_t Frame, int32_t FPS, int32_t Duration,
                                     float Quality, float BitRate, int64_t Size, int32_t Total) {
            DoProgress(Sender, Frame, FPS, Duration, Quality, BitRate, Size, Total);
        });
        Engine->SetOnTerminate([this](TCustomFFmpeg& Sender) { DoTerminate(Sender); });
        std::lock_guard<TEventLock> G(FEventLock);
        TTaskFFmpeg& Added = *Engine;
        const int32_t Index = FTasks.Add(std::move(Engine));
        if (!FRunActive) {
            // A task added after a run's end takes part in the next end.
            FFinalRaised = false;
        } else if (FStopping) {
            // A stopped run starts nothing more: the task waits for the next run.
            Added.FCounted = true;
            ++FFinishedCount;
        } else {
            // The run ends after it too; it is started once SetTaskOutput has given it an
            // output, as a start without one would fail.
            Added.FAwaitingOutput = true;
        }
        return Index;
    } catch (const std::exception& E) {
        FLastError = E.what();
        return -1;
    }
}

void TCustomRUvivoVOV::ApplyStreamInfo(TTaskFFmpeg& Engine, const TStreamInfo& Info) {
    if (Info.TimeStamp == 0.0)
        Engine.ApplyOption("timestamp", UnixSecondsToDateText(static_cast<int64_t>(std::time(nullptr))));
    else if (Info.TimeStamp > 0.0)
        Engine.ApplyOption("timestamp", UnixSecondsToDateText(DateTimeToUnixSeconds(Info.TimeStamp)));
    if (Info.Year > 0) Engine.AddMetadata("year", std::to_string(Info.Year));
    if (Info.Track > 0) Engine.AddMetadata("track", std::to_string(Info.Track));
    const std::pair<const char*, const std::string*> Texts[] = {
        {"title", &Info.Title},     {"author", &Info.Author}, {"copyright", &Info.Copyright},
        {"comment", &Info.Comment}, {"album", &Info.Album},   {"genre", &Info.Genre},
    };
    for (const auto& [Name, Value] : Texts)
        if (!Value->empty()) Engine.AddMetadata(Name, *Value);
}

namespace {

// A system colour (negative) has no fixed value without a desktop; black stands in for it.
int32_t ColorToRGB(TColor Color) {
    return Color < 0 ? 0 : (Color & 0xFFFFFF);
}

}  // namespace

// The record's fields in table order: the format, the fields that stand for options (their
// rows), then the colour, the times and the stream information.
void TCustomRUvivoVOV::ApplyOutputFields(TTaskFFmpeg& Engine, const TOutputOptions& O) {
    if (!O.ForceFormat.empty()) Engine.SetOutputFormat(O.ForceFormat);
    ApplyOutputFieldRows(Engine, O);
    Engine.SetPadColor(ColorToRGB(O.PadColor));
    if (O.StartTimeMs > 0) Engine.SetStartTime(static_cast<int64_t>(O.StartTimeMs) * 1000);
    if (O.StartTime > 0) Engine.SetStartTime(O.StartTime);
    if (O.RecordingTimeMs > 0) Engine.SetRecordingTimeMs(O.RecordingTimeMs);
    if (O.RecordingTime > 0) Engine.SetRecordingTime(O.RecordingTime);
    ApplyStreamInfo(Engine, O.Metadata);
}

bool TCustomRUvivoVOV::OpenTaskInput(TTaskFFmpeg& Engine) {
    if (Engine.FHasInputOptions) {
        const TInputOptions& O = Engine.FInputOptions;
        Engine.ApplyOptionLines(O.OptionLines, kPhaseOrdinary);
        if (!O.ForceFormat.empty()) Engine.SetInputFormat(O.ForceFormat);
        if (O.StartTimeMs > 0) Engine.SetStartTime(static_cast<int64_t>(O.StartTimeMs) * 1000);
        if (O.StartTime > 0) Engine.SetStartTime(O.StartTime);
        Engine.SetProgramId(O.ProgramId);
    }
    return Engine.OpenInputFile(Engine.FInputFileName);
}

bool TCustomRUvivoVOV::OpenTaskOutput(TTaskFFmpeg& Engine) {
    bool Join = false;
    std::string Lines;
    if (Engine.FHasOutputOptions) {
        const TOutputOptions& O = Engine.FOutputOptions;
        if (O.Target >= 1 && O.Target <= 3)
            Engine.SetTarget(TargetTypeName(O.Target), TargetNormName(O.TargetNorm),
                             TargetDefaultNormName(O.TargetDefaultNorm));
        Engine.ApplyOptionLines(O.OptionLines, kPhaseOrdinary);
        ApplyOutputFields(Engine, O);
        Engine.ApplyOptionLines(O.OptionLines, kPhasePresets);
        if (O.CustomHook) {
            Engine.SetOnCustomHook(
                [this](TCustomFFmpeg& Sender, TBitmap& Bitmap, int32_t Frame, int64_t PTS, bool& Update,
                       bool& StopHook) { DoCustomHook(Sender, Bitmap, Frame, PTS, Update, StopHook); });
        } else if (O.BeforeHook) {
            Engine.SetOnBeforeHook([this](TCustomFFmpeg& Sender, int64_t PTS, THookAction& Action) {
                DoBeforeHook(Sender, PTS, Action);
            });
        } else {
            Engine.SetPTSPeriods(ParsePTSPeriods(O.HookPTSPeriods));
        }
        Join = O.JoinFlag;
        Lines = O.OptionLines;
    }
    if (Engine.OpenOutputFile(Engine.FOutputFileName, Join) < 0) return false;
    Engine.ApplyOptionLines(Lines, kPhaseExtraStreams);
    return true;
}

void TCustomRUvivoVOV::ReleaseTaskFiles(TTaskFFmpeg& Engine) {
    // The probe borrows the input that goes now.
    Engine.Probe().Close();
    Engine.FReopen = [this](TTaskFFmpeg& Task) { ReopenTaskFiles(Task); };
    Engine.ReleaseFiles();
}

void TCustomRUvivoVOV::ReopenTaskFiles(TTaskFFmpeg& Engine) {
    // Whatever went wrong now (the source deleted or changed since it was added, no handle
    // left) is that task's failure, with the text the same failure had when it was added.
    Engine.ResetSetup();
    if (!OpenTaskInput(Engine) || !OpenTaskOutput(Engine)) throw FFmpegException(Engine.LastError());
}

bool TCustomRUvivoVOV::SetTaskOutput(int32_t AIndex, const std::u16string& AFileName,
                                     const TOutputOptions* AOptions) {
    FlushDisposed();
    try {
        TTaskFFmpeg* Engine = FTasks.Items(AIndex);
        if (!Engine) throw std::out_of_range(Format("List index out of bounds (%d)", AIndex));
        if (Engine->FilesReleased()) {
            // The task keeps one output: a second one replaces the first, whose empty file goes,
            // on an input opened again for it.
            const int32_t Verbose = Engine->Settings().Verbose;
            Engine->ResetJob();
            Engine->SetVerbose(Verbose);
            if (!OpenTaskInput(*Engine)) {
                FLastError = Engine->LastError();
                return false;
            }
        }
        KeepRecord(AFileName, AOptions, Engine->FOutputFileName, Engine->FHasOutputOptions,
                   Engine->FOutputOptions);
        if (!OpenTaskOutput(*Engine)) {
            FLastError = Engine->LastError();
            // A name the caller took for this output is free again.
            ReleaseOutputClaim(FileSystemName(AFileName), true);
            return false;
        }
        ReleaseTaskFiles(*Engine);
        std::lock_guard<TEventLock> G(FEventLock);
        if (Engine->FAwaitingOutput) {
            Engine->FAwaitingOutput = false;
            JoinReadyTasks();
        }
        return true;
    } catch (const std::exception& E) {
        FLastError = E.what();
        return false;
    }
}

bool TCustomRUvivoVOV::InsideRun() const {
    return FEventLock.HeldByCurrentThread() || (IsMainThread() && FSequentialEngine);
}

void TCustomRUvivoVOV::Dispose(std::vector<TTaskPtr> Engines) {
    if (Engines.empty()) return;
    if (InsideRun()) {
        std::lock_guard<std::mutex> G(FDisposedLock);
        for (TTaskPtr& Engine : Engines) FDisposed.push_back(std::move(Engine));
        return;
    }
    FreeEngines(Engines);
}

void TCustomRUvivoVOV::ReleaseEndedWorkers(TTaskFFmpeg* Ended) {
    std::lock_guard<std::mutex> G(FEndedLock);
    std::erase_if(FEndedWorkers, [](TTaskFFmpeg* Engine) { return Engine->ReleaseEndedWorker(); });
    if (Ended) FEndedWorkers.push_back(Ended);
}

void TCustomRUvivoVOV::ForgetEndedWorkers(const std::vector<TTaskPtr>& Engines) {
    std::lock_guard<std::mutex> G(FEndedLock);
    for (const TTaskPtr& Engine : Engines) std::erase(FEndedWorkers, Engine.get());
}

void TCustomRUvivoVOV::FreeEngines(std::vector<TTaskPtr>& Engines) {
    // A running conversion ends before its engine goes: the engine's own destructor would stop
    // it only after the engine's more derived parts were gone.
    for (TTaskPtr& Engine : Engines) Engine->StopAndWait();
    // Only now: a task's end, which lists its worker, comes before StopAndWait returns.
    ForgetEndedWorkers(Engines);
    Engines.clear();
}

void TCustomRUvivoVOV::FlushDisposed() {
    if (InsideRun()) return;
    std::vector<TTaskPtr> Engines;
    {
        std::lock_guard<std::mutex> G(FDisposedLock);
        Engines.swap(FDisposed);
    }
    FreeEngines(Engines);
}

void TCustomRUvivoVOV::DeleteTask(int32_t AIndex) {
    const bool Inside = InsideRun();
    std::vector<TTaskPtr> Removed;
    {
        std::lock_guard<TEventLock> G(FEventLock);
        TTaskFFmpeg* Engine = FTasks.Items(AIndex);
        if (!Engine) return;
        Engine->FDetached = true;
        if (FRunActive) {
            if (AIndex < FNextIndex)
                --FNextIndex;  // the next task moves down with the others
            else if (AIndex < FNextIndex + FPendingCount)
                --FPendingCount;  // it will not be started
        }
        if (Engine->FCounted && FFinishedCount > 0) --FFinishedCount;
        // A running task stops at its next packet; from inside the run nothing waits for it.
        // What it converted so far follows the rule for stopped tasks, as a stop's would.
        Engine->Stop(false);
        Removed.push_back(FTasks.Extract(AIndex));
        // Tasks added behind a removed one that waited for its output may join now.
        JoinReadyTasks();
    }
    // Outside the run this waits for the task's end, whose report starts the next task.
    Dispose(std::move(Removed));
    if (Inside) return;  // the run's own end checks come after the removed task has ended
    std::lock_guard<TEventLock> G(FEventLock);
    if (FRunActive && FPendingCount <= 0) CheckRunEnd();
}

void TCustomRUvivoVOV::ClearTasks() {
    const bool Inside = InsideRun();
    bool WasActive = false;
    std::vector<TTaskFFmpeg*> Running;
    {
        std::lock_guard<TEventLock> G(FEventLock);
        FPendingCount = 0;
        WasActive = FRunActive.load();
        if (WasActive) FStopping = true;
        std::vector<TTaskPtr>& List = FTasks.LockList();
        for (TTaskPtr& Engine : List)
            if (Engine->Running()) Running.push_back(Engine.get());
        FTasks.UnlockList();
        if (Inside) {
            // The task converting on this thread cannot be waited for: it stops at its next
            // packet and its end is reported here, while it still has its index.
            for (TTaskFFmpeg* Engine : Running) {
                Engine->Stop(false);
                if (Engine->FDetached || Engine->FCounted) continue;
                Engine->FCounted = true;
                ++FFinishedCount;
                // Reported as stopped, not failed: a task on another worker may be writing its
                // error right now, outside this lock.
                RaiseTerminate(Engine, false, false, "");
            }
        }
    }
    // Each running task ends and reports with its index before the list goes; only the main
    // thread frees engines, so the pointers stay valid.
    if (!Inside)
        for (TTaskFFmpeg* Engine : Running) Engine->Stop(true);
    std::vector<TTaskPtr> Removed;
    {
        std::lock_guard<TEventLock> G(FEventLock);
        Removed = FTasks.ExtractAll();
        for (TTaskPtr& Engine : Removed) Engine->FDetached = true;
        const bool RaiseFinal = WasActive && !FFinalRaised;
        // An empty list has no run to end; a task added later clears this.
        FFinalRaised = true;
        FRunActive = false;
        FStopping = false;
        FPaused = false;
        FFinishedCount = 0;
        FLastError.clear();
        // Raised once the run is over: a threaded run's handler, on a thread of its own, may
        // already look at the component. The mode still tells how to raise it.
        if (RaiseFinal) RaiseTerminate(nullptr, true, false, "");
        FThreadMode = false;
    }
    Dispose(std::move(Removed));
    FlushDisposed();
}

// --- running ---------------------------------------------------------------------------------

void TCustomRUvivoVOV::StartTasks(int32_t AThreadCount) {
    FlushDisposed();
    {
        std::lock_guard<TEventLock> G(FEventLock);
        // One run at a time: a second start would recount tasks that are still running.
        if (FRunActive) return;
        FNextIndex = 0;
        FFinishedCount = 0;
        FFinalRaised = false;
        FStopping = false;
        FPaused = false;
        FBusySlots = 0;
        FThreadCount = AThreadCount > 0 ? AThreadCount : 0;
        FThreadMode = AThreadCount > 0;
        FPendingCount = TaskCount();
        {
            std::vector<TTaskPtr>& List = FTasks.LockList();
            for (TTaskPtr& Engine : List) {
                Engine->FCounted = false;
                Engine->FHoldsSlot = false;
                Engine->FAwaitingOutput = false;
            }
            FTasks.UnlockList();
        }
        if (FPendingCount <= 0) return;
        FRunActive = true;
        if (FThreadMode) {
            // Held while starting, so that a task ending meanwhile waits to start the next one.
            FillSlots();
            return;
        }
    }
    for (;;) {
        TTaskFFmpeg* Engine = nullptr;
        {
            std::lock_guard<TEventLock> G(FEventLock);
            if (FPendingCount <= 0) break;
            --FPendingCount;
            Engine = FTasks.Items(FNextIndex++);
            FSequentialEngine = Engine;
        }
        if (Engine) StartOneTask(*Engine);
        FSequentialEngine = nullptr;
        // Engines removed by a handler while they ran can go now.
        FlushDisposed();
    }
    {
        // A handler may have removed the last task while it ran: its end was not counted.
        std::lock_guard<TEventLock> G(FEventLock);
        if (FRunActive) CheckRunEnd();
    }
    // Tasks stopped from inside a handler report from their notification threads.
    WaitInMainThread([this] { return !FRunActive.load(); });
    FlushDisposed();
}

void TCustomRUvivoVOV::JoinReadyTasks() {
    if (!FRunActive || FStopping) return;
    // The run's waiting tasks are those from FNextIndex on; added ones join in list order, each
    // once it has its output.
    for (;;) {
        TTaskFFmpeg* Engine = FTasks.Items(FNextIndex + FPendingCount);
        if (!Engine || Engine->FAwaitingOutput) break;
        ++FPendingCount;
    }
    FillSlots();
}

void TCustomRUvivoVOV::FillSlots() {
    if (!FThreadMode) return;  // sequential mode goes on in the StartTasks loop
    while (FPendingCount > 0 && FBusySlots < FThreadCount) StartNextTask();
}

void TCustomRUvivoVOV::StartNextTask() {
    if (FPendingCount <= 0) return;
    --FPendingCount;
    TTaskFFmpeg* Engine = FTasks.Items(FNextIndex++);
    if (Engine)
        StartOneTask(*Engine);
    else
        CheckRunEnd();
}

void TCustomRUvivoVOV::StartOneTask(TTaskFFmpeg& Engine) {
    // The run releases the input the probe describes.
    Engine.Probe().Close();
    if (Engine.Terminated() || Engine.Running()) {
        // An engine runs once; it reports its earlier end again so that the run still ends.
        DoTerminate(Engine);
        return;
    }
    Engine.SetProgressInterval(static_cast<int64_t>(FProgressInterval.load()) * 1000);
    if (FThreadMode) {
        if (TThread* Worker = Engine.Start(true, FThreadPriority.load())) {
            Engine.FHoldsSlot = true;
            ++FBusySlots;
            // A paused run keeps the tasks it starts paused until it is resumed.
            if (FPaused) Engine.Pause();
            Worker->Resume();
        }
    } else {
        Engine.Start(false);
    }
}

void TCustomRUvivoVOV::StopTasks(bool AWait) {
    // From inside a handler the threads to wait for may need the event lock this thread holds.
    const bool InEvent = FEventLock.HeldByCurrentThread();
    {
        // Taken so that a task ending right now finishes starting its successor first; the
        // stop below then stops that one too instead of racing its start.
        std::lock_guard<TEventLock> G(FEventLock);
        FPendingCount = 0;
        if (FRunActive) FStopping = true;
        FPaused = false;
    }
    FTasks.StopAll(AWait && !InEvent);
}

void TCustomRUvivoVOV::PauseTasks() {
    // Under the event lock, so that a task starting meanwhile is either paused here or starts
    // paused.
    std::lock_guard<TEventLock> G(FEventLock);
    if (FRunActive && FThreadMode) FPaused = true;
    FTasks.PauseAll();
}

void TCustomRUvivoVOV::ResumeTasks() {
    std::lock_guard<TEventLock> G(FEventLock);
    FPaused = false;
    FTasks.ResumeAll();
}

// --- events ----------------------------------------------------------------------------------

TTaskId TCustomRUvivoVOV::TaskId(int32_t AIndex) {
    const TTaskFFmpeg* Engine = FTasks.Items(AIndex);
    return Engine ? Engine->Id() : 0;
}

int32_t TCustomRUvivoVOV::IndexOfTask(TTaskId AId) {
    return FTasks.IndexOf(AId);
}

TEventTaskScope::TEventTaskScope(TTaskId Id) : FSaved(events::tRaisingTask) {
    events::tRaisingTask = Id;
}

TEventTaskScope::~TEventTaskScope() {
    events::tRaisingTask = FSaved;
}

TTaskId TCustomRUvivoVOV::EventTaskId() {
    return events::tRaisingTask;
}

template <typename THandler, typename... TArgs>
void TCustomRUvivoVOV::RaiseFor(TCustomFFmpeg& Sender, const THandler& Handler, TArgs&&... Args) {
    const TTaskFFmpeg* Engine = nullptr;
    {
        std::lock_guard<TEventLock> G(FEventLock);
        Engine = dynamic_cast<TTaskFFmpeg*>(&Sender);
        // A task that left the list keeps its old index, which now names another task (or none,
        // after the run's final event): its last reports go nowhere.
        if (!Engine || Engine->FDetached) return;
    }
    const events::TRaisingTask Raising(Engine->Id());
    Handler(Engine->Index(), std::forward<TArgs>(Args)...);
}

void TCustomRUvivoVOV::DoBeforeHook(TCustomFFmpeg& Sender, int64_t APTS, THookAction& AHookAction) {
    TBeforeHookEvent Handler = GetOnBeforeHook();
    if (!Handler) return;
    RaiseFor(Sender, Handler, APTS, AHookAction);
}

void TCustomRUvivoVOV::DoCustomHook(TCustomFFmpeg& Sender, TBitmap& ABitmap, int32_t AFrameNumber,
                                    int64_t APTS, bool& AUpdate, bool& AStopHook) {
    TCustomHookEvent Handler = GetOnCustomHook();
    if (!Handler) return;
    RaiseFor(Sender, Handler, ABitmap, AFrameNumber, APTS, AUpdate, AStopHook);
}

void TCustomRUvivoVOV::DoPreviewBitmap(TCustomFFmpeg& Sender, TBitmap& ABitmap, int32_t AFrameNumber,
                                       int64_t APTS) {
    if (!GetOnPreviewBitmap()) return;
    // Each call carries its own values: tasks on other threads deliver theirs at the same time.
    // The bitmap and the engine stay valid because the call waits until the main thread has
    // handled it.
    const TPendingPreview P{&Sender, &ABitmap, AFrameNumber, APTS};
    RunInMainThread([this, P] { FirePreviewBitmap(P); });
}

void TCustomRUvivoVOV::FirePreviewBitmap(const TPendingPreview& P) {
    TPreviewBitmapEvent Handler = GetOnPreviewBitmap();
    if (!Handler) return;
    // The task is looked at when the picture is delivered: the list may have changed meanwhile.
    RaiseFor(*P.Sender, Handler, *P.Bitmap, P.FrameNumber, P.PTS);
}

void TCustomRUvivoVOV::DoProgress(TCustomFFmpeg& Sender, int32_t AFrameNumber, int32_t AFPS,
                                  int32_t ACurrentDuration, float AQuality, float ABitRate,
                                  int64_t ACurrentSize, int32_t ATotalOutputDuration) {
    TProgressEvent Handler = GetOnProgress();
    if (!Handler) return;
    std::lock_guard<TEventLock> G(FEventLock);
    RaiseFor(Sender, Handler, AFrameNumber, AFPS, ACurrentDuration, AQuality, ABitRate, ACurrentSize,
             ATotalOutputDuration);
}

void TCustomRUvivoVOV::RaiseTerminate(const TTaskFFmpeg* Engine, bool AFinished, bool AException,
                                      const std::string& AMessage) {
    TTerminateEvent Handler = GetOnTerminate();
    if (!Handler) return;
    const TTaskId Id = Engine ? Engine->Id() : 0;
    const int32_t Index = Engine ? Engine->Index() : -1;
    if (FThreadMode) {
        // The thread lives for this one event. The component frees it once it has ended (here
        // for earlier ones, at the latest in its destructor) instead of letting it free itself,
        // so that no such thread still runs when the component or the program goes away.
        ReapEventThreads();
        try {
            auto Thread = std::make_unique<events::TTerminateEventThread>(Handler, Id, Index, AFinished,
                                                                          AException, AMessage);
            std::lock_guard<std::mutex> G(FEventThreadLock);
            FEventThreads.reserve(FEventThreads.size() + 1);
            // Started once it has its place: a started thread that could not be kept would be
            // joined here, under the event lock its handler may need.
            Thread->Resume();
            FEventThreads.push_back(std::move(Thread));
            return;
        } catch (const std::exception& E) {
            // No thread to be had (or no memory for one): the event is raised here instead of
            // being lost with the run's end.
            GetLogger().Log(this, llError,
                            "Cannot start the terminate event thread: " + std::string(E.what()));
        }
    }
    // A failing handler must not keep the run from its end.
    try {
        const events::TRaisingTask Raising(Id);
        Handler(Index, AFinished, AException, AMessage);
    } catch (const std::exception& E) {
        GetLogger().Log(this, llError, "Error occurs OnTerminate: " + std::string(E.what()));
    }
}

void TCustomRUvivoVOV::DoTerminate(TCustomFFmpeg& Sender) {
    auto* Engine = dynamic_cast<TTaskFFmpeg*>(&Sender);
    if (!Engine) return;
    std::lock_guard<TEventLock> G(FEventLock);
    const bool HeldSlot = Engine->FHoldsSlot;
    Engine->FHoldsSlot = false;
    if (HeldSlot) --FBusySlots;
    // This worker is still running this report; the ones before it have returned by now.
    ReleaseEndedWorkers(HeldSlot ? Engine : nullptr);
    {
        // A removed task reports to nobody, yet whoever removed it may ask what it left.
        std::lock_guard<std::mutex> K(FHandlerLock);
        if (Engine->KeptPartialName().empty())
            FKeptPartials.erase(Engine->Id());
        else
            FKeptPartials[Engine->Id()] = Engine->KeptPartialName();
    }
    if (!Engine->FDetached && !Engine->FCounted) {
        // Counted before the handler runs: a handler that removes the task then uncounts it.
        Engine->FCounted = true;
        ++FFinishedCount;
        RaiseTerminate(Engine, Engine->Finished(), Engine->ErrorOccurred(), Engine->ErrorMessage());
    } else if (!HeldSlot) {
        // A second report of one run, or a task that left the list before it started.
        return;
    }
    // A removed task that was running still frees its place for the next one.
    EndOfTask();
}

void TCustomRUvivoVOV::EndOfTask() {
    FillSlots();
    if (FPendingCount <= 0) CheckRunEnd();
}

void TCustomRUvivoVOV::CheckRunEnd() {
    // A removed task still running holds its place: the run ends after it too.
    if (FFinalRaised || FPendingCount > 0 || FBusySlots > 0 || FFinishedCount < TaskCount()) return;
    FFinalRaised = true;
    FRunActive = false;
    FStopping = false;
    FPaused = false;
    RaiseTerminate(nullptr, true, false, "");
}

}  // namespace zembra
