#include "cli/SoundFormats.h"

#include "binding/EntryPoints.h"
#include "util/StringUtils.h"

namespace zembra::cli {

const TSoundFormat* FindSoundFormat(const std::string& Format) {
    for (const TSoundFormat& F : kSoundFormats)
        if (SameText(F.Name, Format)) return &F;
    return nullptr;
}

std::string SoundEncoderName(const TSoundFormat& Format) {
    if (Format.Encoder) return Format.Encoder;
    const AVOutputFormat* Muxer =
        lavf.av_guess_format(nullptr, (std::string("x.") + Format.Name).c_str(), nullptr);
    if (!Muxer) return "";
    const AVCodec* Encoder = lavc.avcodec_find_encoder(Muxer->audio_codec);
    return Encoder ? Encoder->name : "";
}

std::string SoundFormatList() {
    std::string Text;
    for (const TSoundFormat& F : kSoundFormats) {
        const std::string Encoder = SoundEncoderName(F);
        Text += Format("%-5s %s\n", F.Name,
                       Encoder.empty() ? "(no encoder in these libraries)" : Encoder.c_str());
    }
    return Text;
}

void KeepSoundOnly(const TSoundFormat& Format, TInputOptions& In, TOutputOptions& Out) {
    // Not decoding the pictures at all is what makes a film's sound quick to extract.
    In.OptionLines += (In.OptionLines.empty() ? "" : "\r\n") + std::string("vn=1");
    Out.DisableVideo = true;
    Out.VideoCodec.clear();
    if (Format.Encoder) Out.AudioCodec = Format.Encoder;
}

}  // namespace zembra::cli
