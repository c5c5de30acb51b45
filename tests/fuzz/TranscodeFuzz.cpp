// A short conversion of damaged files: the engine opens the input and converts half a second of
// it into a small output; it must finish or fail cleanly, and a failed run leaves no output.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "engine/FFmpeg.h"
#include "tests/fuzz/FuzzSupport.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zembra::fuzz::LoadLibrariesOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    using namespace zembra;
    const std::string Input = fuzz::ScratchFolder() + "/input" + fuzz::SuffixFor(Size);
    if (!fuzz::WriteBytes(Input, Data, Size)) return 0;
    // Alternately the sound into mp3 (the main job) and a small video conversion; the picture
    // size is fixed so that a header claiming a huge one cannot make a run slow.
    const bool Audio = Size % 2 == 0;
    const std::string Output = fuzz::ScratchFolder() + (Audio ? "/output.mp3" : "/output.avi");
    const std::string OutputLines = Audio ? "vn=1\r\nsn=1\r\nt=0.5" : "t=0.5\r\ns=64x48\r\nsn=1";

    bool Failed = false;
    bool Opened = false;
    {
        TFFmpeg Job;
        Job.ResetJob();
        Job.SetOnTerminate([&Failed](TCustomFFmpeg& Ended) { Failed = Ended.ErrorOccurred(); });
        try {
            Opened = Job.OpenInputFile(Utf8ToUtf16(Input));
            if (Opened) {
                Job.ApplyOptionLines(OutputLines, kPhaseOrdinary);
                Opened = Job.OpenOutputFile(Utf8ToUtf16(Output), false) >= 0;
            }
        } catch (const std::exception&) {
            Opened = false;
        }
        if (Opened)
            Job.Start(false);
        else
            Job.CleanUp();
    }
    // A run that failed, or never started, must not leave a file that passes for a finished one.
    if ((!Opened || Failed) && FileExistsW(Utf8ToUtf16(Output))) __builtin_trap();
    ::unlink(Output.c_str());
    ::unlink(Input.c_str());
    return 0;
}
