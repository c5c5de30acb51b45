#pragma once

// What the hostile-input tests share: files as bytes, the state that says an input was left
// alone, a sound file without samples, and a folder no one can write into.

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <system_error>

namespace zembra::testing {

inline std::string ReadAll(const std::string& File) {
    std::ifstream In(File, std::ios::binary);
    std::ostringstream S;
    S << In.rdbuf();
    return S.str();
}

inline void WriteAll(const std::string& File, const std::string& Bytes) {
    std::ofstream(File, std::ios::binary | std::ios::trunc) << Bytes;
}

// What "untouched" means for an input: the same bytes, the same modification time.
struct TFileState {
    bool Exists = false;
    bool Directory = false;
    std::string Bytes;
    int64_t ModifiedNs = 0;

    static TFileState Of(const std::string& Path) {
        TFileState S;
        struct stat St {};
        if (::stat(Path.c_str(), &St) != 0) return S;
        S.Exists = true;
        S.Directory = S_ISDIR(St.st_mode);
        S.ModifiedNs = static_cast<int64_t>(St.st_mtim.tv_sec) * 1000000000 + St.st_mtim.tv_nsec;
        if (!S.Directory) S.Bytes = ReadAll(Path);
        return S;
    }
    bool operator==(const TFileState& O) const {
        return Exists == O.Exists && Directory == O.Directory && Bytes == O.Bytes &&
               ModifiedNs == O.ModifiedNs;
    }
};

inline std::set<std::string> Listing(const std::string& Folder) {
    std::set<std::string> Names;
    std::error_code Ec;
    for (const auto& Entry : std::filesystem::directory_iterator(Folder, Ec))
        Names.insert(Entry.path().filename().string());
    return Names;
}

// A 44-byte WAVE header whose data chunk is empty: an audio stream without a single sample.
// A stereo 44.1 kHz WAVE file: FormatTag 1 with 16-bit samples, or 3 with 32-bit floats.
inline std::string Wave(uint16_t FormatTag, const std::string& Data) {
    auto Le32 = [](uint32_t V) {
        return std::string{static_cast<char>(V & 0xFF), static_cast<char>((V >> 8) & 0xFF),
                           static_cast<char>((V >> 16) & 0xFF), static_cast<char>((V >> 24) & 0xFF)};
    };
    auto Le16 = [](uint16_t V) {
        return std::string{static_cast<char>(V & 0xFF), static_cast<char>(V >> 8)};
    };
    const uint16_t Bits = FormatTag == 3 ? 32 : 16;
    const uint16_t Block = static_cast<uint16_t>(2 * Bits / 8);
    const auto Size = static_cast<uint32_t>(Data.size());
    return "RIFF" + Le32(36 + Size) + "WAVE" + "fmt " + Le32(16) + Le16(FormatTag) + Le16(2) + Le32(44100) +
           Le32(44100 * Block) + Le16(Block) + Le16(Bits) + "data" + Le32(Size) + Data;
}

inline std::string EmptyWave() {
    return Wave(1, "");
}

inline bool SetImmutable(const std::string& Folder, bool On) {
    const int Fd = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (Fd < 0) return false;
    int Flags = 0;
    bool Ok = ::ioctl(Fd, FS_IOC_GETFLAGS, &Flags) == 0;
    if (Ok) {
        Flags = On ? (Flags | FS_IMMUTABLE_FL) : (Flags & ~FS_IMMUTABLE_FL);
        Ok = ::ioctl(Fd, FS_IOC_SETFLAGS, &Flags) == 0;
    }
    ::close(Fd);
    return Ok;
}
inline bool CanCreateIn(const std::string& Folder) {
    const std::string Probe = Folder + "/.probe";
    const int Fd = ::open(Probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (Fd < 0) return false;
    ::close(Fd);
    ::unlink(Probe.c_str());
    return true;
}

// Makes Folder one that no file can be created in: by its permissions for an ordinary user, and
// for root (whom permissions do not stop) by the file system's immutable flag, which sets
// Immutable and must be cleared again. False when neither works here.
inline bool MakeUnwritable(const std::string& Folder, bool& Immutable) {
    namespace fs = std::filesystem;
    std::error_code Ec;
    fs::permissions(Folder, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, Ec);
    if (!CanCreateIn(Folder)) return true;
    Immutable = SetImmutable(Folder, true);
    return !CanCreateIn(Folder);
}

// Folder made unwritable, or where that is impossible (root on a file system without the
// immutable flag, such as tmpfs) /proc, in which no one can create a file.
inline std::string UnwritableFolder(const std::string& Folder, bool& Immutable) {
    return MakeUnwritable(Folder, Immutable) ? Folder : "/proc";
}

// The system's reason for refusing a new file in Folder ("Permission denied", "Operation not
// permitted" for an immutable folder as root...), as a failure message names it.
inline std::string CreateRefusal(const std::string& Folder) {
    const int Fd = ::open((Folder + "/.probe").c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0644);
    if (Fd >= 0) {
        ::close(Fd);
        ::unlink((Folder + "/.probe").c_str());
        return "";
    }
    return std::strerror(errno);
}

// Undoes MakeUnwritable, so that the folder can be removed.
inline void MakeWritable(const std::string& Folder, bool Immutable) {
    namespace fs = std::filesystem;
    if (Immutable) SetImmutable(Folder, false);
    std::error_code Ec;
    fs::permissions(Folder, fs::perms::owner_all, fs::perm_options::add, Ec);
}

}  // namespace zembra::testing
