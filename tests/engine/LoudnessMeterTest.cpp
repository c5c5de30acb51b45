// The meter against the reference signals of BS.1770 and EBU Tech 3341: a 997 Hz sine at
// -23 dBFS in both channels of a stereo signal reads -23.0 LUFS at any rate, as does one at
// -20 dBFS in one channel alone (a full-scale sine in one channel is -3.01 LUFS); and the gates
// leave out what is far below the programme.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

#include "engine/LoudnessMeter.h"

namespace zembra {
namespace {

// Seconds of a stereo sine of 997 Hz, its peak at Dbfs, interleaved; the right channel silent
// unless Both.
std::vector<float> Sine(int Rate, double Seconds, double Dbfs, bool Both = true) {
    const double Hz = 997.0;
    const double Amplitude = std::pow(10.0, Dbfs / 20.0);
    const size_t Frames = static_cast<size_t>(Seconds * Rate);
    std::vector<float> S(2 * Frames);
    for (size_t I = 0; I < Frames; ++I) {
        S[2 * I] = static_cast<float>(Amplitude *
                                      std::sin(2.0 * std::numbers::pi * Hz * static_cast<double>(I) / Rate));
        S[2 * I + 1] = Both ? S[2 * I] : 0.0f;
    }
    return S;
}

// Fed in pieces of odd sizes, so that the 100 ms steps fall inside them.
void Feed(TLoudnessMeter& Meter, const std::vector<float>& Interleaved, bool Planar) {
    const size_t Frames = Interleaved.size() / 2;
    std::vector<float> Left(Frames), Right(Frames);
    for (size_t I = 0; I < Frames; ++I) {
        Left[I] = Interleaved[2 * I];
        Right[I] = Interleaved[2 * I + 1];
    }
    for (size_t At = 0, Piece = 1; At < Frames; At += Piece, Piece = Piece * 3 % 4093 + 1) {
        const size_t N = std::min(Piece, Frames - At);
        if (Planar) {
            const float* Planes[] = {Left.data() + At, Right.data() + At};
            Meter.AddPlanar(Planes, N);
        } else {
            Meter.AddInterleaved(Interleaved.data() + 2 * At, N);
        }
    }
}

TEST(LoudnessMeterTest, ReferenceSineReadsMinus23AtEveryRateAndLayout) {
    for (const int Rate : {48000, 44100, 32000, 96000})
        for (const bool Planar : {false, true})
            for (const bool Both : {true, false}) {
                SCOPED_TRACE(testing::Message() << Rate << (Planar ? " planar" : " interleaved")
                                                << (Both ? " both channels" : " left channel"));
                const double Dbfs = Both ? -23.0 : -20.0;
                TLoudnessMeter Meter(Rate, {1.0, 1.0});
                Feed(Meter, Sine(Rate, 20.0, Dbfs, Both), Planar);
                EXPECT_NEAR(Meter.IntegratedLoudness(), -23.0, 0.1);
                EXPECT_NEAR(Meter.Peak(), std::pow(10.0, Dbfs / 20.0), 0.001);
                // A block every 100 ms once the first 400 ms are in.
                EXPECT_EQ(Meter.BlockPowers().size(), 197u);
            }
}

TEST(LoudnessMeterTest, GatesLeaveOutWhatIsFarBelowTheProgramme) {
    const int Rate = 44100;
    // 10 s at -23 LUFS, then a minute at -58 LUFS: above the absolute gate, under the relative.
    TLoudnessMeter Meter(Rate, {1.0, 1.0});
    Feed(Meter, Sine(Rate, 10.0, -23.0), false);
    Feed(Meter, Sine(Rate, 60.0, -58.0), false);
    EXPECT_NEAR(Meter.IntegratedLoudness(), -23.0, 0.1);

    // Silence and sound under -70 LUFS are no programme at all.
    TLoudnessMeter Quiet(Rate, {1.0, 1.0});
    Feed(Quiet, Sine(Rate, 5.0, -93.0), false);
    Feed(Quiet, std::vector<float>(2 * Rate * 5, 0.0f), false);
    EXPECT_EQ(Quiet.IntegratedLoudness(), kNoLoudness);

    // Near the relative gate both parts count: -23 and -28 LUFS of equal length average in
    // power to -24.8, whose gate (-34.8) keeps both.
    TLoudnessMeter Near(Rate, {1.0, 1.0});
    Feed(Near, Sine(Rate, 10.0, -23.0), false);
    Feed(Near, Sine(Rate, 10.0, -28.0), false);
    EXPECT_NEAR(Near.IntegratedLoudness(), -24.8, 0.15);
}

TEST(LoudnessMeterTest, AlbumIsGatedOverItsTracksBlocksTogether) {
    const int Rate = 48000;
    TLoudnessMeter Loud(Rate, {1.0, 1.0}), Soft(Rate, {1.0, 1.0});
    Feed(Loud, Sine(Rate, 10.0, -23.0), false);
    Feed(Soft, Sine(Rate, 10.0, -33.0), false);
    EXPECT_NEAR(Soft.IntegratedLoudness(), -33.0, 0.1);
    std::vector<float> Album = Loud.BlockPowers();
    Album.insert(Album.end(), Soft.BlockPowers().begin(), Soft.BlockPowers().end());
    // Power mean of -23 and -33 LUFS: -25.6; its gate (-35.6) keeps both tracks.
    EXPECT_NEAR(GatedLoudness(Album), -25.6, 0.1);
    // One channel alone, and three (a pair and one more): each channel adds its own power.
    const std::vector<float> Stereo = Sine(Rate, 10.0, -20.0, false);
    std::vector<float> Left(Stereo.size() / 2), Three(Stereo.size() / 2 * 3);
    for (size_t I = 0; I < Left.size(); ++I)
        Left[I] = Three[3 * I] = Three[3 * I + 1] = Three[3 * I + 2] = Stereo[2 * I];
    TLoudnessMeter One(Rate, {1.0}), Surround(Rate, {1.0, 1.0, 1.41});
    One.AddInterleaved(Left.data(), Left.size());
    Surround.AddInterleaved(Three.data(), Left.size());
    EXPECT_NEAR(One.IntegratedLoudness(), -23.0, 0.1);
    EXPECT_NEAR(Surround.IntegratedLoudness(), -23.0 + 10.0 * std::log10(3.41), 0.1);
    // A weight of 0 (the low-frequency channel) leaves its channel out.
    TLoudnessMeter Mono(Rate, {1.0, 0.0});
    Feed(Mono, Sine(Rate, 10.0, -23.0), false);
    EXPECT_NEAR(Mono.IntegratedLoudness(), -26.0, 0.1);
}

}  // namespace
}  // namespace zembra
