#include "binding/FFUtils.h"

#include "binding/EntryPoints.h"
#include "util/StringUtils.h"

#include <cerrno>

namespace zembra {

namespace {

// Contexts no longer carry a codec-name field; the codec descriptor's name stands in for it.
std::string DescriptorName(AVCodecID Id) {
    const AVCodecDescriptor* Descriptor = lavc.avcodec_descriptor_get(Id);
    return Descriptor && Descriptor->name ? Descriptor->name : "";
}

std::string Describe(AVCodecID Id, uint32_t Tag, bool Encoder) {
    const AVCodec* Codec = Encoder ? lavc.avcodec_find_encoder(Id) : lavc.avcodec_find_decoder(Id);
    if (Codec) {
        std::string Result = Codec->name ? Codec->name : "";
        const std::string Long = Codec->long_name ? Trim(Codec->long_name) : std::string();
        if (!Long.empty()) Result = Format("%s(%s)", Result.c_str(), Long.c_str());
        return Result;
    }
    if (Id == 0x20000) return "mpeg2ts";
    const std::string Name = Trim(DescriptorName(Id));
    if (!Name.empty()) return Name;
    const unsigned char C0 = Tag & 0xFF, C1 = (Tag >> 8) & 0xFF, C2 = (Tag >> 16) & 0xFF,
                        C3 = (Tag >> 24) & 0xFF;
    if (IsPrintableChar(C0) && IsPrintableChar(C1) && IsPrintableChar(C2) && IsPrintableChar(C3))
        return Format("%c%c%c%c / 0x%04X", C0, C1, C2, C3, Tag);
    return Format("0x%04x", Tag);
}

}  // namespace

std::string CodecDescription(const AVCodecContext* Context, bool Encoder) {
    if (!Context) return {};
    return Describe(Context->codec_id, Context->codec_tag, Encoder);
}

std::string CodecDescription(const AVCodecParameters* Parameters, bool Encoder) {
    if (!Parameters) return {};
    return Describe(Parameters->codec_id, Parameters->codec_tag, Encoder);
}

std::string GetMetadataValue(const AVDictionary* Metadata, const std::string& Key,
                             const std::string& Default) {
    if (!Metadata) return Default;
    const AVDictionaryEntry* Entry = lavu.av_dict_get(Metadata, Key.c_str(), nullptr, AV_DICT_MATCH_CASE);
    return Entry && Entry->value ? std::string(Entry->value) : Default;
}

std::string GetTagValue(const AVDictionary* Metadata, const std::string& Key, const std::string& Default) {
    if (!Metadata) return Default;
    const AVDictionaryEntry* Entry = lavu.av_dict_get(Metadata, Key.c_str(), nullptr, 0);
    return Entry && Entry->value ? std::string(Entry->value) : Default;
}

std::string OpenErrorText(const std::u16string& FileName, int LegacyCode) {
    const std::string Name = WideToLocaleLossy(FileName);
    const char* N = Name.c_str();
    switch (LegacyCode) {
        case -42:
            return Format("%s: Unknown format", N);
        case -33:
            return Format(
                "%s: Incorrect image filename syntax.\r\nUse '%%d' to specify the image number:\r\n"
                "  for img1.jpg, img2.jpg, ..., use 'img%%d.jpg';\r\n"
                "  for img001.jpg, img002.jpg, ..., use 'img%%03d.jpg'.",
                N);
        case -22:
            return Format("%s: Error while parsing header", N);
        case -12:
            return Format("%s: memory allocation error occurred", N);
        case -5:
            return Format(
                "%s: I/O error occurred\r\nUsually that means that input file is truncated and/or corrupted.",
                N);
        case -2:
            return Format("%s: no such file or directory", N);
        default:
            return Format("%s: Error while opening file", N);
    }
}

int LegacyOpenError(int Code) {
    if (Code == AVERROR(ENOENT)) return -2;
    if (Code == AVERROR(EIO) || Code == AVERROR_EOF) return -5;
    if (Code == AVERROR(ENOMEM)) return -12;
    if (Code == AVERROR_INVALIDDATA || Code == AVERROR(EINVAL)) return -22;
    return Code < 0 ? Code : -1;
}

std::string WithSystemReason(const std::string& Message, int Code) {
    // AVERROR(errno) is the negated errno; the libraries' own codes are far below.
    if (Code >= 0 || Code < -4095) return Message;
    return Message + ": " + ErrorText(Code);
}

std::string OpenErrorWithReason(const std::u16string& FileName, int Code) {
    const int Legacy = LegacyOpenError(Code);
    const std::string Text = OpenErrorText(FileName, Legacy);
    const bool Worded = Legacy == -2 || Legacy == -5 || Legacy == -12 || Legacy == -22;
    return Worded ? Text : WithSystemReason(Text, Code);
}

std::string WriteErrorWithReason(const std::string& Subject, int Code) {
    if (Code == AVERROR(ENOMEM)) return OpenErrorText(Utf8ToUtf16(Subject), -12);
    // The library's own codes ("Invalid argument" from a muxer) say as much as a system one.
    return Subject + ": Error while writing: " + ErrorText(Code);
}

std::string ErrorText(int Code) {
    char Buf[AV_ERROR_MAX_STRING_SIZE] = {0};
    if (lavu.av_strerror(Code, Buf, sizeof(Buf)) < 0) return Format("Error number %d occurred", Code);
    return Buf;
}

double RationalToDouble(AVRational R) {
    return static_cast<double>(R.num) / static_cast<double>(R.den);
}

int CompareRational(AVRational A, AVRational B) {
    const int64_t L = static_cast<int64_t>(A.num) * B.den;
    const int64_t R = static_cast<int64_t>(B.num) * A.den;
    return L > R ? 1 : (L < R ? -1 : 0);
}

}  // namespace zembra
