// zembra-cli --replaygain on a small album of three tracks at different levels, into the
// formats that keep the tags each their own way, read back through the probe.

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

#include "probe/AVProbe.h"
#include "probe/SourceTags.h"
#include "tests/cli/CliFixture.h"
#include "util/StringUtils.h"

namespace zembra::testing {
namespace {

namespace fs = std::filesystem;

class CliReplayGain : public Cli {
  protected:
    // Two seconds of the generator's music at Level times its usual level; a FLAC track has a
    // title and a cover.
    void Track(const std::string& Name, float Level, const std::string& Encoder = "flac",
               double Seconds = 2.0) {
        testmedia::TClipSpec Spec;
        Spec.Path = Path(Name);
        if (Encoder == "flac") {
            Spec.Videos = {{.Encoder = "mjpeg", .FrameCount = 1, .AttachedPicture = true}};
            Spec.Metadata = {{"title", "Song " + Name}};
        }
        testmedia::TAudioSpec Audio;
        Audio.Encoder = Encoder;
        Audio.SampleRate = 44100;
        Audio.Duration = Seconds;
        Audio.Music = true;
        Audio.Level = Level;
        Spec.Audios.push_back(Audio);
        EXPECT_EQ(testmedia::WriteClip(Spec), "") << Name;
    }
    static std::map<std::string, std::string> Tags(const std::string& File) {
        TAVProbe Probe;
        EXPECT_TRUE(Probe.LoadFile(Utf8ToUtf16(File))) << File;
        return SourceTagsOf(Probe);
    }
    // "-6.52 dB" as a number; NaN when the text is not of that form.
    static double Decibels(const std::string& Text) {
        char* End = nullptr;
        const double V = std::strtod(Text.c_str(), &End);
        return End && std::string(End) == " dB" && End != Text.c_str() ? V : std::nan("");
    }
};

TEST_F(CliReplayGain, AnAlbumGetsTrackAndAlbumTagsInEveryFormat) {
    fs::create_directories(Path("album"));
    Track("album/1.flac", 1.0f);
    Track("album/2.flac", 0.5f);   // 6 dB down
    Track("album/3.flac", 0.25f);  // 12 dB down
    for (const std::string Format : {"mp3", "ogg", "m4a"}) {
        SCOPED_TRACE(Format);
        const std::string Out = Path("out-" + Format);
        fs::create_directories(Out);
        const TResult R = RunCli({"-f", Format, "--replaygain", "album", "-o", Out, Path("album")},
                                 std::chrono::seconds(120));
        ASSERT_EQ(R.Status, 0) << R.Err;
        std::map<std::string, std::string> T[3];
        double Gain[3], Peak[3];
        for (int I = 0; I < 3; ++I) {
            const std::string File = Out + "/" + std::to_string(I + 1) + "_(new)." + Format;
            T[I] = Tags(File);
            // Rewriting the tags keeps the others and the cover (where the format holds one).
            EXPECT_EQ(T[I]["title"], "Song album/" + std::to_string(I + 1) + ".flac");
            if (Format != "ogg") {
                EXPECT_EQ(Inspect(File).Streams.size(), 2u) << I;
            }
            Gain[I] = Decibels(T[I]["replaygain_track_gain"]);
            Peak[I] = std::strtod(T[I]["replaygain_track_peak"].c_str(), nullptr);
            // The source's sound is what was measured: the loudest track's peaks near the
            // generator's level, the others in proportion.
            EXPECT_NEAR(Peak[I], Peak[0] * std::pow(0.5, I), 0.05 * Peak[0]) << I;
        }
        EXPECT_GT(Peak[0], 0.3);
        EXPECT_LE(Peak[0], 1.2);
        // Each halving of the level is 6 dB more gain, whatever the codec did to the sound.
        EXPECT_NEAR(Gain[1] - Gain[0], 6.02, 0.2);
        EXPECT_NEAR(Gain[2] - Gain[0], 12.04, 0.3);
        // The album's loudness is gated over all three: between the loudest and the softest,
        // nearest the loudest (power, not decibels, is averaged); its peak is the loudest's.
        const double Album = Decibels(T[0]["replaygain_album_gain"]);
        EXPECT_GT(Album, Gain[0]);
        EXPECT_LT(Album, Gain[0] + 6.0);
        for (int I = 0; I < 3; ++I) {
            EXPECT_EQ(T[I]["replaygain_album_gain"], T[0]["replaygain_album_gain"]) << I;
            EXPECT_EQ(T[I]["replaygain_album_peak"], T[0]["replaygain_track_peak"]) << I;
        }
        // Leftovers of the rewrite would be hidden files beside the outputs and their record.
        EXPECT_EQ(std::distance(fs::directory_iterator(Out), fs::directory_iterator()), 4);
    }
}

TEST_F(CliReplayGain, CopiedAndCutSoundIsMeasuredAndTaglessFormatsSaySoOnce) {
    Track("loud.mp4", 1.0f, "aac");
    fs::create_directories(Path("out"));
    // Copied as it is: decoded for the meter alone. The cut's first second is the same music
    // at the same level, so it reads within a few decibels of the whole.
    TResult R = RunCli({"-f", "m4a", "--replaygain", "track", "-o", Path("out"), Path("loud.mp4")});
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_NE(R.Err.find("copied"), std::string::npos) << R.Err;
    const double Whole = Decibels(Tags(Path("out/loud_(new).m4a"))["replaygain_track_gain"]);
    EXPECT_FALSE(std::isnan(Whole));
    R = RunCli({"-f", "m4a", "--replaygain", "track", "--cut", "0-1", "-o", Path("out"), Path("loud.mp4")});
    ASSERT_EQ(R.Status, 0) << R.Err;
    const auto Cut = Tags(Path("out/loud_(new_1).m4a"));
    EXPECT_NEAR(Decibels(Cut.count("replaygain_track_gain") ? Cut.at("replaygain_track_gain") : ""), Whole,
                3.0);
    EXPECT_EQ(Cut.count("replaygain_album_gain"), 0u);

    R = RunCli({"-f", "wav", "--replaygain", "track", "-o", Path("out"), Path("loud.mp4"), Path("loud.mp4")});
    ASSERT_EQ(R.Status, 0) << R.Err;
    const std::string Warning = "wav files keep no ReplayGain tags";
    const size_t First = R.Err.find(Warning);
    EXPECT_NE(First, std::string::npos) << R.Err;
    EXPECT_EQ(R.Err.find(Warning, First + 1), std::string::npos) << R.Err;
}

// A sound the meter cannot measure converts, and the warning says why it got no tags.
TEST_F(CliReplayGain, UnmeasurableSoundConvertsWithTheReason) {
    const struct {
        const char* Name;
        float Level;
        double Seconds;
        const char* Reason;
    } Cases[] = {
        {"blip.flac", 1.0f, 0.1, "no ReplayGain tags: too short to measure (under 0.4 s)"},
        {"quiet.flac", 0.0f, 1.0, "no ReplayGain tags: the sound is silence"},
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(C.Name);
        Track(C.Name, C.Level, "flac", C.Seconds);
        const TResult R = RunCli({"--replaygain", "track", "-o", Dir, Path(C.Name)});
        EXPECT_EQ(R.Status, 0) << R.Err;
        EXPECT_NE(R.Err.find(C.Reason), std::string::npos) << R.Err;
        const std::string Out = Path(fs::path(C.Name).stem().string() + "_(new).mp3");
        EXPECT_TRUE(fs::exists(Out));
        EXPECT_EQ(Tags(Out).count("replaygain_track_gain"), 0u);
    }
}

}  // namespace
}  // namespace zembra::testing
