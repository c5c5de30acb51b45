#pragma once

// The eleven audio formats of the command line, which write the sound alone (the settings
// dialog keeps the pictures for some of them; --keep-video asks for its rules instead).

#include <string>

#include "app/OptionBuilder.h"

namespace zembra::cli {

// The encoder a sound-only output of the format gets: the picked one or the one the libraries
// find for the container's default codec; empty when none is found. Needs the libraries.
std::string SoundEncoderName(const TSoundFormat& Format);

// "--list-formats": one line a format, its name and its encoder.
std::string SoundFormatList();

}  // namespace zembra::cli
