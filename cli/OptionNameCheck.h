#pragma once

// Whether the engine can do anything with an option line's name, so that a misspelt option is
// refused before a batch starts rather than ignored in every task.

#include <string>
#include <vector>

namespace zembra::cli {

// The engine's own table, an old name it translates, or an option of the libraries' option
// system (codec, container, scaler, their private options, and the codec options with an
// "a", "v" or "s" in front). Needs the libraries.
bool IsKnownOptionName(const std::string& Name);

// The name of the first NAME=VALUE line whose name is not known; empty when all are.
std::string FirstUnknownOption(const std::vector<std::string>& Lines);

}  // namespace zembra::cli
