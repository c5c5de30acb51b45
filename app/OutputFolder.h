#pragma once

// The settings dialog's output-folder rules without the widgets: which folder the CD-ROM refusal
// looks at, where the folder browser starts, and how a chosen folder is written.

#include <functional>
#include <string>
#include <string_view>

namespace zembra {

// A CD-ROM drive here is a folder on an "iso9660" or "udf" file system.
bool IsCdRomFileSystem(std::string_view FileSystemType);

// The folder whose drive the OK check looks at: the output folder, or the source's own folder
// while the output reads "<same as input>".
std::u16string OutputFolderToCheck(const std::u16string& OutPath, const std::u16string& SourceFileName);

// Where the folder browser starts: the current output folder, or the source's folder; empty
// (the browser's own choice) when that folder does not exist.
std::u16string BrowseStartFolder(const std::u16string& OutPath, const std::u16string& SourceFileName,
                                 const std::function<bool(const std::u16string&)>& FolderExists);

// A chosen folder as the output path holds it: with a trailing '/'.
std::u16string WithTrailingDelimiter(const std::u16string& Folder);

}  // namespace zembra
