#pragma once

// Output names from the source's tags: "{albumartist}/{album}/{track:02} {title}". The template is
// read once, then rendered for each file over its tags alone, so names can be worked out (and
// tested) without any media.

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zembra {

// Which characters a name may keep. Portable: what FAT and NTFS accept too, for a library that
// goes onto a player or a shared disk, in well-formed UTF-8. Posix: everything but '/' and
// control characters, bytes that are not UTF-8 included (a Linux name is bytes). No name holds
// a control character: a line feed would break the list of outputs, one path a line.
enum class TNameCharset { Portable, Posix };

struct TNamePiece {
    std::string Text;   // literal text when Field is empty
    std::string Field;  // "artist", "track"...
    int Width = 0;      // zero padding of a number ({track:02}), 0 for none
};

// The template's components between its '/', the last one naming the file.
struct TNameTemplate {
    std::vector<std::vector<TNamePiece>> Components;
};

// The fields a template may hold, for the help text and the completion.
const std::vector<std::string>& NameFields();

// Reads a template; a template that cannot give a name (unknown field, unclosed brace, empty
// component, absolute or climbing out with "..") gives nullopt and Error says why.
std::optional<TNameTemplate> ParseNameTemplate(const std::string& Text, std::string& Error);

// The output's path relative to the output folder, without the format's suffix: its folders
// joined by '/'. Tags are keyed by the libraries' generic lower-case names (artist,
// album_artist, album, title, track, disc, date, genre). BaseName is the source's name without
// its extension. The file name is cut so that Reserve more bytes (suffix and a collision's
// number) still fit in the file system's 255.
std::string RenderName(const TNameTemplate& Template, const std::map<std::string, std::string>& Tags,
                       const std::string& BaseName, TNameCharset Charset, size_t Reserve);

}  // namespace zembra
