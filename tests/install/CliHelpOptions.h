// The options the built zembra-cli names in its --help text, for the tests of what documents and
// completes them.
#pragma once

#include <set>
#include <string>

namespace zembra::testing {

// "-f", "--format", "--rate"...: every option at the start of a line of the help text.
std::set<std::string> CliHelpOptions(const std::string& HelpText);

// Whether Text names Option as a whole word (so "--info" is not found in "--info-file").
bool NamesOption(const std::string& Text, const std::string& Option);

}  // namespace zembra::testing
