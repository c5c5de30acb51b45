#include "cli/OptionNameCheck.h"

#include "binding/EntryPoints.h"
#include "engine/FFmpeg.h"
#include "engine/LegacyOptionMap.h"
#include "util/StringUtils.h"

namespace zembra::cli {

namespace {

// The classes are searched as if they were objects, children included: every codec's,
// muxer's, demuxer's and protocol's private class hangs below these.
bool InClass(const AVClass* Class, const std::string& Name) {
    if (!Class) return false;
    return lavu.av_opt_find(&Class, Name.c_str(), nullptr, 0,
                            AV_OPT_SEARCH_FAKE_OBJ | AV_OPT_SEARCH_CHILDREN) != nullptr;
}

bool LibrariesKnow(const std::string& Name) {
    return InClass(lavc.avcodec_get_class(), Name) || InClass(lavf.avformat_get_class(), Name) ||
           (lsws.sws_get_class && InClass(lsws.sws_get_class(), Name));
}

}  // namespace

bool IsKnownOptionName(const std::string& Name) {
    if (Name.empty()) return false;
    if (TCustomFFmpeg::IsTableOption(Name) || TranslateLegacyOption(Name, "1")) return true;
    if (LibrariesKnow(Name)) return true;
    const bool Prefixed = Name.size() > 1 && (Name[0] == 'a' || Name[0] == 'v' || Name[0] == 's');
    return Prefixed && InClass(lavc.avcodec_get_class(), Name.substr(1));
}

std::string FirstUnknownOption(const std::vector<std::string>& Lines) {
    for (const std::string& Line : Lines) {
        const std::string Name = Trim(Line.substr(0, Line.find('=')));
        if (!IsKnownOptionName(Name)) return Name;
    }
    return "";
}

}  // namespace zembra::cli
