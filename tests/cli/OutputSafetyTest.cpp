// A name holds a finished file or nothing: zembra-cli stopped, killed, short of room or racing
// another zembra-cli, and what a second run makes of what the first left.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
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

bool AnyHidden(const std::string& Folder) {
    const std::set<std::string> All = Names(Folder);
    return std::any_of(All.begin(), All.end(), [](const std::string& N) { return N[0] == '.'; });
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
        EXPECT_EQ(Names(Out),
                  (std::set<std::string>{"a_(new).mp3", "b_(new).mp3", "c_(new).mp3", "d_(new).mp3"}));
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
    EXPECT_EQ(Names(Out).size(), 40u);
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
        EXPECT_NE(R.Err.find("Error while opening file: File too large"), std::string::npos) << R.Err;
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
        EXPECT_EQ(Names(Out), Expected) << R.Err;
        EXPECT_EQ(Bytes(Path("target.txt")), "precious");
    }
}

}  // namespace
}  // namespace zembra::testing
