// zembra-fuzz-seeds FOLDER: writes the fuzzers' seed files, the sample clips cut down to a few
// pictures and a fifth of a second of sound, plus a few containers the samples lack. Small
// seeds keep every mutation run short.

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "tests/media/SampleClips.h"
#include "tests/media/TestMedia.h"

namespace {

using namespace zembra::testmedia;

void Shrink(TClipSpec& Spec) {
    for (TVideoSpec& Video : Spec.Videos) {
        Video.Width = 64;
        Video.Height = 48;
        Video.FrameCount = 5;
    }
    for (TAudioSpec& Audio : Spec.Audios) {
        Audio.Duration = 0.2;
        if (Audio.StartOffset > 0) Audio.StartOffset = 0.1;
    }
    if (Spec.Subtitle)
        for (TSubtitleCue& Cue : Spec.Subtitle->Cues) {
            Cue.Start /= 5;
            Cue.End /= 5;
        }
}

TClipSpec AudioOnly(const std::string& Path, const char* Container, const char* Encoder, int Rate) {
    TClipSpec Spec;
    Spec.Path = Path;
    Spec.Container = Container;
    TAudioSpec Audio;
    Audio.Encoder = Encoder;
    Audio.SampleRate = Rate;
    Audio.Channels = 2;
    Audio.Duration = 0.2;
    Spec.Audios.push_back(Audio);
    return Spec;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zembra;
    if (argc != 2) {
        std::fprintf(stderr, "usage: zembra-fuzz-seeds FOLDER\n");
        return 1;
    }
    const std::filesystem::path Folder = argv[1];
    std::error_code Ec;
    std::filesystem::create_directories(Folder, Ec);
    if (Ec) {
        std::fprintf(stderr, "zembra-fuzz-seeds: cannot create %s: %s\n", argv[1], Ec.message().c_str());
        return 1;
    }
    FFLoader().SetLibraryPath(DefaultLibraryFolder());
    if (!FFLoader().LoadLibrarySet(kDefaultLibrarySet)) {
        std::fprintf(stderr, "zembra-fuzz-seeds: %s\n", FFLoader().LastError().c_str());
        return 1;
    }
    lavu.av_log_set_level(AV_LOG_ERROR);

    std::vector<TClipSpec> Clips;
    for (const TSampleKind Kind : kSampleKinds) {
        // A sequence of pictures is many files; the fuzzers take one file at a time.
        if (Kind == TSampleKind::Images) continue;
        Clips.push_back(SampleClip(Kind, (Folder / ("seed-" + SampleFileName(Kind))).string()));
        Shrink(Clips.back());
    }
    Clips.push_back(AudioOnly((Folder / "seed-sound.mp3").string(), "mp3", "libmp3lame", 44100));
    Clips.push_back(AudioOnly((Folder / "seed-sound.ac3").string(), "ac3", "ac3", 48000));
    Clips.push_back(AudioOnly((Folder / "seed-sound.m4a").string(), "ipod", "aac", 44100));
    {
        TClipSpec Spec = SampleClip(TSampleKind::Ts, (Folder / "seed-program.mpg").string());
        Spec.Container = "mpeg";
        Spec.Programs.clear();
        Spec.Videos.resize(1);
        Spec.Audios.resize(1);
        Shrink(Spec);
        Clips.push_back(Spec);
    }
    int Failed = 0;
    for (const TClipSpec& Spec : Clips) {
        const std::string Error = WriteClip(Spec);
        if (!Error.empty()) {
            std::fprintf(stderr, "zembra-fuzz-seeds: %s: %s\n", Spec.Path.c_str(), Error.c_str());
            ++Failed;
        }
    }
    return Failed ? 1 : 0;
}
