// Output names from tags, worked out from tag maps alone.

#include "app/NameTemplate.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace zembra {
namespace {

using TTags = std::map<std::string, std::string>;

std::string Repeat(const std::string& Text, int Times) {
    std::string Out;
    for (int I = 0; I < Times; ++I) Out += Text;
    return Out;
}

struct TRow {
    std::string Template;
    TTags Tags;
    std::string Expected;       // the rendered name, when Error is empty
    std::string Error;          // a part of the usage error the template gives
    std::string Base = "clip";  // the source's name without its extension
    TNameCharset Charset = TNameCharset::Portable;
    size_t Reserve = 12;
};

const std::string kE = "\xc3\xa9";  // "é", two bytes

TEST(NameTemplate, RendersTagsIntoSafeNamesAndRefusesTemplatesThatCannotName) {
    const TTags Album = {
        {"album_artist", "Various"}, {"artist", "Nina"}, {"album", "Mix"}, {"title", "Song"},
        {"track", "3/12"},           {"disc", "2/2"},    {"date", "1999"}, {"genre", "Jazz"}};
    const std::string Odd = "What? <Live>: \"1\" |*\\";
    const std::vector<TRow> Rows = {
        {"{albumartist}/{album}/{track:02} {title}", Album, "Various/Mix/03 Song", ""},
        {"{artist} - {title} ({date}, {genre}) {disc}-{track} {name}", Album,
         "Nina - Song (1999, Jazz) 2-3 clip", ""},
        // Padding: a number's own zeros give way to the width; longer numbers and text stay.
        {"{track:03}|{disc:02}", {{"track", "007"}, {"disc", "1"}}, "007_01", ""},
        {"{track:02}", {{"track", "1234"}}, "1234", ""},
        {"{track:02}", {{"track", "A1"}}, "A1", ""},
        // Missing tags: the stated defaults, the artist for the album artist, and no folder.
        {"{albumartist}/{album}/{title}", {}, "Unknown Artist/Unknown Album/clip", ""},
        {"{albumartist}/{artist}", {{"artist", "Solo"}}, "Solo/Solo", ""},
        {"{genre}/{date}/{track:02} {title}", {{"title", "T"}, {"genre", "  "}}, "T", ""},
        {"{track}", {}, "clip", ""},
        {"{track}", {}, "_", "", ""},
        // A tag's '/' never makes a folder; what FAT and NTFS refuse goes in portable names.
        {"{artist}/{title}", {{"artist", "AC/DC"}, {"title", Odd}}, "AC-DC/What_ _Live__ _1_ ___", ""},
        {"{artist}/{title}",
         {{"artist", "AC/DC"}, {"title", Odd}},
         "AC-DC/" + Odd,
         "",
         "clip",
         TNameCharset::Posix},
        {"{title}", {{"title", "a\tb\x7f"}}, "a_b_", ""},
        // No control character in any charset: a line feed would split the list of outputs.
        {"{title}", {{"title", "a\tb\nc\rd\x7f"}}, "a_b_c_d_", "", "clip", TNameCharset::Posix},
        {"{title}", {{"title", "NEL\xc2\x85"}}, "NEL_", "", "clip", TNameCharset::Posix},
        {"{name}", {}, "line_feed", "", "line\nfeed", TNameCharset::Posix},
        // Bytes that are not UTF-8 go from portable names; a Linux name keeps them.
        {"{title}", {{"title", "Caf\xe9 \xe6\x97\xa5"}}, "Caf_ \xe6\x97\xa5", ""},
        {"{title}", {{"title", "Caf\xe9"}}, "Caf\xe9", "", "clip", TNameCharset::Posix},
        {"{name}",
         {},
         "b__c",
         "",
         "b\xff\xfe"
         "c"},
        {"{name} \xf0\x9f\x8e\xb5",
         {},
         "b\xff"
         "c \xf0\x9f\x8e\xb5",
         "",
         "b\xff"
         "c",
         TNameCharset::Posix},
        {"{name}", {}, "a_b", "", "a:b"},
        {"{name}", {}, "a:b", "", "a:b", TNameCharset::Posix},
        // Tags never climb out of the output folder.
        {"{album}/{artist}/{title}",
         {{"album", ".."}, {"artist", "../.."}, {"title", "."}},
         "__/..-../_",
         ""},
        // 255 bytes a name, the file's less what follows it, never half a letter.
        {"{album}/{title}",
         {{"album", Repeat(kE, 200)}, {"title", "a" + Repeat(kE, 200)}},
         Repeat(kE, 127) + "/a" + Repeat(kE, 121),
         "",
         "clip",
         TNameCharset::Portable,
         11},
        {"{{{track}}}", {{"track", "5"}}, "{5}", ""},
        // Templates that cannot name a file.
        {"", {}, "", "empty"},
        {"   ", {}, "", "an empty folder or file name"},
        {"{artist", {}, "", "'{' without its '}'"},
        {"{artist}}", {}, "", "'}' without its '{'"},
        {"{composer}", {}, "", "unknown field {composer}"},
        {"{}", {}, "", "unknown field {}"},
        {"{track:2}", {}, "", "invalid padding"},
        {"{track:0x}", {}, "", "invalid padding"},
        {"{title:02}x", {}, "clipx", ""},  // padding a text field changes nothing
        {"a//{title}", {}, "", "an empty folder or file name"},
        {"{album}/", {}, "", "an empty folder or file name"},
        {"/music/{title}", {}, "", "not from '/'"},
        {"../{title}", {}, "", "would leave the output folder"},
        {"{album}/../../{title}", {}, "", "would leave the output folder"},
        {"./{title}", {}, "", "would leave the output folder"},
    };
    for (const TRow& Row : Rows) {
        SCOPED_TRACE("template '" + Row.Template + "'");
        std::string Error;
        const std::optional<TNameTemplate> T = ParseNameTemplate(Row.Template, Error);
        if (!Row.Error.empty()) {
            EXPECT_FALSE(T.has_value());
            EXPECT_NE(Error.find(Row.Error), std::string::npos) << Error;
            continue;
        }
        ASSERT_TRUE(T.has_value()) << Error;
        if (Row.Expected.empty()) continue;
        EXPECT_EQ(RenderName(*T, Row.Tags, Row.Base, Row.Charset, Row.Reserve), Row.Expected);
    }
}

}  // namespace
}  // namespace zembra
