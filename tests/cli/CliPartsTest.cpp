// The command line's parts on their own: times and cut ranges, the arguments, the option names
// the engine takes, and the end-of-batch report.

#include <gtest/gtest.h>

#include <stdlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/OptionBuilder.h"
#include "binding/FFmpegLoader.h"
#include "cli/BatchSummary.h"
#include "cli/CliOptions.h"
#include "cli/CutRequest.h"
#include "cli/EngineOptionList.h"
#include "cli/FolderWalk.h"
#include "cli/OptionNameCheck.h"
#include "cli/OutputRecords.h"
#include "cli/ProgressDisplay.h"
#include "cli/TimeText.h"
#include "engine/OptionDefs.h"
#include "util/StringUtils.h"

namespace zembra::cli {
namespace {

TEST(CliParts, TimesAndCutRanges) {
    const struct {
        const char* Text;
        std::optional<int64_t> Ms;
    } Times[] = {
        {"90", 90000},
        {"7.5", 7500},
        {"0.0125", 12},
        {"1:30", 90000},
        {"01:02:03.250", 3723250},
        {"100:00", 6000000},
        {"2:00:00", 7200000},
        {"", std::nullopt},
        {"1:60", std::nullopt},
        {"1:60:00", std::nullopt},
        {"1::2", std::nullopt},
        {"5.", std::nullopt},
        {"-3", std::nullopt},
        {"1e3", std::nullopt},
        {"1:2:3:4", std::nullopt},
        {" 5", std::nullopt},
    };
    for (const auto& T : Times) EXPECT_EQ(ParseTimeMs(T.Text), T.Ms) << T.Text;

    const struct {
        const char* Text;
        bool Valid;
        int64_t Start;
        std::optional<int64_t> End;
    } Cuts[] = {
        {"5-10", true, 5000, 10000},
        {"1:30-", true, 90000, std::nullopt},
        {"0:05-1:00.5", true, 5000, 60500},
        {"10-5", false, 0, {}},
        {"5-5", false, 0, {}},
        {"5", false, 0, {}},
        {"-5", false, 0, {}},
        {"a-b", false, 0, {}},
    };
    for (const auto& C : Cuts) {
        const std::optional<TCutRequest> Cut = ParseCut(C.Text);
        ASSERT_EQ(Cut.has_value(), C.Valid) << C.Text;
        if (!Cut) continue;
        EXPECT_EQ(Cut->StartMs, C.Start) << C.Text;
        EXPECT_EQ(Cut->EndMs, C.End) << C.Text;
    }

    // Against a file of 3 s: a start at or past the end fails, an end past it is clamped with
    // a warning, an open end runs to it, an unknown length lets the request through.
    const struct {
        TCutRequest Request;
        int64_t DurationUs;
        bool Ok;
        std::optional<int64_t> End;
        const char* MessageStart;
    } Resolved[] = {
        {{1000, 2000}, 3000000, true, 2000, ""},
        {{1000, 5000},
         3000000,
         true,
         3000,
         "the cut ends at 00:00:05.000, past the end of the file (00:00:03.000)"},
        {{1000, std::nullopt}, 3000000, true, 3000, ""},
        {{3000, 4000}, 3000000, false, {}, "the cut starts at 00:00:03.000, at or past the end"},
        {{5000, std::nullopt}, 3000000, false, {}, "the cut starts at 00:00:05.000"},
        {{5000, std::nullopt}, -1, true, std::nullopt, ""},
    };
    for (const auto& R : Resolved) {
        const TResolvedCut Out = ResolveCut(R.Request, R.DurationUs);
        EXPECT_EQ(Out.Ok, R.Ok) << Out.Message;
        EXPECT_EQ(Out.Message.rfind(R.MessageStart, 0), 0u) << Out.Message;
        EXPECT_EQ(Out.Message.empty(), std::string(R.MessageStart).empty()) << Out.Message;
        if (Out.Ok) {
            EXPECT_EQ(Out.Cut.EndMs, R.End);
        }
    }
}

TEST(CliParts, ArgumentsOfALibraryRun) {
    TCliOptions O;
    std::string Error;
    ASSERT_TRUE(ParseCommandLine(
        {"-f", "ogg", "--keep-video", "--codec", "flac", "--quality=-1", "--no-tags", "--no-cover", "--tag",
         "album=Live", "--tag=genre=Rock", "--skip-existing", "--cut", "1:00-", "-o", "out", "Music", "-"},
        O, Error))
        << Error;
    EXPECT_EQ(O.Format, "ogg");
    EXPECT_TRUE(O.KeepVideo && O.NoTags && O.NoCover && O.SkipExisting);
    EXPECT_EQ(O.Codec, "flac");
    EXPECT_EQ(O.Quality, -1.0);
    EXPECT_EQ(O.Tags, (std::vector<std::string>{"album=Live", "genre=Rock"}));
    ASSERT_TRUE(O.Cut);
    EXPECT_EQ(O.Cut->StartMs, 60000);
    EXPECT_FALSE(O.Cut->EndMs);
    EXPECT_FALSE(O.Threads);  // the processors, decided once the files are known
    EXPECT_EQ(O.Files, (std::vector<std::string>{"Music", "-"}));

    // Asking about the program needs no file; everything else does.
    TCliOptions About;
    EXPECT_TRUE(ParseCommandLine({"--version", "--list-formats"}, About, Error));
    EXPECT_TRUE(About.Version && About.ListFormats);
    const std::vector<std::vector<std::string>> Refused = {
        {"--quality", "loud", "a.wav"}, {"--tag", "novalue", "a.wav"}, {"--cut", "1:70-2:00", "a.wav"},
        {"--no-tags=1", "a.wav"},       {"--skip-existing"},
    };
    for (const auto& Arguments : Refused) {
        TCliOptions Bad;
        EXPECT_FALSE(ParseCommandLine(Arguments, Bad, Error)) << Arguments[0];
    }
}

TEST(CliParts, OptionNamesTheEngineTakes) {
    FFLoader().SetLibraryPath(DefaultLibraryFolder());
    ASSERT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
    const struct {
        const char* Name;
        bool Known;
    } Names[] = {
        {"vn", true},
        {"map_meta_data", true},
        {"copy_cover", true},
        {"ss", true},
        {"aq", true},
        {"g", true},
        {"probesize", true},
        {"sws_flags", true},
        {"compression_level", true},  // a codec context option
        {"joint_stereo", true},       // a private option of the LAME encoder
        {"movflags", true},           // a private option of the MP4 muxer
        {"ab", true},
        {"abitrate", false},
        {"nosuch", false},
        {"", false},
    };
    for (const auto& N : Names) EXPECT_EQ(IsKnownOptionName(N.Name), N.Known) << N.Name;
    EXPECT_EQ(FirstUnknownOption({"ar=8000", "movflags=faststart", "bogus=1", "other=2"}), "bogus");
    EXPECT_EQ(FirstUnknownOption({"ar=8000"}), "");
}

// --list-engine-options: a line per row of the table, in its order, with the name first (the
// completion reads it there) and the row's kind; asking for it needs no file.
TEST(CliParts, TheEngineOptionListHoldsEveryRow) {
    std::string List = EngineOptionList();
    for (const TOptionDef& Def : EngineOptionTable()) {
        const std::string Line = SplitFirst(List, "\n", true);
        EXPECT_EQ(Line.substr(0, Line.find(' ')), Def.Name);
        EXPECT_NE(Line.find(std::string(" ") + OptionKindName(Def.Kind) + " "), std::string::npos) << Line;
    }
    EXPECT_EQ(List, "");
    TCliOptions O;
    std::string Error;
    EXPECT_TRUE(ParseCommandLine({"--list-engine-options"}, O, Error)) << Error;
    EXPECT_TRUE(O.ListEngineOptions);
}

TEST(CliParts, TheReportListsFailuresAboveTheCounts) {
    TBatchSummary S;
    S.Finished();
    S.Skipped();
    S.Failed("a b.wav", "the cut starts at 00:00:05.000, at or past the end of the file (00:00:01.000)");
    S.Finished();
    S.Failed("x.avi", "stopped");
    EXPECT_EQ(S.FailedCount(), 2);
    EXPECT_EQ(
        S.ReportLines(),
        (std::vector<std::string>{
            "failed: a b.wav: the cut starts at 00:00:05.000, at or past the end of the file (00:00:01.000)",
            "failed: x.avi: stopped", "2 finished, 2 failed, 1 skipped"}));

    // A batch stopped part way: the files it never reached are counted, so the counts add up.
    TBatchSummary Stopped;
    Stopped.Finished();
    Stopped.Stopped("b.wav", "no output kept");
    Stopped.NotStarted(2);
    Stopped.NotStarted(0);
    Stopped.NotStarted(1418);
    EXPECT_EQ(Stopped.StoppedCount(), 1);
    EXPECT_EQ(Stopped.ReportLines(),
              (std::vector<std::string>{"stopped: b.wav: no output kept",
                                        "1 finished, 0 failed, 1 stopped, 0 skipped, 1420 not started"}));
}

// A task's last report may count less than an earlier one (it was stopped, or its segments
// are joined): the line shown keeps what it showed, until another task takes the index.
TEST(CliParts, AShownProgressNeverGoesBack) {
    char* Buffer = nullptr;
    size_t Size = 0;
    FILE* Stream = ::open_memstream(&Buffer, &Size);
    ASSERT_NE(Stream, nullptr);
    {
        TProgressDisplay Display(true, false, Stream);
        Display.Update(0, "a.wav", {-1, 41000, 40000, 100000});
        Display.Update(1, "b.wav", {-1, 20000, 20000, 100000});
        Display.Update(0, "a.wav", {-1, 15000, 15000, 100000});
        Display.Update(0, "a.wav", {-1, 52000, 50000, 100000});
        Display.Remove(0);
        Display.Update(0, "c.wav", {-1, 10000, 10000, 100000});
        Display.Update(1, "d.wav", {-1, 5000, 5000, 100000});
    }
    ASSERT_EQ(std::fclose(Stream), 0);
    std::vector<std::string> Shown;
    std::istringstream In(std::string(Buffer, Size));
    std::free(Buffer);
    for (std::string Line; std::getline(In, Line);) Shown.push_back(Line);
    const std::vector<std::string> Starts = {"a.wav  41%", "b.wav  20%", "a.wav  41%",
                                             "a.wav  52%", "c.wav  10%", "d.wav   5%"};
    ASSERT_EQ(Shown.size(), Starts.size());
    for (size_t I = 0; I < Shown.size(); ++I) EXPECT_EQ(Shown[I].rfind(Starts[I], 0), 0u) << Shown[I];
    // The time and size stay too.
    EXPECT_EQ(Shown[2], Shown[0]);
}

// The sound of an AAC film goes into m4a unchanged unless an option needs the samples.
TEST(CliParts, EachOptionThatChangesTheSoundTurnsTheCopyIntoAnEncoding) {
    TSourceInfo Source;
    Source.FileName = u"/films/a.mp4";
    Source.Duration = 60'000'000;
    Source.Sound = {true, AV_CODEC_ID_AAC, "aac", 48000, 2};
    TBuildContext Context;
    Context.FileExists = [](const std::u16string&) { return false; };
    const struct {
        std::vector<std::string> Arguments;
        const char* Text;
    } Cases[] = {
        {{"-f", "m4a"}, "copied: AAC fits in m4a"},
        {{"-f", "aac", "--keep-video"}, "copied: AAC fits in aac"},
        {{"-f", "m4a", "--reencode"}, "encoded: --reencode given"},
        {{"-f", "m4a", "--rate", "44100"}, "encoded: sample rate set"},
        {{"-f", "m4a", "--channels", "2"}, "encoded: channels set"},
        {{"-f", "m4a", "--volume", "300"}, "encoded: volume set"},
        {{"-f", "m4a", "--volume", "256"}, "copied: AAC fits in m4a"},
        {{"-f", "m4a", "--bitrate", "96"}, "encoded: bit rate set"},
        {{"-f", "m4a", "--quality", "2"}, "encoded: quality set"},
        {{"-f", "m4a", "--codec", "aac"}, "copied: AAC fits in m4a"},
        {{"-f", "m4a", "--codec", "alac"}, "encoded: encoder alac chosen"},
        {{"-f", "m4a", "--output-option", "ar=8000"}, "encoded: option ar set"},
        {{"-f", "m4a", "--output-option", "movflags=faststart"}, "copied: AAC fits in m4a"},
        {{"-f", "m4a", "--cut", "1-2"}, "copied: AAC fits in m4a, cut at packets, not samples"},
        {{"-f", "mp3"}, "encoded: AAC does not fit in mp3"},
        {{"-f", "mkv"}, "encoded: AAC does not fit in mkv"},
    };
    for (const auto& C : Cases) {
        TCliOptions O;
        std::string Error;
        std::vector<std::string> Arguments = C.Arguments;
        Arguments.push_back("a.mp4");
        ASSERT_TRUE(ParseCommandLine(Arguments, O, Error)) << Error;
        const TTaskRecords R = BuildTaskRecords(O, Source, Context);
        EXPECT_EQ(R.Sound.Text(), C.Text);
        const bool Copied = R.Out.OptionLines.find("acodec=copy") != std::string::npos;
        EXPECT_EQ(Copied, R.Sound.Copy) << C.Text;
        EXPECT_TRUE(!Copied || R.Out.AudioCodec.empty()) << C.Text;
    }

    TBatchSummary S;
    S.Finished();
    S.Copied("a.mp4", "AAC fits in m4a");
    S.Failed("b.avi", "stopped");
    EXPECT_EQ(S.ReportLines(),
              (std::vector<std::string>{"copied: a.mp4: AAC fits in m4a", "failed: b.avi: stopped",
                                        "1 finished, 1 failed, 0 skipped"}));
}

// What the rerun table cannot make: records written by other runs and versions (names with tabs
// and line ends, a line half written, a name given to another source since), and a kept
// partial's name beside its source.
TEST(CliParts, TheOutputRecordsTellWhoseAnOutputIs) {
    char Pattern[] = "/tmp/zembra-records-XXXXXX";
    ASSERT_NE(::mkdtemp(Pattern), nullptr);
    const std::string Dir = Pattern;
    auto Write = [&](const std::string& Name, const std::string& Text, bool Append = false) {
        std::ofstream(Dir + "/" + Name, Append ? std::ios::app : std::ios::trunc) << Text;
    };
    Write(kOutputRecordName,
          "c\tx_(new).mp3\t/a/x.flac\n"
          "c\tx_(new_1).mp3\t/b/x.flac\n"
          "z\tfuture.mp3\t/a/x.flac\n"
          "c\ttab\\there\\nand line.mp3\t/c/a\\\\b.flac\n"
          "c\ty_(new).mp3\t/a/y.flac");  // still being written
    for (const char* Name : {"x_(new).mp3", "x_(new_1).mp3", "y_(new).mp3", "z_(new).mp3"})
        Write(Name, "sound");
    TOutputRecords Records;
    std::string Source;
    EXPECT_TRUE(Records.Lists(Dir, "tab\there\nand line.mp3", &Source));
    EXPECT_EQ(Source, "/c/a\\b.flac");
    EXPECT_FALSE(Records.Lists(Dir, "future.mp3"));
    EXPECT_FALSE(Records.Lists(Dir, "y_(new).mp3"));

    const TNameFamily X{Dir, "x", ".mp3", false}, Y{Dir, "y", ".mp3", false}, Z{Dir, "z", ".mp3", false};
    const auto None = [](const std::string&) { return false; };
    EXPECT_EQ(Records.Existing("/b/x.flac", X, None).Reason, Dir + "/x_(new_1).mp3 exists");
    // The plain name is another source's: b/x.flac was not converted before.
    EXPECT_FALSE(Records.Existing("/c/x.flac", X, None).Skip);
    // Not in any record: an older version's output counts for the plain name.
    EXPECT_EQ(Records.Existing("/a/z.flac", Z, None).Reason, Dir + "/z_(new).mp3 exists");
    // The line's end arrives: the name is y's from then on, the older file not its output.
    EXPECT_TRUE(Records.Existing("/b/y.flac", Y, None).Skip);
    Write(kOutputRecordName, "\n", true);
    EXPECT_FALSE(Records.Existing("/b/y.flac", Y, None).Skip);
    EXPECT_TRUE(Records.Existing("/a/y.flac", Y, None).Skip);
    // A name given to another source since is no longer the first one's.
    Write(kOutputRecordName, "c\tx_(new).mp3\t/d/x.flac\n", true);
    EXPECT_FALSE(Records.Existing("/a/x.flac", X, None).Skip);
    // Another format's outputs and names outside the family are not this one's.
    EXPECT_FALSE(Records.Existing("/b/x.flac", {Dir, "x", ".ogg", false}, None).Skip);
    EXPECT_FALSE(Records.Existing("/b/x.flac", {Dir, "x_(new", ".mp3", true}, None).Skip);

    // A run that took a name after an earlier line for the same source gives it up.
    Write("w_(new_1).mp3", "");
    Write(kOutputRecordName, "c\tw_(new).mp3\t/a/w.flac\n", true);
    Write("w_(new).mp3", "sound");
    const TNameFamily W{Dir, "w", ".mp3", false};
    EXPECT_EQ(Records.Chosen(Dir + "/w_(new_1).mp3", "/a/w.flac", W, true, true, None).Reason,
              Dir + "/w_(new).mp3 exists");
    EXPECT_FALSE(Records.Chosen(Dir + "/w_(new_1).mp3", "/b/w.flac", W, true, true, None).Skip);

    // The walk: a kept partial and a numbered output beside their source are left out.
    Write("t1.wav", "");
    Write("t1_(new).partial.mp3", "");
    Write("t1_(new_12).ogg", "");
    Write("t1_(new_x).mp3", "");
    const TWalkResult Walked = ExpandInputs({Dir}, {{"wav", "mp3", "ogg"}, "", false, &Records});
    std::vector<std::string> Found;
    for (const TInputItem& Item : Walked.Items) Found.push_back(Item.Path.substr(Dir.size() + 1));
    // z_(new).mp3 has neither a source beside it nor a record line: a file like any other.
    EXPECT_EQ(Found, (std::vector<std::string>{"t1.wav", "t1_(new_x).mp3", "z_(new).mp3"}));
    std::filesystem::remove_all(Dir);
}

}  // namespace
}  // namespace zembra::cli
