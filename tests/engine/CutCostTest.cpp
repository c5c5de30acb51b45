// What a cut costs: the input is read from the key picture before the start to just past the
// end, never to the file's end, and the piece starts at its exact sample.

#include <sys/stat.h>

#include <cmath>

#include "tests/engine/TranscodeTestSupport.h"

namespace zembra::testing {
namespace {

using CutCost = TranscodeTest;

constexpr double kFilmSeconds = 60.0;
constexpr double kSoundSeconds = 40.0;  // the sound ends before the pictures do

// A minute of pictures with a key picture every second, the sound ending at 40 s; Cover adds
// an attached picture.
testmedia::TClipSpec Film(const std::string& Path, bool Cover) {
    testmedia::TClipSpec Spec;
    Spec.Path = Path;
    testmedia::TVideoSpec Pictures;
    Pictures.FrameCount = static_cast<int>(kFilmSeconds * 25);
    Pictures.Options = {{"g", "25"}, {"b", "400000"}};
    Spec.Videos.push_back(Pictures);
    if (Cover) {
        testmedia::TVideoSpec Picture;
        Picture.Encoder = "mjpeg";
        Picture.FrameCount = 1;
        Picture.AttachedPicture = true;
        Spec.Videos.push_back(Picture);
    }
    testmedia::TAudioSpec Sound;
    Sound.Encoder = "mp2";
    Sound.Duration = kSoundSeconds;
    Spec.Audios.push_back(Sound);
    return Spec;
}

double DecodedSeconds(const std::string& File, int Stream) {
    testmedia::TDecodedAudio A;
    EXPECT_EQ(testmedia::DecodeAudio(File, Stream, A), "") << File;
    return A.Channels.empty() ? 0.0 : static_cast<double>(A.Channels[0].size()) / A.SampleRate;
}

int64_t FileSize(const std::string& File) {
    struct stat St {};
    return ::stat(File.c_str(), &St) == 0 ? St.st_size : -1;
}

// Start, middle and end of the film, a piece past the end of its sound, and a source with a
// cover, in three containers; the sound re-encoded, copied, or kept with the pictures. Each
// reads at most Share of the file, which a read to the end would pass.
TEST_F(CutCost, ACutReadsLittleMoreThanItsPiece) {
    struct TCut {
        const char* What;
        double Start, Length;
        bool Cover;
        const char* InputLines;
        const char* OutputLines;
        const char* Output;
        double SoundSeconds;  // of the output's sound stream; 0: no sound expected
        double Share;
    } Cuts[] = {
        {"start into mp3", 0, 3, false, "vn=1", "", "mp3", 3, 0.25},
        {"middle into mp3", 27, 3, false, "vn=1", "", "mp3", 3, 0.25},
        {"middle, sound copied", 27, 3, false, "vn=1", "acodec=copy", "mka", 3, 0.25},
        {"end, past the sound", 52, 3, false, "", "vcodec=copy\nacodec=copy", "mkv", 0, 0.25},
        {"with a cover", 10, 3, true, "vn=1", "copy_cover=1", "mp3", 3, 0.25},
    };
    for (const char* Container : {"mp4", "mkv", "avi"}) {
        for (const bool Cover : {false, true}) {
            if (Cover && std::string(Container) == "avi") continue;  // AVI holds no cover
            const std::string Source = Path(std::string(Cover ? "cover." : "film.") + Container);
            ASSERT_EQ(testmedia::WriteClip(Film(Source, Cover)), "") << Source;
            const double Size = static_cast<double>(FileSize(Source));
            for (const TCut& C : Cuts) {
                if (C.Cover != Cover) continue;
                SCOPED_TRACE(std::string(Container) + ": " + C.What);
                const std::string Out = Path(std::string("cut.") + C.Output);
                TFFmpeg Job;
                ASSERT_EQ(Convert({Source}, Out, Format("ss=%g\n%s", C.Start, C.InputLines),
                                  Format("t=%g\n%s", C.Length, C.OutputLines), false, &Job),
                          "");
                testmedia::TClipFacts Facts;
                ASSERT_EQ(testmedia::InspectClip(Out, Facts), "");
                int Sound = -1;
                for (const testmedia::TStreamFacts& St : Facts.Streams)
                    if (St.Type == AVMEDIA_TYPE_AUDIO) Sound = St.Index;
                if (C.SoundSeconds > 0) {
                    ASSERT_GE(Sound, 0);
                    // Copied packets are whole: up to one more of them.
                    EXPECT_NEAR(DecodedSeconds(Out, Sound), C.SoundSeconds, 0.06);
                } else {
                    EXPECT_TRUE(Sound < 0 || Facts.Streams[static_cast<size_t>(Sound)].PacketCount == 0);
                }
                for (const testmedia::TStreamFacts& St : Facts.Streams) {
                    if (St.Type == AVMEDIA_TYPE_VIDEO && St.PacketCount > 1) {
                        EXPECT_LE(St.EndTime - St.FirstTime, C.Length + 1.0);
                    }
                }
                EXPECT_GT(Job.InputBytesRead(), 0);
                EXPECT_LT(static_cast<double>(Job.InputBytesRead()), C.Share * Size)
                    << Job.InputBytesRead() << " of " << Size;
                std::remove(Out.c_str());
            }
        }
    }
}

// A piece of PCM cut out of the middle of a frame starts at the very sample asked for.
TEST_F(CutCost, ThePieceStartsAtItsExactSample) {
    const std::string Source = Wav("tone.wav", 2.0, 44100, 1);
    ASSERT_EQ(Convert({Source}, Path("piece.wav"), "ss=0.3", "t=1"), "");
    testmedia::TDecodedAudio Whole, Piece;
    ASSERT_EQ(testmedia::DecodeAudio(Source, 0, Whole), "");
    ASSERT_EQ(testmedia::DecodeAudio(Path("piece.wav"), 0, Piece), "");
    ASSERT_EQ(Piece.Channels[0].size(), 44100u);
    const size_t First = 13230;  // 0.3 s
    for (size_t I = 0; I < 64; ++I) ASSERT_EQ(Piece.Channels[0][I], Whole.Channels[0][First + I]) << I;
}

}  // namespace
}  // namespace zembra::testing
