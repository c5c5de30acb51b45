#include "cli/SoundFormats.h"

#include "binding/EntryPoints.h"
#include "util/StringUtils.h"

namespace zembra::cli {

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

}  // namespace zembra::cli
