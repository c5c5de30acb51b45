#pragma once

// One task per file: a file named more than once ("a.flac a.flac ./a.flac"), through a link, or
// both by name and inside a named folder, converts once, under the first of its names.

#include <string>
#include <vector>

#include "cli/FolderWalk.h"

namespace zembra::cli {

// Drops the later items that are a file met before: the same device and inode, or for a name
// that cannot be looked at (missing, say), the same absolute path once "." and ".." are
// resolved. Returns a note for each file given more than once, "NAME: given N times,
// converted once", in the order of the items.
std::vector<std::string> KeepOnePerFile(std::vector<TInputItem>& Items);

}  // namespace zembra::cli
