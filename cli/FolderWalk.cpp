#include "cli/FolderWalk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <set>
#include <utility>

#include "app/FileFilters.h"

namespace zembra::cli {

namespace {

using TFolderId = std::pair<dev_t, ino_t>;  // of a folder or a file

struct TDirCloser {
    void operator()(DIR* D) const { ::closedir(D); }
};

class TWalker {
  public:
    TWalker(const std::vector<std::string>& Suffixes, TWalkResult& Result)
        : FSuffixes(Suffixes), FResult(Result) {}

    // Folder ends without '/'; SubFolder is its place below the named folder ("" or "A/B/").
    void Walk(const std::string& Folder, const struct stat& Info, const std::string& SubFolder) {
        if (!FEntered.insert({Info.st_dev, Info.st_ino}).second) {
            FResult.Warnings.push_back(Folder + ": entered already (a link loop?), left out");
            return;
        }
        std::unique_ptr<DIR, TDirCloser> Dir(::opendir(Folder.c_str()));
        if (!Dir) {
            FResult.Unreadable.emplace_back(Folder, std::strerror(errno));
            return;
        }
        std::vector<std::string> Names;
        while (const dirent* Entry = ::readdir(Dir.get())) {
            // Hidden names, and the "." and ".." entries with them.
            if (Entry->d_name[0] != '.') Names.emplace_back(Entry->d_name);
        }
        std::sort(Names.begin(), Names.end());
        for (const std::string& Name : Names) {
            const std::string Path = Folder + "/" + Name;
            struct stat Child {};
            // stat follows a symbolic link; a dangling one is left out.
            if (::stat(Path.c_str(), &Child) != 0) {
                if (errno != ENOENT) FResult.Unreadable.emplace_back(Path, std::strerror(errno));
                continue;
            }
            if (S_ISDIR(Child.st_mode))
                Walk(Path, Child, SubFolder + Name + "/");
            else if (S_ISREG(Child.st_mode) && HasMediaSuffix(Name, FSuffixes) &&
                     FFiles.insert({Child.st_dev, Child.st_ino}).second)
                FResult.Items.push_back({Path, SubFolder});
        }
    }

  private:
    const std::vector<std::string>& FSuffixes;
    TWalkResult& FResult;
    std::set<TFolderId> FEntered;
    std::set<TFolderId> FFiles;  // a file linked in twice converts once
};

}  // namespace

TWalkResult ExpandInputs(const std::vector<std::string>& Names, const std::vector<std::string>& Suffixes) {
    TWalkResult Result;
    for (const std::string& Name : Names) {
        struct stat Info {};
        if (::stat(Name.c_str(), &Info) != 0 || !S_ISDIR(Info.st_mode)) {
            Result.Items.push_back({Name, ""});
            continue;
        }
        std::string Folder = Name;
        while (Folder.size() > 1 && Folder.back() == '/') Folder.pop_back();
        // Each named folder is a walk of its own: a file that two overlapping folders give is
        // left to the batch's check for files given more than once.
        const size_t Before = Result.Items.size(), UnreadableBefore = Result.Unreadable.size();
        TWalker(Suffixes, Result).Walk(Folder, Info, "");
        // A folder whose unreadable parts may hold media is not said to hold none.
        if (Result.Items.size() == Before && Result.Unreadable.size() == UnreadableBefore)
            Result.EmptyFolders.push_back(Name);
    }
    return Result;
}

std::vector<std::string> ReadNameList(std::istream& In) {
    std::vector<std::string> Names;
    for (std::string Line; std::getline(In, Line);) {
        if (!Line.empty() && Line.back() == '\r') Line.pop_back();
        if (!Line.empty()) Names.push_back(Line);
    }
    return Names;
}

}  // namespace zembra::cli
