#include "cli/FolderWalk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "app/FileFilters.h"
#include "cli/OutputRecords.h"
#include "util/WideFiles.h"

namespace zembra::cli {

namespace {

using TFolderId = std::pair<dev_t, ino_t>;  // of a folder or a file

struct TDirCloser {
    void operator()(DIR* D) const { ::closedir(D); }
};

std::optional<TFolderId> IdOf(const std::string& Path) {
    struct stat Info {};
    if (::stat(Path.c_str(), &Info) != 0) return std::nullopt;
    return TFolderId{Info.st_dev, Info.st_ino};
}

std::string StemOf(const std::string& Base) {
    const size_t Dot = Base.rfind('.');
    return Dot == std::string::npos || Dot == 0 ? Base : Base.substr(0, Dot);
}

class TWalker {
  public:
    TWalker(const std::vector<std::string>& Suffixes, const std::optional<TFolderId>& Output,
            TWalkResult& Result)
        : FSuffixes(Suffixes), FOutput(Output), FResult(Result) {}

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
            // The outputs' own tree below a named folder holds nothing to convert.
            if (S_ISDIR(Child.st_mode) && FOutput != TFolderId{Child.st_dev, Child.st_ino})
                Walk(Path, Child, SubFolder + Name + "/");
            else if (S_ISREG(Child.st_mode) && HasMediaSuffix(Name, FSuffixes) &&
                     FFiles.insert({Child.st_dev, Child.st_ino}).second)
                FResult.Items.push_back({Path, SubFolder});
        }
    }

  private:
    const std::vector<std::string>& FSuffixes;
    const std::optional<TFolderId> FOutput;
    TWalkResult& FResult;
    std::set<TFolderId> FEntered;
    std::set<TFolderId> FFiles;  // a file linked in twice converts once
};

// Leaves out the files that earlier runs made from the batch's other files.
void DropOwnOutputs(TWalkResult& Result, const TWalkOptions& Options) {
    std::map<std::string, std::optional<TFolderId>> Ids;
    auto Id = [&](const std::string& Folder) {
        auto It = Ids.find(Folder);
        if (It == Ids.end()) It = Ids.emplace(Folder, IdOf(Folder)).first;
        return It->second;
    };
    // Where each file's output goes (beside it, or its place below -o), by its name's stem: the
    // file that a NAME_(new).EXT found there comes from.
    std::map<std::pair<TFolderId, std::string>, std::string> Places;
    for (const TInputItem& Item : Result.Items) {
        const std::string Stem = StemOf(BaseOfName(Item.Path));
        if (const auto Beside = Id(FolderOfName(Item.Path)))
            Places.emplace(std::make_pair(*Beside, Stem), Item.Path);
        if (Options.OutputDir.empty()) continue;
        if (const auto Out = Id(Options.OutputDir + "/" + Item.SubFolder))
            Places.emplace(std::make_pair(*Out, Stem), Item.Path);
    }
    // The sources of the batch as the records name them, asked for only for files given by name.
    std::optional<std::map<std::string, std::string>> Sources;
    auto SourceNamed = [&](const std::string& Identity) -> const std::string* {
        if (!Sources) {
            Sources.emplace();
            for (const TInputItem& Item : Result.Items)
                Sources->emplace(SourceIdentity(Item.Path), Item.Path);
        }
        const auto It = Sources->find(Identity);
        return It == Sources->end() ? nullptr : &It->second;
    };
    std::vector<TInputItem> Kept;
    Kept.reserve(Result.Items.size());
    for (TInputItem& Item : Result.Items) {
        // Named without --skip-existing: converted as asked.
        if (Item.Named && !Options.SkipExisting) {
            Kept.push_back(std::move(Item));
            continue;
        }
        const std::string Folder = FolderOfName(Item.Path), Base = BaseOfName(Item.Path);
        std::string Source;
        const std::string* From = nullptr;
        if (Options.Records && Options.Records->Lists(Folder, Base, &Source)) {
            if (!Item.Named) continue;
            From = SourceNamed(Source);
        }
        if (!From)
            if (const std::string Stem = OutputStemOf(Base); !Stem.empty())
                if (const auto Here = Id(Folder))
                    if (const auto It = Places.find({*Here, Stem}); It != Places.end()) From = &It->second;
        if (!From) {
            Kept.push_back(std::move(Item));
        } else if (Item.Named) {
            Result.OutputsOfOthers.emplace_back(Item.Path, *From);
        }
    }
    Result.Items = std::move(Kept);
}

}  // namespace

TWalkResult ExpandInputs(const std::vector<std::string>& Names, const TWalkOptions& Options) {
    TWalkResult Result;
    const std::optional<TFolderId> Output =
        Options.OutputDir.empty() ? std::nullopt : IdOf(Options.OutputDir);
    for (const std::string& Name : Names) {
        struct stat Info {};
        if (::stat(Name.c_str(), &Info) != 0 || !S_ISDIR(Info.st_mode)) {
            Result.Items.push_back({Name, "", true});
            continue;
        }
        std::string Folder = Name;
        while (Folder.size() > 1 && Folder.back() == '/') Folder.pop_back();
        // Each named folder is a walk of its own: a file that two overlapping folders give is
        // left to the batch's check for files given more than once.
        const size_t Before = Result.Items.size(), UnreadableBefore = Result.Unreadable.size();
        TWalker(Options.Suffixes, Output, Result).Walk(Folder, Info, "");
        // A folder whose unreadable parts may hold media is not said to hold none.
        if (Result.Items.size() == Before && Result.Unreadable.size() == UnreadableBefore)
            Result.EmptyFolders.push_back(Name);
    }
    DropOwnOutputs(Result, Options);
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
