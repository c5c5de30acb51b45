#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "binding/FFmpegLoader.h"
#include "component/RUvivoVOV.h"
#include "logging/FFmpegLogger.h"
#include "tests/media/TestMedia.h"
#include "util/MainThread.h"
#include "util/StringUtils.h"

namespace zembra::testing {

using namespace std::chrono_literals;

// Set on the threads that run a simulated conversion. Thread ids are reused once a thread has
// ended, thread-local storage is not.
inline thread_local bool tOnWorker = false;
// A number of its own for each thread that runs a simulated conversion: an ended worker is
// joined, and a later thread may then get its id.
inline std::atomic<int> gWorkerSerials{0};
inline thread_local int tWorkerSerial = ++gWorkerSerials;

// How the simulated conversions behave; shared by every task of a component.
struct TLoopControl {
    std::atomic<int> Limit{-1};  // iterations until a task ends by itself; -1: until stopped
    std::atomic<bool> EmitProgress{true};
    std::atomic<bool> EmitPreview{false};
    std::atomic<int> Running{0};
    std::atomic<int> MaxRunning{0};
    std::atomic<int> Started{0};
    std::atomic<int> Destroyed{0};  // tasks gone
    // When above 0, each run waits (up to 10 s) until that many runs have started.
    std::atomic<int> Rendezvous{0};
    std::mutex Lock;
    std::map<const void*, std::thread::id> WorkerOf;  // engine -> thread of its run
    std::map<const void*, int> WorkerSerialOf;        // engine -> that thread's number
    std::map<const void*, int> IterationsOf;
    // Called on the converting thread after a task's loop, before the run's end is reported.
    std::function<void(TTaskFFmpeg&)> AfterLoop;

    std::thread::id Worker(const void* Engine) {
        std::lock_guard<std::mutex> G(Lock);
        auto It = WorkerOf.find(Engine);
        return It == WorkerOf.end() ? std::thread::id() : It->second;
    }
    int Iterations(const void* Engine) {
        std::lock_guard<std::mutex> G(Lock);
        return IterationsOf[Engine];
    }
};

// A task whose run is a loop that honours pause and stop as the packet loop does and reports
// progress (and preview bitmaps) on the way.
class TLoopTask : public TTaskFFmpeg {
  public:
    explicit TLoopTask(TLoopControl& Control) : FControl(Control) {}
    ~TLoopTask() override { ++FControl.Destroyed; }
    using TCustomFFmpeg::FOnBeforeHook;
    using TCustomFFmpeg::FOnCustomHook;
    using TCustomFFmpeg::FOnPreviewBitmap;
    using TCustomFFmpeg::FOnProgress;
    // Threads that may still touch the engine; stopping and freeing it wait for none left.
    int ActiveThreads() const { return FActiveThreads.load(); }

  protected:
    void Transcode() override {
        {
            std::lock_guard<std::mutex> G(FControl.Lock);
            FControl.WorkerOf[this] = std::this_thread::get_id();
            FControl.WorkerSerialOf[this] = tWorkerSerial;
        }
        tOnWorker = true;
        ++FControl.Started;
        for (int Waited = 0; FControl.Started.load() < FControl.Rendezvous.load() && Waited < 10000; ++Waited)
            std::this_thread::sleep_for(1ms);
        const int Now = ++FControl.Running;
        int Max = FControl.MaxRunning.load();
        while (Now > Max && !FControl.MaxRunning.compare_exchange_weak(Max, Now)) {
        }
        // Each task's picture has a width of its own (8 + its index), so that a handler can tell
        // whose picture it was given.
        TBitmap Picture(8 + std::max(0, Index()), 8);
        int I = 0;
        while (!StopRequested()) {
            PauseCheckpoint();
            if (StopRequested()) break;
            ++I;
            {
                std::lock_guard<std::mutex> G(FControl.Lock);
                FControl.IterationsOf[this] = I;
            }
            if (FControl.EmitProgress && FOnProgress)
                FOnProgress(*this, I, 25, I * 40, 2.0f, 128.0f, I * 1000, 4000);
            // As the engine does: outside its preview lock, other tasks delivering at the same time.
            if (FControl.EmitPreview && FOnPreviewBitmap)
                FOnPreviewBitmap(*this, Picture, I, int64_t(I) * 40000);
            if (I == FControl.Limit.load()) break;
            std::this_thread::sleep_for(2ms);
        }
        if (FControl.AfterLoop) FControl.AfterLoop(*this);
        --FControl.Running;
        FFinished = !StopRequested();
    }

  private:
    TLoopControl& FControl;
};

// A component whose tasks are simulated unless Simulate is cleared.
class TTestComponent : public TRUvivoVOV {
  public:
    TLoopControl Control;
    bool Simulate = true;
    // Called at the start of each terminate report, on the reporting thread.
    std::function<void(TCustomFFmpeg&)> BeforeTerminate;

    // The tasks use Control: they go before it does. As with the component's own destruction,
    // the tasks going with it report to nobody.
    ~TTestComponent() override {
        SetOnTerminate(nullptr);
        ClearTasks();
    }

    TEventLock& Lock() { return EventLock(); }
    void ReportEnd(TCustomFFmpeg& Sender) { TRUvivoVOV::DoTerminate(Sender); }

  protected:
    TTaskPtr CreateTask() override {
        if (!Simulate) return TRUvivoVOV::CreateTask();
        return std::make_unique<TLoopTask>(Control);
    }
    void DoTerminate(TCustomFFmpeg& Sender) override {
        if (BeforeTerminate) BeforeTerminate(Sender);
        TRUvivoVOV::DoTerminate(Sender);
    }
};

struct TTerminateRecord {
    int32_t Index = 0;
    bool Finished = false;
    bool Exception = false;
    std::string Message;
    std::thread::id Thread;
    bool OnMain = false;
    bool OnWorker = false;
    TTaskId Id = 0;  // read inside the handler
};

struct TProgressRecord {
    int32_t Index = 0;
    int32_t Frame = 0;
    std::thread::id Thread;
    TTaskId Id = 0;
};

// Records the component's events from whatever thread raises them.
class TEventRecorder {
  public:
    void Attach(TRUvivoVOV& C) {
        C.SetOnTerminate(
            [this](int32_t AIndex, bool AFinished, bool AException, const std::string& AMessage) {
                std::lock_guard<std::mutex> G(FLock);
                FTerminates.push_back({AIndex, AFinished, AException, AMessage, std::this_thread::get_id(),
                                       IsMainThread(), false, TRUvivoVOV::EventTaskId()});
            });
        C.SetOnProgress([this](int32_t AIndex, int32_t AFrame, int32_t, int32_t, float, float, int64_t,
                               int32_t) {
            const int Inside = ++FInsideProgress;
            int Max = FMaxInsideProgress.load();
            while (Inside > Max && !FMaxInsideProgress.compare_exchange_weak(Max, Inside)) {
            }
            {
                std::lock_guard<std::mutex> G(FLock);
                FProgress.push_back({AIndex, AFrame, std::this_thread::get_id(), TRUvivoVOV::EventTaskId()});
            }
            if (ProgressDelay.count() > 0) std::this_thread::sleep_for(ProgressDelay);
            --FInsideProgress;
        });
    }
    std::vector<TTerminateRecord> Terminates() {
        std::lock_guard<std::mutex> G(FLock);
        return FTerminates;
    }
    std::vector<TProgressRecord> Progress() {
        std::lock_guard<std::mutex> G(FLock);
        return FProgress;
    }
    size_t TerminateCount() {
        std::lock_guard<std::mutex> G(FLock);
        return FTerminates.size();
    }
    bool FinalSeen() {
        std::lock_guard<std::mutex> G(FLock);
        return std::any_of(FTerminates.begin(), FTerminates.end(),
                           [](const auto& R) { return R.Index == -1; });
    }
    // Waits (pumping) for N terminate events; false after 20 s.
    bool WaitForTerminates(size_t N) {
        return WaitInMainThread([&] { return TerminateCount() >= N; }, 20s);
    }
    int MaxInsideProgress() const { return FMaxInsideProgress.load(); }

    std::chrono::milliseconds ProgressDelay{0};

  private:
    std::mutex FLock;
    std::vector<TTerminateRecord> FTerminates;
    std::vector<TProgressRecord> FProgress;
    std::atomic<int> FInsideProgress{0};
    std::atomic<int> FMaxInsideProgress{0};
};

// Ends the process when a test hangs: a deadlock must fail fast, not stall the suite.
class TWatchdog {
  public:
    explicit TWatchdog(std::chrono::seconds Limit) {
        FThread = std::thread([this, Limit] {
            std::unique_lock<std::mutex> L(FLock);
            if (!FDisarmed.wait_for(L, Limit, [this] { return FDone; })) {
                std::fprintf(stderr, "watchdog: the test hung (deadlock?)\n");
                std::_Exit(3);
            }
        });
    }
    ~TWatchdog() {
        {
            std::lock_guard<std::mutex> G(FLock);
            FDone = true;
        }
        FDisarmed.notify_all();
        FThread.join();
    }

  private:
    std::mutex FLock;
    std::condition_variable FDisarmed;
    bool FDone = false;
    std::thread FThread;
};

// Loads the libraries, keeps a temporary folder and a short generated sound file.
class ComponentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FFLoader().SetLibraryPath(DefaultLibraryFolder());
        ASSERT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
        GetLogger().SetLogLevel(llError);
        char Pattern[] = "/tmp/zembra-component-XXXXXX";
        ASSERT_NE(::mkdtemp(Pattern), nullptr);
        Dir = Pattern;
        Input = Wav("in.wav", 0.3);
    }
    void TearDown() override {
        GetLogger().SetOnLog(nullptr);
        std::error_code Ec;
        std::filesystem::remove_all(Dir, Ec);
    }

    std::string Path(const std::string& Name) const { return Dir + "/" + Name; }
    static std::u16string W(const std::string& Utf8) { return Utf8ToUtf16(Utf8); }

    std::string Wav(const std::string& Name, double Seconds) {
        testmedia::TClipSpec Spec;
        Spec.Path = Path(Name);
        testmedia::TAudioSpec Audio;
        Audio.Encoder = "pcm_s16le";
        Audio.SampleRate = 22050;
        Audio.Channels = 1;
        Audio.Duration = Seconds;
        Spec.Audios.push_back(Audio);
        EXPECT_EQ(testmedia::WriteClip(Spec), "");
        return Spec.Path;
    }

    // A task reading the sound file and writing outN.mp3; its index.
    int32_t AddTask(TRUvivoVOV& C, bool WithOutput = true) {
        const int32_t Index = C.NewTask(W(Input));
        EXPECT_GE(Index, 0) << C.LastError();
        if (WithOutput && Index >= 0) {
            const std::string Out = Path("out" + std::to_string(++FOutputs) + ".mp3");
            EXPECT_TRUE(C.SetTaskOutput(Index, W(Out))) << C.LastError();
        }
        return Index;
    }

    std::string Dir;
    std::string Input;
    int FOutputs = 0;
};

}  // namespace zembra::testing
