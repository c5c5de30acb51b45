// Real conversions through the component: the events of a run that encodes.

#include "tests/component/ComponentTestSupport.h"
#include "tests/media/ClipInspector.h"

namespace zembra::testing {
namespace {

class Conversion : public ComponentTest {
  protected:
    TWatchdog Watchdog{std::chrono::seconds(50)};
};

TEST_F(Conversion, ThreadModeConvertsEachTaskAndReportsProgress) {
    TRUvivoVOV C;
    C.SetProgressInterval(100);
    TEventRecorder Events;
    Events.Attach(C);
    const std::string Long = Wav("long.wav", 2.0);
    std::vector<std::string> Outputs;
    for (int I = 0; I < 3; ++I) {
        const int32_t Index = C.NewTask(W(I == 1 ? Long : Input));
        ASSERT_EQ(Index, I) << C.LastError();
        EXPECT_GT(C.Task(Index)->Probe().GetFileSize(), 0);
        Outputs.push_back(Path("conv" + std::to_string(I) + ".mp3"));
        ASSERT_TRUE(C.SetTaskOutput(Index, W(Outputs.back()))) << C.LastError();
    }
    C.StartTasks(2);
    ASSERT_TRUE(WaitInMainThread([&] { return Events.FinalSeen(); }, 40s));
    EXPECT_TRUE(C.WaitForEventThreads(20s));
    for (const auto& R : Events.Terminates()) {
        EXPECT_TRUE(R.Finished) << R.Index << ": " << R.Message;
        EXPECT_FALSE(R.Exception) << R.Message;
    }
    for (const std::string& Out : Outputs) {
        testmedia::TClipFacts Info;
        ASSERT_EQ(testmedia::InspectClip(Out, Info), "") << Out;
        ASSERT_EQ(Info.Streams.size(), 1u) << Out;
        EXPECT_EQ(Info.Streams[0].CodecId, AV_CODEC_ID_MP3);
    }
    bool LongReported = false;
    for (const auto& P : Events.Progress()) LongReported = LongReported || P.Index == 1;
    EXPECT_TRUE(LongReported);
}

TEST_F(Conversion, SequentialModeWithACutRange) {
    TRUvivoVOV C;
    TEventRecorder Events;
    Events.Attach(C);
    const std::string Long = Wav("long.wav", 2.0);
    TInputOptions In;
    In.StartTimeMs = 500;
    ASSERT_EQ(C.NewTask(W(Long), &In), 0) << C.LastError();
    TOutputOptions Out;
    Out.RecordingTimeMs = 700;
    Out.AudioSampleRate = 8000;
    ASSERT_TRUE(C.SetTaskOutput(0, W(Path("cut.wav")), &Out)) << C.LastError();
    C.StartTasks(0);
    const auto T = Events.Terminates();
    ASSERT_EQ(T.size(), 2u);
    EXPECT_TRUE(T[0].Finished) << T[0].Message;
    testmedia::TClipFacts Info;
    ASSERT_EQ(testmedia::InspectClip(Path("cut.wav"), Info), "");
    ASSERT_EQ(Info.Streams.size(), 1u);
    EXPECT_EQ(Info.Streams[0].SampleRate, 8000);
    EXPECT_NEAR(Info.Duration, 0.7, 0.06);
}

}  // namespace
}  // namespace zembra::testing
