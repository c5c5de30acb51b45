#include "tests/install/CliHelpOptions.h"

#include <cctype>
#include <regex>
#include <sstream>

namespace zembra::testing {

std::set<std::string> CliHelpOptions(const std::string& HelpText) {
    static const std::regex kLine(R"(^\s+(-[A-Za-z])?,?\s*(--[A-Za-z0-9][A-Za-z0-9-]*)?)");
    std::set<std::string> Options;
    std::istringstream In(HelpText);
    for (std::string Line; std::getline(In, Line);) {
        std::smatch M;
        if (!std::regex_search(Line, M, kLine)) continue;
        for (size_t I = 1; I < M.size(); ++I)
            if (M[I].matched) Options.insert(M[I].str());
    }
    return Options;
}

bool NamesOption(const std::string& Text, const std::string& Option) {
    auto IsNameChar = [](char C) { return std::isalnum(static_cast<unsigned char>(C)) || C == '-'; };
    for (size_t At = Text.find(Option); At != std::string::npos; At = Text.find(Option, At + 1)) {
        const size_t End = At + Option.size();
        const bool Starts = At == 0 || !IsNameChar(Text[At - 1]);
        const bool Ends = End == Text.size() || !IsNameChar(Text[End]);
        if (Starts && Ends) return true;
    }
    return false;
}

}  // namespace zembra::testing
