#include "cli/TaskRecords.h"

#include <cmath>

#include "cli/SoundFormats.h"
#include "component/OutputFieldTable.h"
#include "util/NumericCasts.h"
#include "util/StringUtils.h"

namespace zembra::cli {

namespace {

void AddLine(std::string& Lines, const std::string& Line) {
    Lines += (Lines.empty() || Lines.ends_with('\n') ? "" : "\r\n") + Line;
}

TOptionChoices ChoicesFrom(const TCliOptions& O, const std::optional<TCutRequest>& Cut,
                           const std::u16string& OutPath) {
    TOptionChoices C;
    C.Format = O.Format;
    for (const char* Item : kOutputFormats)
        if (SameText(Item, O.Format)) C.Format = Item;
    if (Cut && Cut->EndMs) {
        C.CutClip = true;
        C.CutStartMs = Cut->StartMs;
        C.CutEndMs = *Cut->EndMs;
    }
    C.Overwrite = O.Overwrite;
    if (!OutPath.empty()) C.OutPath = OutPath;
    return C;
}

// The command line's own numbers go straight into the record's fields.
void ApplyNumbers(const TCliOptions& O, TOutputOptions& Out) {
    if (O.Rate) Out.AudioSampleRate = *O.Rate;
    if (O.Channels) Out.AudioChannels = *O.Channels;
    if (O.Volume) Out.AudioVolume = *O.Volume;
    // Kbit/s past two billion bit/s stop there rather than wrap to a negative rate.
    if (O.Bitrate) Out.AudioBitrate = SaturatingCast<int32_t>(*O.Bitrate * 1000.0);
}

// The record's own fields are applied after the option lines and would undo a line that sets
// the same thing; such lines go into the fields instead, by the rows that write them.
void ApplyOutputLines(const std::vector<std::string>& Lines, TOutputOptions& Out) {
    for (const std::string& Line : Lines) {
        std::string Value = Line;
        const std::string Name = SplitFirst(Value, "=", true);
        if (!ReadOutputFieldLine(Name, Value, Out)) AddLine(Out.OptionLines, Line);
    }
}

TSoundRequest SoundRequestOf(const TCliOptions& O, const std::optional<TCutRequest>& Cut) {
    TSoundRequest Request;
    Request.Format = O.Format;
    Request.Encoder = O.Codec;
    Request.SampleRate = O.Rate.has_value();
    Request.Channels = O.Channels.has_value();
    Request.Volume = O.Volume && *O.Volume != 256;
    Request.BitRate = O.Bitrate.has_value();
    Request.Quality = O.Quality.has_value();
    for (const std::string& Line : O.OutputOptions)
        if (const std::string Name = Line.substr(0, Line.find('=')); IsSoundOptionName(Name)) {
            Request.SoundOption = Name;
            break;
        }
    Request.Cut = Cut.has_value();
    return Request;
}

}  // namespace

TTaskRecords BuildTaskRecords(const TCliOptions& O, const TSourceInfo& Source,
                              const std::optional<TCutRequest>& Cut, const std::u16string& OutPath,
                              const TBuildContext& Context, const std::u16string& OutputName) {
    TOptionChoices Choices = ChoicesFrom(O, Cut, OutPath);
    Choices.OutputName = OutputName;
    TTaskRecords R;
    R.Out = BuildOutputOptions(Choices, Source, Context);
    ApplyNumbers(O, R.Out);
    R.In = BuildInputOptions(Choices, Source);
    // A file of unknown length cut to its end: only the start is known.
    if (Cut && !Cut->EndMs)
        R.In.StartTimeMs = static_cast<int32_t>(std::min<int64_t>(Cut->StartMs, INT32_MAX));
    if (const TSoundFormat* Sound = FindSoundFormat(O.Format); Sound && !O.KeepVideo)
        KeepSoundOnly(*Sound, R.In, R.Out);
    if (!O.Codec.empty()) R.Out.AudioCodec = O.Codec;
    if (!O.NoTags) AddLine(R.Out.OptionLines, "map_meta_data=0:0");
    if (!O.NoCover) AddLine(R.Out.OptionLines, "copy_cover=1");
    for (const std::string& Tag : O.Tags) AddLine(R.Out.OptionLines, "metadata=" + Tag);
    if (O.ReplayGain) AddLine(R.Out.OptionLines, "replaygain=1");
    if (O.Quality) AddLine(R.Out.OptionLines, Format("aq=%g", *O.Quality));
    for (const std::string& Line : O.InputOptions) AddLine(R.In.OptionLines, Line);
    ApplyOutputLines(O.OutputOptions, R.Out);
    if (O.Reencode)
        R.Sound = {false, "--reencode given"};
    else
        R.Sound = DecideSoundCopy(Source.Sound, SoundRequestOf(O, Cut));
    if (R.Sound.Copy) ApplySoundCopy(R.Out);
    return R;
}

std::u16string PlainOutputName(const TCliOptions& O, const std::u16string& Input,
                               const std::u16string& OutPath) {
    return OutputBaseName(OutPath.empty() ? Utf8ToUtf16(kSameAsInput) : OutPath, Input) + u"_(new)" +
           Utf8ToUtf16(FormatSuffix(O.Format));
}

}  // namespace zembra::cli
