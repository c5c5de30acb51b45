// The hostile inputs straight through the engine, as the component drives it: each job runs on
// a worker with a deadline and ends in a refusal to open, a failed run with its message, or a
// finished file. Nothing half-written survives a failure and no input changes.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "engine/FFmpeg.h"
#include "logging/FFmpegLogger.h"
#include "tests/hostile/HostileSupport.h"
#include "tests/media/ClipInspector.h"
#include "tests/media/SampleClips.h"
#include "tests/media/TestMedia.h"
#include "util/MainThread.h"
#include "util/StringUtils.h"

namespace zembra::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct TRun {
    std::string OpenError;  // why an input or the output did not open
    bool Ended = false;     // the run reported its end within the deadline
    bool Finished = false;
    bool Exception = false;
    std::string Message;
    int32_t LeastDuration = INT32_MAX;  // the smallest time reached a progress report gave
};

class HostileEngine : public ::testing::Test {
  protected:
    void SetUp() override {
        FFLoader().SetLibraryPath(DefaultLibraryFolder());
        ASSERT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
        GetLogger().SetLogLevel(llQuiet);
        char Pattern[] = "/tmp/zembra-hostile-engine-XXXXXX";
        ASSERT_NE(::mkdtemp(Pattern), nullptr);
        Dir = Pattern;
        Out = Dir + "/out";
        fs::create_directories(Out);
    }
    void TearDown() override {
        MakeWritable(Out, OutImmutable);
        std::error_code Ec;
        fs::remove_all(Dir, Ec);
    }
    std::string Path(const std::string& Name) const { return Dir + "/" + Name; }
    std::string Sample(testmedia::TSampleKind Kind, const std::string& Name) {
        EXPECT_EQ(testmedia::WriteClip(testmedia::SampleClip(Kind, Path(Name))), "");
        return Path(Name);
    }

    // Opens Input and Output (with the output lines of a sound extraction unless told
    // otherwise) and runs the job on a worker, stopping it if it outlives Limit.
    TRun Convert(const std::string& Input, const std::string& Output, const std::string& OutputLines = "vn=1",
                 std::chrono::seconds Limit = 60s) {
        TRun R;
        std::mutex Lock;
        std::atomic<bool> Ended{false};
        TFFmpeg Job;
        Job.ResetJob();
        Job.SetOnTerminate([&](TCustomFFmpeg& Ending) {
            std::lock_guard<std::mutex> G(Lock);
            R.Finished = Ending.Finished();
            R.Exception = Ending.ErrorOccurred();
            R.Message = Ending.ErrorMessage();
            Ended = true;
            NotifyMainThread();
        });
        Job.SetOnProgress(
            [&](TCustomFFmpeg&, int32_t, int32_t, int32_t Duration, float, float, int64_t, int32_t) {
                std::lock_guard<std::mutex> G(Lock);
                R.LeastDuration = std::min(R.LeastDuration, Duration);
            });
        Job.SetProgressInterval(0);
        try {
            if (!Job.OpenInputFile(Utf8ToUtf16(Input))) {
                R.OpenError = Job.LastError();
                return R;
            }
            Job.ApplyOptionLines(OutputLines, kPhaseOrdinary);
            if (Job.OpenOutputFile(Utf8ToUtf16(Output), false) < 0) {
                R.OpenError = Job.LastError();
                Job.CleanUp();
                return R;
            }
        } catch (const std::exception& E) {
            R.OpenError = E.what();
            Job.CleanUp();
            return R;
        }
        TThread* Worker = Job.Start(true);
        if (Worker) Worker->Resume();
        if (!WaitInMainThread([&] { return Ended.load(); }, Limit)) Job.Stop(true);
        std::lock_guard<std::mutex> G(Lock);
        R.Ended = Ended.load();
        return R;
    }

    // The input did not open, for Message; no output, the input as it was.
    void ExpectRefused(const std::string& Input, const std::string& Message) {
        SCOPED_TRACE(Input);
        const TFileState Before = TFileState::Of(Input);
        const TRun R = Convert(Input, Out + "/x.mp3");
        EXPECT_EQ(R.OpenError, Message);
        EXPECT_TRUE(Listing(Out).empty());
        EXPECT_TRUE(TFileState::Of(Input) == Before);
    }
    // The run ended with Message as its failure; no output, the input as it was.
    void ExpectRunFailure(const std::string& Input, const std::string& Message) {
        SCOPED_TRACE(Input);
        const TFileState Before = TFileState::Of(Input);
        const TRun R = Convert(Input, Out + "/x.mp3");
        EXPECT_EQ(R.OpenError, "");
        EXPECT_TRUE(R.Ended) << "no end within its time limit";
        EXPECT_TRUE(R.Exception);
        EXPECT_FALSE(R.Finished);
        EXPECT_EQ(R.Message, Message);
        EXPECT_TRUE(Listing(Out).empty());
        EXPECT_TRUE(TFileState::Of(Input) == Before);
    }
    // The run finished with a readable mp3 of some sound.
    void ExpectMp3(const std::string& Input, const std::string& Output) {
        SCOPED_TRACE(Input);
        const TFileState Before = TFileState::Of(Input);
        const TRun R = Convert(Input, Output);
        ASSERT_EQ(R.OpenError, "");
        EXPECT_TRUE(R.Ended);
        EXPECT_TRUE(R.Finished) << R.Message;
        EXPECT_GE(R.LeastDuration, 0);
        testmedia::TClipFacts Facts;
        ASSERT_EQ(testmedia::InspectClip(Output, Facts), "");
        ASSERT_EQ(Facts.Streams.size(), 1u);
        EXPECT_GT(Facts.Streams[0].PacketCount, 0);
        EXPECT_TRUE(TFileState::Of(Input) == Before);
    }

    std::string Dir;
    std::string Out;
    bool OutImmutable = false;
};

TEST_F(HostileEngine, InputsThatCannotBeOpened) {
    WriteAll(Path("empty.mp4"), "");
    ExpectRefused(Path("empty.mp4"), Path("empty.mp4") + ": Unknown format");
    std::mt19937 Rng(7);
    std::string Noise(64 * 1024, '\0');
    for (char& C : Noise) C = static_cast<char>(Rng() & 0xFF);
    WriteAll(Path("noise.mkv"), Noise);
    ExpectRefused(Path("noise.mkv"), Path("noise.mkv") + ": Unknown format");
    fs::create_directories(Path("folder.avi"));
    ExpectRefused(Path("folder.avi"), Path("folder.avi") + ": Error while opening file: Is a directory");
    ExpectRefused(Path("missing.avi"), Path("missing.avi") + ": no such file or directory");
    // Opening a pipe would wait for its writer for good, and a device or a socket would be read
    // as a stream of someone else's: each is refused before anything opens it.
    ASSERT_EQ(::mkfifo(Path("pipe.mp4").c_str(), 0644), 0);
    const int Socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un Address{};
    Address.sun_family = AF_UNIX;
    const std::string SocketName = Path("socket.mp4");
    ASSERT_LT(SocketName.size(), sizeof(Address.sun_path));
    std::copy(SocketName.begin(), SocketName.end(), Address.sun_path);
    ASSERT_EQ(::bind(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)), 0);
    for (const std::string& Special : {Path("pipe.mp4"), std::string("/dev/zero"), SocketName}) {
        // Not read here either: a pipe has no writer.
        EXPECT_EQ(Convert(Special, Out + "/x.mp3").OpenError, Special + " is not a regular file");
        EXPECT_TRUE(Listing(Out).empty());
    }
    ::close(Socket);
}

TEST_F(HostileEngine, AVideoCutShortAtSeveralPoints) {
    const std::string Whole = ReadAll(Sample(testmedia::TSampleKind::Avi, "whole.avi"));
    for (const size_t Cut : {size_t{12}, size_t{200}, size_t{1000}}) {
        const std::string File = Path("cut" + std::to_string(Cut) + ".avi");
        WriteAll(File, Whole.substr(0, Cut));
        ExpectRefused(File, File + ": Error while parsing header");
    }
    for (const size_t Cut : {Whole.size() / 3, Whole.size() * 2 / 3}) {
        const std::string File = Path("part" + std::to_string(Cut) + ".avi");
        WriteAll(File, Whole.substr(0, Cut));
        ExpectMp3(File, Out + "/part" + std::to_string(Cut) + ".mp3");
    }
}

// A sample AVI whose picture header claims Width x Height pixels of a codec no decoder knows,
// so that no decoded picture corrects the size.
std::string HugePictureAvi(const std::string& Sample, const std::string& File, uint32_t Width,
                           uint32_t Height) {
    std::string Bytes = ReadAll(Sample);
    const size_t Video = Bytes.find("vids");
    const size_t Format = Bytes.find("strf", Video == std::string::npos ? 0 : Video);
    if (Video == std::string::npos || Format == std::string::npos) return "";
    // strf, its size, then the bitmap header: its own size, the width and the height.
    auto PutLe32 = [&Bytes](size_t At, uint32_t V) {
        for (int I = 0; I < 4; ++I) Bytes[At + I] = static_cast<char>((V >> (8 * I)) & 0xFF);
    };
    PutLe32(Format + 12, Width);
    PutLe32(Format + 16, Height);
    Bytes.replace(Video + 4, 4, "ZZZZ");
    Bytes.replace(Format + 24, 4, "ZZZZ");
    WriteAll(File, Bytes);
    return File;
}

// The size's product overflowed an int when the aspect ratio was taken, and the size plus pads
// when the output stream was made. The sound still converts; a padded picture is refused.
TEST_F(HostileEngine, AHeaderThatClaimsAHugePicture) {
    const std::string Avi = Sample(testmedia::TSampleKind::Avi, "sample.avi");
    const std::string Huge = HugePictureAvi(Avi, Path("huge.avi"), 1107394950u, 1107395063u);
    ASSERT_NE(Huge, "");
    ExpectMp3(Huge, Out + "/huge.mp3");

    const std::string Wide = HugePictureAvi(Avi, Path("wide.avi"), 2147483000u, 120u);
    ASSERT_NE(Wide, "");
    const TRun R = Convert(Wide, Out + "/wide.avi", "padleft=65536\nt=0.2");
    EXPECT_EQ(R.OpenError, "new_video_stream fail: Frame size 2147548536x120 is out of range");
    EXPECT_FALSE(fs::exists(Out + "/wide.avi"));
}

// Sound whose time stamps start near the end of 64 bits of microseconds: the start time, a seek
// and an input offset were added to them without a bound. The run ends either way.
TEST_F(HostileEngine, TimeStampsNearTheEndOfTime) {
    testmedia::TClipSpec Spec;
    Spec.Path = Path("late.mkv");
    testmedia::TAudioSpec Audio;
    Audio.Duration = 0.5;
    Audio.StartOffset = 9.2e12;  // seconds
    Spec.Audios.push_back(Audio);
    const std::string Error = testmedia::WriteClip(Spec);
    ASSERT_EQ(Error, "");
    for (const char* Lines :
         {"ss=1000000000", "itsoffset=-1000000000", "itsoffset=1000000000\nasync=1", "acodec=copy"}) {
        SCOPED_TRACE(Lines);
        TFFmpeg Job;
        Job.ResetJob();
        bool Ended = false;
        Job.SetOnTerminate([&Ended](TCustomFFmpeg&) { Ended = true; });
        try {
            Job.ApplyOptionLines(Lines, kPhaseOrdinary);
            if (Job.OpenInputFile(Utf8ToUtf16(Spec.Path))) {
                if (Job.OpenOutputFile(Utf8ToUtf16(Out + "/late.mka"), false) >= 0) {
                    Job.Start(false);
                    EXPECT_TRUE(Ended);
                    continue;
                }
            }
            Job.CleanUp();
        } catch (const std::exception&) {
            Job.CleanUp();
        }
    }
    EXPECT_TRUE(TFileState::Of(Spec.Path).Bytes.size() > 0);
}

TEST_F(HostileEngine, NoSoundForAnMp3) {
    testmedia::TClipSpec Spec;
    Spec.Path = Path("silent.avi");
    Spec.Videos.emplace_back();
    Spec.Videos.back().FrameCount = 10;
    ASSERT_EQ(testmedia::WriteClip(Spec), "");
    const TFileState Before = TFileState::Of(Spec.Path);
    const TRun R = Convert(Spec.Path, Out + "/x.mp3");
    // Refused on opening the output or by the run, either way with the message and no file.
    const std::string Message = R.OpenError.empty() ? R.Message : R.OpenError;
    EXPECT_EQ(Message, "Output file #0 does not contain any stream");
    EXPECT_TRUE(Listing(Out).empty());
    EXPECT_TRUE(TFileState::Of(Spec.Path) == Before);
}

// A source whose only stream holds no sample used to give a "finished" mp3 of headers alone,
// and progress reports with a time reached far below zero.
TEST_F(HostileEngine, AnAudioStreamWithoutSamplesIsNoOutput) {
    WriteAll(Path("nothing.wav"), EmptyWave());
    ExpectRunFailure(Path("nothing.wav"), "Output file is empty, nothing was encoded");
    const TRun R = Convert(Path("nothing.wav"), Out + "/y.mp3");
    EXPECT_GE(R.LeastDuration, 0);
}

TEST_F(HostileEngine, OutputFoldersThatCannotTakeTheFile) {
    const std::string Input = Sample(testmedia::TSampleKind::Wav, "tone.wav");
    const TFileState Before = TFileState::Of(Input);
    TRun R = Convert(Input, Path("nowhere") + "/x.mp3");
    EXPECT_EQ(R.OpenError, "Could not open '" + Path("nowhere") + "/x.mp3': No such file or directory");
    EXPECT_FALSE(fs::exists(Path("nowhere")));
    const std::string Folder = UnwritableFolder(Out, OutImmutable);
    R = Convert(Input, Folder + "/x.mp3");
    EXPECT_EQ(R.OpenError, "Could not open '" + Folder + "/x.mp3': " + CreateRefusal(Folder));
    EXPECT_FALSE(fs::exists(Folder + "/x.mp3"));
    EXPECT_TRUE(Listing(Out).empty());
    EXPECT_TRUE(TFileState::Of(Input) == Before);
}

TEST_F(HostileEngine, NamesWithShellAndPathCharactersOutsideTheLocale) {
    const std::string Clip = ReadAll(Sample(testmedia::TSampleKind::Wav, "plain.wav"));
    const std::string Name = "it's $1 #2 a:b (c) Grüße 日本 😀";
    WriteAll(Path(Name + ".wav"), Clip);
    ExpectMp3(Path(Name + ".wav"), Out + "/" + Name + ".mp3");
}

}  // namespace
}  // namespace zembra::testing
