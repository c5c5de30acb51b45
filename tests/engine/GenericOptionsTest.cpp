#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "binding/EntryPoints.h"
#include "engine/LegacyOptionMap.h"
#include "engine/OptionValues.h"
#include "engine/Presets.h"
#include "tests/engine/EngineTestSupport.h"

namespace zembra::testing {
namespace {

using GenericOptions = EngineTest;

TEST_F(GenericOptions, CodecFormatAndScalerContexts) {
    EXPECT_TRUE(Job.SetGenericOption("g", "30"));
    EXPECT_EQ(Job.CodecOptions(omtVideo)->gop_size, 30);
    EXPECT_NE(Job.CodecOptions(omtAudio)->gop_size, 30);  // not an audio option
    EXPECT_TRUE(Job.SetGenericOption(" probesize ", " 5000 "));
    EXPECT_EQ(Job.FormatOptions()->probesize, 5000);
    EXPECT_TRUE(Job.SetGenericOption("sws_flags", "bilinear"));
    EXPECT_EQ(IntOption(Job.ScalerOptions(), "sws_flags"), SWS_BILINEAR);
    EXPECT_EQ(Job.StoredOptionNames(), (std::vector<std::string>{"g", "probesize", "sws_flags"}));
    EXPECT_FALSE(Job.SetGenericOption("g", ""));
    EXPECT_FALSE(Job.SetGenericOption("", "1"));
    EXPECT_FALSE(Job.SetGenericOption("nosuchoption", "1"));
}

TEST_F(GenericOptions, PrefixPicksTheKindsContext) {
    EXPECT_TRUE(Job.SetGenericOption("vmaxrate", "1000000"));
    EXPECT_EQ(Job.CodecOptions(omtVideo)->rc_max_rate, 1000000);
    EXPECT_EQ(Job.CodecOptions(omtAudio)->rc_max_rate, 0);
    EXPECT_TRUE(Job.SetGenericOption("abufsize", "4096"));
    EXPECT_EQ(Job.CodecOptions(omtAudio)->rc_buffer_size, 4096);
    EXPECT_EQ(Job.CodecOptions(omtVideo)->rc_buffer_size, 0);
}

TEST_F(GenericOptions, RejectedValueIsLoggedThroughTheLibrary) {
    EXPECT_FALSE(Job.SetGenericOption("g", "abc"));
    EXPECT_TRUE(Logged("Invalid value \"abc\" for option \"g\""));
    EXPECT_TRUE(Job.StoredOptionNames().empty());
}

TEST_F(GenericOptions, DebugTurnsTheLoggerToDebug) {
    ASSERT_EQ(GetLogger().LogLevel(), llInfo);
    EXPECT_TRUE(Job.SetGenericOption("debug", "pict"));
    EXPECT_EQ(GetLogger().LogLevel(), llDebug);
}

TEST_F(GenericOptions, PrivateCodecOptionsAreKeptForTheCodec) {
    EXPECT_TRUE(Job.SetGenericOption("crf", "20"));
    EXPECT_EQ(PrivateOption(omtVideo, "crf"), "20");
    EXPECT_FALSE(Job.SetGenericOption("crf", "abc"));
    EXPECT_TRUE(Logged("Invalid value \"abc\" for option \"crf\""));
    EXPECT_EQ(PrivateOption(omtVideo, "crf"), "20");
    EXPECT_TRUE(Job.SetGenericOption("compression_level", "5"));  // a generic one stays generic
    EXPECT_EQ(Job.CodecOptions(omtAudio)->compression_level, 5);
}

TEST_F(GenericOptions, StoredOptionsCopyByFlagMask) {
    ASSERT_TRUE(Job.SetGenericOption("g", "30"));
    ASSERT_TRUE(Job.SetGenericOption("b", "64000"));
    TCodecContextPtr Video(lavc.avcodec_alloc_context3(nullptr));
    TCodecContextPtr Audio(lavc.avcodec_alloc_context3(nullptr));
    const int VideoEncoding = AV_OPT_FLAG_VIDEO_PARAM | AV_OPT_FLAG_ENCODING_PARAM;
    const int AudioEncoding = AV_OPT_FLAG_AUDIO_PARAM | AV_OPT_FLAG_ENCODING_PARAM;
    Job.ApplyStoredOptions(Video.get(), Job.CodecOptions(omtVideo), VideoEncoding);
    Job.ApplyStoredOptions(Audio.get(), Job.CodecOptions(omtAudio), AudioEncoding);
    EXPECT_EQ(Video->gop_size, 30);
    EXPECT_EQ(Video->bit_rate, 64000);
    EXPECT_NE(Audio->gop_size, 30);
    EXPECT_EQ(Audio->bit_rate, 64000);
}

TEST_F(GenericOptions, OldX264NamesReachTheirPresentDayOptions) {
    EXPECT_TRUE(Job.SetGenericOption("flags2", "-wpred-dct8x8+fast"));
    EXPECT_EQ(PrivateOption(omtVideo, "weightb"), "0");
    EXPECT_EQ(PrivateOption(omtVideo, "8x8dct"), "0");
    EXPECT_EQ(IntOption(Job.CodecOptions(omtVideo), "flags2") & AV_CODEC_FLAG2_FAST, AV_CODEC_FLAG2_FAST);
    EXPECT_TRUE(Job.SetGenericOption("partitions", "+parti8x8+parti4x4-parti8x8+partb8x8"));
    EXPECT_EQ(PrivateOption(omtVideo, "partitions"), "i4x4,b8x8");
    EXPECT_TRUE(Job.SetGenericOption("directpred", "3"));
    EXPECT_EQ(PrivateOption(omtVideo, "direct-pred"), "auto");
    EXPECT_TRUE(Job.SetGenericOption("cqp", "0"));
    EXPECT_EQ(PrivateOption(omtVideo, "qp"), "0");
    EXPECT_TRUE(Job.SetGenericOption("me_method", "umh"));
    EXPECT_EQ(PrivateOption(omtVideo, "me_method"), "umh");
}

TEST(LegacyOptionMap, Translations) {
    EXPECT_EQ(TranslateLegacyOption("g", "12"), std::nullopt);
    EXPECT_EQ(TranslateLegacyOption("flags2", "+fast"), std::nullopt);
    EXPECT_EQ(TranslateLegacyOption("partitions", "i4x4,p8x8"), std::nullopt);  // already present-day
    using V = std::vector<TOptionSetting>;
    EXPECT_EQ(TranslateLegacyOption("partitions", "-parti8x8-parti4x4"), (V{{"partitions", "none"}}));
    EXPECT_EQ(TranslateLegacyOption("flags2", "-bpyramid+fastpskip"),
              (V{{"b-pyramid", "none"}, {"fast-pskip", "1"}}));
    EXPECT_EQ(TranslateLegacyOption("flags2", "+fast-wpred"), (V{{"flags2", "+fast"}, {"weightb", "0"}}));
    EXPECT_EQ(TranslateLegacyOption("directpred", "7"), (V{{"direct-pred", "7"}}));
}

TEST_F(GenericOptions, EveryBuiltInPresetApplies) {
    const char* Names[] = {"baseline",
                           "default",
                           "fastfirstpass",
                           "hq",
                           "ipod320",
                           "ipod640",
                           "lossless_fast",
                           "lossless_max",
                           "lossless_medium",
                           "lossless_slow",
                           "lossless_slower",
                           "lossless_ultrafast",
                           "main",
                           "max",
                           "normal",
                           "slowfirstpass"};
    EXPECT_EQ(BuiltInPresetCount(), 16);
    for (const char* Name : Names) {
        Job.ResetJob();
        ASSERT_EQ(ErrorOf("vcodec=libx264\nvpre=" + std::string(Name), kPhaseOrdinary), "") << Name;
        ASSERT_EQ(ErrorOf("vpre=" + std::string(Name), kPhasePresets), "") << Name;
    }
}

TEST_F(GenericOptions, PresetByCodecNameAndCase) {
    ASSERT_EQ(ErrorOf("vcodec=libx264"), "");
    Job.LoadPreset("vpre", "normal");
    AVCodecContext* V = Job.CodecOptions(omtVideo);
    EXPECT_EQ(V->me_subpel_quality, 6);
    EXPECT_EQ(V->refs, 2);
    EXPECT_EQ(V->max_b_frames, 3);
    EXPECT_EQ(V->gop_size, 250);
    EXPECT_FLOAT_EQ(V->i_quant_factor, 0.71f);
    EXPECT_EQ(PrivateOption(omtVideo, "me_method"), "hex");
    EXPECT_EQ(PrivateOption(omtVideo, "direct-pred"), "auto");
    EXPECT_EQ(PrivateOption(omtVideo, "weightb"), "1");
    EXPECT_EQ(PrivateOption(omtVideo, "partitions"), "i8x8,i4x4,p8x8,b8x8");

    Job.LoadPreset("vpre", "LIBX264-MAIN");
    EXPECT_EQ(PrivateOption(omtVideo, "8x8dct"), "0");
}

TEST_F(GenericOptions, PresetFailures) {
    try {
        Job.LoadPreset("vpre", "normal");
        FAIL();
    } catch (const FFmpegException& E) {
        EXPECT_STREQ(E.what(), "Preset \"normal\" not found");
    }
    ASSERT_EQ(ErrorOf("acodec=libmp3lame"), "");
    EXPECT_EQ(ErrorOf("apre=fast", kPhasePresets), "Preset \"libmp3lame-fast\" not found");
}

class PresetFiles : public EngineTest {
  protected:
    void SetUp() override {
        EngineTest::SetUp();
        char Pattern[] = "/tmp/zembra-preset-XXXXXX";
        ASSERT_NE(::mkdtemp(Pattern), nullptr);
        Dir = Pattern;
    }
    void TearDown() override {
        std::filesystem::remove_all(Dir);
        EngineTest::TearDown();
    }
    std::string Write(const std::string& Name, const std::string& Content) {
        const std::string Path = Dir + "/" + Name;
        std::ofstream(Path, std::ios::binary) << Content;
        return Path;
    }
    std::string Dir;
};

TEST_F(PresetFiles, AFilePresetApplies) {
    const std::string Path = Write("mine.ffpreset", "  g=33\r\n\r\n qmin=3 \nvcodec=mpeg4\n");
    EXPECT_EQ(ErrorOf("vpre=" + Path, kPhasePresets), "");
    EXPECT_EQ(Job.CodecOptions(omtVideo)->gop_size, 33);
    EXPECT_EQ(Job.CodecOptions(omtVideo)->qmin, 3);
    EXPECT_EQ(Job.Settings().VideoCodecName, "mpeg4");
}

TEST_F(PresetFiles, BadFilePresets) {
    const std::string Empty = Write("empty", "");
    EXPECT_EQ(ErrorOf("vpre=" + Empty, kPhasePresets), "Preset \"" + Empty + "\" not found");
    const std::string NoValue = Write("novalue", "g=5\nqmin\n");
    EXPECT_EQ(ErrorOf("vpre=" + NoValue, kPhasePresets), NoValue + ": Invalid syntax: \"qmin\"");
    EXPECT_EQ(Job.CodecOptions(omtVideo)->gop_size, 5);  // lines before the fault stay applied
    const std::string Bogus = Write("bogus", "bogus=1\n");
    EXPECT_EQ(ErrorOf("vpre=" + Bogus, kPhasePresets),
              Bogus + ": Invalid option or argument: \"bogus=1\", parsed as \"bogus\" = \"1\"");
}

TEST(OptionValues, IntegerConversion) {
    EXPECT_EQ(StrToInt("42"), 42);
    EXPECT_EQ(StrToInt("  -7"), -7);
    EXPECT_EQ(StrToInt("+$ff"), 255);
    EXPECT_EQ(StrToInt("0X1f"), 31);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_THROW(StrToInt("2147483648"), EConvertError);
    EXPECT_THROW(StrToInt(""), EConvertError);
    EXPECT_THROW(StrToInt("0x"), EConvertError);
    EXPECT_THROW(StrToInt("1.5"), EConvertError);
    EXPECT_THROW(StrToInt("12a"), EConvertError);
    EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
    EXPECT_EQ(StrToIntDef("x", -1), -1);
}

TEST(OptionValues, FloatConversion) {
    EXPECT_DOUBLE_EQ(StrToFloat(" 0.25 "), 0.25);
    EXPECT_DOUBLE_EQ(StrToFloat("-1e3"), -1000.0);
    EXPECT_THROW(StrToFloat("abc"), EConvertError);
    EXPECT_THROW(StrToFloat(""), EConvertError);
    EXPECT_THROW(StrToFloat("inf"), EConvertError);
    EXPECT_THROW(StrToFloat("1,5"), EConvertError);
    try {
        StrToFloat("x1");
    } catch (const EConvertError& E) {
        EXPECT_STREQ(E.what(), "'x1' is not a valid floating point value");
    }
}

TEST(OptionValues, ReadNumbersLikeTheCLibrary) {
    size_t P = 0;
    EXPECT_EQ(ReadLong("0x10:7", P), 16);
    EXPECT_EQ(P, 4u);
    P = 5;
    EXPECT_EQ(ReadLong("0x10:7", P), 7);
    P = 0;
    EXPECT_EQ(ReadLong("abc", P), 0);
    EXPECT_EQ(P, 0u);
    P = 2;
    EXPECT_DOUBLE_EQ(ReadDouble("1:2.5", P), 2.5);
}

}  // namespace
}  // namespace zembra::testing
