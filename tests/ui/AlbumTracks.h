#pragma once

// A tagged three-track album for the window's album scenarios, and what a folder of outputs
// says about names and gains, so that the window's outputs can be held against zembra-cli's.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "probe/AVProbe.h"
#include "probe/SourceTags.h"
#include "tests/media/TestMedia.h"
#include "util/StringUtils.h"

namespace zembra::testing {

using TTags = std::map<std::string, std::string>;

inline constexpr const char* kAlbumTemplate = "{albumartist}/{album}/{track:02} {title}";

// A second of the generator's music at Level in Folder/Number.flac, tagged as a track of Band's
// album "First".
inline std::string WriteAlbumTrack(const std::string& Folder, int Number, const std::string& Title,
                                   float Level) {
    testmedia::TClipSpec Spec;
    Spec.Path = Folder + "/" + std::to_string(Number) + ".flac";
    testmedia::TAudioSpec Audio;
    Audio.Encoder = "flac";
    Audio.SampleRate = 44100;
    Audio.Duration = 1.0;
    Audio.Music = true;
    Audio.Level = Level;
    Spec.Audios.push_back(Audio);
    Spec.Metadata = {{"album_artist", "Band"},
                     {"artist", "Band"},
                     {"album", "First"},
                     {"title", Title},
                     {"track", std::to_string(Number) + "/3"}};
    EXPECT_EQ(testmedia::WriteClip(Spec), "") << Spec.Path;
    return Spec.Path;
}

// The files below Root (hidden ones and the sources left out) with the tags that tell name and
// gain.
inline std::map<std::string, TTags> TaggedTree(const std::string& Root) {
    namespace fs = std::filesystem;
    std::map<std::string, TTags> Files;
    for (const auto& E : fs::recursive_directory_iterator(Root)) {
        if (!E.is_regular_file() || E.path().filename().string()[0] == '.' || E.path().extension() == ".flac")
            continue;
        TAVProbe Probe;
        EXPECT_TRUE(Probe.LoadFile(Utf8ToUtf16(E.path().string()))) << E.path();
        TTags Wanted;
        const TTags All = SourceTagsOf(Probe);
        for (const char* Key : {"title", "track", "replaygain_track_gain", "replaygain_track_peak",
                                "replaygain_album_gain", "replaygain_album_peak"})
            if (All.count(Key)) Wanted[Key] = All.at(Key);
        Files[fs::relative(E.path(), Root).string()] = Wanted;
    }
    return Files;
}

}  // namespace zembra::testing
