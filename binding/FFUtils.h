#pragma once

// Helpers that read library structures; they call into the libraries through the tables.

#include <string>

#include "binding/FFmpegHeaders.h"

namespace zembra {

// The codec's short name with its long name in brackets, or what the context itself tells
// (codec name field, printable fourcc, or the tag in hex).
std::string CodecDescription(const AVCodecContext* Context, bool Encoder);
std::string CodecDescription(const AVCodecParameters* Parameters, bool Encoder);

// The value stored under Key (exact match), or Default when absent.
std::string GetMetadataValue(const AVDictionary* Metadata, const std::string& Key,
                             const std::string& Default);

// A tag's value with the library's default lookup (keys match without regard to case: a
// Vorbis comment's or Matroska tag's "ARTIST" is the artist), or Default when absent.
std::string GetTagValue(const AVDictionary* Metadata, const std::string& Key, const std::string& Default);

// Texts for a file that cannot be opened, by the classic error numbers (-42 unknown format,
// -33 image-number syntax, -22 header, -12 memory, -5 I/O, -2 missing); see LegacyOpenError.
std::string OpenErrorText(const std::u16string& FileName, int LegacyCode);
// The classic number for a present-day library error code.
int LegacyOpenError(int AVErrorCode);
constexpr int kErrorUnknownFormat = -42;
constexpr int kErrorImageNumber = -33;

// The library's text for an error code.
std::string ErrorText(int Code);

// Message, then ": " and the system's reason when Code is a system error (an AVERROR of an
// errno: "No space left on device", "Permission denied", "Too many open files"), so that the
// user can tell what to fix; other codes add nothing.
std::string WithSystemReason(const std::string& Message, int Code);
// OpenErrorText for a library result, with the system's reason after the texts that do not
// already say it ("Error while opening file: Read-only file system").
std::string OpenErrorWithReason(const std::u16string& FileName, int Code);
// A failed write by Subject (the library's function that wrote): "Subject: Error while writing"
// and the reason, never an opening text ("No space left on device", "File too large").
std::string WriteErrorWithReason(const std::string& Subject, int Code);

double RationalToDouble(AVRational R);
// Compares a/b with c/d by cross products: 1, -1 or 0. The products are 64-bit: 32-bit ones
// overflow for ordinary time bases such as 1/90000 against 30000/1001.
int CompareRational(AVRational A, AVRational B);

}  // namespace zembra
