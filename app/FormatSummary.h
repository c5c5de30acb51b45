#pragma once

// One line under the format choice telling what the chosen format writes for this source, so
// that the rules the option builder applies per format (video dropped, codecs forced) are no
// surprise.

#include <string>

namespace zembra {

// The summary of an item of kOutputFormats (case-insensitive) for a source with moving pictures
// or without (a cover picture is none); empty for any other format.
std::string FormatSummary(const std::string& Format, bool SourceHasVideo = true);

}  // namespace zembra
