#include <gtest/gtest.h>

#include <random>

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

// A byte that is not part of a well-formed sequence stands for itself as U+DC00 + byte.
constexpr char16_t Esc(unsigned char Byte) {
    return static_cast<char16_t>(0xDC00 + Byte);
}

struct TByteName {
    const char* What;
    std::string Bytes;
    std::u16string Wide;
};

TEST(Utf, EveryByteStringRoundTrips) {
    const TByteName Cases[] = {
        {"empty", "", u""},
        {"ASCII", "a/b.avi", u"a/b.avi"},
        {"two bytes", "\xc3\xa9", u"\u00e9"},
        {"three bytes", "\xe6\xbc\xa2", u"\u6f22"},
        {"four bytes", "\xf0\x9f\x8e\xb5", u"\U0001F3B5"},
        {"the last code point", "\xf4\x8f\xbf\xbf", u"\U0010FFFF"},
        {"the byte-order mark", "\xef\xbb\xbf", u"\ufeff"},
        {"ff fe", "\xff\xfe", {Esc(0xFF), Esc(0xFE)}},
        {"ff fe in a name",
         "/tmp/\xff\xfe.avi",
         {u'/', u't', u'm', u'p', u'/', Esc(0xFF), Esc(0xFE), u'.', u'a', u'v', u'i'}},
        {"lone continuation bytes",
         "a\x80"
         "b\xbf",
         {u'a', Esc(0x80), u'b', Esc(0xBF)}},
        {"overlong slash, two bytes", "\xc0\xaf", {Esc(0xC0), Esc(0xAF)}},
        {"overlong, C1 lead", "\xc1\xbf", {Esc(0xC1), Esc(0xBF)}},
        {"overlong slash, three bytes", "\xe0\x80\xaf", {Esc(0xE0), Esc(0x80), Esc(0xAF)}},
        {"overlong slash, four bytes", "\xf0\x80\x80\xaf", {Esc(0xF0), Esc(0x80), Esc(0x80), Esc(0xAF)}},
        {"three bytes cut short", "\xe6\xbc", {Esc(0xE6), Esc(0xBC)}},
        {"cut short before ASCII",
         "\xe6\xbc"
         "a",
         {Esc(0xE6), Esc(0xBC), u'a'}},
        {"four bytes cut short", "\xf0\x9f\x8e", {Esc(0xF0), Esc(0x9F), Esc(0x8E)}},
        {"a lead byte before a whole sequence", "\xe6\xe6\xbc\xa2", {Esc(0xE6), u'\u6f22'}},
        {"encoded leading surrogate", "\xed\xa0\x80", {Esc(0xED), Esc(0xA0), Esc(0x80)}},
        {"encoded escape itself", "\xed\xb3\xbf", {Esc(0xED), Esc(0xB3), Esc(0xBF)}},
        {"encoded surrogate pair",
         "\xed\xa0\xbd\xed\xb2\xa9",
         {Esc(0xED), Esc(0xA0), Esc(0xBD), Esc(0xED), Esc(0xB2), Esc(0xA9)}},
        {"beyond U+10FFFF", "\xf4\x90\x80\x80", {Esc(0xF4), Esc(0x90), Esc(0x80), Esc(0x80)}},
        {"F5 lead", "\xf5\x80\x80\x80", {Esc(0xF5), Esc(0x80), Esc(0x80), Esc(0x80)}},
        {"Latin-1 name", "caf\xe9.mp3", {u'c', u'a', u'f', Esc(0xE9), u'.', u'm', u'p', u'3'}},
        {"valid beside invalid", "\xc3\xa9\xff\xc3\xa9", {u'\u00e9', Esc(0xFF), u'\u00e9'}},
    };
    for (const TByteName& C : Cases) {
        EXPECT_EQ(Utf8ToUtf16(C.Bytes), C.Wide) << C.What;
        EXPECT_EQ(Utf16ToUtf8(C.Wide), C.Bytes) << C.What;
    }
    for (int B = 0x80; B <= 0xFF; ++B) {
        const std::string Bytes = "x" + std::string(1, static_cast<char>(B)) + "y";
        const std::u16string Wide = {u'x', Esc(static_cast<unsigned char>(B)), u'y'};
        EXPECT_EQ(Utf8ToUtf16(Bytes), Wide) << "byte " << B;
        EXPECT_EQ(Utf16ToUtf8(Wide), Bytes) << "byte " << B;
    }
}

TEST(Utf, RandomByteStringsRoundTrip) {
    std::mt19937 Rng(2026);
    for (int N = 0; N < 20000; ++N) {
        std::string Bytes(Rng() % 12, '\0');
        // Mostly high bytes, so that sequences good and bad of every length turn up.
        for (char& B : Bytes) B = static_cast<char>(Rng() % 4 == 0 ? Rng() % 0x80 : 0x80 + Rng() % 0x80);
        ASSERT_EQ(Utf16ToUtf8(Utf8ToUtf16(Bytes)), Bytes);
    }
}

TEST(Utf, OtherLoneSurrogatesBecomeReplacementCharacters) {
    for (const char16_t Lone : {char16_t(0xD800), char16_t(0xDBFF), char16_t(0xDC00), char16_t(0xDC7F)}) {
        const std::u16string Text = {u'a', Lone, u'b'};
        EXPECT_EQ(Utf16ToUtf8(Text),
                  "a\xef\xbf\xbd"
                  "b")
            << int(Lone);
    }
    // A leading surrogate takes the trailing one after it, even one in the escape range.
    EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xD800), char16_t(0xDC80)}), "\xf0\x90\x82\x80");
}

TEST(Utf, ReadableTextShowsStrayBytesAsHex) {
    EXPECT_EQ(ReadableText("/tmp/\xff\xfe.avi"), "/tmp/\\xFF\\xFE.avi");
    EXPECT_EQ(ReadableText(Utf8ToUtf16("/tmp/\xff\xfe.avi")), "/tmp/\\xFF\\xFE.avi");
    EXPECT_EQ(ReadableText("caf\xc3\xa9 \xe6\xbc\xa2 \xf0\x9f\x8e\xb5"),
              "caf\xc3\xa9 \xe6\xbc\xa2 \xf0\x9f\x8e\xb5");
    EXPECT_EQ(ReadableText("\xed\xa0\x80"), "\\xED\\xA0\\x80");
    EXPECT_EQ(ReadableText("\xe6\xbc"), "\\xE6\\xBC");
    // What it gives is well formed: it decodes without a single escape.
    for (int B = 0x80; B <= 0xFF; ++B) {
        const std::u16string Back = Utf8ToUtf16(ReadableText("a" + std::string(1, static_cast<char>(B))));
        EXPECT_EQ(Back, Utf8ToUtf16(Format("a\\x%02X", B))) << B;
    }
}

TEST(Locale, CLocaleHoldsAsciiOnly) {
    // The tests run under the C locale unless they set one.
    EXPECT_EQ(WideToLocale(u"plain.avi"), std::optional<std::string>("plain.avi"));
    EXPECT_EQ(WideToLocale(u"\u6f22.avi"), std::nullopt);
    EXPECT_EQ(WideToLocaleLossy(u"\u6f22.avi"), "?.avi");
    // A message names a file whose name is not UTF-8 by its bytes.
    EXPECT_EQ(WideToLocale(Utf8ToUtf16("/x/\xfe"
                                       "x.wav")),
              std::nullopt);
    EXPECT_EQ(WideToLocaleLossy(Utf8ToUtf16("/x/\xfe"
                                            "x.wav")),
              "/x/\\xFEx.wav");
    EXPECT_EQ(WideToLocaleLossy(std::u16string{u'a', char16_t(0xDC7F), char16_t(0xD800)}), "a??");
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
