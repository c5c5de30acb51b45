#pragma once

// The records that configure a task, built from a conversion request and what the probe read of
// the source: the one place where the dialog's and zembra-cli's choices become fields and
// option lines.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/ConversionRequest.h"
#include "app/SoundCopyDecision.h"
#include "component/OptionRecords.h"
#include "probe/AVProbe.h"

namespace zembra {

// The dialog's format list as it shows it, in order.
inline constexpr std::array<const char*, 11> kOutputFormats = {"Mp3",  "Mp2", "Wma", "Ogg", "Aac", "M4a",
                                                               "Flac", "Ac3", "Wav", "Au",  "Ra"};
inline constexpr const char* kSameAsInput = "<same as input>";

// The rules of one of the eleven audio formats.
struct TSoundFormat {
    const char* Name;     // the suffix, lower case
    const char* Encoder;  // written alone: the encoder picked, or nullptr for the container's own
    // The dialog's rules: the codecs it fixes (nullptr: the engine's default for the suffix),
    // whether the source's pictures are left unread, and whether the output drops its own.
    const char* VideoCodec;
    const char* AudioCodec;
    bool SkipsVideo;
    bool DropsVideo;
};

inline constexpr std::array<TSoundFormat, 11> kSoundFormats = {{
    {"mp3", nullptr, nullptr, nullptr, true, false},
    {"mp2", nullptr, nullptr, nullptr, true, false},
    {"wma", "wmav2", nullptr, "wmav2", true, true},
    {"ogg", "libvorbis", "libtheora", "flac", false, false},
    {"aac", nullptr, nullptr, nullptr, true, false},
    {"m4a", nullptr, nullptr, nullptr, false, false},
    {"flac", nullptr, nullptr, nullptr, false, false},
    {"ac3", nullptr, nullptr, nullptr, true, false},
    {"wav", nullptr, nullptr, nullptr, true, false},
    {"au", nullptr, nullptr, nullptr, false, false},
    {"ra", nullptr, nullptr, nullptr, false, false},
}};

// The entry of Format (any case), or nullptr when it is none of the eleven.
const TSoundFormat* FindSoundFormat(const std::string& Format);

// What the probe tells of the source file.
struct TSourceInfo {
    std::u16string FileName;
    std::string ForcedFormat;  // the container the probe was forced to, empty when detected
    int64_t Duration = -1;     // microseconds, -1 when unknown
    int32_t VideoWidth = -1;   // of the first video stream
    int32_t VideoHeight = -1;
    // Moving pictures: a song's cover picture does not count, it makes no video track.
    bool HasVideo = false;
    TSourceSound Sound;                       // the audio stream a conversion takes
    std::map<std::string, std::string> Tags;  // as SourceTagsOf reads them
};

// What a probe that has loaded the source tells the builder. May read packets of an MPEG
// stream and seek back to the start (see SourceSoundOf): call it before reading pictures.
TSourceInfo SourceInfoOf(TCustomAVProbe& Probe);

// The enabled states the hook folder's contents give the hook controls.
struct THookAvailability {
    bool Imlib2Image = false;
    bool Dancing = false;
    bool Imlib2Text = false;
    bool Imlib2TextEdit = false;
    bool Scrolling = false;
    bool WaterMark = false;
    bool WaterMarkMode = false;
    bool DemoHookImage = false;
    bool DemoHookText = false;
    bool DemoHookTextEdit = false;
    bool Behaviour = false;  // the three behaviour radio buttons
    bool PTSPeriodsEdit = false;
};

struct TBuildContext {
    // Ends with '/'. Empty: the "vhook" folder beside the executable.
    std::u16string HookFolder;
    // Whether a file exists; empty: the file system is asked.
    std::function<bool(const std::u16string&)> FileExists;
    // Names already given to other outputs of the same batch: never taken, even when
    // overwriting (two tasks must not write one file).
    std::function<bool(const std::u16string&)> Reserved;
    // Takes an output's name for good (ClaimOutputFile, say): 0, EEXIST when something is there,
    // or another errno when the name cannot be taken at all (the open will then say why).
    // Empty: names are only checked, not taken.
    std::function<int(const std::u16string&)> Claim;
};

// Takes Name on the file system by creating it as an empty file, only when nothing is there,
// for this process alone: two programs naming outputs in one folder never get one name.
int ClaimOutputFile(const std::u16string& Name);

// The "vhook/" folder beside the running executable.
std::u16string DefaultHookFolder();

THookAvailability HookAvailability(const THookRequest& Hooks, const TBuildContext& Context);

// "." + the format in lower case.
std::string FormatSuffix(const std::string& Format);

struct TTaskRecords {
    TInputOptions In;
    TOutputOptions Out;
    // Whether the source's sound fits the output unchanged, and why; the records copy it when
    // it does and the request does not ask for encoding.
    TSoundCopyDecision Sound;
};

// The task's records: the output named (and its name claimed when the context claims names),
// every field and option line the request asks for, the user's own lines last.
TTaskRecords BuildTaskRecords(const TConversionRequest& Request, const TSourceInfo& Source,
                              const TBuildContext& Context = {});
// The input record alone: names nothing.
TInputOptions BuildInputOptions(const TConversionRequest& Request, const TSourceInfo& Source);
TSoundCopyDecision SoundCopyFor(const TConversionRequest& Request, const TSourceInfo& Source);

// The source name without its extension, in the output folder (empty: the source's own).
std::u16string OutputBaseName(const std::u16string& OutputFolder, const std::u16string& SourceFileName);
// With a name template: the output's path below the output folder from the source's tags,
// folders joined by '/', without the format's suffix; empty without a template. The file name
// leaves room for the suffix and a collision's number.
std::string RelativeNameFromTags(const TConversionRequest& Request, const TSourceInfo& Source);
// The same as a whole name: in OutputFolder (ending with '/'), or beside the source when it is
// empty. Empty without a template.
std::u16string NameFromTags(const TConversionRequest& Request, const TSourceInfo& Source,
                            const std::u16string& OutputFolder);
// Whether outputs of the format keep ReplayGain tags (an m4a file is written by the MP4 muxer).
// Asks the libraries: false before they are loaded.
bool KeepsReplayGain(const std::string& Format);
// How long the output runs in microseconds: the cut's length, or the source's duration (-1
// when unknown).
int64_t OutputDuration(const TConversionRequest& Request, const TSourceInfo& Source);

// The cut start and duration in milliseconds: the marks, with the start moved to 0 when it is
// negative or not before the end of the source and the end moved to the end of the source when
// it is not after the start or beyond the end; a cut without an end has the length -1. False
// when no cut applies.
bool CutRange(const std::optional<TCutRequest>& Cut, int64_t DurationUs, int64_t& StartMs, int64_t& LengthMs);

}  // namespace zembra
