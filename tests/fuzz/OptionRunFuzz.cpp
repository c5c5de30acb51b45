// Random option texts applied to a real conversion of a small clip: the values the option reader
// accepted must then convert, or fail with the run's message, never crash, hang or leak. The
// clip (pictures and sound in AVI) is written once, at start, by the test-media generator.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <system_error>
#include <string>

#include "engine/FFmpeg.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/fuzz/OptionRun.h"
#include "tests/media/TestMedia.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace {

using namespace zembra;

// Options that name files to write (pass logs, statistics) or modules to load would let random
// texts write or run anything on the machine; "re" reads in real time and only slows the runs.
// The others stay, whatever they do to the conversion.
const char* const kLeftOut[] = {"vhook", "passlogfile", "pass", "vstats", "vstats_file", "re"};

std::string Usable(const std::string& Text) {
    std::string Rest = NormaliseLineEnds(Text);
    std::string Kept;
    while (!Rest.empty()) {
        std::string Line = SplitFirst(Rest, "\n", true);
        std::string Value = Line;
        const std::string Name = Trim(SplitFirst(Value, "=", true));
        bool Drop = false;
        for (const char* Left : kLeftOut) Drop = Drop || Name == Left;
        if (Drop) continue;
        Kept += Line;
        Kept += '\n';
    }
    // Last, so that it wins: every run converts half a second at most.
    return Kept + "t=0.5\n";
}

std::string& ClipPath() {
    static std::string& Path = *new std::string;
    return Path;
}

// Huge pictures, frame rates or sample rates are a user's choice that only makes a run slow
// (a 16000x16000 picture, a million frames a second for half a second); such runs are skipped.
bool WithinBounds(const TJobSettings& S) {
    const int64_t Width = int64_t{S.FrameWidth} + S.PadLeft + S.PadRight;
    const int64_t Height = int64_t{S.FrameHeight} + S.PadTop + S.PadBottom;
    const bool RateOk = S.FrameRate.den == 0 || S.FrameRate.num <= int64_t{S.FrameRate.den} * 200;
    return Width * Height <= 1920 * 1088 && RateOk && S.AudioSampleRate <= 192000 && S.AudioChannels <= 16;
}

// Muxers that write several files (segments, playlists) leave them beside the output.
void ClearScratch() {
    std::error_code Ec;
    for (const auto& Entry : std::filesystem::directory_iterator(fuzz::ScratchFolder(), Ec))
        if (Entry.path() != ClipPath()) std::filesystem::remove_all(Entry.path(), Ec);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LoadLibrariesOnce();
    const testmedia::TClipSpec Spec = fuzz::OptionRunClip(fuzz::ScratchFolder() + "/clip.avi");
    const std::string Error = testmedia::WriteClip(Spec);
    if (!Error.empty()) {
        std::fprintf(stderr, "cannot write the clip: %s\n", Error.c_str());
        std::abort();
    }
    ClipPath() = Spec.Path;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    const std::string Text = Usable(std::string(reinterpret_cast<const char*>(Data), Size));
    const std::string Output = fuzz::ScratchFolder() + (Size % 2 ? "/output.avi" : "/output.mp3");
    {
        TFFmpeg Job;
        std::string Refusal;
        if (fuzz::OpenOptionRun(Job, Text, ClipPath(), Output, Refusal)) {
            if (WithinBounds(Job.Settings()))
                Job.Start(false);
            else
                Job.CleanUp();
        }
    }
    GetLogger().SetLogLevel(llQuiet);
    ClearScratch();
    return 0;
}
