#pragma once

// ReplayGain 2.0 tags of a finished output: the gains against -18 LUFS and the peaks, in the form
// each container keeps them, written after the sound is known by rewriting the file's tags
// (its packets copied as they are) into a hidden file beside it that is renamed over it.

#include <optional>
#include <string>

#include "engine/Mp4FreeformTags.h"

namespace zembra {

// ReplayGain 2.0's reference loudness.
constexpr double kReplayGainReference = -18.0;  // LUFS

struct TReplayGain {
    double TrackGain = 0.0;  // dB
    double TrackPeak = 0.0;  // 1.0 full scale
    std::optional<double> AlbumGain;
    std::optional<double> AlbumPeak;
};

enum class TReplayGainStyle {
    None,         // the container keeps no such tags (WAV, AU, raw streams)
    Muxer,        // the muxer writes any key: ID3v2 TXXX frames, Vorbis comments, Matroska tags
    Mp4Freeform,  // iTunes freeform items, which the MP4 muxer does not write
};

TReplayGainStyle ReplayGainStyleOf(const std::string& MuxerName);

// The gain that brings Loudness (LUFS) to the reference.
double ReplayGainOf(double Loudness);

// REPLAYGAIN_TRACK_GAIN "-6.52 dB", REPLAYGAIN_TRACK_PEAK "0.988525", and the album's when known.
TTagList ReplayGainTagList(const TReplayGain& Gain);

// Rewrites File (a file-system name) with the tags, its muxer MuxerName (empty: the one its
// suffix names). Empty, or what went wrong; then the file is as it was.
std::string WriteReplayGainTags(const std::string& File, std::string MuxerName, const TReplayGain& Gain);

}  // namespace zembra
