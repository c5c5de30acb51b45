// The desktop entry, the metainfo and the icon: the ecosystem's validators accept them, the
// entry opens the types of the open dialog's suffixes (and no others), and the icon's picture
// is rendered at 48 pixels.

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/FileFilters.h"
#include "tests/install/InstalledTree.h"

namespace zembra::testing {
namespace {

const std::string kApp = ZEMBRA_APP_ID;
const std::string kDesktopEntry = std::string(ZEMBRA_SOURCE_DIR) + "/data/" + kApp + ".desktop";

std::string ReadFile(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    std::ostringstream Text;
    Text << In.rdbuf();
    return Text.str();
}

std::map<std::string, std::string> EntryKeys(const std::string& Text) {
    std::map<std::string, std::string> Keys;
    std::istringstream In(Text);
    for (std::string Line; std::getline(In, Line);) {
        const size_t Eq = Line.find('=');
        if (Eq != std::string::npos && Line[0] != '#') Keys[Line.substr(0, Eq)] = Line.substr(Eq + 1);
    }
    return Keys;
}

std::set<std::string> SplitList(const std::string& List) {
    std::set<std::string> Items;
    std::istringstream In(List);
    for (std::string Item; std::getline(In, Item, ';');)
        if (!Item.empty()) Items.insert(Item);
    return Items;
}

// The shared MIME database's types for "*.suffix" (its globs2 lines are "weight:type:glob").
std::map<std::string, std::set<std::string>> TypesBySuffix() {
    std::map<std::string, std::set<std::string>> Types;
    std::istringstream In(ReadFile("/usr/share/mime/globs2"));
    for (std::string Line; std::getline(In, Line);) {
        const size_t First = Line.find(':'), Second = Line.find(":*.", First + 1);
        if (Line.empty() || Line[0] == '#' || First == std::string::npos || Second == std::string::npos)
            continue;
        std::string Suffix = Line.substr(Second + 3);
        Suffix = Suffix.substr(0, Suffix.find(':'));  // flags such as ":cs" follow the glob
        for (char& C : Suffix) C = static_cast<char>(std::tolower(static_cast<unsigned char>(C)));
        const std::string Type = Line.substr(First + 1, Second - First - 1);
        // A suffix shared with a text format (".ts", Qt's translations) does not make us its editor.
        if (Type.rfind("text/", 0) != 0) Types[Suffix].insert(Type);
    }
    return Types;
}

TEST(DesktopData, EntryMetainfoAndIconPassTheirValidatorsAndMatchTheOpenDialog) {
    const TProgramResult Entry = RunTool({"desktop-file-validate", kDesktopEntry});
    EXPECT_EQ(Entry.Status, 0) << Entry.Out << Entry.Err;
    EXPECT_EQ(Entry.Out + Entry.Err, "");

    const auto Keys = EntryKeys(ReadFile(kDesktopEntry));
    const std::pair<const char*, std::string> kKeys[] = {{"Type", "Application"},
                                                         {"Exec", "zembra %F"},
                                                         {"Icon", kApp},
                                                         {"Categories", "AudioVideo;Audio;Video;"},
                                                         {"Terminal", "false"}};
    for (const auto& [Key, Value] : kKeys) EXPECT_EQ(Keys.count(Key) ? Keys.at(Key) : "", Value) << Key;

    // Each suffix the database knows gives the entry at least one of its types; each type of the
    // entry stands for a suffix of the dialog.
    const auto Database = TypesBySuffix();
    ASSERT_FALSE(Database.empty()) << "no shared MIME database (Debian package shared-mime-info)";
    const std::set<std::string> Listed = SplitList(Keys.count("MimeType") ? Keys.at("MimeType") : "");
    std::set<std::string> Covered;
    for (const std::string& Suffix : FilterSuffixes(kOpenDialogFilter)) {
        const auto Known = Database.find(Suffix);
        if (Known == Database.end()) continue;
        bool Any = false;
        for (const std::string& Type : Known->second) {
            Any = Any || Listed.count(Type);
            Covered.insert(Type);
        }
        EXPECT_TRUE(Any) << "." << Suffix << " opens none of its types";
    }
    for (const std::string& Type : Listed)
        EXPECT_TRUE(Covered.count(Type)) << Type << " is no suffix of the dialog";

    const std::string Metainfo = std::string(ZEMBRA_SHARE_DIR) + "/metainfo/" + kApp + ".metainfo.xml";
    const TProgramResult Meta = RunTool({"appstreamcli", "validate", "--no-net", "--pedantic", Metainfo});
    EXPECT_EQ(Meta.Status, 0) << Meta.Out << Meta.Err;
    const std::string MetaText = ReadFile(Metainfo);
    for (const std::string& Part :
         {"<id>" + kApp + "</id>", "<launchable type=\"desktop-id\">" + kApp + ".desktop",
          std::string("<release version=\"" ZEMBRA_VERSION "\""), std::string("<screenshot"),
          std::string("<description>")})
        EXPECT_NE(MetaText.find(Part), std::string::npos) << Part;

    // The PNG's header: its signature, then the IHDR chunk with width and height (big-endian).
    const std::string Png =
        ReadFile(std::string(ZEMBRA_SHARE_DIR) + "/icons/hicolor/48x48/apps/" + kApp + ".png");
    ASSERT_GE(Png.size(), 24u);
    EXPECT_EQ(Png.substr(0, 8), "\x89PNG\r\n\x1a\n");
    EXPECT_EQ(Png.substr(12, 4), "IHDR");
    auto Int32 = [&](size_t At) {
        uint32_t V = 0;
        for (size_t I = 0; I < 4; ++I) V = (V << 8) | static_cast<unsigned char>(Png[At + I]);
        return V;
    };
    EXPECT_EQ(Int32(16), 48u);
    EXPECT_EQ(Int32(20), 48u);
}

}  // namespace
}  // namespace zembra::testing
