#pragma once

#include <cstdint>
#include <string>

#include "binding/FFmpegHolders.h"

namespace zembra {

// Names the libraries cannot take as they stand travel as "unicode:utf8:" + the UTF-8 name and
// are opened through the handlers below, driven by a custom I/O context.
constexpr char kUnicodeURLPrefix[] = "unicode:utf8:";
constexpr size_t kUnicodeURLPrefixLength = sizeof(kUnicodeURLPrefix) - 1;  // 13

// Whether the name must travel through the protocol: it does not survive the round trip
// through the locale's character set, or the locale's bytes are not the file system's (UTF-8)
// bytes. Names that start with a known protocol ("http:", ...) never do.
bool NameNeedsUnicodeProtocol(const std::u16string& FileName);

// The name as the libraries get it; each call returns its own text, of any length.
std::string FileNameToURL(const std::u16string& FileName);
std::u16string URLToFileName(const std::string& URL);
bool IsUnicodeURL(const std::string& URL);

// The handlers. Open: 0 or -2; read and write: bytes moved or -1; seek: the new position (or
// the size for AVSEEK_SIZE) or -1.
struct TUnicodeFile {
    int Handle = -1;
};
int UnicodeOpen(TUnicodeFile& File, const std::string& URL, int Flags);
int UnicodeRead(TUnicodeFile& File, uint8_t* Buffer, int Size);
int UnicodeWrite(TUnicodeFile& File, const uint8_t* Buffer, int Size);
int64_t UnicodeSeek(TUnicodeFile& File, int64_t Position, int Whence);
int UnicodeClose(TUnicodeFile& File);

// A custom I/O context on a "unicode:utf8:" name for reading (Flags 0) or writing (1, or 2 for
// read-write). nullptr with ErrorCode set (an AVERROR) when the file cannot be opened.
AVIOContext* OpenUnicodeIO(const std::string& URL, int Flags, int& ErrorCode);
// Flushes (when writing), closes the file and frees the context and its buffer: 0, or the
// AVERROR of what could not be written or closed.
int CloseUnicodeIO(AVIOContext*& Context);
// Whether a custom I/O context is one of ours.
bool IsUnicodeIO(const AVIOContext* Context);
// One of ours, closed with its file.
using TUnicodeIOPtr = TClosedByPtr<AVIOContext, CloseUnicodeIO>;

// Kept for the loader's registration point: marks the protocol available once per process.
void RegisterUnicodeProtocol();
bool UnicodeProtocolRegistered();

}  // namespace zembra
