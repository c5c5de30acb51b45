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
    bool Named = false;  // given as it is, not found in a folder
};

struct TWalkResult {
    std::vector<TInputItem> Items;
    std::vector<std::string> Warnings;      // loops left
    std::vector<std::string> EmptyFolders;  // named folders without a media file below them
    // Paths below a named folder that could not be read, each with the system's reason: a
    // failed item of the batch, since what they hold is not converted.
    std::vector<std::pair<std::string, std::string>> Unreadable;
    // Files given by name that are the output of another file of the batch, each with that file:
    // skipped with --skip-existing, as what that file is skipped for.
    std::vector<std::pair<std::string, std::string>> OutputsOfOthers;
};

class TOutputRecords;

struct TWalkOptions {
    std::vector<std::string> Suffixes;  // lower case, without the dot
    std::string OutputDir;              // -o; empty for beside the sources
    bool SkipExisting = false;
    TOutputRecords* Records = nullptr;  // the output folders' records, when they are read
};

// Names that are not folders are kept as they are (a missing one fails later as its task). A
// folder gives every file below it whose suffix is one of Suffixes (any case matches), sorted
// by name at each level. Hidden files and folders are skipped; symbolic links are followed, and
// each real folder is entered (and each real file taken) once, so a loop ends.
//
// This program's own outputs are never found in a folder: not the output folder when it lies
// below a named one, not a name a folder's record lists as an output, nor NAME_(new).EXT or
// NAME_(new_N).EXT (or a kept partial of one) where a file NAME.* is found beside it or has its
// output place there. Given by name, such a file is converted like any other, except with
// SkipExisting when it is the output of another file of the batch.
TWalkResult ExpandInputs(const std::vector<std::string>& Names, const TWalkOptions& Options);

// The non-empty lines of In, without their line ends: the names given through "-".
std::vector<std::string> ReadNameList(std::istream& In);

}  // namespace zembra::cli
