// One sound encoded in segments on several threads must sound like the one-thread encode:
// the same length to the sample, the same quality, and no click where the segments meet.

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>

#include "engine/DecodeAhead.h"
#include "engine/SoundSegments.h"
#include "tests/engine/TranscodeTestSupport.h"

namespace zembra::testing {
namespace {

using SoundSegments = TranscodeTest;

constexpr double kSeconds = 9.0;
constexpr int kRate = 44100;
// Three segments of three seconds; the shortest worth a thread is set low for the test.
const std::string kSplit = "segments=3\nsegment_ms=3000";

std::string MusicSource(const std::string& Path, const std::string& Encoder) {
    testmedia::TClipSpec Spec;
    Spec.Path = Path;
    testmedia::TAudioSpec Sound;
    Sound.Encoder = Encoder;
    Sound.SampleRate = kRate;
    Sound.Duration = kSeconds;
    Sound.Music = true;
    Spec.Audios.push_back(Sound);
    EXPECT_EQ(testmedia::WriteClip(Spec), "");
    return Spec.Path;
}

testmedia::TDecodedAudio Decoded(const std::string& File) {
    testmedia::TDecodedAudio A;
    EXPECT_EQ(testmedia::DecodeAudio(File, 0, A), "") << File;
    return A;
}

// The lag (in samples) at which Coded matches Source best: encoders without gapless figures in
// their container decode late by their delay.
size_t BestLag(const std::vector<float>& Coded, const std::vector<float>& Source) {
    size_t Best = 0;
    double BestError = 1e300;
    for (size_t Lag = 0; Lag < 4096 && Lag < Coded.size(); ++Lag) {
        double Error = 0;
        for (size_t I = kRate; I < kRate + kRate / 2 && I + Lag < Coded.size() && I < Source.size(); ++I)
            Error += std::pow(Coded[I + Lag] - Source[I], 2);
        if (Error < BestError) {
            BestError = Error;
            Best = Lag;
        }
    }
    return Best;
}

struct TQuality {
    double SnrDb = 0;
    std::vector<float> Error;  // per source sample, the first channel
};

TQuality Measure(const testmedia::TDecodedAudio& Coded, const testmedia::TDecodedAudio& Source, size_t Lag) {
    TQuality Q;
    double Signal = 0, Noise = 0;
    for (size_t C = 0; C < Source.Channels.size() && C < Coded.Channels.size(); ++C) {
        const auto& S = Source.Channels[C];
        const auto& D = Coded.Channels[C];
        for (size_t I = 0; I < S.size() && I + Lag < D.size(); ++I) {
            const float E = D[I + Lag] - S[I];
            Signal += double(S[I]) * S[I];
            Noise += double(E) * E;
            if (C == 0) Q.Error.push_back(E);
        }
    }
    Q.SnrDb = 10 * std::log10(Signal / std::max(Noise, 1e-20));
    return Q;
}

// The lag of Coded against Reference (samples, either way) that matches best over [From, To).
int LagBetween(const std::vector<float>& Coded, const std::vector<float>& Reference, size_t From, size_t To) {
    int Best = 0;
    double BestError = 1e300;
    for (int Lag = -1200; Lag <= 1200; ++Lag) {
        double Error = 0;
        for (size_t I = From; I < To && I < Reference.size(); ++I) {
            const auto J = static_cast<ptrdiff_t>(I) + Lag;
            if (J < 0 || static_cast<size_t>(J) >= Coded.size()) continue;
            Error += std::pow(Coded[static_cast<size_t>(J)] - Reference[I], 2);
        }
        if (Error < BestError) {
            BestError = Error;
            Best = Lag;
        }
    }
    return Best;
}

double SnrDb(const std::vector<float>& Coded, const std::vector<float>& Reference, size_t From, size_t To) {
    double Signal = 0, Noise = 0;
    for (size_t I = From; I < To && I < Reference.size() && I < Coded.size(); ++I) {
        Signal += double(Reference[I]) * Reference[I];
        Noise += std::pow(double(Coded[I]) - Reference[I], 2);
    }
    return 10 * std::log10(Signal / std::max(Noise, 1e-20));
}

float LargestError(const std::vector<float>& Error, size_t From, size_t To) {
    float Largest = 0;
    for (size_t I = From; I < To && I < Error.size(); ++I) Largest = std::max(Largest, std::fabs(Error[I]));
    return Largest;
}

std::string Bytes(const std::string& File) {
    std::ifstream In(File, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

TEST(SoundSegmentPlan, CutsWholeFramesAndOnlyWhereItPays) {
    struct TCase {
        int64_t Samples;
        int Frame, Wanted;
        int64_t Min;
        std::vector<int64_t> Starts;
    } Cases[] = {
        {1000000, 1152, 2, 400000, {0, 499968}},  // halves, on a frame
        {1000000, 1152, 4, 400000, {0, 499968}},  // no segment shorter than the least
        {700000, 1152, 2, 400000, {0}},           // too short for two
        {1000000, 1152, 1, 100000, {0}},          // one processor free
        {900, 1, 3, 300, {0, 300, 600}},          // sample-sized frames
        {1000000, 1024, 3, 100000, {0, 332800, 666624}},
    };
    for (const TCase& C : Cases)
        EXPECT_EQ(PlanSegments(C.Samples, C.Frame, C.Wanted, C.Min), C.Starts) << C.Samples;
    const std::vector<int64_t> Starts{0, 1000, 2000};
    EXPECT_EQ(SegmentSpan(Starts, 0, 300, 100).From, 0);
    EXPECT_EQ(SegmentSpan(Starts, 0, 300, 100).To, 1100);
    EXPECT_EQ(SegmentSpan(Starts, 1, 300, 100).From, 700);
    EXPECT_EQ(SegmentSpan(Starts, 2, 300, 100).To, INT64_MAX);
}

// Every format whose encoder is split (FLAC numbered for its place and its header's count and
// sum made whole, so the very file of one thread), from an exactly timed source (WAV) and from one with
// coarse timestamps (AAC in Matroska): the split output against the one-thread output.
TEST_F(SoundSegments, SoundLikeTheOneThreadEncodeEveryFormat) {
    const std::string Wav = MusicSource(Path("music.wav"), "pcm_s16le");
    const std::string Mkv = MusicSource(Path("music.mkv"), "aac");
    const testmedia::TDecodedAudio Source = Decoded(Wav);
    ASSERT_EQ(Source.Channels.size(), 2u);
    struct TCase {
        std::string Input, Output;
        bool Identical;  // lossless: the very same bytes
        std::string InputLines, OutputLines;
    } Cases[] = {{Wav, "out.wav", true},
                 {Wav, "out.au", true},
                 {Wav, "out.mp3", false},
                 {Wav, "out.mp2", false},
                 {Wav, "out.m4a", false},
                 {Wav, "out.ac3", false},
                 {Wav, "out.wma", false},
                 {Wav, "out.flac", true},
                 {Mkv, "mkv.mp3", false},
                 {Wav, "cut.wav", true, "ss=1.3", "t=6.5"},
                 {Wav, "cut.mp3", false, "ss=1.3", "t=6.5"}};
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Output);
        const int64_t Before = SegmentedRunCount();
        ASSERT_EQ(Convert({C.Input}, Path("one-" + C.Output), C.InputLines, C.OutputLines + "\nsegments=0"),
                  "");
        EXPECT_EQ(SegmentedRunCount(), Before);
        ASSERT_EQ(Convert({C.Input}, Path("split-" + C.Output), C.InputLines, C.OutputLines + "\n" + kSplit),
                  "");
        EXPECT_EQ(SegmentedRunCount(), Before + 1);
        if (C.Identical) {
            EXPECT_EQ(Bytes(Path("one-" + C.Output)), Bytes(Path("split-" + C.Output)));
            continue;
        }
        const testmedia::TDecodedAudio One = Decoded(Path("one-" + C.Output));
        const testmedia::TDecodedAudio Split = Decoded(Path("split-" + C.Output));
        ASSERT_FALSE(One.Channels.empty());
        ASSERT_FALSE(Split.Channels.empty());
        // Gapless: as many samples as the one-thread output.
        EXPECT_EQ(Split.Channels[0].size(), One.Channels[0].size());
        // The source in Matroska went through AAC first: both compare with what it decodes to.
        testmedia::TDecodedAudio Reference = C.Input == Wav ? Source : Decoded(Mkv);
        const double Cut = C.InputLines.empty() ? 0.0 : std::stod(C.InputLines.substr(3));
        const double Length = C.OutputLines.empty() ? kSeconds : std::stod(C.OutputLines.substr(2));
        for (auto& Channel : Reference.Channels)
            Channel.erase(Channel.begin(), Channel.begin() + static_cast<long>(Cut * kRate));
        const size_t Lag = BestLag(One.Channels[0], Reference.Channels[0]);
        const TQuality A = Measure(One, Reference, Lag);
        const TQuality B = Measure(Split, Reference, Lag);
        EXPECT_NEAR(B.SnrDb, A.SnrDb, 0.1);
        // Where the segments meet (the splice may move by up to half a second in MP3), no click.
        const int Segments = std::min(3, static_cast<int>(Length / 3));
        for (int K = 1; K < Segments; ++K) {
            const size_t At = static_cast<size_t>(Length * kRate * K / Segments);
            const size_t From = At - kRate / 2, To = At + kRate / 2;
            EXPECT_LE(LargestError(B.Error, From, To), 2 * LargestError(A.Error, From, To) + 1e-4f) << K;
        }
    }
}

// Every kind of source, split in two, decodes to the one-thread output's sound: the same
// number of samples, no lag on either side of the splice and the sound around it the same.
// Among them the sources whose times alone would place a segment wrong: an mp3 whose first
// frame the decoder trims (its LAME header's delay), timelines with a hole or an overlap, raw
// streams whose times the demuxer makes up at 44.1 kHz. FLAC is lossless: split from any source
// it holds the one-thread output's very samples.
TEST_F(SoundSegments, EverySourceKindSplitsToTheOneThreadSound) {
    constexpr double kLength = 4.0;
    auto Source = [&](const std::string& Name, const std::string& Encoder, double JumpAfter = 0.0,
                      double Jump = 0.0, testmedia::TOptions Options = {}) {
        testmedia::TClipSpec Spec;
        Spec.Path = Path(Name);
        testmedia::TAudioSpec Sound;
        Sound.Encoder = Encoder;
        Sound.Duration = kLength;
        Sound.Music = true;
        Sound.JumpAfter = JumpAfter;
        Sound.Jump = Jump;
        Sound.Options = std::move(Options);
        Spec.Audios.push_back(Sound);
        EXPECT_EQ(testmedia::WriteClip(Spec), "") << Name;
        return Spec.Path;
    };
    const std::string Wav = Source("s.wav", "pcm_s16le");
    const std::string Lame = Source("lame.mp3", "libmp3lame");
    const std::string Aac = Source("aac.m4a", "aac");
    const std::string Hole = Source("hole.mkv", "aac", 1.2, 0.5);
    const std::string Ac3 = Source("raw.ac3", "ac3");
    const std::string Eac3 = Source("raw.eac3", "eac3");
    const std::string Dts = Source("raw.dts", "dca", 0.0, 0.0, {{"strict", "-2"}});
    const std::string Split = "segments=2\nsegment_ms=1500";
    // How the split goes: in two, or the first segment on to the end (the second cannot be
    // placed), or not at all (a lossless output from a decoder whose noise depends on where it
    // started).
    enum TWay { Splits, RunsOn, OneThread };
    struct TCase {
        std::string Input, Output;
        TWay Way;
        std::string InputLines, OutputLines;
    } Cases[] = {
        {Wav, "wav.m4a", Splits},
        {Wav, "wav.flac", Splits},
        {Lame, "lame.m4a", Splits},
        {Lame, "lame.ac3", Splits},
        {Lame, "lame.mp3", Splits, "", "ab=96k"},
        {Lame, "lame.flac", Splits},
        {Lame, "lamecut.m4a", Splits, "ss=0.7"},
        {Aac, "aac.mp3", Splits},
        {Aac, "aac.flac", OneThread},
        {Hole, "hole.mp3", RunsOn},
        {Hole, "hole.m4a", RunsOn},
        {Hole, "hole.ac3", RunsOn},
        {Ac3, "ac3.mp3", Splits},
        {Ac3, "ac3.flac", OneThread},
        {Eac3, "eac3.mp3", Splits},
        {Dts, "dts.mp3", Splits},
    };
    for (const TCase& C : Cases) {
        SCOPED_TRACE(C.Output);
        ASSERT_EQ(Convert({C.Input}, Path("one-" + C.Output), C.InputLines, C.OutputLines + "\nsegments=0"),
                  "");
        const int64_t Runs = SegmentedRunCount(), RanOn = SegmentRunOnCount();
        ASSERT_EQ(Convert({C.Input}, Path("split-" + C.Output), C.InputLines, C.OutputLines + "\n" + Split),
                  "");
        EXPECT_EQ(SegmentedRunCount(), Runs + (C.Way == OneThread ? 0 : 1));
        EXPECT_EQ(SegmentRunOnCount(), RanOn + (C.Way == RunsOn ? 1 : 0));
        const testmedia::TDecodedAudio One = Decoded(Path("one-" + C.Output));
        const testmedia::TDecodedAudio Two = Decoded(Path("split-" + C.Output));
        ASSERT_FALSE(One.Channels.empty());
        ASSERT_FALSE(Two.Channels.empty());
        const std::vector<float>& A = One.Channels[0];
        const std::vector<float>& B = Two.Channels[0];
        ASSERT_EQ(B.size(), A.size());
        if (C.Output.ends_with(".flac")) {
            EXPECT_TRUE(A == B);
            continue;
        }
        // The splice lies near the middle (an MP3 splice moves by up to 0.4 s): no lag before
        // or after it, and the sound around it as close to the one-thread sound as the rest.
        const auto Rate = static_cast<size_t>(One.SampleRate);
        const size_t Middle = A.size() / 2;
        for (const size_t From : {Middle - Rate, Middle + Rate / 2})
            EXPECT_EQ(LagBetween(B, A, From, From + Rate / 2), 0) << From;
        EXPECT_GT(SnrDb(B, A, Middle - Rate / 2, Middle + Rate / 2), 20.0);
    }

    // Left to itself (no segments line), a job reads the timeline before it splits: a hole
    // found by the packets' times (Matroska) or by the index (MP4) keeps it on one thread from
    // the start instead of running on half-way.
    if (TRunningLoop::Processors() < 2) return;
    const std::string HoleMp4 = Source("hole.mp4", "aac", 1.2, 0.5);
    const struct {
        std::string Input;
        bool Splits;
    } Automatic[] = {{Wav, true}, {Hole, false}, {HoleMp4, false}};
    for (size_t I = 0; I < std::size(Automatic); ++I) {
        SCOPED_TRACE(Automatic[I].Input);
        const int64_t Runs = SegmentedRunCount(), RanOn = SegmentRunOnCount();
        ASSERT_EQ(
            Convert({Automatic[I].Input}, Path("auto" + std::to_string(I) + ".mp3"), "", "segment_ms=1500"),
            "");
        EXPECT_EQ(SegmentedRunCount(), Runs + (Automatic[I].Splits ? 1 : 0));
        EXPECT_EQ(SegmentRunOnCount(), RanOn);
    }
}

// Progress is one figure that never goes back and ends at the whole; a stop ends the run with
// what was written; a segment that cannot read its source fails the job with that reason.
TEST_F(SoundSegments, ProgressStopAndFailure) {
    const std::string Wav = MusicSource(Path("music.wav"), "pcm_s16le");
    std::vector<int32_t> Seen;
    OnEachProgress = [&] { Seen.push_back(Result.LastDuration); };
    TFFmpeg Job;
    Job.SetProgressInterval(1000);
    ASSERT_EQ(Convert({Wav}, Path("whole.mp3"), "", kSplit, false, &Job), "");
    ASSERT_GE(Seen.size(), 2u);
    EXPECT_TRUE(std::is_sorted(Seen.begin(), Seen.end()));
    EXPECT_NEAR(Seen.back(), kSeconds * 1000, 100);

    OnEachProgress = [&] {
        if (Result.LastDuration > 1000) Job.Stop(false);
    };
    InBackground = true;
    ASSERT_EQ(Convert({Wav}, Path("stopped.mp3"), "", kSplit, false, &Job), "");
    EXPECT_FALSE(Result.Finished);
    const testmedia::TDecodedAudio Stopped = Decoded(Path("stopped.partial.mp3"));
    ASSERT_FALSE(Stopped.Channels.empty());
    EXPECT_LT(Stopped.Channels[0].size(), static_cast<size_t>(kSeconds * kRate));
    InBackground = false;
    OnEachProgress = nullptr;

    // A raw input reads as its options say only in the job's own opening: it runs on one thread.
    ASSERT_EQ(Convert({Wav}, Path("raw.pcm"), "", "f=s16le\nar=22050\nac=1\nsegments=0"), "");
    const int64_t Before = SegmentedRunCount();
    ASSERT_EQ(Convert({Path("raw.pcm")}, Path("raw.mp3"), "f=s16le\nar=22050\nac=1", kSplit), "");
    EXPECT_EQ(SegmentedRunCount(), Before);
    EXPECT_NEAR(Facts(Path("raw.mp3")).Duration, kSeconds, 0.1);

    // The job holds its own opening of the source; the segments open it again, and find it gone.
    TFFmpeg Gone;
    Gone.ResetJob();
    bool Failed = false;
    std::string Message;
    Gone.SetOnTerminate([&](TCustomFFmpeg& J) {
        Failed = J.ErrorOccurred();
        Message = J.ErrorMessage();
    });
    Gone.ApplyOptionLines(kSplit, kPhaseOrdinary);
    ASSERT_TRUE(Gone.OpenInputFile(W(Wav)));
    ASSERT_GE(Gone.OpenOutputFile(W(Path("gone.mp3")), false), 0);
    ASSERT_EQ(::unlink(Wav.c_str()), 0);
    Gone.Start(false);
    EXPECT_TRUE(Failed);
    EXPECT_NE(Message.find("no such file or directory"), std::string::npos) << Message;
    EXPECT_FALSE(std::filesystem::exists(Path("gone.mp3")));

    // Another file put at the name after the job opened it: the segments would read half of
    // each, so the job fails and says why.
    const std::string In = MusicSource(Path("in.wav"), "pcm_s16le");
    const std::string Other = MusicSource(Path("other.wav"), "pcm_s16le");
    TFFmpeg Swapped;
    Swapped.ResetJob();
    Failed = false;
    Message.clear();
    Swapped.SetOnTerminate([&](TCustomFFmpeg& J) {
        Failed = J.ErrorOccurred();
        Message = J.ErrorMessage();
    });
    Swapped.ApplyOptionLines(kSplit, kPhaseOrdinary);
    ASSERT_TRUE(Swapped.OpenInputFile(W(In)));
    ASSERT_GE(Swapped.OpenOutputFile(W(Path("swapped.mp3")), false), 0);
    ASSERT_EQ(::rename(Other.c_str(), In.c_str()), 0);
    const int64_t Before2 = SegmentedRunCount();
    Swapped.Start(false);
    EXPECT_TRUE(Failed);
    EXPECT_NE(Message.find("in.wav: the file was replaced or changed after the conversion opened it"),
              std::string::npos)
        << Message;
    EXPECT_EQ(SegmentedRunCount(), Before2);
    EXPECT_FALSE(std::filesystem::exists(Path("swapped.mp3")));
}

}  // namespace
}  // namespace zembra::testing
