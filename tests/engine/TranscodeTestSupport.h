#pragma once

#include <atomic>
#include <chrono>
#include <functional>

#include "tests/engine/MediaTestSupport.h"
#include "util/MainThread.h"

namespace zembra::testing {

// Converts with a fresh job as the component would: input lines, open, output lines, open,
// extra-stream lines, run on the caller's thread.
class TranscodeTest : public MediaEngineTest {
  protected:
    struct TResult {
        bool Finished = false;
        bool Exception = false;
        std::string Message;
        int Progress = 0;
        int32_t LastFrame = 0, LastFps = 0, LastDuration = 0, LastTotal = 0;
        float LastQuality = 0;
        int64_t LastSize = 0;
    };

    // "" on success, else the failure (open error or run error).
    std::string Convert(const std::vector<std::string>& Inputs, const std::string& Output,
                        const std::string& InputLines = "", const std::string& OutputLines = "",
                        bool Join = false, TFFmpeg* UseJob = nullptr) {
        TFFmpeg Local;
        TFFmpeg& J = UseJob ? *UseJob : Local;
        J.ResetJob();
        Result = TResult{};
        std::atomic<bool> Over{false};
        J.SetOnTerminate([this, &Over](TCustomFFmpeg& Ended) {
            Result.Finished = Ended.Finished();
            Result.Exception = Ended.ErrorOccurred();
            Result.Message = Ended.ErrorMessage();
            Over.store(true);
        });
        J.SetOnProgress([this](TCustomFFmpeg&, int32_t Frame, int32_t Fps, int32_t Duration, float Quality,
                               float, int64_t Size, int32_t Total) {
            ++Result.Progress;
            if (OnEachProgress) OnEachProgress();
            Result.LastFrame = Frame;
            Result.LastFps = Fps;
            Result.LastDuration = Duration;
            Result.LastQuality = Quality;
            Result.LastSize = Size;
            Result.LastTotal = Total;
        });
        try {
            for (const std::string& In : Inputs) {
                J.ApplyOptionLines(InputLines, kPhaseOrdinary);
                if (!J.OpenInputFile(W(In))) return J.LastError();
            }
            J.ApplyOptionLines(OutputLines, kPhaseOrdinary);
            J.ApplyOptionLines(OutputLines, kPhasePresets);
            if (J.OpenOutputFile(W(Output), Join) < 0) return J.LastError();
            J.ApplyOptionLines(OutputLines, kPhaseExtraStreams);
        } catch (const std::exception& E) {
            return E.what();
        }
        if (InBackground) {
            TThread* Worker = J.Start(true);
            if (!Worker) return "not started";
            Worker->Resume();
            EXPECT_TRUE(WaitInMainThread([&] { return Over.load(); }, std::chrono::seconds(60)));
            EXPECT_TRUE(WaitInMainThread([&] { return J.ReleaseEndedWorker(); }, std::chrono::seconds(10)));
        } else {
            J.Start(false);
        }
        if (Result.Exception) return Result.Message.empty() ? "failed" : Result.Message;
        return "";
    }

    testmedia::TClipFacts Facts(const std::string& File) {
        testmedia::TClipFacts F;
        EXPECT_EQ(testmedia::InspectClip(File, F), "") << File;
        return F;
    }

    TResult Result;
    std::function<void()> OnEachProgress;  // called on the job's thread at each progress report
    bool InBackground = false;             // Convert runs the job on a worker thread of its own
};

}  // namespace zembra::testing
