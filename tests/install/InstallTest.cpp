// `cmake --install` into a temporary DESTDIR under a prefix of its own: the layout, the links in
// bin/, both programs' --version, and a conversion by the installed zembra-cli that needs nothing
// of the build folder.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/install/InstalledTree.h"

namespace zembra::testing {
namespace {

namespace fs = std::filesystem;

enum class TKind { File, Link, Folder };

struct TExpected {
    std::string Path;  // under the prefix
    TKind Kind;
    std::string LinkTarget = "";  // as written in the link
};

const std::string kApp = ZEMBRA_APP_ID;

const std::vector<TExpected> kLayout = {
    {"share/applications/" + kApp + ".desktop", TKind::File},
    {"share/metainfo/" + kApp + ".metainfo.xml", TKind::File},
    {"share/icons/hicolor/scalable/apps/" + kApp + ".svg", TKind::File},
    {"share/icons/hicolor/48x48/apps/" + kApp + ".png", TKind::File},
    {"bin/zembra", TKind::Link, "../lib/zembra/zembra"},
    {"bin/zembra-cli", TKind::Link, "../lib/zembra/zembra-cli"},
    {"lib/zembra/zembra", TKind::File},
    {"lib/zembra/zembra-cli", TKind::File},
    {"lib/zembra/LibAV/libmyutil.so", TKind::File},
    {"lib/zembra/vhook/imlib2.so", TKind::File},
    {"lib/zembra/vhook/watermark.so", TKind::File},
    {"lib/zembra/vhook/QuarnHook.so", TKind::File},
    {"lib/zembra/vhook/imlib2.jpg", TKind::File},
    {"lib/zembra/vhook/QuarnHook.bmp", TKind::File},
    {"lib/zembra/vhook/watermark.gif", TKind::File},
    // Absolute: the prefix holds no fonts of its own (the package's relative links: PackageTest).
    {"lib/zembra/vhook/DejaVuSans.ttf", TKind::Link, "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"},
    {"lib/zembra/vhook/DejaVuSans-Bold.ttf", TKind::Link,
     "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"},
    {"lib/zembra/help", TKind::Folder},
    {"lib/zembra/help/introduction.htm", TKind::File},
    {"share/man/man1/zembra.1.gz", TKind::File},
    {"share/man/man1/zembra-cli.1.gz", TKind::File},
    {"share/bash-completion/completions/zembra-cli", TKind::File},
    {"share/doc/zembra/copyright", TKind::File},
    {"share/doc/zembra/changelog.gz", TKind::File},
};

TEST(Install, DestdirTreeHoldsEverythingAndItsCliConvertsOnItsOwn) {
    TTempFolder Root("zembra-install");
    ASSERT_FALSE(Root.Path().empty());
    const std::string Prefix = "/opt/zembra-test";
    const fs::path Tree = Root.Path().string() + Prefix;

    const TProgramResult Installed = RunTool({"env", "DESTDIR=" + Root.Path().string(), ZEMBRA_CMAKE,
                                              "--install", ZEMBRA_BUILD_DIR, "--prefix", Prefix});
    ASSERT_EQ(Installed.Status, 0) << Installed.Out << Installed.Err;

    for (const TExpected& E : kLayout) {
        SCOPED_TRACE(E.Path);
        const fs::path P = Tree / E.Path;
        switch (E.Kind) {
            case TKind::File:
                EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(P)));
                EXPECT_GT(fs::exists(P) ? fs::file_size(P) : 0, 0u);
                break;
            case TKind::Folder:
                EXPECT_TRUE(fs::is_directory(fs::symlink_status(P)));
                break;
            case TKind::Link:
                ASSERT_TRUE(fs::is_symlink(fs::symlink_status(P)));
                EXPECT_EQ(fs::read_symlink(P).string(), E.LinkTarget);
                EXPECT_TRUE(fs::is_regular_file(P)) << "dangling link";
                break;
        }
    }
    // Nothing beyond those folders; tests, benchmarks and tools stay in the build.
    for (const std::string& Entry : TreeListing(Tree)) {
        SCOPED_TRACE(Entry);
        EXPECT_TRUE(Entry.rfind("bin", 0) == 0 || Entry.rfind("lib", 0) == 0 || Entry.rfind("share", 0) == 0);
        EXPECT_EQ(Entry.find("test"), std::string::npos);
        EXPECT_EQ(Entry.find("bench"), std::string::npos);
    }
    EXPECT_EQ(TreeListing(Tree / "bin"), (std::vector<std::string>{"zembra", "zembra-cli"}));

    // No installed program or module looks for libraries in the build folder.
    for (const char* Elf : {"lib/zembra/zembra", "lib/zembra/zembra-cli", "lib/zembra/LibAV/libmyutil.so",
                            "lib/zembra/vhook/imlib2.so"}) {
        const TProgramResult Dynamic = RunTool({"readelf", "--dynamic", (Tree / Elf).string()});
        EXPECT_EQ(Dynamic.Status, 0) << Elf << Dynamic.Err;
        EXPECT_EQ(Dynamic.Out.find(ZEMBRA_BUILD_DIR), std::string::npos) << Elf << Dynamic.Out;
        EXPECT_EQ(Dynamic.Out.find("RUNPATH"), std::string::npos) << Elf;
    }

    // Both programs name their version and the licence; the window's needs no display.
    for (const std::string Program : {"zembra", "zembra-cli"}) {
        const TProgramResult Version = RunTool({"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY",
                                                (Tree / "bin" / Program).string(), "--version"});
        EXPECT_EQ(Version.Status, 0) << Program << Version.Err;
        EXPECT_EQ(Version.Out.rfind(Program + " " ZEMBRA_VERSION "\n", 0), 0u) << Version.Out;
        EXPECT_NE(Version.Out.find("\nLicence GPL-3.0-or-later: "), std::string::npos) << Version.Out;
    }

    TTempFolder Work("zembra-installed-run");
    EXPECT_EQ(ConvertGeneratedClip((Tree / "bin/zembra-cli").string(), Work.Path()), "");
}

}  // namespace
}  // namespace zembra::testing
