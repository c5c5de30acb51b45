#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zembra::cli {

struct TCliOptions {
    std::string Format = "mp3";
    std::string OutputDir;  // empty: beside each input
    int32_t Threads = 1;
    std::optional<int32_t> Rate;
    std::optional<int32_t> Channels;
    std::optional<int32_t> Volume;
    std::optional<int32_t> Bitrate;  // kbit/s
    bool Cut = false;
    double CutStart = 0.0;  // seconds
    double CutEnd = 0.0;
    bool Overwrite = false;
    std::vector<std::string> InputOptions;   // NAME=VALUE
    std::vector<std::string> OutputOptions;  // NAME=VALUE
    bool Info = false;
    std::string LogLevel = "error";
    bool Quiet = false;
    bool Help = false;
    std::vector<std::string> Files;
};

// Reads the arguments (without the program name). On a usage error returns false with Error set.
bool ParseCommandLine(const std::vector<std::string>& Arguments, TCliOptions& Options, std::string& Error);

const char* UsageText();

}  // namespace zembra::cli
