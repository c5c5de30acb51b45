#include "protocol/UnicodeProtocol.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra {

namespace {

constexpr char kKnownPrefixes[] = ":unicode:stream:gopher:http:pipe:rtp:tcp:udp:";
constexpr int kIOBufferSize = 64 * 1024;

std::atomic<bool> gRegistered{false};

const bool kRegistrationInstalled = [] {
    FFLoader().SetProtocolRegistration([] { RegisterUnicodeProtocol(); });
    return true;
}();

bool HasKnownProtocol(const std::u16string& FileName) {
    const size_t Colon = FileName.find(u':');
    if (Colon == std::u16string::npos) return false;
    const std::string Probe = ":" + Utf16ToUtf8(FileName.substr(0, Colon)) + ":";
    return std::string(kKnownPrefixes).find(Probe) != std::string::npos;
}

// Removes everything up to and including the first two ':'.
std::u16string StripTwoParts(std::u16string Text) {
    for (int I = 0; I < 2; ++I) {
        const size_t Colon = Text.find(u':');
        Text = Colon == std::u16string::npos ? std::u16string() : Text.substr(Colon + 1);
    }
    return Text;
}

// The system's own reason travels up, so that a full disk says so instead of "I/O error".
int SystemError() {
    return AVERROR(errno != 0 ? errno : EIO);
}

int ReadPacket(void* Opaque, uint8_t* Buffer, int Size) {
    errno = 0;
    const int N = UnicodeRead(*static_cast<TUnicodeFile*>(Opaque), Buffer, Size);
    if (N < 0) return SystemError();
    return N == 0 ? AVERROR_EOF : N;
}

int WritePacket(void* Opaque, uint8_t* Buffer, int Size) {
    errno = 0;
    const int N = UnicodeWrite(*static_cast<TUnicodeFile*>(Opaque), Buffer, Size);
    return N < 0 ? SystemError() : N;
}

int64_t SeekPacket(void* Opaque, int64_t Offset, int Whence) {
    errno = 0;
    const int64_t R = UnicodeSeek(*static_cast<TUnicodeFile*>(Opaque), Offset, Whence & ~AVSEEK_FORCE);
    return R < 0 ? SystemError() : R;
}

}  // namespace

bool NameNeedsUnicodeProtocol(const std::u16string& FileName) {
    if (HasKnownProtocol(FileName)) return false;
    const std::optional<std::string> Narrow = WideToLocale(FileName);
    if (!Narrow) return true;
    const std::optional<std::u16string> Back = LocaleToWide(*Narrow);
    if (!Back || *Back != FileName) return true;
    // The libraries open the bytes they are given; those must be the file system's bytes.
    return *Narrow != Utf16ToUtf8(FileName);
}

std::string FileNameToURL(const std::u16string& FileName) {
    if (NameNeedsUnicodeProtocol(FileName)) return kUnicodeURLPrefix + Utf16ToUtf8(FileName);
    return WideToLocaleLossy(FileName);
}

bool IsUnicodeURL(const std::string& URL) {
    return URL.size() > kUnicodeURLPrefixLength &&
           URL.compare(0, kUnicodeURLPrefixLength, kUnicodeURLPrefix) == 0;
}

std::u16string URLToFileName(const std::string& URL) {
    if (IsUnicodeURL(URL)) return StripTwoParts(Utf8ToUtf16(URL));
    return LocaleToWideLossy(URL);
}

int UnicodeOpen(TUnicodeFile& File, const std::string& URL, int Flags) {
    const std::string Name = FileSystemName(StripTwoParts(Utf8ToUtf16(URL)));
    int Mode = O_RDONLY;
    if (Flags == 2)
        Mode = O_RDWR | O_CREAT | O_TRUNC;
    else if (Flags == 1)
        Mode = O_WRONLY | O_CREAT | O_TRUNC;
    const int Handle = ::open(Name.c_str(), Mode | O_CLOEXEC, 0644);
    if (Handle < 0) return -2;
    struct stat St {};
    if (::fstat(Handle, &St) != 0 || S_ISDIR(St.st_mode)) {
        ::close(Handle);
        errno = EISDIR;
        return -2;
    }
    File.Handle = Handle;
    return 0;
}

int UnicodeRead(TUnicodeFile& File, uint8_t* Buffer, int Size) {
    ssize_t N;
    do {
        N = ::read(File.Handle, Buffer, static_cast<size_t>(Size));
    } while (N < 0 && errno == EINTR);
    return N < 0 ? -1 : static_cast<int>(N);
}

int UnicodeWrite(TUnicodeFile& File, const uint8_t* Buffer, int Size) {
    int Done = 0;
    while (Done < Size) {
        const ssize_t N = ::write(File.Handle, Buffer + Done, static_cast<size_t>(Size - Done));
        if (N < 0 && errno == EINTR) continue;
        if (N <= 0) return -1;
        Done += static_cast<int>(N);
    }
    return Done;
}

int64_t UnicodeSeek(TUnicodeFile& File, int64_t Position, int Whence) {
    if (Whence == AVSEEK_SIZE) {
        struct stat St {};
        return ::fstat(File.Handle, &St) == 0 ? static_cast<int64_t>(St.st_size) : -1;
    }
    if (Whence != SEEK_SET && Whence != SEEK_CUR && Whence != SEEK_END) return -1;
    const off_t R = ::lseek(File.Handle, static_cast<off_t>(Position), Whence);
    return R < 0 ? -1 : static_cast<int64_t>(R);
}

int UnicodeClose(TUnicodeFile& File) {
    if (File.Handle < 0) return 0;
    const int R = ::close(File.Handle);
    File.Handle = -1;
    return R;
}

AVIOContext* OpenUnicodeIO(const std::string& URL, int Flags, int& ErrorCode) {
    ErrorCode = 0;
    auto* File = new TUnicodeFile;
    errno = 0;
    if (UnicodeOpen(*File, URL, Flags) != 0) {
        // The handler only says the file cannot be opened; the system says why.
        const int Cause = errno;
        delete File;
        ErrorCode = AVERROR(Cause != 0 ? Cause : ENOENT);
        return nullptr;
    }
    auto* Buffer = static_cast<unsigned char*>(lavu.av_malloc(kIOBufferSize));
    AVIOContext* Context = Buffer ? lavf.avio_alloc_context(Buffer, kIOBufferSize, Flags != 0 ? 1 : 0, File,
                                                            Flags != 0 ? nullptr : ReadPacket,
                                                            Flags != 0 ? WritePacket : nullptr, SeekPacket)
                                  : nullptr;
    if (!Context) {
        lavu.av_free(Buffer);
        UnicodeClose(*File);
        delete File;
        ErrorCode = AVERROR(ENOMEM);
        return nullptr;
    }
    return Context;
}

bool IsUnicodeIO(const AVIOContext* Context) {
    return Context && (Context->read_packet == ReadPacket || Context->write_packet == WritePacket);
}

int CloseUnicodeIO(AVIOContext*& Context) {
    if (!Context) return 0;
    auto* File = static_cast<TUnicodeFile*>(Context->opaque);
    int Result = 0;
    if (Context->write_flag) {
        lavf.avio_flush(Context);
        Result = Context->error;
    }
    lavu.av_freep(&Context->buffer);
    lavf.avio_context_free(&Context);
    if (File) {
        if (UnicodeClose(*File) != 0 && Result == 0) Result = AVERROR(errno);
        delete File;
    }
    return Result;
}

void RegisterUnicodeProtocol() {
    gRegistered = true;
}
bool UnicodeProtocolRegistered() {
    return gRegistered.load();
}

}  // namespace zembra
