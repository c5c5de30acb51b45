// zembra-cli as a user runs it: the built program on generated clips in a temporary folder.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "binding/FFmpegLoader.h"
#include "tests/media/ClipInspector.h"
#include "tests/media/SampleClips.h"
#include "tests/media/TestMedia.h"
#include "tests/cli/CliFixture.h"
#include "tests/support/RunProgram.h"

namespace zembra::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST_F(Cli, ABatchOfSeveralFormatsWithTwoTasksAtOnce) {
    using testmedia::TSampleKind;
    const std::vector<std::string> Inputs = {
        Sample(TSampleKind::Avi, "a.avi"), Sample(TSampleKind::Mp4, "b.mp4"),
        Sample(TSampleKind::Mkv, "c.mkv"), Sample(TSampleKind::Ogg, "d.ogg"),
        Sample(TSampleKind::Wav, "e.wav"), Sample(TSampleKind::Flac, "f.flac"),
    };
    std::vector<std::string> Args = {"-j", "2"};
    Args.insert(Args.end(), Inputs.begin(), Inputs.end());
    const TResult R = RunCli(Args);
    ASSERT_EQ(R.Status, 0) << R.Err;
    const std::vector<std::string> Printed = Lines(R.Out);
    ASSERT_EQ(Printed.size(), Inputs.size()) << R.Out;
    for (const std::string& In : Inputs) {
        const std::string Expected = fs::path(In).replace_extension().string() + "_(new).mp3";
        EXPECT_NE(std::find(Printed.begin(), Printed.end(), Expected), Printed.end()) << Expected;
        ExpectMp3(Expected);
    }
}

TEST_F(Cli, SequentialRunInTheMainThread) {
    const std::string A = Wav("one.wav", 0.5), B = Wav("two.wav", 0.5);
    const TResult R = RunCli({"-j", "0", "--rate", "8000", "--channels", "1", A, B});
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(Lines(R.Out), (std::vector<std::string>{Path("one_(new).mp3"), Path("two_(new).mp3")}));
    const testmedia::TClipFacts F = Inspect(Path("two_(new).mp3"));
    ASSERT_EQ(F.Streams.size(), 1u);
    EXPECT_EQ(F.Streams[0].SampleRate, 8000);
    EXPECT_EQ(F.Streams[0].Channels, 1);
}

TEST_F(Cli, AnExistingOutputGetsANumberedNameAndOverwriteReplacesIt) {
    const std::string In = Wav("clip.wav", 0.4);
    std::ofstream(Path("clip_(new).mp3")) << "keep me";
    TResult R = RunCli({In});
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(Lines(R.Out), std::vector<std::string>{Path("clip_(new_1).mp3")});
    ExpectMp3(Path("clip_(new_1).mp3"));
    EXPECT_EQ(fs::file_size(Path("clip_(new).mp3")), 7u);

    R = RunCli({"--overwrite", In});
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(Lines(R.Out), std::vector<std::string>{Path("clip_(new).mp3")});
    ExpectMp3(Path("clip_(new).mp3"));
    EXPECT_FALSE(fs::exists(Path("clip_(new_2).mp3")));
}

// More files than the component is given at once (with -j 1: 18 ahead of the worker, 144 to a
// run), under a hard limit of 64 open files: every file converts, each into a name of its own.
TEST_F(Cli, ABatchLargerThanARunConvertsEveryFileWithinSixtyFourHandles) {
    const std::string Song = Wav("song.wav", 0.1);
    ASSERT_TRUE(fs::create_directory(Path("out")));
    std::vector<std::string> Args = {
        "-c", "ulimit -n 64 && exec \"$0\" \"$@\"", ZEMBRA_CLI, "-q", "-j", "1", "-o", Path("out")};
    for (int I = 0; I < 160; ++I) {
        const std::string Name = Path("c" + std::to_string(I) + ".wav");
        fs::copy_file(Song, Name);
        Args.push_back(Name);
    }
    // Two more songs of one name from two folders: two tasks that would take one name.
    for (const char* Folder : {"x", "y"}) {
        fs::create_directory(Path(Folder));
        fs::copy_file(Song, Path(Folder + std::string("/song.wav")));
        Args.push_back(Path(Folder + std::string("/song.wav")));
    }
    const TResult R = RunProgram("/bin/sh", Args, 180s);
    ASSERT_EQ(R.Status, 0) << R.Err;
    const auto Printed = Lines(R.Out);
    EXPECT_EQ(Printed.size(), 162u);
    EXPECT_EQ(std::set<std::string>(Printed.begin(), Printed.end()).size(), Printed.size());
    for (const std::string& Output : Printed) ExpectMp3(Output);
}

TEST_F(Cli, TwoSourcesOfOneNameGetTwoOutputsEvenWhenOverwriting) {
    const std::string In = Wav("twice.wav", 0.3);
    fs::create_directories(Path("out"));
    fs::create_directories(Path("other"));
    fs::copy_file(In, Path("other/twice.wav"));
    const TResult R = RunCli({"--overwrite", "-j", "2", "-o", Path("out"), In, Path("other/twice.wav")});
    ASSERT_EQ(R.Status, 0) << R.Err;
    const auto Printed = Lines(R.Out);
    ASSERT_EQ(Printed.size(), 2u);
    EXPECT_NE(Printed[0], Printed[1]);
    ExpectMp3(Printed[0]);
    ExpectMp3(Printed[1]);
}

// The output one task would take is another task's input: overwriting may not empty it before
// that task has read it.
TEST_F(Cli, AnOutputNeverTakesTheNameOfAnotherInput) {
    const std::string In = Wav("song.wav", 0.4);
    ASSERT_EQ(RunCli({In}).Status, 0);
    const std::string Earlier = Path("song_(new).mp3");
    const auto Size = fs::file_size(Earlier);
    ASSERT_GT(Size, 1000u);
    const TResult R = RunCli({"--overwrite", Earlier, In});
    ASSERT_EQ(R.Status, 0) << R.Err;
    std::vector<std::string> Printed = Lines(R.Out);
    std::sort(Printed.begin(), Printed.end());  // each task prints when it ends
    EXPECT_EQ(Printed, (std::vector<std::string>{Path("song_(new)_(new).mp3"), Path("song_(new_1).mp3")}));
    EXPECT_EQ(fs::file_size(Earlier), Size);
    ExpectMp3(Path("song_(new)_(new).mp3"));
    EXPECT_NEAR(static_cast<double>(fs::file_size(Path("song_(new)_(new).mp3"))), static_cast<double>(Size),
                Size * 0.2);
}

TEST_F(Cli, AnUnreadableFileFailsAloneWithExitStatus1) {
    const std::string Good = Wav("good.wav", 0.4);
    {
        std::mt19937 Rng(7);
        std::ofstream Bad(Path("bad.avi"), std::ios::binary);
        for (int I = 0; I < 20000; ++I) Bad.put(static_cast<char>(Rng() & 0xFF));
    }
    const TResult R = RunCli({"-j", "2", Path("bad.avi"), Good, Path("missing.wav")});
    EXPECT_EQ(R.Status, 1) << R.Err;
    EXPECT_EQ(Lines(R.Out), std::vector<std::string>{Path("good_(new).mp3")});
    ExpectMp3(Path("good_(new).mp3"));
    EXPECT_NE(R.Err.find(Path("bad.avi") + ": "), std::string::npos) << R.Err;
    EXPECT_NE(R.Err.find(Path("missing.wav") + ": "), std::string::npos) << R.Err;
    EXPECT_FALSE(fs::exists(Path("bad_(new).mp3")));
    EXPECT_FALSE(fs::exists(Path("missing_(new).mp3")));
}

TEST_F(Cli, InfoPrintsEachFileAndConvertsNothing) {
    const std::string Avi = Sample(testmedia::TSampleKind::Avi, "a.avi");
    const std::string Wave = Wav("w.wav", 0.3);
    TResult R = RunCli({"--info", Avi, Wave});
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_NE(R.Out.find("File Name: " + Avi + "\n"), std::string::npos) << R.Out;
    EXPECT_NE(R.Out.find("Format Name: avi\n"), std::string::npos) << R.Out;
    EXPECT_NE(R.Out.find("File Name: " + Wave + "\n"), std::string::npos) << R.Out;
    EXPECT_EQ(R.Out.find('\r'), std::string::npos);
    EXPECT_FALSE(fs::exists(Path("a_(new).mp3")));

    R = RunCli({"--info", Path("missing.avi")});
    EXPECT_EQ(R.Status, 1);
    EXPECT_NE(R.Err.find("missing.avi"), std::string::npos);
}

TEST_F(Cli, CtrlCHalfWayStopsCleanly) {
    const std::string Short = Wav("short.wav", 0.4);
    const std::string Long = Wav("long.wav", 30.0);
    // By default a stopped task leaves no output; with --keep-partial what it converted stays,
    // a readable file under a name that says it is partial.
    for (const bool Keep : {false, true}) {
        SCOPED_TRACE(Keep ? "--keep-partial" : "default");
        fs::remove(Path("short_(new).mp3"));
        bool Sent = false;
        std::vector<std::string> Arguments = {"-j", "1", "--input-option", "re=1", Short, Long};
        if (Keep) Arguments.insert(Arguments.begin(), "--keep-partial");
        // Read at the pace of playback, so that the long file is still going when Ctrl+C comes.
        const TResult R = RunCli(Arguments, 40s, [&](pid_t Pid, const TResult& SoFar) {
            if (Sent || SoFar.Out.find("short_(new).mp3") == std::string::npos) return;
            std::this_thread::sleep_for(700ms);
            ::kill(Pid, SIGINT);
            Sent = true;
        });
        ASSERT_TRUE(Sent) << R.Err;
        EXPECT_EQ(R.Status, 1) << R.Err;
        EXPECT_EQ(Lines(R.Out), std::vector<std::string>{Path("short_(new).mp3")});
        ExpectMp3(Path("short_(new).mp3"));
        const std::string Stopped = "stopped: " + Long + ": ";
        if (Keep) {
            EXPECT_NE(R.Err.find(Stopped + "partial output kept in " + Path("long_(new).partial.mp3")),
                      std::string::npos)
                << R.Err;
            EXPECT_FALSE(fs::exists(Path("long_(new).mp3")));
            const testmedia::TClipFacts F = Inspect(Path("long_(new).partial.mp3"));
            EXPECT_GT(F.Duration, 0.0);
            EXPECT_LT(F.Duration, 20.0);
        } else {
            EXPECT_NE(R.Err.find(Stopped + "no output kept"), std::string::npos) << R.Err;
            EXPECT_FALSE(fs::exists(Path("long_(new).mp3")));
        }
        EXPECT_NE(R.Err.find("1 finished, 0 failed, 1 stopped, 0 skipped"), std::string::npos) << R.Err;
        // No temporary file or lock file is left behind; the outputs' record stays.
        for (const fs::directory_entry& E : fs::directory_iterator(Dir))
            if (E.path().filename() != ".zembra-outputs") {
                EXPECT_NE(E.path().filename().string()[0], '.') << E.path();
            }
    }
}

TEST_F(Cli, OtherSuffixesAndOutputFolders) {
    const std::string Avi = Sample(testmedia::TSampleKind::Avi, "a.avi");
    fs::create_directories(Path("out"));
    const TResult R = RunCli({"-f", "mkv", "-o", Path("out"), Avi});
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(Lines(R.Out), std::vector<std::string>{Path("out/a_(new).mkv")});
    const testmedia::TClipFacts F = Inspect(Path("out/a_(new).mkv"));
    bool Video = false, Audio = false;
    for (const auto& S : F.Streams) {
        Video = Video || S.Type == AVMEDIA_TYPE_VIDEO;
        Audio = Audio || S.Type == AVMEDIA_TYPE_AUDIO;
    }
    EXPECT_TRUE(Video);  // no "vn=1" outside the dialog's audio formats
    EXPECT_TRUE(Audio);
}

TEST_F(Cli, CutAndOptionLines) {
    const std::string In = Wav("piece.wav", 2.0);
    const TResult R = RunCli({"-f", "Wav", "--cut", "0.5-1.3", "--output-option", "ar=11025", In});
    ASSERT_EQ(R.Status, 0) << R.Err;
    const testmedia::TClipFacts F = Inspect(Path("piece_(new).wav"));
    ASSERT_EQ(F.Streams.size(), 1u);
    EXPECT_EQ(F.Streams[0].SampleRate, 11025);
    EXPECT_NEAR(F.Duration, 0.8, 0.06);
}

TEST_F(Cli, UsageErrorsExitWith2) {
    const std::string In = Wav("u.wav", 0.2);
    EXPECT_EQ(RunCli({}).Status, 2);
    EXPECT_EQ(RunCli({"--bogus", In}).Status, 2);
    EXPECT_EQ(RunCli({"-j", "-1", In}).Status, 2);
    EXPECT_EQ(RunCli({"--cut", "5-2", In}).Status, 2);
    const TResult Unnamed = RunCli({"--name", "{artist", In});
    EXPECT_EQ(Unnamed.Status, 2);
    EXPECT_NE(Unnamed.Err.find("zembra-cli: name template '{artist': '{' without its '}'"), std::string::npos)
        << Unnamed.Err;
    EXPECT_EQ(RunCli({"--name", "{title}", "--name-charset", "dos", In}).Status, 2);
    EXPECT_EQ(RunCli({"--replaygain", "loud", In}).Status, 2);
    EXPECT_EQ(RunCli({"--input-option", "novalue", In}).Status, 2);
    EXPECT_EQ(RunCli({"-f", "nosuchformat", In}).Status, 2);
    EXPECT_EQ(RunCli({"--log-level", "loud", In}).Status, 2);
    EXPECT_EQ(RunCli({"--codec", "nosuch", In}).Status, 2);
    EXPECT_EQ(RunCli({"--codec", "mpeg4", In}).Status, 2);  // a picture encoder
    // A misspelt option line is refused, naming it, before any task writes anything.
    for (const char* Option : {"--input-option", "--output-option"}) {
        const TResult R = RunCli({"-j", "2", Option, "ar=8000", Option, "abitrate=96k", In, In});
        EXPECT_EQ(R.Status, 2) << Option;
        EXPECT_NE(R.Err.find("unknown option 'abitrate' in " + std::string(Option)), std::string::npos)
            << R.Err;
    }
    EXPECT_FALSE(fs::exists(Path("u_(new).mp3")));
    const TResult Help = RunCli({"--help"});
    EXPECT_EQ(Help.Status, 0);
    EXPECT_EQ(Help.Out.rfind("usage: zembra-cli", 0), 0u);
}

TEST_F(Cli, QuietPrintsOnlyTheOutputs) {
    const std::string In = Wav("q.wav", 0.3);
    const TResult R = RunCli({"-q", In});
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Err, "");
    EXPECT_EQ(Lines(R.Out), std::vector<std::string>{Path("q_(new).mp3")});
}

TEST_F(Cli, EachAudioFormatFromAFilmIsItsSoundAlone) {
    const std::string Film = Sample(testmedia::TSampleKind::Avi, "film.avi");
    const struct {
        const char* Format;
        AVCodecID Audio;
    } Cases[] = {
        {"mp3", AV_CODEC_ID_MP3},      {"mp2", AV_CODEC_ID_MP2}, {"wma", AV_CODEC_ID_WMAV2},
        {"ogg", AV_CODEC_ID_VORBIS},   {"aac", AV_CODEC_ID_AAC}, {"m4a", AV_CODEC_ID_AAC},
        {"flac", AV_CODEC_ID_FLAC},    {"ac3", AV_CODEC_ID_AC3}, {"wav", AV_CODEC_ID_PCM_S16LE},
        {"au", AV_CODEC_ID_PCM_S16BE}, {"ra", AV_CODEC_ID_AC3},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Format);
        const TResult R = RunCli({"-q", "-f", C.Format, Film});
        ASSERT_EQ(R.Status, 0) << R.Err;
        const testmedia::TClipFacts F = Inspect(Path(std::string("film_(new).") + C.Format));
        ASSERT_EQ(F.Streams.size(), 1u);
        EXPECT_EQ(F.Streams[0].Type, AVMEDIA_TYPE_AUDIO);
        EXPECT_EQ(F.Streams[0].CodecId, C.Audio);
        EXPECT_GT(F.Streams[0].PacketCount, 0);
    }
    // --keep-video: the dialog's rules, pictures and all.
    const struct {
        const char* Format;
        AVCodecID Video;
        AVCodecID Audio;
    } Kept[] = {{"ogg", AV_CODEC_ID_THEORA, AV_CODEC_ID_FLAC}, {"m4a", AV_CODEC_ID_H264, AV_CODEC_ID_AAC}};
    for (const auto& C : Kept) {
        SCOPED_TRACE(C.Format);
        const TResult R = RunCli({"-q", "--keep-video", "--overwrite", "-f", C.Format, Film});
        ASSERT_EQ(R.Status, 0) << R.Err;
        const testmedia::TClipFacts F = Inspect(Path(std::string("film_(new).") + C.Format));
        std::vector<AVCodecID> Codecs;
        for (const auto& St : F.Streams) Codecs.push_back(St.CodecId);
        EXPECT_EQ(Codecs, (std::vector<AVCodecID>{C.Video, C.Audio}));
    }
    // The encoder and its quality chosen by name.
    const TResult R =
        RunCli({"-q", "--overwrite", "-f", "mka", "--codec", "libvorbis", "--quality", "2", Film});
    ASSERT_EQ(R.Status, 0) << R.Err;
    const testmedia::TClipFacts F = Inspect(Path("film_(new).mka"));
    ASSERT_EQ(F.Streams.size(), 1u);
    EXPECT_EQ(F.Streams[0].CodecId, AV_CODEC_ID_VORBIS);
}

// A library tree with every kind of awkward name, a hidden corner and a link back to its top.
TEST_F(Cli, AFolderTreeConvertsIntoItsMirrorAndASecondRunSkipsIt) {
    const std::string Odd = "It's $1 #1";
    const std::string Deep = Odd + "/Ünïcödé 歌";
    fs::create_directories(Path("lib/" + Deep));
    fs::create_directories(Path("lib/.hidden"));
    fs::create_directories(Path("out"));
    Wav("lib/" + Deep + "/track one.wav", 0.3);
    Wav("lib/" + Odd + "/b.WAV", 0.3);
    Wav("lib/top.wav", 0.3);
    Wav("lib/.hidden/h.wav", 0.3);
    Wav("lib/.dot.wav", 0.3);
    std::ofstream(Path("lib/notes.txt")) << "not media";
    fs::create_directory_symlink("../..", Path("lib/" + Deep + "/loop"));
    fs::create_symlink("top.wav", Path("lib/zz same as top.wav"));
    const std::vector<std::string> Expected = {Path("out/" + Deep + "/track one_(new).mp3"),
                                               Path("out/" + Odd + "/b_(new).mp3"),
                                               Path("out/top_(new).mp3")};
    auto OutFiles = [&] {
        std::vector<std::string> Files;
        for (const auto& E : fs::recursive_directory_iterator(Path("out")))
            if (E.is_regular_file() && E.path().filename() != ".zembra-outputs")
                Files.push_back(E.path().string());
        std::sort(Files.begin(), Files.end());
        return Files;
    };

    TResult R = RunCli({"-o", Path("out"), Path("lib/")});
    ASSERT_EQ(R.Status, 0) << R.Err;
    std::vector<std::string> Printed = Lines(R.Out), Want = Expected;
    std::sort(Printed.begin(), Printed.end());
    std::sort(Want.begin(), Want.end());
    EXPECT_EQ(Printed, Want);
    EXPECT_EQ(OutFiles(), Want);
    for (const std::string& File : Expected) ExpectMp3(File);
    EXPECT_NE(R.Err.find("loop: entered already"), std::string::npos) << R.Err;
    EXPECT_NE(R.Err.find("\n3 finished, 0 failed, 0 skipped\n"), std::string::npos) << R.Err;

    R = RunCli({"--skip-existing", "-o", Path("out"), Path("lib")});
    EXPECT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Out, "");
    EXPECT_NE(R.Err.find("\n0 finished, 0 failed, 3 skipped\n"), std::string::npos) << R.Err;
    EXPECT_EQ(OutFiles(), Want);

    // Names through standard input, one a line, the odd ones among them.
    const std::string Listed = Path("lib/" + Deep + "/track one.wav");
    R = RunProgram("/bin/sh", {"-c", "printf '%s\\n' \"$1\" | \"$0\" -q -f wav -", ZEMBRA_CLI, Listed},
                   std::chrono::seconds(40));
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(Lines(R.Out), std::vector<std::string>{Path("lib/" + Deep + "/track one_(new).wav")});
}

TEST_F(Cli, ACutPastTheEndFailsOnlyThatFile) {
    const std::string Short = Wav("short.wav", 1.0), Long = Wav("long.wav", 3.0);
    const TResult R = RunCli({"-f", "wav", "--cut", "0:02-0:05", Short, Long});
    EXPECT_EQ(R.Status, 1) << R.Err;
    EXPECT_EQ(Lines(R.Out), std::vector<std::string>{Path("long_(new).wav")});
    EXPECT_FALSE(fs::exists(Path("short_(new).wav")));
    EXPECT_NEAR(Inspect(Path("long_(new).wav")).Duration, 1.0, 0.06);
    EXPECT_NE(
        R.Err.find("failed: " + Short + ": the cut starts at 00:00:02.000, at or past the end of the file"),
        std::string::npos)
        << R.Err;
    EXPECT_NE(R.Err.find(Long + ": warning: the cut ends at 00:00:05.000, past the end"), std::string::npos)
        << R.Err;
    EXPECT_NE(R.Err.find("\n1 finished, 1 failed, 0 skipped\n"), std::string::npos) << R.Err;

    // An open end runs to the end of the file.
    ASSERT_EQ(RunCli({"-q", "-f", "wav", "--overwrite", "--cut", "2.5-", Long}).Status, 0);
    EXPECT_NEAR(Inspect(Path("long_(new).wav")).Duration, 0.5, 0.06);
}

TEST_F(Cli, TagsAndTheCoverArriveUnlessTurnedOff) {
    // A song with its cover picture.
    testmedia::TClipSpec Spec{.Path = Path("covered.mp3"),
                              .Videos = {{.Encoder = "mjpeg", .FrameCount = 1, .AttachedPicture = true}},
                              .Audios = {{.Encoder = "libmp3lame", .Duration = 0.4}},
                              .Metadata = {{"title", "A title"}, {"artist", "Someone"}}};
    ASSERT_EQ(testmedia::WriteClip(Spec), "");
    auto Covers = [](const testmedia::TClipFacts& F) {
        int N = 0;
        for (const auto& St : F.Streams)
            N += St.Type == AVMEDIA_TYPE_VIDEO && St.CodecId == AV_CODEC_ID_MJPEG;
        return N;
    };
    for (const char* Format : {"mp3", "flac", "m4a"}) {
        SCOPED_TRACE(Format);
        const std::string Folder = Path(Format);
        fs::create_directories(Folder);
        TResult R = RunCli({"-q", "-f", Format, "-o", Folder, Spec.Path});
        ASSERT_EQ(R.Status, 0) << R.Err;
        const std::string Out = Folder + "/covered_(new)." + Format;
        testmedia::TClipFacts F = Inspect(Out);
        EXPECT_EQ(F.Tag("title"), "A title");
        EXPECT_EQ(F.Tag("artist"), "Someone");
        EXPECT_EQ(Covers(F), 1);

        R = RunCli({"-q", "-f", Format, "-o", Folder, "--overwrite", "--tag", "title=Mine", "--tag",
                    "album=New", Spec.Path});
        ASSERT_EQ(R.Status, 0) << R.Err;
        F = Inspect(Out);
        EXPECT_EQ(F.Tag("title"), "Mine");
        EXPECT_EQ(F.Tag("album"), "New");
        EXPECT_EQ(F.Tag("artist"), "Someone");

        R = RunCli({"-q", "-f", Format, "-o", Folder, "--overwrite", "--no-tags", "--no-cover", Spec.Path});
        ASSERT_EQ(R.Status, 0) << R.Err;
        F = Inspect(Out);
        EXPECT_EQ(F.Tag("title"), "");
        EXPECT_EQ(Covers(F), 0);
        EXPECT_EQ(F.Streams.size(), 1u);
    }
}

TEST_F(Cli, VersionAndFormatList) {
    TResult R = RunCli({"--version"});
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_EQ(R.Out.rfind("zembra-cli ", 0), 0u) << R.Out;
    for (const char* Library : {"libavcodec ", "libavformat ", "libavutil "})
        EXPECT_NE(R.Out.find(std::string("\n") + Library), std::string::npos) << Library;
    R = RunCli({"--list-formats"});
    ASSERT_EQ(R.Status, 0) << R.Err;
    const std::vector<std::string> Listed = Lines(R.Out);
    ASSERT_EQ(Listed.size(), 11u) << R.Out;
    EXPECT_EQ(Listed[0], "mp3   libmp3lame");
    EXPECT_EQ(Listed[3], "ogg   libvorbis");
    EXPECT_EQ(Listed[10], "ra    ac3");
}

}  // namespace
}  // namespace zembra::testing
