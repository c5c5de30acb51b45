#pragma once

// One file's task records: the command line's request with the file's own cut, folder and name.

#include <optional>
#include <string>

#include "app/OptionBuilder.h"
#include "cli/CliOptions.h"

namespace zembra::cli {

// The command line's request for one file. OutPath: the output folder ending with '/', empty for beside the
// input. Cut: the piece of this file, already checked against its length. OutputName: the output's whole name
// without its suffix when --name made it, else empty.
TConversionRequest FileRequest(const TCliOptions& O, const std::optional<TCutRequest>& Cut,
                               const std::u16string& OutPath, const std::u16string& OutputName = {});
// The file's records, as the batch builds them.
TTaskRecords BuildTaskRecords(const TCliOptions& O, const TSourceInfo& Source,
                              const std::optional<TCutRequest>& Cut, const std::u16string& OutPath,
                              const TBuildContext& Context, const std::u16string& OutputName = {});

}  // namespace zembra::cli
