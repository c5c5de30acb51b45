#pragma once

// What the fuzz targets share: the media libraries loaded once and kept quiet, and a scratch
// folder for the files a target has to hand to the libraries by name.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "logging/FFmpegLogger.h"

namespace zembra::fuzz {

inline void LoadLibrariesOnce() {
    static const bool Loaded = [] {
        FFLoader().SetLibraryPath(DefaultLibraryFolder());
        if (!FFLoader().LoadLibrarySet(kDefaultLibrarySet)) {
            std::fprintf(stderr, "the FFmpeg libraries did not load: %s\n", FFLoader().LastError().c_str());
            std::abort();
        }
        // Millions of runs of library chatter would drown the one report that matters.
        GetLogger().SetLogLevel(llQuiet);
        lavu.av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    (void)Loaded;
}

// A folder of this process, in memory when the machine has one (every run writes a file), and
// removed when the process ends normally. The name is never freed: the removal at exit runs
// after static objects are gone.
inline const std::string& ScratchFolder() {
    static const std::string& Folder = *new std::string([] {
        std::error_code Ec;
        const std::filesystem::path Base = std::filesystem::is_directory("/dev/shm", Ec)
                                               ? "/dev/shm"
                                               : std::filesystem::temp_directory_path();
        const std::filesystem::path Dir = Base / ("zembra-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(Dir, Ec);
        std::atexit([] {
            std::error_code Ignored;
            std::filesystem::remove_all(ScratchFolder(), Ignored);
        });
        return Dir.string();
    }());
    return Folder;
}

inline bool WriteBytes(const std::string& Path, const uint8_t* Data, size_t Size) {
    std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
    Out.write(reinterpret_cast<const char*>(Data), static_cast<std::streamsize>(Size));
    return static_cast<bool>(Out);
}

// Demuxers weigh the file name's suffix when the contents are ambiguous, so the inputs go in
// under several; the choice follows the size, which the fuzzer varies anyway.
inline const char* SuffixFor(size_t Size) {
    static const char* const kSuffixes[] = {".avi",  ".mp4", ".mkv", ".ogg", ".ts", ".wav",
                                            ".flac", ".mp3", ".mpg", ".ac3", "",    ".png"};
    return kSuffixes[Size % (sizeof(kSuffixes) / sizeof(kSuffixes[0]))];
}

}  // namespace zembra::fuzz
