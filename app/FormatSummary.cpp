#include "app/FormatSummary.h"

#include <array>

#include "util/StringUtils.h"

namespace zembra {

namespace {

struct TSummary {
    const char* Format;
    const char* WithVideo;
    // M4a, Ogg and Ra write a source's video too; of a source without any they write the sound.
    const char* SoundOnly;
};

// Keep in step with the option builder's format rules and the engine's defaults per suffix:
// the formats whose input record carries "vn=1" drop the video.
constexpr std::array<TSummary, 11> kSummaries = {{
    {"Mp3", "MP3 audio (LAME), video dropped", "MP3 audio (LAME)"},
    {"Mp2", "MPEG audio layer II, video dropped", "MPEG audio layer II"},
    {"Wma", "Windows Media Audio 2 in ASF, video dropped", "Windows Media Audio 2 in ASF"},
    {"Ogg", "Ogg: Theora video + FLAC audio", "Ogg: FLAC audio"},
    {"Aac", "AAC audio (ADTS), video dropped", "AAC audio (ADTS)"},
    {"M4a", "MPEG-4: H.264 video + AAC audio", "MPEG-4: AAC audio"},
    {"Flac", "FLAC lossless audio", "FLAC lossless audio"},
    {"Ac3", "Dolby AC-3 audio, video dropped", "Dolby AC-3 audio"},
    {"Wav", "WAV: 16-bit PCM audio, video dropped", "WAV: 16-bit PCM audio"},
    {"Au", "Sun AU: 16-bit PCM audio", "Sun AU: 16-bit PCM audio"},
    {"Ra", "RealMedia: RealVideo video + AC-3 audio", "RealMedia: AC-3 audio"},
}};

}  // namespace

std::string FormatSummary(const std::string& Format, bool SourceHasVideo) {
    for (const TSummary& S : kSummaries)
        if (SameText(S.Format, Format)) return SourceHasVideo ? S.WithVideo : S.SoundOnly;
    return {};
}

}  // namespace zembra
