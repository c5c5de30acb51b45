#include "app/AlbumGain.h"

#include <algorithm>

#include "engine/ReplayGainTags.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra {

std::pair<std::string, std::string> AlbumKeyOf(bool FromTags, const std::u16string& Input,
                                               const std::map<std::string, std::string>& Tags) {
    if (!FromTags) {
        const std::string Folder = Utf16ToUtf8(ExtractFilePathW(Input));
        return {Folder, Folder};
    }
    auto Tag = [&](const char* Key) {
        const auto It = Tags.find(Key);
        return It == Tags.end() ? std::string() : It->second;
    };
    const std::string Album = Tag("album"), Artist = Tag("album_artist");
    return {Artist + '\x1f' + Album, "album '" + (Album.empty() ? "Unknown Album" : Album) +
                                         (Artist.empty() ? "'" : "' of " + Artist)};
}

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

void TAlbumGains::WriteTags(const TAlbumReport& Report) {
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

void TTaskAlbums::BeginAlbum() {
    FNames.emplace_back();
    FNamed = false;
}

void TTaskAlbums::Join(TTaskId Id, const std::u16string& Output,
                       const std::map<std::string, std::string>& Tags) {
    if (FNames.empty()) BeginAlbum();
    if (!FNamed) FNames.back() = AlbumKeyOf(true, Output, Tags).second;
    FNamed = true;
    FTasks.push_back({Id, FNames.size() - 1, Output});
}

void TTaskAlbums::RunEnded(TCustomRUvivoVOV& Component, const TAlbumReport& Report) {
    TAlbumGains Gains;
    for (const TTask& T : FTasks) {
        const int32_t At = Component.IndexOfTask(T.Id);
        if (At < 0) continue;
        const size_t Album = Gains.AlbumOf(std::to_string(T.Album), FNames[T.Album]);
        const TTaskFFmpeg* Task = Component.Task(At);
        if (Task && Task->Finished() && !Task->ErrorOccurred() && Task->Loudness())
            Gains.Add(Album, T.Output, *Task->Loudness());
    }
    Gains.WriteTags(Report);
    FTasks.clear();
    FNames.clear();
    FNamed = true;
}

}  // namespace zembra
