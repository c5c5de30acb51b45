#include "cli/TaskRecords.h"

namespace zembra::cli {

TConversionRequest FileRequest(const TCliOptions& O, const std::optional<TCutRequest>& Cut,
                               const std::u16string& OutPath, const std::u16string& OutputName) {
    TConversionRequest Request = O;
    Request.Cut = Cut;
    Request.OutputFolder = OutPath;
    Request.OutputName = OutputName;
    return Request;
}

TTaskRecords BuildTaskRecords(const TCliOptions& O, const TSourceInfo& Source,
                              const std::optional<TCutRequest>& Cut, const std::u16string& OutPath,
                              const TBuildContext& Context, const std::u16string& OutputName) {
    TTaskRecords Records =
        zembra::BuildTaskRecords(FileRequest(O, Cut, OutPath, OutputName), Source, Context);
    if (O.Reencode) Records.Sound = {false, "--reencode given"};
    return Records;
}

}  // namespace zembra::cli
