#include <gtest/gtest.h>

#include "binding/EntryPoints.h"
#include "binding/FFUtils.h"
#include "binding/FFmpegHolders.h"
#include "binding/FFmpegLoader.h"

namespace zembra {
namespace {

class FFUtilsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FFLoader().SetLibraryPath(DefaultLibraryFolder());
        ASSERT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
        Context.reset(lavc.avcodec_alloc_context3(nullptr));
        ASSERT_TRUE(Context);
    }
    TCodecContextPtr Context;
};

TEST_F(FFUtilsTest, CodecDescriptionNamesDecoderOrEncoder) {
    Context->codec_id = AV_CODEC_ID_PCM_S16LE;
    EXPECT_EQ(CodecDescription(Context.get(), false), "pcm_s16le(PCM signed 16-bit little-endian)");
    Context->codec_id = AV_CODEC_ID_MP3;
    const AVCodec* Encoder = lavc.avcodec_find_encoder(AV_CODEC_ID_MP3);
    ASSERT_NE(Encoder, nullptr);
    EXPECT_EQ(CodecDescription(Context.get(), true),
              std::string(Encoder->name) + "(" + Encoder->long_name + ")");
}

TEST_F(FFUtilsTest, CodecDescriptionFallbacks) {
    Context->codec_id = static_cast<AVCodecID>(0x20000);
    EXPECT_EQ(CodecDescription(Context.get(), false), "mpeg2ts");
    // No codec for the id: a printable tag is spelled out, lowest byte first.
    Context->codec_id = AV_CODEC_ID_NONE;
    Context->codec_tag = MKTAG('X', 'V', 'I', 'D');
    EXPECT_EQ(CodecDescription(Context.get(), false), "XVID / 0x44495658");
    Context->codec_tag = 0x0001;
    EXPECT_EQ(CodecDescription(Context.get(), false), "0x0001");
    // A known codec without an encoder here still has its descriptor name.
    Context->codec_id = AV_CODEC_ID_VP6;
    Context->codec_tag = 0;
    EXPECT_EQ(CodecDescription(Context.get(), true), "vp6");
    EXPECT_EQ(CodecDescription(static_cast<const AVCodecContext*>(nullptr), false), "");
}

TEST_F(FFUtilsTest, MetadataLookupIsExactWithDefault) {
    TDictionary Dict;
    ASSERT_GE(Dict.Set("title", "Song"), 0);
    ASSERT_GE(Dict.Set("Title", "Other", AV_DICT_MATCH_CASE), 0);
    EXPECT_EQ(GetMetadataValue(Dict.Get(), "title", "-"), "Song");
    EXPECT_EQ(GetMetadataValue(Dict.Get(), "Title", "-"), "Other");
    EXPECT_EQ(GetMetadataValue(Dict.Get(), "tit", "-"), "-");
    EXPECT_EQ(GetMetadataValue(nullptr, "title", "none"), "none");
    EXPECT_EQ(Dict.Count(), 2);
}

TEST_F(FFUtilsTest, ErrorTextComesFromTheLibrary) {
    EXPECT_EQ(ErrorText(AVERROR(ENOENT)), "No such file or directory");
    EXPECT_EQ(ErrorText(AVERROR_EOF), "End of file");
}

TEST_F(FFUtilsTest, OpenErrorsNameTheSystemsReasonWhereTheirTextDoesNot) {
    const struct {
        int Code;
        const char* Expected;
    } Cases[] = {
        {AVERROR(EMFILE), "a.wav: Error while opening file: Too many open files"},
        {AVERROR(ENFILE), "a.wav: Error while opening file: Too many open files in system"},
        {AVERROR(ENOSPC), "a.wav: Error while opening file: No space left on device"},
        {AVERROR(EACCES), "a.wav: Error while opening file: Permission denied"},
        {AVERROR(EROFS), "a.wav: Error while opening file: Read-only file system"},
        {AVERROR(ENAMETOOLONG), "a.wav: Error while opening file: File name too long"},
        // The classic texts that say the cause already stay as they are.
        {AVERROR(ENOENT), "a.wav: no such file or directory"},
        {AVERROR(ENOMEM), "a.wav: memory allocation error occurred"},
        {AVERROR_INVALIDDATA, "a.wav: Error while parsing header"},
        // Codes of the libraries' own are no system reason.
        {AVERROR_BUG, "a.wav: Error while opening file"},
    };
    for (const auto& C : Cases) EXPECT_EQ(OpenErrorWithReason(u"a.wav", C.Code), C.Expected) << C.Code;
    EXPECT_EQ(WithSystemReason("Could not open 'x'", AVERROR(ENOENT)),
              "Could not open 'x': No such file or directory");
    EXPECT_EQ(WithSystemReason("Could not open 'x'", 0), "Could not open 'x'");
}

// A write that fails says it was writing, whatever the cause: a full disk is no opening error.
TEST_F(FFUtilsTest, WriteErrorsSayWritingAndWhy) {
    const struct {
        int Code;
        const char* Expected;
    } Cases[] = {
        {AVERROR(ENOSPC), "w(): Error while writing: No space left on device"},
        {AVERROR(EFBIG), "w(): Error while writing: File too large"},
        {AVERROR(EIO), "w(): Error while writing: Input/output error"},
        {AVERROR(EINVAL), "w(): Error while writing: Invalid argument"},
        {AVERROR(ENOMEM), "w(): memory allocation error occurred"},
    };
    for (const auto& C : Cases) EXPECT_EQ(WriteErrorWithReason("w()", C.Code), C.Expected) << C.Code;
}

}  // namespace
TEST(Rational, ConversionAndComparison) {
    EXPECT_DOUBLE_EQ(RationalToDouble({30000, 1001}), 30000.0 / 1001.0);
    EXPECT_EQ(CompareRational({1, 2}, {2, 4}), 0);
    EXPECT_EQ(CompareRational({2, 3}, {1, 2}), 1);
    EXPECT_EQ(CompareRational({1, 3}, {1, 2}), -1);
    // 90000 * 30000 overflows 32 bits; the comparison must still be right.
    EXPECT_EQ(CompareRational({1, 90000}, {30000, 1001}), -1);
    EXPECT_EQ(CompareRational({90000, 1}, {1, 30000}), 1);
}

}  // namespace zembra
