#include <cmath>

#include "binding/EntryPoints.h"
#include "tests/engine/EngineTestSupport.h"

namespace zembra::testing {
namespace {

using OptionLines = EngineTest;

TEST_F(OptionLines, PhasesSelectTheirLines) {
    const std::string Text = "vn\nnewaudio\nvpre=nosuchpreset\nar=22050";
    EXPECT_EQ(ErrorOf(Text, kPhaseOrdinary), "");
    EXPECT_TRUE(Job.Settings().VideoDisable);
    EXPECT_EQ(Job.Settings().AudioSampleRate, 22050);
    // The preset line belongs to its own phase, and fails there.
    EXPECT_EQ(ErrorOf(Text, kPhasePresets), "Preset \"nosuchpreset\" not found");
    EXPECT_EQ(ErrorOf(Text, kPhaseExtraStreams), "At least one output file must be specified");
}

TEST_F(OptionLines, EveryLineEndAndTheFirstEqualsSign) {
    EXPECT_EQ(ErrorOf("  \t ar=22050\r\nac=1\rvol=100\nmetadata=title=a=b \r\n\n"), "");
    EXPECT_EQ(Job.Settings().AudioSampleRate, 22050);
    EXPECT_EQ(Job.Settings().AudioChannels, 1);
    EXPECT_EQ(Job.Settings().AudioVolume, 100);
    ASSERT_EQ(Job.Settings().Metadata.size(), 1u);
    EXPECT_EQ(Job.Settings().Metadata[0].first, "title");
    EXPECT_EQ(Job.Settings().Metadata[0].second, "a=b");  // the whole text was trimmed, not the line
}

TEST_F(OptionLines, AFailingLineStopsTheRest) {
    EXPECT_EQ(ErrorOf("ar=8000\nthreads=2\nac=1"), "TODO: option - threads");
    EXPECT_EQ(Job.Settings().AudioSampleRate, 8000);  // applied before: stays
    EXPECT_EQ(Job.Settings().AudioChannels, 2);       // after: never applied
}

TEST_F(OptionLines, FlagsAndSetFlags) {
    EXPECT_EQ(ErrorOf("vn"), "");
    EXPECT_TRUE(Job.Settings().VideoDisable);
    EXPECT_EQ(ErrorOf("vn=0"), "");
    EXPECT_FALSE(Job.Settings().VideoDisable);
    EXPECT_EQ(ErrorOf("vn="), "");
    EXPECT_TRUE(Job.Settings().VideoDisable);
    EXPECT_EQ(ErrorOf("vn=0\nvn=false"), "");
    EXPECT_TRUE(Job.Settings().VideoDisable);
    EXPECT_EQ(ErrorOf("copyts=0\nxerror=0\nshortest=1\nan=0"), "");
    EXPECT_TRUE(Job.Settings().CopyTs);  // set-flags ignore their value
    EXPECT_TRUE(Job.Settings().ExitOnError);
    EXPECT_TRUE(Job.Settings().Shortest);
    EXPECT_FALSE(Job.Settings().AudioDisable);
}

TEST_F(OptionLines, IntegersAndTheirChecks) {
    EXPECT_EQ(ErrorOf("ar=0\nac=-1"), "");
    EXPECT_EQ(Job.Settings().AudioSampleRate, 44100);
    EXPECT_EQ(Job.Settings().AudioChannels, 2);
    EXPECT_EQ(ErrorOf("vframes=$10\naframes=0x20\ndframes= -3\nvsync=1\ntop=0"), "");
    EXPECT_EQ(Job.Settings().MaxFrames[0], 16);
    EXPECT_EQ(Job.Settings().MaxFrames[1], 32);
    EXPECT_EQ(Job.Settings().MaxFrames[2], -3);
    EXPECT_EQ(Job.Settings().VideoSyncMethod, 1);
    EXPECT_EQ(Job.Settings().TopFieldFirst, 0);
    EXPECT_EQ(ErrorOf("ar=abc"), "'abc' is not a valid integer value");
    EXPECT_EQ(ErrorOf("vol=12 \nac=1"), "'12 ' is not a valid integer value");
    EXPECT_EQ(ErrorOf("v=99999999999"), "'99999999999' is not a valid integer value");
    EXPECT_EQ(ErrorOf("fs=99999999999"), "");
    EXPECT_EQ(Job.Settings().LimitFileSize, 99999999999LL);
    EXPECT_EQ(ErrorOf("pass=3"), "pass number can be only 1 or 2");
    EXPECT_EQ(ErrorOf("pass=2"), "");
    EXPECT_EQ(Job.Settings().DoPass, 2);
    EXPECT_EQ(ErrorOf("padtop=-2\npadleft=4"), "");
    EXPECT_EQ(Job.Settings().PadTop, 0);
    EXPECT_EQ(Job.Settings().PadLeft, 4);
}

TEST_F(OptionLines, FloatsAndQuantiser) {
    EXPECT_EQ(ErrorOf("adrift_threshold=0.25\nmuxdelay=1.5\naq=4"), "");
    EXPECT_FLOAT_EQ(Job.Settings().AudioDriftThreshold, 0.25f);
    EXPECT_FLOAT_EQ(Job.Settings().MuxMaxDelay, 1.5f);
    EXPECT_FLOAT_EQ(Job.Settings().AudioQScale, 4.0f);
    EXPECT_EQ(ErrorOf("muxpreload=abc"), "'abc' is not a valid floating point value");
    EXPECT_EQ(ErrorOf("qscale=0"), "qscale must be > 0.0 and <= 255");
    EXPECT_EQ(ErrorOf("qscale=256"), "qscale must be > 0.0 and <= 255");
    EXPECT_EQ(ErrorOf("qscale=255"), "");
    EXPECT_FLOAT_EQ(Job.Settings().VideoQScale, 255.0f);
}

TEST_F(OptionLines, Times) {
    EXPECT_EQ(ErrorOf("t=1:30\nss=2.5\nitsoffset=-1"), "");
    EXPECT_EQ(Job.Settings().RecordingTime, 90000000);
    EXPECT_EQ(Job.TotalDuration(), 90000);
    EXPECT_EQ(Job.Settings().StartTime, 2500000);
    EXPECT_EQ(Job.Settings().InputTsOffset, -1000000);
    EXPECT_EQ(ErrorOf("t=abc"), "Invalid duration specification for t: abc");
    EXPECT_EQ(ErrorOf("timestamp=bad"), "Invalid date specification for timestamp: bad");
    EXPECT_EQ(ErrorOf("timestamp=2000-01-01T00:00:00Z"), "");
    EXPECT_EQ(Job.Settings().RecordingTimestamp, 946684800);
}

TEST_F(OptionLines, FrameSizeRateAndAspect) {
    EXPECT_EQ(ErrorOf("s=641x480"), "Frame size must be a multiple of 2");
    EXPECT_EQ(ErrorOf("s=abc"), "Incorrect frame size");
    EXPECT_EQ(ErrorOf("s=hd720"), "");
    EXPECT_EQ(Job.Settings().FrameWidth, 1280);
    EXPECT_EQ(Job.Settings().FrameHeight, 720);
    EXPECT_EQ(ErrorOf("r=abc"), "Incorrect frame rate");
    EXPECT_EQ(ErrorOf("r=ntsc"), "");
    EXPECT_EQ(Job.Settings().FrameRate.num, 30000);
    EXPECT_EQ(Job.Settings().FrameRate.den, 1001);
    EXPECT_EQ(ErrorOf("aspect=16:9"), "");
    EXPECT_FLOAT_EQ(Job.Settings().FrameAspectRatio, 1.7777778f);
    EXPECT_EQ(ErrorOf("aspect=1.5"), "");
    EXPECT_FLOAT_EQ(Job.Settings().FrameAspectRatio, 1.5f);
    EXPECT_EQ(ErrorOf("aspect=4:0"), "Incorrect aspect ratio specification.");
    EXPECT_EQ(ErrorOf("aspect=wide"), "Incorrect aspect ratio specification.");
}

TEST_F(OptionLines, CropAgainstTheKnownFrameSize) {
    const std::string Horizontal =
        "Horizontal crop dimensions are outside the range of the original image.\n"
        "Remember to crop first and scale second.";
    const std::string Vertical =
        "Vertical crop dimensions are outside the range of the original image.\n"
        "Remember to crop first and scale second.";
    EXPECT_EQ(ErrorOf("cropleft=0"), Horizontal);  // no size known yet
    EXPECT_EQ(ErrorOf("croptop=0"), Vertical);
    EXPECT_EQ(ErrorOf("s=720x576\ncropleft=720"), Horizontal);
    EXPECT_EQ(ErrorOf("cropleft=8\ncropright=-5\ncropbottom=16"), "");
    EXPECT_EQ(Job.Settings().FrameWidth, 712);
    EXPECT_EQ(Job.Settings().CropLeft, 8);
    EXPECT_EQ(Job.Settings().CropRight, 0);
    EXPECT_EQ(Job.Settings().FrameHeight, 560);
    EXPECT_EQ(ErrorOf("croptop=560"), Vertical);
}

TEST_F(OptionLines, PadColourConversion) {
    EXPECT_EQ(ErrorOf("padcolor=255"), "");
    EXPECT_EQ(Job.Settings().PadColor, (std::array<int32_t, 3>{76, 85, 255}));
    EXPECT_EQ(ErrorOf("padcolor=16777215"), "");  // white
    EXPECT_EQ(Job.Settings().PadColor, (std::array<int32_t, 3>{255, 128, 128}));
    EXPECT_EQ(ErrorOf("padcolor=16711680"), "");  // blue
    EXPECT_EQ(Job.Settings().PadColor, (std::array<int32_t, 3>{29, 255, 107}));
    EXPECT_EQ(ErrorOf("padcolor=red"), "'red' is not a valid integer value");
}

TEST_F(OptionLines, ParsedTables) {
    EXPECT_EQ(ErrorOf("map=0.1\nmap=1:2:0.0\nmap_meta_data=0:1"), "");
    ASSERT_EQ(Job.StreamMaps().size(), 2u);
    EXPECT_EQ(Job.StreamMaps()[0].SyncFileIndex, 0);
    EXPECT_EQ(Job.StreamMaps()[0].SyncStreamIndex, 1);
    EXPECT_EQ(Job.StreamMaps()[1].FileIndex, 1);
    EXPECT_EQ(Job.StreamMaps()[1].StreamIndex, 2);
    EXPECT_EQ(Job.StreamMaps()[1].SyncFileIndex, 0);
    EXPECT_EQ(Job.StreamMaps()[1].SyncStreamIndex, 0);
    ASSERT_EQ(Job.MetaDataMaps().size(), 1u);
    EXPECT_EQ(Job.MetaDataMaps()[0].InFile, 1);

    EXPECT_EQ(ErrorOf("itsscale=20:2"), "stream index over MAX_STREAMS(20)");
    EXPECT_EQ(ErrorOf("itsscale=-1:2"), "stream index over MAX_STREAMS(20)");
    EXPECT_EQ(ErrorOf("itsscale=1:2.5"), "");
    EXPECT_DOUBLE_EQ(Job.InputTsScale(0, 1), 2.5);
    EXPECT_EQ(ErrorOf("metadata=title"), "Missing =");
}

// Values whose later arithmetic (sums of times, scaled time stamps, padded sizes) would leave
// 64 or 32 bits are refused when read; the largest accepted ones are kept.
TEST_F(OptionLines, ValuesPastWhatTheirArithmeticHoldsAreRefused) {
    EXPECT_EQ(ErrorOf("t=1000000000\nss=-1000000000\nitsoffset=999999999.5"), "");
    EXPECT_EQ(Job.Settings().RecordingTime, 1000000000000000LL);
    EXPECT_EQ(Job.Settings().StartTime, -1000000000000000LL);
    EXPECT_EQ(ErrorOf("t=1000000001"), "Invalid duration specification for t: 1000000001");
    EXPECT_EQ(ErrorOf("ss=-9223372036854.775807"),
              "Invalid duration specification for ss: -9223372036854.775807");
    EXPECT_EQ(ErrorOf("itsoffset=9223372036854"),
              "Invalid duration specification for itsoffset: 9223372036854");
    EXPECT_EQ(Job.Settings().InputTsOffset, 999999999500000LL);  // the refused value did not land
    EXPECT_EQ(ErrorOf("timestamp=2200-01-01T00:00:00Z"), "");    // a date, not a duration
    EXPECT_EQ(Job.Settings().RecordingTimestamp, 7258118400LL);

    EXPECT_EQ(ErrorOf("itsscale=0:1000"), "");
    EXPECT_DOUBLE_EQ(Job.InputTsScale(0, 0), 1000.0);
    EXPECT_EQ(ErrorOf("itsscale=0:1000.5"), "Invalid time-stamp scale 0:1000.5 (from 0 to 1000)");
    EXPECT_EQ(ErrorOf("itsscale=1:-2"), "Invalid time-stamp scale 1:-2 (from 0 to 1000)");
    EXPECT_EQ(ErrorOf("itsscale=1:nan"), "Invalid time-stamp scale 1:nan (from 0 to 1000)");

    EXPECT_EQ(ErrorOf("padleft=65536\npadright=65536"), "");
    EXPECT_EQ(Job.Settings().PadLeft, 65536);
    EXPECT_EQ(ErrorOf("padtop=65537"), "Incorrect top pad size");
    EXPECT_EQ(ErrorOf("padright=2147483647"), "Incorrect right pad size");
    EXPECT_EQ(Job.Settings().PadTop, 0);

    EXPECT_EQ(ErrorOf("s=65536x32768"), "Incorrect frame size");
    EXPECT_EQ(ErrorOf("s=2147483646x2147483646"), "Incorrect frame size");
    EXPECT_EQ(ErrorOf("s=8192x4320"), "");
    EXPECT_EQ(Job.Settings().FrameWidth, 8192);

    // A coefficient past a long wrapped to a small one under atoi.
    std::string Matrix = "4294967304";
    for (int I = 1; I < 64; ++I) Matrix += ",8";
    EXPECT_EQ(ErrorOf("intra_matrix=" + Matrix),
              "Invalid coefficient in matrix \"" + Matrix + "\" at coeff 0");
    EXPECT_TRUE(Job.Settings().IntraMatrix.empty());
}

TEST_F(OptionLines, TheStreamMapTableHasABound) {
    std::string Text;
    for (int I = 0; I < kMaxStreamMaps; ++I) Text += "map=0.0\n";
    EXPECT_EQ(ErrorOf(Text), "");
    EXPECT_EQ(ErrorOf("map=0.0"), "Too many stream maps (at most 400)");
    EXPECT_EQ(Job.StreamMaps().size(), size_t(kMaxStreamMaps));
}

TEST_F(OptionLines, CodecsTagsAndMatrices) {
    EXPECT_EQ(ErrorOf("vcodec=copy\nacodec=libmp3lame\nscodec=mov_text"), "");
    EXPECT_TRUE(Job.Settings().VideoStreamCopy);
    EXPECT_EQ(Job.Settings().VideoCodecName, "");
    EXPECT_EQ(Job.Settings().AudioCodecName, "libmp3lame");
    EXPECT_EQ(ErrorOf("vtag=abc"), "video tag parameter must be 4 chars");
    EXPECT_EQ(ErrorOf("atag=abcde"), "audio tag parameter must be 4 chars");
    EXPECT_EQ(ErrorOf("stag="), "subtitle tag parameter must be 4 chars");
    EXPECT_EQ(ErrorOf("vtag=XVID"), "");
    EXPECT_EQ(Job.Settings().VideoCodecTag, 0x44495658u);

    std::string Matrix;
    for (int I = 1; I <= 64; ++I) Matrix += std::to_string(I) + (I < 64 ? "," : "");
    EXPECT_EQ(ErrorOf("intra_matrix=" + Matrix + ",99,100"), "");
    ASSERT_EQ(Job.Settings().IntraMatrix.size(), 64u);
    EXPECT_EQ(Job.Settings().IntraMatrix[0], 1);
    EXPECT_EQ(Job.Settings().IntraMatrix[63], 64);
    EXPECT_EQ(ErrorOf("inter_matrix=" + Matrix), "");  // no comma needed after the last value
    EXPECT_EQ(Job.Settings().InterMatrix[63], 64);
    EXPECT_EQ(ErrorOf("inter_matrix=1,2,3"), "Syntax error in matrix \"1,2,3\" at coeff 2");
}

// Rows that share a setter each reach their own field and leave their siblings alone: a row
// handled as another (the last of its group, say) shows as a change in the wrong slot.
TEST_F(OptionLines, RowsSharingASetterEachWriteTheirOwnField) {
    using TGroup = std::vector<std::string> (*)(const TJobSettings&);
    const TGroup Frames = [](const TJobSettings& S) {
        return std::vector<std::string>{std::to_string(S.MaxFrames[0]), std::to_string(S.MaxFrames[1]),
                                        std::to_string(S.MaxFrames[2])};
    };
    const TGroup Crops = [](const TJobSettings& S) {
        return std::vector<std::string>{std::to_string(S.CropTop), std::to_string(S.CropBottom),
                                        std::to_string(S.CropLeft), std::to_string(S.CropRight)};
    };
    const TGroup Codecs = [](const TJobSettings& S) {
        return std::vector<std::string>{S.VideoCodecName + (S.VideoStreamCopy ? "+copy" : ""),
                                        S.AudioCodecName + (S.AudioStreamCopy ? "+copy" : ""),
                                        S.SubtitleCodecName + (S.SubtitleStreamCopy ? "+copy" : "")};
    };
    const TGroup Tags = [](const TJobSettings& S) {
        return std::vector<std::string>{std::to_string(S.VideoCodecTag), std::to_string(S.AudioCodecTag),
                                        std::to_string(S.SubtitleCodecTag)};
    };
    const TGroup Matrices = [](const TJobSettings& S) {
        return std::vector<std::string>{std::to_string(S.IntraMatrix.size()),
                                        std::to_string(S.InterMatrix.size())};
    };
    const TGroup Filters = [](const TJobSettings& S) {
        return std::vector<std::string>{std::to_string(S.VideoBitstreamFilters.size()),
                                        std::to_string(S.AudioBitstreamFilters.size()),
                                        std::to_string(S.SubtitleBitstreamFilters.size())};
    };
    std::string Matrix = "8";
    for (int I = 1; I < 64; ++I) Matrix += ",8";
    const std::string Tag = std::to_string(MKTAG('A', 'B', 'C', 'D'));
    const struct {
        std::string Line;
        TGroup Group;
        size_t Slot;
        std::string Expected;
    } Cases[] = {
        {"vframes=7", Frames, 0, "7"},
        {"aframes=7", Frames, 1, "7"},
        {"dframes=7", Frames, 2, "7"},
        {"croptop=8", Crops, 0, "8"},
        {"cropbottom=8", Crops, 1, "8"},
        {"cropleft=8", Crops, 2, "8"},
        {"cropright=8", Crops, 3, "8"},
        {"vcodec=mpeg4", Codecs, 0, "mpeg4"},
        {"acodec=copy", Codecs, 1, "+copy"},
        {"scodec=mov_text", Codecs, 2, "mov_text"},
        {"vtag=ABCD", Tags, 0, Tag},
        {"atag=ABCD", Tags, 1, Tag},
        {"stag=ABCD", Tags, 2, Tag},
        {"intra_matrix=" + Matrix, Matrices, 0, "64"},
        {"inter_matrix=" + Matrix, Matrices, 1, "64"},
        {"vbsf=null", Filters, 0, "1"},
        {"absf=null", Filters, 1, "1"},
        {"sbsf=null", Filters, 2, "1"},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Line);
        Job.ResetJob();
        ASSERT_EQ(ErrorOf("s=640x480"), "");  // crops need a size to cut from
        std::vector<std::string> Expected = Case.Group(Job.Settings());
        Expected.at(Case.Slot) = Case.Expected;
        ASSERT_EQ(ErrorOf(Case.Line), "");
        EXPECT_EQ(Case.Group(Job.Settings()), Expected);
    }
}

TEST_F(OptionLines, FormatsAndPixelFormats) {
    EXPECT_EQ(ErrorOf("f=nosuch"), "Unknown input or output format: nosuch");
    EXPECT_EQ(ErrorOf("f=wav"), "");
    EXPECT_EQ(Job.Settings().InputFormatName, "wav");
    EXPECT_EQ(Job.Settings().OutputFormatName, "wav");
    EXPECT_EQ(ErrorOf("f=ipod"), "");  // a muxer only
    EXPECT_EQ(Job.Settings().InputFormatName, "");
    EXPECT_EQ(Job.Settings().OutputFormatName, "ipod");
    EXPECT_EQ(ErrorOf("f=pgmyuv"), "");
    EXPECT_TRUE(Job.Settings().PgmYuv);
    EXPECT_EQ(Job.Settings().OutputFormatName, "image2");
    EXPECT_TRUE(Logged("pgmyuv format is deprecated, use image2"));
    EXPECT_THROW(Job.SetInputFormat("ipod"), FFmpegException);
    try {
        Job.SetOutputFormat("nosuch");
    } catch (const FFmpegException& E) {
        EXPECT_STREQ(E.what(), "Unknown output format: nosuch");
    }

    EXPECT_EQ(ErrorOf("pix_fmt=nosuch"), "Unknown pixel format requested: nosuch");
    EXPECT_EQ(ErrorOf("pix_fmt=yuv422p\nsample_fmt=s16"), "");
    EXPECT_EQ(Job.Settings().FramePixFmt, AV_PIX_FMT_YUV422P);
    EXPECT_EQ(Job.Settings().AudioSampleFmt, AV_SAMPLE_FMT_S16);
    LogLines.clear();
    EXPECT_EQ(ErrorOf("pix_fmt=list"), "");
    EXPECT_GT(LogLines.size(), 60u);
    EXPECT_TRUE(Logged("yuv420p"));
}

TEST_F(OptionLines, BitstreamFiltersAndLogOnlyOptions) {
    EXPECT_EQ(ErrorOf("absf=nosuch"), "Unknown bitstream filter nosuch");
    EXPECT_EQ(ErrorOf("vbsf=h264_mp4toannexb\nvbsf==ignored\nabsf=\nvbsf=dump_extra=freq=keyframe"), "");
    ASSERT_EQ(Job.Settings().VideoBitstreamFilters.size(), 2u);
    EXPECT_EQ(Job.Settings().VideoBitstreamFilters[1].Name, "dump_extra");
    EXPECT_EQ(Job.Settings().VideoBitstreamFilters[1].Arguments, "freq=keyframe");
    EXPECT_TRUE(Job.Settings().AudioBitstreamFilters.empty());

    EXPECT_EQ(ErrorOf("y\nbenchmark=1"), "");
    EXPECT_TRUE(Logged("Do nothing: option - y"));
    EXPECT_TRUE(Logged("Do nothing: option - benchmark"));
    EXPECT_EQ(ErrorOf("vhook=/nonexistent/hook.so"),
              "Failed to add video hook function: /nonexistent/hook.so");
}

TEST_F(OptionLines, BitratesWarnWhenTooLow) {
    EXPECT_EQ(ErrorOf("b=64"), "");
    EXPECT_EQ(IntOption(Job.CodecOptions(omtVideo), "b"), 64);
    EXPECT_TRUE(
        Logged("WARNING: The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s"));
    LogLines.clear();
    EXPECT_EQ(ErrorOf("ab=128k\nvb=800000"), "");
    EXPECT_EQ(IntOption(Job.CodecOptions(omtAudio), "b"), 128000);
    EXPECT_EQ(IntOption(Job.CodecOptions(omtVideo), "b"), 800000);
    EXPECT_FALSE(Logged("set too low"));
    EXPECT_EQ(ErrorOf("ab=32"), "");
    EXPECT_TRUE(Logged("set too low"));
}

TEST_F(OptionLines, TextsLogLevelAndStatistics) {
    EXPECT_EQ(ErrorOf("alang=eng\nvfilters=\nvfilters=hflip\nvfilters=\npasslogfile=/tmp/x"), "");
    EXPECT_EQ(Job.Settings().AudioLanguage, "eng");
    EXPECT_EQ(Job.Settings().VideoFilters, "hflip");  // an empty value is ignored
    EXPECT_EQ(Job.Settings().PassLogFileName, "/tmp/x");
    EXPECT_EQ(ErrorOf("loglevel=WARNING"), "");
    EXPECT_EQ(GetLogger().LogLevel(), llWarning);
    EXPECT_EQ(ErrorOf("loglevel=abc"), "'abc' is not a valid integer value");
    EXPECT_EQ(ErrorOf("vstats"), "");
    const std::string& Name = Job.Settings().VStatsFileName;
    ASSERT_GE(Name.size(), 17u);
    EXPECT_EQ(Name.substr(Name.size() - 17, 7), "vstats_");
    EXPECT_EQ(Name.substr(Name.size() - 4), ".log");
    EXPECT_EQ(Name[0], '/');
}

TEST_F(OptionLines, UnknownNamesAreIgnored) {
    EXPECT_EQ(ErrorOf("bogus=1\nalso_bogus"), "");
    EXPECT_TRUE(Job.StoredOptionNames().empty());
}

}  // namespace
}  // namespace zembra::testing
