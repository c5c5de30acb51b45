#pragma once

// The settings dialog's option builder without the dialog: the dialog's choices, held as its
// controls hold them (texts of edits and selected items, check states) with the form's
// defaults, turned into the records that configure a task.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/SoundCopyDecision.h"
#include "component/OptionRecords.h"
#include "probe/AVProbe.h"

namespace zembra {

// The visible format list, in order.
inline constexpr std::array<const char*, 11> kOutputFormats = {"Mp3",  "Mp2", "Wma", "Ogg", "Aac", "M4a",
                                                               "Flac", "Ac3", "Wav", "Au",  "Ra"};
inline constexpr const char* kSameAsInput = "<same as input>";
inline constexpr const char* kDefaultHookText = "ZIVOZ";

enum THookBehaviour { hbStandard, hbBeforeHook, hbPTSPeriods };

struct TOptionChoices {
    // --- visible controls ---
    std::string Format = "Mp3";            // an item of kOutputFormats
    std::string AudioSampleRate = "Auto";  // "Auto", "8000", "11025", "22050", "44100"
    bool AdjustVolume = false;
    std::string AudioVolume = "256";
    // Item index of the channel group: 0 "Auto", 1 "Mono", 2 "Stereo".
    int32_t AudioChannels = 0;
    bool AudioBitRateChecked = false;
    std::string AudioBitRate = "64";  // kbit/s
    // "Cut Clip" enabled and checked, with the marks in milliseconds.
    bool CutClip = false;
    int64_t CutStartMs = 0;
    int64_t CutEndMs = 0;
    bool CopyTimestamp = false;
    bool Overwrite = false;
    // The source's tags and cover picture go into the output ("Keep tags and cover"). Off here,
    // so that the command line keeps its own defaults; the dialog's box starts checked.
    bool KeepTags = false;
    // The source's sound goes in unchanged when the format holds it and nothing asks for
    // decoding ("Copy the sound unchanged..."). Off, so that the dialog's defaults hold.
    bool CopySound = false;
    std::u16string OutPath = u"<same as input>";  // else a folder ending with '/'

    // --- controls outside the visible area ---
    std::string FrameSize = "Auto - Original";
    std::string FrameRate = "Auto";  // "Auto", "10", "15", "25", "30"
    std::string AspectRatio = "Auto";
    std::string Norm = "Auto";
    std::string VideoCodec = "Auto";  // "Auto", "DivX", "XviD", "X264"
    std::string AudioCodec = "Auto";  // "Auto", "AAC", "AC3", "FLAC", "MP3"
    bool VideoBitRateChecked = false;
    std::string VideoBitRate = "200";  // kbit/s
    bool Crop = false;
    std::array<std::string, 4> CropEdits{"0", "0", "0", "0"};  // top, bottom, left, right
    bool Pad = false;
    std::array<std::string, 4> PadEdits{"0", "0", "0", "0"};
    bool VertFlip = false;
    bool HoriFlip = false;
    bool Negate = false;
    bool Scale = false;
    std::string ScaleText = "320:240";
    bool Rotate = false;
    std::string RotateText = "45";
    bool SetPTS = false;
    std::string SetPTSText = "0.5*PTS";

    // Video hooks: the external standard hooks, or (false) the window's own custom hook.
    bool ExternalHook = true;
    bool Imlib2Image = false;
    bool Dancing = false;
    bool Imlib2Text = false;
    std::string Imlib2TextEdit = kDefaultHookText;
    bool Scrolling = false;
    bool WaterMark = false;
    bool WaterMarkMode = false;
    bool DemoHookImage = false;
    bool DemoHookText = false;
    std::string DemoHookTextEdit = kDefaultHookText;
    THookBehaviour HookBehaviour = hbStandard;
    std::string PTSPeriods = "0-5000,10000-15000";

    // --- no control: the command line's ---
    // The output's whole name without its suffix (made from tags, say), folder included: taken
    // as it is, without "_(new)", and numbered "NAME (1)" when taken. Empty: the source's name
    // in OutPath.
    std::u16string OutputName;
};

// What the probe tells of the source file.
struct TSourceInfo {
    std::u16string FileName;
    std::string ForcedFormat;  // the container the probe was forced to, empty when detected
    int64_t Duration = -1;     // microseconds, -1 when unknown
    int32_t VideoWidth = -1;   // of the first video stream
    int32_t VideoHeight = -1;
    TSourceSound Sound;  // the audio stream a conversion takes
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

THookAvailability HookAvailability(const TOptionChoices& Choices, const TBuildContext& Context);

// Whether the format is one of the dialog's list (case-insensitive); only those get the
// per-format rules.
bool IsDialogFormat(const std::string& Format);
// "." + the format in lower case.
std::string FormatSuffix(const std::string& Format);

// Trims both hook text edits and puts "ZIVOZ" into an empty one, as the dialog does.
TOutputOptions BuildOutputOptions(TOptionChoices& Choices, const TSourceInfo& Source,
                                  const TBuildContext& Context = {});
TInputOptions BuildInputOptions(const TOptionChoices& Choices, const TSourceInfo& Source);
// Whether the choices let the source's sound be copied; BuildOutputOptions copies it when this
// says so and CopySound is checked.
TSoundCopyDecision SoundCopyFor(const TOptionChoices& Choices, const TSourceInfo& Source);

// base + "_(new)" + suffix, or the first free base + "_(new_" n ")" + suffix.
std::u16string NumberedOutputName(const std::u16string& Base, const std::string& Suffix, bool Overwrite,
                                  const TBuildContext& Context);
// base + suffix, or the first free base + " (" n ")" + suffix: for a name the user chose.
std::u16string ChosenOutputName(const std::u16string& Base, const std::string& Suffix, bool Overwrite,
                                const TBuildContext& Context);
// The source name without its extension, in the output folder (or its own one).
std::u16string OutputBaseName(const std::u16string& OutPath, const std::u16string& SourceFileName);
// Rounds toward zero to an even number (7 gives 6, -3 gives -2).
int32_t EvenTowardZero(int32_t Value);
// The cut start and duration in milliseconds: the marks, with the start moved to 0 when it is
// negative or not before the end of the source and the end moved to the end of the source when
// it is not after the start or beyond the end. False when no cut applies.
bool CutRange(const TOptionChoices& Choices, int64_t DurationUs, int64_t& StartMs, int64_t& LengthMs);
// "vhook=" + the arguments joined by " ", or by "|" when Pipe is set, + CR LF.
std::string HookLine(const std::vector<std::string>& Arguments, bool Pipe);
// Width and height of a BMP file; false when it cannot be read.
bool ReadBitmapSize(const std::u16string& FileName, int32_t& Width, int32_t& Height);

}  // namespace zembra
