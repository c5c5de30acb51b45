// zembra-batch-bench: a music library's worth of files for bench/run's large-batch figures.
//
//   zembra-batch-bench clips FOLDER COUNT   writes one three-second song (44.1 kHz stereo mp3 at
//                                           128 kbit/s) and COUNT copies of it in FOLDER
//                                           (c00001.mp3..., 48 KB each): copies, since the
//                                           command line converts a file given under several
//                                           names (hard links) once
//   zembra-batch-bench add FOLDER COUNT     adds COUNT of them to the component as the command
//                                           line does (probe, NewTask, SetTaskOutput into
//                                           FOLDER/added), without running them; prints the
//                                           total time and each step's share
//
// Every name is its own file to the converter: it is opened, probed and reserved on its own.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "binding/FFmpegLoader.h"
#include "component/RUvivoVOV.h"
#include "logging/FFmpegLogger.h"
#include "tests/media/TestMedia.h"
#include "util/OpenFileLimit.h"
#include "util/StringUtils.h"

namespace {

using namespace zembra;
using TClock = std::chrono::steady_clock;

int Fail(const std::string& Message) {
    std::fprintf(stderr, "zembra-batch-bench: %s\n", Message.c_str());
    return 1;
}

std::string ClipName(const std::string& Folder, int Number) {
    return Folder + Format("/c%05d.mp3", Number);
}

int WriteClips(const std::string& Folder, int Count) {
    FFLoader().SetLibraryPath(DefaultLibraryFolder());
    if (!FFLoader().LoadLibrarySet(kDefaultLibrarySet)) return Fail(FFLoader().LastError());
    testmedia::TClipSpec Spec;
    Spec.Path = Folder + "/song.mp3";
    testmedia::TAudioSpec Audio;
    Audio.Encoder = "libmp3lame";
    Audio.Duration = 3.0;
    Audio.Options = {{"b", "128000"}};
    Spec.Audios.push_back(Audio);
    if (const std::string Error = testmedia::WriteClip(Spec); !Error.empty()) return Fail(Error);
    for (int I = 1; I <= Count; ++I) {
        std::error_code Error;
        std::filesystem::copy_file(Spec.Path, ClipName(Folder, I), Error);
        if (Error) return Fail(ClipName(Folder, I) + ": " + Error.message());
    }
    return 0;
}

double Seconds(TClock::duration D) {
    return std::chrono::duration<double>(D).count();
}

int AddClips(const std::string& Folder, int Count) {
    RaiseOpenFileLimit();
    TRUvivoVOV Component;
    if (!Component.LoadLibraries(DefaultLibraryFolder())) return Fail(Component.LastError());
    GetLogger().SetLogLevel(llQuiet);
    const std::string Out = Folder + "/added";
    std::error_code Error;
    std::filesystem::create_directories(Out, Error);
    if (Error) return Fail(Out + ": " + Error.message());

    TClock::duration Probe{}, Input{}, Output{};
    const TClock::time_point Start = TClock::now();
    for (int I = 1; I <= Count; ++I) {
        const std::u16string Name = Utf8ToUtf16(ClipName(Folder, I));
        TClock::time_point T = TClock::now();
        // What the command line learns of each file for the option builder.
        if (!Component.Probe().LoadFile(Name)) return Fail(Utf16ToUtf8(Name) + ": cannot probe");
        Component.Probe().Close();
        Probe += TClock::now() - T;
        T = TClock::now();
        const int32_t Index = Component.NewTask(Name);
        if (Index < 0) return Fail(Component.LastError());
        Input += TClock::now() - T;
        T = TClock::now();
        if (!Component.SetTaskOutput(Index, Utf8ToUtf16(Out + Format("/c%05d.mp3", I))))
            return Fail(Component.LastError());
        Output += TClock::now() - T;
    }
    const double Total = Seconds(TClock::now() - Start);
    std::printf("added %d files in %.3f s (%.3f ms each)\n", Count, Total, Total * 1000.0 / Count);
    const std::pair<const char*, TClock::duration> Steps[] = {
        {"probe (the front end's look at the file)", Probe},
        {"NewTask (input opened and checked)", Input},
        {"SetTaskOutput (output created, files released)", Output},
    };
    for (const auto& [What, Time] : Steps)
        std::printf("  %-48s %7.3f s  %5.1f%%\n", What, Seconds(Time), 100.0 * Seconds(Time) / Total);
    // The reserved outputs go with the tasks that never ran.
    Component.ClearTasks();
    std::filesystem::remove_all(Out, Error);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string Mode = argc > 1 ? argv[1] : "";
    const int Count = argc == 4 ? std::atoi(argv[3]) : 0;
    if ((Mode != "clips" && Mode != "add") || Count <= 0) {
        std::fprintf(stderr,
                     "usage: zembra-batch-bench clips FOLDER COUNT\n"
                     "       zembra-batch-bench add FOLDER COUNT\n");
        return 2;
    }
    return Mode == "clips" ? WriteClips(argv[2], Count) : AddClips(argv[2], Count);
}
