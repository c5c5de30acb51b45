#pragma once

// The eleven audio formats of the command line, which write the sound alone (the settings
// dialog keeps the pictures for some of them; --keep-video asks for its rules instead).

#include <array>
#include <string>

#include "component/OptionRecords.h"

namespace zembra::cli {

struct TSoundFormat {
    const char* Name;     // the suffix, lower case
    const char* Encoder;  // the encoder the command line picks, or nullptr for the container's own
};

inline constexpr std::array<TSoundFormat, 11> kSoundFormats = {{
    {"mp3", nullptr},
    {"mp2", nullptr},
    {"wma", "wmav2"},
    {"ogg", "libvorbis"},
    {"aac", nullptr},
    {"m4a", nullptr},
    {"flac", nullptr},
    {"ac3", nullptr},
    {"wav", nullptr},
    {"au", nullptr},
    {"ra", nullptr},
}};

// The entry of Format (any case), or nullptr when it is none of the eleven.
const TSoundFormat* FindSoundFormat(const std::string& Format);

// The encoder a sound-only output of the format gets: the picked one or the one the libraries
// find for the container's default codec; empty when none is found. Needs the libraries.
std::string SoundEncoderName(const TSoundFormat& Format);

// "--list-formats": one line a format, its name and its encoder.
std::string SoundFormatList();

// The sound alone: no picture stream read or written, and the format's picked encoder.
void KeepSoundOnly(const TSoundFormat& Format, TInputOptions& In, TOutputOptions& Out);

}  // namespace zembra::cli
