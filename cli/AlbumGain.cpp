#include "cli/AlbumGain.h"

#include <algorithm>

#include "engine/ReplayGainTags.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra::cli {

size_t TAlbumGains::AlbumOf(const std::string& Key, const std::string& Name) {
    const auto [At, Added] = FIndex.try_emplace(Key, FAlbums.size());
    if (Added) FAlbums.push_back({Name, 0, {}, {}, 0.0});
    ++FAlbums[At->second].Files;
    return At->second;
}

void TAlbumGains::Add(size_t Album, const std::u16string& Output, const TLoudnessMeter& Meter) {
    // Silence has no gain: such a file leaves its album without one.
    if (Album >= FAlbums.size() || Meter.IntegratedLoudness() == kNoLoudness) return;
    TAlbum& A = FAlbums[Album];
    A.Tracks.push_back({Output, ReplayGainOf(Meter.IntegratedLoudness()), Meter.Peak()});
    A.Blocks.insert(A.Blocks.end(), Meter.BlockPowers().begin(), Meter.BlockPowers().end());
    A.Peak = std::max(A.Peak, Meter.Peak());
}

void TAlbumGains::WriteTags(const std::function<void(const std::string&, const std::string&)>& Report) {
    for (TAlbum& A : FAlbums) {
        if (A.Tracks.size() != A.Files) {
            Report(A.Name, Format("no album gain: %zu of its %zu files converted and measured",
                                  A.Tracks.size(), A.Files));
            continue;
        }
        const double Gain = ReplayGainOf(GatedLoudness(A.Blocks));
        for (const TTrack& T : A.Tracks) {
            const std::string Error =
                WriteReplayGainTags(FileSystemName(T.Output), "", {T.Gain, T.Peak, Gain, A.Peak});
            if (!Error.empty()) Report(Utf16ToUtf8(T.Output), "no album gain: " + Error);
        }
        // What the album needed is no longer of use.
        A.Blocks = {};
        A.Tracks = {};
    }
}

}  // namespace zembra::cli
