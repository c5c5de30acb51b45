#include "cli/OutputRecords.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>
#include <cerrno>
#include <cstdlib>
#include <memory>

#include "util/OutputClaims.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra::cli {

namespace {

constexpr off_t kWholeRecord = std::numeric_limits<off_t>::max();

bool AllDigits(const std::string& Text) {
    return !Text.empty() && Text.find_first_not_of("0123456789") == std::string::npos;
}

// Text between Open and Close around a number: "_(new_" "12" ")".
bool IsNumbered(const std::string& Text, const std::string& Open, const std::string& Close) {
    return Text.size() > Open.size() + Close.size() && Text.starts_with(Open) && Text.ends_with(Close) &&
           AllDigits(Text.substr(Open.size(), Text.size() - Open.size() - Close.size()));
}

// Names and paths may hold any byte but '/' and NUL: tabs and line ends are escaped, so that a
// line is one output and its fields are split at tabs.
std::string Escape(const std::string& Text) {
    std::string Out;
    Out.reserve(Text.size());
    for (const char C : Text) {
        if (C == '\\')
            Out += "\\\\";
        else if (C == '\t')
            Out += "\\t";
        else if (C == '\n')
            Out += "\\n";
        else
            Out += C;
    }
    return Out;
}

std::string Unescape(const std::string& Text) {
    std::string Out;
    Out.reserve(Text.size());
    for (size_t I = 0; I < Text.size(); ++I) {
        if (Text[I] != '\\' || I + 1 == Text.size()) {
            Out += Text[I];
            continue;
        }
        const char Next = Text[++I];
        Out += Next == 't' ? '\t' : Next == 'n' ? '\n' : Next;
    }
    return Out;
}

struct TFdCloser {
    int Fd;
    ~TFdCloser() {
        if (Fd >= 0) ::close(Fd);
    }
};

}  // namespace

std::string SourceIdentity(const std::string& Path) {
    std::unique_ptr<char, decltype(&std::free)> Real(::realpath(Path.c_str(), nullptr), &std::free);
    if (Real) return Real.get();
    return FileSystemName(ExpandFileNameW(Utf8ToUtf16(Path)));
}

std::string OutputStemOf(const std::string& BaseName) {
    const size_t Dot = BaseName.rfind('.');
    if (Dot == std::string::npos || Dot == 0) return {};
    std::string Rest = BaseName.substr(0, Dot);
    if (Rest.ends_with(".partial")) Rest.resize(Rest.size() - 8);
    size_t Mark = std::string::npos;
    if (Rest.ends_with("_(new)"))
        Mark = Rest.size() - 6;
    else if (const size_t Open = Rest.rfind("_(new_");
             Open != std::string::npos && IsNumbered(Rest.substr(Open), "_(new_", ")"))
        Mark = Open;
    return Mark == std::string::npos || Mark == 0 ? std::string() : Rest.substr(0, Mark);
}

std::string TNameFamily::First() const {
    return Stem + (Chosen ? "" : "_(new)") + Suffix;
}

bool TNameFamily::Holds(const std::string& BaseName) const {
    if (BaseName.size() < Stem.size() + Suffix.size() || !BaseName.starts_with(Stem) ||
        !BaseName.ends_with(Suffix))
        return false;
    const std::string Middle = BaseName.substr(Stem.size(), BaseName.size() - Stem.size() - Suffix.size());
    if (Chosen) return Middle.empty() || IsNumbered(Middle, " (", ")");
    return Middle == "_(new)" || IsNumbered(Middle, "_(new_", ")");
}

TNameFamily NameFamilyOf(const std::u16string& Base, const std::string& Suffix, bool Chosen) {
    const std::string Name = FileSystemName(Base);
    return {FolderOfName(Name), BaseOfName(Name), Suffix, Chosen};
}

std::string TNameFamily::Path(const std::string& BaseName) const {
    return JoinName(Folder, BaseName);
}

TOutputRecords::TFolder& TOutputRecords::Refresh(const std::string& Folder) {
    TFolder& Record = FFolders[Folder];
    const TFdCloser File{::open(JoinName(Folder, kOutputRecordName).c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat St {};
    if (File.Fd < 0 || ::fstat(File.Fd, &St) != 0) return Record;
    // Shorter than what was read: made anew (removed by hand, say), so read from its start.
    if (St.st_size < Record.Read) Record = {};
    std::string Text;
    char Buffer[16384];
    for (off_t At = Record.Read;;) {
        const ssize_t Got = ::pread(File.Fd, Buffer, sizeof(Buffer), At);
        if (Got <= 0) break;
        Text.append(Buffer, static_cast<size_t>(Got));
        At += Got;
    }
    size_t Begin = 0;
    // A last line without its end is still being written: it is read next time.
    for (size_t End; (End = Text.find('\n', Begin)) != std::string::npos; Begin = End + 1) {
        const std::string Line = Text.substr(Begin, End - Begin);
        const size_t Tab1 = Line.find('\t'), Tab2 = Line.find('\t', Tab1 + 1);
        // Lines of a kind this version does not know are left to the versions that do.
        if (Tab1 != 1 || Tab2 == std::string::npos || (Line[0] != 'c' && Line[0] != 'f')) continue;
        const std::string Name = Unescape(Line.substr(2, Tab2 - 2)), Source = Unescape(Line.substr(Tab2 + 1));
        if (Name.empty() || Name.find('/') != std::string::npos) continue;
        Record.Names[Name] = {Source, Record.Read + static_cast<off_t>(End + 1)};
        auto [From, To] = Record.BySource.equal_range(Source);
        bool Known = false;
        for (auto It = From; It != To && !Known; ++It) Known = It->second == Name;
        if (!Known) Record.BySource.emplace(Source, Name);
    }
    Record.Read += static_cast<off_t>(Begin);
    return Record;
}

off_t TOutputRecords::Append(const std::string& Output, char Kind, const std::string& Source) {
    const std::string Record = JoinName(FolderOfName(Output), kOutputRecordName);
    const std::string Line =
        std::string(1, Kind) + "\t" + Escape(BaseOfName(Output)) + "\t" + Escape(Source) + "\n";
    for (int Tries = 0; Tries < 3; ++Tries) {
        bool Made = false;
        int Fd = ::open(Record.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
        if (Fd < 0 && errno == ENOENT) {
            Fd = ::open(Record.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            Made = Fd >= 0;
            if (Fd < 0 && errno == EEXIST) continue;
        }
        if (Fd < 0) return -1;
        const TFdCloser File{Fd};
        // Shared with other writers; Tidy's exclusive hold keeps a line out of a record it removes.
        struct stat St {};
        if (::flock(Fd, LOCK_SH) != 0 || ::fstat(Fd, &St) != 0) return -1;
        if (St.st_nlink == 0) continue;  // removed by Tidy meanwhile: make it anew
        // One write: a reader sees whole lines, or a last one still without its end.
        if (::write(Fd, Line.data(), Line.size()) != static_cast<ssize_t>(Line.size())) return -1;
        if (Made) FMade[Record] = 0;
        if (const auto It = FMade.find(Record); It != FMade.end())
            It->second += static_cast<off_t>(Line.size());
        return ::lseek(Fd, 0, SEEK_CUR);
    }
    return -1;
}

TSkipVerdict TOutputRecords::Held(TFolder& Record, const TNameFamily& Family, const std::string& Source,
                                  off_t Before, const std::string& Except,
                                  const std::function<bool(const std::string&)>& Reserved) {
    auto [From, To] = Record.BySource.equal_range(Source);
    for (auto It = From; It != To; ++It) {
        const std::string& Name = It->second;
        const auto Last = Record.Names.find(Name);
        // A name given to another source since is that source's.
        if (Name == Except || !Family.Holds(Name) || Last == Record.Names.end() ||
            Last->second.Source != Source || Last->second.End >= Before)
            continue;
        const std::string Full = Family.Path(Name);
        struct stat St {};
        if ((Reserved && Reserved(Full)) || ::stat(Full.c_str(), &St) != 0 || !S_ISREG(St.st_mode)) continue;
        // The name was free when the line was written: what it holds now is that run's output.
        if (St.st_size > 0) return {true, Full + " exists"};
        if (!IsOwnOutputClaim(Full) && IsListedByLiveProcess(Full))
            return {true, Full + " is being converted by another run"};
    }
    return {};
}

bool TOutputRecords::Lists(const std::string& Folder, const std::string& BaseName, std::string* Source) {
    std::lock_guard<std::mutex> G(FLock);
    const TFolder& Record = Refresh(Folder);
    const auto It = Record.Names.find(BaseName);
    if (It == Record.Names.end()) return false;
    if (Source) *Source = It->second.Source;
    return true;
}

TSkipVerdict TOutputRecords::Existing(const std::string& Source, const TNameFamily& Family,
                                      const std::function<bool(const std::string&)>& Reserved) {
    std::lock_guard<std::mutex> G(FLock);
    TFolder& Record = Refresh(Family.Folder);
    if (TSkipVerdict Verdict = Held(Record, Family, Source, kWholeRecord, "", Reserved); Verdict.Skip)
        return Verdict;
    const std::string First = Family.Path(Family.First());
    struct stat St {};
    if (::stat(First.c_str(), &St) != 0 || (Reserved && Reserved(First))) return {};
    // A new numbered copy each run would be all that converting it again makes.
    if (S_ISDIR(St.st_mode)) return {true, "a folder holds the output name " + First};
    if (S_ISREG(St.st_mode) && St.st_size > 0 && !Record.Names.count(Family.First()))
        return {true, First + " exists"};
    return {};
}

TSkipVerdict TOutputRecords::Chosen(const std::string& Output, const std::string& Source,
                                    const TNameFamily& Family, bool Fresh, bool StepBack,
                                    const std::function<bool(const std::string&)>& Reserved) {
    std::lock_guard<std::mutex> G(FLock);
    if (!Fresh) {
        FReplacing[Output] = Source;
        return {};
    }
    const off_t End = Append(Output, 'c', Source);
    if (!StepBack || End < 0) return {};
    // Two runs that looked at the same time both took a name; the record's order decides which
    // one converts, and both read the same order.
    return Held(Refresh(Family.Folder), Family, Source, End, BaseOfName(Output), Reserved);
}

void TOutputRecords::Tidy() {
    std::lock_guard<std::mutex> G(FLock);
    for (const auto& [Record, Written] : FMade) {
        const TFdCloser File{::open(Record.c_str(), O_RDONLY | O_CLOEXEC)};
        struct stat St {};
        if (File.Fd < 0 || ::flock(File.Fd, LOCK_EX) != 0 || ::fstat(File.Fd, &St) != 0) continue;
        // Another run's lines make it that run's record too.
        if (St.st_size != Written || St.st_nlink == 0) continue;
        const std::string Folder = FolderOfName(Record);
        FFolders.erase(Folder);
        bool Any = false;
        for (const auto& [Name, Entry] : Refresh(Folder).Names) {
            struct stat Output {};
            Any = Any || ::lstat(JoinName(Folder, Name).c_str(), &Output) == 0;
        }
        if (!Any) ::unlink(Record.c_str());
    }
    FMade.clear();
}

void TOutputRecords::Finished(const std::string& Output) {
    std::lock_guard<std::mutex> G(FLock);
    const auto It = FReplacing.find(Output);
    if (It == FReplacing.end()) return;
    Append(Output, 'f', It->second);
    FReplacing.erase(It);
}

}  // namespace zembra::cli
