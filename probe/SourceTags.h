#pragma once

// The source's tags as the output gets them: the file's own, then those that Ogg and some
// Matroska files keep on the sound stream, under the libraries' generic lower-case names.

#include <map>
#include <string>

namespace zembra {

class TCustomAVProbe;

// Keys in lower case ("artist", "album_artist", "track"...); Vorbis-comment spellings such as
// TRACKNUMBER or ALBUMARTIST under the generic names. Values are UTF-8: one that is not was
// read as Latin-1. Empty when nothing is loaded.
std::map<std::string, std::string> SourceTagsOf(const TCustomAVProbe& Probe);

}  // namespace zembra
