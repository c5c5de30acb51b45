#pragma once

// iTunes freeform items ("----" with mean "com.apple.iTunes" and a name) in an MP4 file's
// moov/udta/meta/ilst, which is where players look for ReplayGain in m4a files. The libraries'
// MP4 muxer writes only the items it knows, so these are put in by editing the finished file's
// boxes: the other boxes are copied byte for byte, the media data is never touched.

#include <string>
#include <utility>
#include <vector>

namespace zembra {

using TTagList = std::vector<std::pair<std::string, std::string>>;

// Writes Target as Source with the freeform items Tags (name, text) in its item list, replacing
// items of the same names (any case). Chunk offsets are moved when the movie box comes before
// the media data. File-system names. Empty, or what went wrong.
std::string WriteMp4FreeformTags(const std::string& Source, const std::string& Target, const TTagList& Tags);

}  // namespace zembra
