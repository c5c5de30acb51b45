#include "component/OutputFieldTable.h"

#include <charconv>
#include <stdexcept>

#include "engine/FFmpeg.h"
#include "engine/OptionValues.h"
#include "util/NumericCasts.h"
#include "util/StringUtils.h"

namespace zembra {

namespace {

using R = TOutputOptions;
using W = TFieldWhen;
using H = TFieldHow;

// The shortest text that reads back as the same single, whatever the locale.
std::string FloatText(float V) {
    char Text[32];
    const auto End = std::to_chars(Text, Text + sizeof(Text), V).ptr;
    return std::string(Text, End);
}

template <typename... F>
struct TOverload : F... {
    using F::operator()...;
};

}  // namespace

std::span<const TOutputFieldRow> OutputFieldRows() {
    static const TOutputFieldRow kRows[] = {
        {"packetsize", &R::PacketSize, W::IfAbove0, H::Generic},
        {"muxrate", &R::MuxRate, W::IfAbove0, H::Generic},
        {"muxdelay", &R::MuxDelay, W::IfAbove0, H::Line},
        {"muxpreload", &R::MuxPreload, W::IfAbove0, H::Line},
        {"acodec", &R::AudioCodec, W::IfSet, H::Line},
        {"apre", &R::AudioPreset, W::IfSet, H::Preset},
        {"an", &R::DisableAudio, W::Always, H::Line},
        {"vol", &R::AudioVolume, W::IfSet, H::Line},
        {"ac", &R::AudioChannels, W::Always, H::Line},
        {"ar", &R::AudioSampleRate, W::Always, H::Line},
        {"ab", &R::AudioBitrate, W::IfAbove0, H::Generic},
        {"abt", &R::AudioBitrateTolerance, W::IfAbove0, H::Generic},
        {"alang", &R::AudioLanguage, W::Always, H::Line},
        {"async", &R::AudioSync, W::Always, H::Line},
        {"atag", &R::AudioTag, W::IfSet, H::Line},
        {"vcodec", &R::VideoCodec, W::IfSet, H::Line},
        {"vpre", &R::VideoPreset, W::IfSet, H::Preset},
        {"vn", &R::DisableVideo, W::Always, H::Line},
        {"r", &R::FrameRate, W::IfSet, H::Line},
        {"s", &R::FrameSize, W::IfSet, H::Line},
        {"aspect", &R::FrameAspectRatio, W::IfSet, H::Line},
        {"croptop", &R::CropTop, W::Always, H::Line},
        {"cropbottom", &R::CropBottom, W::Always, H::Line},
        {"cropleft", &R::CropLeft, W::Always, H::Line},
        {"cropright", &R::CropRight, W::Always, H::Line},
        {"padtop", &R::PadTop, W::Always, H::Line},
        {"padbottom", &R::PadBottom, W::Always, H::Line},
        {"padleft", &R::PadLeft, W::Always, H::Line},
        {"padright", &R::PadRight, W::Always, H::Line},
        {"gop", &R::GopSize, W::IfAbove0, H::Generic},
        {"vb", &R::VideoBitrate, W::IfAbove0, H::Generic},
        {"maxrate", &R::VideoMaxRate, W::IfAbove0, H::Generic},
        {"minrate", &R::VideoMinRate, W::IfAbove0, H::Generic},
        {"bt", &R::VideoBitrateTolerance, W::IfAbove0, H::Generic},
        {"bufsize", &R::VideoBufferSize, W::IfAbove0, H::Generic},
        {"vsync", &R::VideoSync, W::Always, H::Line},
        {"vtag", &R::VideoTag, W::IfSet, H::Line},
        {"vfilters", &R::VideoFilters, W::IfSet, H::Line},
        {"scodec", &R::SubtitleCodec, W::IfSet, H::Line},
        {"spre", &R::SubtitlePreset, W::IfSet, H::Preset},
        {"sn", &R::DisableSubtitle, W::Always, H::Line},
        {"slang", &R::SubtitleLanguage, W::Always, H::Line},
        // A set-flag: any value sets it, so an unchecked box must write no line at all.
        {"copyts", &R::CopyTimestamp, W::IfSet, H::Line},
    };
    return kRows;
}

bool OutputFieldValue(const TOutputFieldRow& Row, const TOutputOptions& O, std::string& Value) {
    bool Set = false, Above0 = false;
    if (const auto* F = std::get_if<std::string R::*>(&Row.Field)) {
        Value = O.**F;
        Set = !Value.empty();
    } else if (const auto* I = std::get_if<int32_t R::*>(&Row.Field)) {
        Value = std::to_string(O.**I);
        Set = O.**I >= 0;
        Above0 = O.**I > 0;
    } else if (const auto* X = std::get_if<float R::*>(&Row.Field)) {
        Value = FloatText(O.**X);
        Set = O.**X >= 0;
        Above0 = O.**X > 0;
    } else {
        Set = Above0 = O.*std::get<bool R::*>(Row.Field);
        Value.assign(1, Set ? '1' : '0');
    }
    return Row.When == W::Always || (Row.When == W::IfSet ? Set : Above0);
}

void ApplyOutputFieldRows(TCustomFFmpeg& Engine, const TOutputOptions& O) {
    for (const TOutputFieldRow& Row : OutputFieldRows()) {
        std::string Value;
        if (!OutputFieldValue(Row, O, Value)) continue;
        switch (Row.How) {
            case H::Line:
                Engine.ApplyOption(Row.Option, Value);
                break;
            case H::Generic:
                Engine.SetCodecOptionInt(Row.Option, O.*std::get<int32_t R::*>(Row.Field));
                break;
            case H::Preset:
                Engine.LoadPreset(Row.Option, Value);
                break;
        }
    }
}

bool ReadOutputFieldLine(const std::string& Name, const std::string& Value, TOutputOptions& O) {
    for (const TOutputFieldRow& Row : OutputFieldRows()) {
        if (Row.How != H::Line || Name != Row.Option) continue;
        const bool SetFlag = FindOptionDef(Name)->Kind == TOptionKind::SetFlag;
        try {
            std::visit(TOverload{[&](std::string R::*F) { O.*F = Value; },
                                 [&](int32_t R::*F) { O.*F = StrToInt(Value); },
                                 [&](float R::*F) { O.*F = SaturatingCast<float>(StrToFloat(Value)); },
                                 [&](bool R::*F) { O.*F = SetFlag || FlagValue(Value); }},
                       Row.Field);
        } catch (const EConvertError&) {
            return false;  // the line itself goes to the engine, which says what is wrong with it
        }
        return true;
    }
    return false;
}

}  // namespace zembra
