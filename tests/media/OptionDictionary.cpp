#include "tests/media/OptionDictionary.h"

#include "binding/EntryPoints.h"
#include "binding/FFUtils.h"
#include "util/StringUtils.h"

namespace zembra::testmedia {

std::string FillDictionary(const TOptions& Options, TDictionary& Dictionary) {
    for (const auto& [Name, Value] : Options) {
        const int Ret = Dictionary.Set(Name.c_str(), Value.c_str());
        if (Ret < 0) return Format("Cannot store option %s: %s", Name.c_str(), ErrorText(Ret).c_str());
    }
    return {};
}

std::string LeftoverNames(const TDictionary& Dictionary) {
    std::string Names;
    const AVDictionaryEntry* Entry = nullptr;
    while ((Entry = lavu.av_dict_get(Dictionary.Get(), "", Entry, AV_DICT_IGNORE_SUFFIX)))
        Names += (Names.empty() ? "" : ", ") + std::string(Entry->key);
    return Names;
}

}  // namespace zembra::testmedia
