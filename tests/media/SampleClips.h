#pragma once

// The ready-made clips the other tests use: one per container the converter has to read,
// each about a second long and small enough for a quick suite.

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "tests/media/TestMedia.h"

namespace zembra::testmedia {

enum class TSampleKind {
    Avi,     // mpeg4 (tag XVID) + mp3
    Mp4,     // h264 + aac, with title and artist
    Mkv,     // h264 + aac + a late-starting mono ac3 + subrip
    Ogg,     // theora + vorbis
    Ts,      // two programs, each one mpeg2video and one mp2 stream
    Wav,     // pcm_s16le, 44.1 kHz stereo
    Flac,    // 22.05 kHz mono
    Images,  // png sequence through the image2 muxer
};

inline constexpr std::array<TSampleKind, 8> kSampleKinds = {
    TSampleKind::Avi, TSampleKind::Mp4, TSampleKind::Mkv,  TSampleKind::Ogg,
    TSampleKind::Ts,  TSampleKind::Wav, TSampleKind::Flac, TSampleKind::Images,
};

// "avi", "mp4", "mkv", "ogg", "ts", "wav", "flac", "images".
const char* SampleKindName(TSampleKind Kind);
std::optional<TSampleKind> SampleKindFromName(std::string_view Name);

// A file name for the kind's clip inside a folder ("sample.avi"; "img%03d.png" for images).
std::string SampleFileName(TSampleKind Kind);

// The clip of Kind written to Output. For Images, Output is a folder (the pictures go in as
// img001.png, img002.png…) or a numbered pattern.
TClipSpec SampleClip(TSampleKind Kind, const std::string& Output);

}  // namespace zembra::testmedia
