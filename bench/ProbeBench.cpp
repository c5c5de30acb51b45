// Times the probe on short files: opening and describing (LoadFile + GetFileInfoText + Close), and
// seeking to the start and decoding the first picture. Prints the median of several runs.
//
// usage: zembra-probe-bench [RUNS] [FILE...]
// Without files it writes short sample clips (about a second each) into a temporary folder.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <system_error>
#include <vector>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "probe/AVProbe.h"
#include "tests/media/SampleClips.h"
#include "tests/media/TestMedia.h"
#include "util/StringUtils.h"

namespace {

namespace fs = std::filesystem;
using namespace zembra;
using Clock = std::chrono::steady_clock;

struct TTimes {
    std::vector<double> Milliseconds;
    double Median() {
        std::sort(Milliseconds.begin(), Milliseconds.end());
        const size_t N = Milliseconds.size();
        if (N == 0) return 0.0;
        return N % 2 ? Milliseconds[N / 2] : (Milliseconds[N / 2 - 1] + Milliseconds[N / 2]) / 2;
    }
    double Min() const {
        return Milliseconds.empty() ? 0.0 : *std::min_element(Milliseconds.begin(), Milliseconds.end());
    }
    double Max() const {
        return Milliseconds.empty() ? 0.0 : *std::max_element(Milliseconds.begin(), Milliseconds.end());
    }
};

// Runs Step Runs times after one untimed warm-up; false as soon as a run fails.
bool Measure(int Runs, const std::function<bool()>& Step, TTimes& Times) {
    if (!Step()) return false;
    for (int I = 0; I < Runs; ++I) {
        const auto Start = Clock::now();
        const bool Ok = Step();
        Times.Milliseconds.push_back(std::chrono::duration<double, std::milli>(Clock::now() - Start).count());
        if (!Ok) return false;
    }
    return true;
}

bool BenchFile(const std::string& Path, int Runs) {
    TAVProbe Probe;
    const std::u16string Name = Utf8ToUtf16(Path);
    std::string Error;
    TTimes Load;
    const bool Loaded = Measure(
        Runs,
        [&] {
            const bool Ok = Probe.LoadFile(Name) && !Probe.GetFileInfoText().empty();
            if (!Ok) Error = Probe.LastError();
            Probe.Close();
            return Ok;
        },
        Load);
    if (!Loaded) {
        std::printf("%-12s cannot be probed: %s\n", fs::path(Path).filename().c_str(), Error.c_str());
        return false;
    }
    if (!Probe.LoadFile(Name)) return false;
    TTimes Frame;
    bool HasPicture = Probe.FirstVideoStreamIndex() >= 0;
    if (HasPicture)
        HasPicture = Measure(
            Runs, [&] { return Probe.Seek(-1, 0) && !Probe.GetFrame(-1).Empty(); }, Frame);
    std::printf("%-12s probe: median %7.3f ms (min %7.3f, max %7.3f)", fs::path(Path).filename().c_str(),
                Load.Median(), Load.Min(), Load.Max());
    if (HasPicture) std::printf("   first picture: median %7.3f ms", Frame.Median());
    std::printf("\n");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int Runs = 25;
    int First = 1;
    if (argc > 1 && std::atoi(argv[1]) > 0) {
        Runs = std::atoi(argv[1]);
        First = 2;
    }
    FFLoader().SetLibraryPath(DefaultLibraryFolder());
    if (!FFLoader().LoadLibrarySet(kDefaultLibrarySet)) {
        std::fprintf(stderr, "the FFmpeg libraries did not load: %s\n", FFLoader().LastError().c_str());
        return 1;
    }
    lavu.av_log_set_level(AV_LOG_ERROR);

    std::vector<std::string> Files(argv + First, argv + argc);
    fs::path Folder;
    if (Files.empty()) {
        Folder = fs::temp_directory_path() / ("zembra-probe-bench-" + std::to_string(::getpid()));
        fs::create_directories(Folder);
        for (const testmedia::TSampleKind Kind : testmedia::kSampleKinds) {
            if (Kind == testmedia::TSampleKind::Images) continue;
            const std::string Path = (Folder / testmedia::SampleFileName(Kind)).string();
            const std::string Error = testmedia::WriteClip(testmedia::SampleClip(Kind, Path));
            if (Error.empty())
                Files.push_back(Path);
            else
                std::fprintf(stderr, "cannot write %s: %s\n", Path.c_str(), Error.c_str());
        }
    }

    std::printf("%d runs each, times per run\n", Runs);
    bool AllOk = true;
    for (const std::string& Path : Files) AllOk = BenchFile(Path, Runs) && AllOk;

    if (!Folder.empty()) {
        std::error_code Ignored;
        fs::remove_all(Folder, Ignored);
    }
    return AllOk ? 0 : 1;
}
