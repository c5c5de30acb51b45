#pragma once

// The inputs of a batch: files named on the command line or in a list, and the media files
// found below the folders among them.

#include <istream>
#include <string>
#include <utility>
#include <vector>

namespace zembra::cli {

struct TInputItem {
    std::string Path;
    // The file's folder below the named folder ("Artist/Album/"), empty for a file named
    // directly: where its output goes below an output folder.
    std::string SubFolder;
};

struct TWalkResult {
    std::vector<TInputItem> Items;
    std::vector<std::string> Warnings;      // loops left
    std::vector<std::string> EmptyFolders;  // named folders without a media file below them
    // Paths below a named folder that could not be read, each with the system's reason: a
    // failed item of the batch, since what they hold is not converted.
    std::vector<std::pair<std::string, std::string>> Unreadable;
};

// Names that are not folders are kept as they are (a missing one fails later as its task). A
// folder gives every file below it whose suffix is one of Suffixes (lower case, without the
// dot; any case matches), sorted by name at each level. Hidden files and folders are skipped;
// symbolic links are followed, and each real folder is entered (and each real file taken) once,
// so a loop ends.
TWalkResult ExpandInputs(const std::vector<std::string>& Names, const std::vector<std::string>& Suffixes);

// The non-empty lines of In, without their line ends: the names given through "-".
std::vector<std::string> ReadNameList(std::istream& In);

}  // namespace zembra::cli
