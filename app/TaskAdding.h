#pragma once

// Adding one conversion task, the same for the window and zembra-cli: the output's name chosen
// and claimed, the records built, the task made and given its output, and on any failure the
// task gone again and the name free again.

#include <functional>
#include <string>

#include "app/OptionBuilder.h"
#include "component/RUvivoVOV.h"

namespace zembra {

enum class TAddFailure {
    None,
    Refused,  // the caller's check turned it down before the task was made
    Input,    // the task could not be made for the source
    Output,   // the output's folder could not be made, or the output was refused; a task made for
              // it has gone again
};

struct TAddedTask {
    TTaskRecords Records;
    TAddFailure Failure = TAddFailure::None;
    int32_t Index = -1;  // the task's index; with an Output failure, the index it had
    TTaskId Id = 0;      // the task's identity, 0 when none was made
    std::string Error;   // the component's message for an Input or Output failure
};

// A name from the request's template may name folders that are not there yet: they are made
// first.
// Check: called with the records just before the task is made; false leaves the task out.
// Made: called with the new task's id before it has its output, so before it can run and report.
TAddedTask AddConversionTask(TCustomRUvivoVOV& Component, const TConversionRequest& Request,
                             const TSourceInfo& Source, const TBuildContext& Context,
                             const std::function<bool(const TTaskRecords&)>& Check = {},
                             const std::function<void(TTaskId)>& Made = {});

}  // namespace zembra
