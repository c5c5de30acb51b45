#include "app/RunSettings.h"

#include <charconv>

#include "util/StringUtils.h"

namespace zembra {

int32_t StartThreadCount(const TRunSettings& S) {
    if (!S.ThreadMode) return 0;
    const std::string Text = Trim(S.ThreadCount);
    int32_t Count = 0;
    const char* End = Text.data() + Text.size();
    const auto [Ptr, Ec] = std::from_chars(Text.data(), End, Count);
    if (Text.empty() || Ec != std::errc() || Ptr != End) return 1;
    return Count;
}

TConvertPriority PriorityOf(const TRunSettings& S) {
    switch (S.Priority) {
        case 0:
            return tpIdle;
        case 1:
            return tpLowest;
        case 3:
            return tpNormal;
        default:
            return tpLower;
    }
}

TLogLevel LogLevelOf(const TRunSettings& S) {
    switch (S.LogLevel) {
        case 0:
            return llQuiet;
        case 1:
            return llError;
        case 3:
            return llVerbose;
        case 4:
            return llDebug;
        default:
            return llInfo;
    }
}

TRunSettings Sanitised(TRunSettings S) {
    const TRunSettings Defaults;
    if (S.Priority < 0 || S.Priority > 3) S.Priority = Defaults.Priority;
    if (S.LogLevel < 0 || S.LogLevel > 4) S.LogLevel = Defaults.LogLevel;
    return S;
}

std::string LogLine(uint32_t ThreadId, TLogLevel Level, const std::string& Message) {
    return "#" + std::to_string(ThreadId) + "." + std::to_string(static_cast<int>(Level)) + ": " + Message;
}

}  // namespace zembra
