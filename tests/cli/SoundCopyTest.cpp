// zembra-cli copies a source's sound unchanged where the format holds it: the built program on
// generated clips, its outputs read back packet by packet.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "tests/media/PacketReader.h"
#include "tests/media/TestMedia.h"
#include "tests/support/RunProgram.h"
#include "tests/support/ScratchFolder.h"

namespace zembra::testing {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

class SoundCopy : public ::testing::Test {
  protected:
    void SetUp() override {
        FFLoader().SetLibraryPath(DefaultLibraryFolder());
        ASSERT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
        ASSERT_NE(Scratch.Path(), "");
    }

    static TProgramResult RunCli(const std::vector<std::string>& Arguments) {
        return RunProgram(ZEMBRA_CLI, Arguments, 60s, {});
    }
    // A source whose sound is Encoder at Rate and Channels, beside a short film when Film is set.
    std::string Source(const std::string& Name, const std::string& Encoder, double Seconds = 1.0,
                       bool Film = false, int Rate = 44100, int Channels = 2) {
        testmedia::TClipSpec Spec;
        Spec.Path = Dir + "/" + Name;
        if (Film) Spec.Videos.push_back({.FrameCount = static_cast<int>(Seconds * 25)});
        Spec.Audios.push_back(
            {.Encoder = Encoder, .SampleRate = Rate, .Channels = Channels, .Duration = Seconds});
        EXPECT_EQ(testmedia::WriteClip(Spec), "") << Name;
        return Spec.Path;
    }
    static testmedia::TCodedSound Read(const std::string& File) {
        testmedia::TCodedSound Sound;
        EXPECT_EQ(testmedia::ReadCodedSound(File, Sound), "") << File;
        return Sound;
    }
    static bool IsPcm(AVCodecID Codec) {
        return Codec >= AV_CODEC_ID_PCM_S16LE && Codec < AV_CODEC_ID_ADPCM_IMA_QT;
    }

    TScratchFolder Scratch{"zembra-copy"};
    const std::string& Dir = Scratch.Path();
};

TEST_F(SoundCopy, EachPairOfTheTableCopiesTheSourcesPacketsAndTheRestEncode) {
    const struct {
        const char* Name;  // the source file
        const char* Encoder;
        bool Film;
        const char* Format;
        bool Copied;
    } Cases[] = {
        {"aac.mp4", "aac", true, "m4a", true},
        {"aac2.mp4", "aac", true, "aac", true},   // raw AAC gains ADTS headers
        {"adts.aac", "aac", false, "m4a", true},  // ADTS headers go, the packets stay
        {"mp3.avi", "libmp3lame", true, "mp3", true},
        {"mp2.mpg", "mp2", true, "mp2", true},
        {"mp2-ts.ts", "mp2", false, "mp2", true},  // MPEG-TS calls it MP3 until its frames are read
        {"mp2-ts2.ts", "mp2", false, "mp3", false},
        {"mp3-ts.ts", "libmp3lame", false, "mp3", true},
        {"mp3-ps.mpg", "libmp3lame", true, "mp3", true},  // and MPEG-PS MP2
        {"ac3.mkv", "ac3", true, "ac3", true},
        {"flac.mkv", "flac", false, "flac", true},
        {"vorbis.ogg", "libvorbis", false, "ogg", true},
        {"opus.mkv", "libopus", false, "ogg", true},
        {"wmav2.asf", "wmav2", false, "wma", true},
        {"alac.mov", "alac", false, "m4a", true},
        {"s16le.wav", "pcm_s16le", false, "wav", true},
        {"s16be.au", "pcm_s16be", false, "au", true},
        {"mulaw.wav", "pcm_mulaw", false, "au", true},
        {"s16le2.wav", "pcm_s16le", false, "au", false},  // AU is big-endian
        {"aac3.mp4", "aac", true, "mp3", false},
        {"vorbis2.ogg", "libvorbis", false, "m4a", false},
        {"ac3.ra.mkv", "ac3", false, "ra", false},  // RealMedia swaps AC-3's bytes
    };
    for (const auto& C : Cases) {
        SCOPED_TRACE(std::string(C.Name) + " -> " + C.Format);
        const std::string In =
            Source(C.Name, C.Encoder, 1.0, C.Film, C.Encoder == std::string("libopus") ? 48000 : 44100);
        const TProgramResult R = RunCli({"-f", C.Format, In});
        ASSERT_EQ(R.Status, 0) << R.Err;
        const std::string Out = fs::path(In).replace_extension().string() + "_(new)." + C.Format;
        EXPECT_EQ(Lines(R.Out), std::vector<std::string>{Out});
        EXPECT_EQ(R.Err.find("copied: " + In + ": ") != std::string::npos, C.Copied) << R.Err;
        EXPECT_EQ(R.Err.find(fs::path(In).filename().string() + " (copied)") != std::string::npos, C.Copied)
            << R.Err;

        const testmedia::TCodedSound From = Read(In), To = Read(Out);
        if (!C.Copied) {
            EXPECT_NE(To.Joined(), From.Joined());
            continue;
        }
        // What the encoder wrote, whatever name the source's container gave it.
        EXPECT_EQ(To.CodecId, lavc.avcodec_find_encoder_by_name(C.Encoder)->id);
        EXPECT_EQ(To.SampleRate, From.SampleRate);
        EXPECT_EQ(To.Channels, From.Channels);
        EXPECT_NEAR(To.Duration, From.Duration, 0.05);
        if (!IsPcm(From.CodecId)) {
            EXPECT_EQ(To.Packets.size(), From.Packets.size());
        }
        EXPECT_TRUE(To.Joined() == From.Joined())
            << To.Joined().size() << " bytes against " << From.Joined().size();
    }
}

// The copy covers the cut with whole packets: from the one that holds the start to the one
// that holds the end, the source's bytes in between.
TEST_F(SoundCopy, ACopiedCutTakesThePacketsAroundItsEnds) {
    const std::string In = Source("long.mp4", "aac", 3.0, true);
    const TProgramResult R = RunCli({"-f", "m4a", "--cut", "1-2", In});
    ASSERT_EQ(R.Status, 0) << R.Err;
    EXPECT_NE(R.Err.find(In + ": copied: AAC fits in m4a, cut at packets, not samples\n"), std::string::npos)
        << R.Err;
    const testmedia::TCodedSound From = Read(In), To = Read(Dir + "/long_(new).m4a");
    const auto Holds = [](const testmedia::TCodedPacket& P, double Time) {
        return P.Time <= Time + 1e-6 && Time < P.Time + P.Duration - 1e-6;
    };
    const auto First =
        std::find_if(From.Packets.begin(), From.Packets.end(), [&](const auto& P) { return Holds(P, 1.0); });
    const auto Last =
        std::find_if(From.Packets.begin(), From.Packets.end(), [&](const auto& P) { return Holds(P, 2.0); });
    ASSERT_TRUE(First != From.Packets.end() && Last != From.Packets.end());
    const std::vector<testmedia::TCodedPacket> Expected(First, Last + 1);
    ASSERT_EQ(To.Packets.size(), Expected.size());
    for (size_t I = 0; I < Expected.size(); ++I) {
        EXPECT_EQ(To.Packets[I].Payload, Expected[I].Payload) << "packet " << I;
        EXPECT_NEAR(To.Packets[I].Time, Expected[I].Time - 1.0, 0.001) << "packet " << I;
    }
}

// A stream whose codec, rate or channel count cannot be read is never copied into a file that
// would carry the same unreadable parameters: it goes the encoding way and fails there.
TEST_F(SoundCopy, ASourceWithoutKnownSoundParametersIsNeverCopied) {
    const struct {
        const char* Name;
        size_t Offset;  // into the WAV header's format chunk
        std::vector<char> Bytes;
    } Broken[] = {
        {"no-codec.wav", 20, {0x34, 0x12}},
        {"no-channels.wav", 22, {0, 0}},
        {"no-rate.wav", 24, {0, 0, 0, 0}},
    };
    for (const auto& B : Broken) {
        SCOPED_TRACE(B.Name);
        const std::string In = Source(B.Name, "pcm_s16le", 0.5);
        {
            std::fstream File(In, std::ios::in | std::ios::out | std::ios::binary);
            File.seekp(static_cast<std::streamoff>(B.Offset));
            File.write(B.Bytes.data(), static_cast<std::streamsize>(B.Bytes.size()));
            ASSERT_TRUE(File.good());
        }
        const TProgramResult R = RunCli({"-f", "wav", In});
        EXPECT_EQ(R.Status, 1) << R.Err;
        EXPECT_EQ(R.Err.find("copied"), std::string::npos) << R.Err;
        EXPECT_NE(R.Err.find("failed: " + In + ": "), std::string::npos) << R.Err;
        EXPECT_FALSE(fs::exists(fs::path(In).replace_extension().string() + "_(new).wav"));
    }
}

// A file cut short ends in the middle of a packet: the copy takes the whole packets, and what
// it writes reads back.
TEST_F(SoundCopy, AFileCutShortCopiesItsWholePackets) {
    const struct {
        const char* Name;
        const char* Encoder;
        const char* Format;
    } Cases[] = {{"aac.mkv", "aac", "aac"}, {"wma.asf", "wmav2", "wma"}, {"mp3.mp3", "libmp3lame", "mp3"}};
    for (const auto& C : Cases) {
        const std::string Whole = Source(C.Name, C.Encoder, 2.0);
        const auto Size = fs::file_size(Whole);
        for (const double Part : {0.5, 0.9}) {
            SCOPED_TRACE(std::string(C.Name) + " cut at " + std::to_string(Part));
            const std::string In =
                Dir + "/part-" + std::to_string(static_cast<int>(Part * 100)) + "-" + C.Name;
            fs::copy_file(Whole, In, fs::copy_options::overwrite_existing);
            fs::resize_file(In, static_cast<uintmax_t>(static_cast<double>(Size) * Part));
            const TProgramResult R = RunCli({"-f", C.Format, In});
            ASSERT_EQ(R.Status, 0) << R.Err;
            EXPECT_NE(R.Err.find("copied: " + In), std::string::npos) << R.Err;
            const testmedia::TCodedSound From = Read(In);
            const testmedia::TCodedSound To =
                Read(fs::path(In).replace_extension().string() + "_(new)." + C.Format);
            EXPECT_GT(From.Packets.size(), 10u);
            EXPECT_EQ(To.Packets.size(), From.Packets.size());
            EXPECT_TRUE(To.Joined() == From.Joined());
        }
    }
}

}  // namespace
}  // namespace zembra::testing
