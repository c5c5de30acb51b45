#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "logging/FFmpegLogger.h"
#include "probe/AVProbe.h"
#include "tests/media/TestMedia.h"
#include "tests/media/TestPattern.h"
#include "util/Bitmap.h"
#include "util/StringUtils.h"

namespace zembra::probetest {

namespace fs = std::filesystem;
using testmedia::TAudioSpec;
using testmedia::TClipSpec;
using testmedia::TRgb;
using testmedia::TVideoSpec;

inline TVideoSpec VideoClip(const char* Encoder, int Width, int Height, int FrameCount,
                            AVRational FrameRate = AVRational{25, 1},
                            AVPixelFormat PixelFormat = AV_PIX_FMT_NONE) {
    TVideoSpec Spec;
    Spec.Encoder = Encoder;
    Spec.Width = Width;
    Spec.Height = Height;
    Spec.FrameCount = FrameCount;
    Spec.FrameRate = FrameRate;
    Spec.PixelFormat = PixelFormat;
    return Spec;
}

inline TAudioSpec AudioClip(const char* Encoder, int SampleRate, int Channels, double Duration = 1.0) {
    TAudioSpec Spec;
    Spec.Encoder = Encoder;
    Spec.SampleRate = SampleRate;
    Spec.Channels = Channels;
    Spec.Duration = Duration;
    return Spec;
}

// The pixel at (X, Y) of a BGR bitmap, as RGB.
inline TRgb PixelAt(const TBitmap& Bitmap, int X, int Y) {
    const uint8_t* P = Bitmap.ScanLine(Y) + 3 * X;
    return TRgb{P[2], P[1], P[0]};
}

// The frame number painted into a picture by the clip generator (-1 when unreadable).
inline int FrameCounterOf(const TBitmap& Bitmap) {
    if (Bitmap.Empty()) return -1;
    std::vector<uint8_t> Rgb(static_cast<size_t>(Bitmap.Width()) * 3 * Bitmap.Height());
    for (int Y = 0; Y < Bitmap.Height(); ++Y)
        for (int X = 0; X < Bitmap.Width(); ++X) {
            const TRgb C = PixelAt(Bitmap, X, Y);
            uint8_t* P = Rgb.data() + (static_cast<size_t>(Y) * Bitmap.Width() + X) * 3;
            P[0] = C.R;
            P[1] = C.G;
            P[2] = C.B;
        }
    return testmedia::ReadFrameCounter(Rgb.data(), Bitmap.Width() * 3, Bitmap.Width(), Bitmap.Height());
}

// Each bar's middle, away from the edges that chroma subsampling smears, has the bar's colour.
inline void ExpectBars(const TBitmap& Bitmap, int Tolerance) {
    ASSERT_FALSE(Bitmap.Empty());
    const int Y = testmedia::CounterTop(Bitmap.Height()) / 2;
    const size_t Bars = testmedia::kBarColours.size();
    for (size_t Bar = 0; Bar < Bars; ++Bar) {
        const int X = static_cast<int>((2 * Bar + 1) * Bitmap.Width() / (2 * Bars));
        const TRgb Expected = testmedia::ExpectedBarColour(X, Bitmap.Width());
        const TRgb Got = PixelAt(Bitmap, X, Y);
        EXPECT_NEAR(Got.R, Expected.R, Tolerance) << "bar " << Bar;
        EXPECT_NEAR(Got.G, Expected.G, Tolerance) << "bar " << Bar;
        EXPECT_NEAR(Got.B, Expected.B, Tolerance) << "bar " << Bar;
    }
}

inline bool AllBlack(const TBitmap& Bitmap) {
    for (int Y = 0; Y < Bitmap.Height(); ++Y)
        for (int X = 0; X < Bitmap.Width(); ++X)
            if (!(PixelAt(Bitmap, X, Y) == TRgb{0, 0, 0})) return false;
    return true;
}

// Loads the libraries, gives each test a folder of its own and records every log line.
class ProbeTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        FFLoader().SetLibraryPath(DefaultLibraryFolder());
        LoadError() = FFLoader().LoadLibrarySet(kDefaultLibrarySet) ? "" : FFLoader().LastError();
    }

    void SetUp() override {
        ASSERT_EQ(LoadError(), "") << "the FFmpeg libraries did not load";
        const auto* Info = ::testing::UnitTest::GetInstance()->current_test_info();
        Folder = fs::temp_directory_path() /
                 ("zembra-probe-" + std::to_string(::getpid()) + "-" + std::string(Info->name()));
        fs::remove_all(Folder);
        ASSERT_TRUE(fs::create_directories(Folder));
        GetLogger().SetLogLevel(llInfo);
        GetLogger().SetOnLog([this](void*, uint32_t, TLogLevel Level, const std::string& Message) {
            Logged.emplace_back(Level, Message);
        });
    }

    void TearDown() override {
        GetLogger().SetOnLog(nullptr);
        GetLogger().SetLogLevel(llInfo);
        std::error_code Ignored;
        fs::remove_all(Folder, Ignored);
    }

    std::string PathFor(const std::string& Name) const { return (Folder / Name).string(); }

    // Writes the clip; the test fails when it cannot be written.
    std::string Write(TClipSpec Spec, const std::string& Name) {
        Spec.Path = PathFor(Name);
        const std::string Error = testmedia::WriteClip(Spec);
        EXPECT_EQ(Error, "") << Name;
        return Spec.Path;
    }

    int CountLogged(const std::string& Text, TLogLevel Level) const {
        int Count = 0;
        for (const auto& [L, M] : Logged)
            if (L == Level && M == Text) ++Count;
        return Count;
    }

    static std::string& LoadError() {
        static std::string Error;
        return Error;
    }

    fs::path Folder;
    std::vector<std::pair<TLogLevel, std::string>> Logged;
};

}  // namespace zembra::probetest
