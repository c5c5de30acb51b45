#pragma once

// The task manager: a list of conversion tasks (one engine each), run one after another in the
// caller's thread or several at once on worker threads, with the engines' reports turned into
// five events that carry the task's index (and, to be read inside the handler, its id).

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "component/FFmpegList.h"
#include "component/OptionRecords.h"
#include "engine/FFmpeg.h"
#include "probe/AVProbe.h"
#include "util/Bitmap.h"
#include "util/CriticalSection.h"
#include "util/Thread.h"

namespace zembra {

using TConvertPriority = TThreadPriority;
using TThreadPriority::tpIdle;
using TThreadPriority::tpLower;
using TThreadPriority::tpLowest;
using TThreadPriority::tpNormal;

using TProgressEvent =
    std::function<void(int32_t AIndex, int32_t AFrameNumber, int32_t AFPS, int32_t ACurrentDuration,
                       float AQuality, float ABitRate, int64_t ACurrentSize, int32_t ATotalOutputDuration)>;
// AIndex -1: the final event of a run (AFinished true, AException false, AMessage empty).
using TTerminateEvent =
    std::function<void(int32_t AIndex, bool AFinished, bool AException, const std::string& AMessage)>;
using TPreviewBitmapEvent =
    std::function<void(int32_t AIndex, TBitmap& ABitmap, int32_t AFrameNumber, int64_t APTS)>;
using TBeforeHookEvent = std::function<void(int32_t AIndex, int64_t APTS, THookAction& AHookAction)>;
using TCustomHookEvent = std::function<void(int32_t AIndex, TBitmap& ABitmap, int32_t AFrameNumber,
                                            int64_t APTS, bool& AUpdate, bool& AStopHook)>;

// The recursive event lock, knowing which thread holds it: a call made from inside an event
// handler must not wait for threads that need this lock.
class TEventLock {
  public:
    // On the main thread the run-on-main-thread queue is pumped while waiting.
    void Enter();
    void Leave();
    bool HeldByCurrentThread() const { return FOwner.load() == std::this_thread::get_id(); }

    void lock() { Enter(); }
    void unlock() { Leave(); }

  private:
    TCriticalSection FLock;
    std::atomic<std::thread::id> FOwner{};
    int FDepth = 0;  // changed by the owner only
};

// The task an event raised on this thread is about, for one handler call (what EventTaskId
// reads): the component sets it for each event it raises; whoever replays an event does too.
class TEventTaskScope {
  public:
    explicit TEventTaskScope(TTaskId Id);
    ~TEventTaskScope();
    TEventTaskScope(const TEventTaskScope&) = delete;
    TEventTaskScope& operator=(const TEventTaskScope&) = delete;

  private:
    TTaskId FSaved;
};

class TCustomRUvivoVOV {
  public:
    TCustomRUvivoVOV();
    virtual ~TCustomRUvivoVOV();
    TCustomRUvivoVOV(const TCustomRUvivoVOV&) = delete;
    TCustomRUvivoVOV& operator=(const TCustomRUvivoVOV&) = delete;

    // The public operations belong to the thread that created the component (the main thread).
    bool LoadLibraries(const std::u16string& ALibraryFolder);
    void UnloadLibraries();
    // The task's index, or -1 with LastError set.
    int32_t NewTask(const std::u16string& AFileName, const TInputOptions* AOptions = nullptr);
    bool SetTaskOutput(int32_t AIndex, const std::u16string& AFileName,
                       const TOutputOptions* AOptions = nullptr);
    void DeleteTask(int32_t AIndex);
    void ClearTasks();
    // Above 0: that many tasks at once on worker threads, returning at once. 0 or less: one
    // after another in the caller's thread, returning after the final terminate event.
    void StartTasks(int32_t AThreadCount);
    void StopTasks(bool AWait);
    void PauseTasks();
    void ResumeTasks();

    const std::string& LastError() const { return FLastError; }
    TAVProbe& Probe() { return *FProbe; }
    int32_t TaskCount() const { return FTasks.Count(); }
    // The engine of a task (nullptr outside the list), for reading its records and probe.
    TTaskFFmpeg* Task(int32_t AIndex) { return FTasks.Items(AIndex); }
    // Where a stopped task kept its partial output (empty when it kept none), by the task's id:
    // it is still known after the task left the list. Safe to ask from the terminate handler.
    std::u16string KeptPartialName(TTaskId AId) const;

    // True from StartTasks until the run's final terminate event.
    bool RunActive() const { return FRunActive.load(); }
    bool ThreadMode() const { return FThreadMode.load(); }

    // Tasks by identity, for front ends that hand events on to another thread: an index names
    // whichever task is at that place when it is read, an id always the same task.
    TTaskId TaskId(int32_t AIndex);    // 0 outside the list
    int32_t IndexOfTask(TTaskId AId);  // -1 once the task has left the list
    // Inside an event handler: the id of the task the event is about; 0 in a run's final event.
    static TTaskId EventTaskId();

    // Waits (pumping on the main thread) until no terminate-event thread of this component is
    // left; false when the time ran out.
    bool WaitForEventThreads(std::chrono::milliseconds Timeout = std::chrono::milliseconds::max());

  protected:
    // Creates the engine of a new task; a subclass may hand out its own kind of engine.
    virtual TTaskPtr CreateTask();

    // The engines' callbacks.
    virtual void DoBeforeHook(TCustomFFmpeg& Sender, int64_t APTS, THookAction& AHookAction);
    virtual void DoCustomHook(TCustomFFmpeg& Sender, TBitmap& ABitmap, int32_t AFrameNumber, int64_t APTS,
                              bool& AUpdate, bool& AStopHook);
    virtual void DoPreviewBitmap(TCustomFFmpeg& Sender, TBitmap& ABitmap, int32_t AFrameNumber, int64_t APTS);
    virtual void DoProgress(TCustomFFmpeg& Sender, int32_t AFrameNumber, int32_t AFPS,
                            int32_t ACurrentDuration, float AQuality, float ABitRate, int64_t ACurrentSize,
                            int32_t ATotalOutputDuration);
    virtual void DoTerminate(TCustomFFmpeg& Sender);

    // Published through TRUvivoVOV.
    int32_t GetProgressInterval() const { return FProgressInterval.load(); }
    void SetProgressInterval(int32_t Value) { FProgressInterval = Value <= 100 ? 100 : Value; }
    TConvertPriority GetThreadPriority() const { return FThreadPriority.load(); }
    void SetThreadPriority(TConvertPriority Value) { FThreadPriority = Value; }
    bool GetPreview() const { return FPreview.load(); }
    void SetPreview(bool Value);
    bool GetPreviewBitmap() const { return FPreviewBitmap.load(); }
    void SetPreviewBitmap(bool Value);
    int32_t GetVerbosity() const { return FVerbosity; }
    void SetVerbosity(int32_t Value) { FVerbosity = Value; }
    bool GetKeepStoppedOutputs() const { return FKeepStoppedOutputs.load(); }
    // Holds for the tasks already listed too: a stop, removal or clear follows the rule in force
    // when it happens.
    void SetKeepStoppedOutputs(bool Value);

    TProgressEvent GetOnProgress() const;
    TTerminateEvent GetOnTerminate() const;
    TPreviewBitmapEvent GetOnPreviewBitmap() const;
    TBeforeHookEvent GetOnBeforeHook() const;
    TCustomHookEvent GetOnCustomHook() const;
    void SetOnProgress(TProgressEvent Value);
    void SetOnTerminate(TTerminateEvent Value);
    void SetOnPreviewBitmap(TPreviewBitmapEvent Value);
    void SetOnBeforeHook(TBeforeHookEvent Value);
    void SetOnCustomHook(TCustomHookEvent Value);

    // For subclasses that take part in the event handling.
    TEventLock& EventLock() { return FEventLock; }

    std::string About;

  private:
    struct TPendingPreview {
        TCustomFFmpeg* Sender = nullptr;
        TBitmap* Bitmap = nullptr;
        int32_t FrameNumber = 0;
        int64_t PTS = 0;
    };

    // Calls Handler with the task's index, its id readable inside; nothing once it left the list.
    template <typename THandler, typename... TArgs>
    void RaiseFor(TCustomFFmpeg& Sender, const THandler& Handler, TArgs&&... Args);
    void ApplyOutputFields(TTaskFFmpeg& Engine, const TOutputOptions& Options);
    // Apply the task's stored record (when it has one) and open its file: false with the
    // engine's LastError set; a bad option raises.
    bool OpenTaskInput(TTaskFFmpeg& Engine);
    bool OpenTaskOutput(TTaskFFmpeg& Engine);
    // A checked task holds no files until it runs; its run opens them again, on its thread.
    void ReleaseTaskFiles(TTaskFFmpeg& Engine);
    void ReopenTaskFiles(TTaskFFmpeg& Engine);
    void ApplyStreamInfo(TTaskFFmpeg& Engine, const TStreamInfo& Info);
    void FirePreviewBitmap(const TPendingPreview& P);
    // Under FEventLock.
    void StartNextTask();
    void StartOneTask(TTaskFFmpeg& Engine);
    // Starts pending tasks while the run has free worker places (thread mode only).
    void FillSlots();
    // Counts the tasks added during the run that have their outputs in, up to the first that
    // waits for its output, and starts what fits.
    void JoinReadyTasks();
    void EndOfTask();
    void CheckRunEnd();
    // Engine nullptr: the run's final event.
    void RaiseTerminate(const TTaskFFmpeg* Engine, bool AFinished, bool AException,
                        const std::string& AMessage);
    // True inside an event handler or a sequential run on this thread: an engine may then be
    // on this thread's stack, so nothing may wait for it or free it.
    bool InsideRun() const;
    // Frees engines, or keeps them for later when called from inside a run: the engine may
    // be the one whose report is being handled.
    void Dispose(std::vector<TTaskPtr> Engines);
    // Frees the terminate-event threads that have ended.
    void ReapEventThreads();
    void FlushDisposed();
    void FreeEngines(std::vector<TTaskPtr>& Engines);

    std::string FLastError;
    int32_t FNextIndex = -1;  // under FEventLock
    std::atomic<bool> FThreadMode{false};
    std::atomic<int32_t> FProgressInterval{500};
    std::atomic<TConvertPriority> FThreadPriority{tpNormal};
    std::atomic<bool> FPreview{false};
    std::atomic<bool> FPreviewBitmap{false};
    std::atomic<bool> FKeepStoppedOutputs{true};
    int32_t FVerbosity = 1;

    mutable std::mutex FHandlerLock;
    // The kept partial outputs by task id, under FHandlerLock.
    std::map<TTaskId, std::u16string> FKeptPartials;
    TBeforeHookEvent FOnBeforeHook;
    TCustomHookEvent FOnCustomHook;
    TPreviewBitmapEvent FOnPreviewBitmap;
    TProgressEvent FOnProgress;
    TTerminateEvent FOnTerminate;

    std::unique_ptr<TAVProbe> FProbe;
    TFFmpegList FTasks;
    TEventLock FEventLock;
    int32_t FFinishedCount = 0;             // under FEventLock
    std::atomic<int32_t> FPendingCount{0};  // changed under FEventLock
    bool FFinalRaised = false;              // under FEventLock
    int32_t FThreadCount = 0;               // under FEventLock: tasks at once in thread mode
    int32_t FBusySlots = 0;                 // under FEventLock: started tasks not yet ended
    bool FPaused = false;                   // under FEventLock: tasks started now start paused
    bool FStopping = false;                 // under FEventLock: the run was stopped
    // The engine a sequential run is converting on the main thread (main thread only).
    TTaskFFmpeg* FSequentialEngine = nullptr;
    std::atomic<bool> FRunActive{false};

    std::mutex FEventThreadLock;
    std::vector<std::unique_ptr<TThread>> FEventThreads;  // terminate-event threads
    std::mutex FDisposedLock;
    std::vector<TTaskPtr> FDisposed;
    // Tasks whose worker ended but may still be returning: joined by a later task's end, so
    // that a long run keeps no more ended threads than it runs at once.
    std::mutex FEndedLock;
    std::vector<TTaskFFmpeg*> FEndedWorkers;
    void ReleaseEndedWorkers(TTaskFFmpeg* Ended);
    void ForgetEndedWorkers(const std::vector<TTaskPtr>& Engines);
};

// The component as the window uses it: the published properties.
class TRUvivoVOV : public TCustomRUvivoVOV {
  public:
    using TCustomRUvivoVOV::About;

    int32_t ProgressInterval() const { return GetProgressInterval(); }
    // 100 or less is stored as 100.
    void SetProgressInterval(int32_t Value) { TCustomRUvivoVOV::SetProgressInterval(Value); }
    TConvertPriority ThreadPriority() const { return GetThreadPriority(); }
    void SetThreadPriority(TConvertPriority Value) { TCustomRUvivoVOV::SetThreadPriority(Value); }
    bool Preview() const { return GetPreview(); }
    void SetPreview(bool Value) { TCustomRUvivoVOV::SetPreview(Value); }
    bool PreviewBitmap() const { return GetPreviewBitmap(); }
    void SetPreviewBitmap(bool Value) { TCustomRUvivoVOV::SetPreviewBitmap(Value); }
    // The engines' log verbosity (option "v") for tasks created later.
    int32_t Verbosity() const { return GetVerbosity(); }
    void SetVerbosity(int32_t Value) { TCustomRUvivoVOV::SetVerbosity(Value); }
    // Whether a task stopped before its end keeps what it converted under its output's name (a
    // valid file; the default), or leaves the name as it was before the task ran.
    bool KeepStoppedOutputs() const { return GetKeepStoppedOutputs(); }
    void SetKeepStoppedOutputs(bool Value) { TCustomRUvivoVOV::SetKeepStoppedOutputs(Value); }
    std::string Version() const { return "2.5"; }

    TProgressEvent OnProgress() const { return GetOnProgress(); }
    TTerminateEvent OnTerminate() const { return GetOnTerminate(); }
    TPreviewBitmapEvent OnPreviewBitmap() const { return GetOnPreviewBitmap(); }
    TBeforeHookEvent OnBeforeHook() const { return GetOnBeforeHook(); }
    TCustomHookEvent OnCustomHook() const { return GetOnCustomHook(); }
    void SetOnProgress(TProgressEvent Value) { TCustomRUvivoVOV::SetOnProgress(std::move(Value)); }
    void SetOnTerminate(TTerminateEvent Value) { TCustomRUvivoVOV::SetOnTerminate(std::move(Value)); }
    void SetOnPreviewBitmap(TPreviewBitmapEvent Value) {
        TCustomRUvivoVOV::SetOnPreviewBitmap(std::move(Value));
    }
    void SetOnBeforeHook(TBeforeHookEvent Value) { TCustomRUvivoVOV::SetOnBeforeHook(std::move(Value)); }
    void SetOnCustomHook(TCustomHookEvent Value) { TCustomRUvivoVOV::SetOnCustomHook(std::move(Value)); }
};

// "vcd", "svcd", "dvd" for 1 to 3, else empty; "pal" / "ntsc" / "auto"; "pal" / "ntsc".
std::string TargetTypeName(int32_t Target);
std::string TargetNormName(int32_t Norm);
std::string TargetDefaultNormName(int32_t Norm);
// Hook time ranges from "start-end,start-end" (milliseconds) in microseconds; a range is kept
// only when its end is not below its start and not negative.
std::vector<TPTSPeriod> ParsePTSPeriods(const std::string& Text);
// Seconds since 1970-01-01 UTC for a local date-time given as a day count.
int64_t DateTimeToUnixSeconds(double DayCount);

}  // namespace zembra
