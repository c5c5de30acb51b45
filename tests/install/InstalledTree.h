// What the install and package tests share: a temporary folder, the tools they run, and a
// conversion with an installed zembra-cli from a folder outside the build tree.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/RunProgram.h"

namespace zembra::testing {

// A folder under /tmp, removed with everything in it.
class TTempFolder {
  public:
    explicit TTempFolder(const std::string& Prefix);
    ~TTempFolder();
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;
    const std::filesystem::path& Path() const { return FPath; }

  private:
    std::filesystem::path FPath;
};

// Runs a program found on PATH (a system tool), in Folder when one is given.
TProgramResult RunTool(const std::vector<std::string>& Command, const std::string& Folder = "",
                       std::chrono::seconds Limit = std::chrono::seconds(60));

// Writes a generated clip into Folder and converts it there with Cli, run from Folder. Returns
// "" when the conversion wrote an mp3 that Cli's --info reads back, else what went wrong.
std::string ConvertGeneratedClip(const std::string& Cli, const std::filesystem::path& Folder);

// Every file, link and folder under Root, as paths relative to it, sorted.
std::vector<std::string> TreeListing(const std::filesystem::path& Root);

}  // namespace zembra::testing
