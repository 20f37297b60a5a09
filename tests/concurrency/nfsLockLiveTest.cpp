// Record locks on a version 3 device through the server's lock manager: tasks of this program
// as owners contending for ranges, and a second client program holding what this one wants.
// Run with the server's lock manager on (RT_NFS_SERVER_LOCKS=1); skipped otherwise.
#include "live/lockLiveCases.h"
#include "live/nfs3FileLive.h"

#include <brisnel/nfsStatLib.h>

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
// The second client's device mounted and the test's file opened on it: its descriptor.
int secondClientOpen()
{
    const char *path = lockcases::secondClientFile();
    if (path == nullptr)
        return -1;
    nfsAuthUnixSet(sysBootParams.hostName, 2001, 100, 0, nullptr);
    if (nfs3Drv() != 0)
        return -1;
    nfs3CacheParamsSet(16, 16384, 0); // a fresh program has no cache until told its size
    if (nfsMount(live::host().c_str(), live::exportPath().c_str(), "/nfs9lk") != 0)
        return -1;
    return kOpen((std::string("/nfs9lk/") + path).c_str(), K_O_RDWR, 0);
}

void secondClientEnds(int fd)
{
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(nfsUnmount("/nfs9lk"), 0);
    nfsClientClose();
}

TEST(NlmSecondClient, DISABLED_HoldsUntilTold)
{
    const int fd = secondClientOpen();
    ASSERT_GE(fd, 0) << std::hex << errnoGet();
    lockcases::secondClientHolds(fd);
    secondClientEnds(fd);
}

// The second client after a server restart with a grace period: the first program's write
// lock on [0, 100) and read lock on [200, 210), reclaimed, exclude it; K_F_GETLK names each.
// Reports on fd 3 once it looked (its exit status says what it found), ends when told on fd 4.
TEST(NlmSecondClient, DISABLED_FindsReclaimedLocks)
{
    const int fd = secondClientOpen();
    ASSERT_GE(fd, 0) << std::hex << errnoGet();
    struct Probe {
        int type;
        int64_t start;
        int refused; // K_F_SETLK's answer for one byte there
        kflock holder;
    };
    const Probe probes[] = {
        {K_F_RDLCK, 50, K_EAGAIN, {K_F_WRLCK, K_SEEK_SET, 0, 100, 0}},
        {K_F_WRLCK, 205, K_EAGAIN, {K_F_RDLCK, K_SEEK_SET, 200, 10, 0}},
        {K_F_RDLCK, 205, 0, {K_F_UNLCK, K_SEEK_SET, 205, 1, 0}}, // read locks share
    };
    for (const Probe &probe : probes) {
        kflock seen{};
        EXPECT_EQ(fcntlOn(fd, K_F_GETLK, probe.type, probe.start, 1, &seen), 0) << probe.start;
        EXPECT_EQ(seen.l_type, probe.holder.l_type) << probe.start;
        EXPECT_EQ(seen.l_start, probe.holder.l_start) << probe.start;
        EXPECT_EQ(seen.l_len, probe.holder.l_len) << probe.start;
        EXPECT_EQ(fcntlOn(fd, K_F_SETLK, probe.type, probe.start, 1), probe.refused) << probe.start;
    }
    EXPECT_EQ(fcntlOn(fd, K_F_SETLK, K_F_UNLCK, 0, 0), 0);
    ASSERT_EQ(::write(3, "h", 1), 1);
    char told = 0;
    EXPECT_EQ(::read(4, &told, 1), 1);
    secondClientEnds(fd);
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

// The second client's case CASE run on the test's file until it reports, then told to end:
// its exit status (127 where this program cannot start a copy of itself, -1 when it never
// reported).
int secondClientRun(const std::string &testCase, const std::string &file)
{
    pid_t pid = 0;
    int orders = -1;
    const bool reported = lockcases::secondClientHolding(testCase, file, &pid, &orders);
    const int status = lockcases::secondClientReleased(pid, orders);
    return reported || status == 127 ? status : -1;
}

// Locks held when the server restarts with a grace period are reclaimed: the holder's next
// lock call meets the grace period, the reclaims go first, and that call is granted when the
// period ends. The reclaimed locks exclude another program as before, by range and type, and
// the holder's descriptor has nothing to report.
TEST_F(NlmLive, LocksReclaimedAfterARestartWithGrace)
{
    constexpr int kGraceSeconds = 5;
    TestTask a;
    const int fd = openOn(a);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(lockOn(a, fd, K_F_SETLK, K_F_WRLCK, 0, 150), 0);
    ASSERT_EQ(lockOn(a, fd, K_F_SETLK, K_F_UNLCK, 100, 50), 0); // split as POSIX says: [0, 100) left
    ASSERT_EQ(lockOn(a, fd, K_F_SETLK, K_F_RDLCK, 200, 10), 0);
    ASSERT_GT(std::atoi(live::serverRestartedWithGrace(kGraceSeconds, true).c_str()), 0) << "no server came back";
    EXPECT_EQ(lockOn(a, fd, K_F_SETLK, K_F_WRLCK, 300, 10), 0);
    const int found = secondClientRun("NlmSecondClient.DISABLED_FindsReclaimedLocks", tail("f").substr(1));
    if (found == 127) { // closed first: an open descriptor would keep the device from unmounting
        EXPECT_EQ(a.run([fd] { return kClose(fd); }).get(), 0);
        GTEST_SKIP() << "this program cannot start a copy of itself here";
    }
    EXPECT_EQ(found, 0) << "the other program's findings";
    EXPECT_EQ(a.run([fd] { return kLseek(fd, 0, K_SEEK_SET) == 0 ? kWrite(fd, "reclaimed", 9) : -1; }).get(), 9);
    EXPECT_EQ(a.run([fd] { return kClose(fd); }).get(), 0);
    EXPECT_EQ(serverBytes(0, 9), "reclaimed");
}

// A lock the server gave away while it restarted without a grace period: the holder sees the
// restart in its next write's verifier, its reclaim is refused (another program holds the
// whole file by then), and every descriptor of the file opened before says so once with
// K_ENOLCK on its next call; one opened after has nothing to say. The data calls go on: every
// byte written lands on the server.
TEST_F(NlmLive, ALockLostToARestartIsReportedOnce)
{
    TestTask a;
    const int fd = openOn(a);
    const int other = openOn(a);
    ASSERT_GE(fd, 0);
    ASSERT_GE(other, 0);
    ASSERT_EQ(lockOn(a, fd, K_F_SETLK, K_F_WRLCK, 100, 100), 0);
    const auto writeSynced = [&a](int on, int64_t at, const std::string &text) {
        return a
            .run([on, at, text] {
                if (kLseek(on, at, K_SEEK_SET) != at || kWrite(on, text.data(), static_cast<int>(text.size())) < 0)
                    return errnoGet();
                return kIoctl(on, K_FIOSYNC, 0) == 0 ? 0 : errnoGet();
            })
            .get();
    };
    ASSERT_EQ(writeSynced(fd, 150, "mine"), 0); // the device knows the server's write verifier
    ASSERT_GT(std::atoi(live::serverRestartedWithGrace(0, true).c_str()), 0) << "no server came back";
    pid_t pid = 0;
    int orders = -1;
    const bool childHolds =
        lockcases::secondClientHolding("NlmSecondClient.DISABLED_HoldsUntilTold", tail("f").substr(1), &pid, &orders);
    if (!childHolds && lockcases::secondClientReleased(pid, orders) == 127) {
        for (const int open : {fd, other})
            EXPECT_EQ(a.run([open] { return kClose(open); }).get(), 0);
        GTEST_SKIP() << "this program cannot start a copy of itself here";
    }
    ASSERT_TRUE(childHolds);
    EXPECT_EQ(writeSynced(fd, 300, "after"), 0); // the restart seen; the reclaim refused
    // On the server now; the other program, which holds the whole file, may write its cached
    // line over it when it lets go, as its lock allows.
    EXPECT_EQ(serverBytes(300, 5), "after");
    const int later = openOn(a);
    ASSERT_GE(later, 0);
    struct Call {
        int fd;
        int expected;
    };
    const Call calls[] = {{fd, K_ENOLCK}, {fd, 0}, {other, K_ENOLCK}, {other, 0}, {later, 0}};
    for (const Call &call : calls) {
        const int got = a.run([on = call.fd] { return readAt(on, 150, 4) == "mine" ? 0 : errnoGet(); }).get();
        EXPECT_EQ(got, call.expected) << "descriptor " << call.fd << ", call " << (&call - calls);
    }
    kflock seen{};
    EXPECT_EQ(lockOn(a, fd, K_F_GETLK, K_F_WRLCK, 150, 1, &seen), 0);
    EXPECT_EQ(seen.l_type, K_F_WRLCK); // the other program's, the whole file
    EXPECT_EQ(seen.l_len, 0);
    EXPECT_EQ(lockcases::secondClientReleased(pid, orders), 0);
    EXPECT_EQ(serverBytes(0, 5), "child");
    EXPECT_EQ(serverBytes(150, 4), "mine");
    EXPECT_EQ(lockOn(a, fd, K_F_SETLK, K_F_WRLCK, 100, 100), 0);
    for (const int open : {fd, other, later})
        EXPECT_EQ(a.run([open] { return kClose(open); }).get(), 0);
}

// A task alternating lock calls and file calls keeps both its handles, the lock manager's and
// the file server's: neither is built again, which would also ask the portmapper again (over
// UDP however the calls travel: with the server's UDP off, the UDP count is those queries).
TEST_F(NlmLive, AlternatingLockAndFileCallsKeepBothHandles)
{
    TestTask a;
    const int fd = openOn(a);
    ASSERT_GE(fd, 0);
    const std::string seen = a.run([fd] {
                                  // Each round: LOCK, the refresh's GETATTR, a READ of the
                                  // dropped line, the unlock's UNLOCK.
                                  const auto round = [fd](int64_t at) {
                                      return fcntlOn(fd, K_F_SETLK, K_F_WRLCK, at, 10) == 0 &&
                                             readAt(fd, at, 10) == std::string(10, 'o') &&
                                             fcntlOn(fd, K_F_SETLK, K_F_UNLCK, at, 10) == 0;
                                  };
                                  if (!round(0))
                                      return std::string("the first round failed");
                                  const NfsRpcClient *client = nfsRpcClientCurrent();
                                  if (client == nullptr || client->pLockClient == nullptr)
                                      return std::string("no lock manager's record");
                                  const CLIENT *file = client->pClient;
                                  const CLIENT *lock = client->pLockClient->pClient;
                                  NfsStatCounts before{};
                                  nfsStatGet(IPPROTO_UDP, &before);
                                  for (int64_t at = 10; at < 60; at += 10) {
                                      if (!round(at))
                                          return "the round at " + std::to_string(at) + " failed";
                                  }
                                  NfsStatCounts after{};
                                  nfsStatGet(IPPROTO_UDP, &after);
                                  if (client->pClient != file || client->pLockClient->pClient != lock)
                                      return std::string("a handle was built again");
                                  if (live::env("RT_NFS_SERVER_UDP") == "0" && after.calls != before.calls)
                                      return std::to_string(after.calls - before.calls) + " portmapper queries";
                                  return std::string();
                              }).get();
    EXPECT_EQ(seen, "");
    EXPECT_EQ(a.run([fd] { return kClose(fd); }).get(), 0);
}

} // namespace
