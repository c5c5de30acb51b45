#include <fstream>
#include <random>

#include "binding/FFmpegHolders.h"
#include "tests/probe/ProbeTestSupport.h"
#include "util/Formatting.h"

namespace zembra::probetest {
namespace {

// Two services, each with its own picture and sound; the first picture runs at NTSC rate.
TClipSpec TwoProgramTs() {
    TClipSpec Spec;
    Spec.Container = "mpegts";
    Spec.Videos = {VideoClip("mpeg2video", 160, 120, 30, AVRational{30000, 1001}),
                   VideoClip("mpeg2video", 176, 144, 25)};
    Spec.Audios = {AudioClip("mp2", 48000, 2), AudioClip("mp2", 44100, 1)};
    Spec.Programs = {{1, "Zembra One", {0, 2}}, {2, "Zembra Two", {1, 3}}};
    return Spec;
}

TClipSpec PcmWave() {
    TClipSpec Spec;
    Spec.Container = "wav";
    Spec.Audios = {AudioClip("pcm_s16le", 44100, 2)};
    return Spec;
}

// One picture through the image muxer: "still%d.png" becomes still1.png.
TClipSpec StillPicture() {
    TClipSpec Spec;
    Spec.Container = "image2";
    Spec.Videos = {VideoClip("png", 160, 120, 1)};
    return Spec;
}

std::string SizeText(const std::string& Path) {
    return "File Size: " + FormatFileSize(static_cast<int64_t>(fs::file_size(Path)));
}

// A context opened by the test itself, as an engine opens its input.
class TOwnInput {
  public:
    explicit TOwnInput(const std::string& Path) {
        AVFormatContext* Ic = nullptr;
        if (lavf.avformat_open_input(&Ic, Path.c_str(), nullptr, nullptr) < 0) return;
        FContext.reset(Ic);
        if (lavf.avformat_find_stream_info(Ic, nullptr) < 0) FContext.reset();
    }
    AVFormatContext* Get() const { return FContext.get(); }

  private:
    TFormatInputPtr FContext;
};

class probeInfo : public ProbeTest {};

TEST_F(probeInfo, TwoProgramTransportStreamGivesTheExactText) {
    const std::string Path = Write(TwoProgramTs(), "two.ts");
    TAVProbe Probe;
    ASSERT_TRUE(Probe.LoadFile(Utf8ToUtf16(Path))) << Probe.LastError();
    const std::string Expected =
        "File Name: " + Path +
        "\r\n"
        "Format Name: mpegts\r\n"
        "Format Long Name: MPEG-TS (MPEG-2 Transport Stream)\r\n" +
        SizeText(Path) +
        "\r\n"
        "StartTime: 0.029089\r\n"
        "Duration: 00:00:01.018\r\n"
        "Bit Rate: 1265 Kbps\r\n"
        "Program 1 FFmpeg@Zembra One\r\n"
        "Stream #0[0x100], 1/90000: Video: mpeg2video (Main) ([2][0][0][0] / 0x0002), yuv420p(tv, "
        "progressive), "
        "160x120 [SAR 1:1 DAR 4:3], 29.97 tbr, 90k tbn, StartTime: 0.040000, Duration: 00:00:01.001\r\n"
        "Stream #1[0x102], 1/90000: Audio: mp2 ([3][0][0][0] / 0x0003), 48000 Hz, stereo, fltp, 384 kb/s, "
        "StartTime: 0.029978, Duration: 00:00:01.008\r\n"
        "Program 2 FFmpeg@Zembra Two\r\n"
        "Stream #2[0x101], 1/90000: Video: mpeg2video (Main) ([2][0][0][0] / 0x0002), yuv420p(tv, "
        "progressive), "
        "176x144 [SAR 1:1 DAR 11:9], 25 tbr, 90k tbn, StartTime: 0.040000, Duration: 00:00:01.000\r\n"
        "Stream #3[0x103], 1/90000: Audio: mp2 ([3][0][0][0] / 0x0003), 44100 Hz, mono, fltp, 384 kb/s, "
        "StartTime: 0.029089, Duration: 00:00:01.018";
    EXPECT_EQ(Probe.GetFileInfoText(), Expected);
}

TEST_F(probeInfo, WaveWithoutStartTimeGivesTheExactText) {
    const std::string Path = Write(PcmWave(), "tone.wav");
    TAVProbe Probe;
    ASSERT_TRUE(Probe.LoadFile(Utf8ToUtf16(Path))) << Probe.LastError();
    EXPECT_EQ(Probe.GetFileInfoText(),
              "File Name: " + Path +
                  "\r\n"
                  "Format Name: wav\r\n"
                  "Format Long Name: WAV / WAVE (Waveform Audio)\r\n"
                  "File Size: 172.34 KB\r\n"
                  "Duration: 00:00:01.000\r\n"
                  "Bit Rate: 1411 Kbps\r\n"
                  "Stream #0, 1/44100: Audio: pcm_s16le ([1][0][0][0] / 0x0001), 44100 Hz, 2 channels, s16, "
                  "1411 kb/s, Duration: 00:00:01.000");
}

TEST_F(probeInfo, UnknownDurationShowsNotAvailable) {
    Write(StillPicture(), "still%d.png");
    const std::string Path = PathFor("still1.png");
    TAVProbe Probe;
    ASSERT_TRUE(Probe.LoadFile(Utf8ToUtf16(Path))) << Probe.LastError();
    // Neither start nor duration is known, so there is no StartTime line either.
    EXPECT_EQ(Probe.GetFileInfoText(),
              "File Name: " + Path +
                  "\r\n"
                  "Format Name: png_pipe\r\n"
                  "Format Long Name: piped png sequence\r\n" +
                  SizeText(Path) +
                  "\r\n"
                  "Duration: N/A\r\n"
                  "Bit Rate: N/A\r\n"
                  "Stream #0, 1/25: Video: png, rgb24(pc), 160x120 [SAR 1:1 DAR 4:3], 25 "
                  "tbr, 25 tbn, Duration: N/A");
    TFileStreamInfo Info;
    ASSERT_TRUE(Probe.GetFileStreamInfo(Info));
    EXPECT_EQ(Info.StartTime, -1);
    EXPECT_EQ(Info.Duration, -1);
}

TEST_F(probeInfo, TagsTimeStampYearAndTrackAreListedInOrder) {
    TClipSpec Spec;
    Spec.Container = "mp4";
    Spec.Videos = {VideoClip("mpeg4", 160, 120, 5)};
    Spec.Metadata = {
        {"title", "A title"},    {"artist", "Someone"}, {"copyright", "(c) nobody"},
        {"comment", "A remark"}, {"album", "An album"}, {"genre", "Noise"},
        {"date", "2009-05-01"},  {"track", "7/12"},     {"creation_time", "2020-01-02T03:04:05.000000Z"}};
    const std::string Path = Write(Spec, "tags.mp4");
    TAVProbe Probe;
    ASSERT_TRUE(Probe.LoadFile(Utf8ToUtf16(Path))) << Probe.LastError();

    TFileStreamInfo Info;
    ASSERT_TRUE(Probe.GetFileStreamInfo(Info));
    EXPECT_EQ(Info.TimeStamp, 1577934245);
    EXPECT_EQ(Info.Year, 2009);
    EXPECT_EQ(Info.Track, 7);
    EXPECT_EQ(Info.Title, "A title");
    EXPECT_EQ(Info.Author, "Someone");
    EXPECT_EQ(Info.Genre, "Noise");

    const std::string Stamp = FormatDateTimeText("yyyy-mm-dd hh:nn:ss", UnixTimeToLocal(1577934245));
    const std::string Lines =
        " Kbps\r\nTime Stamp: " + Stamp +
        "\r\nTitle: A title\r\nAuthor: Someone\r\nCopyright: (c) nobody\r\n"
        "Comment: A remark\r\nAlbum: An album\r\nGenre: Noise\r\nYear: 2009\r\nTrack: #7\r\n"
        "Stream #0[0x1](und), 1/12800: Video: mpeg4";
    EXPECT_NE(Probe.GetFileInfoText().find(Lines), std::string::npos) << Probe.GetFileInfoText();
}

// Matroska and Vorbis comments keep tag names in capitals; they are the same tags.
TEST_F(probeInfo, TagNamesMatchWithoutRegardToCase) {
    struct TCase {
        const char* Container;
        const char* File;
    };
    for (const TCase& C : {TCase{"matroska", "tags.mkv"}, TCase{"ogg", "tags.ogg"}}) {
        TClipSpec Spec;
        Spec.Container = C.Container;
        TAudioSpec Audio;
        Audio.Encoder = std::string(C.Container) == "ogg" ? "flac" : "aac";
        Audio.Duration = 0.2;
        Spec.Audios = {Audio};
        Spec.Metadata = {{"TITLE", "A title"}, {"ARTIST", "Someone"}, {"ALBUM", "An album"},
                         {"GENRE", "Noise"},   {"DATE", "2009"},      {"Track", "3"}};
        const std::string Path = Write(Spec, C.File);
        TAVProbe Probe;
        ASSERT_TRUE(Probe.LoadFile(Utf8ToUtf16(Path))) << Probe.LastError();
        TFileStreamInfo Info;
        ASSERT_TRUE(Probe.GetFileStreamInfo(Info));
        SCOPED_TRACE(C.File);
        EXPECT_EQ(Info.Title, "A title");
        EXPECT_EQ(Info.Author, "Someone");
        EXPECT_EQ(Info.Album, "An album");
        EXPECT_EQ(Info.Genre, "Noise");
        EXPECT_EQ(Info.Year, 2009);
        EXPECT_EQ(Info.Track, 3);
        EXPECT_NE(Probe.GetFileInfoText().find("Author: Someone\r\n"), std::string::npos);
    }
}

TEST_F(probeInfo, RatesAndStartTimesHaveTheirFormats) {
    EXPECT_EQ(ProbeRateText(30000.0 / 1001, "tbr"), ", 29.97 tbr");
    EXPECT_EQ(ProbeRateText(25, "tbr"), ", 25 tbr");
    EXPECT_EQ(ProbeRateText(90000, "tbn"), ", 90k tbn");
    EXPECT_EQ(ProbeRateText(50, "tbc"), ", 50 tbc");
    EXPECT_EQ(ProbeRateText(12800, "tbn"), ", 12800 tbn");
    EXPECT_EQ(ProbeRateText(1000, "tbn"), ", 1k tbn");
    EXPECT_EQ(ProbeRateText(23.976, "tbr"), ", 23.98 tbr");
    EXPECT_EQ(ProbeStartTimeText(0), "0.000000");
    EXPECT_EQ(ProbeStartTimeText(11400000), "11.400000");
    EXPECT_EQ(ProbeStartTimeText(29089), "0.029089");
    EXPECT_EQ(ProbeStartTimeText(-1400000), "-1.400000");
    EXPECT_EQ(ProbeStartTimeText(-400000), "-0.400000");
}

TEST_F(probeInfo, TimeBasesAreReducedAndZeroDenominatorsPatched) {
    const std::string Path = Write(TwoProgramTs(), "two.ts");
    TOwnInput Input(Path);
    ASSERT_NE(Input.Get(), nullptr);
    Input.Get()->streams[0]->time_base = AVRational{2, 50};
    Input.Get()->streams[2]->time_base = AVRational{0, 0};
    TAVProbe Probe;
    ASSERT_TRUE(Probe.AttachContext(Input.Get()));
    const std::string Text = Probe.GetFileInfoText();
    EXPECT_NE(Text.find("Stream #0[0x100], 1/25: Video: mpeg2video"), std::string::npos) << Text;
    EXPECT_NE(Text.find("29.97 tbr, 25 tbn, StartTime:"), std::string::npos) << Text;
    // 0/0 becomes 0/1: no tick rate to show.
    EXPECT_NE(Text.find("Stream #2[0x101], 0/1: Video: mpeg2video"), std::string::npos) << Text;
    EXPECT_NE(Text.find("DAR 11:9], 25 tbr, StartTime:"), std::string::npos) << Text;
    EXPECT_EQ(Input.Get()->streams[2]->time_base.den, 1);
}

TEST_F(probeInfo, StreamsOutsideEveryProgramAreNotListed) {
    const std::string Path = Write(TwoProgramTs(), "two.ts");
    TOwnInput Input(Path);
    ASSERT_NE(Input.Get(), nullptr);
    ASSERT_EQ(Input.Get()->nb_programs, 2u);
    AVProgram* Second = Input.Get()->programs[1];
    ASSERT_EQ(Second->nb_stream_indexes, 2u);
    Second->nb_stream_indexes = 1;  // its sound now belongs to no program
    TAVProbe Probe;
    ASSERT_TRUE(Probe.AttachContext(Input.Get()));
    const std::string Text = Probe.GetFileInfoText();
    EXPECT_NE(Text.find("Program 2 FFmpeg@Zembra Two\r\nStream #2[0x101]"), std::string::npos) << Text;
    EXPECT_EQ(Text.find("Stream #3"), std::string::npos) << Text;
    Second->nb_stream_indexes = 2;
}

TEST_F(probeInfo, PixelAspectUnlikeTheCodecsShowsParAndDar) {
    const std::string Path = Write(TwoProgramTs(), "two.ts");
    TOwnInput Input(Path);
    ASSERT_NE(Input.Get(), nullptr);
    Input.Get()->streams[0]->sample_aspect_ratio = AVRational{16, 15};
    TAVProbe Probe;
    ASSERT_TRUE(Probe.AttachContext(Input.Get()));
    const std::string Text = Probe.GetFileInfoText();
    EXPECT_NE(Text.find("160x120 [SAR 1:1 DAR 4:3], PAR 16:15 DAR 64:45, 29.97 tbr"), std::string::npos)
        << Text;
    TVideoStreamInfo Info;
    ASSERT_TRUE(Probe.GetVideoStreamInfo(0, Info));
    EXPECT_NEAR(Info.DisplayAspectRatio, 16.0 / 15 * 160 / 120, 1e-5);
}

TEST_F(probeInfo, SizeFallsBackToTheFileSystem) {
    Write(StillPicture(), "still%d.png");
    const std::string Path = PathFor("still1.png");
    TAVProbe Probe;
    // The image muxer's demuxer opens its files itself, so the library knows no size.
    ASSERT_TRUE(Probe.LoadFile(Utf8ToUtf16(Path), "image2")) << Probe.LastError();
    ASSERT_EQ(Probe.Context()->pb, nullptr);
    EXPECT_EQ(Probe.GetFormatName(), "image2");
    EXPECT_EQ(Probe.ForcedFormatName(), "image2");
    EXPECT_EQ(Probe.GetFileSize(), static_cast<int64_t>(fs::file_size(Path)));
    EXPECT_NE(Probe.GetFileInfoText().find("\r\n" + SizeText(Path) + "\r\n"), std::string::npos);

    // A numbered pattern names no file: the library's 0 stands.
    ASSERT_TRUE(Probe.LoadFile(Utf8ToUtf16(PathFor("still%d.png")))) << Probe.LastError();
    EXPECT_EQ(Probe.GetFormatName(), "image2");
    EXPECT_EQ(Probe.ForcedFormatName(), "");
    EXPECT_EQ(Probe.GetFileSize(), 0);
}

TEST_F(probeInfo, EveryAccessorOfAClosedProbeSaysFileNotLoaded) {
    TAVProbe Probe;
    EXPECT_FALSE(Probe.Loaded());
    EXPECT_EQ(Probe.StreamCount(), -1);
    EXPECT_EQ(Probe.ProgramCount(), -1);
    EXPECT_EQ(Probe.AudioStreamCount(), -1);
    EXPECT_EQ(Probe.VideoStreamCount(), -1);
    EXPECT_EQ(Probe.SubtitleStreamCount(), -1);
    EXPECT_EQ(Probe.FirstAudioStreamIndex(), -1);
    EXPECT_EQ(Probe.FirstVideoStreamIndex(), -1);
    EXPECT_EQ(Probe.FirstSubtitleStreamIndex(), -1);

    // Each call says it once more, in the log and in the last error.
    const auto Expect = [&](const char* Accessor, auto Call) {
        const int Before =
            CountLogged("file not loaded.", llWarning) + CountLogged("file not loaded.", llError);
        Call();
        EXPECT_EQ(Probe.LastError(), "file not loaded.") << Accessor;
        EXPECT_EQ(CountLogged("file not loaded.", llWarning) + CountLogged("file not loaded.", llError),
                  Before + 1)
            << Accessor;
    };
    Expect("GetFileName", [&] { EXPECT_EQ(Probe.GetFileName(), u""); });
    Expect("GetFormatName", [&] { EXPECT_EQ(Probe.GetFormatName(), ""); });
    Expect("GetFileSize", [&] { EXPECT_EQ(Probe.GetFileSize(), -1); });
    Expect("GetFileInfoText", [&] { EXPECT_EQ(Probe.GetFileInfoText(), ""); });
    Expect("GetFileStreamInfo", [&] {
        TFileStreamInfo Info;
        Info.Title = "stale";
        EXPECT_FALSE(Probe.GetFileStreamInfo(Info));
        EXPECT_EQ(Info.StartTime, -1);
        EXPECT_EQ(Info.Duration, -1);
        EXPECT_EQ(Info.BitRate, -1);
        EXPECT_EQ(Info.TimeStamp, -1);
        EXPECT_EQ(Info.Year, -1);
        EXPECT_EQ(Info.Track, -1);
        EXPECT_EQ(Info.Title, "");
    });
    Expect("GetVideoStreamInfo", [&] {
        TVideoStreamInfo Info;
        EXPECT_FALSE(Probe.GetVideoStreamInfo(-1, Info));
        EXPECT_EQ(Info.Width, -1);
        EXPECT_EQ(Info.CodecName, "");
    });
    Expect("Seek", [&] { EXPECT_FALSE(Probe.Seek(-1, 0)); });
    Expect("GetFrame", [&] { EXPECT_TRUE(Probe.GetFrame(-1).Empty()); });
    // Seven accessors warn; the reader's refusal is an error.
    EXPECT_EQ(CountLogged("file not loaded.", llWarning), 7);
    EXPECT_EQ(CountLogged("file not loaded.", llError), 1);
}

TEST_F(probeInfo, CountersAndFileInformationOfAnOpenFile) {
    const std::string Path = Write(TwoProgramTs(), "two.ts");
    TAVProbe Probe;
    ASSERT_TRUE(Probe.LoadFile(Utf8ToUtf16(Path))) << Probe.LastError();
    EXPECT_TRUE(Probe.OwnsContext());
    EXPECT_EQ(Probe.GetFileName(), Utf8ToUtf16(Path));
    EXPECT_EQ(Probe.StreamCount(), 4);
    EXPECT_EQ(Probe.ProgramCount(), 2);
    EXPECT_EQ(Probe.VideoStreamCount(), 2);
    EXPECT_EQ(Probe.AudioStreamCount(), 2);
    EXPECT_EQ(Probe.SubtitleStreamCount(), 0);
    EXPECT_EQ(Probe.FirstVideoStreamIndex(), 0);
    EXPECT_EQ(Probe.FirstAudioStreamIndex(), 1);
    EXPECT_EQ(Probe.FirstSubtitleStreamIndex(), -1);
    EXPECT_EQ(Probe.GetFileSize(), static_cast<int64_t>(fs::file_size(Path)));

    TFileStreamInfo Info;
    ASSERT_TRUE(Probe.GetFileStreamInfo(Info));
    EXPECT_EQ(Info.StartTime, 29089);
    EXPECT_EQ(Info.Duration / 1000, 1018);
    EXPECT_EQ(Info.BitRate / 1000, 1265);
    EXPECT_EQ(Info.TimeStamp, 0);
    EXPECT_EQ(Info.Year, 0);
    EXPECT_EQ(Info.Track, 0);
    EXPECT_EQ(Info.Title, "");

    Probe.Close();
    EXPECT_FALSE(Probe.Loaded());
    EXPECT_EQ(Probe.StreamCount(), -1);
    EXPECT_EQ(Probe.FirstVideoStreamIndex(), -1);
}

TEST_F(probeInfo, VideoStreamInformationAndItsRefusals) {
    const std::string Path = Write(TwoProgramTs(), "two.ts");
    TAVProbe Probe;
    ASSERT_TRUE(Probe.LoadFile(Utf8ToUtf16(Path))) << Probe.LastError();
    TVideoStreamInfo Info;
    ASSERT_TRUE(Probe.GetVideoStreamInfo(-1, Info));
    EXPECT_EQ(Info.CodecName, "mpeg2video(MPEG-2 video)");
    EXPECT_EQ(Info.Language, "");
    EXPECT_EQ(Info.Width, 160);
    EXPECT_EQ(Info.Height, 120);
    EXPECT_EQ(Info.FrameRateNum, 30000);
    EXPECT_EQ(Info.FrameRateDen, 1001);
    EXPECT_EQ(Info.PixelFormat, AV_PIX_FMT_YUV420P);
    EXPECT_NEAR(Info.DisplayAspectRatio, 4.0 / 3, 1e-5);
    EXPECT_EQ(Info.StartTimeRaw, 3600);
    EXPECT_EQ(Info.StartTime, 40000);
    EXPECT_EQ(Info.DurationRaw, 90090);
    EXPECT_EQ(Info.Duration, 1001000);

    ASSERT_TRUE(Probe.GetVideoStreamInfo(2, Info));
    EXPECT_EQ(Info.Width, 176);
    EXPECT_EQ(Info.FrameRateNum, 25);

    EXPECT_FALSE(Probe.GetVideoStreamInfo(9, Info));
    EXPECT_EQ(Probe.LastError(), "stream index #9 is invalid.");
    EXPECT_EQ(Info.Width, -1);
    EXPECT_FALSE(Probe.GetVideoStreamInfo(1, Info));
    EXPECT_EQ(Probe.LastError(), "stream #1 is not video stream.");
    EXPECT_EQ(CountLogged("stream index #9 is invalid.", llError), 1);
    EXPECT_EQ(CountLogged("stream #1 is not video stream.", llError), 1);

    ASSERT_TRUE(Probe.LoadFile(Utf8ToUtf16(Write(PcmWave(), "tone.wav")))) << Probe.LastError();
    EXPECT_FALSE(Probe.GetVideoStreamInfo(-1, Info));
    EXPECT_EQ(Probe.LastError(), "no video stream.");
    EXPECT_EQ(CountLogged("no video stream.", llError), 1);
}

TEST_F(probeInfo, BadInputsEndInAClearErrorAndAClosedProbe) {
    const std::string Missing = PathFor("missing.avi");
    const std::string Empty = PathFor("empty.bin");
    // Named like a container, an empty file is that container with a broken header.
    const std::string EmptyAvi = PathFor("empty.avi");
    const std::string Noise = PathFor("noise.bin");
    const std::string Truncated = PathFor("truncated.mp4");
    const std::string Folder = PathFor("folder");
    std::ofstream(Empty).close();
    std::ofstream(EmptyAvi).close();
    {
        std::mt19937 Random(7);
        std::ofstream Out(Noise, std::ios::binary);
        for (int I = 0; I < 20000; ++I) Out.put(static_cast<char>(Random() & 0xFF));
    }
    {
        TClipSpec Spec;
        Spec.Container = "mp4";
        Spec.Videos = {VideoClip("mpeg4", 160, 120, 5)};
        const std::string Whole = Write(Spec, "whole.mp4");
        std::ifstream In(Whole, std::ios::binary);
        std::string Head(3000, '\0');
        In.read(Head.data(), static_cast<std::streamsize>(Head.size()));
        std::ofstream(Truncated, std::ios::binary).write(Head.data(), In.gcount());
    }
    fs::create_directory(Folder);

    const std::pair<std::string, std::pair<std::string, std::string>> Cases[] = {
        {Missing, {"", Missing + ": no such file or directory"}},
        {Empty, {"", Empty + ": Unknown format"}},
        {EmptyAvi, {"", EmptyAvi + ": Error while parsing header"}},
        {Noise, {"", Noise + ": Unknown format"}},
        {Truncated, {"", Truncated + ": Error while parsing header"}},
        {Folder, {"", Folder + ": Error while opening file"}},
        {Noise, {"nosuch", "Unknown input format: nosuch"}},
        {Empty, {"mpegts", Empty + ": could not find codec parameters"}},
    };
    TAVProbe Probe;
    for (const auto& [Name, Case] : Cases) {
        // Each failure also closes whatever was open before.
        ASSERT_TRUE(Probe.LoadFile(Utf8ToUtf16(Write(PcmWave(), "tone.wav"))));
        EXPECT_FALSE(Probe.LoadFile(Utf8ToUtf16(Name), Case.first)) << Name;
        EXPECT_EQ(Probe.LastError(), Case.second);
        EXPECT_FALSE(Probe.Loaded());
        EXPECT_EQ(Probe.StreamCount(), -1);
        EXPECT_EQ(Probe.ForcedFormatName(), "");
        EXPECT_TRUE(Probe.GetFrame(-1).Empty());
    }
}

TEST_F(probeInfo, NamesOutsideTheLocaleOpenThroughTheUnicodeProtocol) {
    const std::string Path = Write(TwoProgramTs(), "two.ts");
    const std::u16string Name = Utf8ToUtf16(Folder.string()) + u"/\u97f3\u697d caf\u00e9.ts";
    fs::copy_file(Path, Utf16ToUtf8(Name));
    TAVProbe Probe;
    ASSERT_TRUE(Probe.LoadFile(Name)) << Probe.LastError();
    EXPECT_EQ(Probe.GetFileName(), Name);
    EXPECT_EQ(Probe.GetFileSize(), static_cast<int64_t>(fs::file_size(Path)));
    const std::string Text = Probe.GetFileInfoText();
    EXPECT_EQ(Text.rfind("File Name: " + Utf16ToUtf8(Name) + "\r\nFormat Name: mpegts\r\n", 0), 0u) << Text;
    ASSERT_TRUE(Probe.Seek(-1, 0));
    EXPECT_EQ(FrameCounterOf(Probe.GetFrame(-1)), 0) << Probe.LastError();
    Probe.Close();

    // Missing under such a name: the text carries the name as the locale shows it.
    EXPECT_FALSE(Probe.LoadFile(Name + u"x"));
    EXPECT_EQ(Probe.LastError(), WideToLocaleLossy(Name + u"x") + ": no such file or directory");
}

TEST_F(probeInfo, MissingLibrariesRaiseBeforeAnythingIsOpened) {
    TAVProbe Probe;
    FFLoader().UnloadLibraryItem(libSwScale);
    try {
        Probe.LoadFile(u"/nonexistent.avi");
        ADD_FAILURE() << "no exception";
    } catch (const AVProbeException& E) {
        EXPECT_STREQ(E.what(), "LibSwScale not loaded.");
    }
    EXPECT_THROW(Probe.AttachContext(nullptr), AVProbeException);
    ASSERT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
    EXPECT_FALSE(Probe.LoadFile(u"/nonexistent.avi"));
}

TEST_F(probeInfo, AttachedProbeDescribesButNeverSeeksReadsOrCloses) {
    const std::string Path = Write(TwoProgramTs(), "two.ts");
    TAVProbe Own;
    ASSERT_TRUE(Own.LoadFile(Utf8ToUtf16(Path)));
    TOwnInput Input(Path);
    ASSERT_NE(Input.Get(), nullptr);

    TAVProbe Probe;
    ASSERT_TRUE(Probe.AttachContext(Input.Get()));
    EXPECT_TRUE(Probe.Loaded());
    EXPECT_FALSE(Probe.OwnsContext());
    EXPECT_EQ(Probe.StreamCount(), 4);
    EXPECT_EQ(Probe.GetFileInfoText(), Own.GetFileInfoText());

    try {
        Probe.Seek(-1, 0);
        ADD_FAILURE() << "no exception";
    } catch (const AVProbeException& E) {
        EXPECT_STREQ(E.what(), "file cannot be seeked, handle is readonly.");
    }
    EXPECT_EQ(Probe.LastError(), "file cannot be seeked, handle is readonly.");
    EXPECT_EQ(CountLogged("file cannot be seeked, handle is readonly.", llWarning), 1);
    try {
        Probe.GetFrame(-1);
        ADD_FAILURE() << "no exception";
    } catch (const AVProbeException& E) {
        EXPECT_STREQ(E.what(), "frame cannot be read, handle is readonly.");
    }
    EXPECT_EQ(Probe.LastError(), "frame cannot be read, handle is readonly.");
    EXPECT_THROW(Probe.ReadFrame(0, 100000), AVProbeException);
    EXPECT_EQ(CountLogged("frame cannot be read, handle is readonly.", llWarning), 2);
    EXPECT_EQ(Probe.PacketsRead(), 0);

    // Closing leaves the owner's input open and usable.
    Probe.Close();
    EXPECT_FALSE(Probe.Loaded());
    TPacketPtr Packet = MakePacket();
    ASSERT_TRUE(Packet);
    EXPECT_GE(lavf.av_read_frame(Input.Get(), Packet.get()), 0);

    EXPECT_FALSE(Probe.AttachContext(nullptr));
    EXPECT_FALSE(Probe.Loaded());
}

}  // namespace
}  // namespace zembra::probetest
