#include <dlfcn.h>

#include <cstdlib>
#include <sstream>

#include "tests/engine/TranscodeTestSupport.h"

namespace zembra::testing {
namespace {

using testmedia::TSampleKind;

// The recording test module notes every call; the tests read its notes through the module.
class HookTranscode : public TranscodeTest {
  protected:
    void SetUp() override {
        TranscodeTest::SetUp();
        Module = std::string(ZEMBRA_TEST_HOOK_DIR) + "/RecorderHook.so";
        Handle = ::dlopen(Module.c_str(), RTLD_NOW);
        ASSERT_NE(Handle, nullptr) << ::dlerror();
        Trace = reinterpret_cast<const char* (*)()>(::dlsym(Handle, "RecorderTrace"));
        auto Reset = reinterpret_cast<void (*)()>(::dlsym(Handle, "RecorderReset"));
        ASSERT_TRUE(Trace && Reset);
        Reset();
    }
    void TearDown() override {
        if (Handle) ::dlclose(Handle);
        TranscodeTest::TearDown();
    }
    // Presentation times (µs) of the pictures the module processed.
    std::vector<int64_t> ProcessedTimes() const {
        std::vector<int64_t> Times;
        std::stringstream In(Trace());
        std::string Item;
        while (std::getline(In, Item, ';')) {
            const size_t P = Item.find(" pts=");
            if (Item.rfind("process", 0) == 0 && P != std::string::npos)
                Times.push_back(std::strtoll(Item.c_str() + P + 5, nullptr, 10));
        }
        return Times;
    }
    // A long, tiny clip: 25 s at 2 pictures a second.
    std::string SlowClip() {
        testmedia::TClipSpec Spec;
        Spec.Path = Path("slow.avi");
        testmedia::TVideoSpec Video;
        Video.Width = 32;
        Video.Height = 32;
        Video.FrameRate = {2, 1};
        Video.FrameCount = 50;
        Spec.Videos.push_back(Video);
        EXPECT_EQ(testmedia::WriteClip(Spec), "");
        return Spec.Path;
    }

    std::string Module;
    void* Handle = nullptr;
    const char* (*Trace)() = nullptr;
};

TEST_F(HookTranscode, TimeRangesLimitTheModules) {
    TFFmpeg J;
    J.ResetJob();
    J.SetPTSPeriods({{10000000, 20000000}});
    ASSERT_EQ(Convert({SlowClip()}, Path("ranged.avi"), "", "vhook=" + Module, false, &J), "");
    const std::vector<int64_t> Times = ProcessedTimes();
    ASSERT_EQ(Times.size(), 21u);  // 10.0 s, 10.5 s ... 20.0 s
    for (int64_t T : Times) {
        EXPECT_GE(T, 10000000);
        EXPECT_LE(T, 20000000);
    }
}

TEST_F(HookTranscode, BeforeHookDecidesPerFrame) {
    TFFmpeg J;
    J.ResetJob();
    int Calls = 0;
    J.SetOnBeforeHook([&](TCustomFFmpeg&, int64_t, THookAction& Action) {
        ++Calls;
        Action = Calls % 2 == 0 ? haIgnore : haContinue;  // every other frame is skipped
        if (Calls == 20) Action = haStop;                 // and from the 20th on, all of them
    });
    ASSERT_EQ(Convert({SlowClip()}, Path("before.avi"), "", "vhook=" + Module, false, &J), "");
    EXPECT_EQ(Calls, 20);
    EXPECT_EQ(ProcessedTimes().size(), 10u);
}

TEST_F(HookTranscode, AHandlerThatThrowsStopsTheHooksNotTheRun) {
    TFFmpeg J;
    J.ResetJob();
    J.SetOnBeforeHook([&](TCustomFFmpeg&, int64_t, THookAction&) { throw std::runtime_error("oops"); });
    ASSERT_EQ(Convert({SlowClip()}, Path("thrown.avi"), "", "vhook=" + Module, false, &J), "");
    EXPECT_TRUE(Logged("Error occurs OnBeforeHook: oops"));
    EXPECT_TRUE(ProcessedTimes().empty());
    EXPECT_EQ(Facts(Path("thrown.avi")).Streams[0].PacketCount, 50);
}

TEST_F(HookTranscode, TheOverlayModuleChangesThePicture) {
    const std::string Avi = Sample(TSampleKind::Avi);
    const std::string Vhook = std::string(ZEMBRA_VHOOK_DIR);
    ASSERT_EQ(Convert({Avi}, Path("plain.avi"), "", "an\nqscale=2"), "");
    ASSERT_EQ(Convert({Avi}, Path("overlay.avi"), "",
                      "an\nqscale=2\nvhook=" + Vhook + "/imlib2.so -i imlib2.jpg -x 0 -y 0"),
              "");
    std::vector<testmedia::TRgbPicture> Plain, Overlay;
    ASSERT_EQ(testmedia::DecodeVideo(Path("plain.avi"), 0, 1, Plain), "");
    ASSERT_EQ(testmedia::DecodeVideo(Path("overlay.avi"), 0, 1, Overlay), "");
    ASSERT_FALSE(Plain.empty() || Overlay.empty());
    int Changed = 0;
    for (int Y = 0; Y < 16; ++Y)
        for (int X = 0; X < 16; ++X) {
            const auto A = Plain[0].At(X, Y), B = Overlay[0].At(X, Y);
            Changed += std::abs(A.R - B.R) + std::abs(A.G - B.G) + std::abs(A.B - B.B) > 60;
        }
    EXPECT_GT(Changed, 64);  // the picture's corner is drawn over
    EXPECT_EQ(Convert({Avi}, Path("copy.avi"), "", "an\nvcodec=copy\nvhook=" + Module),
              "-vcodec copy and -vhook are incompatible (frames are not decoded)");
    EXPECT_EQ(Convert({Avi}, Path("missing.avi"), "", "vhook=/nonexistent/hook.so"),
              "Failed to add video hook function: /nonexistent/hook.so");
}

}  // namespace
}  // namespace zembra::testing
