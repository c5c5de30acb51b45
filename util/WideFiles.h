#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace zembra {

// File functions on wide (UTF-16) names. The file system's names are bytes, UTF-8 as a rule;
// bytes that are not UTF-8 travel in a wide name as the lone surrogates of Utf8ToUtf16, so every
// name on the disk has a wide form that opens it. Positions are 1-based as in the rest of the
// wide-string helpers. The path delimiter is '/'.

bool IsSurrogate(char16_t Unit);
// 0: outside the text or not a surrogate; 1: leading surrogate; 2: trailing surrogate.
int SurrogateKind(const std::u16string& Text, size_t Position);
bool IsPathDelimiterW(const std::u16string& Text, size_t Position);
std::u16string IncludeTrailingPathDelimiterW(const std::u16string& Text);
// The last position of any of Delimiters in Text, 0 when none.
size_t LastDelimiterW(const std::u16string& Delimiters, const std::u16string& Text);
std::u16string ExtractFilePathW(const std::u16string& FileName);
std::u16string ExtractFileNameW(const std::u16string& FileName);
bool FileExistsW(const std::u16string& FileName);
bool DirectoryExistsW(const std::u16string& Name);
std::u16string GetCurrentDirW();
bool SetCurrentDirW(const std::u16string& Dir);
std::u16string GetEnvironmentVariableW(const std::u16string& Name);
std::u16string ExpandFileNameW(const std::u16string& FileName);
// The size in bytes, 64-bit; -1 for a missing file or a folder.
int64_t FileSizeW(const std::u16string& FileName);
// A plain file itself: not a link, a folder, a device or a pipe.
bool IsRegularFileW(const std::u16string& FileName);

// The name as the file system takes it, byte for byte the name Utf8ToUtf16 was given.
std::string FileSystemName(const std::u16string& FileName);

// Attributes of a directory entry.
constexpr int faReadOnly = 0x01;
constexpr int faHidden = 0x02;
constexpr int faSysFile = 0x04;
constexpr int faDirectory = 0x10;
constexpr int faArchive = 0x20;
constexpr int faAnyFile = 0x3F;

struct TSearchRecW {
    int32_t Time = 0;  // last write, local DOS date-time (date in the high word)
    uint32_t SizeLow = 0;
    uint32_t SizeHigh = 0;
    int Attr = 0;
    std::u16string Name;
    int64_t Size() const { return static_cast<int64_t>((uint64_t(SizeHigh) << 32) | SizeLow); }

    // The open enumeration; released by FindCloseW.
    struct TState;
    std::shared_ptr<TState> State;
};

// Path is a folder plus a name pattern with * and ?. Entries whose attributes meet
// (faHidden | faSysFile | faDirectory) minus Attr are skipped. 0 or an errno value; a failed
// FindFirstW leaves nothing open.
int FindFirstW(const std::u16string& Path, int Attr, TSearchRecW& Rec);
int FindNextW(TSearchRecW& Rec);
void FindCloseW(TSearchRecW& Rec);

// The same for 8-bit names, passed straight to the file system.
std::string ExtractFilePath(const std::string& FileName);
bool FileExists(const std::string& FileName);
// A file-system name's folder ("." for a bare name, "/" at the root) and last part, and a name
// in a folder.
std::string FolderOfName(const std::string& Name);
std::string BaseOfName(const std::string& Name);
std::string JoinName(const std::string& Folder, const std::string& Base);

}  // namespace zembra
