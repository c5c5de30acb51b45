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
    TOutputOptions Out() { return BuildOutputOptions(Choices, Source, Context); }
    TInputOptions In() { return BuildInputOptions(Choices, Source); }
    std::string Name(const TOutputOptions& O) { return Utf16ToUtf8(O.FileName); }

    std::string Dir;
    TOptionChoices Choices;
    TSourceInfo Source;
    TBuildContext Context;
};

TEST_F(OptionBuilder, FormDefaultsWithMp3) {
    const TOutputOptions O = Out();
    EXPECT_EQ(Differences(O, TOutputOptions{}),
              (Fields{"FileName", "FileExt", "Metadata.TimeStamp", "DisableSubtitle"}));
    EXPECT_EQ(Name(O), Dir + "/clip_(new).mp3");
    EXPECT_EQ(O.FileExt, ".mp3");
    EXPECT_EQ(O.Metadata.TimeStamp, 0.0);
    EXPECT_TRUE(O.DisableSubtitle);

    const TInputOptions I = In();
    EXPECT_EQ(I.FileName, Source.FileName);
    EXPECT_EQ(I.OptionLines, "vn=1");
    EXPECT_EQ(I.ForceFormat, "");
    EXPECT_EQ(I.StartTimeMs, -1);
    EXPECT_EQ(I.StartTime, -1);
    EXPECT_EQ(I.ProgramId, -1);
}

TEST_F(OptionBuilder, OggTakesTheoraAndFlacWhateverEncoderWasChosen) {
    Choices.Format = "Ogg";
    Choices.AudioCodec = "MP3";
    Choices.VideoCodec = "X264";
    const TOutputOptions O = Out();
    EXPECT_EQ(O.VideoCodec, "libtheora");
    EXPECT_EQ(O.AudioCodec, "flac");
    EXPECT_EQ(O.FileExt, ".ogg");
    EXPECT_EQ(In().OptionLines, "");  // a source with video keeps it
}

TEST_F(OptionBuilder, WmaDropsVideoOnBothSides) {
    Choices.Format = "Wma";
    const TOutputOptions O = Out();
    EXPECT_EQ(Differences(O, TOutputOptions{}), (Fields{"FileName", "FileExt", "Metadata.TimeStamp",
                                                        "DisableSubtitle", "DisableVideo", "AudioCodec"}));
    EXPECT_TRUE(O.DisableVideo);
    EXPECT_EQ(O.AudioCodec, "wmav2");
    EXPECT_EQ(In().OptionLines, "vn=1");
}

TEST_F(OptionBuilder, FormatsWithoutRulesLeaveTheEngineDefaults) {
    for (const char* F : {"M4a", "Flac", "Au", "Ra"}) {
        Choices.Format = F;
        const TOutputOptions O = Out();
        EXPECT_EQ(Differences(O, TOutputOptions{}),
                  (Fields{"FileName", "FileExt", "Metadata.TimeStamp", "DisableSubtitle"}))
            << F;
        EXPECT_EQ(In().OptionLines, "") << F;
    }
    for (const char* F : {"Mp2", "Aac", "Ac3", "Wav", "Mp3", "Wma"}) {
        Choices.Format = F;
        EXPECT_EQ(In().OptionLines, "vn=1") << F;
    }
}

TEST_F(OptionBuilder, AnyOtherSuffixGetsNoDialogRules) {
    Choices.Format = "mp4";
    EXPECT_EQ(Out().FileExt, ".mp4");
    EXPECT_EQ(In().OptionLines, "");
    Choices.Format = "c3";  // a piece of the audio-only list is not an audio-only format
    EXPECT_EQ(In().OptionLines, "");
}

TEST_F(OptionBuilder, ExistingOutputsGetTheNextNumber) {
    Touch("clip_(new).mp3");
    Touch("clip_(new_1).mp3");
    EXPECT_EQ(Name(Out()), Dir + "/clip_(new_2).mp3");
    Choices.Overwrite = true;
    EXPECT_EQ(Name(Out()), Dir + "/clip_(new).mp3");
}

TEST_F(OptionBuilder, NamesGivenInTheSameBatchAreNotTakenTwice) {
    std::set<std::u16string> Given = {Utf8ToUtf16(Dir + "/clip_(new).mp3")};
    Context.Reserved = [&](const std::u16string& N) { return Given.count(N) > 0; };
    Choices.Overwrite = true;
    EXPECT_EQ(Name(Out()), Dir + "/clip_(new_1).mp3");
}

TEST_F(OptionBuilder, AnOutputFolderTakesTheSourceName) {
    Choices.OutPath = Utf8ToUtf16(Dir + "/out/");
    Source.FileName = Utf8ToUtf16("/elsewhere/my.clip.avi");
    EXPECT_EQ(Name(Out()), Dir + "/out/my.clip_(new).mp3");
    Choices.OutPath = Utf8ToUtf16(kSameAsInput);
    Source.FileName = Utf8ToUtf16("/some.dir/noext");
    EXPECT_EQ(Name(Out()), "/some.dir/noext_(new).mp3");
}

TEST_F(OptionBuilder, CropAndPadRoundTowardZeroToEvenNumbers) {
    Choices.Crop = true;
    Choices.CropEdits = {"7", "x", "-3", "10"};
    Choices.Pad = true;
    Choices.PadEdits = {"1", "-1", "9", " 4"};
    const TOutputOptions O = Out();
    EXPECT_EQ(O.CropTop, 6);
    EXPECT_EQ(O.CropBottom, 0);
    EXPECT_EQ(O.CropLeft, -2);
    EXPECT_EQ(O.CropRight, 10);
    EXPECT_EQ(O.PadTop, 0);
    EXPECT_EQ(O.PadBottom, 0);
    EXPECT_EQ(O.PadLeft, 8);
    EXPECT_EQ(O.PadRight, 4);  // leading blanks are read
    EXPECT_EQ(O.PadColor, clBlack);
    Choices.Crop = Choices.Pad = false;
    EXPECT_EQ(Out().CropTop, -1);
}

TEST_F(OptionBuilder, AllSixFiltersInOrder) {
    Choices.VertFlip = Choices.HoriFlip = Choices.Negate = true;
    Choices.Scale = Choices.Rotate = Choices.SetPTS = true;
    EXPECT_EQ(Out().VideoFilters, "vflip,hflip,negate,scale=320:240,rotate=45,setpts=0.5*PTS");
    Choices.VertFlip = Choices.HoriFlip = Choices.Negate = false;
    Choices.ScaleText = "  ";
    Choices.RotateText = " 90 ";
    Choices.SetPTSText = " 2*PTS ";
    EXPECT_EQ(Out().VideoFilters, "rotate=90,setpts=2*PTS");
    Choices.RotateText = "abc";
    Choices.SetPTS = false;
    EXPECT_EQ(Out().VideoFilters, "rotate=45");
}

TEST_F(OptionBuilder, AudioAndVideoSettings) {
    Choices.AudioChannels = 1;
    Choices.AudioSampleRate = "8000";
    Choices.AdjustVolume = true;
    Choices.AudioVolume = "512";
    Choices.AudioBitRateChecked = true;
    Choices.AudioBitRate = "x";
    Choices.VideoBitRateChecked = true;
    Choices.FrameSize = "352x288 - cif";
    Choices.FrameRate = "25";
    Choices.AspectRatio = "16:9";
    Choices.VideoCodec = "DivX";
    Choices.AudioCodec = "AAC";
    Choices.CopyTimestamp = true;
    const TOutputOptions O = Out();
    EXPECT_EQ(O.AudioChannels, 1);
    EXPECT_EQ(O.AudioSampleRate, 8000);
    EXPECT_EQ(O.AudioVolume, 512);
    EXPECT_EQ(O.AudioBitrate, 64000);
    EXPECT_EQ(O.VideoBitrate, 200000);
    EXPECT_EQ(O.FrameSize, "352x288");
    EXPECT_EQ(O.FrameRate, "25");
    EXPECT_EQ(O.FrameAspectRatio, "16:9");
    EXPECT_EQ(O.VideoCodec, "mpeg4");
    EXPECT_EQ(O.VideoTag, "DIVX");
    EXPECT_EQ(O.AudioCodec, "libfaac");
    EXPECT_TRUE(O.CopyTimestamp);

    Choices.AudioSampleRate = "fast";
    Choices.AudioVolume = "loud";
    Choices.FrameSize = "hd 720";
    Choices.VideoCodec = "XviD";
    Choices.AudioCodec = "FLAC";
    const TOutputOptions P = Out();
    EXPECT_EQ(P.AudioSampleRate, 22050);
    EXPECT_EQ(P.AudioVolume, -1);
    EXPECT_EQ(P.FrameSize, "hd");
    EXPECT_EQ(P.VideoCodec, "libxvid");
    EXPECT_EQ(P.VideoTag, "");
    EXPECT_EQ(P.AudioCodec, "flac");
    Choices.FrameSize = " 640x480";  // a blank first: the whole text
    EXPECT_EQ(Out().FrameSize, " 640x480");

    // kbit/s past what bit/s can hold stop at the largest rate instead of wrapping.
    Choices.AudioBitRate = "2147484";
    Choices.VideoBitRate = "-2147484";
    EXPECT_EQ(Out().AudioBitrate, INT32_MAX);
    EXPECT_EQ(Out().VideoBitrate, INT32_MIN);
    Choices.AudioBitRate = "2147483";
    EXPECT_EQ(Out().AudioBitrate, 2147483000);
}

TEST_F(OptionBuilder, CutRangeIsClampedToTheSource) {
    Choices.CutClip = true;
    Choices.CutStartMs = 1000;
    Choices.CutEndMs = 3500;
    EXPECT_EQ(Out().RecordingTimeMs, 2500);
    EXPECT_EQ(In().StartTimeMs, 1000);

    Choices.CutStartMs = 12000;  // beyond the end: from the start, to the end
    Choices.CutEndMs = 15000;
    EXPECT_EQ(Out().RecordingTimeMs, 10000);
    EXPECT_EQ(In().StartTimeMs, 0);

    Choices.CutStartMs = 4000;
    Choices.CutEndMs = 3000;  // end before start: no cut
    EXPECT_EQ(Out().RecordingTimeMs, -1);
    EXPECT_EQ(In().StartTimeMs, -1);
    Choices.CutEndMs = 9000;
    Choices.CutClip = false;
    EXPECT_EQ(Out().RecordingTimeMs, -1);
}

class HookLines : public OptionBuilder {
  protected:
    void CheckAll() {
        Choices.Imlib2Image = Choices.Imlib2Text = Choices.WaterMark = Choices.DemoHookImage =
            Choices.DemoHookText = true;
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
    Choices.Dancing = true;
    Choices.WaterMarkMode = true;
    Choices.Imlib2TextEdit = "  Hello  ";
    Choices.DemoHookTextEdit = "   ";
    const TOutputOptions O = Out();
    const std::string F = Folder;
    EXPECT_EQ(O.OptionLines,
              "vhook=" + F + "imlib2.so|-i|" + F +
                  "imlib2.jpg|-x|(W-w)*(0.5+0.5*sin(N/47*PI))|-y|(H-h)*(0.5+0.5*cos(N/97*PI))\r\n" +
                  "vhook=" + F + "imlib2.so|-R|255|-G|255|-B|255|-F|Tahoma.ttf/16|-t|Hello|-x|10|-y|10\r\n" +
                  "vhook=" + F + "watermark.so|-f|" + F + "watermark.gif|-m|1\r\n" + "vhook=" + F +
                  "QuarnHook.so|-i|" + F + "QuarnHook.bmp|-mc|FFFFFF|-ix|246|-iy|166\r\n" + "vhook=" + F +
                  "QuarnHook.so|-t|ZIVOZ|-tx|10|-ty|10|-fc|FFFFFF|-fn|Tahoma|-fs|16|-fst|BU\r\n");
    // The edits were trimmed, and the empty one filled, as the dialog shows them afterwards.
    EXPECT_EQ(Choices.Imlib2TextEdit, "Hello");
    EXPECT_EQ(Choices.DemoHookTextEdit, "ZIVOZ");
    EXPECT_FALSE(O.BeforeHook);
    EXPECT_EQ(O.HookPTSPeriods, "");
    EXPECT_FALSE(O.CustomHook);
}

TEST_F(HookLines, WithoutBlanksTheSeparatorIsABlank) {
    const std::string Folder = Dir + "/vhook/";
    std::filesystem::create_directories(Folder);
    Install(Folder);
    Choices.WaterMark = true;
    Choices.Imlib2Text = true;
    Choices.Scrolling = true;
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
    Choices.DemoHookImage = true;
    EXPECT_EQ(Out().OptionLines, "vhook=" + Folder + "QuarnHook.so -i " + Folder +
                                     "QuarnHook.bmp -mc FFFFFF -ix 210 -iy 180\r\n");
}

TEST_F(HookLines, ACheckedBoxWhosePluginIsMissingAddsNothing) {
    CheckAll();
    Choices.HookBehaviour = hbBeforeHook;
    const THookAvailability A = HookAvailability(Choices, Context);
    EXPECT_FALSE(A.Imlib2Image);
    EXPECT_FALSE(A.Behaviour);
    const TOutputOptions O = Out();
    EXPECT_EQ(O.OptionLines, "");
    EXPECT_FALSE(O.BeforeHook);
    Choices.HookBehaviour = hbPTSPeriods;
    EXPECT_EQ(Out().HookPTSPeriods, "");
}

TEST_F(HookLines, BehaviourChoices) {
    const std::string Folder = Dir + "/vhook/";
    std::filesystem::create_directories(Folder);
    std::ofstream(Folder + "watermark.so") << "x";
    Context.HookFolder = Utf8ToUtf16(Folder);
    Choices.WaterMark = true;
    Choices.HookBehaviour = hbBeforeHook;
    EXPECT_TRUE(Out().BeforeHook);
    Choices.HookBehaviour = hbPTSPeriods;
    TOutputOptions O = Out();
    EXPECT_FALSE(O.BeforeHook);
    EXPECT_EQ(O.HookPTSPeriods, "0-5000,10000-15000");
    EXPECT_TRUE(HookAvailability(Choices, Context).PTSPeriodsEdit);
    EXPECT_TRUE(HookAvailability(Choices, Context).WaterMarkMode);
    EXPECT_FALSE(HookAvailability(Choices, Context).DemoHookImage);

    // The window's own hook: no plug-in lines at all.
    Choices.ExternalHook = false;
    O = Out();
    EXPECT_TRUE(O.CustomHook);
    EXPECT_EQ(O.OptionLines, "");
    EXPECT_FALSE(O.BeforeHook);
    EXPECT_EQ(O.HookPTSPeriods, "");
    EXPECT_FALSE(HookAvailability(Choices, Context).WaterMark);
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
    EXPECT_EQ(BuildInputOptions(Choices, S).ForceFormat, "avi");
}

}  // namespace
}  // namespace zembra::testing
