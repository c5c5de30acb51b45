#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <cstring>
#include <fstream>
#include <set>

#include "app/OptionBuilder.h"
#include "binding/FFmpegLoader.h"
#include "tests/media/SampleClips.h"
#include "util/StringUtils.h"

namespace zembra::testing {
namespace {

// Names of the fields in which two output records differ.
std::set<std::string> Differences(const TOutputOptions& A, const TOutputOptions& B) {
    std::set<std::string> D;
#define ZEMBRA_CMP(F) \
    if (!(A.F == B.F)) D.insert(#F)
    ZEMBRA_CMP(FileName);
    ZEMBRA_CMP(FileExt);
    ZEMBRA_CMP(ForceFormat);
    ZEMBRA_CMP(PacketSize);
    ZEMBRA_CMP(MuxRate);
    ZEMBRA_CMP(MuxDelay);
    ZEMBRA_CMP(MuxPreload);
    ZEMBRA_CMP(AudioCodec);
    ZEMBRA_CMP(AudioPreset);
    ZEMBRA_CMP(DisableAudio);
    ZEMBRA_CMP(AudioVolume);
    ZEMBRA_CMP(AudioChannels);
    ZEMBRA_CMP(AudioSampleRate);
    ZEMBRA_CMP(AudioBitrate);
    ZEMBRA_CMP(AudioBitrateTolerance);
    ZEMBRA_CMP(AudioLanguage);
    ZEMBRA_CMP(AudioSync);
    ZEMBRA_CMP(AudioTag);
    ZEMBRA_CMP(VideoCodec);
    ZEMBRA_CMP(VideoPreset);
    ZEMBRA_CMP(DisableVideo);
    ZEMBRA_CMP(FrameRate);
    ZEMBRA_CMP(FrameSize);
    ZEMBRA_CMP(FrameAspectRatio);
    ZEMBRA_CMP(CropTop);
    ZEMBRA_CMP(CropBottom);
    ZEMBRA_CMP(CropLeft);
    ZEMBRA_CMP(CropRight);
    ZEMBRA_CMP(PadTop);
    ZEMBRA_CMP(PadBottom);
    ZEMBRA_CMP(PadLeft);
    ZEMBRA_CMP(PadRight);
    ZEMBRA_CMP(PadColor);
    ZEMBRA_CMP(GopSize);
    ZEMBRA_CMP(VideoBitrate);
    ZEMBRA_CMP(VideoMaxRate);
    ZEMBRA_CMP(VideoMinRate);
    ZEMBRA_CMP(VideoBitrateTolerance);
    ZEMBRA_CMP(VideoBufferSize);
    ZEMBRA_CMP(VideoSync);
    ZEMBRA_CMP(VideoTag);
    ZEMBRA_CMP(VideoFilters);
    ZEMBRA_CMP(SubtitleCodec);
    ZEMBRA_CMP(SubtitlePreset);
    ZEMBRA_CMP(DisableSubtitle);
    ZEMBRA_CMP(SubtitleLanguage);
    ZEMBRA_CMP(CopyTimestamp);
    ZEMBRA_CMP(StartTimeMs);
    ZEMBRA_CMP(StartTime);
    ZEMBRA_CMP(RecordingTimeMs);
    ZEMBRA_CMP(RecordingTime);
    ZEMBRA_CMP(Metadata.TimeStamp);
    ZEMBRA_CMP(Metadata.Year);
    ZEMBRA_CMP(Metadata.Track);
    ZEMBRA_CMP(Metadata.Title);
    ZEMBRA_CMP(Metadata.Author);
    ZEMBRA_CMP(Metadata.Copyright);
    ZEMBRA_CMP(Metadata.Comment);
    ZEMBRA_CMP(Metadata.Album);
    ZEMBRA_CMP(Metadata.Genre);
    ZEMBRA_CMP(Target);
    ZEMBRA_CMP(TargetNorm);
    ZEMBRA_CMP(TargetDefaultNorm);
    ZEMBRA_CMP(CustomHook);
    ZEMBRA_CMP(BeforeHook);
    ZEMBRA_CMP(HookPTSPeriods);
    ZEMBRA_CMP(JoinFlag);
    ZEMBRA_CMP(OptionLines);
    ZEMBRA_CMP(Reserved1);
    ZEMBRA_CMP(Reserved2);
#undef ZEMBRA_CMP
    return D;
}

using Fields = std::set<std::string>;

class OptionBuilder : public ::testing::Test {
  protected:
    void SetUp() override {
        char Pattern[] = "/tmp/zembra-options-XXXXXX";
        ASSERT_NE(::mkdtemp(Pattern), nullptr);
        Dir = Pattern;
        Source.FileName = Utf8ToUtf16(Dir + "/clip.avi");
        Source.Duration = 10000000;
        Source.VideoWidth = 320;
        Source.VideoHeight = 240;
        Source.Sound = {true, AV_CODEC_ID_AAC, "aac", 48000, 2};
        // No hook folder on disk unless a test makes one.
        Context.HookFolder = Utf8ToUtf16(Dir + "/vhook/");
    }
    void TearDown() override {
        std::error_code Ec;
        std::filesystem::remove_all(Dir, Ec);
    }
    std::string Touch(const std::string& Name) {
        const std::string P = Dir + "/" + Name;
        std::filesystem::create_directories(std::filesystem::path(P).parent_path());
        std::ofstream(P) << "x";
        return P;
    }
    TOutputOptions Out() { return BuildTaskRecords(Request, Source, Context).Out; }
    std::string Name(const TOutputOptions& O) { return Utf16ToUtf8(O.FileName); }
    std::u16string At(const std::string& Name) { return Utf8ToUtf16(Dir + "/" + Name); }
    static TNameTemplate Template(const std::string& Text) {
        std::string Error;
        const std::optional<TNameTemplate> T = ParseNameTemplate(Text, Error);
        EXPECT_TRUE(T) << Error;
        return T.value_or(TNameTemplate{});
    }

    std::string Dir;
    TConversionRequest Request;
    TSourceInfo Source;
    TBuildContext Context;
};

// Each field of the request, set on its own, changes exactly the record fields and option lines
// its row names, against a request for an mkv file (no format rules) whose records are written
// out in full.
TEST_F(OptionBuilder, EachRequestFieldChangesExactlyItsRecordFields) {
    using TRequest = TConversionRequest;
    Request.Format = "mkv";
    TTaskRecords Base;
    Base.In.FileName = Source.FileName;
    Base.Out.FileName = At("clip_(new).mkv");
    Base.Out.FileExt = ".mkv";
    Base.Out.Metadata.TimeStamp = 0;
    Base.Out.DisableSubtitle = true;
    Base.Out.OptionLines = "map_meta_data=0:0\r\ncopy_cover=1\r\n";
    Base.Sound = {false, "AAC does not fit in mkv"};
    auto Named = [&](TTaskRecords& R, const std::string& File) {
        R.Out.FileName = At(File);
        R.Out.FileExt = File.substr(File.rfind('.'));
        R.Sound.Why = "AAC does not fit in " + File.substr(File.rfind('.') + 1);
    };
    const struct {
        const char* What;
        std::function<void(TRequest&)> Set;
        std::function<void(TTaskRecords&)> Want;
    } Rows[] = {
        {"the request itself", [](TRequest&) {}, [](TTaskRecords&) {}},
        // The eleven formats alone: the sound, no pictures read or written.
        {"mp3", [](TRequest& R) { R.Format = "mp3"; },
         [&](TTaskRecords& W) {
             Named(W, "clip_(new).mp3");
             W.Out.DisableVideo = true;
             W.In.OptionLines = "vn=1";
         }},
        {"ogg", [](TRequest& R) { R.Format = "ogg"; },
         [&](TTaskRecords& W) {
             Named(W, "clip_(new).ogg");
             W.Out.DisableVideo = true;
             W.Out.AudioCodec = "libvorbis";
             W.In.OptionLines = "vn=1";
         }},
        {"Wma", [](TRequest& R) { R.Format = "Wma"; },
         [&](TTaskRecords& W) {
             Named(W, "clip_(new).wma");
             W.Out.DisableVideo = true;
             W.Out.AudioCodec = "wmav2";
             W.In.OptionLines = "vn=1";
         }},
        {"m4a copies the AAC sound", [](TRequest& R) { R.Format = "m4a"; },
         [&](TTaskRecords& W) {
             Named(W, "clip_(new).m4a");
             W.Out.DisableVideo = true;
             W.Out.OptionLines += "acodec=copy\r\n";
             W.In.OptionLines = "vn=1";
             W.Sound = {true, "AAC fits in m4a"};
         }},
        {"m4a encoded as asked", [](TRequest& R) { R.Format = "m4a", R.Reencode = true; },
         [&](TTaskRecords& W) {
             Named(W, "clip_(new).m4a");
             W.Out.DisableVideo = true;
             W.In.OptionLines = "vn=1";
             W.Sound = {false, "encoding asked for"};
         }},
        {"the sound alone has no video encoder",
         [](TRequest& R) { R.Format = "mp2", R.VideoCodec = "mpeg4"; },
         [&](TTaskRecords& W) {
             Named(W, "clip_(new).mp2");
             W.Out.DisableVideo = true;
             W.In.OptionLines = "vn=1";
         }},
        // The same formats with the dialog's rules.
        {"dialog's Ogg", [](TRequest& R) { R.Format = "Ogg", R.KeepVideo = true; },
         [&](TTaskRecords& W) {
             Named(W, "clip_(new).ogg");
             W.Out.VideoCodec = "libtheora";
             W.Out.AudioCodec = "flac";
         }},
        {"dialog's Wma", [](TRequest& R) { R.Format = "Wma", R.KeepVideo = true; },
         [&](TTaskRecords& W) {
             Named(W, "clip_(new).wma");
             W.Out.DisableVideo = true;
             W.Out.AudioCodec = "wmav2";
             W.In.OptionLines = "vn=1";
         }},
        {"dialog's Mp2", [](TRequest& R) { R.Format = "Mp2", R.KeepVideo = true; },
         [&](TTaskRecords& W) {
             Named(W, "clip_(new).mp2");
             W.In.OptionLines = "vn=1";
         }},
        {"dialog's M4a", [](TRequest& R) { R.Format = "M4a", R.KeepVideo = true; },
         [&](TTaskRecords& W) {
             Named(W, "clip_(new).m4a");
             W.Out.OptionLines += "acodec=copy\r\n";
             W.Sound = {true, "AAC fits in m4a"};
         }},
        {"an encoder named wins over the format's", [](TRequest& R) { R.Format = "ogg", R.Codec = "flac"; },
         [&](TTaskRecords& W) {
             Named(W, "clip_(new).ogg");
             W.Out.DisableVideo = true;
             W.Out.AudioCodec = "flac";
             W.In.OptionLines = "vn=1";
         }},
        {"codec", [](TRequest& R) { R.Codec = "libopus"; },
         [](TTaskRecords& W) { W.Out.AudioCodec = "libopus"; }},
        {"rate", [](TRequest& R) { R.Rate = 8000; }, [](TTaskRecords& W) { W.Out.AudioSampleRate = 8000; }},
        {"channels", [](TRequest& R) { R.Channels = 1; }, [](TTaskRecords& W) { W.Out.AudioChannels = 1; }},
        {"volume", [](TRequest& R) { R.Volume = 512; }, [](TTaskRecords& W) { W.Out.AudioVolume = 512; }},
        {"bit rate", [](TRequest& R) { R.Bitrate = 96; },
         [](TTaskRecords& W) { W.Out.AudioBitrate = 96000; }},
        // kbit/s past what bit/s can hold stop at the largest rate instead of wrapping.
        {"bit rate past the range", [](TRequest& R) { R.Bitrate = 2147484; },
         [](TTaskRecords& W) { W.Out.AudioBitrate = INT32_MAX; }},
        {"quality", [](TRequest& R) { R.Quality = -1.5; },
         [](TTaskRecords& W) { W.Out.OptionLines += "aq=-1.5\r\n"; }},
        {"cut",
         [](TRequest& R) {
             R.Cut = TCutRequest{1000, 3500};
         },
         [](TTaskRecords& W) {
             W.Out.RecordingTimeMs = 2500;
             W.In.StartTimeMs = 1000;
         }},
        {"cut beyond the end: from the start, to the end",
         [](TRequest& R) {
             R.Cut = TCutRequest{12000, 15000};
         },
         [](TTaskRecords& W) {
             W.Out.RecordingTimeMs = 10000;
             W.In.StartTimeMs = 0;
         }},
        {"cut ending before its start: none",
         [](TRequest& R) {
             R.Cut = TCutRequest{4000, 3000};
         },
         [](TTaskRecords&) {}},
        {"cut to the end",
         [](TRequest& R) {
             R.Cut = TCutRequest{5000, std::nullopt};
         },
         [](TTaskRecords& W) { W.In.StartTimeMs = 5000; }},
        {"no tags", [](TRequest& R) { R.NoTags = true; },
         [](TTaskRecords& W) { W.Out.OptionLines = "copy_cover=1\r\n"; }},
        {"no cover", [](TRequest& R) { R.NoCover = true; },
         [](TTaskRecords& W) { W.Out.OptionLines = "map_meta_data=0:0\r\n"; }},
        {"tags",
         [](TRequest& R) {
             R.Tags = {"album=Live", "genre=Rock"};
         },
         [](TTaskRecords& W) { W.Out.OptionLines += "metadata=album=Live\r\nmetadata=genre=Rock\r\n"; }},
        {"replaygain", [](TRequest& R) { R.ReplayGain = TReplayGainMode::Album; },
         [](TTaskRecords& W) { W.Out.OptionLines += "replaygain=1\r\n"; }},
        {"no split", [](TRequest& R) { R.NoSplit = true; },
         [](TTaskRecords& W) { W.Out.OptionLines += "segments=0\r\n"; }},
        // A line that a field would undo goes into the field.
        {"output lines",
         [](TRequest& R) {
             R.OutputOptions = {"ar=8000", "movflags=faststart"};
         },
         [](TTaskRecords& W) {
             W.Out.AudioSampleRate = 8000;
             W.Out.OptionLines += "movflags=faststart\r\n";
         }},
        {"input lines",
         [](TRequest& R) {
             R.InputOptions = {"itsoffset=1", "probesize=32"};
         },
         [](TTaskRecords& W) { W.In.OptionLines = "itsoffset=1\r\nprobesize=32"; }},
        {"output folder", [&](TRequest& R) { R.OutputFolder = At("out/"); },
         [&](TTaskRecords& W) { W.Out.FileName = At("out/clip_(new).mkv"); }},
        {"output name", [&](TRequest& R) { R.OutputName = At("Artist/Song"); },
         [&](TTaskRecords& W) { W.Out.FileName = At("Artist/Song.mkv"); }},
        {"name from tags (the source has none)",
         [&](TRequest& R) { R.Name = Template("{albumartist}/{title}"); },
         [&](TTaskRecords& W) { W.Out.FileName = At("Unknown Artist/clip.mkv"); }},
        {"name from tags in the output folder",
         [&](TRequest& R) {
             R.Name = Template("{album}/{name}");
             R.OutputFolder = At("out/");
         },
         [&](TTaskRecords& W) { W.Out.FileName = At("out/Unknown Album/clip.mkv"); }},
        {"a name given wins over the template",
         [&](TRequest& R) {
             R.Name = Template("{album}/{name}");
             R.OutputName = At("Artist/Song");
         },
         [&](TTaskRecords& W) { W.Out.FileName = At("Artist/Song.mkv"); }},
        {"overwrite, nothing there", [](TRequest& R) { R.Overwrite = true; }, [](TTaskRecords&) {}},
        {"copy timestamp", [](TRequest& R) { R.CopyTimestamp = true; },
         [](TTaskRecords& W) { W.Out.CopyTimestamp = true; }},
        {"frame size", [](TRequest& R) { R.FrameSize = "352x288"; },
         [](TTaskRecords& W) { W.Out.FrameSize = "352x288"; }},
        {"frame rate", [](TRequest& R) { R.FrameRate = "25"; },
         [](TTaskRecords& W) { W.Out.FrameRate = "25"; }},
        {"aspect ratio", [](TRequest& R) { R.AspectRatio = "16:9"; },
         [](TTaskRecords& W) { W.Out.FrameAspectRatio = "16:9"; }},
        {"video encoder and tag", [](TRequest& R) { R.VideoCodec = "mpeg4", R.VideoTag = "DIVX"; },
         [](TTaskRecords& W) {
             W.Out.VideoCodec = "mpeg4";
             W.Out.VideoTag = "DIVX";
         }},
        {"video bit rate", [](TRequest& R) { R.VideoBitrate = 200; },
         [](TTaskRecords& W) { W.Out.VideoBitrate = 200000; }},
        {"video bit rate past the range", [](TRequest& R) { R.VideoBitrate = -2147484; },
         [](TTaskRecords& W) { W.Out.VideoBitrate = INT32_MIN; }},
        // Rounded toward zero to even numbers; the pad is black.
        {"crop",
         [](TRequest& R) {
             R.Crop = std::array<int32_t, 4>{7, 0, -3, 10};
         },
         [](TTaskRecords& W) {
             W.Out.CropTop = 6, W.Out.CropBottom = 0, W.Out.CropLeft = -2, W.Out.CropRight = 10;
         }},
        {"pad",
         [](TRequest& R) {
             R.Pad = std::array<int32_t, 4>{1, -1, 9, 4};
         },
         [](TTaskRecords& W) {
             W.Out.PadTop = 0, W.Out.PadBottom = 0, W.Out.PadLeft = 8, W.Out.PadRight = 4;
             W.Out.PadColor = clBlack;
         }},
        {"filters",
         [](TRequest& R) {
             R.VideoFilters = {"vflip", "scale=320:240", "setpts=0.5*PTS"};
         },
         [](TTaskRecords& W) { W.Out.VideoFilters = "vflip,scale=320:240,setpts=0.5*PTS"; }},
        {"the window's own hook", [](TRequest& R) { R.Hooks.External = false; },
         [](TTaskRecords& W) { W.Out.CustomHook = true; }},
        {"hooks whose plug-ins are missing", [](TRequest& R) { R.Hooks.WaterMark = R.Hooks.DemoText = true; },
         [](TTaskRecords&) {}},
    };
    for (const auto& Row : Rows) {
        SCOPED_TRACE(Row.What);
        TConversionRequest R = Request;
        Row.Set(R);
        TTaskRecords Want = Base;
        Row.Want(Want);
        const TTaskRecords Got = BuildTaskRecords(R, Source, Context);
        EXPECT_EQ(Differences(Got.Out, Want.Out), Fields{});
        EXPECT_EQ(Got.Out.OptionLines, Want.Out.OptionLines);
        EXPECT_EQ(Got.In.FileName, Want.In.FileName);
        EXPECT_EQ(Got.In.ForceFormat, Want.In.ForceFormat);
        EXPECT_EQ(Got.In.StartTimeMs, Want.In.StartTimeMs);
        EXPECT_EQ(Got.In.StartTime, Want.In.StartTime);
        EXPECT_EQ(Got.In.ProgramId, Want.In.ProgramId);
        EXPECT_EQ(Got.In.OptionLines, Want.In.OptionLines);
        EXPECT_EQ(Got.Sound.Text(), Want.Sound.Text());
        // The input record alone is the same, and names nothing.
        EXPECT_EQ(BuildInputOptions(R, Source).OptionLines, Want.In.OptionLines);
    }
}

// Names from tags as a library's songs get them, numbered when taken; and the length a task's
// row shows, which is the cut's when there is one.
TEST_F(OptionBuilder, NamesFromTagsAndTheLengthOfWhatIsConverted) {
    Source.Tags = {{"album_artist", "Nina"}, {"album", "Blue: Live"}, {"title", "Rain"}, {"track", "03/12"}};
    Request.Name = Template("{albumartist}/{album}/{track:02} {title}");
    EXPECT_EQ(RelativeNameFromTags(Request, Source), "Nina/Blue_ Live/03 Rain");
    EXPECT_EQ(Name(Out()), Dir + "/Nina/Blue_ Live/03 Rain.mp3");
    Request.NameCharset = TNameCharset::Posix;
    EXPECT_EQ(Name(Out()), Dir + "/Nina/Blue: Live/03 Rain.mp3");
    Touch("Nina/Blue: Live/03 Rain.mp3");
    EXPECT_EQ(Name(Out()), Dir + "/Nina/Blue: Live/03 Rain (1).mp3");
    Request.Overwrite = true;
    EXPECT_EQ(Name(Out()), Dir + "/Nina/Blue: Live/03 Rain.mp3");
    Request.Name.reset();
    EXPECT_EQ(RelativeNameFromTags(Request, Source), "");
    EXPECT_EQ(NameFromTags(Request, Source, At("out/")), u"");

    const struct {
        std::optional<TCutRequest> Cut;
        int64_t DurationUs;
        int64_t Want;
    } Lengths[] = {
        {std::nullopt, 10000000, 10000000},
        {std::nullopt, -1, -1},
        {TCutRequest{2000, 5500}, 10000000, 3500000},
        {TCutRequest{2000, 50000}, 10000000, 8000000},  // the end moved to the source's
        {TCutRequest{2000, std::nullopt}, 10000000, 8000000},
        {TCutRequest{2000, std::nullopt}, -1, -1},
        {TCutRequest{6000, 5000}, 10000000, 10000000},  // marks that make no cut
    };
    for (const auto& L : Lengths) {
        Request.Cut = L.Cut;
        Source.Duration = L.DurationUs;
        EXPECT_EQ(OutputDuration(Request, Source), L.Want)
            << (L.Cut ? L.Cut->StartMs : -1) << " " << L.DurationUs;
    }
}

TEST_F(OptionBuilder, ExistingOutputsGetTheNextNumber) {
    Touch("clip_(new).mp3");
    Touch("clip_(new_1).mp3");
    EXPECT_EQ(Name(Out()), Dir + "/clip_(new_2).mp3");
    Request.Overwrite = true;
    EXPECT_EQ(Name(Out()), Dir + "/clip_(new).mp3");
}

TEST_F(OptionBuilder, NamesGivenInTheSameBatchAreNotTakenTwice) {
    std::set<std::u16string> Given = {Utf8ToUtf16(Dir + "/clip_(new).mp3")};
    Context.Reserved = [&](const std::u16string& N) { return Given.count(N) > 0; };
    Request.Overwrite = true;
    EXPECT_EQ(Name(Out()), Dir + "/clip_(new_1).mp3");
}

TEST_F(OptionBuilder, AnOutputFolderTakesTheSourceName) {
    Request.OutputFolder = Utf8ToUtf16(Dir + "/out/");
    Source.FileName = Utf8ToUtf16("/elsewhere/my.clip.avi");
    EXPECT_EQ(Name(Out()), Dir + "/out/my.clip_(new).mp3");
    Request.OutputFolder.clear();
    Source.FileName = Utf8ToUtf16("/some.dir/noext");
    EXPECT_EQ(Name(Out()), "/some.dir/noext_(new).mp3");
}

class HookLines : public OptionBuilder {
  protected:
    void SetUp() override {
        OptionBuilder::SetUp();
        // The hook lines alone.
        Request.NoTags = Request.NoCover = true;
    }
    THookRequest& Hooks = Request.Hooks;
    void CheckAll() {
        Hooks.Imlib2Image = Hooks.Imlib2Text = Hooks.WaterMark = Hooks.DemoImage = Hooks.DemoText = true;
    }
    void Install(const std::string& Folder) {
        Context.HookFolder = Utf8ToUtf16(Folder);
        for (const char* F : {"imlib2.so", "watermark.so", "QuarnHook.so"}) std::ofstream(Folder + F) << "x";
    }
};

TEST_F(HookLines, ABlankInTheFolderMakesEverySeparatorAPipe) {
    const std::string Folder = Dir + "/my hooks/";
    std::filesystem::create_directories(Folder);
    Install(Folder);
    CheckAll();
    Hooks.Dancing = true;
    Hooks.WaterMarkMode = true;
    Hooks.Imlib2TextEdit = "Hello";
    const TOutputOptions O = Out();
    const std::string F = Folder;
    EXPECT_EQ(O.OptionLines,
              "vhook=" + F + "imlib2.so|-i|" + F +
                  "imlib2.jpg|-x|(W-w)*(0.5+0.5*sin(N/47*PI))|-y|(H-h)*(0.5+0.5*cos(N/97*PI))\r\n" +
                  "vhook=" + F + "imlib2.so|-R|255|-G|255|-B|255|-F|Tahoma.ttf/16|-t|Hello|-x|10|-y|10\r\n" +
                  "vhook=" + F + "watermark.so|-f|" + F + "watermark.gif|-m|1\r\n" + "vhook=" + F +
                  "QuarnHook.so|-i|" + F + "QuarnHook.bmp|-mc|FFFFFF|-ix|246|-iy|166\r\n" + "vhook=" + F +
                  "QuarnHook.so|-t|ZIVOZ|-tx|10|-ty|10|-fc|FFFFFF|-fn|Tahoma|-fs|16|-fst|BU\r\n");
    EXPECT_FALSE(O.BeforeHook);
    EXPECT_EQ(O.HookPTSPeriods, "");
    EXPECT_FALSE(O.CustomHook);
}

TEST_F(HookLines, WithoutBlanksTheSeparatorIsABlank) {
    const std::string Folder = Dir + "/vhook/";
    std::filesystem::create_directories(Folder);
    Install(Folder);
    Hooks.WaterMark = true;
    Hooks.Imlib2Text = true;
    Hooks.Scrolling = true;
    const TOutputOptions O = Out();
    EXPECT_EQ(O.OptionLines, "vhook=" + Folder +
                                 "imlib2.so -R 255 -G 255 -B 255 -F Tahoma.ttf/16 -t ZIVOZ -x 10 -y "
                                 "(H-25)*(0.5+0.50*cos(N/97*PI))\r\n" +
                                 "vhook=" + Folder + "watermark.so -f " + Folder + "watermark.gif -m 0\r\n");
}

TEST_F(HookLines, TheDemoPictureSizeComesFromItsBitmap) {
    const std::string Folder = Dir + "/vhook/";
    std::filesystem::create_directories(Folder);
    Install(Folder);
    // A BMP header of a 100 x 50 picture stored top-down (negative height).
    unsigned char Header[54] = {'B', 'M'};
    const int32_t W = 100, H = -50;
    std::memcpy(Header + 18, &W, 4);
    std::memcpy(Header + 22, &H, 4);
    std::ofstream(Folder + "QuarnHook.bmp", std::ios::binary)
        .write(reinterpret_cast<char*>(Header), sizeof(Header));
    Hooks.DemoImage = true;
    EXPECT_EQ(Out().OptionLines, "vhook=" + Folder + "QuarnHook.so -i " + Folder +
                                     "QuarnHook.bmp -mc FFFFFF -ix 210 -iy 180\r\n");
}

TEST_F(HookLines, ACheckedBoxWhosePluginIsMissingAddsNothing) {
    CheckAll();
    Hooks.Behaviour = hbBeforeHook;
    const THookAvailability A = HookAvailability(Hooks, Context);
    EXPECT_FALSE(A.Imlib2Image);
    EXPECT_FALSE(A.Behaviour);
    const TOutputOptions O = Out();
    EXPECT_EQ(O.OptionLines, "");
    EXPECT_FALSE(O.BeforeHook);
    Hooks.Behaviour = hbPTSPeriods;
    EXPECT_EQ(Out().HookPTSPeriods, "");
}

TEST_F(HookLines, BehaviourChoices) {
    const std::string Folder = Dir + "/vhook/";
    std::filesystem::create_directories(Folder);
    std::ofstream(Folder + "watermark.so") << "x";
    Context.HookFolder = Utf8ToUtf16(Folder);
    Hooks.WaterMark = true;
    Hooks.Behaviour = hbBeforeHook;
    EXPECT_TRUE(Out().BeforeHook);
    Hooks.Behaviour = hbPTSPeriods;
    TOutputOptions O = Out();
    EXPECT_FALSE(O.BeforeHook);
    EXPECT_EQ(O.HookPTSPeriods, "0-5000,10000-15000");
    EXPECT_TRUE(HookAvailability(Hooks, Context).PTSPeriodsEdit);
    EXPECT_TRUE(HookAvailability(Hooks, Context).WaterMarkMode);
    EXPECT_FALSE(HookAvailability(Hooks, Context).DemoHookImage);

    // The window's own hook: no plug-in lines at all.
    Hooks.External = false;
    O = Out();
    EXPECT_TRUE(O.CustomHook);
    EXPECT_EQ(O.OptionLines, "");
    EXPECT_FALSE(O.BeforeHook);
    EXPECT_EQ(O.HookPTSPeriods, "");
    EXPECT_FALSE(HookAvailability(Hooks, Context).WaterMark);
}

TEST_F(OptionBuilder, TheSourceAsTheProbeSeesIt) {
    FFLoader().SetLibraryPath(DefaultLibraryFolder());
    ASSERT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
    const std::string Clip = Dir + "/clip.avi";
    ASSERT_EQ(testmedia::WriteClip(testmedia::SampleClip(testmedia::TSampleKind::Avi, Clip)), "");
    TAVProbe Probe;
    EXPECT_EQ(SourceInfoOf(Probe).Duration, -1);  // nothing loaded
    ASSERT_TRUE(Probe.LoadFile(Utf8ToUtf16(Clip))) << Probe.LastError();
    TSourceInfo S = SourceInfoOf(Probe);
    EXPECT_EQ(Utf16ToUtf8(S.FileName), Clip);
    EXPECT_EQ(S.ForcedFormat, "");
    EXPECT_EQ(S.VideoWidth, 160);
    EXPECT_EQ(S.VideoHeight, 120);
    EXPECT_NEAR(double(S.Duration), 1000000.0, 100000.0);
    Probe.Close();
    ASSERT_TRUE(Probe.LoadFile(Utf8ToUtf16(Clip), "avi"));
    S = SourceInfoOf(Probe);
    EXPECT_EQ(S.ForcedFormat, "avi");
    EXPECT_EQ(BuildInputOptions(Request, S).ForceFormat, "avi");
}

}  // namespace
}  // namespace zembra::testing
