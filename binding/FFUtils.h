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

// The library's text for an error code.
std::string ErrorText(int Code);

}  // namespace zembra
