// Options the table does not know go to the libraries' own option system; presets are lists
// of such options.

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "binding/EntryPoints.h"
#include "binding/FFmpegHolders.h"
#include "engine/FFmpeg.h"
#include "engine/LegacyOptionMap.h"
#include "engine/OptionDefs.h"
#include "engine/Presets.h"
#include "logging/FFmpegLogger.h"
#include "util/StringUtils.h"

namespace zembra {

namespace {

// Which options a codec context of each kind takes (data and attachment: any).
constexpr int kTypeMasks[kOptionMediaTypes] = {AV_OPT_FLAG_VIDEO_PARAM, AV_OPT_FLAG_AUDIO_PARAM, 0,
                                               AV_OPT_FLAG_SUBTITLE_PARAM, 0};

const AVOption* FindOption(void* Object, const std::string& Name, int Flags = 0) {
    return Object ? lavu.av_opt_find(Object, Name.c_str(), nullptr, Flags, 0) : nullptr;
}

bool HasPrivateOption(const AVCodec* Codec, const std::string& Name) {
    if (!Codec || !Codec->priv_class) return false;
    const AVClass* Class = Codec->priv_class;
    return lavu.av_opt_find2(&Class, Name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ, nullptr) != nullptr;
}

// Classes searched as if they were objects, children included: every codec's, muxer's,
// demuxer's and protocol's private class hangs below these.
bool InClass(const AVClass* Class, const std::string& Name) {
    if (!Class) return false;
    return lavu.av_opt_find(&Class, Name.c_str(), nullptr, 0,
                            AV_OPT_SEARCH_FAKE_OBJ | AV_OPT_SEARCH_CHILDREN) != nullptr;
}

}  // namespace

bool IsKnownOptionName(const std::string& Name) {
    if (Name.empty()) return false;
    if (FindOptionDef(Name) || TranslateLegacyOption(Name, "1")) return true;
    const AVClass* Codecs = lavc.avcodec_get_class();
    if (InClass(Codecs, Name) || InClass(lavf.avformat_get_class(), Name) ||
        (lsws.sws_get_class && InClass(lsws.sws_get_class(), Name)))
        return true;
    const bool Prefixed = Name.size() > 1 && (Name[0] == 'a' || Name[0] == 'v' || Name[0] == 's');
    return Prefixed && InClass(Codecs, Name.substr(1));
}

bool TCustomFFmpeg::SetGenericOption(const std::string& RawName, const std::string& RawValue) {
    const std::string Name = Trim(RawName);
    const std::string Value = Trim(RawValue);
    if (Name.empty() || Value.empty()) return false;

    if (auto Settings = TranslateLegacyOption(Name, Value)) {
        bool Ok = true;
        for (const TOptionSetting& S : *Settings) Ok = SetGenericOption(S.Name, S.Value) && Ok;
        return Ok;
    }
    if (!FCodecOpts[omtVideo]) return false;

    const AVOption* Found = nullptr;
    int Result = 0;
    for (int Type = 0; Type < kOptionMediaTypes && Result >= 0; ++Type) {
        if (const AVOption* O = FindOption(FCodecOpts[omtVideo].get(), Name, kTypeMasks[Type])) {
            Found = O;
            Result = lavu.av_opt_set(FCodecOpts[Type].get(), Name.c_str(), Value.c_str(), 0);
        }
    }
    if (!Found) {
        if (const AVOption* O = FindOption(FFormatOpts.get(), Name)) {
            Found = O;
            Result = lavu.av_opt_set(FFormatOpts.get(), Name.c_str(), Value.c_str(), 0);
        }
    }
    if (!Found) {
        if (const AVOption* O = FindOption(FSwsOpts.get(), Name)) {
            Found = O;
            Result = lavu.av_opt_set(FSwsOpts.get(), Name.c_str(), Value.c_str(), 0);
        }
    }
    if (!Found && Name.size() > 1 && (Name[0] == 'a' || Name[0] == 'v' || Name[0] == 's')) {
        AVCodecContext* Ctx = FCodecOpts[Name[0] == 'a'   ? omtAudio
                                         : Name[0] == 'v' ? omtVideo
                                                          : omtSubtitle]
                                  .get();
        const std::string Rest = Name.substr(1);
        if (const AVOption* O = FindOption(Ctx, Rest)) {
            Found = O;
            Result = lavu.av_opt_set(Ctx, Rest.c_str(), Value.c_str(), 0);
        }
    }
    bool PrivateFound = false;
    if (!Found) {
        bool Ok = SetPrivateCodecOption(Name, Value, PrivateFound);
        if (!PrivateFound) Ok = SetPrivateFormatOption(Name, Value, PrivateFound);
        if (!PrivateFound) return false;
        if (Ok) return true;
        Result = -1;
    }
    if (Result < 0) {
        lavu.av_log(nullptr, AV_LOG_ERROR, "Invalid value \"%s\" for option \"%s\"\n", Value.c_str(),
                    Name.c_str());
        return false;
    }
    if (std::find(FOptionNames.begin(), FOptionNames.end(), Found->name) == FOptionNames.end())
        FOptionNames.emplace_back(Found->name);

    int64_t Debug = 0, FormatDebug = 0;
    lavu.av_opt_get_int(FCodecOpts[omtVideo].get(), "debug", 0, &Debug);
    lavu.av_opt_get_int(FFormatOpts.get(), "fdebug", 0, &FormatDebug);
    if (Debug != 0 || FormatDebug != 0) GetLogger().SetLogLevel(llDebug);
    return true;
}

// Settings that in the old generation sat on every codec context are private options of
// individual codecs today. They are checked against the codec that has them (the forced
// codec of that kind first) and kept for the moment that codec is opened.
bool TCustomFFmpeg::SetPrivateCodecOption(const std::string& Name, const std::string& Value, bool& Found) {
    Found = false;
    const AVCodec* Owner = nullptr;
    for (const std::string* Forced :
         {&FSettings.VideoCodecName, &FSettings.AudioCodecName, &FSettings.SubtitleCodecName}) {
        if (Forced->empty()) continue;
        const AVCodec* C = lavc.avcodec_find_encoder_by_name(Forced->c_str());
        if (!C) C = lavc.avcodec_find_decoder_by_name(Forced->c_str());
        if (HasPrivateOption(C, Name)) {
            Owner = C;
            break;
        }
    }
    void* Iterator = nullptr;
    while (!Owner) {
        const AVCodec* C = lavc.av_codec_iterate(&Iterator);
        if (!C) break;
        if (HasPrivateOption(C, Name)) Owner = C;
    }
    if (!Owner || Owner->type < 0 || Owner->type >= kOptionMediaTypes) return false;
    Found = true;
    TCodecContextPtr Probe(lavc.avcodec_alloc_context3(Owner));
    if (!Probe || !Probe->priv_data) return false;
    if (lavu.av_opt_set(Probe->priv_data, Name.c_str(), Value.c_str(), 0) < 0) return false;
    return FPrivateOpts[Owner->type].Set(Name.c_str(), Value.c_str()) >= 0;
}

// Likewise for options that moved into individual muxers and demuxers ("muxrate", say).
bool TCustomFFmpeg::SetPrivateFormatOption(const std::string& Name, const std::string& Value, bool& Found) {
    Found = false;
    auto Has = [&](const AVClass* Class) {
        return Class && lavu.av_opt_find2(&Class, Name.c_str(), nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ,
                                          nullptr) != nullptr;
    };
    const AVOutputFormat* Muxer = nullptr;
    if (!FSettings.OutputFormatName.empty()) {
        const AVOutputFormat* F = lavf.av_guess_format(FSettings.OutputFormatName.c_str(), nullptr, nullptr);
        if (F && Has(F->priv_class)) Muxer = F;
    }
    void* Iterator = nullptr;
    while (!Muxer) {
        const AVOutputFormat* F = lavf.av_muxer_iterate(&Iterator);
        if (!F) break;
        if (Has(F->priv_class)) Muxer = F;
    }
    if (Muxer) {
        Found = true;
        AVFormatContext* Raw = nullptr;
        if (lavf.avformat_alloc_output_context2(&Raw, Muxer, nullptr, nullptr) < 0 || !Raw) return false;
        TFormatContextPtr Probe(Raw);
        if (!Probe->priv_data || lavu.av_opt_set(Probe->priv_data, Name.c_str(), Value.c_str(), 0) < 0)
            return false;
        return FPrivateFormatOpts.Set(Name.c_str(), Value.c_str()) >= 0;
    }
    Iterator = nullptr;
    while (const AVInputFormat* F = lavf.av_demuxer_iterate(&Iterator)) {
        if (!Has(F->priv_class)) continue;
        Found = true;
        return FPrivateFormatOpts.Set(Name.c_str(), Value.c_str()) >= 0;
    }
    return false;
}

void TCustomFFmpeg::ApplyStoredOptions(void* Target, void* Source, int Mask) {
    if (!Target || !Source) return;
    for (const std::string& Name : FOptionNames) {
        uint8_t* Text = nullptr;
        if (lavu.av_opt_get(Source, Name.c_str(), 0, &Text) < 0 || !Text) continue;
        TAvBufferPtr Owned(Text);
        const AVOption* O = FindOption(Source, Name);
        if (!O || (O->flags & Mask) != Mask) continue;
        if (lavu.av_opt_set(Target, Name.c_str(), reinterpret_cast<const char*>(Text), 0) < 0)
            Log(llWarning, Format("Cannot apply option \"%s\" = \"%s\"", Name.c_str(),
                                  reinterpret_cast<const char*>(Text)));
    }
}

void TCustomFFmpeg::LoadPreset(const std::string& OptionName, const std::string& PresetName) {
    const TOptionDef* Def = FindOptionDef(OptionName);
    if (!Def || Def->Phase != kPhasePresets) throw std::logic_error("not a preset option: " + OptionName);
    ApplyOption(OptionName, PresetName);
}

void TCustomFFmpeg::LoadPresetFor(const std::string& PresetName, std::string TJobSettings::*OwnCodec) {
    std::string LookedUp = PresetName;
    const char* BuiltIn = FindBuiltInPreset(PresetName);
    if (!BuiltIn) {
        // Without a codec of the preset's own kind, the subtitle codec names it.
        const TJobSettings& S = FSettings;
        const std::string& Codec = !(S.*OwnCodec).empty() ? S.*OwnCodec : S.SubtitleCodecName;
        if (!Codec.empty()) LookedUp = Codec + "-" + PresetName;
        BuiltIn = FindBuiltInPreset(LookedUp);
    }
    std::string Text;
    if (BuiltIn) {
        Text = BuiltIn;
    } else {
        std::ifstream File(PresetName, std::ios::binary);
        if (File) {
            std::ostringstream Content;
            Content << File.rdbuf();
            Text = Content.str();
        }
    }
    if (Text.empty()) throw FFmpegException("Preset \"" + LookedUp + "\" not found");

    std::string Rest = NormaliseLineEnds(Trim(Text));
    while (!Rest.empty()) {
        const std::string Line = Trim(SplitFirst(Rest, "\n", true));
        if (Line.empty()) continue;
        std::string Value = Line;
        const std::string Key = SplitFirst(Value, "=", true);
        if (Key.empty() || Value.empty())
            throw FFmpegException(Format("%s: Invalid syntax: \"%s\"", PresetName.c_str(), Line.c_str()));
        const std::string LowerKey = LowerCase(Key);
        if (LowerKey == "acodec" || LowerKey == "vcodec" || LowerKey == "scodec") {
            ApplyOption(LowerKey, Value);
        } else if (!SetGenericOption(Key, Value)) {
            throw FFmpegException(Format("%s: Invalid option or argument: \"%s\", parsed as \"%s\" = \"%s\"",
                                         PresetName.c_str(), Line.c_str(), Key.c_str(), Value.c_str()));
        }
    }
}

}  // namespace zembra
