// Times the frame reader's seek-and-read, as the settings dialog does it at a track-bar
// position: Seek to a time, then GetFrame. Prints the median over positions spread over the
// clip in a fixed pseudo-random order, and how many pictures missed their time by a frame.
//
// usage: zembra-seek-bench [POSITIONS] [FILE]
// Without a file it writes a 10-minute 1280x720 H.264 clip (25 pictures a second, a key
// picture every 10 seconds) into a temporary folder; a FILE that does not exist yet gets that
// clip and keeps it, for later runs.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "probe/AVProbe.h"
#include "tests/media/TestMedia.h"
#include "util/StringUtils.h"

namespace {

namespace fs = std::filesystem;
using namespace zembra;
using Clock = std::chrono::steady_clock;

constexpr int kFrameRate = 25;
constexpr int kSeconds = 600;
constexpr int kKeyInterval = 10 * kFrameRate;

double Median(std::vector<double> Values) {
    if (Values.empty()) return 0.0;
    std::sort(Values.begin(), Values.end());
    const size_t N = Values.size();
    return N % 2 ? Values[N / 2] : (Values[N / 2 - 1] + Values[N / 2]) / 2;
}

std::string WriteLongClip(const std::string& Path) {
    testmedia::TClipSpec Spec;
    Spec.Path = Path;
    Spec.Container = "mp4";
    testmedia::TVideoSpec Video;
    Video.Encoder = "libx264";
    Video.Width = 1280;
    Video.Height = 720;
    Video.FrameRate = AVRational{kFrameRate, 1};
    Video.FrameCount = kSeconds * kFrameRate;
    Video.Options = {{"preset", "ultrafast"}, {"g", std::to_string(kKeyInterval)}};
    Spec.Videos.push_back(Video);
    std::printf("Writing a 10-minute 1280x720 H.264 clip...\n");
    std::fflush(stdout);
    const std::string Error = testmedia::WriteClip(Spec);
    if (!Error.empty()) {
        std::fprintf(stderr, "cannot write %s: %s\n", Spec.Path.c_str(), Error.c_str());
        return "";
    }
    return Spec.Path;
}

}  // namespace

int main(int argc, char** argv) {
    int Positions = 41;
    int First = 1;
    if (argc > 1 && std::atoi(argv[1]) > 0) {
        Positions = std::atoi(argv[1]);
        First = 2;
    }
    FFLoader().SetLibraryPath(DefaultLibraryFolder());
    if (!FFLoader().LoadLibrarySet(kDefaultLibrarySet)) {
        std::fprintf(stderr, "the FFmpeg libraries did not load: %s\n", FFLoader().LastError().c_str());
        return 1;
    }
    lavu.av_log_set_level(AV_LOG_ERROR);

    fs::path Folder;
    std::string Path = First < argc ? argv[First] : "";
    if (Path.empty()) {
        Folder = fs::temp_directory_path() / ("zembra-seek-bench-" + std::to_string(::getpid()));
        fs::create_directories(Folder);
        Path = WriteLongClip((Folder / "ten-minutes.mp4").string());
    } else if (!fs::exists(Path)) {
        Path = WriteLongClip(Path);
    }
    int Status = 1;
    TAVProbe Probe;
    TFileStreamInfo Info;
    if (Path.empty()) {
        // already reported
    } else if (!Probe.LoadFile(Utf8ToUtf16(Path)) || !Probe.GetFileStreamInfo(Info) || Info.Duration <= 0) {
        std::fprintf(stderr, "cannot open %s: %s\n", Path.c_str(), Probe.LastError().c_str());
    } else {
        std::mt19937_64 Random(13);
        std::uniform_int_distribution<int64_t> Anywhere(0, Info.Duration - 1);
        // One untimed read first: the decoder is opened once per stream, not per seek.
        Probe.Seek(-1, 0);
        Probe.GetFrame(-1);
        std::vector<double> Times;
        int Missed = 0;
        for (int I = 0; I < Positions; ++I) {
            const int64_t Target = Anywhere(Random);
            const auto Start = Clock::now();
            const bool Ok =
                Probe.Seek(-1, Target) && !Probe.GetFrame(-1).Empty() && Probe.LastReadSucceeded();
            Times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - Start).count());
            const int64_t Time = Probe.PictureTime();
            if (!Ok || Time < Target || Time - Target >= 1000000 / kFrameRate) ++Missed;
        }
        std::printf(
            "seek-and-read (Seek + GetFrame) at %d positions of %s: median %.1f ms (min %.1f, max %.1f); "
            "%d pictures not at their time\n",
            Positions, fs::path(Path).filename().c_str(), Median(Times),
            *std::min_element(Times.begin(), Times.end()), *std::max_element(Times.begin(), Times.end()),
            Missed);
        Status = Missed == 0 ? 0 : 1;
    }
    Probe.Close();
    if (!Folder.empty()) {
        std::error_code Ignored;
        fs::remove_all(Folder, Ignored);
    }
    return Status;
}
