#include "app/FormatSummary.h"

#include <array>
#include <utility>

#include "util/StringUtils.h"

namespace zembra {

namespace {

// Keep in step with the option builder's format rules and the engine's defaults per suffix:
// the formats whose input record carries "vn=1" drop the video.
constexpr std::array<std::pair<const char*, const char*>, 11> kSummaries = {{
    {"Mp3", "MP3 audio (LAME), video dropped"},
    {"Mp2", "MPEG audio layer II, video dropped"},
    {"Wma", "Windows Media Audio 2 in ASF, video dropped"},
    {"Ogg", "Ogg: Theora video + FLAC audio"},
    {"Aac", "AAC audio (ADTS), video dropped"},
    {"M4a", "MPEG-4: H.264 video + AAC audio"},
    {"Flac", "FLAC lossless audio"},
    {"Ac3", "Dolby AC-3 audio, video dropped"},
    {"Wav", "WAV: 16-bit PCM audio, video dropped"},
    {"Au", "Sun AU: 16-bit PCM audio"},
    {"Ra", "RealMedia: RealVideo video + AC-3 audio"},
}};

}  // namespace

std::string FormatSummary(const std::string& Format) {
    for (const auto& [Name, Summary] : kSummaries)
        if (SameText(Name, Format)) return Summary;
    return {};
}

}  // namespace zembra
