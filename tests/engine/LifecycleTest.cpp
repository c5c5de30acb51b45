#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/engine/EngineTestSupport.h"
#include "tests/media/TestMedia.h"
#include "util/StringUtils.h"
#include "util/MainThread.h"
#include "util/Thread.h"

namespace zembra::testing {
namespace {

using namespace std::chrono_literals;

struct TTerminateRecord {
    int Count = 0;
    bool Finished = false;
    bool Exception = false;
    std::string Message;
    bool OnMainThread = false;
};

// A job whose run is a loop that honours pause and stop like the packet loop does.
class TLoopJob : public TTestJob {
  public:
    std::atomic<int> Iterations{0};
    std::atomic<int> Limit{-1};  // end by itself after this many iterations (-1: never)
    bool LogEachIteration = false;

  protected:
    void Transcode() override {
        while (!StopRequested()) {
            PauseCheckpoint();
            if (StopRequested()) break;
            if (LogEachIteration) GetLogger().Log(this, llError, "iteration");
            if (++Iterations == Limit.load()) break;
            std::this_thread::sleep_for(1ms);
        }
        FFinished = !StopRequested();
    }
};

class Lifecycle : public EngineTest {
  protected:
    void Watch(TCustomFFmpeg& J) {
        J.SetOnTerminate([this](TCustomFFmpeg& Ended) {
            std::lock_guard<std::mutex> G(Lock);
            ++Record.Count;
            Record.Finished = Ended.Finished();
            Record.Exception = Ended.ErrorOccurred();
            Record.Message = Ended.ErrorMessage();
            Record.OnMainThread = IsMainThread();
        });
    }
    TTerminateRecord Snapshot() {
        std::lock_guard<std::mutex> G(Lock);
        return Record;
    }
    bool WaitForCount(int N) {
        return WaitInMainThread([&] { return Snapshot().Count >= N; }, 20s);
    }
    std::mutex Lock;
    TTerminateRecord Record;
};

TEST_F(Lifecycle, StartWithoutOutputEndsThroughTheCallbackOnce) {
    Watch(Job);
    Job.FInputFileCount = 1;
    EXPECT_EQ(Job.Start(false), nullptr);
    const TTerminateRecord R = Snapshot();
    EXPECT_EQ(R.Count, 1);
    EXPECT_TRUE(R.Exception);
    EXPECT_FALSE(R.Finished);
    EXPECT_EQ(R.Message, "At least one output file must be specified");
    EXPECT_TRUE(Job.Terminated());
    EXPECT_FALSE(Job.Running());
    EXPECT_TRUE(Logged("At least one output file must be specified"));
    EXPECT_EQ(Job.Start(true), nullptr);  // terminated: nothing happens
    EXPECT_EQ(Snapshot().Count, 1);
    EXPECT_EQ(Job.CodecOptions(omtVideo), nullptr);  // cleaned up
}

TEST_F(Lifecycle, StartWithoutInput) {
    Watch(Job);
    Job.FOutputFileCount = 1;
    EXPECT_EQ(Job.Start(true), nullptr);
    EXPECT_EQ(Snapshot().Message, "At least one input file must be specified");
}

TEST_F(Lifecycle, ResetJobMakesATerminatedJobUsableAgain) {
    Watch(Job);
    Job.Start(false);
    ASSERT_TRUE(Job.Terminated());
    Job.ResetJob();
    EXPECT_FALSE(Job.Terminated());
    EXPECT_FALSE(Job.ErrorOccurred());
    EXPECT_NE(Job.CodecOptions(omtAudio), nullptr);
    EXPECT_EQ(Job.TotalDuration(), -1);
}

TEST_F(Lifecycle, ForegroundRunCompletesBeforeStartReturns) {
    TLoopJob Loop;
    Loop.ResetJob();
    Watch(Loop);
    Loop.FInputFileCount = Loop.FOutputFileCount = 1;
    Loop.Limit = 5;
    EXPECT_EQ(Loop.Start(false), nullptr);
    EXPECT_EQ(Loop.Iterations.load(), 5);
    const TTerminateRecord R = Snapshot();
    EXPECT_EQ(R.Count, 1);
    EXPECT_TRUE(R.Finished);
    EXPECT_FALSE(R.Exception);
    EXPECT_TRUE(R.OnMainThread);
}

TEST_F(Lifecycle, ARunThatFailsReportsItsMessage) {
    Watch(Job);
    Job.FInputFileCount = Job.FOutputFileCount = 1;
    Job.Start(false);
    const TTerminateRecord R = Snapshot();
    EXPECT_TRUE(R.Exception);
    EXPECT_FALSE(R.Message.empty());
    EXPECT_FALSE(R.Finished);
}

// Released, a job keeps only its output's name, as an empty file. Its run opens the files again
// through ReopenFiles; a plain engine cannot, so the run fails and the name is given back. The
// ended run's thread can then be freed.
TEST_F(Lifecycle, ReleasedFilesKeepTheOutputsNameUntilTheRun) {
    namespace fs = std::filesystem;
    char Pattern[] = "/tmp/zembra-lifecycle-XXXXXX";
    ASSERT_NE(::mkdtemp(Pattern), nullptr);
    const std::string Dir = Pattern;
    testmedia::TClipSpec Spec;
    Spec.Path = Dir + "/in.wav";
    testmedia::TAudioSpec Audio;
    Audio.Encoder = "pcm_s16le";
    Audio.Duration = 0.2;
    Spec.Audios.push_back(Audio);
    ASSERT_EQ(testmedia::WriteClip(Spec), "");
    const std::string Out = Dir + "/out.mp3";

    Watch(Job);
    ASSERT_TRUE(Job.OpenInputFile(Utf8ToUtf16(Spec.Path))) << Job.LastError();
    ASSERT_EQ(Job.OpenOutputFile(Utf8ToUtf16(Out), false), 1) << Job.LastError();
    EXPECT_EQ(Job.ReleaseEndedWorker(), true);  // none to free yet
    Job.ReleaseFiles();
    EXPECT_TRUE(Job.FilesReleased());
    EXPECT_EQ(Job.InputFileCount(), 0);
    EXPECT_EQ(Job.OutputFileCount(), 0);
    EXPECT_EQ(Job.CodecOptions(omtAudio), nullptr);
    ASSERT_TRUE(fs::exists(Out));
    EXPECT_EQ(fs::file_size(Out), 0u);

    // The counts are checked once the files are open again, on the run's thread.
    TThread* Worker = Job.Start(true);
    ASSERT_NE(Worker, nullptr);
    Worker->Resume();
    ASSERT_TRUE(WaitForCount(1));
    const TTerminateRecord R = Snapshot();
    EXPECT_TRUE(R.Exception);
    EXPECT_EQ(R.Message, "The files of this job cannot be opened again");
    EXPECT_FALSE(Job.FilesReleased());
    EXPECT_FALSE(fs::exists(Out));
    EXPECT_TRUE(WaitInMainThread([&] { return Job.ReleaseEndedWorker(); }, 10s));
    fs::remove_all(Dir);
}

TEST_F(Lifecycle, BackgroundRunPauseAndWaitingStop) {
    TLoopJob Loop;
    Loop.ResetJob();
    Watch(Loop);
    Loop.FInputFileCount = Loop.FOutputFileCount = 1;
    TThread* Worker = Loop.Start(true, TThreadPriority::tpLower);
    ASSERT_NE(Worker, nullptr);
    EXPECT_EQ(Loop.Iterations.load(), 0);  // created suspended
    Worker->Resume();
    ASSERT_TRUE(WaitInMainThread([&] { return Loop.Iterations.load() > 3; }, 20s));
    Loop.Pause();
    EXPECT_TRUE(Loop.Paused());
    std::this_thread::sleep_for(20ms);
    const int Held = Loop.Iterations.load();
    std::this_thread::sleep_for(50ms);
    EXPECT_LE(Loop.Iterations.load(), Held + 1);  // at most the one in flight
    Loop.Stop(true);
    // Returned only after the worker ended and reported it.
    const TTerminateRecord R = Snapshot();
    EXPECT_EQ(R.Count, 1);
    EXPECT_FALSE(R.Finished);
    EXPECT_FALSE(R.Exception);
    EXPECT_FALSE(R.OnMainThread);
    EXPECT_FALSE(Loop.Running());
    EXPECT_TRUE(Loop.Terminated());
}

TEST_F(Lifecycle, PauseAndResumeContinueTheRun) {
    TLoopJob Loop;
    Loop.ResetJob();
    Watch(Loop);
    Loop.FInputFileCount = Loop.FOutputFileCount = 1;
    Loop.Limit = 200;
    TThread* Worker = Loop.Start(true);
    ASSERT_NE(Worker, nullptr);
    Loop.Pause();
    Worker->Resume();
    std::this_thread::sleep_for(30ms);
    EXPECT_LE(Loop.Iterations.load(), 1);
    Loop.Resume();
    ASSERT_TRUE(WaitForCount(1));
    EXPECT_EQ(Loop.Iterations.load(), 200);
    EXPECT_TRUE(Snapshot().Finished);
}

TEST_F(Lifecycle, WaitingStopPumpsForAWorkerThatLogs) {
    TLoopJob Loop;
    Loop.ResetJob();
    Watch(Loop);
    Loop.LogEachIteration = true;
    Loop.FInputFileCount = Loop.FOutputFileCount = 1;
    TThread* Worker = Loop.Start(true);
    Worker->Resume();
    ASSERT_TRUE(WaitInMainThread([&] { return Loop.Iterations.load() > 2; }, 20s));
    Loop.Stop(true);  // the worker waits for the main thread with each log line
    EXPECT_EQ(Snapshot().Count, 1);
    EXPECT_TRUE(Logged("iteration"));
}

TEST_F(Lifecycle, StopOrNotifyOnANeverStartedJobFiresOnce) {
    Watch(Job);
    Job.StopOrNotify(true);
    TTerminateRecord R = Snapshot();
    EXPECT_EQ(R.Count, 1);
    EXPECT_FALSE(R.OnMainThread);
    EXPECT_FALSE(R.Exception);
    EXPECT_FALSE(R.Finished);
    EXPECT_TRUE(Job.Terminated());
    Job.StopOrNotify(true);
    Job.StopOrNotify(false);
    EXPECT_EQ(Snapshot().Count, 1);
}

TEST_F(Lifecycle, StopOrNotifyWithoutWaitingStillFiresOnce) {
    TTestJob Other;
    Other.ResetJob();
    Watch(Other);
    Other.StopOrNotify(false);
    Other.StopOrNotify(false);  // while the first notification may still be on its way
    ASSERT_TRUE(WaitForCount(1));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(Snapshot().Count, 1);
}

TEST_F(Lifecycle, DestroyingARunningJobStopsAndWaits) {
    std::atomic<bool> Ended{false};
    {
        TLoopJob Loop;
        Loop.ResetJob();
        Loop.SetOnTerminate([&](TCustomFFmpeg&) { Ended = true; });
        Loop.FInputFileCount = Loop.FOutputFileCount = 1;
        Loop.Start(true)->Resume();
        ASSERT_TRUE(WaitInMainThread([&] { return Loop.Iterations.load() > 0; }, 20s));
    }
    EXPECT_TRUE(Ended.load());
}

TEST_F(Lifecycle, SettersValidate) {
    Job.SetStartTime(-5);
    EXPECT_EQ(Job.Settings().StartTime, 0);
    Job.SetStartTime(1500);
    EXPECT_EQ(Job.Settings().StartTime, 1500);
    Job.SetProgramId(-1);
    EXPECT_EQ(Job.Settings().ProgramId, 0);
    Job.SetRecordingTimeMs(0);
    EXPECT_EQ(Job.TotalDuration(), -1);
    Job.SetRecordingTimeMs(2500);
    EXPECT_EQ(Job.Settings().RecordingTime, 2500000);
    EXPECT_EQ(Job.TotalDuration(), 2500);
    Job.SetRecordingTime(7000000);
    EXPECT_EQ(Job.TotalDuration(), 7000);
    Job.SetPTSPeriods({{10, 30}, {0, 5}, {40, 20}});
    ASSERT_EQ(Job.PTSPeriods().size(), 3u);
    EXPECT_EQ(Job.PTSPeriods()[0].End, 5);
    EXPECT_EQ(Job.PTSPeriods()[1].End, 20);
    EXPECT_EQ(Job.PTSPeriods()[2].End, 30);
    Job.SetPreviewFlags(3);
    EXPECT_EQ(Job.PreviewFlags(), 3);
    Job.SetCodecOptionInt("g", 48);
    EXPECT_EQ(Job.CodecOptions(omtVideo)->gop_size, 48);
}

TEST(LifecycleWithoutLibraries, ResetAndCleanUpDoNothing) {
    // Earlier tests of the same program loaded the libraries: this one needs them gone, and
    // the tests after it get them back as they found them.
    const bool WereLoaded = FFLoader().AllLoaded(kDefaultLibrarySet);
    FFLoader().UnloadLibrarySet(kDefaultLibrarySet);
    struct TReload {
        bool Reload;
        ~TReload() {
            if (Reload) {
                EXPECT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
            }
        }
    } Reload{WereLoaded};
    ASSERT_FALSE(FFLoader().AllLoaded(kDefaultLibrarySet));
    TFFmpeg Job;
    Job.ResetJob();
    EXPECT_EQ(Job.CodecOptions(omtVideo), nullptr);
    Job.CleanUp();
    Job.CleanUp();
    EXPECT_EQ(Job.Index(), -1);
}

}  // namespace
}  // namespace zembra::testing
