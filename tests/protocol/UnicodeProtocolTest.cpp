#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "protocol/UnicodeProtocol.h"
#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra {
namespace {

namespace fs = std::filesystem;

// The tests run under the C locale (ASCII) unless one sets another.
TEST(UnicodeNames, AsciiNamesPassUnchanged) {
    EXPECT_EQ(FileNameToURL(u"C:clip.avi"), "C:clip.avi");  // C is no known protocol
    EXPECT_EQ(FileNameToURL(u"/tmp/a b (1).avi"), "/tmp/a b (1).avi");
    EXPECT_FALSE(NameNeedsUnicodeProtocol(u"/tmp/x.mp3"));
}

TEST(UnicodeNames, OtherNamesBecomeURLsAndRoundTrip) {
    const std::u16string Name = u"/tmp/\u6f22\u5b57 caf\u00e9 \U0001F3B5.avi";
    ASSERT_TRUE(NameNeedsUnicodeProtocol(Name));
    const std::string URL = FileNameToURL(Name);
    EXPECT_EQ(URL, "unicode:utf8:" + Utf16ToUtf8(Name));
    EXPECT_TRUE(IsUnicodeURL(URL));
    EXPECT_EQ(URLToFileName(URL), Name);
    // Names of any length.
    const std::u16string Long = u"/tmp/" + std::u16string(3000, u'\u00e9');
    EXPECT_EQ(URLToFileName(FileNameToURL(Long)), Long);
}

TEST(UnicodeNames, KnownProtocolsAreCaseSensitive) {
    EXPECT_EQ(FileNameToURL(u"http://host/\u00e9"), "http://host/?");
    EXPECT_TRUE(NameNeedsUnicodeProtocol(u"HTTP://host/\u00e9"));
    EXPECT_FALSE(NameNeedsUnicodeProtocol(u"udp:x\u00e9"));
}

TEST(UnicodeNames, PrefixAloneIsNoURL) {
    EXPECT_FALSE(IsUnicodeURL("unicode:utf8:"));
    EXPECT_EQ(URLToFileName("unicode:utf8:"), u"unicode:utf8:");
    EXPECT_EQ(URLToFileName("unicode:utf8:x"), u"x");
    EXPECT_EQ(URLToFileName("plain.wav"), u"plain.wav");
}

TEST(UnicodeNames, UnderAUtf8LocaleNamesPassAsTheyAre) {
    const std::string Old = std::setlocale(LC_CTYPE, nullptr);
    if (!std::setlocale(LC_CTYPE, "C.UTF-8")) GTEST_SKIP() << "no C.UTF-8 locale";
    const std::u16string Name = u"/tmp/caf\u00e9.avi";
    EXPECT_FALSE(NameNeedsUnicodeProtocol(Name));
    EXPECT_EQ(FileNameToURL(Name), Utf16ToUtf8(Name));
    std::setlocale(LC_CTYPE, Old.c_str());
}

class UnicodeFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        char Pattern[] = "/tmp/zembra-proto-XXXXXX";
        ASSERT_NE(::mkdtemp(Pattern), nullptr);
        Dir = Pattern;
        Name = Utf8ToUtf16(Dir) + u"/\u97f3\u697d.bin";
    }
    void TearDown() override { fs::remove_all(Dir); }
    std::string Dir;
    std::u16string Name;
};

TEST_F(UnicodeFiles, HandlersReadWriteSeekAndTruncate) {
    const std::string URL = FileNameToURL(Name);
    TUnicodeFile Missing;
    EXPECT_EQ(UnicodeOpen(Missing, URL, 0), -2);

    TUnicodeFile W;
    ASSERT_EQ(UnicodeOpen(W, URL, 1), 0);
    const uint8_t Data[] = "hello world";
    EXPECT_EQ(UnicodeWrite(W, Data, 11), 11);
    UnicodeClose(W);
    EXPECT_EQ(FileSizeW(Name), 11);

    TUnicodeFile R;
    ASSERT_EQ(UnicodeOpen(R, URL, 0), 0);
    EXPECT_EQ(UnicodeSeek(R, 0, AVSEEK_SIZE), 11);
    EXPECT_EQ(UnicodeSeek(R, 6, SEEK_SET), 6);
    uint8_t Buf[16] = {0};
    EXPECT_EQ(UnicodeRead(R, Buf, 16), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(Buf), 5), "world");
    EXPECT_EQ(UnicodeSeek(R, -3, SEEK_END), 8);
    EXPECT_EQ(UnicodeSeek(R, 0, 7), -1);
    EXPECT_EQ(UnicodeWrite(R, Data, 1), -1);  // opened for reading only
    UnicodeClose(R);

    TUnicodeFile T;
    ASSERT_EQ(UnicodeOpen(T, URL, 2), 0);  // an existing file is truncated
    UnicodeClose(T);
    EXPECT_EQ(FileSizeW(Name), 0);

    TUnicodeFile Folder;
    EXPECT_EQ(UnicodeOpen(Folder, FileNameToURL(Utf8ToUtf16(Dir) + u"/\u00e9/../"), 0), -2);
}

// Under the C locale and under a UTF-8 one alike, a name that is not UTF-8 is opened as its bytes.
TEST_F(UnicodeFiles, NamesThatAreNotUtf8ReachTheFileSystemAsTheirBytes) {
    const std::string Old = std::setlocale(LC_CTYPE, nullptr);
    for (const char* Locale : {"C", "C.UTF-8"}) {
        if (!std::setlocale(LC_CTYPE, Locale)) continue;
        const std::string Bytes = Dir + "/\xff\xfe-" + Locale + ".bin";
        const std::u16string Wide = Utf8ToUtf16(Bytes);
        EXPECT_TRUE(NameNeedsUnicodeProtocol(Wide)) << Locale;
        const std::string URL = FileNameToURL(Wide);
        EXPECT_EQ(URL, "unicode:utf8:" + Bytes) << Locale;
        EXPECT_EQ(URLToFileName(URL), Wide) << Locale;
        TUnicodeFile W;
        EXPECT_EQ(UnicodeOpen(W, URL, 1), 0) << Locale;
        UnicodeClose(W);
        struct stat St {};
        EXPECT_EQ(::stat(Bytes.c_str(), &St), 0) << Locale;
    }
    std::setlocale(LC_CTYPE, Old.c_str());
    // Nothing else was made, under another name.
    std::set<std::string> Made;
    for (const auto& Entry : fs::directory_iterator(Dir)) Made.insert(Entry.path().filename().string());
    std::set<std::string> Expected = {"\xff\xfe-C.bin"};
    if (std::setlocale(LC_CTYPE, "C.UTF-8")) Expected.insert("\xff\xfe-C.UTF-8.bin");
    std::setlocale(LC_CTYPE, Old.c_str());
    EXPECT_EQ(Made, Expected);
}

TEST_F(UnicodeFiles, CustomIOContextsCarryTheData) {
    FFLoader().SetLibraryPath(DefaultLibraryFolder());
    ASSERT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
    EXPECT_TRUE(UnicodeProtocolRegistered());
    const std::string URL = FileNameToURL(Name);
    int Error = 0;
    AVIOContext* Out = OpenUnicodeIO(URL, 1, Error);
    ASSERT_NE(Out, nullptr);
    EXPECT_TRUE(IsUnicodeIO(Out));
    std::string Payload;
    for (int I = 0; I < 200000; ++I) Payload.push_back(static_cast<char>('a' + I % 26));
    // Larger than the context's buffer, so the handlers run more than once.
    lavf.avio_write(Out, reinterpret_cast<const unsigned char*>(Payload.data()),
                    static_cast<int>(Payload.size()));
    CloseUnicodeIO(Out);  // flushes the rest
    EXPECT_EQ(Out, nullptr);
    EXPECT_EQ(FileSizeW(Name), int64_t(Payload.size()));

    AVIOContext* In = OpenUnicodeIO(URL, 0, Error);
    ASSERT_NE(In, nullptr);
    EXPECT_EQ(lavf.avio_size(In), int64_t(Payload.size()));
    EXPECT_EQ(lavf.avio_seek(In, 199990, SEEK_SET), 199990);
    unsigned char Tail[32] = {0};
    EXPECT_EQ(lavf.avio_read(In, Tail, 32), 10);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(Tail), 10), Payload.substr(199990));
    CloseUnicodeIO(In);

    EXPECT_EQ(OpenUnicodeIO(FileNameToURL(Utf8ToUtf16(Dir) + u"/\u00e9-missing"), 0, Error), nullptr);
    EXPECT_EQ(Error, AVERROR(ENOENT));

    // With no handle left (the limit at the lowest free descriptor) the cause is said.
    rlimit Limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &Limit), 0);
    const int Lowest = ::dup(0);
    ASSERT_GE(Lowest, 0);
    ::close(Lowest);
    rlimit Exhausted = Limit;
    Exhausted.rlim_cur = static_cast<rlim_t>(Lowest);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &Exhausted), 0);
    AVIOContext* None = OpenUnicodeIO(URL, 0, Error);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &Limit), 0);
    EXPECT_EQ(None, nullptr);
    EXPECT_EQ(Error, AVERROR(EMFILE));
}

}  // namespace
}  // namespace zembra
