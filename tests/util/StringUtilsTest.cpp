#include <gtest/gtest.h>

#include "util/StringUtils.h"

namespace zembra {
namespace {

TEST(SplitFirst, TakesTextBeforeFirstSeparatorAndRemovesIt) {
    std::string Source = "a=b=c";
    EXPECT_EQ(SplitFirst(Source, "=", true), "a");
    EXPECT_EQ(Source, "b=c");
}

TEST(SplitFirst, WithoutSeparatorReturnsAllAndEmptiesSource) {
    std::string Source = "abc";
    EXPECT_EQ(SplitFirst(Source, "=", true), "abc");
    EXPECT_EQ(Source, "");
}

TEST(SplitFirst, WithoutRemoveLeavesSourceAlone) {
    std::string Source = "x-y";
    EXPECT_EQ(SplitFirst(Source, "-", false), "x");
    EXPECT_EQ(Source, "x-y");
}

TEST(SplitFirst, MultiCharacterSeparatorAndEdges) {
    std::string Source = "one\r\ntwo";
    EXPECT_EQ(SplitFirst(Source, "\r\n", true), "one");
    EXPECT_EQ(Source, "two");
    std::string Leading = "=v";
    EXPECT_EQ(SplitFirst(Leading, "=", true), "");
    EXPECT_EQ(Leading, "v");
    std::string Trailing = "k=";
    EXPECT_EQ(SplitFirst(Trailing, "=", true), "k");
    EXPECT_EQ(Trailing, "");
    std::u16string Wide = u"10-20";
    EXPECT_EQ(SplitFirst(Wide, u"-", true), u"10");
    EXPECT_EQ(Wide, u"20");
}

TEST(Utf, RoundTripsOutsideTheBasicPlane) {
    const std::u16string Text = u"caf\u00e9 \u6f22\u5b57 \U0001F3B5";
    const std::string Utf8 = Utf16ToUtf8(Text);
    EXPECT_EQ(Utf8, "caf\xc3\xa9 \xe6\xbc\xa2\xe5\xad\x97 \xf0\x9f\x8e\xb5");
    EXPECT_EQ(Utf8ToUtf16(Utf8), Text);
}

TEST(Utf, MalformedInputBecomesReplacementCharacters) {
    EXPECT_EQ(Utf8ToUtf16("a\xff"
                          "b"),
              u"a\ufffdb");
    EXPECT_EQ(Utf8ToUtf16("\xc0\xaf"), u"\ufffd\ufffd");  // overlong '/'
    EXPECT_EQ(Utf8ToUtf16("\xe6\xbc"), u"\ufffd\ufffd");  // cut short
    const std::u16string Lone = {u'a', char16_t(0xD800), u'b'};
    EXPECT_EQ(Utf16ToUtf8(Lone),
              "a\xef\xbf\xbd"
              "b");
}

TEST(Locale, CLocaleHoldsAsciiOnly) {
    // The tests run under the C locale unless they set one.
    EXPECT_EQ(WideToLocale(u"plain.avi"), std::optional<std::string>("plain.avi"));
    EXPECT_EQ(WideToLocale(u"\u6f22.avi"), std::nullopt);
    EXPECT_EQ(WideToLocaleLossy(u"\u6f22.avi"), "?.avi");
}

TEST(Text, TrimCaseAndFormat) {
    EXPECT_EQ(Trim("  a b \t\n"), "a b");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_TRUE(SameText("DeBuG", "debug"));
    EXPECT_FALSE(SameText("debug", "debugx"));
    EXPECT_EQ(Format("%s-%d", "x", 5), "x-5");
    EXPECT_EQ(Format("%s", std::string(5000, 'z').c_str()).size(), 5000u);
    EXPECT_TRUE(IsPrintableChar(32));
    EXPECT_TRUE(IsPrintableChar(126));
    EXPECT_FALSE(IsPrintableChar(31));
    EXPECT_FALSE(IsPrintableChar(127));
}

}  // namespace
}  // namespace zembra
