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
        FK.B0 = (Vh + Vb * K / Q + K * K) / A0;
        FK.B1 = 2.0 * (K * K - Vh) / A0;
        FK.B2 = (Vh - Vb * K / Q + K * K) / A0;
        FK.A1 = 2.0 * (K * K - 1.0) / A0;
        FK.A2 = (1.0 - K / Q + K * K) / A0;
    }
    // The high pass's numerator is 1, -2, 1 at every rate.
    {
        const double F0 = 38.13547087602444, Q = 0.5003270373238773;
        const double K = std::tan(std::numbers::pi * F0 / Rate);
        const double A0 = 1.0 + K / Q + K * K;
        FK.HA1 = 2.0 * (K * K - 1.0) / A0;
        FK.HA2 = (1.0 - K / Q + K * K) / A0;
    }
    FChannels.resize(Weights.size());
    for (size_t I = 0; I < Weights.size(); ++I) FChannels[I].Weight = Weights[I];
}

void TLoudnessMeter::EndStep() {
    double Weighted = 0.0;
    for (TChannel& C : FChannels) {
        // A damaged frame's NaN or infinity would stay in the filter for good: it starts again.
        if (!std::isfinite(C.Sum)) C = TChannel{C.Weight};
        Weighted += C.Weight * C.Sum;
        C.Sum = 0.0;
        // Denormals in a filter fed silence cost a hundred times a normal multiplication.
        for (double* S : {&C.X1, &C.X2, &C.Y1, &C.Y2, &C.V1, &C.V2})
            if (std::fabs(*S) < 1e-30) *S = 0.0;
    }
    FSteps[FStepCount % 4] = Weighted;
    ++FStepCount;
    FInStep = 0;
    if (FStepCount >= 4)
        FBlocks.push_back(static_cast<float>((FSteps[0] + FSteps[1] + FSteps[2] + FSteps[3]) /
                                             (4.0 * static_cast<double>(FStepLength))));
}

// Two channels in one pair of doubles, each operation for both; the compilers' vector types map
// it onto the processor's vector registers, or onto two scalars where there are none.
typedef double TPair __attribute__((vector_size(16)));

// Both stages in direct form I, written so that the feedback of each stage is one multiplication
// and one subtraction a sample (everything else is known ahead): the processor then overlaps the
// stages and the samples, and the meter costs the encoder next to nothing.
template <typename T, typename TLoad>
[[gnu::always_inline]] inline T Stages(const TLoudnessMeter::TCoefficients& K, T (&S)[6], size_t Count,
                                       TLoad Load) {
    T X1 = S[0], X2 = S[1], Y1 = S[2], Y2 = S[3], V1 = S[4], V2 = S[5];
    T Sum = X1 - X1;
    for (size_t I = 0; I < Count; ++I) {
        const T X = Load(I);
        const T Y = (K.B0 * X + K.B1 * X1 + K.B2 * X2 - K.A2 * Y2) - K.A1 * Y1;
        const T V = ((Y2 - 2.0 * Y1 - K.HA2 * V2) + Y) - K.HA1 * V1;
        X2 = X1, X1 = X, Y2 = Y1, Y1 = Y, V2 = V1, V1 = V;
        Sum += V * V;
    }
    S[0] = X1, S[1] = X2, S[2] = Y1, S[3] = Y2, S[4] = V1, S[5] = V2;
    return Sum;
}

// Where the processor has them, fused multiply-adds and three-operand instructions take a third
// off the filters' time; the loader picks the variant once. Not in the sanitizer builds: the
// loader runs the instrumented picker while it relocates, before ThreadSanitizer's run-time is
// up, and the program dies before main.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__) && \
    !defined(__SANITIZE_ADDRESS__)
#define ZEMBRA_FILTER_VARIANTS __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define ZEMBRA_FILTER_VARIANTS
#endif

namespace {

// The largest magnitude of Count floats, NaN left out; four running maxima overlap.
float MaxMagnitude(const float* P, size_t Count, float Max) {
    float M[4] = {Max, Max, Max, Max};
    size_t I = 0;
    for (; I + 4 <= Count; I += 4)
        for (size_t L = 0; L < 4; ++L) M[L] = std::max(M[L], std::fabs(P[I + L]));
    for (; I < Count; ++I) M[0] = std::max(M[0], std::fabs(P[I]));
    return std::max(std::max(M[0], M[1]), std::max(M[2], M[3]));
}

}  // namespace

ZEMBRA_FILTER_VARIANTS void TLoudnessMeter::FilterPair(TChannel& A, TChannel& B, const float* L,
                                                       const float* R, size_t Stride, size_t Count) {
    TPair S[6] = {{A.X1, B.X1}, {A.X2, B.X2}, {A.Y1, B.Y1}, {A.Y2, B.Y2}, {A.V1, B.V1}, {A.V2, B.V2}};
    // Planes apart (most encoders' format) are read without the stride's multiplication.
    const TPair Sum = Stride == 1 ? Stages<TPair>(FK, S, Count,
                                                  [&](size_t I) {
                                                      return TPair{L[I], R[I]};
                                                  })
                                  : Stages<TPair>(FK, S, Count, [&](size_t I) {
                                        return TPair{L[I * Stride], R[I * Stride]};
                                    });
    A.X1 = S[0][0], A.X2 = S[1][0], A.Y1 = S[2][0], A.Y2 = S[3][0], A.V1 = S[4][0], A.V2 = S[5][0];
    B.X1 = S[0][1], B.X2 = S[1][1], B.Y1 = S[2][1], B.Y2 = S[3][1], B.V1 = S[4][1], B.V2 = S[5][1];
    A.Sum += Sum[0];
    B.Sum += Sum[1];
}

ZEMBRA_FILTER_VARIANTS void TLoudnessMeter::FilterOne(TChannel& C, const float* P, size_t Stride,
                                                      size_t Count) {
    double S[6] = {C.X1, C.X2, C.Y1, C.Y2, C.V1, C.V2};
    C.Sum += Stages<double>(FK, S, Count, [&](size_t I) { return static_cast<double>(P[I * Stride]); });
    C.X1 = S[0], C.X2 = S[1], C.Y1 = S[2], C.Y2 = S[3], C.V1 = S[4], C.V2 = S[5];
}

void TLoudnessMeter::Add(const float* const* Planes, size_t Stride, size_t Frames) {
    const size_t N = FChannels.size();
    for (size_t I = 0; I < Frames;) {
        const size_t Run = std::min(Frames - I, FStepLength - FInStep);
        size_t C = 0;
        for (; C + 2 <= N; C += 2)
            FilterPair(FChannels[C], FChannels[C + 1], Planes[C] + I * Stride, Planes[C + 1] + I * Stride,
                       Stride, Run);
        if (C < N) FilterOne(FChannels[C], Planes[C] + I * Stride, Stride, Run);
        I += Run;
        FInStep += Run;
        if (FInStep == FStepLength) EndStep();
    }
}

void TLoudnessMeter::AddInterleaved(const float* Samples, size_t Frames) {
    const size_t N = FChannels.size();
    if (N == 0) return;
    FPeak = MaxMagnitude(Samples, Frames * N, static_cast<float>(FPeak));
    std::vector<const float*>& Planes = FPlanes;
    Planes.resize(N);
    for (size_t C = 0; C < N; ++C) Planes[C] = Samples + C;
    Add(Planes.data(), N, Frames);
}

void TLoudnessMeter::AddPlanar(const float* const* Planes, size_t Frames) {
    const size_t N = FChannels.size();
    for (size_t C = 0; C < N; ++C) FPeak = MaxMagnitude(Planes[C], Frames, static_cast<float>(FPeak));
    if (N > 0) Add(Planes, 1, Frames);
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
