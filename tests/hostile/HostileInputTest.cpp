// Hostile inputs through zembra-cli as a user runs it: files that are empty, random, cut short,
// misnamed, not files at all or missing, sources without the sound asked for, output folders
// that cannot be written or are not there, and names full of shell and path characters. Every
// case ends within its time limit with a clear message or a valid output, never a crash; a
// failed case leaves no file that looks like a finished output, and no input is touched.

#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "binding/FFmpegLoader.h"
#include "tests/media/ClipInspector.h"
#include "tests/media/SampleClips.h"
#include "tests/hostile/HostileSupport.h"
#include "tests/media/TestMedia.h"
#include "tests/support/RunProgram.h"

namespace zembra::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

using TResult = TProgramResult;

// Runs zembra-cli in the C locale (so that every name beyond ASCII is outside it), killing it
// when it outlives Limit.
TResult RunCli(const std::vector<std::string>& Arguments, std::chrono::seconds Limit = 60s) {
    return RunProgram(ZEMBRA_CLI, Arguments, Limit, {true, {}});
}

class HostileInput : public ::testing::Test {
  protected:
    void SetUp() override {
        FFLoader().SetLibraryPath(DefaultLibraryFolder());
        ASSERT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
        char Pattern[] = "/tmp/zembra-hostile-XXXXXX";
        ASSERT_NE(::mkdtemp(Pattern), nullptr);
        Dir = Pattern;
        Out = Path("out");
        fs::create_directories(Out);
    }
    void TearDown() override {
        MakeWritable(Out, OutImmutable);
        std::error_code Ec;
        fs::remove_all(Dir, Ec);
    }
    std::string Path(const std::string& Name) const { return Dir + "/" + Name; }

    std::string Sample(testmedia::TSampleKind Kind, const std::string& Name) {
        const std::string File = Path(Name);
        EXPECT_EQ(testmedia::WriteClip(testmedia::SampleClip(Kind, File)), "");
        return File;
    }
    std::string VideoOnly(const std::string& Name) {
        testmedia::TClipSpec Spec;
        Spec.Path = Path(Name);
        Spec.Container = "avi";
        testmedia::TVideoSpec Video;
        Video.FrameCount = 10;
        Spec.Videos.push_back(Video);
        EXPECT_EQ(testmedia::WriteClip(Spec), "");
        return Spec.Path;
    }
    std::string RandomBytes(const std::string& Name, size_t Size, unsigned Seed) {
        std::mt19937 Rng(Seed);
        std::string Bytes(Size, '\0');
        for (char& C : Bytes) C = static_cast<char>(Rng() & 0xFF);
        WriteAll(Path(Name), Bytes);
        return Path(Name);
    }

    // The run failed alone and cleanly: exit status 1, Message about Input on standard error,
    // no output listed and no file left in the output folder, the input as it was.
    void ExpectCleanFailure(const TResult& R, const std::string& Input, const std::string& Message,
                            const TFileState& Before, const std::set<std::string>& OutBefore,
                            const std::string& Folder = "") {
        SCOPED_TRACE(Input);
        EXPECT_FALSE(R.TimedOut) << "no end within its time limit";
        EXPECT_EQ(R.Signal, 0) << "ended by a signal\n" << R.Err;
        EXPECT_EQ(R.Status, 1) << R.Err;
        EXPECT_NE(R.Err.find("zembra-cli: " + Input + ": " + Message), std::string::npos) << R.Err;
        EXPECT_EQ(R.Out, "");
        // /proc (see UnwritableFolder) lists processes, which come and go.
        if (Folder != "/proc") {
            EXPECT_EQ(Listing(Folder.empty() ? Out : Folder), OutBefore);
        }
        EXPECT_TRUE(TFileState::Of(Input) == Before) << "the input changed";
    }
    // The run finished: status 0, each listed output a valid mp3 in the output folder, nothing
    // else new there, the input as it was.
    void ExpectMp3Outputs(const TResult& R, const std::string& Input, const TFileState& Before) {
        SCOPED_TRACE(Input);
        EXPECT_FALSE(R.TimedOut);
        EXPECT_EQ(R.Signal, 0) << R.Err;
        ASSERT_EQ(R.Status, 0) << R.Err;
        const std::vector<std::string> Listed = Lines(R.Out);
        ASSERT_EQ(Listed.size(), 1u) << R.Out;
        EXPECT_EQ(fs::path(Listed[0]).parent_path().string(), Out);
        testmedia::TClipFacts Facts;
        ASSERT_EQ(testmedia::InspectClip(Listed[0], Facts), "");
        ASSERT_EQ(Facts.Streams.size(), 1u);
        EXPECT_EQ(Facts.Streams[0].CodecId, AV_CODEC_ID_MP3);
        EXPECT_GT(Facts.Streams[0].PacketCount, 0);
        EXPECT_TRUE(TFileState::Of(Input) == Before) << "the input changed";
    }
    // Converts Input into Folder (Out unless told) and checks the clean failure.
    void ExpectFailureOf(const std::string& Input, const std::string& Message, std::string Folder = "") {
        if (Folder.empty()) Folder = Out;
        const TFileState Before = TFileState::Of(Input);
        const std::set<std::string> OutBefore = Listing(Folder);
        ExpectCleanFailure(RunCli({"-q", "-o", Folder, Input}), Input, Message, Before, OutBefore, Folder);
    }

    std::string Dir;
    std::string Out;
    bool OutImmutable = false;
};

TEST_F(HostileInput, AnEmptyFile) {
    for (const char* Name : {"empty.mp4", "empty.avi", "empty.mp3", "empty"}) {
        WriteAll(Path(Name), "");
        ExpectFailureOf(Path(Name), Path(Name) + ": Unknown format");
    }
}

TEST_F(HostileInput, RandomBytesWithAMediaSuffix) {
    unsigned Seed = 1;
    for (const char* Name : {"noise.avi", "noise.mp4", "noise.mkv", "noise.wav", "noise.ogg"}) {
        const std::string File = RandomBytes(Name, 64 * 1024, Seed++);
        ExpectFailureOf(File, File + ": Unknown format");
    }
}

TEST_F(HostileInput, AVideoCutShortAtSeveralPoints) {
    const std::string Whole = ReadAll(Sample(testmedia::TSampleKind::Avi, "whole.avi"));
    ASSERT_GT(Whole.size(), 4096u);
    // Inside the headers nothing can be read: a clean failure.
    for (const size_t Cut : {size_t{12}, size_t{200}, size_t{1000}}) {
        const std::string File = Path("cut" + std::to_string(Cut) + ".avi");
        WriteAll(File, Whole.substr(0, Cut));
        const TFileState Before = TFileState::Of(File);
        const std::set<std::string> OutBefore = Listing(Out);
        const TResult R = RunCli({"-q", "-o", Out, File});
        ExpectCleanFailure(R, File, File + ": Error while parsing header", Before, OutBefore);
    }
    // Past them, what is there converts, as far as it goes: the decoders through a torn end (a
    // copy of the sound, the default for this film's MP3, takes its whole packets; a quarter of
    // the film holds one, and an mp3 file of one frame is more than the libraries read back).
    for (const size_t Cut : {Whole.size() / 4, Whole.size() / 2, Whole.size() * 3 / 4, Whole.size() - 1}) {
        const std::string File = Path("part" + std::to_string(Cut) + ".avi");
        WriteAll(File, Whole.substr(0, Cut));
        const TFileState Before = TFileState::Of(File);
        ExpectMp3Outputs(RunCli({"-q", "--reencode", "-o", Out, File}), File, Before);
    }
}

TEST_F(HostileInput, ASuffixThatLiesAboutTheContainer) {
    // The libraries go by the contents: a readable file converts whatever its name says.
    const std::string Wave = Sample(testmedia::TSampleKind::Wav, "sound.mp4");
    const std::string Avi = Sample(testmedia::TSampleKind::Avi, "movie.wav");
    for (const std::string& File : {Wave, Avi}) {
        const TFileState Before = TFileState::Of(File);
        ExpectMp3Outputs(RunCli({"-q", "-o", Out, File}), File, Before);
    }
    // Contents that are no container at all stay unreadable under any name.
    WriteAll(Path("words.mp3"), std::string(20000, 'x'));
    ExpectFailureOf(Path("words.mp3"), Path("words.mp3") + ": Unknown format");
}

TEST_F(HostileInput, AFolderGivenAsAFile) {
    fs::create_directories(Path("folder.avi"));
    // A folder is walked for media files; one without any fails as its own item.
    ExpectFailureOf(Path("folder.avi"), "no media file in this folder");
}

TEST_F(HostileInput, AMissingFile) {
    ExpectFailureOf(Path("missing.avi"), Path("missing.avi") + ": no such file or directory");
}

TEST_F(HostileInput, AFileWithoutSoundConvertedToMp3) {
    ExpectFailureOf(VideoOnly("silent.avi"), "Output file #0 does not contain any stream");
}

TEST_F(HostileInput, AnAudioStreamWithoutSamples) {
    WriteAll(Path("nothing.wav"), EmptyWave());
    ExpectFailureOf(Path("nothing.wav"), "Output file is empty, nothing was encoded");
}

TEST_F(HostileInput, SoundThatDecodesToWildAmplitudes) {
    // A damaged stream can decode to samples far past full scale, or to NaN; fed as they were to
    // LAME they made it abort the whole process. A second of a float tone with such stretches,
    // handed to the encoder as planar floats, as sound decoded from AAC or Vorbis is.
    std::string Data;
    for (int I = 0; I < 44100; ++I) {
        float V = static_cast<float>(0.5 * std::sin(I * 0.0627));
        if (I >= 8000 && I < 12000) V = I % 2 ? 524083.0f : -524083.0f;
        if (I >= 20000 && I < 21000) V = std::numeric_limits<float>::quiet_NaN();
        if (I >= 30000 && I < 31000) V = std::numeric_limits<float>::infinity();
        char Bytes[sizeof(float)];
        std::memcpy(Bytes, &V, sizeof V);
        Data.append(Bytes, sizeof Bytes).append(Bytes, sizeof Bytes);
    }
    const std::string File = Path("wild.wav");
    WriteAll(File, Wave(3, Data));
    const TFileState Before = TFileState::Of(File);
    ExpectMp3Outputs(RunCli({"-q", "-o", Out, "--output-option", "sample_fmt=fltp", File}), File, Before);
}

TEST_F(HostileInput, AnOutputFolderThatCannotBeWritten) {
    const std::string Input = Sample(testmedia::TSampleKind::Avi, "clip.avi");
    const std::string Folder = UnwritableFolder(Out, OutImmutable);
    ExpectFailureOf(Input, "Could not open '" + Folder + "/clip_(new).mp3': " + CreateRefusal(Folder),
                    Folder);
    EXPECT_FALSE(fs::exists(Folder + "/clip_(new).mp3"));
}

TEST_F(HostileInput, AnOutputFolderThatDoesNotExist) {
    const std::string Input = Sample(testmedia::TSampleKind::Avi, "clip.avi");
    const TFileState Before = TFileState::Of(Input);
    // A usage error, before anything is converted; a file is no folder either.
    for (const auto& [Given, Said] :
         {std::pair{Path("nowhere"), "no such folder: "}, {Input, "not a folder: "}}) {
        const TResult R = RunCli({"-q", "-o", Given, Input});
        EXPECT_FALSE(R.TimedOut);
        EXPECT_EQ(R.Status, 2) << R.Err;
        EXPECT_NE(R.Err.find("zembra-cli: " + std::string(Said) + Given), std::string::npos) << R.Err;
        EXPECT_EQ(R.Out, "");
    }
    EXPECT_FALSE(fs::exists(Path("nowhere")));
    EXPECT_TRUE(TFileState::Of(Input) == Before);
}

TEST_F(HostileInput, NamesWithShellAndPathCharacters) {
    const std::string Clip = ReadAll(Sample(testmedia::TSampleKind::Avi, "plain.avi"));
    for (const std::string Name :
         {"it's.avi", "cost $1 $HOME.avi", "#1 #hash.avi", "a:b:c.avi", "(paren) (x).avi",
          "  two  spaces .avi", "Grüße ñ 日本語 😀.avi", "mix 'q' $1 # : ( ) ß.avi"}) {
        const std::string File = Path(Name);
        WriteAll(File, Clip);
        const TFileState Before = TFileState::Of(File);
        const TResult R = RunCli({"-q", "-o", Out, File});
        ExpectMp3Outputs(R, File, Before);
        const std::string Stem = fs::path(Name).stem().string();
        EXPECT_TRUE(fs::exists(Out + "/" + Stem + "_(new).mp3")) << R.Out;
    }
}

}  // namespace
}  // namespace zembra::testing
