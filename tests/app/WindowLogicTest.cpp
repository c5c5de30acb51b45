#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/ButtonStates.h"
#include "app/ExceptionText.h"
#include "app/FileFilters.h"
#include "app/RunSettings.h"
#include "app/TaskRows.h"
#include "engine/FFmpegException.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra {
namespace {

// "ARCSPUR" order: Add, Remove, Clear, Start, Stop, Pause, Resume; 1 enabled, 0 disabled.
std::string Pattern(const TButtonStates& B) {
    std::string P;
    for (bool On : {B.Add, B.Remove, B.Clear, B.Start, B.Stop, B.Pause, B.Resume}) P += On ? '1' : '0';
    return P;
}

TEST(ButtonStatesTest, FollowTheRunThroughAWholeSession) {
    struct TStep {
        const char* Situation;
        void (*Apply)(TButtonStates&);
        const char* Expected;
    };
    const std::vector<TStep> Steps = {
        {"start-up", [](TButtonStates&) {}, "1111111"},
        {"task added", [](TButtonStates& B) { B.TaskAdded(); }, "1111111"},
        {"one of two removed", [](TButtonStates& B) { B.TaskRemoved(1); }, "1111111"},
        {"last removed", [](TButtonStates& B) { B.TaskRemoved(0); }, "1000000"},
        {"added again", [](TButtonStates& B) { B.TaskAdded(); }, "1111000"},
        {"thread run", [](TButtonStates& B) { B.RunStarted(true); }, "0000110"},
        {"paused", [](TButtonStates& B) { B.Paused(); }, "0000101"},
        {"resumed", [](TButtonStates& B) { B.Resumed(); }, "0000110"},
        {"stop pressed", [](TButtonStates& B) { B.StopPressed(); }, "0000010"},
        {"final event", [](TButtonStates& B) { B.FinalTerminate(); }, "0010000"},
        {"cleared", [](TButtonStates& B) { B.ListCleared(); }, "1000000"},
        {"added after clear", [](TButtonStates& B) { B.TaskAdded(); }, "1111000"},
        {"sequential run", [](TButtonStates& B) { B.RunStarted(false); }, "0000000"},
        {"sequential end", [](TButtonStates& B) { B.FinalTerminate(); }, "0010000"},
        {"cleared again", [](TButtonStates& B) { B.ListCleared(); }, "1000000"},
        {"added for a third run", [](TButtonStates& B) { B.TaskAdded(); }, "1111000"},
        {"third run", [](TButtonStates& B) { B.RunStarted(true); }, "0000110"},
        {"emptied during the run", [](TButtonStates& B) { B.ListEmptied(); }, "0000000"},
        {"the emptied run's end", [](TButtonStates& B) { B.ListCleared(); }, "1000000"},
    };
    TButtonStates B;
    for (const TStep& S : Steps) {
        S.Apply(B);
        EXPECT_EQ(Pattern(B), S.Expected) << S.Situation;
    }
}

// The menus over the buttons of each situation (start-up, or a thread-mode run and a step) and
// what the window knows besides; Start says why it is greyed after a run.
TEST(ButtonStatesTest, MenusAreEnabledExactlyWhenTheirHandlersAct) {
    using B = TButtonStates;
    struct TCase {
        bool Ran;
        void (B::*Step)();
        TListFacts Facts;  // rows, selected, run active, sequential, stop pressed
        const char *Menu, *Hint;
    } Cases[] = {
        {false, nullptr, {0, false, false, false, false}, "1000000", ""},
        {false, nullptr, {2, false, false, false, false}, "1011111", ""},
        {false, nullptr, {2, true, false, false, false}, "1111111", ""},
        {true, nullptr, {2, true, true, false, false}, "1110110", ""},
        {true, nullptr, {2, false, true, false, false}, "1010110", ""},
        {true, &B::Paused, {2, true, true, false, false}, "1110101", ""},
        {true, &B::StopPressed, {2, true, true, false, true}, "0110010", ""},
        {true, &B::ListEmptied, {0, false, true, false, false}, "0000000", ""},
        {true, nullptr, {2, true, true, true, false}, "0000000", ""},
        {true,
         &B::FinalTerminate,
         {2, true, false, false, false},
         "0010000",
         "To convert more: \"Clear Task\", then \"Add Task\""},
        {true, &B::ListCleared, {0, false, false, false, false}, "1000000", ""},
    };
    for (const TCase& C : Cases) {
        B Buttons;
        if (C.Ran) Buttons.RunStarted(true);
        if (C.Step) (Buttons.*C.Step)();
        const B Menu = MenuStates(Buttons, C.Facts);
        EXPECT_EQ(Pattern(Menu), C.Menu) << (&C - Cases);
        EXPECT_EQ(StartHint(Menu, C.Facts), C.Hint) << (&C - Cases);
    }
}

TEST(TaskRowsTest, RowTextsFollowTheEventsAndThePopUpPicksItsRow) {
    TTaskRows Rows;
    Rows.Add(u"/m/a.avi", 12'900'000, 4096, u"/out/a_(new).mp3");
    Rows.Add(u"/m/b.mkv", -1, 77, u"/o2/b_(new).ogg");
    Rows.Add(u"/m/c.wav", 3'000'000, 10, u"/o3/c_(new).flac");
    ASSERT_EQ(Rows.Count(), 3);
    const std::array<std::string, kTaskColumnCount> Added = {"a.avi", "12", "4.0 KB", "a_(new).mp3",
                                                             "",      "",   "",       ""};
    EXPECT_EQ(Rows[0].Cells, Added);
    EXPECT_EQ(Rows[1].Cells[colTotalTime], "0");  // unknown duration: -1 div 10^6
    EXPECT_EQ(Rows[1].OutputFolder, u"/o2/");

    // Nothing is playable yet; the pop-up's row is the selected one within the list, else the last.
    EXPECT_EQ(Rows.RowOfInterest(0), 0);
    EXPECT_EQ(Rows.RowOfInterest(-1), 2);
    EXPECT_EQ(Rows.RowOfInterest(7), 2);
    EXPECT_FALSE(Rows.CanPlay(-1));
    EXPECT_EQ(Rows.FolderToOpen(-1), u"/o3/");
    EXPECT_EQ(Rows.FolderToOpen(1), u"/o2/");

    struct TProgress {
        int Index, FPS, CurrentMs;
        int64_t Size;
        int TotalMs;
        const char *Progress, *FPSCell, *Current, *OutSize;
        int Percent;
    };
    const std::vector<TProgress> Events = {
        {0, 0, 2500, 100, 12900, "19%", "", "2", "100 Byte", 19},
        {0, 31, 6450, 74281270, 12900, "50%", "31", "6", "70.8 MB", 50},
        {0, -1, 7000, 74400000, 12900, "54%", "31", "7", "71.0 MB", 54},  // no FPS keeps the last
        {1, 0, 65000, 5000, -1, "1:05", "", "65", "4.9 KB", -1},          // unknown total: time reached
        {1, 0, 3723000, int64_t{5} << 32, 0, "1:02:03", "", "3723", "20.0 GB", -1},
        {2, 0, 2'000'000'000, 1, 2'100'000'000, "95%", "", "2000000", "1 Byte", 95},  // no int overflow
    };
    for (const TProgress& E : Events) {
        ASSERT_TRUE(Rows.ApplyProgress(E.Index, E.FPS, E.CurrentMs, E.Size, E.TotalMs));
        const TTaskRow& R = Rows[E.Index];
        EXPECT_EQ(R.Cells[colProgress], E.Progress) << E.CurrentMs;
        EXPECT_EQ(R.Cells[colFPS], E.FPSCell) << E.CurrentMs;
        EXPECT_EQ(R.Cells[colCurrentTime], E.Current) << E.CurrentMs;
        EXPECT_EQ(R.Cells[colOutputSize], E.OutSize) << E.CurrentMs;
        EXPECT_EQ(R.Percent, E.Percent) << E.CurrentMs;
    }
    EXPECT_FALSE(Rows.ApplyProgress(3, 0, 0, 0, 0));
    EXPECT_FALSE(Rows.ApplyProgress(-1, 0, 0, 0, 0));

    // Finished shows 100% whatever came last; a failure is not playable; a stop is, under the
    // partial name it was kept as, and not when it kept nothing.
    ASSERT_TRUE(Rows.ApplyTerminate(0, true, false));
    ASSERT_TRUE(Rows.ApplyTerminate(1, false, true, "Error while decoding stream #0:0"));
    ASSERT_TRUE(Rows.ApplyTerminate(2, false, false, "", u"/o3/c_(new).partial.flac"));
    EXPECT_FALSE(Rows.ApplyTerminate(3, true, false));
    EXPECT_TRUE(Rows.CanPlay(0));
    EXPECT_FALSE(Rows.CanPlay(1));
    EXPECT_EQ(Rows.FileToPlay(1), u"");
    EXPECT_EQ(Rows.FolderToOpen(1), u"/o2/");  // the folder is still there to open
    EXPECT_EQ(Rows.FileToPlay(-1), u"/o3/c_(new).partial.flac");
    EXPECT_EQ(Rows.FileToPlay(9), u"/o3/c_(new).partial.flac");
    EXPECT_EQ(Rows[2].Cells[colOutput], "c_(new).partial.flac");
    ASSERT_TRUE(Rows.ApplyTerminate(2, false, false));
    EXPECT_FALSE(Rows.CanPlay(2));

    Rows.Remove(0);
    Rows.Remove(5);
    ASSERT_EQ(Rows.Count(), 2);
    EXPECT_EQ(Rows[0].Cells[colInput], "b.mkv");
    Rows.Clear();
    EXPECT_EQ(Rows.RowOfInterest(0), -1);
    EXPECT_FALSE(Rows.CanPlay(0));
    EXPECT_EQ(Rows.FolderToOpen(0), u"");
}

TEST(TaskRowsTest, NamesThatAreNotUtf8ShowTheirBytesAndKeepThem) {
    TTaskRows Rows;
    const std::u16string Input = Utf8ToUtf16("/m/\xff\xfe.avi");
    const std::u16string Output = Utf8ToUtf16("/m/\xff\xfe_(new).mp3");
    Rows.Add(Input, 1'000'000, 1, Output);
    EXPECT_EQ(Rows[0].Cells[colInput], "\\xFF\\xFE.avi");
    EXPECT_EQ(Rows[0].Cells[colOutput], "\\xFF\\xFE_(new).mp3");
    Rows.ApplyTerminate(0, true, false);
    EXPECT_EQ(FileSystemName(Rows.FileToPlay(0)), "/m/\xff\xfe_(new).mp3");
}

// Tasks 11 to 14 in four rows; the row of task 12, then that of task 11 removed, then the list
// cleared: a report delivered after each step lands on its task's row as it is now, or on none.
TEST(TaskRowsTest, ReportsFindTheirTasksRowByIdAfterRemovals) {
    TTaskRows Rows;
    for (uint64_t Id = 11; Id <= 14; ++Id)
        Rows.Add(u"/in/" + Utf8ToUtf16(std::to_string(Id)) + u".avi", 1'000'000, 1, u"/out/o.mp3", Id);
    struct TStep {
        int Remove;                 // the row removed first; -1: clear
        std::vector<int> Expected;  // rows of tasks 11 to 14, then of id 0
    } Steps[] = {
        {-2, {0, 1, 2, 3, -1}},
        {1, {0, -1, 1, 2, -1}},
        {0, {-1, -1, 0, 1, -1}},
        {-1, {-1, -1, -1, -1, -1}},
    };
    for (const TStep& S : Steps) {
        if (S.Remove >= 0) Rows.Remove(S.Remove);
        if (S.Remove == -1) Rows.Clear();
        std::vector<int> Found;
        for (uint64_t Id : {11, 12, 13, 14, 0}) {
            Found.push_back(Rows.RowOfTask(Id));
            if (Found.back() >= 0) {
                EXPECT_EQ(Rows[Found.back()].Cells[colInput], std::to_string(Id) + ".avi");
            }
        }
        EXPECT_EQ(Found, S.Expected) << S.Remove;
    }
}

// What an unfinished task left, said alike by its row, the log and the status bar: a stop, a
// removal and a clear, before and after the task's first report, with and without a kept partial.
TEST(TaskRowsTest, StoppedRemovedAndClearedTasksSayWhatTheyLeft) {
    struct TCase {
        TStopCause Cause;
        int CurrentMs;  // -1: no report came
        const char16_t* Kept;
        const char* Cell;  // the row's "Progress" after a stop
        const char* Line;
    };
    const TCase Cases[] = {
        {TStopCause::Stopped, 9000, u"/o/\u044f.partial.mp3", "Stopped 15%: partial output kept",
         "Stopped 15%: partial output kept: \u044f.wav -> /o/\u044f.partial.mp3"},
        {TStopCause::Stopped, -1, u"", "Stopped: no output kept",
         "Stopped: no output kept: \u044f.wav (nothing written to /o/\u044f.mp3)"},
        {TStopCause::Removed, 30000, u"/o/\u044f.partial_1.mp3", "Stopped 50%: partial output kept",
         "Removed at 50%: partial output kept: \u044f.wav -> /o/\u044f.partial_1.mp3"},
        {TStopCause::Cleared, 600, u"", "Stopped 1%: no output kept",
         "Cleared at 1%: no output kept: \u044f.wav (nothing written to /o/\u044f.mp3)"},
        {TStopCause::Cleared, -1, u"", "Stopped: no output kept",
         "Cleared: no output kept: \u044f.wav (nothing written to /o/\u044f.mp3)"},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Line);
        TTaskRows Rows;
        Rows.Add(u"/m/\u044f.wav", 60'000'000, 1, u"/o/\u044f.mp3");
        if (C.CurrentMs >= 0) Rows.ApplyProgress(0, 0, C.CurrentMs, 100, 60000);
        const std::string Reached = ReachedText(Rows[0]);
        EXPECT_EQ(PartialOutputLine(C.Cause, Reached, Rows[0].Cells[colInput], C.Kept, Rows[0].OutputFile),
                  C.Line);
        ASSERT_TRUE(Rows.ApplyTerminate(0, false, false, "", C.Kept));
        EXPECT_EQ(Rows[0].Cells[colProgress], C.Cell);
        // The output cell names the file that is there, or none; only a kept partial plays.
        const std::u16string Kept = C.Kept;
        EXPECT_EQ(Rows[0].Cells[colOutput], Kept.empty() ? "" : Utf16ToUtf8(ExtractFileNameW(Kept)));
        EXPECT_EQ(Rows.FileToPlay(0), Kept);
        EXPECT_EQ(Rows.FolderToOpen(0), u"/o/");
        // A second report of the same end says the same.
        ASSERT_TRUE(Rows.ApplyTerminate(0, false, false, "", C.Kept));
        EXPECT_EQ(Rows[0].Cells[colProgress], C.Cell);
    }
    EXPECT_EQ(ClearQuestion(1, true),
              "Clear the list and stop the unfinished task? What it converted so far is kept as partial "
              "files, named NAME.partial.EXT.");
    EXPECT_EQ(ClearQuestion(3, false),
              "Clear the list and stop the 3 unfinished tasks? What they converted so far is removed.");
    EXPECT_EQ(ClearedStatus(1, 0), "Cleared: 1 unfinished task stopped, no output kept");
    EXPECT_EQ(ClearedStatus(3, 2),
              "Cleared: 3 unfinished tasks stopped, 2 partial outputs kept (names in the log)");
}

TEST(ExceptionTextTest, AppendsAFullStopAfterCharactersSortingAfterIt) {
    const std::vector<std::pair<std::string, std::string>> Cases = {
        {"Failed", "Failed."},       {"Failed!", "Failed!"}, {"Done.", "Done."}, {"", ""},
        {"code 42", "code 42."},     {"(oops)", "(oops)"},   {"a,", "a,"},       {"path/", "path/."},
        {"x\xC3\xA9", "x\xC3\xA9."},  // a UTF-8 byte sorts after "." as an unsigned character
    };
    for (const auto& [In, Out] : Cases) EXPECT_EQ(ExceptionBoxText(In), Out) << In;
    EXPECT_EQ(ExceptionBoxIcon(FFmpegException("x")), TBoxIcon::Warning);
    EXPECT_EQ(ExceptionBoxIcon(std::runtime_error("x")), TBoxIcon::Error);
    EXPECT_EQ(ExceptionBoxIcon(EConvertError("x")), TBoxIcon::Error);
}

TEST(FileFiltersTest, ClassicFiltersBecomeQtFiltersAndPickMediaFromFolders) {
    EXPECT_EQ(QtFileFilter("Video|*.AVI;*.Mkv;;|All Files|*.*"),
              "Video (*.AVI *.avi *.MKV *.mkv);;All Files (*)");
    const std::string Full = QtFileFilter(kOpenDialogFilter);
    EXPECT_TRUE(Full.starts_with("Video/Audio (*.AVI *.avi *.AVM *.avm ")) << Full;
    EXPECT_TRUE(
        Full.ends_with(";;Audio Files (*.MP3 *.mp3 *.AAC *.aac *.WAV *.wav *.WMA *.wma *.CDA *.cda "
                       "*.FLAC *.flac *.M4A *.m4a *.MID *.mid *.MKA *.mka *.MP2 *.mp2 *.MPA *.mpa *.MPC "
                       "*.mpc *.APE *.ape *.OFR *.ofr *.OGG *.ogg *.RA *.ra *.WV *.wv *.TTA *.tta *.AC3 "
                       "*.ac3 *.DTS *.dts);;All Files (*)"))
        << Full;
    EXPECT_NE(Full.find(";;Video Files (*.AVI *.avi "), std::string::npos);

    const std::vector<std::string> Suffixes = FilterSuffixes(kOpenDialogFilter);
    EXPECT_EQ(Suffixes.size(), 41u);
    EXPECT_EQ(Suffixes.front(), "avi");
    EXPECT_EQ(Suffixes.back(), "dts");
    const std::vector<std::pair<std::string, bool>> Names = {
        {"a.avi", true},  {"B.MKV", true},         {"c.Mp3", true},  {"d.txt", false},
        {"noext", false}, {"dir.avi/file", false}, {"x.mpeg", true}, {".ogg", true},
    };
    for (const auto& [Name, Media] : Names) EXPECT_EQ(HasMediaSuffix(Name, Suffixes), Media) << Name;

    namespace fs = std::filesystem;
    const fs::path Root = fs::temp_directory_path() / ("zembra_filters_" + std::to_string(::getpid()));
    fs::remove_all(Root);
    fs::create_directories(Root / "sub" / "deeper");
    for (const char* F : {"b.avi", "a.TXT", "sub/c.WAV", "sub/deeper/d.mkv", "sub/e.doc"})
        std::ofstream(Root / F) << "x";
    const std::string Loose = (Root / "a.TXT").string();  // named directly: kept whatever it is
    const std::vector<std::string> Got =
        ExpandMediaPaths({Loose, Root.string(), (Root / "missing.avi").string()}, Suffixes);
    const std::vector<std::string> Want = {Loose, (Root / "b.avi").string(), (Root / "sub/c.WAV").string(),
                                           (Root / "sub/deeper/d.mkv").string()};
    EXPECT_EQ(Got, Want);
    fs::remove_all(Root);
}

TEST(RunSettingsTest, HiddenControlsGiveTheRunParameters) {
    struct TCase {
        bool ThreadMode;
        const char* Count;
        int32_t Threads;
    };
    for (const TCase& C : std::vector<TCase>{{true, "1", 1},
                                             {true, "3", 3},
                                             {true, " 2 ", 2},
                                             {true, "abc", 1},
                                             {true, "", 1},
                                             {true, "2x", 1},
                                             {true, "0", 0},
                                             {true, "-2", -2},
                                             {false, "4", 0}}) {
        TRunSettings S;
        S.ThreadMode = C.ThreadMode;
        S.ThreadCount = C.Count;
        EXPECT_EQ(StartThreadCount(S), C.Threads) << C.Count;
    }
    TRunSettings S;
    EXPECT_EQ(PriorityOf(S), tpLower);
    EXPECT_EQ(LogLevelOf(S), llInfo);
    const std::vector<std::pair<int, TConvertPriority>> Priorities = {
        {0, tpIdle}, {1, tpLowest}, {2, tpLower}, {3, tpNormal}};
    for (const auto& [Item, P] : Priorities) {
        S.Priority = Item;
        EXPECT_EQ(PriorityOf(S), P);
    }
    const std::vector<std::pair<int, TLogLevel>> Levels = {
        {0, llQuiet}, {1, llError}, {2, llInfo}, {3, llVerbose}, {4, llDebug}};
    for (const auto& [Item, L] : Levels) {
        S.LogLevel = Item;
        EXPECT_EQ(LogLevelOf(S), L);
    }
    S.Priority = 9;
    S.LogLevel = -1;
    EXPECT_EQ(Sanitised(S).Priority, 2);
    EXPECT_EQ(Sanitised(S).LogLevel, 2);
    EXPECT_EQ(LogLine(1234, llInfo, "Hello"), "#1234.5: Hello");
    EXPECT_EQ(LogLine(7, llQuiet, ""), "#7.0: ");
}

}  // namespace
}  // namespace zembra
