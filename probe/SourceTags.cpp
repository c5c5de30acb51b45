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

// A key the map holds already keeps its value: the file's tags outrank the stream's, and a
// generic name outranks an alias read after it.
void AddTags(const AVDictionary* Metadata, std::map<std::string, std::string>& Tags) {
    const AVDictionaryEntry* E = nullptr;
    while ((E = lavu.av_dict_get(Metadata, "", E, AV_DICT_IGNORE_SUFFIX)))
        if (E->value && *E->value) Tags.emplace(GenericKey(E->key), E->value);
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
