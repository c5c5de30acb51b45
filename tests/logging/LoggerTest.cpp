#include <gtest/gtest.h>

#include <atomic>
#include <cstdarg>
#include <future>
#include <thread>
#include <vector>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "logging/FFmpegLogger.h"
#include "util/MainThread.h"
#include "util/Thread.h"

namespace zembra {
namespace {

const char* ItemName(void*) {
    return "tester";
}
const AVClass kTestClass = {"TestClass", ItemName, nullptr, LIBAVUTIL_VERSION_INT};
struct TTestContext {
    const AVClass* Class = &kTestClass;
};

void Feed(void* Context, int Level, const char* Fmt, ...) {
    va_list Args;
    va_start(Args, Fmt);
    TFFLogger::LibraryCallback(Context, Level, Fmt, Args);
    va_end(Args);
}

struct TLine {
    uint32_t ThreadId;
    TLogLevel Level;
    std::string Text;
    bool OnMain;
};

class LoggerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetLoggerLineTable();
        GetLogger().SetOnLog([this](void*, uint32_t Tid, TLogLevel Level, const std::string& Msg) {
            Lines.push_back({Tid, Level, Msg, IsMainThread()});
        });
    }
    void TearDown() override { GetLogger().SetOnLog(nullptr); }
    std::string Prefix() const {
        char Buf[64];
        std::snprintf(Buf, sizeof(Buf), "[tester @ %p]", static_cast<const void*>(&Context));
        return Buf;
    }
    TTestContext Context;
    std::vector<TLine> Lines;
};

TEST(LogLevelMapping, NumericRoundTripAndLimits) {
    EXPECT_EQ(LogLevelToNumeric(llQuiet), -8);
    EXPECT_EQ(LogLevelToNumeric(llPanic), 0);
    EXPECT_EQ(LogLevelToNumeric(llInfo), 32);
    EXPECT_EQ(LogLevelToNumeric(llDebug), 48);
    EXPECT_EQ(NumericToLogLevel(-8), llQuiet);
    EXPECT_EQ(NumericToLogLevel(-100), llQuiet);
    EXPECT_EQ(NumericToLogLevel(-7), llPanic);
    EXPECT_EQ(NumericToLogLevel(7), llPanic);
    EXPECT_EQ(NumericToLogLevel(16), llError);
    EXPECT_EQ(NumericToLogLevel(20), llError);
    EXPECT_EQ(NumericToLogLevel(48), llDebug);
    EXPECT_EQ(NumericToLogLevel(56), llDebug);  // trace
    EXPECT_EQ(NumericToLogLevel(1000), llDebug);
    for (int L = llQuiet; L <= llDebug; ++L)
        EXPECT_EQ(NumericToLogLevel(LogLevelToNumeric(static_cast<TLogLevel>(L))), L);
}

TEST_F(LoggerTest, PartialOutputJoinsIntoOneLineWithOnePrefix) {
    Feed(&Context, AV_LOG_INFO, "abc");
    EXPECT_TRUE(Lines.empty());
    Feed(&Context, AV_LOG_INFO, "%s\n", "def");
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0].Text, Prefix() + "abcdef");
    EXPECT_EQ(Lines[0].Level, llInfo);
    EXPECT_EQ(Lines[0].ThreadId, CurrentThreadId());
}

TEST_F(LoggerTest, SeveralLineEndsDeliverSeveralLinesAndKeepTheRest) {
    Feed(nullptr, AV_LOG_WARNING, "x\ny\nz");
    ASSERT_EQ(Lines.size(), 2u);
    EXPECT_EQ(Lines[0].Text, "x");
    EXPECT_EQ(Lines[1].Text, "y");
    EXPECT_EQ(Lines[1].Level, llWarning);
    Feed(&Context, AV_LOG_WARNING, "!\n");  // continues z: no prefix
    ASSERT_EQ(Lines.size(), 3u);
    EXPECT_EQ(Lines[2].Text, "z!");
    Feed(&Context, AV_LOG_WARNING, "new\n");  // a fresh line gets the prefix
    ASSERT_EQ(Lines.size(), 4u);
    EXPECT_EQ(Lines[3].Text, Prefix() + "new");
}

TEST_F(LoggerTest, LevelsAboveTheThresholdAreDropped) {
    ASSERT_EQ(TFFLogger::Threshold(), 32);
    Feed(&Context, AV_LOG_VERBOSE, "hidden\n");
    Feed(&Context, AV_LOG_DEBUG, "hidden\n");
    EXPECT_TRUE(Lines.empty());
    Feed(&Context, AV_LOG_ERROR, "shown\n");
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0].Level, llError);
}

TEST_F(LoggerTest, OverlongOutputIsCutNotOverrun) {
    const std::string Long(5000, 'q');
    Feed(&Context, AV_LOG_INFO, "%s", Long.c_str());
    Feed(&Context, AV_LOG_INFO, "%s\n", Long.c_str());
    ASSERT_FALSE(Lines.empty());
    for (const TLine& L : Lines) EXPECT_LT(L.Text.size(), 2048u);
    EXPECT_EQ(Lines[0].Text.substr(0, Prefix().size()), Prefix());
}

TEST_F(LoggerTest, TwoThreadsKeepSeparateUnfinishedLines) {
    std::atomic<int> Done{0};
    auto Worker = [&](const char* Part1, const char* Part2) {
        Feed(nullptr, AV_LOG_INFO, "%s", Part1);
        Feed(nullptr, AV_LOG_INFO, "%s\n", Part2);
        ++Done;
    };
    // Both threads leave a partial line before either finishes it.
    std::thread A([&] { Worker("a1", "a2"); });
    std::thread B([&] { Worker("b1", "b2"); });
    ASSERT_TRUE(WaitInMainThread([&] { return Done.load() == 2; }, std::chrono::seconds(20)));
    A.join();
    B.join();
    PumpMainThreadQueue();  // lines of threads that are not the program's own are posted
    ASSERT_EQ(Lines.size(), 2u);
    std::vector<std::string> Texts = {Lines[0].Text, Lines[1].Text};
    std::sort(Texts.begin(), Texts.end());
    EXPECT_EQ(Texts[0], "a1a2");
    EXPECT_EQ(Texts[1], "b1b2");
    for (const TLine& L : Lines) {
        EXPECT_TRUE(L.OnMain);
        EXPECT_NE(L.ThreadId, CurrentThreadId());
    }
}

TEST_F(LoggerTest, ManyThreadsLoggingAtOnceLoseNothing) {
    constexpr int kThreads = 4, kLines = 50;
    std::atomic<int> Done{0};
    std::vector<std::thread> Threads;
    for (int T = 0; T < kThreads; ++T)
        Threads.emplace_back([&, T] {
            for (int I = 0; I < kLines; ++I) {
                Feed(nullptr, AV_LOG_INFO, "t%d ", T);
                Feed(nullptr, AV_LOG_INFO, "l%d\n", I);
                GetLogger().Log(nullptr, llError, "direct");
            }
            ++Done;
        });
    ASSERT_TRUE(WaitInMainThread([&] { return Done.load() == kThreads; }, std::chrono::seconds(60)));
    for (auto& T : Threads) T.join();
    PumpMainThreadQueue();
    EXPECT_EQ(Lines.size(), size_t(kThreads * kLines * 2));
    for (const TLine& L : Lines) {
        if (L.Text == "direct") continue;
        EXPECT_EQ(L.Text[0], 't') << L.Text;
        EXPECT_NE(L.Text.find(" l"), std::string::npos) << L.Text;
    }
}

TEST_F(LoggerTest, DirectMessagesFollowTheLevelFilter) {
    TFFLogger& Logger = GetLogger();
    Logger.SetLogLevel(llError);
    Logger.Log(nullptr, llWarning, "dropped");
    Logger.Log(nullptr, llVerbose, "status");
    Logger.Log(nullptr, llError, "error");
    ASSERT_EQ(Lines.size(), 2u);
    EXPECT_EQ(Lines[0].Text, "status");
    EXPECT_EQ(Lines[1].Text, "error");
    Lines.clear();
    Logger.SetLogLevel(llQuiet);
    Logger.Log(nullptr, llWarning, "dropped");
    Logger.Log(nullptr, llVerbose, "dropped too");
    EXPECT_TRUE(Lines.empty());
}

// A name's stray bytes may arrive in separate pieces of output, beside whole characters cut in two.
TEST_F(LoggerTest, BytesThatAreNotUtf8ReadAsHexOnceTheLineIsWhole) {
    Feed(nullptr, AV_LOG_INFO, "%s", "from 'unicode:utf8:/x/\xff");
    Feed(nullptr, AV_LOG_INFO, "%s", "\xfe\xc3");
    Feed(nullptr, AV_LOG_INFO, "%s", "\xa9.avi':\n");
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0].Text, "from 'unicode:utf8:/x/\\xFF\\xFE\xc3\xa9.avi':");
    TFFLogger& Logger = GetLogger();
    Logger.SetLogLevel(llInfo);
    Logger.Log(nullptr, llError, "Could not open '/x/\xff\xfe_(new).mp3'");
    ASSERT_EQ(Lines.size(), 2u);
    EXPECT_EQ(Lines[1].Text, "Could not open '/x/\\xFF\\xFE_(new).mp3'");
}

TEST_F(LoggerTest, WithoutAvutilTheThresholdStays) {
    ASSERT_FALSE(FFLoader().IsLoaded(libAVUtil));
    GetLogger().SetLogLevel(llDebug);
    EXPECT_EQ(GetLogger().LogLevel(), llDebug);
    EXPECT_EQ(TFFLogger::Threshold(), 32);
}

TEST_F(LoggerTest, NoHandlerNoDelivery) {
    GetLogger().SetOnLog(nullptr);
    Feed(&Context, AV_LOG_ERROR, "lost\n");
    GetLogger().Log(nullptr, llError, "lost");
    EXPECT_TRUE(Lines.empty());
}

TEST(LoggerInstance, OnlyOneAllowed) {
    TFFLogger& First = GetLogger();
    EXPECT_EQ(CurrentLogger(), &First);
    try {
        TFFLogger Second;
        FAIL() << "a second logger was created";
    } catch (const std::logic_error& E) {
        EXPECT_STREQ(E.what(), "Allow creating only one instance of TFFLogger.");
    }
    EXPECT_EQ(CurrentLogger(), &First);
}

class LoggerWithLibrariesTest : public LoggerTest {
  protected:
    void SetUp() override {
        FFLoader().SetLibraryPath(DefaultLibraryFolder());
        ASSERT_TRUE(FFLoader().LoadLibrarySet(kDefaultLibrarySet)) << FFLoader().LastError();
        LoggerTest::SetUp();
    }
};

TEST_F(LoggerWithLibrariesTest, LevelByNameMovesTheThreshold) {
    TFFLogger& Logger = GetLogger();
    Logger.SetLogLevelByName("DEBUG");
    EXPECT_EQ(Logger.LogLevel(), llDebug);
    EXPECT_EQ(TFFLogger::Threshold(), 48);
    EXPECT_EQ(lavu.av_log_get_level(), 48);
    Logger.SetLogLevelByName("20");
    EXPECT_EQ(Logger.LogLevel(), llError);
    EXPECT_EQ(TFFLogger::Threshold(), 16);
    EXPECT_THROW(Logger.SetLogLevelByName("loud"), std::invalid_argument);
    EXPECT_EQ(Logger.LogLevel(), llError);
}

// A codec's own thread logs while the main thread waits for it (a conversion run on the main
// thread waits for its decoder's threads): the line may not wait for the main thread.
TEST_F(LoggerWithLibrariesTest, ALibraryThreadNeverWaitsForTheMainThread) {
    GetLogger().SetLogLevel(llInfo);
    std::promise<void> Returned;
    std::future<void> Back = Returned.get_future();
    std::thread CodecThread([&] {
        lavu.av_log(nullptr, AV_LOG_ERROR, "from a codec thread\n");
        Returned.set_value();
    });
    const bool WentOn = Back.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    PumpMainThreadQueue();  // delivers the line (and frees the thread, were it held)
    CodecThread.join();
    EXPECT_TRUE(WentOn);
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0].Text, "from a codec thread");
    EXPECT_TRUE(Lines[0].OnMain);
}

TEST_F(LoggerWithLibrariesTest, LibraryOutputArrivesThroughTheInstalledCallback) {
    GetLogger().SetLogLevel(llInfo);
    lavu.av_log(nullptr, AV_LOG_ERROR, "from the library %d\n", 42);
    lavu.av_log(nullptr, AV_LOG_DEBUG, "too detailed\n");
    ASSERT_EQ(Lines.size(), 1u);
    EXPECT_EQ(Lines[0].Text, "from the library 42");
    EXPECT_EQ(Lines[0].Level, llError);
}

}  // namespace
}  // namespace zembra
