#include "app/OutputFolder.h"

#include "app/OptionBuilder.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra {

bool IsCdRomFileSystem(std::string_view FileSystemType) {
    return SameText(FileSystemType, "iso9660") || SameText(FileSystemType, "udf");
}

std::u16string OutputFolderToCheck(const std::u16string& OutPath, const std::u16string& SourceFileName) {
    return OutPath == Utf8ToUtf16(kSameAsInput) ? ExtractFilePathW(SourceFileName) : OutPath;
}

std::u16string BrowseStartFolder(const std::u16string& OutPath, const std::u16string& SourceFileName,
                                 const std::function<bool(const std::u16string&)>& FolderExists) {
    const std::u16string Folder = OutputFolderToCheck(OutPath, SourceFileName);
    if (Folder.empty() || !FolderExists || !FolderExists(Folder)) return {};
    return Folder;
}

std::u16string WithTrailingDelimiter(const std::u16string& Folder) {
    if (!Folder.empty() && Folder.back() == u'/') return Folder;
    return Folder + u'/';
}

}  // namespace zembra
