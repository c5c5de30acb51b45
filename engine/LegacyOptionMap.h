#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zembra {

struct TOptionSetting {
    std::string Name;
    std::string Value;
    bool operator==(const TOptionSetting&) const = default;
};

// Options of the old library generation that no longer exist under their name (or no longer
// know some of their flag values) but have a present-day equivalent with the same effect:
// mostly the x264 settings that became private options of the libx264 encoder. Returns the
// present-day settings, or nullopt when the name is not one of them.
std::optional<std::vector<TOptionSetting>> TranslateLegacyOption(const std::string& Name,
                                                                 const std::string& Value);

}  // namespace zembra
