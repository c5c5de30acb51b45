#include "cli/TimeText.h"

#include <cctype>

namespace zembra::cli {

namespace {

// Whole decimal digits; nullopt when empty, not all digits, or too long to be a sane time.
std::optional<int64_t> Digits(std::string_view Text) {
    if (Text.empty() || Text.size() > 12) return std::nullopt;
    int64_t Value = 0;
    for (const char C : Text) {
        if (!std::isdigit(static_cast<unsigned char>(C))) return std::nullopt;
        Value = Value * 10 + (C - '0');
    }
    return Value;
}

// "SS" or "SS.m", "SS.mm", "SS.mmm..." (digits past the third are dropped) in milliseconds.
std::optional<int64_t> SecondsMs(std::string_view Text) {
    const size_t Dot = Text.find('.');
    const std::optional<int64_t> Whole = Digits(Text.substr(0, Dot));
    if (!Whole) return std::nullopt;
    int64_t Fraction = 0;
    if (Dot != std::string_view::npos) {
        const std::string_view Part = Text.substr(Dot + 1);
        if (!Digits(Part)) return std::nullopt;
        for (size_t I = 0; I < 3; ++I) Fraction = Fraction * 10 + (I < Part.size() ? Part[I] - '0' : 0);
    }
    return *Whole * 1000 + Fraction;
}

}  // namespace

std::optional<int64_t> ParseTimeMs(std::string_view Text) {
    const size_t Last = Text.rfind(':');
    if (Last == std::string_view::npos) return SecondsMs(Text);
    const std::optional<int64_t> Seconds = SecondsMs(Text.substr(Last + 1));
    if (!Seconds || *Seconds >= 60000) return std::nullopt;
    std::string_view Head = Text.substr(0, Last);
    const size_t First = Head.find(':');
    std::optional<int64_t> Hours = 0, Minutes;
    if (First == std::string_view::npos) {
        Minutes = Digits(Head);
    } else {
        Hours = Digits(Head.substr(0, First));
        Minutes = Digits(Head.substr(First + 1));
        if (Minutes && *Minutes >= 60) return std::nullopt;
    }
    if (!Hours || !Minutes) return std::nullopt;
    return (*Hours * 3600 + *Minutes * 60) * 1000 + *Seconds;
}
}  // namespace zembra::cli
