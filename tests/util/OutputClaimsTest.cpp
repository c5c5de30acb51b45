// Output names taken on the disk, and what a dead process left behind.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "tests/support/ScratchFolder.h"
#include "util/OutputClaims.h"

namespace zembra {
namespace {
// The answer every lock gets while a test sets it, as on a network folder without lock support.
std::atomic<int> gLockFailure{0};
}  // namespace
}  // namespace zembra

// The claims' locks go through this one in this program: the real call, or the set failure.
extern "C" int flock(int Fd, int Operation) noexcept {
    if (const int Error = zembra::gLockFailure.load()) {
        errno = Error;
        return -1;
    }
    return static_cast<int>(::syscall(SYS_flock, Fd, Operation));
}

namespace zembra {
namespace {

namespace fs = std::filesystem;

std::set<std::string> Names(const std::string& Folder) {
    std::set<std::string> Found;
    for (const fs::directory_entry& E : fs::directory_iterator(Folder))
        Found.insert(E.path().filename().string());
    return Found;
}

void Write(const std::string& File, const std::string& Text) {
    std::ofstream(File, std::ios::binary) << Text;
}

TEST(OutputClaims, ANameIsTakenOnceAndGivenBack) {
    testing::TScratchFolder Scratch("claims");
    const std::string Dir = Scratch.Path(), Name = Dir + "/a.mp3";
    ASSERT_EQ(ClaimOutputName(Name), 0);
    EXPECT_TRUE(IsOwnOutputClaim(Name));
    EXPECT_EQ(fs::file_size(Name), 0u);
    EXPECT_EQ(ClaimOutputName(Name), EEXIST);
    fs::create_directory(Dir + "/folder.mp3");
    EXPECT_EQ(ClaimOutputName(Dir + "/folder.mp3"), EEXIST);
    EXPECT_EQ(ClaimOutputName(Dir + "/missing/b.mp3"), ENOENT);
    ASSERT_EQ(ClaimOutputName(Dir + "/b.mp3"), 0);

    // One lock file for the folder, however many names; a temporary name is hidden beside its
    // output, and recognisable.
    const std::string Temporary = NewTemporaryOutputName(Name);
    EXPECT_EQ(fs::path(Temporary).parent_path(), fs::path(Dir));
    EXPECT_EQ(fs::path(Temporary).filename().string().rfind(".a.mp3.zembra-", 0), 0u) << Temporary;
    // It keeps the output's extension, for the muxers that look at it.
    EXPECT_EQ(fs::path(Temporary).extension(), ".mp3");
    EXPECT_EQ(fs::path(Temporary).stem().extension(), ".part");
    EXPECT_TRUE(IsTemporaryOutputName(fs::path(Temporary).filename().string()));
    // The form earlier versions made, without the extension, is still one; names that only
    // look alike are not.
    EXPECT_TRUE(IsTemporaryOutputName(".a.mp3.zembra-1f-0a0b0c0d-7.part"));
    for (const char* Other : {"a.mp3", "a.part.mp3", ".a.mp3.zembra-1f-0a0b0c0d-7.part.", ".a.zembra-x.part",
                              ".a.mp3.zembra-1f-0a0b0c0d-7.part.tar.gz", ".a.mp3.zembra-1f-x.part.mp3"})
        EXPECT_FALSE(IsTemporaryOutputName(Other)) << Other;
    int Locks = 0;
    for (const std::string& N : Names(Dir)) Locks += N.rfind(".zembra-", 0) == 0;
    EXPECT_EQ(Locks, 1);

    // A long name is cut on a letter's boundary so that its temporary name still fits.
    std::string Long;
    while (Long.size() < 240) Long += "\xC3\xA9";  // é
    const std::string LongTemporary = fs::path(NewTemporaryOutputName(Dir + "/" + Long + ".mp3")).filename();
    EXPECT_LE(LongTemporary.size(), 255u);
    EXPECT_EQ(LongTemporary.rfind(".\xC3\xA9", 0), 0u);
    EXPECT_EQ(LongTemporary.find(".zembra-") % 2, 1u);  // whole letters before the marker
    ForgetTemporaryOutput(Dir + "/" + LongTemporary);

    // A name given back goes while it is still the empty reservation, and not when it is not.
    ReleaseOutputClaim(Name, true);
    EXPECT_FALSE(fs::exists(Name));
    EXPECT_FALSE(IsOwnOutputClaim(Name));
    Write(Dir + "/b.mp3", "finished");
    ReleaseOutputClaim(Dir + "/b.mp3", true);
    EXPECT_TRUE(fs::exists(Dir + "/b.mp3"));
    ForgetTemporaryOutput(Temporary);
    // Nothing held any more: the lock file goes too.
    EXPECT_EQ(Names(Dir), (std::set<std::string>{"b.mp3", "folder.mp3"}));
}

TEST(OutputClaims, ADeadProcesssLeftoversGoAndALiveOnesStay) {
    testing::TScratchFolder Scratch("claims");
    const std::string Dir = Scratch.Path();
    // A dead process: its lock file unlocked, listing what it took ("-" gives a name back).
    Write(Dir + "/.zembra-dead.lock", "x.mp3\ny.mp3\n-y.mp3\nv.mp3\nw.mp3\n");
    for (const char* Empty : {"x.mp3", "y.mp3", "z.mp3", "v.mp3"}) Write(Dir + "/" + Empty, "");
    Write(Dir + "/w.mp3", "a finished output");
    Write(Dir + "/.x.mp3.zembra-dead-1.part", "half an output");
    Write(Dir + "/.x.m4a.zembra-dead-2.part.m4a", "half an output, in the form that keeps the extension");
    // A process that went without its lock file, and one that died making it.
    Write(Dir + "/.k.mp3.zembra-gone-3.part", "half");
    Write(Dir + "/.zembra-early.new", "");
    // A live process, holding its lock: it took v.mp3 too (the dead one's line is stale).
    Write(Dir + "/.zembra-live.lock", "v.mp3\nq.mp3\n");
    Write(Dir + "/q.mp3", "");
    Write(Dir + "/.q.mp3.zembra-live-1.part", "being written");
    Write(Dir + "/.q.m4a.zembra-live-2.part.m4a", "being written");
    const int Live = ::open((Dir + "/.zembra-live.lock").c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(Live, 0);
    ASSERT_EQ(::flock(Live, LOCK_EX | LOCK_NB), 0);

    // Asking which names live processes hold leaves the dead one's lock for the clean-up below.
    EXPECT_TRUE(IsListedByLiveProcess(Dir + "/q.mp3"));
    EXPECT_TRUE(IsListedByLiveProcess(Dir + "/v.mp3"));
    EXPECT_FALSE(IsListedByLiveProcess(Dir + "/x.mp3"));
    EXPECT_FALSE(IsListedByLiveProcess(Dir + "/z.mp3"));

    PrepareOutputFolder(Dir + "/");
    EXPECT_EQ(Names(Dir),
              (std::set<std::string>{"y.mp3", "z.mp3", "v.mp3", "w.mp3", ".zembra-live.lock", "q.mp3",
                                     ".q.mp3.zembra-live-1.part", ".q.m4a.zembra-live-2.part.m4a"}));
    // Once per process and folder: what dies later is the next process's to clean.
    Write(Dir + "/.zembra-later.lock", "z.mp3\n");
    PrepareOutputFolder(Dir);
    EXPECT_TRUE(fs::exists(Dir + "/z.mp3"));
    ::close(Live);
}

// A folder that takes no locks: its names are still taken, and one warning per folder (kept until
// a handler is there to hear it) says that runs into it at the same time are unsafe.
TEST(OutputClaims, AFolderWithoutLocksIsSaidOnce) {
    testing::TScratchFolder Scratch("claims");
    const std::string Dir = Scratch.Path();
    fs::create_directory(Dir + "/net");
    std::vector<std::string> Warnings;
    gLockFailure = ENOLCK;
    ASSERT_EQ(ClaimOutputName(Dir + "/a.mp3"), 0);
    SetOutputFolderWarningHandler([&](const std::string& Message) { Warnings.push_back(Message); });
    EXPECT_EQ(Warnings.size(), 1u);
    ASSERT_EQ(ClaimOutputName(Dir + "/b.mp3"), 0);
    const std::string Temporary = NewTemporaryOutputName(Dir + "/a.mp3");
    gLockFailure = EOPNOTSUPP;
    ASSERT_EQ(ClaimOutputName(Dir + "/net/c.mp3"), 0);
    gLockFailure = 0;
    SetOutputFolderWarningHandler(nullptr);
    ASSERT_EQ(Warnings.size(), 2u);
    EXPECT_EQ(Warnings[0], "The folder " + Dir + " takes no file locks (" + std::strerror(ENOLCK) +
                               "): runs converting into it at the same time are unsafe");
    EXPECT_EQ(
        Warnings[1].rfind("The folder " + Dir + "/net takes no file locks (" + std::strerror(EOPNOTSUPP), 0),
        0u)
        << Warnings[1];
    // No lock file of this process stays behind in either folder.
    EXPECT_EQ(Names(Dir), (std::set<std::string>{"a.mp3", "b.mp3", "net"}));
    EXPECT_EQ(Names(Dir + "/net"), (std::set<std::string>{"c.mp3"}));
    ForgetTemporaryOutput(Temporary);
    for (const char* Name : {"/a.mp3", "/b.mp3", "/net/c.mp3"}) ReleaseOutputClaim(Dir + Name, true);
    EXPECT_EQ(Names(Dir), (std::set<std::string>{"net"}));
}

}  // namespace
}  // namespace zembra
