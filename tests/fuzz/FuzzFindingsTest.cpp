// The inputs with which the fuzz targets found faults, replayed through the same calls as the
// targets make, so that each fault stays fixed. The bytes are the fuzzer's own findings.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "binding/FFmpegLoader.h"
#include "engine/FFmpeg.h"
#include "logging/FFmpegLogger.h"
#include "tests/media/ClipInspector.h"
#include "tests/fuzz/OptionRun.h"
#include "tests/media/TestMedia.h"
#include "util/StringUtils.h"

namespace zembra::testing {
namespace {

namespace fs = std::filesystem;

// zembra-fuzz-optionrun: a quantiser matrix whose seventh coefficient is no number ("\354" and
// a 9) read as 0 and reached the MPEG-4 encoder, which divided by it (SIGFPE).
const char kZeroCoefficientMatrix[] =
    "intra_matrix=8,16,19,22,26,27,\3549,34,16,16,22,24,27,29,34,37,19,22,26,27,29,34,34,38,22,22,26,27,2,3,"
    "9473,40,22,26,27,29,32,35,40,48,26,27,29,32,35,40,48,58,26,27,29,34,38,46,56,69,27,29,35,38,46,56,69,83";

// zembra-fuzz-optionrun: a mux delay of 128000 seconds is 1.28e11 microseconds, which the
// conversion to the muxer's int field did not survive (undefined behaviour; UBSan stops here).
const char kLongMuxDelay[] =
    "ar&=6\024c=2\r\nmuxdelay=\0\0"
    "128000\r\nac$ode&\nqsbmp]lame";

class FuzzFindings : public ::testing::Test {
  protected:
    void SetUp() override {
        FFLoader().SetLibraryPath(DefaultLibraryFolder());
        ASSERT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
        GetLogger().SetLogLevel(llQuiet);
        char Pattern[] = "/tmp/zembra-fuzz-findings-XXXXXX";
        ASSERT_NE(::mkdtemp(Pattern), nullptr);
        Dir = Pattern;
        const testmedia::TClipSpec Spec = fuzz::OptionRunClip(Dir + "/clip.avi");
        ASSERT_EQ(testmedia::WriteClip(Spec), "");
        Clip = Spec.Path;
    }
    void TearDown() override {
        std::error_code Ec;
        fs::remove_all(Dir, Ec);
    }

    // What zembra-fuzz-optionrun does with Text: "" when the run finished, else the refusal or
    // the run's failure.
    std::string OptionRun(const std::string& Text, const std::string& Output) {
        TFFmpeg Job;
        std::string Failure;
        if (!fuzz::OpenOptionRun(Job, Text, Clip, Output, Failure)) return Failure;
        Job.SetOnTerminate([&Failure](TCustomFFmpeg& Ended) {
            if (Ended.ErrorOccurred()) Failure = Ended.ErrorMessage();
        });
        Job.Start(false);
        return Failure;
    }

    // Text applied to the output only, as a task's output options are.
    std::string OutputRun(const std::string& Text, const std::string& Output) {
        TFFmpeg Job;
        Job.ResetJob();
        std::string Failure;
        try {
            if (!Job.OpenInputFile(Utf8ToUtf16(Clip))) return Job.LastError();
            Job.ApplyOptionLines(Text, kPhaseOrdinary);
            if (Job.OpenOutputFile(Utf8ToUtf16(Output), false) < 0) return Job.LastError();
        } catch (const std::exception& E) {
            Job.CleanUp();
            return E.what();
        }
        Job.SetOnTerminate([&Failure](TCustomFFmpeg& Ended) {
            if (Ended.ErrorOccurred()) Failure = Ended.ErrorMessage();
        });
        Job.Start(false);
        return Failure;
    }

    std::string Dir;
    std::string Clip;
};

TEST_F(FuzzFindings, AMatrixCoefficientThatIsNoNumberIsRefused) {
    const std::string Text = std::string(kZeroCoefficientMatrix) + "\nt=0.5\n";
    const std::string Error = OptionRun(Text, Dir + "/output.avi");
    EXPECT_EQ(Error.rfind("Invalid coefficient in matrix \"8,16,19,22,26,27,\3549,", 0), 0u) << Error;
    EXPECT_NE(Error.find("\" at coeff 6"), std::string::npos) << Error;
    EXPECT_FALSE(fs::exists(Dir + "/output.avi"));

    // Zero and values past eight bits are refused as such; a refused matrix leaves none behind.
    TFFmpeg Job;
    Job.ResetJob();
    std::string Matrix;
    for (int I = 1; I <= 64; ++I) Matrix += (I == 1 ? "" : ",") + std::to_string(I == 5 ? 0 : I);
    EXPECT_THROW(Job.ApplyOptionLines("inter_matrix=" + Matrix, kPhaseOrdinary), std::exception);
    EXPECT_TRUE(Job.Settings().InterMatrix.empty());
    EXPECT_THROW(Job.ApplyOptionLines("intra_matrix=256" + Matrix.substr(1), kPhaseOrdinary), std::exception);
    EXPECT_TRUE(Job.Settings().IntraMatrix.empty());
    Job.CleanUp();
}

TEST_F(FuzzFindings, AValidMatrixStillConverts) {
    std::string Matrix;
    for (int I = 0; I < 64; ++I) Matrix += (I ? "," : "") + std::to_string(8 + I);
    const std::string Output = Dir + "/matrix.avi";
    EXPECT_EQ(OptionRun("intra_matrix=" + Matrix + "\ninter_matrix=" + Matrix + "\nt=0.5\n", Output), "");
    testmedia::TClipFacts Facts;
    ASSERT_EQ(testmedia::InspectClip(Output, Facts), "");
    EXPECT_FALSE(Facts.Streams.empty());
}

TEST_F(FuzzFindings, ScaledOptionValuesPastTheirFieldsStopAtTheEnds) {
    const std::string Found(kLongMuxDelay, sizeof(kLongMuxDelay) - 1);
    ASSERT_NE(Found.find("muxdelay"), std::string::npos);
    const std::string Output = Dir + "/delay.avi";
    EXPECT_EQ(OptionRun(Found + "\nt=0.5\n", Output), "");
    testmedia::TClipFacts Facts;
    EXPECT_EQ(testmedia::InspectClip(Output, Facts), "");

    // The same for the other values that are scaled on their way to the libraries: a preload and
    // a timestamp threshold in seconds, quantisers in lambda units.
    int Run = 0;
    for (const char* Text : {"muxpreload=1e30", "dts_delta_threshold=1e30", "aq=1e30",
                             "qscale=255\nvcodec=mpeg4", "muxdelay=3e38\nmuxpreload=3e38"}) {
        const std::string Out = Dir + "/scaled-" + std::to_string(Run++) + ".avi";
        EXPECT_EQ(OptionRun(std::string(Text) + "\nt=0.5\n", Out), "") << Text;
        EXPECT_TRUE(fs::exists(Out)) << Text;
    }
}

// Accepted values at the far ends of what the option reader takes, each applied to a real
// conversion: the run must end, and the arithmetic on the way must stay inside its types (the
// sanitizer builds stop on any that does not).
TEST_F(FuzzFindings, FarButAcceptedValuesRunToAnEnd) {
    struct TCase {
        const char* Text;
        const char* Error;  // the run's failure, "" when it converts
    };
    const char* const EncoderRefused =
        "Error while opening encoder for output stream #0.0 (Video) - maybe incorrect parameters such as "
        "bit_rate, rate, width or height";
    const char* const Empty = "Output file is empty, nothing was encoded";
    const TCase Cases[] = {
        {"bufsize=2147483647", EncoderRefused},
        {"bufsize=-2147483648", EncoderRefused},
        {"dc=-2147483648", EncoderRefused},
        {"padleft=65536\npadright=65536", EncoderRefused},
        {"s=100000x2\npadleft=65536\npadright=65536\npadtop=65536\npadbottom=65536", EncoderRefused},
        {"vdt=1000", ""},
        {"itsoffset=999999999", ""},
        {"itsoffset=3000000\nvcodec=copy\nacodec=copy", ""},
        {"itsscale=0:1000\nitsscale=1:1000", ""},
        // The sound lies a day before or after the half second asked for: nothing of it is kept.
        {"itsoffset=-100000\nasync=1\nv=3\nvn", Empty},
        {"itsoffset=100000\nasync=1\nv=3\nvn", Empty},
    };
    int Run = 0;
    for (const TCase& Case : Cases) {
        const std::string Out = Dir + "/far-" + std::to_string(Run++) + ".avi";
        EXPECT_EQ(OptionRun(std::string(Case.Text) + "\nt=0.5\n", Out), Case.Error) << Case.Text;
    }
    // A picture rate of a million and the longest recording time: the last picture's number
    // is near 10^15.
    EXPECT_EQ(OutputRun("r=1001000\nt=1000000000\nvcodec=rawvideo\nvframes=3", Dir + "/fast.avi"), "");
    // Output-side start far before the stream, on a stream copy.
    EXPECT_EQ(OutputRun("ss=-1000000000\nacodec=copy\nvcodec=copy\nt=0.5", Dir + "/early.avi"), "");
}

}  // namespace
}  // namespace zembra::testing
