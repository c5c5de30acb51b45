// The probe on damaged files: opening, describing and reading the first picture of whatever the
// bytes turn out to be must fail cleanly or succeed, never crash or read out of bounds.

#include <cstddef>
#include <cstdint>
#include <string>

#include "probe/AVProbe.h"
#include "tests/fuzz/FuzzSupport.h"
#include "util/StringUtils.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    zembra::fuzz::LoadLibrariesOnce();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    using namespace zembra;
    const std::string File = fuzz::ScratchFolder() + "/probe" + fuzz::SuffixFor(Size);
    if (!fuzz::WriteBytes(File, Data, Size)) return 0;
    TAVProbe Probe;
    if (Probe.LoadFile(Utf8ToUtf16(File))) {
        (void)Probe.GetFileInfoText();
        TFileStreamInfo FileInfo;
        Probe.GetFileStreamInfo(FileInfo);
        TVideoStreamInfo VideoInfo;
        if (Probe.GetVideoStreamInfo(-1, VideoInfo)) {
            (void)Probe.GetFrame(-1);
            (void)Probe.GetFrame(-1);
        }
        Probe.Close();
    }
    ::unlink(File.c_str());
    return 0;
}
