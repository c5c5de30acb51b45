#include "engine/FrameHook.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include "binding/EntryPoints.h"

namespace zembra {

// Modules receive the format as a bare number; the names they use must mean what the library
// means by them.
static_assert(ZEMBRA_HOOK_PIX_FMT_YUV420P == AV_PIX_FMT_YUV420P);
static_assert(ZEMBRA_HOOK_PIX_FMT_RGB24 == AV_PIX_FMT_RGB24);
static_assert(ZEMBRA_HOOK_PIX_FMT_BGR24 == AV_PIX_FMT_BGR24);
static_assert(ZEMBRA_HOOK_PIX_FMT_YUV422P == AV_PIX_FMT_YUV422P);
static_assert(ZEMBRA_HOOK_PIX_FMT_YUV444P == AV_PIX_FMT_YUV444P);
static_assert(ZEMBRA_HOOK_PIX_FMT_YUV410P == AV_PIX_FMT_YUV410P);
static_assert(ZEMBRA_HOOK_PIX_FMT_YUV411P == AV_PIX_FMT_YUV411P);
static_assert(ZEMBRA_HOOK_PIX_FMT_YUVJ420P == AV_PIX_FMT_YUVJ420P);
static_assert(ZEMBRA_HOOK_PIX_FMT_YUVJ422P == AV_PIX_FMT_YUVJ422P);
static_assert(ZEMBRA_HOOK_PIX_FMT_YUVJ444P == AV_PIX_FMT_YUVJ444P);

namespace {

constexpr int kHighestArgIndex = ZEMBRA_HOOK_MAX_ARGS - 1;

// Loaded modules by the absolute path they were loaded from. The lock also covers the change
// of the current folder, which is process-wide: two threads adding hooks at once would
// otherwise restore each other's folder.
struct TModuleCache {
    std::mutex Lock;
    std::map<std::string, void*> Modules;
};

TModuleCache& Cache() {
    static TModuleCache C;
    return C;
}

template <typename... TArgs>
void LogError(const char* Format, TArgs... Args) {
    if (lavu.av_log)
        lavu.av_log(nullptr, AV_LOG_ERROR, Format, Args...);
    else
        std::fprintf(stderr, Format, Args...);
}

std::string CurrentFolder() {
    std::string Buffer(256, '\0');
    for (;;) {
        if (getcwd(Buffer.data(), Buffer.size())) {
            Buffer.resize(Buffer.find('\0'));
            return Buffer;
        }
        if (errno != ERANGE) return "";
        Buffer.resize(Buffer.size() * 2);
    }
}

// Enters a folder for the lifetime of the object and then returns to the folder that was
// current before, by descriptor so that even a folder that cannot be named again is found.
class TFolderChange {
  public:
    explicit TFolderChange(const std::string& Folder) {
        FPrevious = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (FPrevious >= 0 && chdir(Folder.c_str()) != 0) {
            close(FPrevious);
            FPrevious = -1;
        }
    }
    ~TFolderChange() {
        if (FPrevious < 0) return;
        if (fchdir(FPrevious) != 0) LogError("%s\n", "Failed to restore the current folder");
        close(FPrevious);
    }
    TFolderChange(const TFolderChange&) = delete;
    TFolderChange& operator=(const TFolderChange&) = delete;

  private:
    int FPrevious = -1;
};

void FreeEntry(TFrameHookEntry* Entry) {
    delete Entry;
}

}  // namespace

TFrameHookChain& TFrameHookChain::operator=(TFrameHookChain&& Other) noexcept {
    if (this != &Other) {
        ReleaseFrameHooks(*this);
        FHead = Other.FHead;
        Other.FHead = nullptr;
    }
    return *this;
}

TFrameHookChain::~TFrameHookChain() {
    ReleaseFrameHooks(*this);
}

int TFrameHookChain::Count() const {
    int N = 0;
    for (const TFrameHookEntry* E = FHead; E; E = E->Next) ++N;
    return N;
}

int AddFrameHook(TFrameHookChain& Chain, int ArgCount, char* const* ArgVector) {
    if (ArgCount <= 0 || !ArgVector || !ArgVector[0] || !ArgVector[0][0]) return kFrameHookNoEntryPoint;
    const std::string Path = ArgVector[0];
    // The vector a module sees has a fixed length; more arguments than fit would be read past
    // its end.
    if (ArgCount > ZEMBRA_HOOK_MAX_ARGS) {
        LogError("Too many arguments for %s\n", Path.c_str());
        return kFrameHookInvalid;
    }

    TModuleCache& C = Cache();
    std::lock_guard<std::mutex> G(C.Lock);

    // A relative path is made absolute first: once the module's folder is current, the same
    // relative path would no longer lead to the module.
    const size_t Slash = Path.rfind('/');
    std::string LoadPath = Path;
    std::unique_ptr<TFolderChange> Folder;
    if (Slash != std::string::npos) {
        if (Path[0] != '/') LoadPath = CurrentFolder() + "/" + Path;
        const size_t LoadSlash = LoadPath.rfind('/');
        Folder = std::make_unique<TFolderChange>(LoadSlash == 0 ? std::string("/")
                                                                : LoadPath.substr(0, LoadSlash));
    }

    void* Module = nullptr;
    auto Cached = C.Modules.find(LoadPath);
    if (Cached != C.Modules.end()) {
        Module = Cached->second;
    } else {
        Module = dlopen(LoadPath.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!Module) {
            const char* Error = dlerror();
            LogError("%s\n", Error ? Error : "unknown error");
            return kFrameHookNotLoadable;
        }
        try {
            C.Modules.emplace(LoadPath, Module);
        } catch (const std::bad_alloc&) {
            // Not cached: the next attempt loads it again, which the loader answers with the
            // same handle.
        }
    }

    std::unique_ptr<TFrameHookEntry, void (*)(TFrameHookEntry*)> Entry(new (std::nothrow) TFrameHookEntry(),
                                                                       FreeEntry);
    if (!Entry) return kFrameHookNoMemory;
    try {
        Entry->Arguments.reserve(ArgCount);
        for (int I = 0; I < ArgCount; ++I) Entry->Arguments.emplace_back(ArgVector[I] ? ArgVector[I] : "");
    } catch (const std::bad_alloc&) {
        return kFrameHookNoMemory;
    }
    for (int I = 0; I < ArgCount; ++I) Entry->ArgVector[I] = Entry->Arguments[I].data();

    Entry->Configure = reinterpret_cast<TZembraHookConfigure>(dlsym(Module, "Configure"));
    Entry->Process = reinterpret_cast<TZembraHookProcess>(dlsym(Module, "Process"));
    Entry->Release = reinterpret_cast<TZembraHookRelease>(dlsym(Module, "Release"));

    if (!Entry->Process) {
        LogError("Failed to find Process entrypoint in %s\n", Path.c_str());
        return kFrameHookNoEntryPoint;
    }
    if (!Entry->Configure && ArgCount > 1) {
        LogError("Failed to find Configure entrypoint in %s\n", Path.c_str());
        return kFrameHookNoEntryPoint;
    }
    if (Entry->Configure) {
        if (Entry->Configure(&Entry->Context, ArgCount, Entry->ArgVector.data(), kHighestArgIndex) != 0) {
            LogError("Failed to Configure %s\n", Path.c_str());
            return kFrameHookInvalid;
        }
    }

    TFrameHookEntry** Tail = &Chain.FHead;
    while (*Tail) Tail = &(*Tail)->Next;
    *Tail = Entry.release();
    return kFrameHookOk;
}

int AddFrameHook(TFrameHookChain& Chain, const std::vector<std::string>& Arguments) {
    if (Arguments.size() > ZEMBRA_HOOK_MAX_ARGS) {
        LogError("Too many arguments for %s\n", Arguments[0].c_str());
        return kFrameHookInvalid;
    }
    std::array<char*, ZEMBRA_HOOK_MAX_ARGS> Vector{};
    for (size_t I = 0; I < Arguments.size(); ++I) Vector[I] = const_cast<char*>(Arguments[I].c_str());
    return AddFrameHook(Chain, static_cast<int>(Arguments.size()), Vector.data());
}

void ProcessFrameHooks(TFrameHookChain& Chain, uint8_t* Data[4], int Linesize[4], int PixelFormat, int Width,
                       int Height, int64_t PTS) {
    for (const TFrameHookEntry* E = Chain.Head(); E; E = E->Next) {
        // Each module gets its own copy of the plane table, so one that rewrites the table
        // cannot redirect the modules after it.
        TZembraHookPicture Picture;
        for (int I = 0; I < 4; ++I) {
            Picture.data[I] = Data[I];
            Picture.linesize[I] = Linesize[I];
        }
        E->Process(E->Context, &Picture, PixelFormat, Width, Height, PTS);
    }
}

void ReleaseFrameHooks(TFrameHookChain& Chain) {
    TFrameHookEntry* E = Chain.FHead;
    Chain.FHead = nullptr;
    while (E) {
        TFrameHookEntry* Next = E->Next;
        if (E->Release) E->Release(E->Context);
        FreeEntry(E);
        E = Next;
    }
}

std::vector<std::string> SplitHookOptionText(const std::string& Text) {
    const char Separator = Text.find('|') != std::string::npos ? '|' : ' ';
    std::vector<std::string> Tokens;
    size_t Pos = 0;
    while (Pos < Text.size() && Tokens.size() < ZEMBRA_HOOK_MAX_ARGS) {
        while (Pos < Text.size() && Text[Pos] == Separator) ++Pos;
        if (Pos >= Text.size()) break;
        size_t End = Text.find(Separator, Pos);
        if (End == std::string::npos) End = Text.size();
        Tokens.push_back(Text.substr(Pos, End - Pos));
        Pos = End;
    }
    return Tokens;
}

int FrameHookModuleCount() {
    TModuleCache& C = Cache();
    std::lock_guard<std::mutex> G(C.Lock);
    return static_cast<int>(C.Modules.size());
}

}  // namespace zembra
