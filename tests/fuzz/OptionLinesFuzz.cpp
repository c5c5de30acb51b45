// Option texts as the settings dialog and zembra-cli hand them to the engine: every text must
// end in its values being set or in a clean exception, never in a crash, a hang or a leak.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "engine/FFmpeg.h"
#include "tests/fuzz/FuzzSupport.h"
#include "util/StringUtils.h"

namespace {

// "vhook" loads the shared object it names: random names could load any library of the
// machine and run its initialisers, which tests the machine rather than the option reader.
std::string WithoutHookLines(const std::string& Text) {
    std::string Rest = zembra::NormaliseLineEnds(Text);
    std::string Kept;
    while (!Rest.empty()) {
        std::string Line = zembra::SplitFirst(Rest, "\n", true);
        if (zembra::Trim(Line).rfind("vhook", 0) == 0) continue;
        Kept += Line;
        Kept += '\n';
    }
    return Kept;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zembra::fuzz::LoadLibrariesOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    using namespace zembra;
    const std::string Text = WithoutHookLines(std::string(reinterpret_cast<const char*>(Data), Size));
    TFFmpeg Job;
    Job.ResetJob();
    for (const int Phase : {kPhaseOrdinary, kPhasePresets, kPhaseExtraStreams}) {
        try {
            Job.ApplyOptionLines(Text, Phase);
        } catch (const std::exception&) {
            // A clean refusal is an acceptable end.
        }
    }
    Job.CleanUp();
    GetLogger().SetLogLevel(llQuiet);  // "loglevel" lines move it
    return 0;
}
