// Decoding ahead on a helper thread against the one-thread loop (decode_ahead=0): the outputs
// must hold the same packets, data and time stamps alike.

#include <atomic>
#include <chrono>
#include <thread>
#include <fstream>
#include <memory>
#include <set>
#include <vector>

#include "engine/DecodeAhead.h"
#include "tests/engine/TranscodeTestSupport.h"

namespace zembra::testing {
namespace {

using testmedia::TSampleKind;

struct TPacketRecord {
    int Stream = 0;
    int64_t Pts = 0, Dts = 0, Duration = 0;
    int Flags = 0;
    std::vector<uint8_t> Data;
    bool operator==(const TPacketRecord&) const = default;
};

// Every packet of File in the order the demuxer gives them.
std::vector<TPacketRecord> ReadPackets(const std::string& File) {
    std::vector<TPacketRecord> Packets;
    AVFormatContext* Ic = nullptr;
    EXPECT_GE(lavf.avformat_open_input(&Ic, File.c_str(), nullptr, nullptr), 0) << File;
    if (!Ic) return Packets;
    const TFormatInputPtr Owner(Ic);
    const TPacketPtr P = MakePacket();
    while (P && lavf.av_read_frame(Ic, P.get()) >= 0) {
        Packets.push_back({P->stream_index, P->pts, P->dts, P->duration, P->flags,
                           std::vector<uint8_t>(P->data, P->data + P->size)});
        lavc.av_packet_unref(P.get());
    }
    return Packets;
}

class DecodeAhead : public TranscodeTest {
  protected:
    void SetUp() override {
        TranscodeTest::SetUp();
        if (TRunningLoop::Processors() < 2) GTEST_SKIP() << "one processor: the loop never decodes ahead";
    }
    struct TRun {
        std::string Error;
        bool Finished = false;
        std::vector<TPacketRecord> Packets;
    };
    // Converts with decoding ahead allowed or not; checks that it was used when allowed.
    TRun Run(bool Ahead, const std::string& Source, const std::string& Out, const std::string& InputLines,
             const std::string& OutputLines) {
        const int64_t Before = DecodeAheadRunCount();
        TFFmpeg Job;
        Job.SetProgressInterval(0);
        TRun R;
        R.Error = Convert({Source}, Out, InputLines, Ahead ? OutputLines : OutputLines + "\ndecode_ahead=0",
                          false, &Job);
        R.Finished = Result.Finished;
        EXPECT_EQ(DecodeAheadRunCount() - Before, Ahead ? 1 : 0) << Out;
        if (R.Error.empty()) R.Packets = ReadPackets(Out);
        return R;
    }
    void ExpectSameRuns(const TRun& One, const TRun& Two, const std::string& Name) {
        EXPECT_EQ(One.Error, Two.Error) << Name;
        EXPECT_EQ(One.Finished, Two.Finished) << Name;
        ASSERT_EQ(One.Packets.size(), Two.Packets.size()) << Name;
        for (size_t I = 0; I < One.Packets.size(); ++I)
            ASSERT_TRUE(One.Packets[I] == Two.Packets[I])
                << Name << ": packet " << I << " of stream " << One.Packets[I].Stream << " differs";
    }
};

// Every audio format (sound alone, or as ogg and ra with the picture re-encoded), three video
// conversions (scaled, with the sound copied, through a filter graph with pads), and a source
// with damaged packets in the middle with and without "xerror". The pictures are encoded with
// MPEG-4 on one thread: x264 on threads of its own writes other packets from one run to the
// next even without decoding ahead.
TEST_F(DecodeAhead, WritesTheSamePacketsAsOneThread) {
    testmedia::TClipSpec Film = testmedia::SampleClip(TSampleKind::Avi, Path("film.avi"));
    Film.Videos[0].Width = 176;  // the RealVideo encoder takes multiples of 16 only
    Film.Videos[0].Height = 144;
    ASSERT_EQ(testmedia::WriteClip(Film), "");
    const std::string Mp4 = Sample(TSampleKind::Mp4);
    // Bytes in the middle overwritten: the decoders meet damaged packets.
    const std::string Damaged = Path("damaged.avi");
    std::filesystem::copy_file(Film.Path, Damaged);
    {
        std::fstream F(Damaged, std::ios::in | std::ios::out | std::ios::binary);
        F.seekp(static_cast<std::streamoff>(std::filesystem::file_size(Damaged) / 2));
        const std::string Noise(4096, '\x5a');
        F.write(Noise.data(), static_cast<std::streamsize>(Noise.size()));
    }
    const struct {
        const std::string& Source;
        const char* Suffix;
        const char* InputLines;
        const char* OutputLines;
    } Cases[] = {
        {Film.Path, "mp3", "vn=1", "sn=1"},
        {Film.Path, "mp2", "vn=1", "sn=1"},
        {Film.Path, "wma", "vn=1", "vn=1\nacodec=wmav2\nsn=1"},
        {Film.Path, "aac", "vn=1", "sn=1"},
        {Film.Path, "ac3", "vn=1", "sn=1"},
        {Film.Path, "wav", "vn=1", "sn=1"},
        {Film.Path, "au", "", "sn=1"},
        {Film.Path, "flac", "", "sn=1"},
        {Film.Path, "ogg", "", "vcodec=libtheora\nacodec=flac\nsn=1"},
        {Film.Path, "m4a", "vn=1", "sn=1"},
        {Film.Path, "ra", "", "sn=1"},
        {Mp4, "avi", "", "s=96x64\nsn=1"},
        {Mp4, "mkv", "", "vcodec=mpeg4\nacodec=copy\nsn=1"},
        {Mp4, "mp4", "", "vcodec=mpeg4\nvfilters=hflip\npadtop=16\npadbottom=16\nsn=1"},
        {Damaged, "mp3", "vn=1", "sn=1\nxerror=0"},
        {Damaged, "mkv", "", "vcodec=mpeg4\nsn=1\nxerror=1"},
    };
    int N = 0;
    for (const auto& Case : Cases) {
        const std::string Name = std::to_string(++N) + "." + Case.Suffix;
        const TRun One = Run(false, Case.Source, Path("one" + Name), Case.InputLines, Case.OutputLines);
        const TRun Two = Run(true, Case.Source, Path("two" + Name), Case.InputLines, Case.OutputLines);
        if (Case.Source != Damaged) {
            EXPECT_EQ(One.Error, "") << Name;
            EXPECT_FALSE(One.Packets.empty()) << Name;
        }
        ExpectSameRuns(One, Two, Name);
    }
}

// Once every processor is taken (other tasks started), the helper stops and the job's thread
// reads on alone from where it was: the output is still the one-thread loop's.
TEST_F(DecodeAhead, GoesOnAloneWhenTheProcessorsFillUp) {
    const std::string Source = Sample(TSampleKind::Mp4);
    std::vector<std::unique_ptr<TRunningLoop>> Others;
    int Reports = 0;
    OnEachProgress = [&] {
        if (++Reports == 3)
            while (TRunningLoop::FreeProcessor()) Others.push_back(std::make_unique<TRunningLoop>());
    };
    const TRun Two = Run(true, Source, Path("two.mkv"), "", "vcodec=mpeg4\nsn=1");
    OnEachProgress = nullptr;
    EXPECT_FALSE(Others.empty());
    Others.clear();
    const TRun One = Run(false, Source, Path("one.mkv"), "", "vcodec=mpeg4\nsn=1");
    EXPECT_EQ(One.Error, "");
    ExpectSameRuns(One, Two, "handed back");
}

// One input into two files at once: pictures re-encoded and the sound copied into one, the
// sound encoded into the other. Both get the one-thread loop's packets.
TEST_F(DecodeAhead, SeveralOutputsGetTheSamePackets) {
    const std::string Source = Sample(TSampleKind::Mp4);
    std::vector<TPacketRecord> Written[2][2];  // [ahead][output]
    for (const bool Ahead : {false, true}) {
        const std::string Name = Ahead ? "ahead" : "one";
        const std::string Outputs[2] = {Path(Name + ".mkv"), Path(Name + ".mp2")};
        TFFmpeg Job;
        Job.ResetJob();
        Job.SetProgressInterval(0);
        bool Finished = false;
        Job.SetOnTerminate([&](TCustomFFmpeg& Ended) { Finished = Ended.Finished(); });
        const int64_t Before = DecodeAheadRunCount();
        Job.ApplyOptionLines(Ahead ? "" : "decode_ahead=0", kPhaseOrdinary);
        ASSERT_TRUE(Job.OpenInputFile(W(Source))) << Job.LastError();
        Job.ApplyOptionLines("vcodec=mpeg4\nacodec=copy\nsn=1", kPhaseOrdinary);
        ASSERT_GT(Job.OpenOutputFile(W(Outputs[0]), false), 0) << Job.LastError();
        Job.ApplyOptionLines("vn=1\nacodec=mp2", kPhaseOrdinary);
        ASSERT_GT(Job.OpenOutputFile(W(Outputs[1]), false), 0) << Job.LastError();
        Job.Start(false);
        EXPECT_TRUE(Finished) << Name << ": " << Job.LastError();
        EXPECT_EQ(DecodeAheadRunCount() - Before, Ahead ? 1 : 0) << Name;
        for (int I = 0; I < 2; ++I) {
            Written[Ahead][I] = ReadPackets(Outputs[I]);
            EXPECT_FALSE(Written[Ahead][I].empty()) << Outputs[I];
        }
    }
    const auto StreamsOf = [](const std::vector<TPacketRecord>& Packets) {
        std::set<int> Streams;
        for (const TPacketRecord& P : Packets) Streams.insert(P.Stream);
        return Streams.size();
    };
    EXPECT_EQ(StreamsOf(Written[0][0]), 2u);  // pictures and sound
    EXPECT_EQ(StreamsOf(Written[0][1]), 1u);  // sound
    for (int I = 0; I < 2; ++I) {
        ASSERT_EQ(Written[0][I].size(), Written[1][I].size()) << "output " << I;
        for (size_t P = 0; P < Written[0][I].size(); ++P)
            ASSERT_TRUE(Written[0][I][P] == Written[1][I][P])
                << "output " << I << ": packet " << P << " differs";
    }
}

// Paused halfway, the job's thread makes no progress until it is resumed, and the output is
// still the one-thread loop's; a stop while paused ends the run at once, unfinished.
TEST_F(DecodeAhead, PausesResumesAndStopsWhilePaused) {
    const std::string Source = Sample(TSampleKind::Mp4);
    const std::string Lines = "vcodec=mpeg4\nsn=1";
    for (const bool StopWhilePaused : {false, true}) {
        const std::string Name = StopWhilePaused ? "stopped" : "resumed";
        TFFmpeg Job;
        Job.SetProgressInterval(0);
        std::atomic<int> Reports{0};
        int DuringPause = -1;
        std::thread Pauser;
        OnEachProgress = [&] {
            if (Reports.fetch_add(1) != 2) return;
            Pauser = std::thread([&] {
                Job.Pause();
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                const int Held = Reports.load();
                std::this_thread::sleep_for(std::chrono::milliseconds(150));
                DuringPause = Reports.load() - Held;
                if (StopWhilePaused)
                    Job.Stop(false);
                else
                    Job.Resume();
            });
        };
        const int64_t Before = DecodeAheadRunCount();
        InBackground = true;  // a job run on the caller's thread cannot be paused
        const std::string Error = Convert({Source}, Path(Name + ".mkv"), "", Lines, false, &Job);
        InBackground = false;
        OnEachProgress = nullptr;
        ASSERT_TRUE(Pauser.joinable()) << Name;
        Pauser.join();
        EXPECT_EQ(DecodeAheadRunCount() - Before, 1) << Name;
        EXPECT_EQ(DuringPause, 0) << Name;
        EXPECT_EQ(Error, "") << Name;
        EXPECT_EQ(Result.Finished, !StopWhilePaused) << Name;
        if (StopWhilePaused) continue;
        const TRun One = Run(false, Source, Path("one.mkv"), "", Lines);
        TRun Two;
        Two.Finished = true;
        Two.Packets = ReadPackets(Path(Name + ".mkv"));
        ExpectSameRuns(One, Two, Name);
    }
}

}  // namespace
}  // namespace zembra::testing
