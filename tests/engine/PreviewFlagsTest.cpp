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

}  // namespace
}  // namespace zembra::testing
