#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <thread>

#include "binding/EntryPoints.h"
#include "tests/engine/TranscodeTestSupport.h"
#include "util/MainThread.h"

namespace zembra::testing {
namespace {

using namespace std::chrono_literals;
using testmedia::TSampleKind;
using TranscodeFeatures = TranscodeTest;

// Seconds of the first sample louder than Threshold in the first channel.
double FirstSound(const std::string& File, float Threshold = 0.05f) {
    testmedia::TDecodedAudio A;
    EXPECT_EQ(testmedia::DecodeAudio(File, 0, A), "");
    if (A.Channels.empty() || A.SampleRate == 0) return -1;
    for (size_t I = 0; I < A.Channels[0].size(); ++I)
        if (std::fabs(A.Channels[0][I]) > Threshold) return static_cast<double>(I) / A.SampleRate;
    return -1;
}

double Seconds(const std::string& File) {
    testmedia::TDecodedAudio A;
    EXPECT_EQ(testmedia::DecodeAudio(File, 0, A), "");
    return A.Channels.empty() ? 0.0 : static_cast<double>(A.Channels[0].size()) / A.SampleRate;
}

struct TPacketFacts {
    int Count = 0;
    bool FirstIsKey = false;
};

TPacketFacts VideoPackets(const std::string& File) {
    TPacketFacts Facts;
    AVFormatContext* Raw = nullptr;
    if (lavf.avformat_open_input(&Raw, File.c_str(), nullptr, nullptr) < 0) return Facts;
    TFormatInputPtr Ic(Raw);
    TPacketPtr Pkt = MakePacket();
    while (lavf.av_read_frame(Ic.get(), Pkt.get()) >= 0) {
        if (Ic->streams[Pkt->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            if (Facts.Count == 0) Facts.FirstIsKey = Pkt->flags & AV_PKT_FLAG_KEY;
            ++Facts.Count;
        }
        lavc.av_packet_unref(Pkt.get());
    }
    return Facts;
}

TEST_F(TranscodeFeatures, AsyncFillsALateStartWithSilence) {
    const std::string Mkv = Sample(TSampleKind::Mkv);  // stream 2: mono ac3 from 0.5 s
    ASSERT_EQ(Convert({Mkv}, Path("plain.wav"), "", "map=0:2"), "");
    ASSERT_EQ(Convert({Mkv}, Path("synced.wav"), "", "map=0:2\nasync=1"), "");
    EXPECT_NEAR(FirstSound(Path("plain.wav")), 0.0, 0.05);
    EXPECT_NEAR(FirstSound(Path("synced.wav")), 0.5, 0.05);
    EXPECT_NEAR(Seconds(Path("synced.wav")) - Seconds(Path("plain.wav")), 0.5, 0.05);
}

TEST_F(TranscodeFeatures, DurationAndStartPosition) {
    const std::string Source = Wav("two.wav", 2.0);
    ASSERT_EQ(Convert({Source}, Path("first.wav"), "", "t=1"), "");
    EXPECT_NEAR(Seconds(Path("first.wav")), 1.0, 0.05);
    ASSERT_EQ(Convert({Source}, Path("second.wav"), "ss=1.5", ""), "");
    EXPECT_NEAR(Seconds(Path("second.wav")), 0.5, 0.05);
    ASSERT_EQ(Convert({Source}, Path("cut.mp3"), "ss=0.5", "t=1"), "");
    EXPECT_NEAR(Seconds(Path("cut.mp3")), 1.0, 0.06);
}

TEST_F(TranscodeFeatures, StreamCopyOfAudioAndVideo) {
    const std::string Mp4 = Sample(TSampleKind::Mp4);
    const testmedia::TClipFacts In = Facts(Mp4);
    ASSERT_EQ(Convert({Mp4}, Path("copy.mkv"), "", "vcodec=copy\nacodec=copy"), "");
    const testmedia::TClipFacts Out = Facts(Path("copy.mkv"));
    ASSERT_EQ(Out.Streams.size(), 2u);
    EXPECT_EQ(Out.Streams[0].CodecId, AV_CODEC_ID_H264);
    EXPECT_EQ(Out.Streams[0].PacketCount, In.Streams[0].PacketCount);
    EXPECT_EQ(Out.Streams[1].CodecId, AV_CODEC_ID_AAC);
    EXPECT_EQ(Out.Streams[1].PacketCount, In.Streams[1].PacketCount);
    // FLAC packets into Ogg, as the window's Ogg copies a FLAC source.
    const std::string Flac = Sample(TSampleKind::Flac);
    ASSERT_EQ(Convert({Flac}, Path("copy.ogg"), "", "acodec=copy"), "");
    const testmedia::TClipFacts FlacIn = Facts(Flac), Ogg = Facts(Path("copy.ogg"));
    ASSERT_EQ(Ogg.Streams.size(), 1u);
    EXPECT_EQ(Ogg.Streams[0].CodecId, AV_CODEC_ID_FLAC);
    EXPECT_EQ(Ogg.Streams[0].PacketCount, FlacIn.Streams[0].PacketCount);
    EXPECT_EQ(Convert({Mp4}, Path("vol.mkv"), "", "vn\nacodec=copy\nvol=512"),
              "-acodec copy and -vol are incompatible (frames are not decoded)");
    EXPECT_FALSE(FileExistsW(W(Path("vol.mkv"))));
}

TEST_F(TranscodeFeatures, CopiedVideoStartsAtAKeyPacket) {
    testmedia::TClipSpec Spec;
    Spec.Path = Path("gop.ts");
    testmedia::TVideoSpec Video;
    Video.Encoder = "mpeg2video";
    Video.FrameCount = 50;
    Video.Options = {{"g", "25"}, {"bf", "0"}};
    Spec.Videos.push_back(Video);
    ASSERT_EQ(testmedia::WriteClip(Spec), "");
    // Cut the head off, on a transport packet boundary, so that reading starts inside a GOP.
    const auto Size = std::filesystem::file_size(Spec.Path);
    {
        std::ifstream In(Spec.Path, std::ios::binary);
        std::string Data((std::istreambuf_iterator<char>(In)), {});
        const size_t Cut = (Data.size() / 5 / 188) * 188;
        std::ofstream(Path("cut.ts"), std::ios::binary) << Data.substr(Cut);
    }
    ASSERT_LT(std::filesystem::file_size(Path("cut.ts")), Size);
    const TPacketFacts Source = VideoPackets(Path("cut.ts"));
    ASSERT_GT(Source.Count, 0);
    ASSERT_FALSE(Source.FirstIsKey);
    ASSERT_EQ(Convert({Path("cut.ts")}, Path("copy.ts"), "", "vcodec=copy"), "");
    const TPacketFacts Copied = VideoPackets(Path("copy.ts"));
    EXPECT_TRUE(Copied.FirstIsKey);
    EXPECT_LT(Copied.Count, Source.Count);
    EXPECT_GT(Copied.Count, 0);
    ASSERT_EQ(Convert({Path("cut.ts")}, Path("all.ts"), "", "vcodec=copy\ncopyinkf=1"), "");
    EXPECT_EQ(VideoPackets(Path("all.ts")).Count, Source.Count);
}

TEST_F(TranscodeFeatures, SubtitlesAreReencoded) {
    const std::string Mkv = Sample(TSampleKind::Mkv);
    const testmedia::TClipSpec Spec = testmedia::SampleClip(TSampleKind::Mkv, Mkv);
    ASSERT_EQ(Convert({Mkv}, Path("out.srt"), "", ""), "");
    std::vector<testmedia::TSubtitleCue> Cues;
    ASSERT_EQ(testmedia::DecodeSubtitles(Path("out.srt"), 0, Cues), "");
    ASSERT_EQ(Cues.size(), Spec.Subtitle->Cues.size());
    for (size_t I = 0; I < Cues.size(); ++I) {
        EXPECT_NE(Cues[I].Text.find(Spec.Subtitle->Cues[I].Text), std::string::npos) << Cues[I].Text;
        EXPECT_NEAR(Cues[I].Start, Spec.Subtitle->Cues[I].Start, 0.05);
        EXPECT_NEAR(Cues[I].End, Spec.Subtitle->Cues[I].End, 0.05);
    }
}

TEST_F(TranscodeFeatures, TwoAudioOutputsShareOneInput) {
    const std::string Source = Wav("tone.wav", 1.0);
    ASSERT_EQ(Convert({Source}, Path("two.mkv"), "", "acodec=ac3\nar=48000\nnewaudio"), "");
    const testmedia::TClipFacts F = Facts(Path("two.mkv"));
    ASSERT_EQ(F.Streams.size(), 2u);
    // The ordinary lines went to the stream the output opened with; "newaudio" adds one more
    // from what is left: the container's default codec at the rate that stays set.
    EXPECT_EQ(F.Streams[0].CodecId, AV_CODEC_ID_AC3);
    EXPECT_EQ(F.Streams[1].CodecId, AV_CODEC_ID_VORBIS);
    EXPECT_EQ(F.Streams[1].SampleRate, 48000);
    for (const auto& St : F.Streams) EXPECT_NEAR(St.EndTime - St.FirstTime, 1.0, 0.06);
}

TEST_F(TranscodeFeatures, StreamMapFailures) {
    const std::string Avi = Sample(TSampleKind::Avi);
    EXPECT_EQ(Convert({Avi}, Path("a.wav"), "", "map=0:5"), "Could not find input stream #0.5");
    EXPECT_EQ(Convert({Avi}, Path("b.wav"), "", "map=0:1:3.0"), "Could not find sync stream #3.0");
    EXPECT_EQ(Convert({Avi}, Path("c.wav"), "", "map=0:1\nmap=0:1"),
              "Number of stream maps must match number of output streams");
    EXPECT_EQ(Convert({Avi}, Path("d.wav"), "", "map=0:0"),
              "Codec type mismatch for mapping #0.0 (Video) -> #0.0 (Audio)");
    ASSERT_EQ(Convert({Avi}, Path("e.wav"), "", "map=0:1"), "");
    EXPECT_TRUE(Logged("  Stream #0.1 -> #0.0 (Audio)"));
    for (const char* Name : {"a.wav", "b.wav", "c.wav", "d.wav"})
        EXPECT_FALSE(FileExistsW(W(Path(Name)))) << Name;
}

TEST_F(TranscodeFeatures, JoiningTwoInputs) {
    const std::string A = Wav("a.wav", 1.0);
    const std::string B = Wav("b.wav", 0.5);
    ASSERT_EQ(Convert({A, B}, Path("joined.wav"), "", "", true), "");
    EXPECT_NEAR(Seconds(Path("joined.wav")), 1.5, 0.02);
    ASSERT_EQ(Convert({A, B}, Path("joined.mp3"), "", "", true), "");
    EXPECT_NEAR(Seconds(Path("joined.mp3")), 1.5, 0.08);
    EXPECT_EQ(Result.LastTotal, 1500);
}

// The joined output is one file however many inputs fill it: an extra stream joins it.
TEST_F(TranscodeFeatures, AnExtraStreamOfAJoinedOutput) {
    const std::string A = Wav("a.wav", 1.0), B = Wav("b.wav", 0.5);
    ASSERT_EQ(Convert({A, B}, Path("joined.mka"), "", "map=0:0\nmap=0:0\nmap=1:0\nmap=1:0\nnewaudio", true),
              "");
    const testmedia::TClipFacts F = Facts(Path("joined.mka"));
    ASSERT_EQ(F.Streams.size(), 2u);
    for (const auto& St : F.Streams) EXPECT_EQ(St.Type, AVMEDIA_TYPE_AUDIO);
    EXPECT_NEAR(Seconds(Path("joined.mka")), 1.5, 0.08);
}

TEST_F(TranscodeFeatures, OutputWithoutStreams) {
    EXPECT_EQ(Convert({Wav("a.wav", 0.2)}, Path("none.avi"), "", "an"),
              "Output file #0 does not contain any stream");
    EXPECT_FALSE(FileExistsW(W(Path("none.avi"))));
}

TEST_F(TranscodeFeatures, AFailedRunLeavesNoFile) {
    // The AC-3 encoder takes 32, 44.1 or 48 kHz only.
    EXPECT_EQ(
        Convert({Wav("a.wav", 0.2)}, Path("bad.ac3"), "", "ar=22050"),
        "Error while opening encoder for output stream #0.0 (Audio) - maybe incorrect parameters such as "
        "bit_rate, rate, width or height: Specified sample rate 22050 is not supported");
    EXPECT_FALSE(FileExistsW(W(Path("bad.ac3"))));
    EXPECT_TRUE(Logged("Stream mapping:"));
}

// A muxer option goes to the muxers that have it: the others go on without it, and a value the
// muxer refuses is said without failing the conversion.
TEST_F(TranscodeFeatures, MuxerOptionsReachOnlyTheMuxersThatHaveThem) {
    const std::string Avi = Sample(testmedia::TSampleKind::Avi);
    ASSERT_EQ(Convert({Avi}, Path("once.mp4"), "", "loop_output=2"), "");
    EXPECT_FALSE(Logged("not applied"));
    ASSERT_EQ(Convert({Avi}, Path("wide.gif"), "", "loop_output=70000"), "");
    EXPECT_TRUE(Logged("Option 'loop' not applied to 'gif'"));
    EXPECT_GT(Facts(Path("wide.gif")).Streams.size(), 0u);
}

bool IsLink(const std::string& Name) {
    struct stat St {};
    return ::lstat(Name.c_str(), &St) == 0 && S_ISLNK(St.st_mode);
}

// Outputs that are not plain files (a first pass thrown into /dev/null, a pipe, a link) read
// as empty, but they are the user's and are never removed, after a finished or a failed run.
TEST_F(TranscodeFeatures, AnOutputThatIsNoPlainFileIsNeverRemoved) {
    const std::string Wave = Wav("a.wav", 0.2);
    const std::string Link = Path("into-null.wav");
    ASSERT_EQ(::symlink("/dev/null", Link.c_str()), 0);
    ASSERT_EQ(Convert({Wave}, Link), "");
    EXPECT_TRUE(IsLink(Link));
    const std::string FailingLink = Path("into-null.ac3");
    ASSERT_EQ(::symlink("/dev/null", FailingLink.c_str()), 0);
    EXPECT_NE(Convert({Wave}, FailingLink, "", "ar=22050"), "");  // the AC-3 encoder refuses the rate
    EXPECT_TRUE(IsLink(FailingLink));

    // A null device of the test's own, where the machine lets us make one.
    const std::string Device = Path("null-device.wav");
    if (::mknod(Device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        ASSERT_EQ(Convert({Wave}, Device), "");
        struct stat St {};
        ASSERT_EQ(::lstat(Device.c_str(), &St), 0);
        EXPECT_TRUE(S_ISCHR(St.st_mode));
    }
    // A plain empty output still goes.
    EXPECT_NE(Convert({Wave}, Path("plain.ac3"), "", "ar=22050"), "");
    EXPECT_FALSE(FileExistsW(W(Path("plain.ac3"))));
}

// Copies the first video stream of In to the Matroska file Out; from packet JumpAt on, every
// timestamp is moved on by Jump seconds. "" or what failed.
std::string RemuxWithJump(const std::string& In, const std::string& Out, int JumpAt, double Jump) {
    AVFormatContext* Raw = nullptr;
    if (lavf.avformat_open_input(&Raw, In.c_str(), nullptr, nullptr) < 0) return "open " + In;
    TFormatInputPtr Ic(Raw);
    if (lavf.avformat_find_stream_info(Ic.get(), nullptr) < 0) return "stream info";
    int Video = -1;
    for (unsigned I = 0; I < Ic->nb_streams && Video < 0; ++I)
        if (Ic->streams[I]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) Video = static_cast<int>(I);
    if (Video < 0) return "no video";
    AVFormatContext* RawOut = nullptr;
    if (lavf.avformat_alloc_output_context2(&RawOut, nullptr, "matroska", Out.c_str()) < 0) return "muxer";
    TFormatOutputPtr Oc(RawOut);
    AVStream* St = lavf.avformat_new_stream(Oc.get(), nullptr);
    if (!St || lavc.avcodec_parameters_copy(St->codecpar, Ic->streams[Video]->codecpar) < 0) return "stream";
    St->codecpar->codec_tag = 0;
    St->time_base = Ic->streams[Video]->time_base;
    if (lavf.avio_open2(&Oc->pb, Out.c_str(), AVIO_FLAG_WRITE, nullptr, nullptr) < 0 ||
        lavf.avformat_write_header(Oc.get(), nullptr) < 0)
        return "header";
    const AVRational InTb = Ic->streams[Video]->time_base;
    const int64_t Offset = static_cast<int64_t>(Jump * InTb.den / InTb.num);
    TPacketPtr Pkt = MakePacket();
    int Count = 0;
    while (lavf.av_read_frame(Ic.get(), Pkt.get()) >= 0) {
        if (Pkt->stream_index == Video) {
            if (Count++ >= JumpAt) {
                if (Pkt->pts != AV_NOPTS_VALUE) Pkt->pts += Offset;
                if (Pkt->dts != AV_NOPTS_VALUE) Pkt->dts += Offset;
            }
            Pkt->stream_index = 0;
            lavc.av_packet_rescale_ts(Pkt.get(), InTb, St->time_base);
            if (lavf.av_interleaved_write_frame(Oc.get(), Pkt.get()) < 0) return "write";
        }
        lavc.av_packet_unref(Pkt.get());
    }
    return lavf.av_write_trailer(Oc.get()) < 0 ? "trailer" : "";
}

// A constant-rate output fills a gap in the pictures' times with repeats; a jump no picture
// count can fill is a broken timestamp, and the output goes on from it.
TEST_F(TranscodeFeatures, APictureTimeJumpPastAnyFill) {
    const std::string Jumped = Path("jumped.mkv");
    ASSERT_EQ(RemuxWithJump(Sample(TSampleKind::Mkv), Jumped, 10, 2.0e8), "");
    ASSERT_EQ(Convert({Jumped}, Path("jumped.avi"), "", "an\nvcodec=mpeg4"), "");
    EXPECT_TRUE(Logged("Picture timestamp jumps by"));
    EXPECT_EQ(Facts(Path("jumped.avi")).Streams[0].PacketCount, 25);
    LogLines.clear();

    const std::string Gap = Path("gap.mkv");
    ASSERT_EQ(RemuxWithJump(Sample(TSampleKind::Mkv), Gap, 10, 1.0), "");
    ASSERT_EQ(Convert({Gap}, Path("gap.avi"), "", "an\nvcodec=mpeg4"), "");
    // The eleventh picture comes a second late: it is repeated 24 times to fill that second.
    EXPECT_EQ(Facts(Path("gap.avi")).Streams[0].PacketCount, 49);
    EXPECT_FALSE(Logged("Picture timestamp jumps by"));
}

TEST_F(TranscodeFeatures, AudioOnlyProgressAndFinalStatistics) {
    ASSERT_EQ(Convert({Wav("a.wav", 1.0)}, Path("p.mp3"), "", ""), "");
    EXPECT_GE(Result.Progress, 1);
    EXPECT_EQ(Result.LastFrame, -1);
    EXPECT_EQ(Result.LastFps, -1);
    EXPECT_FLOAT_EQ(Result.LastQuality, -1.0f);
    EXPECT_NEAR(Result.LastDuration, 1000, 60);
    EXPECT_EQ(Result.LastSize, int64_t(std::filesystem::file_size(Path("p.mp3"))));
    EXPECT_NEAR(Result.LastTotal, 1000, 30);
    EXPECT_TRUE(Logged("muxing overhead"));
}

TEST_F(TranscodeFeatures, VideoProgressCountsFrames) {
    ASSERT_EQ(Convert({Sample(TSampleKind::Avi)}, Path("v.avi"), "", "sn"), "");
    EXPECT_EQ(Result.LastFrame, 25);
    EXPECT_GE(Result.LastFps, 0);
    EXPECT_GT(Result.LastQuality, 0.0f);
}

TEST_F(TranscodeFeatures, TwoPassLogFiles) {
    const std::string Avi = Sample(TSampleKind::Avi);
    const std::string Log = Path("x");
    EXPECT_EQ(Convert({Avi}, Path("p2.avi"), "", "an\npass=2\npasslogfile=" + Log),
              "Cannot read log file " + Log + "-0.log for pass-2 encoding");
    ASSERT_EQ(Convert({Avi}, Path("p1.avi"), "", "an\npass=1\npasslogfile=" + Log), "");
    ASSERT_TRUE(FileExistsW(W(Log + "-0.log")));
    EXPECT_GT(std::filesystem::file_size(Log + "-0.log"), 0u);
    ASSERT_EQ(Convert({Avi}, Path("p2.avi"), "", "an\npass=2\nb=200000\npasslogfile=" + Log), "");
    EXPECT_EQ(Facts(Path("p2.avi")).Streams[0].PacketCount, 25);
}

TEST_F(TranscodeFeatures, StopHalfWayLeavesAValidFile) {
    const std::string Source = Wav("long.wav", 30.0);
    TFFmpeg J;
    J.ResetJob();
    ASSERT_TRUE(J.OpenInputFile(W(Source))) << J.LastError();
    ASSERT_EQ(J.OpenOutputFile(W(Path("stopped.mp3")), false), 1) << J.LastError();
    std::atomic<int> Reports{0};
    std::atomic<bool> Ended{false}, Finished{true};
    J.SetProgressInterval(1000);
    J.SetOnProgress(
        [&](TCustomFFmpeg&, int32_t, int32_t, int32_t, float, float, int64_t, int32_t) { ++Reports; });
    J.SetOnTerminate([&](TCustomFFmpeg& E) {
        Finished = E.Finished();
        Ended = true;
    });
    TThread* Worker = J.Start(true);
    ASSERT_NE(Worker, nullptr);
    Worker->Resume();
    ASSERT_TRUE(WaitInMainThread([&] { return Reports.load() > 0 || Ended.load(); }, 30s));
    J.Stop(true);
    ASSERT_TRUE(Ended.load());
    EXPECT_FALSE(Finished.load());
    // A stopped output is kept under a name that says it is unfinished.
    EXPECT_FALSE(std::filesystem::exists(Path("stopped.mp3")));
    EXPECT_EQ(Utf16ToUtf8(J.KeptPartialName()), Path("stopped.partial.mp3"));
    const double Length = Seconds(Path("stopped.partial.mp3"));
    EXPECT_GT(Length, 0.0);
    EXPECT_LT(Length, 29.0);
    EXPECT_EQ(Facts(Path("stopped.partial.mp3")).Streams.size(), 1u);

    // Stopped before its first packet: a header alone is no partial output.
    TFFmpeg Early;
    Early.ResetJob();
    ASSERT_TRUE(Early.OpenInputFile(W(Source))) << Early.LastError();
    ASSERT_EQ(Early.OpenOutputFile(W(Path("early.mp3")), false), 1) << Early.LastError();
    TThread* EarlyWorker = Early.Start(true);
    ASSERT_NE(EarlyWorker, nullptr);
    Early.Stop(true);
    EXPECT_FALSE(Early.Finished());
    EXPECT_TRUE(Early.KeptPartialName().empty()) << Utf16ToUtf8(Early.KeptPartialName());
    EXPECT_FALSE(std::filesystem::exists(Path("early.partial.mp3")));
    EXPECT_FALSE(std::filesystem::exists(Path("early.mp3")));
}

}  // namespace
}  // namespace zembra::testing
