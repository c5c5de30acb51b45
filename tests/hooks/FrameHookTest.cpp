#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/hooks/HookTestSupport.h"

namespace zembra::testing {
namespace {

const std::string kTestModules = ZEMBRA_TEST_HOOK_DIR;
const std::string kRecorder = kTestModules + "/RecorderHook.so";
const std::string kNoProcess = kTestModules + "/NoProcessHook.so";
const std::string kNoConfigure = kTestModules + "/NoConfigureHook.so";

std::string CurrentFolder() {
    return std::filesystem::current_path().string();
}

TEST(SplitHookOptionText, BarAndBlankGiveTheSameVector) {
    const std::vector<std::string> Expected = {"/opt/z/vhook/x.so", "-i", "pic.jpg"};
    EXPECT_EQ(SplitHookOptionText("/opt/z/vhook/x.so|-i|pic.jpg"), Expected);
    EXPECT_EQ(SplitHookOptionText("/opt/z/vhook/x.so -i pic.jpg"), Expected);
}

TEST(SplitHookOptionText, RunsOfSeparatorsCountAsOne) {
    const std::vector<std::string> Expected = {"a.so", "-x", "1"};
    EXPECT_EQ(SplitHookOptionText("  a.so   -x  1  "), Expected);
    EXPECT_EQ(SplitHookOptionText("||a.so|||-x||1|"), Expected);
    EXPECT_TRUE(SplitHookOptionText("").empty());
    EXPECT_TRUE(SplitHookOptionText("   ").empty());
    EXPECT_TRUE(SplitHookOptionText("|||").empty());
}

TEST(SplitHookOptionText, WithBarsBlanksStayInsideTokens) {
    const std::vector<std::string> Expected = {"/my videos/vhook/x.so", "-t", "Hello world", "-x", "W - w"};
    EXPECT_EQ(SplitHookOptionText("/my videos/vhook/x.so|-t|Hello world|-x|W - w"), Expected);
}

TEST(SplitHookOptionText, AtMost64Tokens) {
    std::string Text = "m.so";
    for (int I = 1; I < 80; ++I) Text += " a" + std::to_string(I);
    const std::vector<std::string> Tokens = SplitHookOptionText(Text);
    ASSERT_EQ(Tokens.size(), 64u);
    EXPECT_EQ(Tokens[0], "m.so");
    EXPECT_EQ(Tokens[63], "a63");
}

// The loader and its chain, with a module that records what it is asked to do.
class FrameHookLoader : public HookTest {
  protected:
    void SetUp() override {
        HookTest::SetUp();
        StartFolder = CurrentFolder();
        if (void* M = dlopen(kRecorder.c_str(), RTLD_NOW | RTLD_NOLOAD)) {
            reinterpret_cast<void (*)()>(dlsym(M, "RecorderReset"))();
            dlclose(M);
        }
    }
    void TearDown() override {
        ReleaseFrameHooks(Chain);
        std::filesystem::current_path(StartFolder);
        HookTest::TearDown();
    }
    // What the recorder has written down so far ("" before it is loaded).
    static std::string Trace() {
        void* M = dlopen(kRecorder.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (!M) return "";
        const std::string T = reinterpret_cast<const char* (*)()>(dlsym(M, "RecorderTrace"))();
        dlclose(M);
        return T;
    }
    int Add(std::vector<std::string> Arguments) { return AddFrameHook(Chain, Arguments); }

    TFrameHookChain Chain;
    std::string StartFolder;
};

TEST_F(FrameHookLoader, ModuleAddedTwiceIsLoadedOnceAndRunsBothEntriesInOrder) {
    ASSERT_EQ(Add({kRecorder, "-a", "1"}), 0) << AllLogLines();
    const int Modules = FrameHookModuleCount();
    ASSERT_EQ(Add({kRecorder, "-b"}), 0) << AllLogLines();
    EXPECT_EQ(FrameHookModuleCount(), Modules);
    EXPECT_EQ(Chain.Count(), 2);

    uint8_t Luma[4] = {0, 0, 0, 0};
    uint8_t* Data[4] = {Luma, nullptr, nullptr, nullptr};
    int Linesize[4] = {4, 0, 0, 0};
    ProcessFrameHooks(Chain, Data, Linesize, AV_PIX_FMT_YUV420P, 4, 1, 40000);
    // Entry 1 ran first (0*10+1), then entry 2 (1*10+2), though entry 1 wiped its plane table.
    EXPECT_EQ(Luma[0], 12);
    const std::string T = Trace();
    const size_t P1 = T.find("process 1 fmt=0 4x1 pts=40000");
    const size_t P2 = T.find("process 2 fmt=0 4x1 pts=40000");
    ASSERT_NE(P1, std::string::npos) << T;
    ASSERT_NE(P2, std::string::npos) << T;
    EXPECT_LT(P1, P2);
    EXPECT_NE(T.find("configure 1 count=3 high=63"), std::string::npos) << T;
    EXPECT_NE(T.find("args=[-a],[1] padded"), std::string::npos) << T;
    EXPECT_NE(T.find("configure 2 count=2 high=63"), std::string::npos) << T;
    EXPECT_NE(T.find("args=[-b] padded"), std::string::npos) << T;
}

TEST_F(FrameHookLoader, OptionTextWithBarsOrBlanksConfiguresTheSame) {
    ASSERT_EQ(Add(SplitHookOptionText(kRecorder + "|-t|two words")), 0);
    ASSERT_EQ(Add(SplitHookOptionText(kRecorder + " -t two words")), 0);
    const std::string T = Trace();
    EXPECT_NE(T.find("configure 1 count=3 high=63 cwd=" + kTestModules + " args=[-t],[two words] padded"),
              std::string::npos)
        << T;
    EXPECT_NE(T.find("configure 2 count=4 high=63 cwd=" + kTestModules + " args=[-t],[two],[words] padded"),
              std::string::npos)
        << T;
}

TEST_F(FrameHookLoader, ConfigureRunsInTheModulesFolderAndTheFolderIsRestored) {
    ASSERT_EQ(Add({kRecorder}), 0);
    EXPECT_NE(Trace().find("cwd=" + kTestModules + " "), std::string::npos) << Trace();
    EXPECT_EQ(CurrentFolder(), StartFolder);
}

TEST_F(FrameHookLoader, RelativeModulePathIsTakenFromTheFolderCurrentBefore) {
    const std::filesystem::path Modules(kTestModules);
    std::filesystem::current_path(Modules.parent_path());
    const std::string Before = CurrentFolder();
    ASSERT_EQ(Add({Modules.filename().string() + "/RecorderHook.so", "-r"}), 0) << AllLogLines();
    EXPECT_EQ(CurrentFolder(), Before);
    EXPECT_NE(Trace().find("cwd=" + kTestModules + " args=[-r]"), std::string::npos) << Trace();
}

TEST_F(FrameHookLoader, FolderIsRestoredAfterAFailure) {
    EXPECT_EQ(Add({kNoProcess}), -2);
    EXPECT_EQ(CurrentFolder(), StartFolder);
    EXPECT_EQ(Add({kRecorder, "fail"}), -22);
    EXPECT_EQ(CurrentFolder(), StartFolder);
}

TEST_F(FrameHookLoader, MissingProcessIsRefused) {
    EXPECT_EQ(Add({kNoProcess}), -2);
    EXPECT_TRUE(Chain.Empty());
    EXPECT_TRUE(Logged("Failed to find Process entrypoint in " + kNoProcess)) << AllLogLines();
}

TEST_F(FrameHookLoader, MissingConfigureIsFineWithoutArgumentsOnly) {
    EXPECT_EQ(Add({kNoConfigure, "-x", "1"}), -2);
    EXPECT_TRUE(Logged("Failed to find Configure entrypoint in " + kNoConfigure)) << AllLogLines();
    EXPECT_TRUE(Chain.Empty());

    ASSERT_EQ(Add({kNoConfigure}), 0) << AllLogLines();
    uint8_t Luma[2] = {0, 0};
    uint8_t* Data[4] = {Luma, nullptr, nullptr, nullptr};
    int Linesize[4] = {2, 0, 0, 0};
    ProcessFrameHooks(Chain, Data, Linesize, AV_PIX_FMT_YUV420P, 2, 1, 0);
    EXPECT_EQ(Luma[0], 77);
    ReleaseFrameHooks(Chain);  // no Release entry point: nothing to call
    EXPECT_TRUE(Chain.Empty());
}

TEST_F(FrameHookLoader, FailedConfigureIsRefusedAndNotAdded) {
    ASSERT_EQ(Add({kRecorder, "ok"}), 0);
    EXPECT_EQ(Add({kRecorder, "fail"}), -22);
    EXPECT_TRUE(Logged("Failed to Configure " + kRecorder)) << AllLogLines();
    EXPECT_EQ(Chain.Count(), 1);
    ReleaseFrameHooks(Chain);
    const std::string T = Trace();
    EXPECT_NE(T.find("release 1"), std::string::npos) << T;
    EXPECT_EQ(T.find("release 2"), std::string::npos) << T;
}

TEST_F(FrameHookLoader, UnloadableModulesAreRefused) {
    const std::string Missing = kTestModules + "/NoSuchHook.so";
    EXPECT_EQ(Add({Missing}), -1);
    EXPECT_TRUE(Logged(Missing)) << AllLogLines();

    const std::filesystem::path NotAModule =
        std::filesystem::temp_directory_path() / ("zembra-not-a-module-" + std::to_string(getpid()) + ".so");
    { std::ofstream(NotAModule) << "this is text, not a shared object\n"; }
    LogLines.clear();
    EXPECT_EQ(Add({NotAModule.string()}), -1);
    EXPECT_FALSE(LogLines.empty());
    std::filesystem::remove(NotAModule);
    EXPECT_TRUE(Chain.Empty());
    EXPECT_EQ(CurrentFolder(), StartFolder);
}

TEST_F(FrameHookLoader, EmptyOrOversizedVectorsAreRefused) {
    EXPECT_EQ(AddFrameHook(Chain, 0, nullptr), -2);
    char* Empty[1] = {nullptr};
    EXPECT_EQ(AddFrameHook(Chain, 1, Empty), -2);
    std::vector<std::string> Long = {kRecorder};
    for (int I = 0; I < 64; ++I) Long.push_back("x");
    EXPECT_EQ(Add(Long), -22);
    EXPECT_TRUE(Chain.Empty());
    Long.resize(64);  // exactly the vector's size is fine
    EXPECT_EQ(Add(Long), 0);
    EXPECT_NE(Trace().find("count=64 high=63"), std::string::npos) << Trace();
}

TEST_F(FrameHookLoader, ReleaseCallsEveryReleaseInOrderAndEmptiesTheChain) {
    ASSERT_EQ(Add({kRecorder}), 0);
    ASSERT_EQ(Add({kRecorder}), 0);
    ReleaseFrameHooks(Chain);
    EXPECT_TRUE(Chain.Empty());
    const std::string T = Trace();
    const size_t R1 = T.find("release 1"), R2 = T.find("release 2");
    ASSERT_NE(R1, std::string::npos) << T;
    ASSERT_NE(R2, std::string::npos) << T;
    EXPECT_LT(R1, R2);
    ReleaseFrameHooks(Chain);  // a second release has nothing left to do
    EXPECT_EQ(Trace(), T);
}

TEST_F(FrameHookLoader, ChainReleasesItsEntriesWhenDestroyed) {
    {
        TFrameHookChain Local;
        ASSERT_EQ(AddFrameHook(Local, std::vector<std::string>{kRecorder}), 0);
        TFrameHookChain Moved(std::move(Local));
        EXPECT_TRUE(Local.Empty());
        EXPECT_EQ(Moved.Count(), 1);
    }
    EXPECT_NE(Trace().find("release 1"), std::string::npos) << Trace();
    EXPECT_EQ(Trace().find("release 1;release 1"), std::string::npos) << Trace();
}

TEST_F(FrameHookLoader, ThreadsAddingAtOnceEachConfigureInTheModulesFolder) {
    // Each thread keeps its own chain; the shared state is the cache and the current folder.
    constexpr int kThreads = 4, kEach = 10;
    std::atomic<int> Failures{0};
    std::vector<std::thread> Threads;
    for (int T = 0; T < kThreads; ++T)
        Threads.emplace_back([&] {
            TFrameHookChain Own;
            for (int I = 0; I < kEach; ++I)
                if (AddFrameHook(Own, std::vector<std::string>{kRecorder, "-p"}) != 0) ++Failures;
        });
    for (std::thread& T : Threads) T.join();
    EXPECT_EQ(Failures.load(), 0);
    EXPECT_EQ(CurrentFolder(), StartFolder);
    const std::string T = Trace();
    size_t Configures = 0, InFolder = 0;
    for (size_t P = T.find("configure "); P != std::string::npos; P = T.find("configure ", P + 1))
        ++Configures;
    for (size_t P = T.find("cwd=" + kTestModules + " "); P != std::string::npos;
         P = T.find("cwd=" + kTestModules + " ", P + 1))
        ++InFolder;
    EXPECT_EQ(Configures, size_t(kThreads * kEach));
    EXPECT_EQ(InFolder, Configures);
}

}  // namespace
}  // namespace zembra::testing
