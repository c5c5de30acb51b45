#pragma once

// What every hook module shares: the export of its entry points, reading its arguments, and
// telling the user why a configuration was refused.

#include <cstdint>
#include <string>

#include "hooks/HookApi.h"

#define ZEMBRA_HOOK_EXPORT extern "C" __attribute__((visibility("default")))

namespace zembra::hooks {

// Walks "-name value" pairs after the module path.
class TArgReader {
  public:
    TArgReader(int Count, char* const* Vector) : FCount(Count), FVector(Vector) {}
    // False at the end, or with Error set when an argument is not an option or lacks its value.
    bool Next(std::string& Name, std::string& Value, std::string& Error);
    // A text value split at its blanks (an option line separated by blanks cannot keep them):
    // the words up to the next option are joined back with one blank each.
    void JoinWords(std::string& Value);

  private:
    int FCount;
    char* const* FVector;
    int FIndex = 1;
};

// Whole-text readers: False when anything but the number is there.
bool ParseInteger(const std::string& Text, long long& Value);
// "FFFFFF", "#FFFFFF" or "0xFFFFFF": red, green, blue.
bool ParseHexColour(const std::string& Text, uint32_t& Rgb);

// Writes "<module>: <message>" to the standard error stream; the converter itself only says
// that Configure failed.
void Complain(const char* Module, const std::string& Message);

}  // namespace zembra::hooks
