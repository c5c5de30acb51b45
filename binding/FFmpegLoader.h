#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "binding/FFmpegHeaders.h"
#include "util/CriticalSection.h"

namespace zembra {

// Index order is fixed; swresample, the present-day resampler, comes after SDL.
enum TLibraryID : int {
    libAVCodec = 0,
    libAVDevice = 1,
    libAVFilter = 2,
    libAVFormat = 3,
    libAVUtil = 4,
    libSwScale = 5,
    libMyUtil = 6,
    libSDL = 7,
    libSwResample = 8,
};
constexpr int kLibraryCount = 9;

using TLibrarySet = uint32_t;
constexpr TLibrarySet LibraryBit(TLibraryID Id) {
    return TLibrarySet(1) << Id;
}
// avcodec, avfilter, avformat, avutil, swscale, myutil and swresample. avdevice and SDL are
// never loaded by this program.
constexpr TLibrarySet kDefaultLibrarySet =
    LibraryBit(libAVCodec) | LibraryBit(libAVFilter) | LibraryBit(libAVFormat) | LibraryBit(libAVUtil) |
    LibraryBit(libSwScale) | LibraryBit(libMyUtil) | LibraryBit(libSwResample);

struct TLibraryItem {
    TLibraryID Id;
    const char16_t* BaseName;
    int Version;  // -1: no version in the file name
    void (*Fill)(const std::string& FileName, void* Module);
    void (*Clear)();
};

// The process-wide loader: opens the libraries at run time and fills their entry-point tables.
// Loading and unloading happen on the main thread, before tasks run or after they end.
class TFFmpegLoader {
  public:
    TFFmpegLoader();
    TFFmpegLoader(const TFFmpegLoader&) = delete;
    TFFmpegLoader& operator=(const TFFmpegLoader&) = delete;

    const std::string& LastError() const { return FLastError; }
    void SetLibraryPath(const std::u16string& Folder) { FLibraryPath = Folder; }
    const std::u16string& LibraryPath() const { return FLibraryPath; }

    // "lib" + base name + ".so", then "." + version when the version is 0 or more.
    std::u16string LibraryFileName(int Index) const;

    bool LoadLibraryItem(int Index);
    // In index order; at the first failure the whole set is unloaded and False returned.
    bool LoadLibrarySet(TLibrarySet Set);
    bool IsLoaded(int Index) const;
    bool AllLoaded(TLibrarySet Set) const;
    void UnloadLibraryItem(int Index);
    void UnloadLibrarySet(TLibrarySet Set);

    // Where the modules came from, for diagnostics ("" while not loaded).
    std::string LoadedFrom(int Index) const;

    // When set (the default), the log callback is installed each time avutil loads.
    void SetLogHook(bool Value) { FLogHook = Value; }
    bool LogHook() const { return FLogHook; }

    // Installed by the logger: puts its callback into avutil.
    void SetLogCallbackInstaller(std::function<void()> Installer) {
        FLogCallbackInstaller = std::move(Installer);
    }
    // Installed by the unicode protocol: its registration, run each time avformat loads.
    void SetProtocolRegistration(std::function<void()> Registration) {
        FProtocolRegistration = std::move(Registration);
    }

  private:
    struct TLibraryStatus {
        void* Module = nullptr;
        bool Filled = false;
        std::string Path;
    };

    std::string FLastError;
    std::u16string FLibraryPath;
    TLibraryStatus FStatus[kLibraryCount];
    bool FLogHook = true;
    std::function<void()> FLogCallbackInstaller;
    std::function<void()> FProtocolRegistration;
};

// The process's loader.
TFFmpegLoader& FFLoader();

// The folder "LibAV" beside the running executable.
std::u16string DefaultLibraryFolder();

// Held around every codec open and close and around stream-information probing.
TCriticalSection& CodecLock();

// Holds the codec lock for its lifetime. On the main thread it keeps running the queued
// main-thread calls while it waits: a worker that holds the lock may itself be waiting for the
// main thread to deliver one of its library's log lines.
class TCodecLockGuard {
  public:
    TCodecLockGuard();
    ~TCodecLockGuard();
    TCodecLockGuard(const TCodecLockGuard&) = delete;
    TCodecLockGuard& operator=(const TCodecLockGuard&) = delete;
};

// Looks Name up in Module; raises FFmpegLoadError "Load function %s@%s error: %s" when absent.
void* LoadEntryPoint(const std::string& LibraryFileName, void* Module, const char* Name);

class FFmpegLoadError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Opens Folder + FileName when that file exists, else FileName through the default search.
// On failure returns nullptr and ErrorText holds the platform's text.
void* OpenLibraryFile(const std::u16string& Folder, const std::u16string& FileName, std::string& ErrorText);

int ClipInt(int Value, int Low, int High);
// The nearest rational with numerator and denominator at most Maximum.
AVRational DoubleToRational(double Value, int Maximum);

}  // namespace zembra
