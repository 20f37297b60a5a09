// Record locks on a version 3 device through the server's lock manager: tasks of this program
// as owners contending for ranges, and a second client program holding what this one wants.
// Run with the server's lock manager on (RT_NFS_SERVER_LOCKS=1); skipped otherwise.
#include "live/lockLiveCases.h"
#include "live/nfs3FileLive.h"

namespace {

using lockcases::fcntlOn;
using lockcases::lockOn;
using lockcases::readAt;

class NlmLive : public filelive::FileLive {
protected:
    void SetUp() override
    {
        const char *locks = std::getenv("RT_NFS_SERVER_LOCKS");
        skipped_ = locks == nullptr || std::string(locks) != "1";
        if (skipped_)
            GTEST_SKIP() << "the server's lock manager is off (RT_NFS_SERVER_LOCKS=1 turns it on)";
        FileLive::SetUp();
        putOnServer("f", std::vector<char>(4096, 'o'));
    }
    void TearDown() override
    {
        if (!skipped_)
            FileLive::TearDown();
    }

    // The test's file opened by the task, and kFcntl on it from the task.
    int openOn(TestTask &task) const
    {
        const std::string path = dev("f");
        return task.run([path] { return kOpen(path.c_str(), K_O_RDWR, 0); }).get();
    }
    std::string serverBytes(std::size_t at, std::size_t count) const
    {
        const std::vector<char> all = onServer("f");
        return at >= all.size() ? std::string()
                                : std::string(all.data() + at, std::min(count, all.size() - at));
    }

    bool skipped_ = false;
};

// Two tasks of one program, each with its own descriptor, conflict as two processes would
// (the cases every version runs: live/lockLiveCases.h).
TEST_F(NlmLive, ReadLocksShareWriteLocksExclude)
{
    TestTask a;
    TestTask b;
    const int fdA = openOn(a);
    const int fdB = openOn(b);
    ASSERT_GE(fdA, 0);
    ASSERT_GE(fdB, 0);
    lockcases::readSharedWriteExclusive(a, fdA, b, fdB);
    EXPECT_EQ(a.run([fdA] { return kClose(fdA); }).get(), 0);
    EXPECT_EQ(b.run([fdB] { return kClose(fdB); }).get(), 0);
}

// A wait granted once the holder unlocks, or interrupted (live/lockLiveCases.h).
TEST_F(NlmLive, WaitGrantedOnUnlockOrInterrupted)
{
    TestTask a;
    TestTask b;
    const int fdA = openOn(a);
    const int fdB = openOn(b);
    ASSERT_GE(fdA, 0);
    ASSERT_GE(fdB, 0);
    lockcases::waitGrantedOrInterrupted(a, fdA, b, fdB, [this](std::size_t at, std::size_t count) { return serverBytes(at, count); });
    EXPECT_EQ(b.run([fdB] { return kClose(fdB); }).get(), 0);
    EXPECT_EQ(a.run([fdA] { return kClose(fdA); }).get(), 0);
}

// A close releases the closing task's locks on the file, a task's end all of its, an unmount
// those on the device's files.
TEST_F(NlmLive, CloseAndTaskEndRelease)
{
    TestTask a;
    TestTask b;
    const int fdA = openOn(a);
    const int fdB = openOn(b);
    ASSERT_EQ(lockOn(a, fdA, K_F_SETLK, K_F_WRLCK, 0, 0), 0);
    ASSERT_EQ(a.run([fdA] { return kWrite(fdA, "closing", 7); }).get(), 7);
    EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_RDLCK, 0, 1), K_EAGAIN);
    EXPECT_EQ(a.run([fdA] { return kClose(fdA); }).get(), 0);
    EXPECT_EQ(serverBytes(0, 7), "closing");
    EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_WRLCK, 0, 0), 0);
    EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_UNLCK, 0, 0), 0);
    // On b's descriptor, which stays open: a's lock lasts until a ends.
    ASSERT_EQ(lockOn(a, fdB, K_F_SETLK, K_F_WRLCK, 5, 5), 0);
    EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_WRLCK, 0, 0), K_EAGAIN);
    a.end();
    EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_WRLCK, 0, 0), 0);
    EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_UNLCK, 0, 0), 0);
    // A lock whose task outlives every descriptor of the file goes with the device.
    TestTask c;
    ASSERT_EQ(lockOn(c, fdB, K_F_SETLK, K_F_WRLCK, 0, 0), 0);
    EXPECT_EQ(b.run([fdB] { return kClose(fdB); }).get(), 0);
    ASSERT_EQ(nfsUnmount(filelive::kDev), 0);
    ASSERT_EQ(nfsMount(live::host().c_str(), live::exportPath().c_str(), filelive::kDev), 0);
    const int again = openOn(b);
    EXPECT_EQ(lockOn(b, again, K_F_SETLK, K_F_WRLCK, 0, 0), 0);
    EXPECT_EQ(b.run([again] { return kClose(again); }).get(), 0);
}

// The second client: another program of this host mounts the export, locks the whole file,
// writes under the lock, and lets go when told (fd 4); it reports on fd 3. Run by the test
// below, never alone.
TEST(NlmSecondClient, DISABLED_HoldsUntilTold)
{
    const char *path = lockcases::secondClientFile();
    ASSERT_NE(path, nullptr);
    nfsAuthUnixSet(sysBootParams.hostName, 2001, 100, 0, nullptr);
    ASSERT_EQ(nfs3Drv(), 0);
    nfs3CacheParamsSet(16, 16384, 0); // a fresh program has no cache until told its size
    ASSERT_EQ(nfsMount(live::host().c_str(), live::exportPath().c_str(), "/nfs9lk"), 0)
        << std::hex << errnoGet();
    const int fd = kOpen((std::string("/nfs9lk/") + path).c_str(), K_O_RDWR, 0);
    ASSERT_GE(fd, 0);
    lockcases::secondClientHolds(fd);
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(nfsUnmount("/nfs9lk"), 0);
    nfsClientClose();
}

// Another program's lock excludes this one's tasks; K_F_GETLK names it, and a wait is granted
// once it lets go (live/lockLiveCases.h).
TEST_F(NlmLive, SecondClientContends)
{
    const int fd = kOpen(dev("f").c_str(), K_O_RDWR, 0);
    ASSERT_GE(fd, 0);
    lockcases::secondClientContends(fd, "NlmSecondClient.DISABLED_HoldsUntilTold", tail("f").substr(1),
                                    [this](std::size_t at, std::size_t count) { return serverBytes(at, count); });
    EXPECT_EQ(kClose(fd), 0);
}

} // namespace
