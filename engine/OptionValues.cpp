#include "engine/OptionValues.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

#include "engine/FFmpegException.h"
#include "util/StringUtils.h"

namespace zembra {

namespace {

bool ParseInt64(const std::string& Text, int64_t& Out) {
    size_t I = 0;
    while (I < Text.size() && Text[I] == ' ') ++I;
    bool Negative = false;
    if (I < Text.size() && (Text[I] == '+' || Text[I] == '-')) {
        Negative = Text[I] == '-';
        ++I;
    }
    int Base = 10;
    if (I < Text.size() && Text[I] == '$') {
        Base = 16;
        ++I;
    } else if (I + 1 < Text.size() && Text[I] == '0' && (Text[I + 1] == 'x' || Text[I + 1] == 'X')) {
        Base = 16;
        I += 2;
    }
    if (I >= Text.size()) return false;
    uint64_t Value = 0;
    const uint64_t Limit = Negative ? uint64_t(std::numeric_limits<int64_t>::max()) + 1
                                    : uint64_t(std::numeric_limits<int64_t>::max());
    for (; I < Text.size(); ++I) {
        const char C = Text[I];
        int Digit;
        if (C >= '0' && C <= '9')
            Digit = C - '0';
        else if (Base == 16 && C >= 'a' && C <= 'f')
            Digit = C - 'a' + 10;
        else if (Base == 16 && C >= 'A' && C <= 'F')
            Digit = C - 'A' + 10;
        else
            return false;
        if (Value > (Limit - uint64_t(Digit)) / uint64_t(Base)) return false;
        Value = Value * uint64_t(Base) + uint64_t(Digit);
    }
    Out = Negative ? static_cast<int64_t>(0 - Value) : static_cast<int64_t>(Value);
    return true;
}

}  // namespace

int64_t StrToInt64(const std::string& Text) {
    int64_t Value = 0;
    if (!ParseInt64(Text, Value)) throw EConvertError("'" + Text + "' is not a valid integer value");
    return Value;
}

int32_t StrToInt(const std::string& Text) {
    int64_t Value = 0;
    if (!ParseInt64(Text, Value) || Value < std::numeric_limits<int32_t>::min() ||
        Value > std::numeric_limits<int32_t>::max())
        throw EConvertError("'" + Text + "' is not a valid integer value");
    return static_cast<int32_t>(Value);
}

int32_t StrToIntDef(const std::string& Text, int32_t Default) {
    try {
        return StrToInt(Text);
    } catch (const EConvertError&) {
        return Default;
    }
}

double StrToFloat(const std::string& Text) {
    const std::string T = Trim(Text);
    if (T.empty()) throw EConvertError("'" + Text + "' is not a valid floating point value");
    // Hexadecimal, "inf" and "nan" are not numbers to this conversion.
    for (char C : T)
        if (!((C >= '0' && C <= '9') || C == '.' || C == '-' || C == '+' || C == 'e' || C == 'E'))
            throw EConvertError("'" + Text + "' is not a valid floating point value");
    char* End = nullptr;
    errno = 0;
    const double Value = std::strtod(T.c_str(), &End);
    if (End == T.c_str() || *End != '\0' || errno == ERANGE)
        throw EConvertError("'" + Text + "' is not a valid floating point value");
    return Value;
}

long ReadLong(const std::string& Text, size_t& Pos) {
    if (Pos >= Text.size()) return 0;
    const char* Start = Text.c_str() + Pos;
    char* End = nullptr;
    const long Value = std::strtol(Start, &End, 0);
    Pos += static_cast<size_t>(End - Start);
    return Value;
}

double ReadDouble(const std::string& Text, size_t& Pos) {
    if (Pos >= Text.size()) return 0;
    const char* Start = Text.c_str() + Pos;
    char* End = nullptr;
    const double Value = std::strtod(Start, &End);
    Pos += static_cast<size_t>(End - Start);
    return Value;
}

TYUV RGBToYUV(int32_t Color) {
    const int R = Color & 0xFF, G = (Color >> 8) & 0xFF, B = (Color >> 16) & 0xFF;
    // Right shifts of negative values floor on every compiler we build with (C++20 defines it).
    const int Y = (307 * R + 602 * G + 117 * B + 512) >> 10;
    const int U = ((-173 * R - 340 * G + 512 * B + 511) >> 10) + 128;
    const int V = ((512 * R - 429 * G - 84 * B + 511) >> 10) + 128;
    return {Y, U, V};
}

}  // namespace zembra
