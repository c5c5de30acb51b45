#include "probe/SourceTags.h"

#include "binding/EntryPoints.h"
#include "probe/AVProbe.h"
#include "util/StringUtils.h"

namespace zembra {

namespace {

std::string GenericKey(const char* Key) {
    const std::string Lower = LowerCase(Key);
    static const char* const kAliases[][2] = {{"tracknumber", "track"},
                                              {"discnumber", "disc"},
                                              {"albumartist", "album_artist"},
                                              {"album artist", "album_artist"},
                                              {"year", "date"}};
    for (const auto& [Alias, Generic] : kAliases)
        if (Lower == Alias) return Generic;
    return Lower;
}

// Whether Text is well-formed UTF-8: the conversion keeps each stray byte as a lone surrogate
// of its own (U+DC80 ... U+DCFF), which no well-formed text gives.
bool IsUtf8(const std::string& Text) {
    const std::u16string Wide = Utf8ToUtf16(Text);
    for (size_t I = 0; I < Wide.size(); ++I) {
        const char16_t C = Wide[I];
        if (C >= 0xD800 && C < 0xDC00 && I + 1 < Wide.size() && Wide[I + 1] >= 0xDC00 && Wide[I + 1] < 0xE000)
            ++I;
        else if (C >= 0xD800 && C < 0xE000)
            return false;
    }
    return true;
}

// A tag that is not UTF-8 was written in Latin-1, as ID3v2.3 and old taggers of Vorbis comments
// do: each byte is its own character.
std::string TagText(const char* Value) {
    const std::string Text = Value;
    if (IsUtf8(Text)) return Text;
    std::string Decoded;
    Decoded.reserve(2 * Text.size());
    for (const char C : Text) {
        const auto U = static_cast<unsigned char>(C);
        if (U < 0x80) {
            Decoded += C;
        } else {
            Decoded += static_cast<char>(0xC0 | (U >> 6));
            Decoded += static_cast<char>(0x80 | (U & 0x3F));
        }
    }
    return Decoded;
}

// A key the map holds already keeps its value: the file's tags outrank the stream's, and a
// generic name outranks an alias read after it.
void AddTags(const AVDictionary* Metadata, std::map<std::string, std::string>& Tags) {
    const AVDictionaryEntry* E = nullptr;
    while ((E = lavu.av_dict_get(Metadata, "", E, AV_DICT_IGNORE_SUFFIX)))
        if (E->value && *E->value) Tags.emplace(GenericKey(E->key), TagText(E->value));
}

}  // namespace

std::map<std::string, std::string> SourceTagsOf(const TCustomAVProbe& Probe) {
    std::map<std::string, std::string> Tags;
    const AVFormatContext* Context = Probe.Context();
    if (!Context) return Tags;
    AddTags(Context->metadata, Tags);
    const int32_t Audio = Probe.FirstAudioStreamIndex();
    if (Audio >= 0 && static_cast<unsigned>(Audio) < Context->nb_streams)
        AddTags(Context->streams[Audio]->metadata, Tags);
    return Tags;
}

}  // namespace zembra
