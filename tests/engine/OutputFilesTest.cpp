#include <sys/stat.h>

#include "engine/RcOverride.h"
#include "tests/engine/MediaTestSupport.h"

namespace zembra::testing {
namespace {

using testmedia::TSampleKind;
using OutputFiles = MediaEngineTest;

std::vector<AVMediaType> Kinds(const TCustomFFmpeg& Job, int File) {
    std::vector<AVMediaType> Out;
    AVFormatContext* Oc = Job.OutputFile(File);
    for (unsigned I = 0; I < Oc->nb_streams; ++I) Out.push_back(Oc->streams[I]->codecpar->codec_type);
    return Out;
}

TEST_F(OutputFiles, AudioFormatsOfAVideoGetOneAudioStream) {
    ASSERT_TRUE(Open(Sample(TSampleKind::Avi))) << Job.LastError();
    for (const char* Name : {"out.mp3", "out.flac", "out.wav", "out.ac3"}) {
        ASSERT_GT(Job.OpenOutputFile(W(Path(Name)), false), 0) << Name << ": " << Job.LastError();
        EXPECT_EQ(Kinds(Job, Job.OutputFileCount() - 1), std::vector<AVMediaType>{AVMEDIA_TYPE_AUDIO})
            << Name;
    }
    ASSERT_GT(Job.OpenOutputFile(W(Path("both.avi")), false), 0);
    EXPECT_EQ(Kinds(Job, Job.OutputFileCount() - 1),
              (std::vector<AVMediaType>{AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}));
    // A video codec name asks for video even in an audio format.
    ASSERT_EQ(ErrorOf("vcodec=png"), "");
    ASSERT_GT(Job.OpenOutputFile(W(Path("cover.mp3")), false), 0) << Job.LastError();
    EXPECT_EQ(Kinds(Job, Job.OutputFileCount() - 1),
              (std::vector<AVMediaType>{AVMEDIA_TYPE_VIDEO, AVMEDIA_TYPE_AUDIO}));
    // "vn" is used up only by a video stream, so it holds for every later output.
    ASSERT_EQ(ErrorOf("vn"), "");
    ASSERT_GT(Job.OpenOutputFile(W(Path("vn.avi")), false), 0);
    EXPECT_EQ(Kinds(Job, Job.OutputFileCount() - 1), std::vector<AVMediaType>{AVMEDIA_TYPE_AUDIO});
    EXPECT_TRUE(Job.Settings().VideoDisable);
    ASSERT_GT(Job.OpenOutputFile(W(Path("vn2.mkv")), false), 0);
    EXPECT_EQ(Kinds(Job, Job.OutputFileCount() - 1), std::vector<AVMediaType>{AVMEDIA_TYPE_AUDIO});
}

TEST_F(OutputFiles, KindsTheInputLacksAreNotCreated) {
    ASSERT_TRUE(Open(Wav("tone.wav", 0.5)));
    ASSERT_GT(Job.OpenOutputFile(W(Path("out.avi")), false), 0) << Job.LastError();
    EXPECT_EQ(Kinds(Job, 0), std::vector<AVMediaType>{AVMEDIA_TYPE_AUDIO});
    const TOutputStreamSetup& Audio = Job.OutputStreams(0)[0];
    EXPECT_EQ(Audio.Codec->sample_rate, 44100);
    EXPECT_EQ(Audio.Codec->ch_layout.nb_channels, 2);
    ASSERT_NE(Audio.Encoder, nullptr);
    EXPECT_EQ(Audio.Encoder->id, AV_CODEC_ID_MP3);
    // The encoder takes planar formats only; the input's packed s16 gave way to its first.
    EXPECT_EQ(Audio.Codec->sample_fmt, Audio.Encoder->sample_fmts[0]);
}

TEST_F(OutputFiles, CropPadAndFilterConflicts) {
    ASSERT_EQ(ErrorOf("vfilters=scale=320:240\npadtop=8"), "");
    EXPECT_EQ(Job.OpenOutputFile(W(Path("a.avi")), false), -1);
    EXPECT_EQ(Job.LastError(),
              "Cannot enable pad options and the filters which resize frame at the same time. "
              "(crop, rotate, scale, transpose, etc.)");
    Job.ResetJob();
    ASSERT_EQ(ErrorOf("vfilters=negate\npadtop=8"), "");
    EXPECT_EQ(Job.OpenOutputFile(W(Path("b.avi")), false), 1) << Job.LastError();
    EXPECT_TRUE(Job.FiltersEnabled());
    Job.ResetJob();
    ASSERT_EQ(ErrorOf("s=320x240\ncroptop=8\nvfilters=negate"), "");
    EXPECT_EQ(Job.OpenOutputFile(W(Path("c.avi")), false), -1);
    EXPECT_EQ(Job.LastError(), "Cannot enable crop options and filters at the same time.");
}

TEST_F(OutputFiles, JoiningSumsDurationsAndFillsTheTable) {
    ASSERT_TRUE(Open(Wav("a.wav", 1.0)));
    ASSERT_TRUE(Open(Wav("b.wav", 2.0)));
    ASSERT_TRUE(Open(Wav("c.wav", 0.5)));
    EXPECT_EQ(Job.OpenOutputFile(W(Path("joined.wav")), true), 3) << Job.LastError();
    EXPECT_TRUE(Job.Joined());
    EXPECT_NEAR(Job.TotalDuration(), 3500, 30);
    EXPECT_EQ(Job.OutputFile(0), Job.OutputFile(2));
    EXPECT_EQ(Job.OpenOutputFile(W(Path("second.wav")), false), -1);
    EXPECT_EQ(Job.LastError(), "Cannot join more than one output file.");
    Job.CleanUp();  // the shared container goes once
    EXPECT_EQ(Job.OutputFileCount(), 0);
    EXPECT_FALSE(FileExistsW(W(Path("joined.wav"))));  // nothing was written: no empty file left
}

TEST_F(OutputFiles, TargetPalDvdWithoutInput) {
    ASSERT_EQ(ErrorOf("target=pal-dvd"), "");
    const TJobSettings& S = Job.Settings();
    EXPECT_EQ(S.FrameWidth, 720);
    EXPECT_EQ(S.FrameHeight, 576);
    EXPECT_EQ(S.FrameRate.num, 25);
    EXPECT_EQ(S.FrameRate.den, 1);
    EXPECT_EQ(S.VideoCodecName, "mpeg2video");
    EXPECT_EQ(S.AudioCodecName, "ac3");
    EXPECT_EQ(S.AudioSampleRate, 48000);
    EXPECT_EQ(S.OutputFormatName, "dvd");
    EXPECT_TRUE(Logged("Assuming 16:9 for aspect ratio"));
    EXPECT_NEAR(S.FrameAspectRatio, 16.0 / 9.0, 1e-5);
    EXPECT_EQ(Job.CodecOptions(omtVideo)->gop_size, 15);
    EXPECT_EQ(Job.CodecOptions(omtVideo)->bit_rate, 6000000);
    EXPECT_EQ(Job.CodecOptions(omtAudio)->bit_rate, 448000);
    EXPECT_EQ(PrivateOptionOfFormat("muxrate"), "10080000");
    EXPECT_EQ(Job.FormatOptions()->packet_size, 2048u);
}

TEST_F(OutputFiles, TargetVcdDetectsNtscFromTheInput) {
    testmedia::TClipSpec Spec;
    Spec.Path = Path("ntsc.avi");
    testmedia::TVideoSpec Video;
    Video.FrameRate = {30000, 1001};
    Video.FrameCount = 5;
    Spec.Videos.push_back(Video);
    ASSERT_EQ(testmedia::WriteClip(Spec), "");
    ASSERT_TRUE(Open(Spec.Path)) << Job.LastError();
    ASSERT_EQ(ErrorOf("target=vcd"), "");
    EXPECT_TRUE(Logged("Assuming NTSC for target."));
    EXPECT_EQ(Job.Settings().FrameWidth, 352);
    EXPECT_EQ(Job.Settings().FrameHeight, 240);
    EXPECT_EQ(Job.CodecOptions(omtVideo)->gop_size, 18);
    EXPECT_FLOAT_EQ(Job.Settings().MuxPreload, 0.44f);
    ASSERT_EQ(Job.OpenOutputFile(W(Path("vcd.mpg")), false), 1) << Job.LastError();
    EXPECT_STREQ(Job.OutputFile(0)->oformat->name, "vcd");
    const TOutputStreamSetup& V = Job.OutputStreams(0)[0];
    EXPECT_EQ(V.Codec->width, 352);
    EXPECT_EQ(V.Codec->gop_size, 18);
    EXPECT_EQ(V.Codec->time_base.num, 1001);
}

TEST_F(OutputFiles, TargetFailures) {
    EXPECT_EQ(ErrorOf("target=dvd"), "frame_rate is invalid.");
    EXPECT_EQ(ErrorOf("target=ntsc-laserdisc"), "Unknown target type");
    EXPECT_EQ(ErrorOf("target=film-dv50"), "");
    EXPECT_EQ(Job.Settings().FramePixFmt, AV_PIX_FMT_YUV422P);
    EXPECT_EQ(Job.Settings().FrameRate.num, 24000);
}

// A target's rows by norm (film takes NTSC's size and group of pictures, its own rate) and its
// channel rule: svcd and dvd make one channel two and leave any other count as given.
TEST_F(OutputFiles, TargetNormsAndChannels) {
    ASSERT_EQ(ErrorOf("target=film-vcd"), "");
    const TJobSettings& S = Job.Settings();
    EXPECT_EQ(S.FrameWidth, 352);
    EXPECT_EQ(S.FrameHeight, 240);
    EXPECT_EQ(S.FrameRate.num, 24000);
    EXPECT_EQ(S.FrameRate.den, 1001);
    EXPECT_EQ(Job.CodecOptions(omtVideo)->gop_size, 18);
    EXPECT_EQ(S.AudioChannels, 2);
    EXPECT_TRUE(S.AudioSampleRateGiven && S.AudioChannelsGiven);
    for (const auto& [Channels, Expected] : {std::pair{1, 2}, std::pair{6, 6}}) {
        Job.ResetJob();
        ASSERT_EQ(ErrorOf("ac=" + std::to_string(Channels) + "\ntarget=pal-svcd"), "");
        EXPECT_EQ(S.AudioChannels, Expected);
        EXPECT_EQ(S.AudioSampleRate, 44100);
        EXPECT_EQ(S.OutputFormatName, "svcd");
        EXPECT_EQ(Job.CodecOptions(omtVideo)->bit_rate, 2040000);
    }
}

TEST_F(OutputFiles, RateControlOverrides) {
    const std::vector<RcOverride> E = ParseRcOverride("0,100,2/200,300,-50");
    ASSERT_EQ(E.size(), 2u);
    EXPECT_EQ(E[0].start_frame, 0);
    EXPECT_EQ(E[0].end_frame, 100);
    EXPECT_EQ(E[0].qscale, 2);
    EXPECT_FLOAT_EQ(E[0].quality_factor, 1.0f);
    EXPECT_EQ(E[1].qscale, 0);
    EXPECT_FLOAT_EQ(E[1].quality_factor, 0.5f);
    for (const char* Bad : {"0,100", "", ",1,2", "1,2,", "a,b,c", "0,100,2/"})
        EXPECT_THROW(ParseRcOverride(Bad), FFmpegException) << Bad;

    ASSERT_TRUE(Open(Sample(TSampleKind::Avi)));
    ASSERT_EQ(ErrorOf("rc_override=0,100,2/200,300,-50"), "");
    ASSERT_EQ(Job.OpenOutputFile(W(Path("rc.avi")), false), 1) << Job.LastError();
    EXPECT_EQ(Job.OutputStreams(0)[0].Codec->rc_override_count, 2);
    ASSERT_EQ(ErrorOf("rc_override=0,100"), "");
    EXPECT_EQ(Job.OpenOutputFile(W(Path("bad.avi")), false), -1);
    EXPECT_EQ(Job.LastError(), "new_video_stream fail: error parsing rc_override");
    EXPECT_EQ(Job.OutputFileCount(), 1);  // the slot was taken back
}

TEST_F(OutputFiles, FileNameFailures) {
    const std::string Pictures = Path("picture.png");
    EXPECT_EQ(Job.OpenOutputFile(W(Pictures), false), -1);
    EXPECT_EQ(Job.LastError(), OpenErrorText(W(Pictures), kErrorImageNumber));
    EXPECT_EQ(Job.OpenOutputFile(W(Path("x.unknownsuffix")), false), -1);
    EXPECT_EQ(Job.LastError(),
              "Unable to find a suitable output format for '" + Path("x.unknownsuffix") + "'");
    const std::string NoFolder = Path("no/such/folder/out.wav");
    ASSERT_TRUE(Open(Wav("in.wav", 0.2)));
    EXPECT_EQ(Job.OpenOutputFile(W(NoFolder), false), -1);
    EXPECT_EQ(Job.LastError(), "Could not open '" + NoFolder + "': No such file or directory");
    EXPECT_EQ(Job.OutputFileCount(), 0);
}

TEST_F(OutputFiles, AnInputIsNeverOverwritten) {
    const std::string In = Wav("in.wav", 0.5);
    const auto Size = std::filesystem::file_size(In);
    ASSERT_TRUE(Open(In));
    EXPECT_EQ(Job.OpenOutputFile(W(In), false), -1);
    EXPECT_EQ(Job.LastError(), "Output file '" + In + "' is the same as an input file");
    EXPECT_EQ(std::filesystem::file_size(In), Size);
}

TEST_F(OutputFiles, ForcedEncodersAndKindSettings) {
    ASSERT_TRUE(Open(Sample(TSampleKind::Avi)));
    ASSERT_EQ(ErrorOf("acodec=nosuch"), "");
    EXPECT_EQ(Job.OpenOutputFile(W(Path("a.avi")), false), -1);
    EXPECT_EQ(Job.LastError(), "new_audio_stream fail: Unknown encoder 'nosuch'");
    EXPECT_EQ(Job.Settings().AudioCodecName, "");  // freed by the failed creator
    EXPECT_FALSE(FileExistsW(W(Path("a.avi"))));
    ASSERT_EQ(ErrorOf("vcodec=mp2"), "");
    EXPECT_EQ(Job.OpenOutputFile(W(Path("b.avi")), false), -1);
    EXPECT_EQ(Job.LastError(), "new_video_stream fail: Invalid encoder type 'mp2'");

    ASSERT_EQ(
        ErrorOf("vcodec=libx264\nacodec=copy\nalang=eng\nvtag=H264\nmetadata=title=Hi\nmetadata=artist=Me"),
        "");
    ASSERT_EQ(Job.OpenOutputFile(W(Path("c.mkv")), false), 1) << Job.LastError();
    const auto& Streams = Job.OutputStreams(0);
    ASSERT_EQ(Streams.size(), 2u);
    ASSERT_NE(Streams[0].Encoder, nullptr);
    EXPECT_STREQ(Streams[0].Encoder->name, "libx264");
    EXPECT_EQ(Streams[0].Codec->codec_tag, MKTAG('H', '2', '6', '4'));
    EXPECT_TRUE(Streams[0].Codec->flags & AV_CODEC_FLAG_GLOBAL_HEADER);  // matroska wants them
    EXPECT_TRUE(Streams[1].StreamCopy);
    AVFormatContext* Oc = Job.OutputFile(0);
    EXPECT_STREQ(lavu.av_dict_get(Oc->streams[1]->metadata, "language", nullptr, 0)->value, "eng");
    EXPECT_STREQ(lavu.av_dict_get(Oc->metadata, "title", nullptr, 0)->value, "Hi");
    EXPECT_STREQ(lavu.av_dict_get(Oc->metadata, "artist", nullptr, 0)->value, "Me");
    EXPECT_TRUE(Job.Settings().Metadata.empty());
    EXPECT_EQ(Job.Settings().VideoCodecName, "");
    EXPECT_FALSE(Job.Settings().AudioStreamCopy);
    EXPECT_EQ(Job.Settings().AudioLanguage, "");
    EXPECT_EQ(Job.Settings().VideoCodecTag, MKTAG('H', '2', '6', '4'));  // tags stay
    EXPECT_EQ(Job.OutputEncoders().size(), 2u);
}

TEST_F(OutputFiles, ExtraStreamsJoinTheLastOutput) {
    ASSERT_TRUE(Open(Sample(TSampleKind::Avi)));
    ASSERT_EQ(Job.OpenOutputFile(W(Path("two.mkv")), false), 1) << Job.LastError();
    ASSERT_EQ(ErrorOf("acodec=ac3\nar=48000\nnewaudio", kPhaseOrdinary), "");
    ASSERT_EQ(ErrorOf("acodec=ac3\nar=48000\nnewaudio", kPhaseExtraStreams), "");
    ASSERT_EQ(Job.OutputStreams(0).size(), 3u);
    EXPECT_EQ(Job.OutputStreams(0)[2].Codec->sample_rate, 48000);
    EXPECT_STREQ(Job.OutputStreams(0)[2].Encoder->name, "ac3");
}

TEST_F(OutputFiles, UnicodeOutputNamesAndEmptyOutputsGo) {
    ASSERT_TRUE(Open(Wav("in.wav", 0.2)));
    const std::string Name = Path("\xe9\x9f\xb3\xe6\xa5\xbd.wav");
    ASSERT_EQ(Job.OpenOutputFile(W(Name), false), 1) << Job.LastError();
    EXPECT_EQ(std::string(Job.OutputFile(0)->url).rfind("unicode:utf8:", 0), 0u);
    EXPECT_TRUE(FileExistsW(W(Name)));  // opened for writing
    Job.CleanUp();
    EXPECT_FALSE(FileExistsW(W(Name)));  // never written: removed
}

}  // namespace
}  // namespace zembra::testing
