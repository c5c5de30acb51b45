#include "hooks/kit/Module.h"

#include <cctype>
#include <charconv>
#include <cstdio>

namespace zembra::hooks {

bool TArgReader::Next(std::string& Name, std::string& Value, std::string& Error) {
    if (!FVector || FIndex >= FCount) return false;
    const char* Arg = FVector[FIndex];
    if (!Arg || Arg[0] != '-' || !Arg[1]) {
        Error = std::string("option expected instead of '") + (Arg ? Arg : "") + "'";
        return false;
    }
    if (FIndex + 1 >= FCount || !FVector[FIndex + 1]) {
        Error = std::string("option ") + Arg + " needs a value";
        return false;
    }
    Name = Arg;
    Value = FVector[FIndex + 1];
    FIndex += 2;
    return true;
}

void TArgReader::JoinWords(std::string& Value) {
    while (FVector && FIndex < FCount && FVector[FIndex] && FVector[FIndex][0] != '-') {
        Value += ' ';
        Value += FVector[FIndex++];
    }
}

bool ParseInteger(const std::string& Text, long long& Value) {
    const char* First = Text.data();
    const char* Last = First + Text.size();
    if (First != Last && *First == '+') ++First;
    const auto R = std::from_chars(First, Last, Value);
    return R.ec == std::errc() && R.ptr == Last && First != Last;
}

bool ParseHexColour(const std::string& Text, uint32_t& Rgb) {
    std::string S = Text;
    if (!S.empty() && S[0] == '#')
        S.erase(0, 1);
    else if (S.size() > 2 && S[0] == '0' && (S[1] == 'x' || S[1] == 'X'))
        S.erase(0, 2);
    if (S.empty() || S.size() > 6) return false;
    uint32_t V = 0;
    const auto R = std::from_chars(S.data(), S.data() + S.size(), V, 16);
    if (R.ec != std::errc() || R.ptr != S.data() + S.size()) return false;
    Rgb = V;
    return true;
}

void Complain(const char* Module, const std::string& Message) {
    std::fprintf(stderr, "%s: %s\n", Module, Message.c_str());
}

}  // namespace zembra::hooks
