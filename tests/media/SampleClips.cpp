#include "tests/media/SampleClips.h"

namespace zembra::testmedia {

namespace {

// x264's default preset is far slower than the suite can afford on two cores.
const TOptions kFastX264 = {{"preset", "ultrafast"}};

TVideoSpec Video(const char* Encoder, int Width, int Height, int FrameCount = 25) {
    TVideoSpec Spec;
    Spec.Encoder = Encoder;
    Spec.Width = Width;
    Spec.Height = Height;
    Spec.FrameRate = AVRational{25, 1};
    Spec.FrameCount = FrameCount;
    return Spec;
}

TAudioSpec Audio(const char* Encoder, int SampleRate, int Channels, double Frequency) {
    TAudioSpec Spec;
    Spec.Encoder = Encoder;
    Spec.SampleRate = SampleRate;
    Spec.Channels = Channels;
    Spec.Duration = 1.0;
    Spec.Frequency = Frequency;
    return Spec;
}

TClipSpec Clip(const std::string& Path, const char* Container) {
    TClipSpec Spec;
    Spec.Path = Path;
    Spec.Container = Container;
    return Spec;
}

std::string ImagePattern(const std::string& Output) {
    if (Output.find('%') != std::string::npos) return Output;
    if (Output.empty()) return SampleFileName(TSampleKind::Images);
    return Output + (Output.back() == '/' ? "" : "/") + SampleFileName(TSampleKind::Images);
}

}  // namespace

const char* SampleKindName(TSampleKind Kind) {
    switch (Kind) {
        case TSampleKind::Avi:
            return "avi";
        case TSampleKind::Mp4:
            return "mp4";
        case TSampleKind::Mkv:
            return "mkv";
        case TSampleKind::Ogg:
            return "ogg";
        case TSampleKind::Ts:
            return "ts";
        case TSampleKind::Wav:
            return "wav";
        case TSampleKind::Flac:
            return "flac";
        case TSampleKind::Images:
            return "images";
    }
    return "";
}

std::optional<TSampleKind> SampleKindFromName(std::string_view Name) {
    for (const TSampleKind Kind : kSampleKinds)
        if (Name == SampleKindName(Kind)) return Kind;
    return std::nullopt;
}

std::string SampleFileName(TSampleKind Kind) {
    if (Kind == TSampleKind::Images) return "img%03d.png";
    return std::string("sample.") + SampleKindName(Kind);
}

TClipSpec SampleClip(TSampleKind Kind, const std::string& Output) {
    switch (Kind) {
        case TSampleKind::Avi: {
            TClipSpec Spec = Clip(Output, "avi");
            Spec.Videos.push_back(Video("mpeg4", 160, 120));
            Spec.Videos.back().CodecTag = "XVID";
            Spec.Audios.push_back(Audio("libmp3lame", 44100, 2, 440.0));
            // AVI has no start times: making room for the mp3 priming would shift the video by a
            // rounded-up frame and leave an empty first video chunk.
            Spec.MuxerOptions = {{"avoid_negative_ts", "disabled"}};
            return Spec;
        }
        case TSampleKind::Mp4: {
            TClipSpec Spec = Clip(Output, "mp4");
            Spec.Videos.push_back(Video("libx264", 160, 120));
            Spec.Videos.back().Options = kFastX264;
            Spec.Audios.push_back(Audio("aac", 44100, 2, 1000.0));
            Spec.Metadata = {{"title", "Zembra test clip"}, {"artist", "Zembra"}};
            return Spec;
        }
        case TSampleKind::Mkv: {
            TClipSpec Spec = Clip(Output, "matroska");
            Spec.Videos.push_back(Video("libx264", 160, 120));
            Spec.Videos.back().Options = kFastX264;
            Spec.Audios.push_back(Audio("aac", 48000, 2, 440.0));
            Spec.Audios.back().Language = "eng";
            // The second track starts late, as commentary tracks often do.
            Spec.Audios.push_back(Audio("ac3", 32000, 1, 880.0));
            Spec.Audios.back().StartOffset = 0.5;
            Spec.Audios.back().Duration = 0.5;
            Spec.Audios.back().Language = "ger";
            TSubtitleSpec Subtitle;
            Subtitle.Encoder = "subrip";
            Subtitle.Language = "eng";
            Subtitle.Cues = {{0.1, 0.4, "First line"}, {0.5, 0.9, "Second line"}};
            Spec.Subtitle = Subtitle;
            Spec.Metadata = {{"title", "Zembra test clip"}};
            return Spec;
        }
        case TSampleKind::Ogg: {
            TClipSpec Spec = Clip(Output, "ogg");
            Spec.Videos.push_back(Video("libtheora", 160, 120));
            Spec.Audios.push_back(Audio("libvorbis", 44100, 2, 440.0));
            return Spec;
        }
        case TSampleKind::Ts: {
            TClipSpec Spec = Clip(Output, "mpegts");
            Spec.Videos.push_back(Video("mpeg2video", 160, 120));
            Spec.Videos.push_back(Video("mpeg2video", 176, 144));
            Spec.Audios.push_back(Audio("mp2", 48000, 2, 440.0));
            Spec.Audios.push_back(Audio("mp2", 44100, 1, 880.0));
            Spec.Programs = {
                {1, "Zembra One", {VideoStreamIndex(Spec, 0), AudioStreamIndex(Spec, 0)}},
                {2, "Zembra Two", {VideoStreamIndex(Spec, 1), AudioStreamIndex(Spec, 1)}},
            };
            return Spec;
        }
        case TSampleKind::Wav: {
            TClipSpec Spec = Clip(Output, "wav");
            Spec.Audios.push_back(Audio("pcm_s16le", 44100, 2, 440.0));
            return Spec;
        }
        case TSampleKind::Flac: {
            TClipSpec Spec = Clip(Output, "flac");
            Spec.Audios.push_back(Audio("flac", 22050, 1, 440.0));
            return Spec;
        }
        case TSampleKind::Images: {
            TClipSpec Spec = Clip(ImagePattern(Output), "image2");
            Spec.Videos.push_back(Video("png", 160, 120, 5));
            return Spec;
        }
    }
    return Clip(Output, "");
}

}  // namespace zembra::testmedia
