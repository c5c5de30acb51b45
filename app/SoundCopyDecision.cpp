#include "app/SoundCopyDecision.h"

#include <array>
#include <sstream>

#include "engine/OptionDefs.h"
#include "util/StringUtils.h"

namespace zembra {

namespace {

// Which containers take which codec's packets unchanged. PCM goes by the container's own
// sample formats: WAV is little-endian, AU big-endian, so a mismatch there is a conversion.
// RealMedia is left out: its muxer swaps the bytes of AC-3, so the packets would not survive.
constexpr std::array<TSoundCopyRule, 21> kRules = {{
    {AV_CODEC_ID_MP3, "MP3", "mp3", "mp3 libmp3lame libshine mp3_mf"},
    {AV_CODEC_ID_MP2, "MP2", "mp2", "mp2 mp2fixed libtwolame"},
    {AV_CODEC_ID_AAC, "AAC", "aac m4a", "aac libfdk_aac libfaac aac_at"},
    {AV_CODEC_ID_ALAC, "ALAC", "m4a", "alac"},
    {AV_CODEC_ID_AC3, "AC-3", "ac3", "ac3 ac3_fixed"},
    {AV_CODEC_ID_FLAC, "FLAC", "flac", "flac"},
    {AV_CODEC_ID_VORBIS, "Vorbis", "ogg", "vorbis libvorbis"},
    {AV_CODEC_ID_OPUS, "Opus", "ogg", "opus libopus"},
    {AV_CODEC_ID_WMAV1, "WMA v1", "wma", "wmav1"},
    {AV_CODEC_ID_WMAV2, "WMA v2", "wma", "wmav2"},
    {AV_CODEC_ID_PCM_U8, "PCM u8", "wav", "pcm_u8"},
    {AV_CODEC_ID_PCM_S16LE, "PCM s16le", "wav", "pcm_s16le"},
    {AV_CODEC_ID_PCM_S24LE, "PCM s24le", "wav", "pcm_s24le"},
    {AV_CODEC_ID_PCM_S32LE, "PCM s32le", "wav", "pcm_s32le"},
    {AV_CODEC_ID_PCM_F32LE, "PCM f32le", "wav", "pcm_f32le"},
    {AV_CODEC_ID_PCM_S8, "PCM s8", "au", "pcm_s8"},
    {AV_CODEC_ID_PCM_S16BE, "PCM s16be", "au", "pcm_s16be"},
    {AV_CODEC_ID_PCM_S24BE, "PCM s24be", "au", "pcm_s24be"},
    {AV_CODEC_ID_PCM_S32BE, "PCM s32be", "au", "pcm_s32be"},
    {AV_CODEC_ID_PCM_ALAW, "A-law", "wav au", "pcm_alaw"},
    {AV_CODEC_ID_PCM_MULAW, "mu-law", "wav au", "pcm_mulaw"},
}};

bool InList(const char* List, const std::string& Word) {
    std::istringstream Words(List);
    std::string Item;
    while (Words >> Item)
        if (SameText(Item, Word)) return true;
    return false;
}

const TSoundCopyRule* RuleOf(AVCodecID Codec) {
    for (const TSoundCopyRule& Rule : kRules)
        if (Rule.Codec == Codec) return &Rule;
    return nullptr;
}

}  // namespace

std::span<const TSoundCopyRule> SoundCopyRules() {
    return kRules;
}

bool IsSoundOptionName(const std::string& Name) {
    const TOptionDef* Def = FindOptionDef(Name);
    return Def && Def->Media == TOptionMedia::Sound;
}

TSoundCopyDecision DecideSoundCopy(const TSourceSound& Source, const TSoundRequest& Request) {
    const std::string Format = LowerCase(Request.Format);
    if (!Source.Present) return {false, "the source has no sound"};
    // Copying parameters nobody could read would make a file no player can open.
    if (!Source.Known()) return {false, "the source's sound is not known"};
    const TSoundCopyRule* Rule = RuleOf(Source.CodecId);
    const std::string Label = Rule ? Rule->Label : Source.CodecName.empty() ? "its codec" : Source.CodecName;
    const bool Fits = Rule && (InList(Rule->Formats, Format) ||
                               (!Request.FormatCodec.empty() && InList(Rule->Encoders, Request.FormatCodec)));
    if (!Fits) return {false, Label + " does not fit in " + Format};
    if (!Request.Encoder.empty() && !InList(Rule->Encoders, Request.Encoder))
        return {false, "encoder " + Request.Encoder + " chosen"};
    const std::pair<bool, const char*> Settings[] = {
        {Request.SampleRate, "sample rate set"}, {Request.Channels, "channels set"},
        {Request.Volume, "volume set"},          {Request.BitRate, "bit rate set"},
        {Request.Quality, "quality set"},
    };
    for (const auto& [Set, Why] : Settings)
        if (Set) return {false, Why};
    if (!Request.SoundOption.empty()) return {false, "option " + Request.SoundOption + " set"};
    // Packets are whole: a copied cut starts and ends on packet boundaries, never inside one.
    return {true, Label + " fits in " + Format + (Request.Cut ? ", cut at packets, not samples" : "")};
}

}  // namespace zembra
