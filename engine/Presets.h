#pragma once

#include <string>

namespace zembra {

// The built-in presets, looked up by name without regard to case; nullptr when unknown.
const char* FindBuiltInPreset(const std::string& Name);
int BuiltInPresetCount();

}  // namespace zembra
