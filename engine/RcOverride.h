#pragma once

#include <string>
#include <vector>

#include "binding/FFmpegHeaders.h"

namespace zembra {

// "start,end,q/start,end,q/...": q >= 1 is a quantiser (factor 1.0), q < 1 a quality factor of
// -q / 100. Raises FFmpegException "error parsing rc_override" on malformed text.
std::vector<RcOverride> ParseRcOverride(const std::string& Text);

}  // namespace zembra
