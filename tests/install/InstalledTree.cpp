#include "tests/install/InstalledTree.h"

#include <unistd.h>

#include <algorithm>
#include <system_error>

namespace zembra::testing {

namespace fs = std::filesystem;

TTempFolder::TTempFolder(const std::string& Prefix) {
    std::string Pattern = "/tmp/" + Prefix + "-XXXXXX";
    if (::mkdtemp(Pattern.data()) != nullptr) FPath = Pattern;
}

TTempFolder::~TTempFolder() {
    std::error_code Ec;
    if (!FPath.empty()) fs::remove_all(FPath, Ec);
}

TProgramResult RunTool(const std::vector<std::string>& Command, const std::string& Folder,
                       std::chrono::seconds Limit) {
    // env finds the tool on PATH; the shell only changes the folder first.
    std::vector<std::string> Arguments;
    if (!Folder.empty()) Arguments = {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", Folder};
    Arguments.insert(Arguments.end(), Command.begin(), Command.end());
    return RunProgram("/usr/bin/env", Arguments, Limit);
}

std::string ConvertGeneratedClip(const std::string& Cli, const fs::path& Folder) {
    const fs::path Clip = Folder / "clip.avi";
    const TProgramResult Made =
        RunProgram(ZEMBRA_TESTMEDIA_TOOL, {"avi", Clip.string()}, std::chrono::seconds(60));
    if (Made.Status != 0) return "the clip was not written: " + Made.Err;
    const TProgramResult Run = RunTool({Cli, "-q", "clip.avi"}, Folder.string());
    const fs::path Output = Folder / "clip_(new).mp3";
    if (Run.Status != 0) return "the conversion failed (" + std::to_string(Run.Status) + "): " + Run.Err;
    if (Run.Out != Output.string() + "\n") return "unexpected output listing: " + Run.Out;
    const TProgramResult Info = RunTool({Cli, "--info", Output.string()}, Folder.string());
    if (Info.Status != 0 || Info.Out.find("Format Name: mp3") == std::string::npos)
        return "the output does not read back as mp3: " + Info.Out + Info.Err;
    return "";
}

std::vector<std::string> TreeListing(const fs::path& Root) {
    std::vector<std::string> Entries;
    std::error_code Ec;
    for (fs::recursive_directory_iterator It(Root, Ec), End; !Ec && It != End; It.increment(Ec))
        Entries.push_back(It->path().lexically_relative(Root).string());
    std::sort(Entries.begin(), Entries.end());
    return Entries;
}

}  // namespace zembra::testing
