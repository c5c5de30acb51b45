#pragma once

#include <string>

namespace zembra::cli {

// "--list-engine-options": a line per name of the engine's option table, in its order: the
// name, its kind, its range ("-" for none) and what it is for. The shell completion of
// --input-option and --output-option reads the names from the first column.
std::string EngineOptionList();

}  // namespace zembra::cli
