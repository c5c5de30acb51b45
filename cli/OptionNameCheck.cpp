#include "cli/OptionNameCheck.h"

#include "util/StringUtils.h"

namespace zembra::cli {

std::string FirstUnknownOption(const std::vector<std::string>& Lines) {
    for (const std::string& Line : Lines) {
        const std::string Name = Trim(Line.substr(0, Line.find('=')));
        if (!IsKnownOptionName(Name)) return Name;
    }
    return "";
}

}  // namespace zembra::cli
