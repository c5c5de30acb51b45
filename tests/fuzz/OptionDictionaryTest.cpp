// The fuzzer's dictionary holds "NAME=" for every name of the engine's option table, so that a
// row added to the table without its entry fails here rather than going unfuzzed.

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>

#include "engine/OptionDefs.h"

namespace zembra::testing {
namespace {

// The dictionary's quoted entries, escapes left as written.
std::set<std::string> DictionaryEntries(const char* Path) {
    std::set<std::string> Entries;
    std::ifstream File(Path);
    std::string Line;
    while (std::getline(File, Line)) {
        const size_t Open = Line.find('"');
        const size_t Close = Line.rfind('"');
        if (Line.starts_with('#') || Open == std::string::npos || Close <= Open) continue;
        Entries.insert(Line.substr(Open + 1, Close - Open - 1));
    }
    return Entries;
}

TEST(OptionDictionary, HoldsEveryNameOfTheOptionTable) {
    const std::set<std::string> Entries = DictionaryEntries(ZEMBRA_OPTIONS_DICT);
    ASSERT_FALSE(Entries.empty()) << ZEMBRA_OPTIONS_DICT;
    for (const TOptionDef& Def : EngineOptionTable())
        EXPECT_TRUE(Entries.count(std::string(Def.Name) + "=")) << Def.Name << "= is missing";
}

}  // namespace
}  // namespace zembra::testing
