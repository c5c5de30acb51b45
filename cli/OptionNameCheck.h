#pragma once

// Whether the engine can do anything with an option line's name, so that a misspelt option is
// refused before a batch starts rather than ignored in every task.

#include <string>
#include <vector>

#include "engine/OptionDefs.h"

namespace zembra::cli {

// The engine's own rule, so that the check and the job never disagree on a name.
using zembra::IsKnownOptionName;

// The name of the first NAME=VALUE line whose name is not known; empty when all are.
std::string FirstUnknownOption(const std::vector<std::string>& Lines);

}  // namespace zembra::cli
