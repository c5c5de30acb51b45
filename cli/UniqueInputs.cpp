#include "cli/UniqueInputs.h"

#include <sys/stat.h>

#include <filesystem>
#include <unordered_map>

namespace zembra::cli {

namespace {

std::string FileKey(const std::string& Path) {
    struct stat Info {};
    if (::stat(Path.c_str(), &Info) == 0)
        return "i" + std::to_string(Info.st_dev) + ":" + std::to_string(Info.st_ino);
    std::error_code Error;
    const std::filesystem::path Absolute = std::filesystem::absolute(Path, Error);
    return "p" + (Error ? std::filesystem::path(Path) : Absolute).lexically_normal().string();
}

}  // namespace

std::vector<std::string> KeepOnePerFile(std::vector<TInputItem>& Items) {
    std::unordered_map<std::string, size_t> Seen;  // key -> index in Kept
    std::vector<TInputItem> Kept;
    std::vector<size_t> Times;
    Kept.reserve(Items.size());
    Seen.reserve(Items.size());
    for (TInputItem& Item : Items) {
        const auto [It, New] = Seen.try_emplace(FileKey(Item.Path), Kept.size());
        if (!New) {
            ++Times[It->second];
            continue;
        }
        Kept.push_back(std::move(Item));
        Times.push_back(1);
    }
    std::vector<std::string> Notes;
    for (size_t I = 0; I < Kept.size(); ++I)
        if (Times[I] > 1)
            Notes.push_back(Kept[I].Path + ": given " + std::to_string(Times[I]) + " times, converted once");
    Items = std::move(Kept);
    return Notes;
}

}  // namespace zembra::cli
