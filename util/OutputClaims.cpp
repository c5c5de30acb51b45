#include "util/OutputClaims.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "util/WideFiles.h"

namespace zembra {

namespace {

constexpr char kMarker[] = ".zembra-";
constexpr char kLockSuffix[] = ".lock";
constexpr char kNewLockSuffix[] = ".new";
constexpr char kTemporarySuffix[] = ".part";
// A temporary name holds the output's name; cut so that the marker and the suffixes still fit
// in the file systems' 255 bytes.
constexpr size_t kKeptNameBytes = 180;
// A temporary name ends in its output's extension too, since muxers check the extension of the
// name they write to; a longer "extension" is no extension.
constexpr size_t kExtensionBytes = 16;

bool EndsWith(const std::string& Text, const std::string& End) {
    return Text.size() >= End.size() && Text.compare(Text.size() - End.size(), End.size(), End) == 0;
}

// The extension of a base name with its dot ("" when it has none), as a temporary name keeps it.
std::string ExtensionOf(const std::string& Base) {
    const size_t Dot = Base.rfind('.');
    if (Dot == std::string::npos || Dot == 0 || Base.size() - Dot > kExtensionBytes + 1 ||
        Dot + 1 == Base.size())
        return {};
    return Base.substr(Dot);
}

// The owner of a temporary file: its ID between the last marker and the counter. Its name ends
// in ".part" and then, from runs that keep the output's extension, that extension.
std::string TemporaryOwner(const std::string& Base) {
    if (Base.empty() || Base[0] != '.') return {};
    const size_t Marker = Base.rfind(kMarker);
    if (Marker == std::string::npos || Marker == 0) return {};
    const std::string Rest = Base.substr(Marker + sizeof(kMarker) - 1);
    const size_t Suffix = Rest.find(kTemporarySuffix);
    if (Suffix == std::string::npos) return {};
    const std::string After = Rest.substr(Suffix + sizeof(kTemporarySuffix) - 1);
    if (!After.empty() && (After[0] != '.' || After.size() == 1 || After.find('.', 1) != std::string::npos))
        return {};
    const std::string IdAndCounter = Rest.substr(0, Suffix);
    const size_t Dash = IdAndCounter.rfind('-');
    if (Dash == std::string::npos || Dash == 0 || Dash + 1 == IdAndCounter.size() ||
        IdAndCounter.find_first_not_of("0123456789", Dash + 1) != std::string::npos)
        return {};
    return IdAndCounter.substr(0, Dash);
}

// The names a lock file lists as taken: "NAME" takes a name, "-NAME" gives it up again.
std::set<std::string> ListedNames(int Fd) {
    std::string Text;
    char Buffer[4096];
    for (off_t At = 0;;) {
        const ssize_t Got = ::pread(Fd, Buffer, sizeof(Buffer), At);
        if (Got <= 0) break;
        Text.append(Buffer, static_cast<size_t>(Got));
        At += Got;
    }
    std::set<std::string> Names;
    size_t Begin = 0;
    // A last line without its end is still being written: it is not counted yet.
    for (size_t End; (End = Text.find('\n', Begin)) != std::string::npos; Begin = End + 1) {
        const std::string Line = Text.substr(Begin, End - Begin);
        if (!Line.empty() && Line[0] == '-')
            Names.erase(Line.substr(1));
        else if (!Line.empty())
            Names.insert(Line);
    }
    return Names;
}

bool IsEmptyPlainFile(const std::string& Name) {
    struct stat St {};
    return ::lstat(Name.c_str(), &St) == 0 && S_ISREG(St.st_mode) && St.st_size == 0;
}

struct TFolderLock {
    int Fd = -1;
    std::string Path;
    int Users = 0;
};

class TRegistry {
  public:
    // Never destroyed: a worker that frees itself may still give a name back while the
    // process exits. What a process leaves at exit is a dead process's leftovers for the next.
    static TRegistry& Get() {
        static TRegistry* Registry = new TRegistry;
        return *Registry;
    }

    TRegistry() {
        std::random_device Random;
        char Text[32];
        std::snprintf(Text, sizeof(Text), "%x-%08x", static_cast<unsigned>(::getpid()), Random());
        FId = Text;
    }

    void Prepare(const std::string& Folder) {
        std::lock_guard<std::mutex> G(FLock);
        Clean(Folder);
    }

    int Claim(const std::string& Name) {
        std::lock_guard<std::mutex> G(FLock);
        const std::string Folder = FolderOfName(Name);
        const bool Locked = Acquire(Folder);
        // Listed before it exists: a crash between the two leaves nothing unlisted.
        if (Locked) Append(Folder, BaseOfName(Name));
        const int Fd = ::open(Name.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
        if (Fd < 0) {
            const int Error = errno;
            if (Locked) {
                Append(Folder, "-" + BaseOfName(Name));
                Drop(Folder);
            }
            return Error;
        }
        ::close(Fd);
        FClaims.insert(Name);
        if (!Locked) FUnlockedClaims.insert(Name);
        return 0;
    }

    bool IsOwn(const std::string& Name) {
        std::lock_guard<std::mutex> G(FLock);
        return FClaims.count(Name) > 0;
    }

    void Release(const std::string& Name, bool RemoveEmpty) {
        std::lock_guard<std::mutex> G(FLock);
        if (FClaims.erase(Name) == 0) return;
        if (RemoveEmpty && IsEmptyPlainFile(Name)) ::unlink(Name.c_str());
        if (FUnlockedClaims.erase(Name) > 0) return;
        const std::string Folder = FolderOfName(Name);
        Append(Folder, "-" + BaseOfName(Name));
        Drop(Folder);
    }

    std::string NewTemporary(const std::string& Name) {
        std::lock_guard<std::mutex> G(FLock);
        const std::string Folder = FolderOfName(Name);
        std::string Base = BaseOfName(Name);
        const std::string Extension = ExtensionOf(Base);
        if (Base.size() > kKeptNameBytes) {
            size_t Cut = kKeptNameBytes;
            // Not inside a UTF-8 sequence, so that the name still reads.
            while (Cut > 0 && (static_cast<unsigned char>(Base[Cut]) & 0xC0) == 0x80) --Cut;
            Base.resize(Cut);
        }
        const std::string Temporary =
            JoinName(Folder, "." + Base + kMarker + FId + "-" + std::to_string(++FCounter) +
                                 kTemporarySuffix + Extension);
        if (!Acquire(Folder)) FUnlockedTemporaries.insert(Temporary);
        FTemporaries.insert(Temporary);
        return Temporary;
    }

    void SetWarningHandler(std::function<void(const std::string&)> Handler) {
        {
            std::lock_guard<std::mutex> G(FLock);
            FWarningHandler = std::move(Handler);
        }
        DeliverWarnings();
    }

    // Outside the lock: the handler may log, and a log line may wait for another thread.
    void DeliverWarnings() {
        std::vector<std::string> Warnings;
        std::function<void(const std::string&)> Handler;
        {
            std::lock_guard<std::mutex> G(FLock);
            if (!FWarningHandler || FWarnings.empty()) return;
            Warnings.swap(FWarnings);
            Handler = FWarningHandler;
        }
        for (const std::string& Warning : Warnings) Handler(Warning);
    }

    void ForgetTemporary(const std::string& Temporary) {
        std::lock_guard<std::mutex> G(FLock);
        if (FTemporaries.erase(Temporary) == 0) return;
        if (FUnlockedTemporaries.erase(Temporary) > 0) return;
        Drop(FolderOfName(Temporary));
    }

    // Removes this process's temporary files, empty reservations and lock files, as the next
    // run into their folders would. Gives up (false) when the registry stays busy: a worker
    // may hold it in a call that hangs on its file system.
    bool RemoveUnfinished() {
        std::unique_lock<std::mutex> G(FLock, std::defer_lock);
        for (int Try = 0; !G.try_lock(); ++Try) {
            if (Try == 200) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        for (const std::string& Temporary : FTemporaries) ::unlink(Temporary.c_str());
        for (const std::string& Name : FClaims)
            if (IsEmptyPlainFile(Name)) ::unlink(Name.c_str());
        for (const auto& Entry : FFolders) ::unlink(Entry.second.Path.c_str());
        return true;
    }

  private:
    // Holds this process's lock file in Folder (made on first use); false when the folder takes
    // none (read-only, say): the claims still hold, only a crash's leftovers stay.
    bool Acquire(const std::string& Folder) {
        if (auto It = FFolders.find(Folder); It != FFolders.end()) {
            ++It->second.Users;
            return true;
        }
        Clean(Folder);
        // Made under another name and renamed once locked, so that no other process ever sees
        // this process's lock file unlocked.
        const std::string Fresh = JoinName(Folder, kMarker + FId + kNewLockSuffix);
        const std::string Path = JoinName(Folder, kMarker + FId + kLockSuffix);
        const int Fd = ::open(Fresh.c_str(), O_CREAT | O_EXCL | O_RDWR | O_APPEND | O_CLOEXEC, 0644);
        if (Fd < 0) return false;
        if (::flock(Fd, LOCK_EX | LOCK_NB) != 0) {
            const int Error = errno;
            ::unlink(Fresh.c_str());
            ::close(Fd);
            // A folder that takes no locks at all (a network folder without lock support): the
            // names still hold, but another run cannot tell this one's files from a dead one's.
            if ((Error == ENOLCK || Error == EOPNOTSUPP) && FWarned.insert(Folder).second)
                FWarnings.push_back("The folder " + Folder + " takes no file locks (" + std::strerror(Error) +
                                    "): runs converting into it at the same time are unsafe");
            return false;
        }
        if (::rename(Fresh.c_str(), Path.c_str()) != 0) {
            ::unlink(Fresh.c_str());
            ::close(Fd);
            return false;
        }
        FFolders[Folder] = {Fd, Path, 1};
        return true;
    }

    void Drop(const std::string& Folder) {
        auto It = FFolders.find(Folder);
        if (It == FFolders.end() || --It->second.Users > 0) return;
        ::unlink(It->second.Path.c_str());
        ::close(It->second.Fd);
        FFolders.erase(It);
    }

    void Append(const std::string& Folder, const std::string& Line) {
        auto It = FFolders.find(Folder);
        if (It == FFolders.end()) return;
        const std::string Text = Line + "\n";
        // One write with O_APPEND: a reader sees whole lines or an unfinished last one.
        (void)!::write(It->second.Fd, Text.data(), Text.size());
    }

    // Whether the owner ID still lives; a dead owner's lock file stays locked by this process
    // (in Dead) until its leftovers are gone.
    bool Alive(const std::string& Folder, const std::string& Id, std::map<std::string, int>& Dead,
               std::set<std::string>& LiveNames) {
        if (Id == FId) return true;
        if (Dead.count(Id)) return false;
        const std::string Path = JoinName(Folder, kMarker + Id + kLockSuffix);
        const int Fd = ::open(Path.c_str(), O_RDWR | O_CLOEXEC);
        if (Fd < 0) {
            // No lock file: its owner went after it removed it, or died between its files; one
            // that cannot be opened is someone else's affair.
            if (errno != ENOENT) return true;
            Dead[Id] = -1;
            return false;
        }
        if (::flock(Fd, LOCK_EX | LOCK_NB) != 0) {
            const std::set<std::string> Names = ListedNames(Fd);
            LiveNames.insert(Names.begin(), Names.end());
            ::close(Fd);
            return true;
        }
        Dead[Id] = Fd;
        return false;
    }

    void Clean(const std::string& Folder) {
        if (!FPrepared.insert(Folder).second) return;
        DIR* Dir = ::opendir(Folder.c_str());
        if (!Dir) return;
        std::vector<std::string> Locks, Temporaries;
        while (const dirent* E = ::readdir(Dir)) {
            const std::string Base = E->d_name;
            if (Base.rfind(kMarker, 0) == 0 && EndsWith(Base, kLockSuffix))
                Locks.push_back(Base.substr(sizeof(kMarker) - 1,
                                            Base.size() - (sizeof(kMarker) - 1) - (sizeof(kLockSuffix) - 1)));
            else if (Base.rfind(kMarker, 0) == 0 && EndsWith(Base, kNewLockSuffix))
                Temporaries.push_back(Base);
            else if (!TemporaryOwner(Base).empty())
                Temporaries.push_back(Base);
        }
        ::closedir(Dir);
        std::map<std::string, int> Dead;
        std::set<std::string> LiveNames;
        // Every live owner's names are known before any dead owner's reservation goes.
        for (const std::string& Id : Locks) Alive(Folder, Id, Dead, LiveNames);
        for (const std::string& Base : Temporaries) {
            if (EndsWith(Base, kNewLockSuffix)) {
                // A lock file its owner never finished making.
                const std::string Path = JoinName(Folder, Base);
                const int Fd = ::open(Path.c_str(), O_RDWR | O_CLOEXEC);
                if (Fd >= 0 && ::flock(Fd, LOCK_EX | LOCK_NB) == 0) ::unlink(Path.c_str());
                if (Fd >= 0) ::close(Fd);
                continue;
            }
            if (!Alive(Folder, TemporaryOwner(Base), Dead, LiveNames))
                ::unlink(JoinName(Folder, Base).c_str());
        }
        for (auto& [Id, Fd] : Dead) {
            if (Fd < 0) continue;
            for (const std::string& Base : ListedNames(Fd)) {
                const std::string Name = JoinName(Folder, Base);
                if (!LiveNames.count(Base) && IsEmptyPlainFile(Name)) ::unlink(Name.c_str());
            }
            ::unlink(JoinName(Folder, kMarker + Id + kLockSuffix).c_str());
            ::close(Fd);
        }
    }

    std::mutex FLock;
    std::string FId;
    unsigned long FCounter = 0;
    std::unordered_map<std::string, TFolderLock> FFolders;
    std::unordered_set<std::string> FClaims, FUnlockedClaims, FTemporaries, FUnlockedTemporaries, FPrepared;
    // Folders already warned of, and warnings kept until there is a handler to hear them.
    std::unordered_set<std::string> FWarned;
    std::vector<std::string> FWarnings;
    std::function<void(const std::string&)> FWarningHandler;
};

}  // namespace

void PrepareOutputFolder(const std::string& Folder) {
    std::string Name = Folder.empty() ? std::string(".") : Folder;
    while (Name.size() > 1 && Name.back() == '/') Name.pop_back();
    TRegistry::Get().Prepare(Name);
}

int ClaimOutputName(const std::string& Name) {
    const int Error = TRegistry::Get().Claim(Name);
    TRegistry::Get().DeliverWarnings();
    return Error;
}

bool IsOwnOutputClaim(const std::string& Name) {
    return TRegistry::Get().IsOwn(Name);
}

void ReleaseOutputClaim(const std::string& Name, bool RemoveEmpty) {
    TRegistry::Get().Release(Name, RemoveEmpty);
}

std::string NewTemporaryOutputName(const std::string& Name) {
    std::string Temporary = TRegistry::Get().NewTemporary(Name);
    TRegistry::Get().DeliverWarnings();
    return Temporary;
}

void SetOutputFolderWarningHandler(std::function<void(const std::string& Message)> Handler) {
    TRegistry::Get().SetWarningHandler(std::move(Handler));
}

void ForgetTemporaryOutput(const std::string& TemporaryName) {
    TRegistry::Get().ForgetTemporary(TemporaryName);
}

bool IsTemporaryOutputName(const std::string& BaseName) {
    return !TemporaryOwner(BaseName).empty();
}

bool RemoveUnfinishedOutputs() {
    return TRegistry::Get().RemoveUnfinished();
}

}  // namespace zembra

namespace zembra {

bool IsListedByLiveProcess(const std::string& Name) {
    const std::string Folder = FolderOfName(Name), Base = BaseOfName(Name);
    DIR* Dir = ::opendir(Folder.c_str());
    if (!Dir) return false;
    std::vector<std::string> Locks;
    while (const dirent* E = ::readdir(Dir)) {
        const std::string Entry = E->d_name;
        if (Entry.rfind(kMarker, 0) == 0 && EndsWith(Entry, kLockSuffix)) Locks.push_back(Entry);
    }
    ::closedir(Dir);
    for (const std::string& Lock : Locks) {
        const int Fd = ::open(JoinName(Folder, Lock).c_str(), O_RDONLY | O_CLOEXEC);
        if (Fd < 0) continue;
        // A lock that can be had belongs to a dead process: let go of it at once, so that the
        // next run into the folder still finds it unlocked and cleans up after it.
        bool Listed = false;
        if (::flock(Fd, LOCK_EX | LOCK_NB) == 0)
            ::flock(Fd, LOCK_UN);
        else
            Listed = errno == EWOULDBLOCK && ListedNames(Fd).count(Base) > 0;
        ::close(Fd);
        if (Listed) return true;
    }
    return false;
}

}  // namespace zembra
