#pragma once

// Programme loudness as ITU-R BS.1770 and EBU R128 define it: K-weighted mean square per channel,
// summed with the channels' weights over 400 ms blocks that start every 100 ms, then the blocks
// gated (absolute -70 LUFS, relative -10 LU) into the integrated loudness. Also the sample peak.
// Free of the media libraries: it takes float samples at any rate.

#include <cstddef>
#include <span>
#include <vector>

namespace zembra {

// Below any block's loudness: what a meter that saw no block above the gate reports.
constexpr double kNoLoudness = -1000.0;

class TLoudnessMeter {
  public:
    // Weights: one per channel, in the order the samples come (1 for front channels, 1.41 for
    // the surround ones, 0 for the low-frequency channel). SampleRate above 0.
    TLoudnessMeter(int SampleRate, std::vector<double> Weights);

    int Channels() const { return static_cast<int>(FChannels.size()); }
    int SampleRate() const { return FRate; }

    // Frames of Channels() samples, one after another.
    void AddInterleaved(const float* Samples, size_t Frames);
    // Channels() planes of Frames samples each.
    void AddPlanar(const float* const* Planes, size_t Frames);

    // The mean square of each whole 400 ms block so far, weighted and summed over the channels:
    // what an album's loudness is gated over, its tracks' blocks together.
    const std::vector<float>& BlockPowers() const { return FBlocks; }
    double IntegratedLoudness() const;     // LUFS, or kNoLoudness
    double Peak() const { return FPeak; }  // the largest sample magnitude, 1.0 full scale

    // The first stage's (a high shelf) and the second's (a high pass, numerator 1, -2, 1).
    struct TCoefficients {
        double B0 = 1, B1 = 0, B2 = 0, A1 = 0, A2 = 0;
        double HA1 = 0, HA2 = 0;
    };

  private:
    struct TChannel {
        double Weight = 1.0;
        // The two K-weighting stages in direct form I: the last two inputs, the last two outputs
        // of the first stage (the second's inputs) and of the second.
        double X1 = 0, X2 = 0, Y1 = 0, Y2 = 0, V1 = 0, V2 = 0;
        double Sum = 0.0;  // the filtered squares of the current 100 ms step
    };
    // Channel C's sample K is Planes[C][K * Stride].
    void Add(const float* const* Planes, size_t Stride, size_t Frames);
    void FilterPair(TChannel& Left, TChannel& Right, const float* L, const float* R, size_t Stride,
                    size_t Count);
    void FilterOne(TChannel& C, const float* P, size_t Stride, size_t Count);
    void EndStep();

    int FRate;
    TCoefficients FK;
    std::vector<TChannel> FChannels;
    size_t FStepLength;  // samples in 100 ms
    size_t FInStep = 0;
    double FSteps[4] = {0, 0, 0, 0};  // the last four steps' weighted sums, a ring
    size_t FStepCount = 0;
    std::vector<float> FBlocks;
    double FPeak = 0.0;
    std::vector<const float*> FPlanes;  // where each channel of interleaved samples starts
};

// The gated loudness of blocks of 400 ms (their weighted mean squares), LUFS; kNoLoudness when
// none passes the absolute gate.
double GatedLoudness(std::span<const float> BlockPowers);

}  // namespace zembra
