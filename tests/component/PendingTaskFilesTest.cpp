// Tasks waiting in the list hold no open files: they are checked when added and opened again
// when they start.

#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>

#include "binding/FFUtils.h"
#include "tests/component/ComponentTestSupport.h"
#include "tests/media/ClipInspector.h"
#include "tests/support/RunProgram.h"

namespace zembra::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kChildVariable[] = "ZEMBRA_HANDLE_LIMIT_CHILD";

// A component that converts for real, with its events recorded.
struct TConvertingComponent {
    TTestComponent C;
    TEventRecorder Events;
    TConvertingComponent() {
        C.Simulate = false;
        Events.Attach(C);
    }
};

class PendingTaskFiles : public ComponentTest {
  protected:
    // Only the handles naming the test's own files count: other threads of the process (the
    // libraries', the processor-load reader's) may hold a handle of their own for a moment. The
    // process's one lock file in a folder it writes to is no task's.
    int OpenHandles() const {
        std::error_code Ec;
        fs::directory_iterator It("/proc/self/fd", Ec);
        if (Ec) return -1;
        int Count = 0;
        for (const fs::directory_entry& Fd : It) {
            const fs::path Target = fs::read_symlink(Fd.path(), Ec);
            if (!Ec && Target.string().rfind(Dir + "/", 0) == 0 &&
                Target.filename().string().rfind(".zembra-", 0) != 0)
                ++Count;
        }
        return Count;
    }

    // Copies of the test's sound file, each its own source.
    std::vector<std::string> Sources(int Count) {
        std::vector<std::string> Names;
        for (int I = 0; I < Count; ++I) {
            Names.push_back(Path(Format("c%03d.wav", I)));
            fs::copy_file(Input, Names.back(), fs::copy_options::overwrite_existing);
        }
        return Names;
    }

    // Count tasks, each converting a copy of the sound file of its own into outNNN.mp3; the
    // outputs' names.
    std::vector<std::string> AddCopies(TRUvivoVOV& C, int Count) {
        const std::vector<std::string> Names = Sources(Count);
        std::vector<std::string> Outputs;
        for (int I = 0; I < Count; ++I) {
            EXPECT_EQ(C.NewTask(W(Names[I])), I) << C.LastError();
            Outputs.push_back(Path(Format("out%03d.mp3", I)));
            EXPECT_TRUE(C.SetTaskOutput(I, W(Outputs[I]))) << C.LastError();
        }
        return Outputs;
    }

    // Waits (pumping) for the run's final event; false after Seconds.
    static bool WaitForFinal(TEventRecorder& Events, int Seconds) {
        return WaitInMainThread([&] { return Events.FinalSeen(); }, std::chrono::seconds(Seconds));
    }

    // Each output decodes as sound.
    static void ExpectValidOutputs(const std::vector<std::string>& Outputs) {
        for (const std::string& Out : Outputs) {
            testmedia::TClipFacts Facts;
            ASSERT_EQ(testmedia::InspectClip(Out, Facts), "") << Out;
            ASSERT_EQ(Facts.Streams.size(), 1u) << Out;
            EXPECT_EQ(Facts.Streams[0].Type, AVMEDIA_TYPE_AUDIO) << Out;
            EXPECT_GT(Facts.Streams[0].PacketCount, 0) << Out;
        }
    }
};

TEST_F(PendingTaskFiles, AddTimeErrorsStayAtAddTimeAndCheckedTasksHoldNothingOpen) {
    TTestComponent C;
    C.Simulate = false;
    const int Before = OpenHandles();
    ASSERT_EQ(Before, 0);

    // Ten checked tasks: no handle stays open, and each output name is taken by an empty file.
    std::vector<std::string> Outputs;
    for (int I = 0; I < 10; ++I) {
        const int32_t Index = C.NewTask(W(Input));
        ASSERT_EQ(Index, I) << C.LastError();
        Outputs.push_back(Path(Format("out%d.mp3", I)));
        ASSERT_TRUE(C.SetTaskOutput(Index, W(Outputs.back()))) << C.LastError();
        EXPECT_TRUE(C.Task(Index)->FilesReleased());
    }
    EXPECT_EQ(OpenHandles(), Before);
    for (const std::string& Out : Outputs) {
        ASSERT_TRUE(fs::is_regular_file(Out)) << Out;
        EXPECT_EQ(fs::file_size(Out), 0u) << Out;
    }

    const struct {
        const char* What;
        std::string Source;
        std::string InputLines;
        std::string Output;
        std::string FrameSize;
        bool FailsAtNewTask;
        std::string Error;
    } Cases[] = {
        {"missing source", Path("missing.wav"), "", "", "", true, OpenErrorText(W(Path("missing.wav")), -2)},
        {"input option", Input, "vol=abc", "", "", true, "'abc' is not a valid integer value"},
        {"output option", Input, "", Path("bad.mp3"), "abc", false, "Incorrect frame size"},
        {"output folder missing", Input, "", Path("none/x.mp3"), "", false,
         "Could not open '" + Path("none/x.mp3") + "': No such file or directory"},
        {"output over its input", Input, "", Input, "", false,
         "Output file '" + Input + "' is the same as an input file"},
    };
    for (const auto& Case : Cases) {
        TInputOptions In;
        In.OptionLines = Case.InputLines;
        const int32_t Index = C.NewTask(W(Case.Source), &In);
        if (Case.FailsAtNewTask) {
            EXPECT_EQ(Index, -1) << Case.What;
            EXPECT_EQ(C.LastError(), Case.Error) << Case.What;
            continue;
        }
        ASSERT_GE(Index, 0) << Case.What << ": " << C.LastError();
        TOutputOptions Out;
        Out.FrameSize = Case.FrameSize;
        EXPECT_FALSE(C.SetTaskOutput(Index, W(Case.Output), &Out)) << Case.What;
        EXPECT_EQ(C.LastError(), Case.Error) << Case.What;
        C.DeleteTask(Index);
    }
    EXPECT_EQ(C.TaskCount(), 10);
    EXPECT_EQ(OpenHandles(), Before);
    EXPECT_TRUE(fs::exists(Input));

    // A second output replaces the first: the first name is free again.
    ASSERT_TRUE(C.SetTaskOutput(9, W(Path("again.mp3")))) << C.LastError();
    EXPECT_FALSE(fs::exists(Outputs[9]));
    EXPECT_TRUE(fs::exists(Path("again.mp3")));
    EXPECT_EQ(OpenHandles(), Before);

    // Tasks that never ran give their names back.
    C.ClearTasks();
    for (const std::string& Out : Outputs) EXPECT_FALSE(fs::exists(Out)) << Out;
    EXPECT_FALSE(fs::exists(Path("again.mp3")));
}

TEST_F(PendingTaskFiles, ASourceGoneBeforeItsStartFailsThatTaskAlone) {
    TConvertingComponent Run;
    TTestComponent& C = Run.C;
    TEventRecorder& Events = Run.Events;
    const std::vector<std::string> Outputs = AddCopies(C, 4);
    ASSERT_EQ(C.TaskCount(), 4);
    const std::vector<std::string> Names = {Path("c000.wav"), Path("c001.wav"), Path("c002.wav")};
    const int Before = OpenHandles();
    ASSERT_TRUE(fs::remove(Names[1]));
    // Replaced by something that is no sound at all.
    fs::resize_file(Names[2], 0);

    C.StartTasks(2);
    ASSERT_TRUE(WaitForFinal(Events, 60));
    ASSERT_TRUE(C.WaitForEventThreads(std::chrono::seconds(10)));
    std::map<int32_t, TTerminateRecord> ByIndex;
    for (const TTerminateRecord& R : Events.Terminates()) ByIndex[R.Index] = R;
    ASSERT_EQ(ByIndex.size(), 5u);  // four tasks and the run's end

    const struct {
        int32_t Index;
        bool Finished;
        std::string Message;
    } Expected[] = {
        {0, true, ""},
        {1, false, OpenErrorText(W(Names[1]), -2)},
        {2, false, OpenErrorText(W(Names[2]), kErrorUnknownFormat)},
        {3, true, ""},
    };
    for (const auto& E : Expected) {
        const TTerminateRecord& R = ByIndex[E.Index];
        EXPECT_EQ(R.Finished, E.Finished) << E.Index;
        EXPECT_EQ(R.Exception, !E.Finished) << E.Index;
        EXPECT_EQ(R.Message, E.Message) << E.Index;
        // A failed task leaves no file behind; a finished one a valid one.
        EXPECT_EQ(fs::exists(Outputs[E.Index]), E.Finished) << E.Index;
    }
    ExpectValidOutputs({Outputs[0], Outputs[3]});
    // The ended tasks hold nothing open either, while the list still shows them.
    EXPECT_EQ(OpenHandles(), Before);
    EXPECT_EQ(C.TaskCount(), 4);
}

// Runs the scenario below in a child process of its own, so that the lowered limit stays there.
TEST_F(PendingTaskFiles, TwoHundredTasksConvertWithinSixtyFourHandles) {
    if (std::getenv(kChildVariable)) GTEST_SKIP() << "the child runs the scenario itself";
    ASSERT_EQ(::setenv(kChildVariable, "1", 1), 0);
    const TProgramResult R =
        RunProgram("/proc/self/exe", {"--gtest_filter=PendingTaskFiles.ChildWithSixtyFourHandles"},
                   std::chrono::minutes(4));
    ::unsetenv(kChildVariable);
    EXPECT_EQ(R.Status, 0) << R.Out << R.Err;
    EXPECT_NE(R.Out.find("[  PASSED  ] 1 test"), std::string::npos) << R.Out;
}

TEST_F(PendingTaskFiles, ChildWithSixtyFourHandles) {
    if (!std::getenv(kChildVariable)) GTEST_SKIP() << "run by TwoHundredTasksConvertWithinSixtyFourHandles";
    rlimit Limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &Limit), 0);
    Limit.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &Limit), 0);

    TConvertingComponent Run;
    TTestComponent& C = Run.C;
    TEventRecorder& Events = Run.Events;
    const std::vector<std::string> Outputs = AddCopies(C, 200);
    ASSERT_EQ(C.TaskCount(), 200);
    C.StartTasks(2);
    ASSERT_TRUE(WaitForFinal(Events, 200));
    ASSERT_TRUE(C.WaitForEventThreads(std::chrono::seconds(10)));
    int Finished = 0;
    for (const TTerminateRecord& R : Events.Terminates()) {
        if (R.Index < 0) continue;
        EXPECT_TRUE(R.Finished && !R.Exception) << R.Index << ": " << R.Message;
        Finished += R.Finished ? 1 : 0;
    }
    EXPECT_EQ(Finished, 200);
    ExpectValidOutputs(Outputs);
}

}  // namespace
}  // namespace zembra::testing
