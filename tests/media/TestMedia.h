#pragma once

// Short synthetic clips written at test time through the FFmpeg libraries (which must be
// loaded): colour bars with a frame counter, sine tones, timed text lines.

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "binding/FFmpegHeaders.h"

namespace zembra::testmedia {

// Name/value pairs: encoder options (private ones included) or metadata.
using TOptions = std::vector<std::pair<std::string, std::string>>;

struct TVideoSpec {
    std::string Encoder = "mpeg4";
    int Width = 160;
    int Height = 120;
    AVRational FrameRate{25, 1};
    int FrameCount = 25;
    // AV_PIX_FMT_NONE: the encoder's first format.
    AVPixelFormat PixelFormat = AV_PIX_FMT_NONE;
    // Four characters (e.g. "XVID"); empty: the muxer's choice.
    std::string CodecTag;
    // Every option must be known to the encoder, or writing fails.
    TOptions Options;
    // A cover picture (ID3 APIC, FLAC picture, MP4 covr, Matroska attachment): one frame,
    // marked as attached.
    bool AttachedPicture = false;
    // With AttachedPicture: the picture's bytes as stored, in place of the encoded frame (a
    // damaged or oversized cover); empty: the encoder's picture.
    std::string PictureBytes;
    // The file name of a Matroska attachment; empty: cover.jpg or cover.png after the encoder.
    std::string AttachmentName;
};

struct TAudioSpec {
    std::string Encoder = "aac";
    int SampleRate = 44100;
    int Channels = 2;
    // AV_SAMPLE_FMT_NONE: the encoder's first format.
    AVSampleFormat SampleFormat = AV_SAMPLE_FMT_NONE;
    // Length of the tone in seconds; the stream ends at StartOffset + Duration.
    double Duration = 1.0;
    double Frequency = 440.0;
    // A stand-in for real sound (FillMusic) instead of the tone of Frequency.
    bool Music = false;
    // The tone's or the music's level, times its usual one (a quieter track of an album).
    float Level = 1.0f;
    // Seconds of nothing before the first sample: the first timestamp is this offset.
    double StartOffset = 0.0;
    // Where the timestamps leave the samples: after this many seconds of sound, every later
    // frame's time moves by Jump seconds (a hole when positive, an overlap when negative); the
    // samples themselves go on unbroken.
    double JumpAfter = 0.0;
    double Jump = 0.0;
    std::string Language;
    TOptions Options;
};

struct TSubtitleCue {
    double Start = 0.0;  // seconds
    double End = 0.0;
    std::string Text;
};

struct TSubtitleSpec {
    // A text encoder: "subrip"/"srt", "ass", "ssa", "webvtt", "mov_text".
    std::string Encoder = "subrip";
    std::vector<TSubtitleCue> Cues;
    std::string Language;
};

struct TProgramSpec {
    int Id = 1;
    std::string ServiceName;
    // Indexes of the clip's streams (see the index helpers below).
    std::vector<int> StreamIndexes;
};

// A clip. The streams are laid out in this order: every video, then every audio, then the
// subtitle stream.
struct TClipSpec {
    // A file, or for image sequences a numbered pattern such as "dir/img%03d.png".
    std::string Path;
    // A muxer short name ("avi", "matroska", "image2"…); empty: guessed from Path.
    std::string Container;
    std::vector<TVideoSpec> Videos;
    std::vector<TAudioSpec> Audios;
    std::optional<TSubtitleSpec> Subtitle;
    std::vector<TProgramSpec> Programs;
    // Container-level tags such as "title" and "artist".
    TOptions Metadata;
    // Muxer options (e.g. "movflags"); every one must be known to the muxer, or writing fails.
    TOptions MuxerOptions;
};

inline int VideoStreamIndex(const TClipSpec& /*Spec*/, int N) {
    return N;
}
inline int AudioStreamIndex(const TClipSpec& Spec, int N) {
    return static_cast<int>(Spec.Videos.size()) + N;
}
inline int SubtitleStreamIndex(const TClipSpec& Spec) {
    return static_cast<int>(Spec.Videos.size() + Spec.Audios.size());
}
inline int StreamCount(const TClipSpec& Spec) {
    return SubtitleStreamIndex(Spec) + (Spec.Subtitle ? 1 : 0);
}

// Writes the clip. Returns "" on success, else what went wrong; on failure nothing written by
// this call is left behind.
std::string WriteClip(const TClipSpec& Spec);

}  // namespace zembra::testmedia
