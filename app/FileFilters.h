#pragma once

// The open dialog's filters in their classic "Name|*.A;*.B|..." form, rewritten to the form Qt's
// file dialog reads, and the same suffixes deciding which files of a dropped folder are media.

#include <string>
#include <vector>

namespace zembra {

extern const char* const kOpenDialogFilter;

// "Video/Audio (*.AVI *.avi ...);;...;;All Files (*)": names are case-sensitive here, so each
// pattern is given in upper and lower case; "*.*" becomes "*"; empty patterns are dropped.
std::string QtFileFilter(const std::string& Classic);

// The lower-case suffixes (without the dot) of the first filter of a classic filter text.
std::vector<std::string> FilterSuffixes(const std::string& Classic);

// Whether the name ends in one of the suffixes, in any case.
bool HasMediaSuffix(const std::string& FileName, const std::vector<std::string>& Suffixes);

// Files named directly are kept as they are; folders give their media files, recursively and
// sorted by path; names that are neither are dropped. Order of the arguments is kept.
std::vector<std::string> ExpandMediaPaths(const std::vector<std::string>& Paths,
                                          const std::vector<std::string>& Suffixes);

}  // namespace zembra
