#include "engine/LoudnessMeter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zembra {

namespace {

constexpr double kAbsoluteGate = -70.0;  // LUFS
constexpr double kRelativeGate = -10.0;  // LU below the blocks that pass the absolute gate

double LoudnessOf(double Power) {
    return Power > 0.0 ? -0.691 + 10.0 * std::log10(Power) : kNoLoudness;
}

double PowerOf(double Loudness) {
    return std::pow(10.0, (Loudness + 0.691) / 10.0);
}

}  // namespace

// BS.1770 gives the two K-weighting stages as coefficients for 48 kHz only. They are the
// bilinear transforms of an analogue high shelf (+4 dB above about 1.7 kHz) and a high pass at
// about 38 Hz; made from those, the filters fit any rate and at 48 kHz are the table's.
TLoudnessMeter::TLoudnessMeter(int SampleRate, std::vector<double> Weights)
    : FRate(std::max(SampleRate, 1)),
      FStepLength(static_cast<size_t>(std::max(1L, std::lround(FRate / 10.0)))) {
    const double Rate = FRate;
    {
        const double F0 = 1681.974450955533, GainDb = 3.999843853973347, Q = 0.7071752369554196;
        const double K = std::tan(std::numbers::pi * F0 / Rate);
        const double Vh = std::pow(10.0, GainDb / 20.0);
        const double Vb = std::pow(Vh, 0.4996667741545416);
        const double A0 = 1.0 + K / Q + K * K;
        FShelf.B0 = (Vh + Vb * K / Q + K * K) / A0;
        FShelf.B1 = 2.0 * (K * K - Vh) / A0;
        FShelf.B2 = (Vh - Vb * K / Q + K * K) / A0;
        FShelf.A1 = 2.0 * (K * K - 1.0) / A0;
        FShelf.A2 = (1.0 - K / Q + K * K) / A0;
    }
    {
        const double F0 = 38.13547087602444, Q = 0.5003270373238773;
        const double K = std::tan(std::numbers::pi * F0 / Rate);
        const double A0 = 1.0 + K / Q + K * K;
        FHighPass.B0 = 1.0;
        FHighPass.B1 = -2.0;
        FHighPass.B2 = 1.0;
        FHighPass.A1 = 2.0 * (K * K - 1.0) / A0;
        FHighPass.A2 = (1.0 - K / Q + K * K) / A0;
    }
    FChannels.resize(Weights.size());
    for (size_t I = 0; I < Weights.size(); ++I) FChannels[I].Weight = Weights[I];
}

double TLoudnessMeter::Filter(TChannel& C, double X) const {
    const TBiquad& A = FShelf;
    const double W1 = X - A.A1 * C.S1[0] - A.A2 * C.S1[1];
    const double Y1 = A.B0 * W1 + A.B1 * C.S1[0] + A.B2 * C.S1[1];
    C.S1[1] = C.S1[0];
    C.S1[0] = W1;
    const TBiquad& B = FHighPass;
    const double W2 = Y1 - B.A1 * C.S2[0] - B.A2 * C.S2[1];
    const double Y2 = B.B0 * W2 + B.B1 * C.S2[0] + B.B2 * C.S2[1];
    C.S2[1] = C.S2[0];
    C.S2[0] = W2;
    return Y2;
}

void TLoudnessMeter::EndStep() {
    double Weighted = 0.0;
    for (TChannel& C : FChannels) {
        // A damaged frame's NaN or infinity would stay in the filter for good: it starts again.
        if (!std::isfinite(C.Sum)) C = TChannel{C.Weight};
        Weighted += C.Weight * C.Sum;
        C.Sum = 0.0;
        // Denormals in a filter fed silence cost a hundred times a normal multiplication.
        for (double* S : {&C.S1[0], &C.S1[1], &C.S2[0], &C.S2[1]})
            if (std::fabs(*S) < 1e-30) *S = 0.0;
    }
    FSteps[FStepCount % 4] = Weighted;
    ++FStepCount;
    FInStep = 0;
    if (FStepCount >= 4)
        FBlocks.push_back(static_cast<float>((FSteps[0] + FSteps[1] + FSteps[2] + FSteps[3]) /
                                             (4.0 * static_cast<double>(FStepLength))));
}

void TLoudnessMeter::AddInterleaved(const float* Samples, size_t Frames) {
    const size_t N = FChannels.size();
    if (N == 0) return;
    float Peak = static_cast<float>(FPeak);
    for (size_t I = 0; I < Frames;) {
        const size_t Run = std::min(Frames - I, FStepLength - FInStep);
        for (size_t C = 0; C < N; ++C) {
            TChannel& Ch = FChannels[C];
            double Sum = 0.0;
            const float* P = Samples + I * N + C;
            for (size_t K = 0; K < Run; ++K, P += N) {
                Peak = std::max(Peak, std::fabs(*P));
                const double Y = Filter(Ch, *P);
                Sum += Y * Y;
            }
            Ch.Sum += Sum;
        }
        I += Run;
        FInStep += Run;
        if (FInStep == FStepLength) EndStep();
    }
    FPeak = Peak;
}

void TLoudnessMeter::AddPlanar(const float* const* Planes, size_t Frames) {
    const size_t N = FChannels.size();
    if (N == 0) return;
    float Peak = static_cast<float>(FPeak);
    for (size_t I = 0; I < Frames;) {
        const size_t Run = std::min(Frames - I, FStepLength - FInStep);
        for (size_t C = 0; C < N; ++C) {
            TChannel& Ch = FChannels[C];
            double Sum = 0.0;
            const float* P = Planes[C] + I;
            for (size_t K = 0; K < Run; ++K) {
                Peak = std::max(Peak, std::fabs(P[K]));
                const double Y = Filter(Ch, P[K]);
                Sum += Y * Y;
            }
            Ch.Sum += Sum;
        }
        I += Run;
        FInStep += Run;
        if (FInStep == FStepLength) EndStep();
    }
    FPeak = Peak;
}

double TLoudnessMeter::IntegratedLoudness() const {
    return GatedLoudness(FBlocks);
}

double GatedLoudness(std::span<const float> BlockPowers) {
    const double Absolute = PowerOf(kAbsoluteGate);
    double Sum = 0.0;
    size_t Count = 0;
    for (const float P : BlockPowers)
        if (P > Absolute) {
            Sum += P;
            ++Count;
        }
    if (Count == 0) return kNoLoudness;
    const double Relative = PowerOf(LoudnessOf(Sum / static_cast<double>(Count)) + kRelativeGate);
    Sum = 0.0;
    Count = 0;
    for (const float P : BlockPowers)
        if (P > Absolute && P > Relative) {
            Sum += P;
            ++Count;
        }
    return Count ? LoudnessOf(Sum / static_cast<double>(Count)) : kNoLoudness;
}

}  // namespace zembra
