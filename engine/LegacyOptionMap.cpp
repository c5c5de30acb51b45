#include "engine/LegacyOptionMap.h"

#include <algorithm>
#include <cstring>

namespace zembra {

namespace {

// A flag of a flag-list option ("flags2=+wpred-dct8x8") that now is an option of its own.
struct TLegacyFlag {
    const char* Option;
    const char* Flag;
    const char* Target;
    const char* OnValue;
    const char* OffValue;  // nullptr: the target is a list of the flags that are set
};

// An option renamed, with its numeric values turned into names where the new one wants them.
struct TLegacyRename {
    const char* Option;
    const char* Target;
    std::vector<const char*> Values;  // index = old numeric value; empty: the value as it stands
};

// The one place where old names meet their present-day equivalents.
const TLegacyFlag kLegacyFlags[] = {
    {"flags2", "wpred", "weightb", "1", "0"},
    {"flags2", "dct8x8", "8x8dct", "1", "0"},
    {"flags2", "mixed_refs", "mixed-refs", "1", "0"},
    {"flags2", "fastpskip", "fast-pskip", "1", "0"},
    {"flags2", "bpyramid", "b-pyramid", "normal", "none"},
    {"flags2", "mbtree", "mbtree", "1", "0"},
    {"flags2", "aud", "aud", "1", "0"},
    {"flags2", "psy", "psy", "1", "0"},
    {"flags", "scan_offset", "scan_offset", "1", "0"},
    {"partitions", "parti4x4", "partitions", "i4x4", nullptr},
    {"partitions", "parti8x8", "partitions", "i8x8", nullptr},
    {"partitions", "partp4x4", "partitions", "p4x4", nullptr},
    {"partitions", "partp8x8", "partitions", "p8x8", nullptr},
    {"partitions", "partb8x8", "partitions", "b8x8", nullptr},
};

const TLegacyRename kLegacyRenames[] = {
    {"directpred", "direct-pred", {"none", "spatial", "temporal", "auto"}},
    {"cqp", "qp", {}},
};

struct TFlagToken {
    char Sign;  // '+', '-' or 0 for a bare flag
    std::string Name;
};

std::vector<TFlagToken> SplitFlags(const std::string& Value) {
    std::vector<TFlagToken> Tokens;
    size_t I = 0;
    while (I < Value.size()) {
        char Sign = 0;
        if (Value[I] == '+' || Value[I] == '-') Sign = Value[I++];
        size_t J = I;
        while (J < Value.size() && Value[J] != '+' && Value[J] != '-') ++J;
        if (J > I) Tokens.push_back({Sign, Value.substr(I, J - I)});
        I = J == I ? I + 1 : J;
    }
    return Tokens;
}

const TLegacyFlag* FindFlag(const std::string& Option, const std::string& Flag) {
    for (const TLegacyFlag& F : kLegacyFlags)
        if (Option == F.Option && Flag == F.Flag) return &F;
    return nullptr;
}

bool IsFlagListOption(const std::string& Name) {
    return std::any_of(std::begin(kLegacyFlags), std::end(kLegacyFlags),
                       [&](const TLegacyFlag& F) { return Name == F.Option; });
}

std::optional<std::vector<TOptionSetting>> TranslateFlags(const std::string& Name, const std::string& Value) {
    const std::vector<TFlagToken> Tokens = SplitFlags(Value);
    const bool AnyLegacy = std::any_of(
        Tokens.begin(), Tokens.end(), [&](const TFlagToken& T) { return FindFlag(Name, T.Name) != nullptr; });
    if (!AnyLegacy) return std::nullopt;

    std::vector<TOptionSetting> Out;
    std::string Remaining;               // flags the option itself still knows
    std::vector<std::string> ListItems;  // for list targets, in order of appearance
    std::string ListTarget;
    for (const TFlagToken& T : Tokens) {
        const TLegacyFlag* F = FindFlag(Name, T.Name);
        if (!F) {
            if (T.Sign) Remaining.push_back(T.Sign);
            Remaining += T.Name;
            continue;
        }
        if (F->OffValue) {
            Out.push_back({F->Target, T.Sign == '-' ? F->OffValue : F->OnValue});
            continue;
        }
        ListTarget = F->Target;
        auto It = std::find(ListItems.begin(), ListItems.end(), F->OnValue);
        if (T.Sign == '-') {
            if (It != ListItems.end()) ListItems.erase(It);
        } else if (It == ListItems.end()) {
            ListItems.push_back(F->OnValue);
        }
    }
    if (!ListTarget.empty()) {
        std::string List;
        for (const std::string& Item : ListItems) List += (List.empty() ? "" : ",") + Item;
        Out.push_back({ListTarget, List.empty() ? "none" : List});
    }
    if (!Remaining.empty()) Out.insert(Out.begin(), {Name, Remaining});
    return Out;
}

}  // namespace

std::optional<std::vector<TOptionSetting>> TranslateLegacyOption(const std::string& Name,
                                                                 const std::string& Value) {
    for (const TLegacyRename& R : kLegacyRenames) {
        if (Name != R.Option) continue;
        if (R.Values.empty()) return std::vector<TOptionSetting>{{R.Target, Value}};
        char* End = nullptr;
        const long Index = std::strtol(Value.c_str(), &End, 10);
        const bool Numeric = !Value.empty() && *End == '\0';
        if (Numeric && Index >= 0 && Index < static_cast<long>(R.Values.size()))
            return std::vector<TOptionSetting>{{R.Target, R.Values[static_cast<size_t>(Index)]}};
        return std::vector<TOptionSetting>{{R.Target, Value}};
    }
    if (IsFlagListOption(Name)) return TranslateFlags(Name, Value);
    return std::nullopt;
}

}  // namespace zembra
