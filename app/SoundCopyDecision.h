#pragma once

// Whether a source's sound can go into the output as it is (its packets copied, nothing decoded)
// instead of being decoded and encoded again: faster by an order of magnitude and without a
// generation of quality loss. One rule for the command line and the settings dialog, a pure
// function of what the probe read of the source (probe/SourceSound.h).

#include <span>
#include <string>

#include "binding/FFmpegHeaders.h"
#include "probe/SourceSound.h"

namespace zembra {

// What the output asks of the sound beyond its format: each set item needs the samples decoded.
struct TSoundRequest {
    std::string Format;   // the output's suffix without the dot, any case
    std::string Encoder;  // an encoder the user chose, empty when the format's own is used
    // The codec the format writes when it is not one of the container's usual ones (FLAC in the
    // window's Ogg): its own packets fit too.
    std::string FormatCodec;
    bool SampleRate = false;
    bool Channels = false;
    bool Volume = false;  // a volume other than 256 (unchanged)
    bool BitRate = false;
    bool Quality = false;
    // An option line that acts on the sound (its name, for the reason); empty when none.
    std::string SoundOption;
    bool Cut = false;  // allowed: the copy then cuts at packets
};

struct TSoundCopyDecision {
    bool Copy = false;
    std::string Why;  // "AAC fits in m4a", "volume set"

    // "copied: AAC fits in m4a" / "encoded: volume set"
    std::string Text() const { return (Copy ? "copied: " : "encoded: ") + Why; }
};

// One row of the table: a codec whose packets the listed formats hold as they are.
struct TSoundCopyRule {
    AVCodecID Codec;
    const char* Label;     // as the reason names it
    const char* Formats;   // suffixes, separated by blanks
    const char* Encoders;  // encoder names that write this codec (a choice of one keeps the copy)
};

// The whole table, for the tests that try every pair.
std::span<const TSoundCopyRule> SoundCopyRules();

TSoundCopyDecision DecideSoundCopy(const TSourceSound& Source, const TSoundRequest& Request);

// Whether an option line's name acts on the sound's samples or their encoding (the engine's
// rows of that media kind), so that copying would ignore it or fail on it.
bool IsSoundOptionName(const std::string& Name);

}  // namespace zembra
