#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/CutRequest.h"
#include "cli/NameTemplate.h"

namespace zembra::cli {

// --replaygain: each output's own gain and peak, or those of its album besides.
enum class TReplayGainMode { Track, Album };

struct TCliOptions {
    std::string Format = "mp3";
    std::string OutputDir;           // empty: beside each input
    std::optional<int32_t> Threads;  // none: the processors, at most one a file
    std::optional<int32_t> Rate;
    std::optional<int32_t> Channels;
    std::optional<int32_t> Volume;
    std::optional<int32_t> Bitrate;  // kbit/s
    std::optional<TCutRequest> Cut;
    std::optional<TNameTemplate> Name;  // --name: outputs named from tags
    TNameCharset NameCharset = TNameCharset::Portable;
    std::optional<TReplayGainMode> ReplayGain;
    bool Overwrite = false;
    bool SkipExisting = false;
    bool KeepPartial = false;
    bool KeepVideo = false;         // the settings dialog's rules for the audio formats
    bool Reencode = false;          // encode the sound even where it could be copied as it is
    std::string Codec;              // the audio encoder, empty: the format's
    std::optional<double> Quality;  // the audio encoder's variable-bit-rate quality
    bool NoTags = false;
    bool NoCover = false;
    std::vector<std::string> Tags;           // KEY=VALUE
    std::vector<std::string> InputOptions;   // NAME=VALUE
    std::vector<std::string> OutputOptions;  // NAME=VALUE
    bool Info = false;
    std::string LogLevel = "error";
    bool Quiet = false;
    bool Help = false;
    bool Version = false;
    bool ListFormats = false;
    bool ListEngineOptions = false;
    std::vector<std::string> Files;
};

// Reads the arguments (without the program name). On a usage error returns false with Error set.
bool ParseCommandLine(const std::vector<std::string>& Arguments, TCliOptions& Options, std::string& Error);

const char* UsageText();

}  // namespace zembra::cli
