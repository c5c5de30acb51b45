#pragma once

// The run parameters the Part's hidden controls hold (thread mode, tasks at once, priority, log
// level, realtime preview, the library box) and what a stopped task leaves, with the form's defaults; the
// preferences dialog edits them and QSettings keeps them between runs.

#include <cstdint>
#include <string>

#include "component/RUvivoVOV.h"
#include "logging/FFmpegLogger.h"

namespace zembra {

struct TRunSettings {
    bool ThreadMode = true;
    std::string ThreadCount = "1";  // as typed
    int Priority = 2;               // item of "Idle", "Lowest", "Lower", "Normal"
    int LogLevel = 2;               // item of kLogLevelChoices
    bool Preview = false;
    bool VerNum = true;  // "Load VerNum DLL"
    // "Keep what a stopped task converted": a task stopped, removed or cleared before its end
    // leaves its partial output as NAME.partial.EXT, or nothing. A stopped task's output stays
    // playable by default, as the window always had it; zembra-cli's --keep-partial is the same.
    bool KeepPartial = true;

    bool operator==(const TRunSettings&) const = default;
};

inline constexpr const char* kPriorityChoices[] = {"Idle", "Lowest", "Lower", "Normal"};
inline constexpr const char* kLogLevelChoices[] = {"None", "Error", "Info", "Debug", "All"};

// What StartTasks gets: in thread mode the typed count (1 when it is not a number), else 0.
int32_t StartThreadCount(const TRunSettings& S);
TConvertPriority PriorityOf(const TRunSettings& S);
TLogLevel LogLevelOf(const TRunSettings& S);
// Out-of-range choices (from an edited settings file) are put back to the defaults.
TRunSettings Sanitised(TRunSettings S);

// "#" thread id "." level ordinal ": " message.
std::string LogLine(uint32_t ThreadId, TLogLevel Level, const std::string& Message);

}  // namespace zembra
