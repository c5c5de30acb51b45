// A name holds a finished file or nothing: zembra-cli stopped, killed, short of room or racing
// another zembra-cli, and what a second run makes of what the first left.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli/CliFixture.h"

namespace zembra::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string Bytes(const std::string& File) {
    std::ifstream In(File, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(In), {});
}

// The names in Folder, hidden ones (temporary and lock files) included.
std::set<std::string> Names(const std::string& Folder) {
    std::set<std::string> Found;
    for (const fs::directory_entry& E : fs::directory_iterator(Folder))
        Found.insert(E.path().filename().string());
    return Found;
}

// A temporary or lock file left behind; the outputs' record is meant to stay.
bool AnyHidden(const std::string& Folder) {
    const std::set<std::string> All = Names(Folder);
    return std::any_of(All.begin(), All.end(),
                       [](const std::string& N) { return N[0] == '.' && N != ".zembra-outputs"; });
}

class OutputSafety : public Cli {
  protected:
    // Runs zembra-cli through bash, so that a limit of the shell (ulimit) applies to it alone.
    TResult RunLimited(const std::string& Limits, const std::vector<std::string>& Arguments) {
        std::string Command = Limits + "; exec '" + std::string(ZEMBRA_CLI) + "'";
        for (const std::string& A : Arguments) Command += " '" + A + "'";
        return RunProgram("/bin/bash", {"-c", Command}, 60s);
    }
};

// Ctrl+C, SIGTERM and a kill in the middle of a batch of four, two of them finished: the same
// command again with --skip-existing converts exactly the two others and leaves the two
// finished outputs as they were.
TEST_F(OutputSafety, AnInterruptedBatchRerunWithSkipExistingConvertsWhatDidNotFinish) {
    for (const int Signal : {SIGINT, SIGTERM, SIGKILL}) {
        SCOPED_TRACE(strsignal(Signal));
        const std::string In = Path("in" + std::to_string(Signal)), Out = In + "/out";
        fs::create_directories(Out);
        const std::vector<std::string> Inputs = {Wav("a.wav", 0.3), Wav("b.wav", 0.3), Wav("c.wav", 6.0),
                                                 Wav("d.wav", 6.0)};
        std::vector<std::string> Sources;
        for (const std::string& Input : Inputs) {
            Sources.push_back(In + "/" + fs::path(Input).filename().string());
            fs::rename(Input, Sources.back());
        }
        auto Output = [&](const char* Base) { return Out + "/" + Base + "_(new).mp3"; };
        std::vector<std::string> Arguments = {"-j", "2", "-o", Out};
        Arguments.insert(Arguments.end(), Sources.begin(), Sources.end());

        // Read at the pace of playback, so that c and d are half way when the signal comes.
        std::vector<std::string> Slow = Arguments;
        Slow.insert(Slow.begin(), {"--input-option", "re=1"});
        bool Sent = false;
        const TResult First = RunCli(Slow, 40s, [&](pid_t Pid, const TResult& SoFar) {
            if (Sent || Lines(SoFar.Out).size() < 2) return;
            std::this_thread::sleep_for(1000ms);
            ::kill(Pid, Signal);
            Sent = true;
        });
        ASSERT_TRUE(Sent) << First.Err;
        const std::vector<std::string> Done = Lines(First.Out);
        ASSERT_EQ(std::set<std::string>(Done.begin(), Done.end()),
                  (std::set<std::string>{Output("a"), Output("b")}))
            << First.Err;
        const std::string A = Bytes(Output("a")), B = Bytes(Output("b"));
        if (Signal == SIGKILL) {
            EXPECT_EQ(First.Signal, SIGKILL);
        } else {
            EXPECT_EQ(First.Status, 1) << First.Err;
            for (const char* Base : {"c", "d"}) {
                EXPECT_NE(First.Err.find("stopped: " + In + "/" + Base + ".wav: no output kept"),
                          std::string::npos)
                    << First.Err;
                EXPECT_FALSE(fs::exists(Output(Base)));
            }
            EXPECT_NE(First.Err.find("2 finished, 0 failed, 2 stopped, 0 skipped"), std::string::npos)
                << First.Err;
            EXPECT_FALSE(AnyHidden(Out)) << First.Err;
        }
        // Whatever the first run left under c's and d's names is no finished output.
        for (const char* Base : {"c", "d"})
            if (fs::exists(Output(Base))) {
                EXPECT_EQ(fs::file_size(Output(Base)), 0u) << Base;
            }

        Arguments.insert(Arguments.begin(), "--skip-existing");
        const TResult Second = RunCli(Arguments);
        ASSERT_EQ(Second.Status, 0) << Second.Err;
        const std::vector<std::string> Redone = Lines(Second.Out);
        EXPECT_EQ(std::set<std::string>(Redone.begin(), Redone.end()),
                  (std::set<std::string>{Output("c"), Output("d")}))
            << Second.Err;
        EXPECT_NE(Second.Err.find("2 finished, 0 failed, 2 skipped"), std::string::npos) << Second.Err;
        EXPECT_EQ(Bytes(Output("a")), A);
        EXPECT_EQ(Bytes(Output("b")), B);
        for (const char* Base : {"c", "d"}) EXPECT_NEAR(Inspect(Output(Base)).Duration, 6.0, 0.2) << Base;
        // The dead run's temporary files, reservations and lock file are gone, nothing numbered.
        EXPECT_EQ(Names(Out), (std::set<std::string>{"a_(new).mp3", "b_(new).mp3", "c_(new).mp3",
                                                     "d_(new).mp3", ".zembra-outputs"}));
    }
}

// Two zembra-cli at once, twenty inputs of the same names each, into one folder: forty
// outputs, none written by both.
TEST_F(OutputSafety, TwoProcessesIntoOneFolderNeverShareAName) {
    const std::string Source = Wav("tone.wav", 0.3), Out = Path("out");
    fs::create_directories(Out);
    std::vector<std::string> Arguments[2];
    for (int P = 0; P < 2; ++P) {
        const std::string Folder = Path("p" + std::to_string(P));
        fs::create_directories(Folder);
        Arguments[P] = {"-q", "-j", "2", "-o", Out};
        for (int I = 0; I < 20; ++I) {
            const std::string Input = Folder + "/s" + std::to_string(I) + ".wav";
            fs::copy_file(Source, Input);
            Arguments[P].push_back(Input);
        }
    }
    TResult Results[2];
    std::thread Other([&] { Results[1] = RunCli(Arguments[1], 60s); });
    Results[0] = RunCli(Arguments[0], 60s);
    Other.join();
    std::map<std::string, int> Printed;
    for (const TResult& R : Results) {
        EXPECT_EQ(R.Status, 0) << R.Err;
        for (const std::string& Line : Lines(R.Out)) ++Printed[Line];
    }
    EXPECT_EQ(Printed.size(), 40u);
    for (const auto& [Name, Count] : Printed) {
        EXPECT_EQ(Count, 1) << Name;
        ExpectMp3(Name);
        EXPECT_NEAR(Inspect(Name).Duration, 0.3, 0.1) << Name;
    }
    EXPECT_EQ(Names(Out).size(), 41u);  // and the outputs' record
}

// A file system that refuses the output half way (here a limit on the file size, as a full disk
// does): the system's reason, nothing under the output's name, an old file being overwritten
// left as it was.
TEST_F(OutputSafety, AWriteThatFailsNamesItsReasonAndLeavesTheNameAsItWas) {
    const std::string Input = Wav("long.wav", 20.0), Output = Path("long_(new).mp3");
    // Without the signal ignored, the kernel ends the process at the limit instead of failing
    // the write.
    const std::string Limits = "ulimit -f 64; trap '' XFSZ";
    for (const bool Overwrite : {false, true}) {
        SCOPED_TRACE(Overwrite ? "--overwrite" : "new name");
        if (Overwrite) std::ofstream(Output) << "an older output";
        std::vector<std::string> Arguments = {"--reencode", Input};
        if (Overwrite) Arguments.insert(Arguments.begin(), "--overwrite");
        const TResult R = RunLimited(Limits, Arguments);
        EXPECT_EQ(R.Status, 1) << R.Err;
        EXPECT_EQ(R.Out, "");
        EXPECT_NE(R.Err.find(": Error while writing: File too large"), std::string::npos) << R.Err;
        EXPECT_NE(R.Err.find("0 finished, 1 failed"), std::string::npos) << R.Err;
        if (Overwrite) {
            EXPECT_EQ(Bytes(Output), "an older output");
        } else {
            EXPECT_FALSE(fs::exists(Output));
        }
        EXPECT_FALSE(AnyHidden(Dir)) << R.Err;
    }
}

// The smaller cases of where an output goes and what the summary says of it.
TEST_F(OutputSafety, FoldersPipesAndShortSources) {
    const std::string Clip = Wav("clip.wav", 6.0);
    // A folder where the output would go is numbered past.
    fs::create_directories(Path("clip_(new).mp3"));
    TResult R = RunCli({Clip});
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(Lines(R.Out), std::vector<std::string>{Path("clip_(new_1).mp3")});

    // A source cut short (a download that stopped) finishes, but says it is short: its header
    // still claims the whole length.
    const std::string Film = Wav("film.mkv", 6.0);
    const std::string Whole = Bytes(Film);
    std::ofstream(Path("half.mkv"), std::ios::binary) << Whole.substr(0, Whole.size() / 2);
    R = RunCli({Path("half.mkv")});
    ASSERT_EQ(R.Status, 0) << R.Err;
    // The encoder's last frame may reach a little past the samples.
    EXPECT_NE(R.Err.find("warning: " + Path("half.mkv") + ": output is 3."), std::string::npos) << R.Err;
    EXPECT_NE(R.Err.find(" s of 6.0 s: the source ends early"), std::string::npos) << R.Err;
    EXPECT_NEAR(Inspect(Path("half_(new).mp3")).Duration, 3.0, 0.3);

    // A pipe is refused at once, not waited on.
    ASSERT_EQ(::mkfifo(Path("pipe.mp4").c_str(), 0644), 0);
    R = RunCli({Path("pipe.mp4")}, 20s);
    EXPECT_FALSE(R.TimedOut);
    EXPECT_EQ(R.Status, 1) << R.Err;
    EXPECT_NE(R.Err.find(Path("pipe.mp4") + " is not a regular file"), std::string::npos) << R.Err;

    // A folder walk meeting a path it cannot follow says so instead of finding nothing.
    fs::create_directories(Path("walk"));
    fs::copy_file(Clip, Path("walk/song.wav"));
    fs::create_symlink("loop2", Path("walk/loop1"));
    fs::create_symlink("loop1", Path("walk/loop2"));
    R = RunCli({Path("walk")});
    EXPECT_EQ(R.Status, 1) << R.Err;
    EXPECT_NE(R.Err.find("failed: " + Path("walk/loop1") + ": Too many levels of symbolic links"),
              std::string::npos)
        << R.Err;
    EXPECT_EQ(Lines(R.Out), std::vector<std::string>{Path("walk/song_(new).mp3")});
}

// Stops of every kind part way through a batch, and one file named three times: afterwards the
// output folder holds finished files only (no hidden temporary or lock file, no empty name), the
// summary's counts add up to the files of the batch, and the exit status says what happened.
TEST_F(OutputSafety, EveryKindOfStopLeavesFinishedFilesAndASummaryThatAddsUp) {
    fs::create_directories(Path("in/many"));
    for (const auto& [Name, Seconds] : {std::pair{"a.wav", 0.3}, {"b.wav", 3.0}, {"c.wav", 0.3}})
        fs::rename(Wav(Name, Seconds), Path(std::string("in/") + Name));
    const std::string Tiny = Wav("tiny.wav", 0.1);
    for (int I = 0; I < 40; ++I) fs::copy_file(Tiny, Path("in/many/t" + std::to_string(100 + I) + ".wav"));
    const std::string Out = Path("out");

    struct TSignal {
        int Signal;
        std::chrono::milliseconds After;  // after the one before
    };
    // Reading at the pace of playback, a is done, b (3 s) under way and c waiting when it comes.
    auto BUnderWay = [](const TResult& R) { return R.Err.find("b.wav ") != std::string::npos; };
    auto FirstOutput = [](const TResult& R) { return !R.Out.empty(); };
    const std::string ABC = "-j 1 --input-option re=1 -o ../out a.wav b.wav c.wav";
    const struct {
        const char* What;
        std::string Arguments;  // shell words, run in the folder "in"
        bool Pipe;              // standard output through "head -1"
        std::function<bool(const TResult&)> When;
        std::vector<TSignal> Signals;
        size_t Files;
        int Status;
        std::set<std::string> Kept;  // the names in out/; empty: as many as finished
        std::vector<std::string> Err;
    } Rows[] = {
        {"two SIGTERMs at once, as timeout sends them",
         ABC,
         false,
         BUnderWay,
         {{SIGTERM, 0ms}, {SIGTERM, 0ms}},
         3,
         1,
         {"a_(new).mp3"},
         {"zembra-cli: stopping", "stopped: b.wav: no output kept",
          "\n1 finished, 0 failed, 1 stopped, 0 skipped, 1 not started\n"}},
        {"SIGHUP",
         ABC,
         false,
         BUnderWay,
         {{SIGHUP, 0ms}},
         3,
         1,
         {"a_(new).mp3"},
         {"stopped: b.wav: no output kept", "\n1 finished, 0 failed, 1 stopped, 0 skipped, 1 not started\n"}},
        // The second Ctrl+C comes while the first is still stopping (the process is held
        // meanwhile) or after the end: either way no name is left empty or half written.
        {"a second Ctrl+C over a second later",
         ABC,
         false,
         BUnderWay,
         {{SIGINT, 0ms}, {SIGSTOP, 5ms}, {SIGINT, 1500ms}, {SIGCONT, 0ms}},
         3,
         1,
         {"a_(new).mp3"},
         {}},
        {"standard output closed by head -1",
         ABC,
         true,
         {},
         {},
         3,
         1,
         {"a_(new).mp3", "b_(new).mp3"},
         // c was stopped or never started, whichever the stop came before.
         {"zembra-cli: standard output: Broken pipe: stopping", "\n2 finished, 0 failed, "}},
        {"one file given three times",
         "-o ../out a.wav a.wav ./a.wav",
         false,
         {},
         {},
         1,
         0,
         {"a_(new).mp3"},
         {"zembra-cli: a.wav: given 3 times, converted once\n", "\n1 finished, 0 failed, 0 skipped\n"}},
        {"Ctrl+C into forty files",
         "-j 1 --input-option re=1 -o ../out many",
         false,
         FirstOutput,
         {{SIGINT, 0ms}},
         40,
         1,
         {},
         {" not started\n"}},
    };
    const std::regex Counts(
        R"((\d+) finished, (\d+) failed, (?:(\d+) stopped, )?(\d+) skipped(?:, (\d+) not started)?\n)");
    for (const auto& Row : Rows) {
        SCOPED_TRACE(Row.What);
        fs::remove_all(Out);
        fs::create_directories(Out);
        std::string Command = "cd '" + Path("in") + "' && " + (Row.Pipe ? "" : "exec ") + "'" + ZEMBRA_CLI +
                              "' " + Row.Arguments;
        if (Row.Pipe) Command += " | head -1; exit ${PIPESTATUS[0]}";
        bool Sent = Row.Signals.empty();
        const TResult R =
            RunProgram("/bin/bash", {"-c", Command}, 60s, {false, [&](pid_t Pid, const TResult& SoFar) {
                                                               if (Sent || !Row.When(SoFar)) return;
                                                               for (const TSignal& S : Row.Signals) {
                                                                   std::this_thread::sleep_for(S.After);
                                                                   ::kill(Pid, S.Signal);
                                                               }
                                                               Sent = true;
                                                           }});
        ASSERT_TRUE(Sent) << R.Err;
        ASSERT_FALSE(R.TimedOut) << R.Err;
        EXPECT_EQ(R.Status, Row.Status) << R.Err;
        for (const std::string& Part : Row.Err)
            EXPECT_NE(R.Err.find(Part), std::string::npos) << Part << "\n" << R.Err;

        // What is on disk: finished outputs under their names, nothing else.
        EXPECT_FALSE(AnyHidden(Out)) << R.Err;
        std::set<std::string> Found = Names(Out);
        Found.erase(".zembra-outputs");
        for (const std::string& Name : Found) EXPECT_GT(fs::file_size(Out + "/" + Name), 0u) << Name;
        const std::vector<std::string> Printed = Lines(R.Out);
        for (const std::string& Line : Printed)
            EXPECT_TRUE(Found.count(fs::path(Line).filename().string())) << Line;
        if (!Row.Kept.empty()) {
            EXPECT_EQ(Found, Row.Kept) << R.Err;
        }

        // The counts add up to the batch's files; the outputs are the finished ones.
        std::smatch M;
        if (!std::regex_search(R.Err, M, Counts)) {
            EXPECT_TRUE(Row.Err.empty()) << "no summary\n" << R.Err;
            continue;
        }
        size_t Total = 0;
        for (int I = 1; I <= 5; ++I)
            if (M[I].matched) Total += std::stoul(M[I].str());
        EXPECT_EQ(Total, Row.Files) << M[0];
        EXPECT_EQ(Found.size(), std::stoul(M[1].str())) << R.Err;
        // Through head, the first name alone.
        EXPECT_EQ(Printed.size(), Row.Pipe ? 1u : Found.size()) << R.Out;
    }
}

// The batches users run again and again: each step a command as typed in the test's folder,
// with what it must say and print, and the files that must be there at the end. A rerun never
// takes the outputs for sources, never converts a file whose output is there (under whatever
// number or name it got), converts exactly what did not finish, and never rewrites an output.
TEST_F(OutputSafety, RerunsConvertOnlyWhatHasNoOutputYet) {
    using TNames = std::set<std::string>;
    struct TSource {
        std::string Name;  // a .wav or .flac file, made in the test's folder
        double Seconds = 0.3;
        testmedia::TOptions Tags = {};
    };
    struct TStep {
        // Run by bash in the test's folder; "zembra-cli" is the program under test. "exec" in
        // front lets a stop reach the program itself.
        std::string Command;
        std::string Summary;  // the summary's counts, "" when the row checks them as a whole
        int Status = 0;
        std::string Said = "";                         // a piece of standard error
        std::optional<TNames> Printed = std::nullopt;  // the outputs, relative
        bool StopAfterFirst = false;                   // Ctrl+C once the first output is printed
        std::vector<std::string> Removed = {};         // outputs deleted by hand first
    };
    struct TRow {
        const char* What;
        std::vector<TSource> Sources;
        std::vector<std::string> Folders;
        std::vector<TStep> Steps;
        std::set<std::string> Tree;  // everything in the test's folder afterwards, folders with '/'
        std::map<std::string, double> Seconds = {};  // durations of outputs
        // The first two steps run at once, the second starting half a second later: together
        // they convert each file once.
        int TogetherFinished = -1;
    };
    const std::string Two = "0 finished, 0 failed, 2 skipped";
    const std::string Album = "zembra-cli --skip-existing --name '{album}' -o out s";
    const std::string Twelve = "zembra-cli -j 2 --input-option re=1 --skip-existing q";
    auto Numbered = [](const std::string& Folder, const std::string& Base, const std::string& Suffix,
                       int Count, bool Sources) {
        std::set<std::string> Names;
        for (int I = 0; I < Count; ++I) {
            const std::string N = (I < 9 ? "0" : "") + std::to_string(I + 1);
            Names.insert(Folder + Base +
                         (Sources ? N + Suffix : (I ? " (" + std::to_string(I) + ")" : "") + Suffix));
        }
        return Names;
    };
    std::vector<TSource> Twelves;
    for (const std::string& Name : Numbered("q/s", "", ".wav", 12, true)) Twelves.push_back({Name, 0.5});
    std::vector<TSource> Six;
    for (const std::string& Name : Numbered("s/t", "", ".wav", 6, true)) Six.push_back({Name});
    const testmedia::TOptions
        Tags1 = {{"album_artist", "Band"}, {"album", "First"}, {"title", "Intro"}, {"track", "1"}},
        Tags2 = {{"album_artist", "Band"}, {"album", "First"}, {"title", "Outro"}, {"track", "2"}};
    auto Join = [](std::initializer_list<std::set<std::string>> Sets) {
        std::set<std::string> All;
        for (const auto& Set : Sets) All.insert(Set.begin(), Set.end());
        return All;
    };

    const std::vector<TRow> Rows = {
        {"beside the sources, three times",
         {{"b/al/t1.wav"}, {"b/al/t2.wav"}},
         {},
         {{"zembra-cli --skip-existing b", "2 finished, 0 failed, 0 skipped"},
          {"zembra-cli --skip-existing b", Two},
          {"zembra-cli --skip-existing b", Two}},
         {"b/", "b/al/", "b/al/t1.wav", "b/al/t2.wav", "b/al/t1_(new).mp3", "b/al/t2_(new).mp3",
          "b/al/.zembra-outputs"}},
        {"the output folder inside the walked one",
         {{"lib/A/x.wav"}},
         {"lib/zout"},
         {{"zembra-cli --skip-existing -o lib/zout lib", "1 finished, 0 failed, 0 skipped"},
          {"zembra-cli --skip-existing -o lib/zout lib", "0 finished, 0 failed, 1 skipped"},
          // Without --skip-existing the source converts again, its outputs still do not.
          {"zembra-cli -o lib/zout lib", "1 finished, 0 failed, 0 skipped", 0, "",
           TNames{"lib/zout/A/x_(new_1).mp3"}}},
         {"lib/", "lib/A/", "lib/A/x.wav", "lib/zout/", "lib/zout/A/", "lib/zout/A/x_(new).mp3",
          "lib/zout/A/x_(new_1).mp3", "lib/zout/A/.zembra-outputs"}},
        {"the library recipes: a mirrored tree, a list of names, names from tags",
         {{"M/Band/First/01.flac", 0.3, Tags1}, {"M/Band/First/02.flac", 0.3, Tags2}},
         {"mp3", "tagged"},
         {{"zembra-cli --skip-existing -o mp3 M", "2 finished, 0 failed, 0 skipped"},
          {"zembra-cli --skip-existing -o mp3 M", Two},
          {"find M -name '*.flac' | zembra-cli -f mp3 --skip-existing -", "2 finished, 0 failed, 0 skipped"},
          {"find M -name '*.flac' | zembra-cli -f mp3 --skip-existing -", Two},
          {"zembra-cli --skip-existing --name '{albumartist}/{album}/{track:02} {title}' -o tagged M",
           "2 finished, 0 failed, 0 skipped"},
          {"zembra-cli --skip-existing --name '{albumartist}/{album}/{track:02} {title}' -o tagged M", Two}},
         {"M/",
          "M/Band/",
          "M/Band/First/",
          "M/Band/First/01.flac",
          "M/Band/First/02.flac",
          "M/Band/First/01_(new).mp3",
          "M/Band/First/02_(new).mp3",
          "M/Band/First/.zembra-outputs",
          "mp3/",
          "mp3/Band/",
          "mp3/Band/First/",
          "mp3/Band/First/01_(new).mp3",
          "mp3/Band/First/02_(new).mp3",
          "mp3/Band/First/.zembra-outputs",
          "tagged/",
          "tagged/Band/",
          "tagged/Band/First/",
          "tagged/Band/First/01 Intro.mp3",
          "tagged/Band/First/02 Outro.mp3",
          "tagged/Band/First/.zembra-outputs"}},
        {"two sources of one name into one folder, the second stopped",
         {{"a/x.wav"}, {"b/x.wav", 6.0}},
         {"out"},
         {{"exec zembra-cli --input-option re=1 -j 1 --skip-existing -o out a/x.wav b/x.wav", "1 finished", 1,
           "", TNames{"out/x_(new).mp3"}, true},
          {"zembra-cli --skip-existing -o out a/x.wav b/x.wav", "1 finished, 0 failed, 1 skipped", 0,
           "a/x.wav: skipped, ", TNames{"out/x_(new_1).mp3"}},
          {"zembra-cli --skip-existing -o out a/x.wav b/x.wav", Two}},
         {"a/", "a/x.wav", "b/", "b/x.wav", "out/", "out/x_(new).mp3", "out/x_(new_1).mp3",
          "out/.zembra-outputs"},
         {{"out/x_(new).mp3", 0.3}, {"out/x_(new_1).mp3", 6.0}}},
        {"six tracks of one name from tags, two outputs deleted",
         Six,
         {"out"},
         {{Album, "6 finished, 0 failed, 0 skipped"},
          {Album,
           "2 finished, 0 failed, 4 skipped",
           0,
           "",
           TNames{"out/Unknown Album (2).mp3", "out/Unknown Album (4).mp3"},
           false,
           {"out/Unknown Album (2).mp3", "out/Unknown Album (4).mp3"}},
          {Album, "0 finished, 0 failed, 6 skipped"}},
         Join({{"s/", "out/", "out/.zembra-outputs"},
               Numbered("s/t", "", ".wav", 6, true),
               Numbered("out/", "Unknown Album", ".mp3", 6, false)})},
        {"a folder at the output name",
         {{"clip.wav"}},
         {"clip_(new).mp3"},
         {{"zembra-cli --skip-existing clip.wav", "0 finished, 0 failed, 1 skipped", 0,
           "clip.wav: skipped, a folder holds the output name "},
          {"zembra-cli --skip-existing clip.wav", "0 finished, 0 failed, 1 skipped"}},
         {"clip.wav", "clip_(new).mp3/"}},
        {"an output given by name beside its source",
         {{"t1.wav"}},
         {},
         {{"zembra-cli t1.wav", "1 finished, 0 failed, 0 skipped"},
          {"zembra-cli --skip-existing t1.wav 't1_(new).mp3'", Two, 0,
           "t1_(new).mp3: skipped, the output of t1.wav"},
          // Alone, or without --skip-existing, it is a file like any other.
          {"zembra-cli 't1_(new).mp3'", "1 finished, 0 failed, 0 skipped", 0, "",
           TNames{"t1_(new)_(new).mp3"}}},
         {"t1.wav", "t1_(new).mp3", "t1_(new)_(new).mp3", ".zembra-outputs"}},
        {"two runs of the same twelve at once",
         Twelves,
         {},
         {{Twelve, ""}, {Twelve, ""}, {Twelve, "0 finished, 0 failed, 12 skipped"}},
         Join({{"q/", "q/.zembra-outputs"},
               Numbered("q/s", "", ".wav", 12, true),
               Numbered("q/s", "", "_(new).mp3", 12, true)}),
         {},
         12},
    };

    const std::string Clip = Wav("clip-0.3.wav", 0.3);
    for (const TRow& Row : Rows) {
        SCOPED_TRACE(Row.What);
        const std::string Base = Path("row");
        fs::remove_all(Base);
        fs::create_directories(Base);
        for (const std::string& Folder : Row.Folders) fs::create_directories(Base + "/" + Folder);
        for (const TSource& Source : Row.Sources) {
            const std::string File = Base + "/" + Source.Name;
            fs::create_directories(fs::path(File).parent_path());
            if (Source.Seconds == 0.3 && Source.Tags.empty() && File.ends_with(".wav")) {
                fs::copy_file(Clip, File);
                continue;
            }
            testmedia::TClipSpec Spec;
            Spec.Path = File;
            testmedia::TAudioSpec Audio;
            Audio.Encoder = File.ends_with(".flac") ? "flac" : "pcm_s16le";
            Audio.SampleRate = 22050;
            Audio.Duration = Source.Seconds;
            Spec.Audios.push_back(Audio);
            Spec.Metadata = Source.Tags;
            ASSERT_EQ(testmedia::WriteClip(Spec), "") << File;
        }
        // What each output held: a later step never writes over it.
        std::map<std::string, std::string> Held;
        auto Tree = [&] {
            std::set<std::string> Found;
            for (const auto& E : fs::recursive_directory_iterator(Base)) {
                const std::string Name = fs::relative(E.path(), Base).string();
                Found.insert(Name + (E.is_directory() ? "/" : ""));
                if (E.is_regular_file() && Name.ends_with(".mp3")) {
                    const auto [It, New] = Held.emplace(Name, Bytes(E.path()));
                    if (!New) {
                        EXPECT_EQ(It->second, Bytes(E.path())) << Name << " was written over";
                    }
                }
            }
            // A name removed by a step holds whatever a later step makes.
            std::erase_if(Held, [&](const auto& Entry) { return !Found.count(Entry.first); });
            return Found;
        };
        auto Run = [&](const TStep& Step) {
            TResult R = RunProgram("/bin/bash", {"-c", "cd '" + Base + "' && " + Step.Command}, 60s,
                                   {false, [&, Sent = false](pid_t Pid, const TResult& SoFar) mutable {
                                        if (!Step.StopAfterFirst || Sent || Lines(SoFar.Out).empty()) return;
                                        ::kill(Pid, SIGINT);
                                        Sent = true;
                                    }});
            return R;
        };
        auto Count = [](const std::string& Err, const std::string& What) {
            const size_t At = Err.rfind(" " + What);
            size_t Start = At;
            while (Start > 0 && std::isdigit(static_cast<unsigned char>(Err[Start - 1]))) --Start;
            return At == std::string::npos || Start == At ? -1 : std::stoi(Err.substr(Start, At - Start));
        };
        // Stands in for the shell's own name of the program.
        auto WithProgram = [](TStep Step) {
            for (size_t At; (At = Step.Command.find("zembra-cli ")) != std::string::npos;)
                Step.Command.replace(At, 10, "'" + std::string(ZEMBRA_CLI) + "'");
            return Step;
        };
        std::vector<TResult> Results(Row.Steps.size());
        size_t First = 0;
        if (Row.TogetherFinished >= 0) {
            Tree();
            std::thread Later([&] {
                std::this_thread::sleep_for(500ms);
                Results[1] = Run(WithProgram(Row.Steps[1]));
            });
            Results[0] = Run(WithProgram(Row.Steps[0]));
            Later.join();
            int Finished = 0, Skipped = 0;
            for (int I = 0; I < 2; ++I) {
                EXPECT_EQ(Results[I].Status, 0) << Results[I].Err;
                Finished += Count(Results[I].Err, "finished");
                Skipped += Count(Results[I].Err, "skipped");
            }
            EXPECT_EQ(Finished, Row.TogetherFinished) << Results[0].Err << Results[1].Err;
            EXPECT_EQ(Skipped, Row.TogetherFinished) << Results[0].Err << Results[1].Err;
            First = 2;
        }
        for (size_t I = First; I < Row.Steps.size(); ++I) {
            const TStep Step = WithProgram(Row.Steps[I]);
            SCOPED_TRACE(Row.Steps[I].Command);
            for (const std::string& Name : Step.Removed) ASSERT_TRUE(fs::remove(Base + "/" + Name)) << Name;
            Tree();
            const TResult R = Results[I] = Run(Step);
            EXPECT_EQ(R.Status, Step.Status) << R.Err;
            EXPECT_NE(R.Err.find(Step.Summary), std::string::npos) << R.Err;
            EXPECT_NE(R.Err.find(Step.Said), std::string::npos) << R.Err;
            if (Step.Printed) {
                std::set<std::string> Printed;
                for (const std::string& Line : Lines(R.Out))
                    Printed.insert(fs::relative(Line, Base).string());
                EXPECT_EQ(Printed, *Step.Printed) << R.Err;
            }
        }
        EXPECT_EQ(Tree(), Row.Tree);
        for (const std::string& Name : Row.Tree)
            if (Name.ends_with(".mp3")) ExpectMp3(Base + "/" + Name);
        for (const auto& [Name, Seconds] : Row.Seconds)
            EXPECT_NEAR(Inspect(Base + "/" + Name).Duration, Seconds, 0.2) << Name;
    }
}

// What happens to an output's name when it holds a link, a finished output or an older partial,
// when the run is stopped, when another program takes the temporary file away, and for a muxer
// that checks the extension of the name it writes to. Every row's folder is listed whole
// afterwards, hidden files included; the link's target outside the folder always still says
// "precious".
TEST_F(OutputSafety, LinksPartialsAndTemporaryFilesTakenAway) {
    // What the watcher does once the task has converted a second of sound (its progress says so)
    // into its temporary file.
    enum class TAct { None, Interrupt, RemoveTemporary, ReplaceTemporary };
    struct TRow {
        const char* What;
        std::map<std::string, std::string> Before;  // "->X": a link to X
        std::vector<std::string> Options;
        TAct Act;
        int Status;
        const char* Printed;  // the one output printed, or ""
        std::vector<std::string> ErrHas, ErrLacks;
        // Everything in the folder afterwards: "mp3"/"m4a" a whole conversion, "partial" an mp3
        // shorter than its source, "->X" a link, anything else the file's text. {TEMP} is the
        // task's temporary file.
        std::map<std::string, std::string> After;
    };
    const std::string Link = "->../target.txt";
    const std::vector<TRow> Table = {
        {"--overwrite replaces a link at the name, never its target",
         {{"s_(new).mp3", Link}},
         {"--overwrite"},
         TAct::None,
         0,
         "s_(new).mp3",
         {"1 finished, 0 failed"},
         {},
         {{"s_(new).mp3", "mp3"}}},
        {"without --overwrite a link is an existing name",
         {{"s_(new).mp3", Link}},
         {},
         TAct::None,
         0,
         "s_(new_1).mp3",
         {"1 finished, 0 failed"},
         {},
         {{"s_(new).mp3", Link}, {"s_(new_1).mp3", "mp3"}}},
        {"stopped with a link at the name",
         {{"s_(new).mp3", Link}},
         {"--overwrite"},
         TAct::Interrupt,
         1,
         "",
         {"stopped: {SRC}: no output kept", "0 finished, 0 failed, 1 stopped"},
         {},
         {{"s_(new).mp3", Link}}},
        {"a stopped task never replaces a finished output",
         {{"s_(new).mp3", "finished before"}},
         {"--overwrite", "--keep-partial"},
         TAct::Interrupt,
         1,
         "",
         {"stopped: {SRC}: partial output kept in {OUT}/s_(new).partial.mp3"},
         {},
         {{"s_(new).mp3", "finished before"}, {"s_(new).partial.mp3", "partial"}}},
        {"a kept partial is numbered past an older one",
         {{"s_(new).partial.mp3", "older partial"}},
         {"--keep-partial"},
         TAct::Interrupt,
         1,
         "",
         {"stopped: {SRC}: partial output kept in {OUT}/s_(new).partial_1.mp3"},
         {},
         {{"s_(new).partial.mp3", "older partial"}, {"s_(new).partial_1.mp3", "partial"}}},
        {"a partial is no output for --skip-existing",
         {{"s_(new).partial.mp3", "older partial"}},
         {"--skip-existing"},
         TAct::None,
         0,
         "s_(new).mp3",
         {"1 finished, 0 failed, 0 skipped"},
         {},
         {{"s_(new).partial.mp3", "older partial"}, {"s_(new).mp3", "mp3"}}},
        {"a removed temporary file fails the task",
         {},
         {},
         TAct::RemoveTemporary,
         1,
         "",
         {"{OUT}/s_(new).mp3': its temporary file", "was removed before it was finished",
          "0 finished, 1 failed"},
         {},
         {}},
        {"a replaced temporary file fails the task and is left alone",
         {},
         {},
         TAct::ReplaceTemporary,
         1,
         "",
         {"was replaced before it was finished", "0 finished, 1 failed"},
         {},
         {{"{TEMP}", "someone else's"}}},
        {"an m4a output says nothing of its temporary name",
         {},
         {"-f", "m4a", "--log-level", "warning"},
         TAct::None,
         0,
         "s_(new).m4a",
         {"1 finished, 0 failed"},
         {"extension"},
         {{"s_(new).m4a", "m4a"}}},
    };
    const std::string Quick = Wav("quick.wav", 1.0), Long = Wav("long.wav", 4.0);
    std::ofstream(Path("target.txt")) << "precious";
    int Number = 0;
    for (const TRow& Row : Table) {
        SCOPED_TRACE(Row.What);
        const std::string Out = Path("o" + std::to_string(++Number));
        fs::create_directories(Out);
        const std::string Source = Path("s" + std::to_string(Number) + "/s.wav");
        fs::create_directories(fs::path(Source).parent_path());
        fs::copy_file(Row.Act == TAct::None ? Quick : Long, Source);
        for (const auto& [Name, What] : Row.Before) {
            if (What.rfind("->", 0) == 0)
                fs::create_symlink(What.substr(2), Out + "/" + Name);
            else
                std::ofstream(Out + "/" + Name) << What;
        }
        std::vector<std::string> Arguments = Row.Options;
        // Read at the pace of playback on one thread, so that the task is still going when the
        // watcher acts.
        if (Row.Act != TAct::None)
            Arguments.insert(Arguments.end(), {"--input-option", "re=1", "--no-split"});
        Arguments.insert(Arguments.end(), {"-o", Out, Source});
        std::string Temporary;
        bool Acted = Row.Act == TAct::None;
        const TResult R = RunCli(Arguments, 60s, [&](pid_t Pid, const TResult& SoFar) {
            if (Acted || SoFar.Err.find(" 00:00:01.") == std::string::npos) return;
            for (const std::string& Name : Names(Out))
                if (Name[0] == '.' && Name.find(".part") != std::string::npos) Temporary = Name;
            if (Temporary.empty()) return;
            Acted = true;
            if (Row.Act == TAct::Interrupt) {
                ::kill(Pid, SIGINT);
            } else if (Row.Act == TAct::RemoveTemporary) {
                fs::remove(Out + "/" + Temporary);
            } else {
                std::ofstream(Out + "/other") << "someone else's";
                fs::rename(Out + "/other", Out + "/" + Temporary);
            }
        });
        ASSERT_TRUE(Acted) << R.Err;
        EXPECT_EQ(R.Status, Row.Status) << R.Err;
        EXPECT_EQ(Lines(R.Out), *Row.Printed ? std::vector<std::string>{Out + "/" + Row.Printed}
                                             : std::vector<std::string>{})
            << R.Err;
        auto Fill = [&](std::string Text) {
            for (const auto& [Key, Value] : {std::pair<std::string, std::string>{"{SRC}", Source},
                                             {"{OUT}", Out},
                                             {"{TEMP}", Temporary}})
                for (size_t At; (At = Text.find(Key)) != std::string::npos;)
                    Text.replace(At, Key.size(), Value);
            return Text;
        };
        for (const std::string& Text : Row.ErrHas)
            EXPECT_NE(R.Err.find(Fill(Text)), std::string::npos) << R.Err;
        for (const std::string& Text : Row.ErrLacks) EXPECT_EQ(R.Err.find(Text), std::string::npos) << R.Err;
        std::set<std::string> Expected;
        for (const auto& [Name, What] : Row.After) {
            const std::string File = Out + "/" + Fill(Name);
            Expected.insert(Fill(Name));
            if (What.rfind("->", 0) == 0) {
                ASSERT_TRUE(fs::is_symlink(File)) << File;
                EXPECT_EQ(fs::read_symlink(File).string(), What.substr(2));
            } else if (What == "mp3" || What == "partial" || What == "m4a") {
                ASSERT_FALSE(fs::is_symlink(File)) << File;
                const testmedia::TClipFacts F = Inspect(File);
                ASSERT_EQ(F.Streams.size(), 1u) << File;
                EXPECT_EQ(F.Streams[0].CodecId, What == "m4a" ? AV_CODEC_ID_AAC : AV_CODEC_ID_MP3) << File;
                if (What == "partial") {
                    EXPECT_GT(F.Duration, 0.0) << File;
                    EXPECT_LT(F.Duration, 3.5) << File;
                } else {
                    EXPECT_NEAR(F.Duration, 1.0, 0.1) << File;
                }
            } else {
                EXPECT_EQ(Bytes(File), What) << File;
            }
        }
        // The outputs' record comes and goes with the names runs take; the rerun table checks it.
        std::set<std::string> Found = Names(Out);
        Found.erase(".zembra-outputs");
        EXPECT_EQ(Found, Expected) << R.Err;
        EXPECT_EQ(Bytes(Path("target.txt")), "precious");
    }
}

}  // namespace
}  // namespace zembra::testing
