// Building the task list: properties, records, creating, configuring, deleting tasks.

#include <ctime>

#include "binding/EntryPoints.h"
#include "tests/component/ComponentTestSupport.h"

namespace zembra::testing {
namespace {

using TaskList = ComponentTest;

TEST(ComponentProperties, ProgressIntervalHasAFloorOf100) {
    TRUvivoVOV C;
    EXPECT_EQ(C.ProgressInterval(), 500);
    C.SetProgressInterval(50);
    EXPECT_EQ(C.ProgressInterval(), 100);
    C.SetProgressInterval(101);
    EXPECT_EQ(C.ProgressInterval(), 101);
    C.SetProgressInterval(-7);
    EXPECT_EQ(C.ProgressInterval(), 100);
}

TEST(ComponentProperties, PublishedDefaults) {
    TRUvivoVOV C;
    EXPECT_EQ(C.Version(), "2.5");
    EXPECT_EQ(C.ThreadPriority(), tpNormal);
    EXPECT_FALSE(C.Preview());
    EXPECT_FALSE(C.PreviewBitmap());
    EXPECT_EQ(C.TaskCount(), 0);
    EXPECT_EQ(C.LastError(), "");
}

TEST_F(TaskList, PreviewPropertiesReachExistingAndLaterEngines) {
    TTestComponent C;
    AddTask(C);
    C.SetPreviewBitmap(true);
    EXPECT_EQ(C.Task(0)->PreviewFlags(), 2);
    C.SetPreview(true);
    EXPECT_EQ(C.Task(0)->PreviewFlags(), 3);
    AddTask(C);
    EXPECT_EQ(C.Task(1)->PreviewFlags(), 3);
    C.SetPreviewBitmap(false);
    EXPECT_EQ(C.Task(0)->PreviewFlags(), 1);
    EXPECT_EQ(C.Task(1)->PreviewFlags(), 1);
}

TEST_F(TaskList, NewTaskStoresTheArgumentInAnEmptyFileName) {
    TTestComponent C;
    TInputOptions In;
    In.OptionLines = "vn=1";
    const int32_t Index = C.NewTask(W(Input), &In);
    ASSERT_EQ(Index, 0) << C.LastError();
    EXPECT_EQ(C.Task(0)->InputOptions().FileName, W(Input));
    EXPECT_EQ(C.Task(0)->InputOptions().OptionLines, "vn=1");
    EXPECT_TRUE(C.Task(0)->Settings().VideoDisable);  // the lines went in before the input opened
    EXPECT_EQ(In.FileName, u"");                      // the caller's record is a copy
}

TEST_F(TaskList, TheArgumentIsOpenedEvenWhenTheRecordNamesAnotherFile) {
    TTestComponent C;
    TInputOptions In;
    In.FileName = W(Path("elsewhere.wav"));
    ASSERT_EQ(C.NewTask(W(Input), &In), 0) << C.LastError();
    EXPECT_EQ(C.Task(0)->InputOptions().FileName, W(Path("elsewhere.wav")));
    EXPECT_EQ(Utf16ToUtf8(C.Task(0)->Probe().GetFileName()), Input);
}

TEST_F(TaskList, StartTimesOfTheInputRecordTheLaterWins) {
    TTestComponent C;
    TInputOptions In;
    In.StartTimeMs = 100;
    ASSERT_EQ(C.NewTask(W(Input), &In), 0);
    TInputOptions Both = In;
    Both.StartTime = 50000;
    ASSERT_EQ(C.NewTask(W(Input), &Both), 1);
    // The engine seeks at open and keeps what it still has to skip; both stay below the clip.
    EXPECT_NE(C.Task(0)->InputFileTsOffset(0), C.Task(1)->InputFileTsOffset(0));
}

TEST_F(TaskList, AFailedNewTaskLeavesNoTaskAndSaysWhy) {
    TTestComponent C;
    EXPECT_EQ(C.NewTask(W(Path("missing.wav"))), -1);
    EXPECT_NE(C.LastError(), "");
    EXPECT_EQ(C.TaskCount(), 0);

    TInputOptions In;
    In.ForceFormat = "no-such-format";
    EXPECT_EQ(C.NewTask(W(Input), &In), -1);
    EXPECT_EQ(C.LastError(), "Unknown input format: no-such-format");
    In.ForceFormat.clear();
    In.OptionLines = "vol=abc";
    EXPECT_EQ(C.NewTask(W(Input), &In), -1);
    EXPECT_EQ(C.LastError(), "'abc' is not a valid integer value");
    EXPECT_EQ(C.TaskCount(), 0);
}

TEST_F(TaskList, AFailedOutputLeavesTheTaskInTheList) {
    TTestComponent C;
    ASSERT_EQ(AddTask(C, false), 0);
    TOutputOptions Out;
    Out.FrameSize = "abc";
    EXPECT_FALSE(C.SetTaskOutput(0, W(Path("x.mp3")), &Out));
    EXPECT_EQ(C.LastError(), "Incorrect frame size");
    EXPECT_EQ(C.TaskCount(), 1);
    EXPECT_FALSE(C.SetTaskOutput(5, W(Path("x.mp3"))));
    EXPECT_EQ(C.LastError(), "List index out of bounds (5)");
    Out = TOutputOptions{};
    Out.ForceFormat = "nope";
    EXPECT_FALSE(C.SetTaskOutput(0, W(Path("x.mp3")), &Out));
    EXPECT_EQ(C.LastError(), "Unknown output format: nope");
}

TEST_F(TaskList, ARecordAtItsResetValuesLeavesTheEngineAsWithoutRecord) {
    TTestComponent C;
    AddTask(C, false);
    AddTask(C, false);
    TOutputOptions Reset;
    ASSERT_TRUE(C.SetTaskOutput(0, W(Path("a.mp3")))) << C.LastError();
    ASSERT_TRUE(C.SetTaskOutput(1, W(Path("b.mp3")), &Reset)) << C.LastError();
    const TJobSettings& A = C.Task(0)->Settings();
    const TJobSettings& B = C.Task(1)->Settings();
    EXPECT_EQ(A.AudioVolume, B.AudioVolume);
    EXPECT_EQ(A.AudioSampleRate, B.AudioSampleRate);
    EXPECT_EQ(A.AudioChannels, B.AudioChannels);
    EXPECT_EQ(A.VideoSyncMethod, B.VideoSyncMethod);
    EXPECT_EQ(A.AudioSyncMethod, B.AudioSyncMethod);
    EXPECT_EQ(A.PadTop, B.PadTop);
    EXPECT_EQ(A.RecordingTime, B.RecordingTime);
    EXPECT_EQ(A.StartTime, B.StartTime);
    EXPECT_EQ(A.MuxMaxDelay, B.MuxMaxDelay);
    EXPECT_EQ(A.RecordingTimestamp, 0);
    EXPECT_EQ(B.RecordingTimestamp, 0);
    EXPECT_EQ(C.Task(0)->TotalDuration(), C.Task(1)->TotalDuration());
    EXPECT_EQ(C.Task(1)->OutputOptions().FileName, W(Path("b.mp3")));
}

TEST_F(TaskList, RecordFieldsWinOverOptionLines) {
    TTestComponent C;
    AddTask(C, false);
    TOutputOptions Out;
    Out.OptionLines = "ar=8000\r\nac=1\r\nvol=100";
    Out.AudioSampleRate = 11025;
    Out.RecordingTimeMs = 200;
    ASSERT_TRUE(C.SetTaskOutput(0, W(Path("a.mp3")), &Out)) << C.LastError();
    const TJobSettings& S = C.Task(0)->Settings();
    EXPECT_EQ(S.AudioSampleRate, 11025);
    EXPECT_EQ(S.AudioChannels, 1);  // not set in the record: the line stays
    EXPECT_EQ(S.AudioVolume, 100);
    EXPECT_EQ(S.RecordingTime, 200000);
    EXPECT_EQ(C.Task(0)->TotalDuration(), 200);
}

// "copyts" takes any value as set: a record whose box is unchecked must write no line at all.
TEST_F(TaskList, CopyTimestampKeepsInputTimesOnlyWhenChecked) {
    TTestComponent C;
    AddTask(C, false);
    AddTask(C, false);
    TOutputOptions Unchecked, Checked;
    Checked.CopyTimestamp = true;
    ASSERT_TRUE(C.SetTaskOutput(0, W(Path("a.mp3")), &Unchecked)) << C.LastError();
    ASSERT_TRUE(C.SetTaskOutput(1, W(Path("b.mp3")), &Checked)) << C.LastError();
    EXPECT_FALSE(C.Task(0)->Settings().CopyTs);
    EXPECT_TRUE(C.Task(1)->Settings().CopyTs);
}

TEST_F(TaskList, StreamInfoBecomesMetadataAndATimeStamp) {
    TTestComponent C;
    AddTask(C, false);
    TOutputOptions Out;
    Out.Metadata.TimeStamp = 0;
    Out.Metadata.Year = 2009;
    Out.Metadata.Track = 0;  // not above 0: left out
    Out.Metadata.Title = "T";
    Out.Metadata.Genre = "G";
    const int64_t Before = std::time(nullptr);
    ASSERT_TRUE(C.SetTaskOutput(0, W(Path("a.mp3")), &Out)) << C.LastError();
    // The output is open again only while the task runs: its tags are read there.
    std::map<std::string, std::string> Tags;
    int64_t Stamp = 0;
    C.Control.Limit = 1;
    C.Control.AfterLoop = [&](TTaskFFmpeg& Task) {
        Stamp = Task.Settings().RecordingTimestamp;
        for (const char* Key : {"year", "title", "genre", "track", "author", "creation_time"}) {
            const AVDictionaryEntry* E = lavu.av_dict_get(Task.OutputFile(0)->metadata, Key, nullptr, 0);
            Tags[Key] = E ? std::string(E->value) : std::string("<none>");
        }
    };
    C.StartTasks(0);
    EXPECT_GE(Stamp, Before);
    EXPECT_LE(Stamp, std::time(nullptr) + 1);
    auto Value = [&](const char* Key) { return Tags[Key]; };
    EXPECT_EQ(Value("year"), "2009");
    EXPECT_EQ(Value("title"), "T");
    EXPECT_EQ(Value("genre"), "G");
    EXPECT_EQ(Value("track"), "<none>");
    EXPECT_EQ(Value("author"), "<none>");
    EXPECT_NE(Value("creation_time"), "<none>");
}

TEST_F(TaskList, NoTimeStampWhenBelowZero) {
    TTestComponent C;
    AddTask(C, false);
    TOutputOptions Out;  // TimeStamp -1
    ASSERT_TRUE(C.SetTaskOutput(0, W(Path("a.mp3")), &Out)) << C.LastError();
    EXPECT_EQ(C.Task(0)->Settings().RecordingTimestamp, 0);
}

TEST(ComponentHelpers, DayCountToUnixTime) {
    const int64_t T = 1234567890;
    const std::time_t Now = std::time(nullptr);
    std::tm Local{};
    localtime_r(&Now, &Local);
    const double DayCount = 25569.0 + double(T + Local.tm_gmtoff) / 86400.0;  // local time of T
    EXPECT_EQ(DateTimeToUnixSeconds(DayCount), T);
    EXPECT_EQ(TargetTypeName(2), "svcd");
    EXPECT_EQ(TargetTypeName(4), "");
    EXPECT_EQ(TargetNormName(0), "auto");
    EXPECT_EQ(TargetDefaultNormName(1), "pal");
    EXPECT_EQ(TargetDefaultNormName(0), "ntsc");
}

TEST(ComponentHelpers, PTSPeriodsKeepOnlyRangesThatEndAfterTheyStart) {
    const auto P = ParsePTSPeriods(" 1000-5000, 9000-12000 ");
    ASSERT_EQ(P.size(), 2u);
    EXPECT_EQ(P[0].Start, 1000000);
    EXPECT_EQ(P[0].End, 5000000);
    EXPECT_EQ(P[1].Start, 9000000);
    EXPECT_EQ(P[1].End, 12000000);
    EXPECT_TRUE(ParsePTSPeriods("5000-1000").empty());
    EXPECT_TRUE(ParsePTSPeriods("1000-abc").empty());  // unreadable end counts as -1
    EXPECT_TRUE(ParsePTSPeriods("").empty());
    const auto Open = ParsePTSPeriods("x-3000");  // unreadable start: -1 ms, still before the end
    ASSERT_EQ(Open.size(), 1u);
    EXPECT_EQ(Open[0].Start, -1000);
    // "To the end" written as the largest number there is stops at the largest time.
    const auto Long = ParsePTSPeriods("2000-9223372036854775807");
    ASSERT_EQ(Long.size(), 1u);
    EXPECT_EQ(Long[0].Start, 2000000);
    EXPECT_EQ(Long[0].End, INT64_MAX);
}

TEST_F(TaskList, BothHookFlagsBindOnlyTheCustomHook) {
    TTestComponent C;
    AddTask(C, false);
    TOutputOptions Out;
    Out.CustomHook = true;
    Out.BeforeHook = true;
    Out.HookPTSPeriods = "0-1000";
    ASSERT_TRUE(C.SetTaskOutput(0, W(Path("a.mp3")), &Out)) << C.LastError();
    auto* Task = static_cast<TLoopTask*>(C.Task(0));
    EXPECT_TRUE(static_cast<bool>(Task->FOnCustomHook));
    EXPECT_FALSE(static_cast<bool>(Task->FOnBeforeHook));
    EXPECT_TRUE(Task->PTSPeriods().empty());

    // The bound hook raises the event with the task's index (and id) and passes the answers back.
    int32_t Seen = -2;
    TTaskId SeenId = 0;
    C.SetOnCustomHook([&](int32_t AIndex, TBitmap&, int32_t, int64_t, bool& AUpdate, bool& AStopHook) {
        Seen = AIndex;
        SeenId = TRUvivoVOV::EventTaskId();
        AUpdate = false;
        AStopHook = true;
    });
    TBitmap B;
    bool Update = true, Stop = false;
    Task->FOnCustomHook(*Task, B, 1, 0, Update, Stop);
    EXPECT_EQ(Seen, 0);
    EXPECT_EQ(SeenId, C.TaskId(0));
    EXPECT_NE(SeenId, 0u);
    EXPECT_EQ(TRUvivoVOV::EventTaskId(), 0u) << "outside a handler";
    EXPECT_FALSE(Update);
    EXPECT_TRUE(Stop);
}

TEST_F(TaskList, BeforeHookAloneIsBoundAndPeriodsOtherwise) {
    TTestComponent C;
    AddTask(C, false);
    AddTask(C, false);
    AddTask(C, false);
    TOutputOptions Before;
    Before.BeforeHook = true;
    ASSERT_TRUE(C.SetTaskOutput(0, W(Path("a.mp3")), &Before));
    auto* T0 = static_cast<TLoopTask*>(C.Task(0));
    EXPECT_TRUE(static_cast<bool>(T0->FOnBeforeHook));
    EXPECT_FALSE(static_cast<bool>(T0->FOnCustomHook));
    C.SetOnBeforeHook([](int32_t, int64_t APTS, THookAction& A) { A = APTS > 5 ? haStop : haIgnore; });
    THookAction Action = haContinue;
    T0->FOnBeforeHook(*T0, 9, Action);
    EXPECT_EQ(Action, haStop);

    TOutputOptions Periods;
    Periods.HookPTSPeriods = "9000-12000,1000-5000";
    ASSERT_TRUE(C.SetTaskOutput(1, W(Path("b.mp3")), &Periods));
    const auto& P = C.Task(1)->PTSPeriods();
    ASSERT_EQ(P.size(), 2u);
    EXPECT_EQ(P[0].End, 5000000);  // sorted by end

    TOutputOptions Dropped;
    Dropped.HookPTSPeriods = "5000-1000";
    ASSERT_TRUE(C.SetTaskOutput(2, W(Path("c.mp3")), &Dropped));
    EXPECT_TRUE(C.Task(2)->PTSPeriods().empty());
    EXPECT_FALSE(static_cast<bool>(static_cast<TLoopTask*>(C.Task(2))->FOnBeforeHook));
}

TEST_F(TaskList, DeleteRenumbersTheTasksBehind) {
    TTestComponent C;
    AddTask(C);
    AddTask(C);
    AddTask(C);
    TTaskFFmpeg* Third = C.Task(2);
    C.DeleteTask(0);
    ASSERT_EQ(C.TaskCount(), 2);
    EXPECT_EQ(C.Task(0)->Index(), 0);
    EXPECT_EQ(C.Task(1)->Index(), 1);
    EXPECT_EQ(C.Task(1), Third);
    C.DeleteTask(7);  // outside the list: nothing
    EXPECT_EQ(C.TaskCount(), 2);

    // The former third task reports as task 1.
    TEventRecorder Events;
    Events.Attach(C);
    C.Control.Limit = 3;
    C.StartTasks(0);
    const auto P = Events.Progress();
    EXPECT_EQ(P.size(), 6u);
    for (const auto& R : P) EXPECT_LT(R.Index, 2);
    const auto T = Events.Terminates();
    ASSERT_EQ(T.size(), 3u);
    EXPECT_EQ(T[0].Index, 0);
    EXPECT_EQ(T[1].Index, 1);
    EXPECT_EQ(T[2].Index, -1);
    EXPECT_EQ(C.Control.Iterations(Third), 3);
}

TEST_F(TaskList, ClearTasksEmptiesTheListAndTheLastError) {
    TTestComponent C;
    C.Control.Limit = 3;
    AddTask(C);
    C.StartTasks(1);
    ASSERT_TRUE(WaitInMainThread([&] { return !C.RunActive(); }, 20s));
    EXPECT_TRUE(C.ThreadMode());
    AddTask(C);  // never runs: its output is still an empty file
    EXPECT_TRUE(std::filesystem::exists(Path("out2.mp3")));
    EXPECT_EQ(C.NewTask(W(Path("missing.wav"))), -1);
    ASSERT_NE(C.LastError(), "");
    C.ClearTasks();
    EXPECT_EQ(C.TaskCount(), 0);
    EXPECT_EQ(C.LastError(), "");
    EXPECT_FALSE(C.ThreadMode());
    EXPECT_FALSE(std::filesystem::exists(Path("out2.mp3")));
    C.WaitForEventThreads(20s);
}

}  // namespace
}  // namespace zembra::testing
