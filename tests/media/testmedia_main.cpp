// zembra-testmedia KIND OUTPUT: writes one of the ready-made sample clips.

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "tests/media/SampleClips.h"

namespace {

void PrintUsage() {
    std::string Kinds;
    for (const auto Kind : zembra::testmedia::kSampleKinds)
        Kinds += (Kinds.empty() ? "" : "|") + std::string(zembra::testmedia::SampleKindName(Kind));
    std::fprintf(stderr,
                 "usage: zembra-testmedia KIND OUTPUT\n"
                 "  KIND   %s\n"
                 "  OUTPUT the file to write; for images a folder or a numbered pattern (img%%03d.png)\n",
                 Kinds.c_str());
}

int Fail(const std::string& Message) {
    std::fprintf(stderr, "zembra-testmedia: %s\n", Message.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zembra;
    using namespace zembra::testmedia;
    if (argc != 3) {
        PrintUsage();
        return 1;
    }
    const std::optional<TSampleKind> Kind = SampleKindFromName(argv[1]);
    if (!Kind) {
        PrintUsage();
        return Fail(std::string("unknown kind \"") + argv[1] + "\"");
    }
    const std::string Output = argv[2];

    FFLoader().SetLibraryPath(DefaultLibraryFolder());
    if (!FFLoader().LoadLibrarySet(kDefaultLibrarySet)) return Fail(FFLoader().LastError());
    // Only trouble is worth showing; the libraries' progress chatter would bury it.
    lavu.av_log_set_level(AV_LOG_ERROR);

    if (*Kind == TSampleKind::Images && Output.find('%') == std::string::npos) {
        std::error_code Error;
        std::filesystem::create_directories(Output, Error);
        if (Error) return Fail("cannot create folder \"" + Output + "\": " + Error.message());
    }
    const std::string Error = WriteClip(SampleClip(*Kind, Output));
    if (!Error.empty()) return Fail(Error);
    return 0;
}
