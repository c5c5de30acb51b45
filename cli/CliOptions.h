#pragma once

// zembra-cli's options: one table row each, from which the arguments are read and the help
// text is written.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "app/ConversionRequest.h"
#include "cli/CutRequest.h"
#include "app/NameTemplate.h"

namespace zembra::cli {

// What each file's conversion asks for, and how the batch runs.
struct TCliOptions : TConversionRequest {
    TCliOptions() { ReencodeReason = "--reencode given"; }
    std::string OutputDir;           // empty: beside each input
    std::optional<int32_t> Threads;  // none: the processors, at most one a file
    bool Info = false;
    std::string LogLevel = "error";
    bool Quiet = false;
    bool Help = false;
    bool Version = false;
    bool ListFormats = false;
    bool ListEngineOptions = false;
    std::vector<std::string> Files;
};

// Reads a value the plain kinds do not cover; false with Error set when it is refused.
using TReadValue = bool (*)(const std::string& Text, TCliOptions& Options, std::string& Error);

// What an option sets, which also gives its argument's kind: a flag, a text, a whole number of
// at least Least, a real number, a NAME=VALUE line (repeatable), or a value of its own reading.
using TOptionField =
    std::variant<bool TCliOptions::*, std::string TCliOptions::*, std::optional<int32_t> TCliOptions::*,
                 std::optional<double> TCliOptions::*, std::vector<std::string> TCliOptions::*, TReadValue>;

struct TCliOption {
    const char* Short;  // "-f", or nullptr
    const char* Long;   // "--format"
    const char* Value;  // the value's name in the help text; nullptr for a flag
    TOptionField Field;
    const char* Help;  // its lines separated by '\n'
    int32_t Least = 0;
};

// Reads the arguments (without the program name). On a usage error returns false with Error set.
bool ParseCommandLine(const std::vector<std::string>& Arguments, TCliOptions& Options, std::string& Error);

// --help: the table's rows between an introduction and the exit statuses.
std::string UsageText();

}  // namespace zembra::cli
