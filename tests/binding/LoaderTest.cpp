#include <gtest/gtest.h>

#include <climits>
#include <cmath>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "util/StringUtils.h"

namespace zembra {
namespace {

TEST(LoaderFileNames, FollowTheSharedObjectRule) {
    TFFmpegLoader& L = FFLoader();
    EXPECT_EQ(L.LibraryFileName(libAVCodec),
              u"libavcodec.so." + Utf8ToUtf16(std::to_string(LIBAVCODEC_VERSION_MAJOR)));
    EXPECT_EQ(L.LibraryFileName(libAVUtil),
              u"libavutil.so." + Utf8ToUtf16(std::to_string(LIBAVUTIL_VERSION_MAJOR)));
    EXPECT_EQ(L.LibraryFileName(libAVFilter),
              u"libavfilter.so." + Utf8ToUtf16(std::to_string(LIBAVFILTER_VERSION_MAJOR)));
    EXPECT_EQ(L.LibraryFileName(libMyUtil), u"libmyutil.so");
    EXPECT_EQ(L.LibraryFileName(libSDL), u"libSDL.so");
    EXPECT_EQ(L.LibraryFileName(libSwResample), u"libswresample.so.4");
    EXPECT_EQ(L.LibraryFileName(99), u"");
}

TEST(LoaderSets, DefaultSetLoadsFromFolderAndFallsBackToDefaultSearch) {
    TFFmpegLoader& L = FFLoader();
    L.SetLibraryPath(DefaultLibraryFolder());
    ASSERT_TRUE(L.LoadLibrarySet(kDefaultLibrarySet)) << L.LastError();
    EXPECT_TRUE(L.AllLoaded(kDefaultLibrarySet));
    // The support library is in the folder and is taken from there by its full path ...
    EXPECT_EQ(L.LoadedFrom(libMyUtil), Utf16ToUtf8(DefaultLibraryFolder()) + "/libmyutil.so");
    // ... the media libraries are not, so the bare name went through the default search.
    EXPECT_EQ(L.LoadedFrom(libAVCodec), Utf16ToUtf8(L.LibraryFileName(libAVCodec)));
    EXPECT_FALSE(L.IsLoaded(libAVDevice));
    EXPECT_FALSE(L.IsLoaded(libSDL));
    EXPECT_NE(lavc.avcodec_open2, nullptr);
    EXPECT_NE(lavf.avformat_open_input, nullptr);
    EXPECT_NE(lswr.swr_convert, nullptr);
    EXPECT_NE(myutil.my_snprintf, nullptr);
    // The tables call the real thing.
    EXPECT_EQ(lavu.avutil_version() >> 16, unsigned(LIBAVUTIL_VERSION_MAJOR));
    char Buf[16] = {0};
    myutil.my_snprintf(Buf, sizeof(Buf), "%d-%s", 7, "x");
    EXPECT_STREQ(Buf, "7-x");
}

TEST(LoaderSets, SecondLoadAddsNothing) {
    TFFmpegLoader& L = FFLoader();
    L.SetLibraryPath(DefaultLibraryFolder());
    ASSERT_TRUE(L.LoadLibrarySet(kDefaultLibrarySet)) << L.LastError();
    const auto OpenBefore = lavc.avcodec_open2;
    const std::string FromBefore = L.LoadedFrom(libMyUtil);
    ASSERT_TRUE(L.LoadLibrarySet(kDefaultLibrarySet));
    EXPECT_EQ(lavc.avcodec_open2, OpenBefore);
    EXPECT_EQ(L.LoadedFrom(libMyUtil), FromBefore);
}

TEST(LoaderSets, MissingEntryPointUnloadsTheWholeSet) {
    TFFmpegLoader& L = FFLoader();
    // A set already loaded stays loaded whatever the folder says: the loader is process-wide,
    // and an earlier test may have loaded it.
    L.UnloadLibrarySet(kDefaultLibrarySet);
    L.SetLibraryPath(ZEMBRA_INCOMPLETE_LIB_DIR_U);
    EXPECT_FALSE(L.LoadLibrarySet(kDefaultLibrarySet));
    const std::string Prefix = "Load function my_strtok@libmyutil.so error: ";
    ASSERT_EQ(L.LastError().substr(0, Prefix.size()), Prefix) << L.LastError();
    EXPECT_GT(L.LastError().size(), Prefix.size());  // the platform's own text follows
    EXPECT_FALSE(L.AllLoaded(kDefaultLibrarySet));
    for (int I = 0; I < kLibraryCount; ++I) EXPECT_FALSE(L.IsLoaded(I)) << I;
    EXPECT_EQ(lavc.avcodec_open2, nullptr);
    EXPECT_EQ(myutil.my_fopen, nullptr);

    // The same loader recovers once the folder is right.
    L.SetLibraryPath(DefaultLibraryFolder());
    EXPECT_TRUE(L.LoadLibrarySet(kDefaultLibrarySet)) << L.LastError();
}

TEST(LoaderSets, MissingLibraryNamesFolderAndFile) {
    TFFmpegLoader& L = FFLoader();
    L.SetLibraryPath(u"/nonexistent/libs");
    EXPECT_FALSE(L.LoadLibraryItem(libSDL));
    const std::string Prefix = "Load library /nonexistent/libs/libSDL.so error: ";
    EXPECT_EQ(L.LastError().substr(0, Prefix.size()), Prefix) << L.LastError();
    EXPECT_FALSE(L.IsLoaded(libSDL));

    // A set that holds it fails and leaves its other members unloaded.
    EXPECT_FALSE(L.LoadLibrarySet(LibraryBit(libAVUtil) | LibraryBit(libSDL)));
    EXPECT_FALSE(L.IsLoaded(libAVUtil));
}

TEST(LoaderSets, UnloadClearsTheTable) {
    TFFmpegLoader& L = FFLoader();
    L.SetLibraryPath(DefaultLibraryFolder());
    ASSERT_TRUE(L.LoadLibraryItem(libSwScale)) << L.LastError();
    EXPECT_NE(lsws.sws_scale, nullptr);
    L.UnloadLibraryItem(libSwScale);
    EXPECT_FALSE(L.IsLoaded(libSwScale));
    EXPECT_EQ(lsws.sws_scale, nullptr);
    L.UnloadLibraryItem(libSwScale);  // twice is harmless
}

TEST(LoaderHelpers, ClipInt) {
    EXPECT_EQ(ClipInt(-5, 0, 10), 0);
    EXPECT_EQ(ClipInt(15, 0, 10), 10);
    EXPECT_EQ(ClipInt(7, 0, 10), 7);
    EXPECT_EQ(ClipInt(INT_MIN, INT_MIN, 0), INT_MIN);
}

TEST(LoaderHelpers, DoubleToRational) {
    TFFmpegLoader& L = FFLoader();
    L.SetLibraryPath(DefaultLibraryFolder());
    ASSERT_TRUE(L.LoadLibraryItem(libAVUtil)) << L.LastError();
    auto Is = [](AVRational R, int Num, int Den) { return R.num == Num && R.den == Den; };
    EXPECT_TRUE(Is(DoubleToRational(25.0, 255), 25, 1));
    EXPECT_TRUE(Is(DoubleToRational(0.5, 255), 1, 2));
    EXPECT_TRUE(Is(DoubleToRational(-2.5, 255), -5, 2));
    EXPECT_TRUE(Is(DoubleToRational(29.97, 100000), 2997, 100));
    EXPECT_TRUE(Is(DoubleToRational(4.0 / 3.0, 255), 4, 3));
    // Near 2^30 a 32-bit shift would turn the denominator negative and flip the sign.
    const AVRational Big = DoubleToRational(1073741824.0, INT_MAX);
    EXPECT_GT(Big.num, 0);
    EXPECT_GT(Big.den, 0);
    EXPECT_NEAR(double(Big.num) / Big.den, 1073741824.0, 1.0);
    EXPECT_TRUE(Is(DoubleToRational(NAN, 255), 0, 0));
    EXPECT_TRUE(Is(DoubleToRational(INFINITY, 255), 1, 0));
    EXPECT_TRUE(Is(DoubleToRational(-1e300, 255), -1, 0));
}

}  // namespace
}  // namespace zembra
