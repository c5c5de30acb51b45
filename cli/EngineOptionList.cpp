#include "cli/EngineOptionList.h"

#include "engine/OptionDefs.h"
#include "util/StringUtils.h"

namespace zembra::cli {

std::string EngineOptionList() {
    std::string List;
    for (const TOptionDef& Def : EngineOptionTable()) {
        const std::string Range = OptionRangeText(Def);
        List += Format("%-20s %-10s %-18s %s\n", Def.Name, OptionKindName(Def.Kind),
                       Range.empty() ? "-" : Range.c_str(), Def.Help);
    }
    return List;
}

}  // namespace zembra::cli
