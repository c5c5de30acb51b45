#include <gtest/gtest.h>

#include <string>

#include "app/OptionBuilder.h"
#include "app/SoundCopyDecision.h"
#include "util/StringUtils.h"

namespace zembra::testing {
namespace {

TSourceSound Sound(AVCodecID Codec, const char* Name = "") {
    return {true, Codec, Name, 44100, 2};
}

TEST(SoundCopyDecision, EveryCodecOfTheTableCopiesIntoItsFormatsOnlyAndTheReasonNamesBoth) {
    const char* Formats[] = {"mp3",  "mp2", "wma", "ogg", "aac", "m4a",
                             "flac", "ac3", "wav", "au",  "ra",  "mkv"};
    int Copies = 0;
    for (const TSoundCopyRule& Rule : SoundCopyRules()) {
        const std::string Fits = std::string(" ") + Rule.Formats + " ";
        for (const char* Format : Formats) {
            SCOPED_TRACE(std::string(Rule.Label) + " -> " + Format);
            // The format in any case, as the dialog's list spells it.
            const TSoundCopyDecision D = DecideSoundCopy(Sound(Rule.Codec), {.Format = UpperCase(Format)});
            const bool Expected = Fits.find(std::string(" ") + Format + " ") != std::string::npos;
            EXPECT_EQ(D.Copy, Expected);
            EXPECT_EQ(D.Text(), Expected
                                    ? std::string("copied: ") + Rule.Label + " fits in " + Format
                                    : std::string("encoded: ") + Rule.Label + " does not fit in " + Format);
            Copies += D.Copy;
        }
    }
    EXPECT_EQ(Copies, 24);  // 21 codecs, AAC, A-law and mu-law in two formats each
    // A codec outside the table is named as the libraries name it.
    EXPECT_EQ(
        DecideSoundCopy(Sound(AV_CODEC_ID_PCM_S16LE_PLANAR, "pcm_s16le_planar"), {.Format = "wav"}).Text(),
        "encoded: pcm_s16le_planar does not fit in wav");
    EXPECT_EQ(DecideSoundCopy(Sound(AV_CODEC_ID_PCM_S16LE), {.Format = "au"}).Text(),
              "encoded: PCM s16le does not fit in au");
}

TEST(SoundCopyDecision, EachSettingThatNeedsTheSamplesEncodesAndACutStillCopies) {
    const TSourceSound Aac = Sound(AV_CODEC_ID_AAC);
    const struct {
        TSoundRequest Request;
        const char* Text;
    } Cases[] = {
        {{.Format = "m4a"}, "copied: AAC fits in m4a"},
        {{.Format = "m4a", .Encoder = "aac"}, "copied: AAC fits in m4a"},
        {{.Format = "aac", .Encoder = "libfdk_aac"}, "copied: AAC fits in aac"},
        {{.Format = "m4a", .Encoder = "alac"}, "encoded: encoder alac chosen"},
        {{.Format = "m4a", .SampleRate = true}, "encoded: sample rate set"},
        {{.Format = "m4a", .Channels = true}, "encoded: channels set"},
        {{.Format = "m4a", .Volume = true}, "encoded: volume set"},
        {{.Format = "m4a", .BitRate = true}, "encoded: bit rate set"},
        {{.Format = "m4a", .Quality = true}, "encoded: quality set"},
        {{.Format = "m4a", .SoundOption = "ar"}, "encoded: option ar set"},
        {{.Format = "m4a", .Cut = true}, "copied: AAC fits in m4a, cut at packets, not samples"},
        {{.Format = "mp3", .Volume = true}, "encoded: AAC does not fit in mp3"},
    };
    for (const auto& C : Cases) {
        const TSoundCopyDecision D = DecideSoundCopy(Aac, C.Request);
        EXPECT_EQ(D.Text(), C.Text);
        EXPECT_EQ(D.Copy, std::string(C.Text).starts_with("copied"));
    }
    for (const char* Name : {"ar", "ac", "ab", "aq", "vol", "async", "acodec", "apre", "sample_fmt"})
        EXPECT_TRUE(IsSoundOptionName(Name)) << Name;
    for (const char* Name : {"vcodec", "map_meta_data", "copy_cover", "absf", "a"})
        EXPECT_FALSE(IsSoundOptionName(Name)) << Name;
}

// Copying parameters nobody could read would write a file no player opens.
TEST(SoundCopyDecision, ASourceWhoseSoundIsNotKnownIsEncoded) {
    const struct {
        TSourceSound Source;
        const char* Text;
    } Cases[] = {
        {{}, "encoded: the source has no sound"},
        {{true, AV_CODEC_ID_NONE, "none", 44100, 2}, "encoded: the source's sound is not known"},
        {{true, AV_CODEC_ID_AAC, "aac", -1, 2}, "encoded: the source's sound is not known"},
        {{true, AV_CODEC_ID_AAC, "aac", 44100, -1}, "encoded: the source's sound is not known"},
    };
    for (const auto& C : Cases) EXPECT_EQ(DecideSoundCopy(C.Source, {.Format = "m4a"}).Text(), C.Text);
}

TEST(SoundCopyDecision, TheDialogsChoicesCopyOnlyWhenTheBoxIsChecked) {
    TSourceInfo Source;
    Source.FileName = u"/music/song.ogg";
    Source.Duration = 10'000'000;
    Source.Sound = Sound(AV_CODEC_ID_VORBIS);
    TBuildContext Context;
    Context.FileExists = [](const std::u16string&) { return false; };
    Context.HookFolder = u"/nowhere/";

    // The dialog's request: its own rules, and the copy box unchecked.
    TConversionRequest C{
        .Format = "Ogg", .KeepVideo = true, .Reencode = true, .NoTags = true, .NoCover = true};
    // Unchecked: the dialog's own rules (FLAC in ogg) hold, though the decision would copy.
    EXPECT_EQ(SoundCopyFor(C, Source).Text(), "copied: Vorbis fits in ogg");
    TOutputOptions O = BuildTaskRecords(C, Source, Context).Out;
    EXPECT_EQ(O.AudioCodec, "flac");
    EXPECT_EQ(O.OptionLines.find("acodec=copy"), std::string::npos);

    C.Reencode = false;
    O = BuildTaskRecords(C, Source, Context).Out;
    EXPECT_EQ(O.AudioCodec, "");
    EXPECT_EQ(O.VideoCodec, "libtheora");
    EXPECT_TRUE(O.OptionLines.ends_with("acodec=copy\r\n")) << O.OptionLines;

    // The window's Ogg writes FLAC, so a FLAC source's packets fit it as they are.
    TSourceInfo FlacSource = Source;
    FlacSource.Sound.CodecId = AV_CODEC_ID_FLAC;
    EXPECT_EQ(SoundCopyFor(C, FlacSource).Text(), "copied: FLAC fits in ogg");

    // With the tags kept the line follows theirs.
    C.NoTags = C.NoCover = false;
    O = BuildTaskRecords(C, Source, Context).Out;
    EXPECT_EQ(O.OptionLines, "map_meta_data=0:0\r\ncopy_cover=1\r\nacodec=copy\r\n");

    // Each choice that needs the samples turns the answer; the cut keeps it.
    const struct {
        void (*Set)(TConversionRequest&);
        const char* Text;
    } Turns[] = {
        {[](TConversionRequest& X) { X.Rate = 22050; }, "encoded: sample rate set"},
        {[](TConversionRequest& X) { X.Channels = 1; }, "encoded: channels set"},
        {[](TConversionRequest& X) { X.Volume = 300; }, "encoded: volume set"},
        {[](TConversionRequest& X) { X.Volume = 256; }, "copied: Vorbis fits in ogg"},  // unchanged
        {[](TConversionRequest& X) { X.Bitrate = 64; }, "encoded: bit rate set"},
        {[](TConversionRequest& X) { X.Codec = "libmp3lame"; }, "encoded: encoder libmp3lame chosen"},
        {[](TConversionRequest& X) { X.Format = "Mp3"; }, "encoded: Vorbis does not fit in mp3"},
        {[](TConversionRequest& X) {
             X.Cut = TCutRequest{1000, 2000};
         },
         "copied: Vorbis fits in ogg, cut at packets, not samples"},
    };
    for (const auto& T : Turns) {
        TConversionRequest X{.Format = "Ogg", .KeepVideo = true};
        T.Set(X);
        EXPECT_EQ(SoundCopyFor(X, Source).Text(), T.Text);
        const TOutputOptions Out = BuildTaskRecords(X, Source, Context).Out;
        EXPECT_EQ(Out.OptionLines.find("acodec=copy") != std::string::npos, SoundCopyFor(X, Source).Copy)
            << T.Text;
    }
}

}  // namespace
}  // namespace zembra::testing
