// The manual pages: man and lexgrog read them without a warning and find their NAME line, and
// every option the built zembra-cli's --help names is documented in its page and in the manual's
// command-line page, which names no option the program does not take.

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "tests/install/CliHelpOptions.h"
#include "tests/install/InstalledTree.h"

namespace zembra::testing {
namespace {

struct TPage {
    const char* Name;
    const char* WhatIs;  // the start of lexgrog's NAME line
};

const TPage kPages[] = {
    {"zembra", "zembra - convert videos"},
    {"zembra-cli", "zembra-cli - convert media files"},
};

std::string PagePath(const TPage& Page) {
    return std::string(ZEMBRA_SHARE_DIR) + "/man/man1/" + Page.Name + ".1.gz";
}

// The page as man renders it for a pipe: plain text, wide enough that no option is hyphenated.
std::string Rendered(const TPage& Page, std::string* Warnings = nullptr) {
    const TProgramResult R = RunTool(
        {"env", "MANWIDTH=200", "LC_ALL=C.UTF-8", "man", "--warnings", "--local-file", PagePath(Page)});
    EXPECT_EQ(R.Status, 0) << Page.Name << R.Err;
    if (Warnings) *Warnings = R.Err;
    return R.Out;
}

TEST(ManPages, RenderWithoutWarningsIndexAndDocumentEveryOptionOfTheHelp) {
    for (const TPage& Page : kPages) {
        SCOPED_TRACE(Page.Name);
        std::string Warnings;
        const std::string Text = Rendered(Page, &Warnings);
        EXPECT_EQ(Warnings, "");
        for (const char* Section : {"NAME", "SYNOPSIS", "DESCRIPTION", "FILES", "SEE ALSO"})
            EXPECT_NE(Text.find(std::string("\n") + Section + "\n"), std::string::npos) << Section;
        EXPECT_NE(Text.find("Zembra " ZEMBRA_VERSION), std::string::npos) << "version in the footer";

        const TProgramResult Index = RunTool({"lexgrog", PagePath(Page)});
        EXPECT_EQ(Index.Status, 0) << Index.Out << Index.Err;
        EXPECT_NE(Index.Out.find(std::string("\"") + Page.WhatIs), std::string::npos) << Index.Out;
    }

    const TProgramResult Help = RunProgram(ZEMBRA_CLI, {"--help"}, std::chrono::seconds(20));
    ASSERT_EQ(Help.Status, 0) << Help.Err;
    const std::set<std::string> Options = CliHelpOptions(Help.Out);
    ASSERT_GE(Options.size(), 10u) << Help.Out;
    const std::string Page = Rendered(kPages[1]);
    const size_t OptionsAt = Page.find("\nOPTIONS\n");
    ASSERT_NE(OptionsAt, std::string::npos);
    const std::string OptionsSection = Page.substr(OptionsAt, Page.find("\nEXIT STATUS\n") - OptionsAt);
    for (const std::string& Option : Options)
        EXPECT_TRUE(NamesOption(OptionsSection, Option)) << Option << " is missing from zembra-cli(1)";
}

// The first cells of the option table in the manual's command-line page, tags removed, a line
// each and indented as --help indents its options.
std::string HelpPageOptionCells() {
    std::ifstream In(std::string(ZEMBRA_SOURCE_DIR) + "/help/commandline.htm");
    std::ostringstream Page;
    Page << In.rdbuf();
    const std::string Text = Page.str();
    static const std::regex kFirstCell(R"(<tr><td>(.*?)</td>)");
    static const std::regex kTag(R"(<[^>]*>)");
    std::string Cells;
    for (std::sregex_iterator I(Text.begin(), Text.end(), kFirstCell), End; I != End; ++I)
        Cells += "  " + std::regex_replace((*I)[1].str(), kTag, "") + "\n";
    return Cells;
}

TEST(ManPages, HelpWindowCommandLinePageListsExactlyTheOptionsOfTheHelp) {
    const TProgramResult Help = RunProgram(ZEMBRA_CLI, {"--help"}, std::chrono::seconds(20));
    ASSERT_EQ(Help.Status, 0) << Help.Err;
    const std::set<std::string> Options = CliHelpOptions(Help.Out);
    ASSERT_GE(Options.size(), 10u) << Help.Out;
    const std::string Cells = HelpPageOptionCells();
    ASSERT_FALSE(Cells.empty()) << "no option table in help/commandline.htm";
    for (const std::string& Option : Options)
        EXPECT_TRUE(NamesOption(Cells, Option)) << Option << " is missing from help/commandline.htm";
    // An option the page names must be one the program takes.
    const std::set<std::string> Named = CliHelpOptions(std::regex_replace(Cells, std::regex(", "), "\n  "));
    for (const std::string& Option : Named)
        EXPECT_TRUE(Options.contains(Option)) << Option << " is in help/commandline.htm but not in --help";
}

}  // namespace
}  // namespace zembra::testing
