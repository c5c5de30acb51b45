// The preview flags a conversion finds after a delivered picture are those the main thread
// left, whatever it changed while the picture was being delivered.

#include "tests/engine/TranscodeTestSupport.h"

namespace zembra::testing {
namespace {

using PreviewFlags = TranscodeTest;

TEST_F(PreviewFlags, ChangesDuringADeliveryStandAndOnlyWhatFailedGoesOff) {
    const std::string Avi = Sample(testmedia::TSampleKind::Avi);
    const struct {
        const char* Name;
        uint8_t Initial;
        int ChangeTo;  // set from inside the first delivery; -1: nothing
        uint8_t After;
        bool Delivered;
    } Cases[] = {
        {"bitmaps switched off", 2, 0, 0, true},
        {"window switched on beside bitmaps", 2, 3, 3, true},
        {"bitmaps kept", 2, -1, 2, true},
        // No window can be made here: that flag goes, the other one stays.
        {"window failing", 1, -1, 0, false},
    };
    for (const auto& Case : Cases) {
        SCOPED_TRACE(Case.Name);
        TFFmpeg Job;
        Job.ResetJob();
        Job.SetPreviewFlags(Case.Initial);
        int Deliveries = 0;
        Job.SetOnPreviewBitmap([&](TCustomFFmpeg& Sender, TBitmap& Bitmap, int32_t, int64_t) {
            EXPECT_EQ(Bitmap.Width(), 160);
            if (Deliveries++ == 0 && Case.ChangeTo >= 0)
                Sender.SetPreviewFlags(static_cast<uint8_t>(Case.ChangeTo));
        });
        ASSERT_EQ(Convert({Avi}, Path("preview.avi"), "", "an", false, &Job), "");
        EXPECT_EQ(Job.PreviewFlags(), Case.After);
        EXPECT_EQ(Deliveries > 0, Case.Delivered);
        EXPECT_EQ(Facts(Path("preview.avi")).Streams[0].PacketCount, 25);
    }
}

// A cover picture is copied as it is: the preview never sees it and does not stand in its way,
// while a film that is copied still cannot be previewed.
TEST_F(PreviewFlags, ACopiedCoverIsNeverPreviewedAndACopiedFilmCannotBe) {
    testmedia::TClipSpec Song{.Path = Path("song.flac"),
                              .Videos = {{.Encoder = "mjpeg", .FrameCount = 1, .AttachedPicture = true}},
                              .Audios = {{.Encoder = "flac", .Duration = 0.5}}};
    ASSERT_EQ(testmedia::WriteClip(Song), "");
    TFFmpeg Job;
    Job.ResetJob();
    Job.SetPreviewFlags(2);
    int Deliveries = 0;
    Job.SetOnPreviewBitmap([&](TCustomFFmpeg&, TBitmap&, int32_t, int64_t) { ++Deliveries; });
    ASSERT_EQ(Convert({Song.Path}, Path("song.mp3"), "", "copy_cover=1", false, &Job), "");
    EXPECT_TRUE(Result.Finished) << Result.Message;
    EXPECT_EQ(Deliveries, 0);
    int Covers = 0;
    for (const auto& St : Facts(Path("song.mp3")).Streams) Covers += St.CodecId == AV_CODEC_ID_MJPEG;
    EXPECT_EQ(Covers, 1);

    TFFmpeg Film;
    Film.ResetJob();
    Film.SetPreviewFlags(2);
    Film.SetOnPreviewBitmap([](TCustomFFmpeg&, TBitmap&, int32_t, int64_t) {});
    const std::string Failure = Convert({Sample(testmedia::TSampleKind::Avi)}, Path("copied.avi"), "",
                                        "vcodec=copy\nan=1", false, &Film);
    EXPECT_NE(Failure.find("-vcodec copy and PostHooks are incompatible"), std::string::npos) << Failure;
}

}  // namespace
}  // namespace zembra::testing
