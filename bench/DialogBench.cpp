// Times the settings dialog on a long H.264 source: from loading the file to the first preview
// picture, and how often the preview follows while the slider is dragged across the whole file.
//
// usage: zembra-dialog-bench [FILE | WIDTHxHEIGHT FPS MINUTES]
// Without a file it writes an H.264 clip (by default two hours of 160x120 at 10 pictures a
// second, a key picture every 250) into a temporary folder first; that takes a minute or two.

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QSlider>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/ui/OptionDialog.h"
#include "app/ui/PreviewImage.h"
#include "binding/FFmpegLoader.h"
#include "probe/AVProbe.h"
#include "tests/media/TestMedia.h"
#include "util/StringUtils.h"

namespace {

namespace fs = std::filesystem;
using namespace zembra;

constexpr int kOpenRuns = 5;
constexpr int kDragMs = 4000;
// About one mouse move per screen refresh.
constexpr int kMoveEveryMs = 16;

struct TClipShape {
    int Width = 160;
    int Height = 120;
    int FPS = 10;
    int Minutes = 120;
};

std::string WriteLongClip(const fs::path& Folder, const TClipShape& Shape) {
    testmedia::TClipSpec Spec;
    Spec.Path = (Folder / "long.mp4").string();
    Spec.Container = "mp4";
    testmedia::TVideoSpec Video;
    Video.Encoder = "libx264";
    Video.Width = Shape.Width;
    Video.Height = Shape.Height;
    Video.FrameRate = {Shape.FPS, 1};
    Video.FrameCount = Shape.Minutes * 60 * Shape.FPS;
    Video.Options = {{"preset", "ultrafast"}};
    Spec.Videos = {Video};
    std::printf("Writing %d minutes of %dx%d H.264 at %d pictures a second...\n", Shape.Minutes, Shape.Width,
                Shape.Height, Shape.FPS);
    std::fflush(stdout);
    const std::string Error = testmedia::WriteClip(Spec);
    if (!Error.empty()) {
        std::fprintf(stderr, "cannot write the clip: %s\n", Error.c_str());
        return {};
    }
    return Spec.Path;
}

double Median(std::vector<double> Values) {
    std::sort(Values.begin(), Values.end());
    const size_t N = Values.size();
    if (N == 0) return 0.0;
    return N % 2 ? Values[N / 2] : (Values[N / 2 - 1] + Values[N / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication App(argc, argv);
    FFLoader().SetLibraryPath(DefaultLibraryFolder());
    if (!FFLoader().LoadLibrarySet(kDefaultLibrarySet)) {
        std::fprintf(stderr, "the FFmpeg libraries did not load: %s\n", FFLoader().LastError().c_str());
        return 1;
    }
    fs::path Folder;
    std::string Path;
    TClipShape Shape;
    if (argc == 2) {
        Path = argv[1];
    } else {
        if (argc == 4 &&
            (std::sscanf(argv[1], "%dx%d", &Shape.Width, &Shape.Height) != 2 ||
             std::sscanf(argv[2], "%d", &Shape.FPS) != 1 || std::sscanf(argv[3], "%d", &Shape.Minutes) != 1 ||
             Shape.Width < 16 || Shape.Height < 16 || Shape.FPS < 1 || Shape.Minutes < 1)) {
            std::fprintf(stderr, "usage: zembra-dialog-bench [FILE | WIDTHxHEIGHT FPS MINUTES]\n");
            return 2;
        }
        Folder = fs::temp_directory_path() / ("zembra-dialog-bench-" + std::to_string(::getpid()));
        fs::create_directories(Folder);
        Path = WriteLongClip(Folder, Shape);
        if (Path.empty()) return 1;
    }

    TfrmOption Dialog;
    auto* Preview = Dialog.findChild<TPreviewImage*>(QStringLiteral("imgPreview"));
    auto* Slider = Dialog.findChild<QSlider*>(QStringLiteral("trcPreview"));
    if (!Preview || !Slider) return 1;

    // Opening: the probe loads the file, the dialog is given it and shows its first picture.
    std::vector<double> OpenMs;
    TAVProbe Probe;
    for (int Run = 0; Run < kOpenRuns; ++Run) {
        Probe.Close();
        QElapsedTimer Timer;
        Timer.start();
        const int64_t Drawn = Preview->DrawCount();
        if (!Probe.LoadFile(Utf8ToUtf16(Path))) {
            std::fprintf(stderr, "cannot load %s: %s\n", Path.c_str(), Probe.LastError().c_str());
            return 1;
        }
        Dialog.SetProbe(&Probe);
        Dialog.show();
        QCoreApplication::processEvents();
        if (Preview->DrawCount() == Drawn) {
            std::fprintf(stderr, "no first picture: %s\n", Probe.LastError().c_str());
            return 1;
        }
        OpenMs.push_back(static_cast<double>(Timer.nsecsElapsed()) / 1e6);
        Dialog.hide();
    }

    // Dragging: the slider sweeps the whole file once, moved every few milliseconds.
    Probe.Close();
    Probe.LoadFile(Utf8ToUtf16(Path));
    Dialog.SetProbe(&Probe);
    Dialog.show();
    QCoreApplication::processEvents();
    const int64_t DrawnBefore = Preview->DrawCount();
    QElapsedTimer Drag;
    Drag.start();
    int64_t LastDraw = 0, LongestGap = 0, Seen = DrawnBefore;
    while (Drag.elapsed() < kDragMs) {
        Slider->setValue(static_cast<int>(int64_t(Slider->maximum()) * Drag.elapsed() / kDragMs));
        QCoreApplication::processEvents();
        if (Preview->DrawCount() != Seen) {
            Seen = Preview->DrawCount();
            LongestGap = std::max<int64_t>(LongestGap, Drag.elapsed() - LastDraw);
            LastDraw = Drag.elapsed();
        }
        QThread::msleep(kMoveEveryMs);
    }
    const double Seconds = static_cast<double>(Drag.elapsed()) / 1000.0;
    const double Updates = static_cast<double>(Preview->DrawCount() - DrawnBefore) / Seconds;
    Dialog.hide();

    std::printf("Settings dialog on %s\n", Path.c_str());
    std::printf("  load and first picture  %8.1f ms   (median of %d; goal under 1000 ms)\n", Median(OpenMs),
                kOpenRuns);
    std::printf("  dragging the slider     %8.1f pictures/s, longest wait %lld ms   (goal 5 or more)\n",
                Updates, static_cast<long long>(LongestGap));
    if (!Folder.empty()) {
        std::error_code Ignored;
        fs::remove_all(Folder, Ignored);
    }
    return 0;
}
