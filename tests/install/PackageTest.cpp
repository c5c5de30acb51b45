// The Debian package as CPack builds it: its name, its control fields and declared dependencies
// (each one a package Debian has), no maintainer scripts, its contents, and the unpacked
// zembra-cli converting a generated clip through its links.

#include <gtest/gtest.h>
#include <libavcodec/version.h>
#include <libavfilter/version.h>
#include <libavformat/version.h>
#include <libavutil/version.h>
#include <libswresample/version.h>
#include <libswscale/version.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/install/InstalledTree.h"

namespace zembra::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// "Name: value" lines of the control file (a continuation line belongs to the field before).
std::map<std::string, std::string> ControlFields(const std::string& Control) {
    std::map<std::string, std::string> Fields;
    std::istringstream In(Control);
    std::string Last;
    for (std::string Line; std::getline(In, Line);) {
        const size_t Colon = Line.find(": ");
        if (!Line.empty() && Line[0] != ' ' && Colon != std::string::npos) {
            Last = Line.substr(0, Colon);
            Fields[Last] = Line.substr(Colon + 2);
        } else if (!Last.empty()) {
            Fields[Last] += "\n" + Line;
        }
    }
    return Fields;
}

// The package names of a Depends field, alternatives included, without versions.
std::set<std::string> PackageNames(const std::string& Depends) {
    std::set<std::string> Names;
    std::string Item;
    for (char C : Depends + ",") {
        if (C == ',' || C == '|') {
            const size_t Begin = Item.find_first_not_of(' ');
            if (Begin != std::string::npos) {
                const size_t End = Item.find_first_of(" (:", Begin);
                Names.insert(Item.substr(Begin, End == std::string::npos ? End : End - Begin));
            }
            Item.clear();
        } else {
            Item += C;
        }
    }
    return Names;
}

std::string Major(const char* Library, int Version) {
    return std::string(Library) + std::to_string(Version);
}

TEST(Package, DebDeclaresItsDependenciesHoldsNoScriptsAndRunsUnpacked) {
    TTempFolder Out("zembra-package");
    ASSERT_FALSE(Out.Path().empty());
    const TProgramResult Packed =
        RunTool({ZEMBRA_CPACK, "--config", std::string(ZEMBRA_BUILD_DIR) + "/CPackConfig.cmake", "-G", "DEB",
                 "-B", Out.Path().string()},
                "", 120s);
    ASSERT_EQ(Packed.Status, 0) << Packed.Out << Packed.Err;
    const TProgramResult Arch = RunTool({"dpkg", "--print-architecture"});
    ASSERT_EQ(Arch.Status, 0);
    const std::string Architecture = Arch.Out.substr(0, Arch.Out.find('\n'));
    const fs::path Deb = Out.Path() / ("zembra_" ZEMBRA_VERSION "_" + Architecture + ".deb");
    ASSERT_TRUE(fs::is_regular_file(Deb)) << Packed.Out;

    const TProgramResult Info = RunTool({"dpkg-deb", "--info", Deb.string(), "control"});
    ASSERT_EQ(Info.Status, 0) << Info.Err;
    const auto Fields = ControlFields(Info.Out);
    const std::pair<const char*, std::string> kFields[] = {{"Package", "zembra"},
                                                           {"Version", ZEMBRA_VERSION},
                                                           {"Architecture", Architecture},
                                                           {"Section", "video"}};
    for (const auto& [Name, Value] : kFields)
        EXPECT_EQ(Fields.count(Name) ? Fields.at(Name) : "", Value) << Name;
    EXPECT_TRUE(Fields.count("Maintainer") && Fields.count("Description") && Fields.count("Homepage"));

    // The FFmpeg libraries by the majors of the headers built against, Qt with its platform
    // plug-ins, Imlib2 and the hook modules' fonts.
    const std::set<std::string> Depends = PackageNames(Fields.count("Depends") ? Fields.at("Depends") : "");
    const std::string kRequired[] = {Major("libavcodec", LIBAVCODEC_VERSION_MAJOR),
                                     Major("libavformat", LIBAVFORMAT_VERSION_MAJOR),
                                     Major("libavutil", LIBAVUTIL_VERSION_MAJOR),
                                     Major("libavfilter", LIBAVFILTER_VERSION_MAJOR),
                                     Major("libswscale", LIBSWSCALE_VERSION_MAJOR),
                                     Major("libswresample", LIBSWRESAMPLE_VERSION_MAJOR),
                                     "libqt6widgets6",
                                     "libqt6gui6",
                                     "libqt6core6",
                                     "qt6-qpa-plugins",
                                     "libimlib2",
                                     "fonts-dejavu-core",
                                     "libc6",
                                     "libstdc++6"};
    for (const std::string& Name : kRequired)
        EXPECT_TRUE(Depends.count(Name)) << Name << " not in " << Info.Out;
    // File names in CJK scripts need a font the system may lack.
    EXPECT_TRUE(
        PackageNames(Fields.count("Recommends") ? Fields.at("Recommends") : "").count("fonts-noto-cjk"))
        << Info.Out;
    // Each a package of the archive, where the machine's package lists can say so.
    if (RunTool({"apt-cache", "show", "libc6"}).Status == 0) {
        for (const std::string& Name : Depends)
            EXPECT_EQ(RunTool({"apt-cache", "show", "--no-all-versions", Name}).Status, 0) << Name;
    }

    // The control archive holds the control file and the checksums, no maintainer scripts.
    const fs::path Control = Out.Path() / "control";
    ASSERT_EQ(RunTool({"dpkg-deb", "--control", Deb.string(), Control.string()}).Status, 0);
    EXPECT_EQ(TreeListing(Control), (std::vector<std::string>{"control", "md5sums"}));

    const TProgramResult Contents = RunTool({"dpkg-deb", "--contents", Deb.string()});
    ASSERT_EQ(Contents.Status, 0);
    const std::string kListed[] = {"./usr/bin/zembra -> ../lib/zembra/zembra",
                                   "./usr/bin/zembra-cli -> ../lib/zembra/zembra-cli",
                                   "./usr/lib/zembra/LibAV/libmyutil.so",
                                   "./usr/lib/zembra/vhook/watermark.so",
                                   "./usr/lib/zembra/help/introduction.htm",
                                   "./usr/share/applications/" ZEMBRA_APP_ID ".desktop",
                                   "./usr/share/icons/hicolor/48x48/apps/" ZEMBRA_APP_ID ".png",
                                   "./usr/share/man/man1/zembra-cli.1.gz",
                                   "./usr/share/bash-completion/completions/zembra-cli",
                                   "./usr/share/doc/zembra/copyright",
                                   "./usr/share/doc/zembra/changelog.gz",
                                   "./usr/lib/zembra/vhook/DejaVuSans.ttf -> "
                                   "../../../share/fonts/truetype/dejavu/DejaVuSans.ttf",
                                   "./usr/lib/zembra/vhook/DejaVuSans-Bold.ttf -> "
                                   "../../../share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"};
    for (const std::string& Entry : kListed) EXPECT_NE(Contents.Out.find(Entry), std::string::npos) << Entry;

    const fs::path Root = Out.Path() / "root";
    ASSERT_EQ(RunTool({"dpkg-deb", "--extract", Deb.string(), Root.string()}).Status, 0);
    TTempFolder Work("zembra-unpacked-run");
    EXPECT_EQ(ConvertGeneratedClip((Root / "usr/bin/zembra-cli").string(), Work.Path()), "");
}

}  // namespace
}  // namespace zembra::testing
