#pragma once

// The engine's option vocabulary, one row per name: what the name does to the job, where its
// value goes, which values it takes and what it is for. Parsing, checks, the command line's list
// of names and its completion all read these rows, so an option is declared here and nowhere else.

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <string_view>
#include <variant>

#include "engine/EngineTypes.h"

namespace zembra {

class TCustomFFmpeg;

enum class TOptionKind {
    LogOnly,    // logs "Do nothing: option - NAME" and changes nothing
    Fails,      // raises "TODO: option - NAME"
    Flag,       // false for exactly "0", true otherwise
    SetFlag,    // true whatever the value
    Integer,    // 32-bit, the classic run-time conversion
    Integer64,  // likewise, 64-bit
    Float,      // stored as a single
    Duration,   // the libraries' time text, in microseconds
    Date,       // the libraries' date text, stored in whole seconds
    Text,       // stored as it stands
    Custom,     // the row's own setter
};

// What a line's value changes, as far as whether the sound could still be copied is concerned.
enum class TOptionMedia {
    Any,
    Sound,        // the sound's samples or their encoding: only decoding honours it
    SoundStream,  // the audio stream as a whole (kept, tagged, limited), its samples untouched
    Video,
    Subtitle,
};

enum class TOutOfRange { Ignore, Fail };

// Values outside [Min, Max] are ignored or refused, each side on its own (a pad below 0 is
// ignored, one too large is refused). For texts the range bounds the length.
struct TOptionRange {
    double Min = -std::numeric_limits<double>::infinity();
    double Max = std::numeric_limits<double>::infinity();
    TOutOfRange Below = TOutOfRange::Fail;
    TOutOfRange Above = TOutOfRange::Fail;
    const char* Message = "";  // the refusal's text, as it stands

    bool Bounded() const {
        return Min > -std::numeric_limits<double>::infinity() ||
               Max < std::numeric_limits<double>::infinity();
    }
};

// A custom row's own setter. Name is the row's, for messages and for options handed on to the
// libraries under it; the setter never chooses what to do by it.
using TOptionSetter = void (*)(TCustomFFmpeg& Job, const std::string& Name, const std::string& Value);
using TTimeSetter = void (TCustomFFmpeg::*)(int64_t Microseconds);

// Where a typed row's value lands: a field of the job's settings, or a setter for a value that
// moves more than one field.
using TOptionTarget =
    std::variant<std::monostate, bool TJobSettings::*, int32_t TJobSettings::*, int64_t TJobSettings::*,
                 float TJobSettings::*, std::string TJobSettings::*, TTimeSetter, TOptionSetter>;

struct TOptionDef {
    const char* Name;
    TOptionKind Kind;
    TOptionTarget Target;
    TOptionRange Range;
    int Phase;  // kPhaseOrdinary, kPhasePresets or kPhaseExtraStreams
    TOptionMedia Media;
    const char* Help;
    // Set to true with every stored value: the job tells a value given since the last input
    // was opened from one it adopted.
    bool TJobSettings::*Given = nullptr;
};

// Every row, in the order the vocabulary is documented.
std::span<const TOptionDef> EngineOptionTable();
// The row of Name (matched exactly), or nullptr for a name the libraries' options take.
const TOptionDef* FindOptionDef(std::string_view Name);

// Whether a job can do anything with an option line's name: a row of the table, an old name it
// translates, or an option of the libraries' option system (codec, container, scaler, their
// private options, and the codec options with an "a", "v" or "s" in front). Needs the libraries.
bool IsKnownOptionName(const std::string& Name);

// For lists and messages: "flag", "integer", "duration", ...; and "sound", "video", ...
const char* OptionKindName(TOptionKind Kind);
const char* OptionMediaName(TOptionMedia Media);
// The range as "1..2", ">= 0", "" for none; texts say "length".
std::string OptionRangeText(const TOptionDef& Def);

}  // namespace zembra
