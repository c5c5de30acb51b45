#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "util/StringUtils.h"
#include "util/WideFiles.h"

namespace zembra {
namespace {

namespace fs = std::filesystem;

class TempDir {
  public:
    TempDir() {
        std::string Pattern = (fs::temp_directory_path() / "zembra-wide-XXXXXX").string();
        FPath = ::mkdtemp(Pattern.data());
    }
    ~TempDir() {
        std::error_code Ec;
        fs::remove_all(FPath, Ec);
    }
    std::u16string W() const { return Utf8ToUtf16(FPath); }
    const std::string& Path() const { return FPath; }

  private:
    std::string FPath;
};

void Touch(const std::string& Name, size_t Bytes = 0) {
    std::ofstream Out(Name, std::ios::binary);
    Out << std::string(Bytes, 'x');
}

TEST(PathText, DelimitersAndSurrogates) {
    EXPECT_EQ(IncludeTrailingPathDelimiterW(u"/tmp"), u"/tmp/");
    EXPECT_EQ(IncludeTrailingPathDelimiterW(u"/tmp/"), u"/tmp/");
    EXPECT_EQ(IncludeTrailingPathDelimiterW(u""), u"/");
    const std::u16string Pair = u"\U0001F3B5";  // two units
    EXPECT_TRUE(IsSurrogate(Pair[0]));
    EXPECT_EQ(SurrogateKind(Pair, 1), 1);
    EXPECT_EQ(SurrogateKind(Pair, 2), 2);
    EXPECT_EQ(SurrogateKind(Pair, 3), 0);
    EXPECT_EQ(SurrogateKind(Pair, 0), 0);
    EXPECT_EQ(SurrogateKind(u"a", 1), 0);
    EXPECT_FALSE(IsPathDelimiterW(u"/", 0));
    EXPECT_TRUE(IsPathDelimiterW(u"a/", 2));
    EXPECT_FALSE(IsPathDelimiterW(u"a/", 3));
}

TEST(PathText, ExtractPathAndName) {
    EXPECT_EQ(ExtractFilePathW(u"/music/a.mp3"), u"/music/");
    EXPECT_EQ(ExtractFileNameW(u"/music/a.mp3"), u"a.mp3");
    EXPECT_EQ(ExtractFilePathW(u"a.mp3"), u"");
    EXPECT_EQ(ExtractFileNameW(u"a.mp3"), u"a.mp3");
    // The colon is an ordinary character here.
    EXPECT_EQ(ExtractFileNameW(u"/x/C:clip.avi"), u"C:clip.avi");
    EXPECT_EQ(LastDelimiterW(u"/.", u"/a/b.c"), 5u);
    EXPECT_EQ(LastDelimiterW(u"/", u"abc"), 0u);
    EXPECT_EQ(ExtractFilePath("/a/b/c.txt"), "/a/b/");
    EXPECT_EQ(ExtractFilePath("c.txt"), "");
}

TEST(PathText, ExpandFileName) {
    EXPECT_EQ(ExpandFileNameW(u"/a/./b/../c.txt"), u"/a/c.txt");
    EXPECT_EQ(ExpandFileNameW(u"/../x"), u"/x");
    const std::u16string Cwd = GetCurrentDirW();
    EXPECT_EQ(ExpandFileNameW(u"rel.txt"), IncludeTrailingPathDelimiterW(Cwd) + u"rel.txt");
}

TEST(WideFiles, ExistenceAndSizeOfUnicodeNames) {
    TempDir Dir;
    const std::u16string Name = IncludeTrailingPathDelimiterW(Dir.W()) + u"\u6f22\u5b57 clip (1).wav";
    EXPECT_FALSE(FileExistsW(Name));
    EXPECT_EQ(FileSizeW(Name), -1);
    Touch(FileSystemName(Name), 1234);
    EXPECT_TRUE(FileExistsW(Name));
    EXPECT_EQ(FileSizeW(Name), 1234);
    EXPECT_FALSE(FileExistsW(Dir.W()));  // a folder is no file
    EXPECT_EQ(FileSizeW(Dir.W()), -1);
    EXPECT_TRUE(DirectoryExistsW(Dir.W()));
    EXPECT_TRUE(FileExists(FileSystemName(Name)));
}

TEST(WideFiles, SizeBeyondFourGigabytes) {
    TempDir Dir;
    const std::string Name = Dir.Path() + "/big.bin";
    const int Fd = ::open(Name.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(Fd, 0);
    const off_t Size = (off_t(5) << 30) + 7;  // sparse: takes no room
    ASSERT_EQ(::ftruncate(Fd, Size), 0);
    ::close(Fd);
    EXPECT_EQ(FileSizeW(Utf8ToUtf16(Name)), int64_t(Size));
}

TEST(WideFiles, CurrentDirectoryAndEnvironment) {
    TempDir Dir;
    const std::u16string Old = GetCurrentDirW();
    ASSERT_TRUE(SetCurrentDirW(Dir.W()));
    EXPECT_EQ(GetCurrentDirW(), Utf8ToUtf16(fs::canonical(Dir.Path()).string()));
    EXPECT_TRUE(SetCurrentDirW(Old));
    EXPECT_FALSE(SetCurrentDirW(u"/nonexistent/folder"));
    const std::string Long(3000, 'v');
    setenv("ZEMBRA_TEST_VAR", Long.c_str(), 1);
    EXPECT_EQ(GetEnvironmentVariableW(u"ZEMBRA_TEST_VAR"), Utf8ToUtf16(Long));
    EXPECT_EQ(GetEnvironmentVariableW(u"ZEMBRA_TEST_UNSET_VAR"), u"");
}

std::set<std::u16string> FindAll(const std::u16string& Pattern, int Attr) {
    std::set<std::u16string> Names;
    TSearchRecW Rec;
    for (int R = FindFirstW(Pattern, Attr, Rec); R == 0; R = FindNextW(Rec)) Names.insert(Rec.Name);
    FindCloseW(Rec);
    return Names;
}

TEST(FindFiles, PatternAndAttributeFilter) {
    TempDir Dir;
    Touch(Dir.Path() + "/a.mp3", 10);
    Touch(Dir.Path() + "/b.mp3", 20);
    Touch(Dir.Path() + "/c.wav");
    Touch(Dir.Path() + "/.hidden.mp3");
    fs::create_directory(Dir.Path() + "/sub.mp3");
    const std::u16string Base = IncludeTrailingPathDelimiterW(Dir.W());

    EXPECT_EQ(FindAll(Base + u"*.mp3", 0), (std::set<std::u16string>{u"a.mp3", u"b.mp3"}));
    EXPECT_EQ(FindAll(Base + u"*.mp3", faDirectory),
              (std::set<std::u16string>{u"a.mp3", u"b.mp3", u"sub.mp3"}));
    EXPECT_EQ(FindAll(Base + u"*", faHidden).count(u".hidden.mp3"), 1u);
    EXPECT_EQ(FindAll(Base + u"?.wav", 0), (std::set<std::u16string>{u"c.wav"}));

    TSearchRecW Rec;
    ASSERT_EQ(FindFirstW(Base + u"b.mp3", 0, Rec), 0);
    EXPECT_EQ(Rec.Size(), 20);
    EXPECT_EQ(Rec.SizeHigh, 0u);
    EXPECT_TRUE(Rec.Attr & faArchive);
    EXPECT_GT(Rec.Time, 0);
    FindCloseW(Rec);
}

TEST(FindFiles, NamesThatAreNotUtf8AreFoundAndOpenAsTheyAre) {
    TempDir Dir;
    const std::string Folder = Dir.Path() + "/\xe9t\xe9";  // Latin-1
    fs::create_directory(Folder);
    const std::set<std::string> Bytes = {"\xff\xfe.mp3", "caf\xe9.mp3", "\xed\xa0\x80.mp3", "ok.mp3"};
    size_t Size = 1;
    for (const std::string& Name : Bytes) Touch(Folder + "/" + Name, Size++);
    const std::u16string Base = IncludeTrailingPathDelimiterW(Utf8ToUtf16(Folder));

    std::set<std::string> Found;
    for (const std::u16string& Name : FindAll(Base + u"*.mp3", 0)) {
        Found.insert(FileSystemName(Name));
        EXPECT_TRUE(FileExistsW(Base + Name)) << ReadableText(Name);
        EXPECT_GT(FileSizeW(Base + Name), 0) << ReadableText(Name);
    }
    EXPECT_EQ(Found, Bytes);
    EXPECT_TRUE(DirectoryExistsW(Utf8ToUtf16(Folder)));
    EXPECT_EQ(FileSystemName(ExpandFileNameW(Base + u"../\u00e9t\u00e9/x")),
              Dir.Path() + "/\xc3\xa9t\xc3\xa9/x");
}

TEST(FindFiles, FailuresLeaveNothingOpen) {
    TempDir Dir;
    TSearchRecW Rec;
    EXPECT_NE(FindFirstW(Dir.W() + u"/*.none", 0, Rec), 0);
    EXPECT_FALSE(Rec.State);
    EXPECT_NE(FindFirstW(u"/nonexistent/folder/*", 0, Rec), 0);
    EXPECT_FALSE(Rec.State);
    EXPECT_NE(FindNextW(Rec), 0);
}

}  // namespace
}  // namespace zembra
