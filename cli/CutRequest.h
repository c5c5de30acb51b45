#pragma once

// The piece of each file that --cut asks for, and what is left of it against a file's length.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/ConversionRequest.h"

namespace zembra::cli {

// "START-END" with END after START, or "START-" for an open end; each a time of ParseTimeMs.
std::optional<TCutRequest> ParseCut(std::string_view Text);

struct TResolvedCut {
    bool Ok = false;      // false: the file cannot give the piece (Message says why)
    TCutRequest Cut;      // the end clamped to the file's length where it went past it
    std::string Message;  // the failure, or a warning when the end was clamped
};

// DurationUs below 0: the length is unknown and the request goes as it is.
TResolvedCut ResolveCut(const TCutRequest& Request, int64_t DurationUs);

}  // namespace zembra::cli
