#include "app/TaskAdding.h"

#include <filesystem>
#include <system_error>

#include "util/OutputClaims.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra {

TAddedTask AddConversionTask(TCustomRUvivoVOV& Component, const TConversionRequest& Request,
                             const TSourceInfo& Source, const TBuildContext& Context,
                             const std::function<bool(const TTaskRecords&)>& Check,
                             const std::function<void(TTaskId)>& Made) {
    if (Request.Name && Request.OutputName.empty()) {
        const std::u16string Folder = ExtractFilePathW(NameFromTags(Request, Source, Request.OutputFolder));
        std::error_code Error;
        std::filesystem::create_directories(FileSystemName(Folder), Error);
        if (Error) {
            TAddedTask Failed;
            Failed.Failure = TAddFailure::Output;
            Failed.Error = "cannot make the folder " + Utf16ToUtf8(Folder) + ": " + Error.message();
            return Failed;
        }
    }
    TAddedTask Added{BuildTaskRecords(Request, Source, Context)};
    const TInputOptions& In = Added.Records.In;
    const TOutputOptions& Out = Added.Records.Out;
    if (Check && !Check(Added.Records)) {
        Added.Failure = TAddFailure::Refused;
    } else if (Added.Index = Component.NewTask(In.FileName, &In); Added.Index < 0) {
        Added.Failure = TAddFailure::Input;
        Added.Error = Component.LastError();
    } else {
        Added.Id = Component.TaskId(Added.Index);
        if (Made) Made(Added.Id);
        if (!Component.SetTaskOutput(Added.Index, Out.FileName, &Out)) {
            Added.Failure = TAddFailure::Output;
            // Read before the task goes: deleting may touch the last error.
            Added.Error = Component.LastError();
            Component.DeleteTask(Added.Index);
        }
    }
    // The output's name, taken when it was chosen, is free again.
    if (Added.Failure != TAddFailure::None) ReleaseOutputClaim(FileSystemName(Out.FileName), true);
    return Added;
}

}  // namespace zembra
