#pragma once

// Times as a user types them on the command line: plain seconds ("90", "7.5") or clock form
// ("1:30", "01:02:03.250").

#include <cstdint>
#include <optional>
#include <string_view>

namespace zembra::cli {

// Milliseconds of "[[HH:]MM:]SS[.mmm]" (seconds alone may be any size); nullopt when malformed.
// Past the first field, minutes and seconds stay below 60.
std::optional<int64_t> ParseTimeMs(std::string_view Text);
}  // namespace zembra::cli
