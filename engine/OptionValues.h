#pragma once

#include <cstdint>
#include <string>

namespace zembra {

// Integer text as the classic run-time library reads it: leading blanks skipped, optional sign,
// "$" or "0x" for hexadecimal, nothing after the digits. Raises EConvertError
// "'%s' is not a valid integer value".
int32_t StrToInt(const std::string& Text);
int64_t StrToInt64(const std::string& Text);
// Float text with blanks around it allowed; '.' is the decimal separator. Raises EConvertError
// "'%s' is not a valid floating point value".
double StrToFloat(const std::string& Text);
// The same conversion with a default instead of an error.
int32_t StrToIntDef(const std::string& Text, int32_t Default);

// Flag values: false only for exactly "0".
inline bool FlagValue(const std::string& Value) {
    return Value != "0";
}

// C-library strtol/strtod over a moving position: reads a number at Pos (base 0 for strtol)
// and advances Pos past it. Text that holds no number reads as 0 and leaves Pos unchanged.
long ReadLong(const std::string& Text, size_t& Pos);
double ReadDouble(const std::string& Text, size_t& Pos);

struct TYUV {
    int Y, U, V;
};
// Red in bits 0-7, green 8-15, blue 16-23, to full-range BT.601 in 10-bit fixed point.
TYUV RGBToYUV(int32_t Color);

}  // namespace zembra
