#pragma once

// A folder of a test's own under /tmp, removed with everything in it when the test ends.

#include <stdlib.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace zembra::testing {

class TScratchFolder {
  public:
    explicit TScratchFolder(const std::string& Prefix) {
        std::string Pattern = "/tmp/" + Prefix + "-XXXXXX";
        if (::mkdtemp(Pattern.data())) FPath = Pattern;
    }
    ~TScratchFolder() {
        std::error_code Ignored;
        if (!FPath.empty()) std::filesystem::remove_all(FPath, Ignored);
    }
    TScratchFolder(const TScratchFolder&) = delete;
    TScratchFolder& operator=(const TScratchFolder&) = delete;

    // Empty when the folder could not be made.
    const std::string& Path() const { return FPath; }

  private:
    std::string FPath;
};

}  // namespace zembra::testing
