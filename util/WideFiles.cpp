#include "util/WideFiles.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <vector>

#include "util/StringUtils.h"

namespace zembra {

std::string FileSystemName(const std::u16string& FileName) {
    return Utf16ToUtf8(FileName);
}

bool IsSurrogate(char16_t Unit) {
    return Unit >= 0xD800 && Unit <= 0xDFFF;
}

int SurrogateKind(const std::u16string& Text, size_t Position) {
    if (Position < 1 || Position > Text.size()) return 0;
    const char16_t U = Text[Position - 1];
    if (!IsSurrogate(U)) return 0;
    return U <= 0xDBFF ? 1 : 2;
}

bool IsPathDelimiterW(const std::u16string& Text, size_t Position) {
    return Position >= 1 && Position <= Text.size() && Text[Position - 1] == u'/' &&
           SurrogateKind(Text, Position) == 0;
}

std::u16string IncludeTrailingPathDelimiterW(const std::u16string& Text) {
    if (IsPathDelimiterW(Text, Text.size())) return Text;
    return Text + u'/';
}

size_t LastDelimiterW(const std::u16string& Delimiters, const std::u16string& Text) {
    for (size_t I = Text.size(); I >= 1; --I) {
        if (Delimiters.find(Text[I - 1]) != std::u16string::npos && SurrogateKind(Text, I) == 0) return I;
    }
    return 0;
}

std::u16string ExtractFilePathW(const std::u16string& FileName) {
    return FileName.substr(0, LastDelimiterW(u"/", FileName));
}

std::u16string ExtractFileNameW(const std::u16string& FileName) {
    return FileName.substr(LastDelimiterW(u"/", FileName));
}

bool FileExistsW(const std::u16string& FileName) {
    return FileExists(FileSystemName(FileName));
}

bool DirectoryExistsW(const std::u16string& Name) {
    struct stat St {};
    return !Name.empty() && ::stat(FileSystemName(Name).c_str(), &St) == 0 && S_ISDIR(St.st_mode);
}

std::u16string GetCurrentDirW() {
    std::vector<char> Buf(PATH_MAX);
    while (::getcwd(Buf.data(), Buf.size()) == nullptr) {
        if (errno != ERANGE) return {};
        Buf.resize(Buf.size() * 2);
    }
    return Utf8ToUtf16(Buf.data());
}

bool SetCurrentDirW(const std::u16string& Dir) {
    return ::chdir(FileSystemName(Dir).c_str()) == 0;
}

std::u16string GetEnvironmentVariableW(const std::u16string& Name) {
    const char* V = std::getenv(FileSystemName(Name).c_str());
    return V ? Utf8ToUtf16(V) : std::u16string();
}

std::u16string ExpandFileNameW(const std::u16string& FileName) {
    if (FileName.empty()) return {};
    std::u16string Full =
        FileName[0] == u'/' ? FileName : IncludeTrailingPathDelimiterW(GetCurrentDirW()) + FileName;
    // Fold "." and ".." without touching the file system (the name need not exist).
    std::vector<std::u16string> Parts;
    std::u16string Rest = Full;
    while (!Rest.empty()) {
        std::u16string Part = SplitFirst(Rest, u"/", true);
        if (Part.empty() || Part == u".") continue;
        if (Part == u"..") {
            if (!Parts.empty()) Parts.pop_back();
            continue;
        }
        Parts.push_back(Part);
    }
    std::u16string Out;
    for (const auto& P : Parts) Out += u"/" + P;
    if (Out.empty()) Out.push_back(u'/');
    if (Full.size() > 1 && Full.back() == u'/' && Out != u"/") Out += u'/';
    return Out;
}

int64_t FileSizeW(const std::u16string& FileName) {
    struct stat St {};
    if (FileName.empty() || ::stat(FileSystemName(ExpandFileNameW(FileName)).c_str(), &St) != 0) return -1;
    if (S_ISDIR(St.st_mode)) return -1;
    return static_cast<int64_t>(St.st_size);
}

bool IsRegularFileW(const std::u16string& FileName) {
    struct stat St {};
    return !FileName.empty() && ::lstat(FileSystemName(ExpandFileNameW(FileName)).c_str(), &St) == 0 &&
           S_ISREG(St.st_mode);
}

struct TSearchRecW::TState {
    DIR* Dir = nullptr;
    std::string Folder;   // with a trailing '/'
    std::string Pattern;  // name pattern
    int Excluded = 0;
    ~TState() {
        if (Dir) ::closedir(Dir);
    }
};

namespace {

int32_t DosDateTime(time_t T) {
    struct tm Tm {};
    localtime_r(&T, &Tm);
    const int Year = Tm.tm_year + 1900;
    if (Year < 1980) return (1 << 5) | 1;  // 1980-01-01, the earliest DOS date
    const uint32_t Date =
        (uint32_t(Year - 1980) << 9) | (uint32_t(Tm.tm_mon + 1) << 5) | uint32_t(Tm.tm_mday);
    const uint32_t Time = (uint32_t(Tm.tm_hour) << 11) | (uint32_t(Tm.tm_min) << 5) | uint32_t(Tm.tm_sec / 2);
    return static_cast<int32_t>((Date << 16) | Time);
}

// Reads entries until one passes the pattern and the attribute filter.
int ReadMatching(TSearchRecW& Rec) {
    TSearchRecW::TState& S = *Rec.State;
    for (;;) {
        errno = 0;
        dirent* E = ::readdir(S.Dir);
        if (!E) return errno ? errno : ENOENT;
        const std::string Name = E->d_name;
        if (::fnmatch(S.Pattern.c_str(), Name.c_str(), 0) != 0) continue;
        struct stat St {};
        if (::lstat((S.Folder + Name).c_str(), &St) != 0) continue;
        if (S_ISLNK(St.st_mode)) ::stat((S.Folder + Name).c_str(), &St);
        int Attr = 0;
        if (S_ISDIR(St.st_mode))
            Attr |= faDirectory;
        else if (S_ISREG(St.st_mode))
            Attr |= faArchive;
        else
            Attr |= faSysFile;
        if (!Name.empty() && Name[0] == '.') Attr |= faHidden;
        if (::access((S.Folder + Name).c_str(), W_OK) != 0) Attr |= faReadOnly;
        if (Attr & S.Excluded) continue;
        Rec.Time = DosDateTime(St.st_mtime);
        const uint64_t Size = S_ISDIR(St.st_mode) ? 0 : static_cast<uint64_t>(St.st_size);
        Rec.SizeLow = static_cast<uint32_t>(Size & 0xFFFFFFFFu);
        Rec.SizeHigh = static_cast<uint32_t>(Size >> 32);
        Rec.Attr = Attr;
        Rec.Name = Utf8ToUtf16(Name);
        return 0;
    }
}

}  // namespace

int FindFirstW(const std::u16string& Path, int Attr, TSearchRecW& Rec) {
    FindCloseW(Rec);
    auto State = std::make_shared<TSearchRecW::TState>();
    std::u16string Folder = ExtractFilePathW(Path);
    State->Folder = Folder.empty() ? std::string("./") : FileSystemName(Folder);
    State->Pattern = FileSystemName(ExtractFileNameW(Path));
    State->Excluded = (faHidden | faSysFile | faDirectory) & ~Attr;
    State->Dir = ::opendir(State->Folder.c_str());
    if (!State->Dir) return errno ? errno : ENOENT;
    Rec.State = State;
    const int Result = ReadMatching(Rec);
    if (Result != 0) FindCloseW(Rec);
    return Result;
}

int FindNextW(TSearchRecW& Rec) {
    if (!Rec.State) return EBADF;
    return ReadMatching(Rec);
}

void FindCloseW(TSearchRecW& Rec) {
    Rec.State.reset();
}

std::string ExtractFilePath(const std::string& FileName) {
    const size_t Pos = FileName.rfind('/');
    return Pos == std::string::npos ? std::string() : FileName.substr(0, Pos + 1);
}

bool FileExists(const std::string& FileName) {
    struct stat St {};
    return !FileName.empty() && ::stat(FileName.c_str(), &St) == 0 && !S_ISDIR(St.st_mode);
}

std::string FolderOfName(const std::string& Name) {
    const size_t Slash = Name.rfind('/');
    if (Slash == std::string::npos) return ".";
    return Slash == 0 ? "/" : Name.substr(0, Slash);
}

std::string BaseOfName(const std::string& Name) {
    const size_t Slash = Name.rfind('/');
    return Slash == std::string::npos ? Name : Name.substr(Slash + 1);
}

std::string JoinName(const std::string& Folder, const std::string& Base) {
    return Folder == "/" ? "/" + Base : Folder + "/" + Base;
}

}  // namespace zembra
