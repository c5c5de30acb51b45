#include "engine/RcOverride.h"

#include <cctype>
#include <climits>

#include "engine/FFmpegException.h"

namespace zembra {

namespace {

// A signed decimal integer at Pos; false when there is none or it overflows.
bool ReadInt(const std::string& Text, size_t& Pos, int& Value) {
    size_t P = Pos;
    bool Negative = false;
    if (P < Text.size() && (Text[P] == '-' || Text[P] == '+')) Negative = Text[P++] == '-';
    if (P >= Text.size() || !std::isdigit(static_cast<unsigned char>(Text[P]))) return false;
    long long V = 0;
    while (P < Text.size() && std::isdigit(static_cast<unsigned char>(Text[P]))) {
        V = V * 10 + (Text[P++] - '0');
        if (V > INT_MAX) return false;
    }
    Value = static_cast<int>(Negative ? -V : V);
    Pos = P;
    return true;
}

}  // namespace

std::vector<RcOverride> ParseRcOverride(const std::string& Text) {
    std::vector<RcOverride> Entries;
    size_t Pos = 0;
    for (;;) {
        int Start = 0, End = 0, Q = 0;
        // The first two numbers are each followed by one separator, which must not end the text.
        if (!ReadInt(Text, Pos, Start) || Pos >= Text.size())
            throw FFmpegException("error parsing rc_override");
        ++Pos;
        if (!ReadInt(Text, Pos, End) || Pos >= Text.size())
            throw FFmpegException("error parsing rc_override");
        ++Pos;
        if (!ReadInt(Text, Pos, Q)) throw FFmpegException("error parsing rc_override");
        RcOverride E{};
        E.start_frame = Start;
        E.end_frame = End;
        if (Q > 0) {
            E.qscale = Q;
            E.quality_factor = 1.0f;
        } else {
            E.qscale = 0;
            E.quality_factor = -Q / 100.0f;
        }
        Entries.push_back(E);
        const size_t Slash = Text.find('/', Pos);
        if (Slash == std::string::npos) break;
        Pos = Slash + 1;
    }
    return Entries;
}

}  // namespace zembra
