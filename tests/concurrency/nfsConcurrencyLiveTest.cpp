// Tasks sharing mounts of the real server: four tasks writing, syncing, reading back and
// closing files on one device and on two, so that each task's cache lines are evicted by the
// others', four tasks reading files side by side, a file written by all four through
// descriptors of their own, another task mounting and unmounting a device alongside, and a
// task writing into a line that waits to go out behind another task's sequential write; and
// cache hits of tasks that go on while another task's call waits on a paused server. Every
// byte is checked on the server's side and as read back. Built with ThreadSanitizer too.
#include "live/nfs3FileLive.h"

#include "rpc/nfsRpcStats.h"

#include <netinet/in.h>

#include <brisnel/nfsCacheLib.h>
#include <kernel/kernelStat.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

namespace {

using filelive::randomBytes;

constexpr int kTasks = 4;
constexpr std::size_t kOwnSize = 200 * 1024;
constexpr std::size_t kRegion = 64 * 1024; // each task's line-aligned part of the shared file
constexpr const char *kSecondDevice = "/nfs9c";
constexpr const char *kChurnDevice = "/nfs9e";

std::vector<char> seeded(std::size_t n, int seed)
{
    std::mt19937 random(static_cast<uint32_t>(seed));
    return randomBytes(n, random);
}

bool writeAll(int fd, const std::vector<char> &data, std::mt19937 &random)
{
    std::uniform_int_distribution<std::size_t> length(1, 9000);
    for (std::size_t at = 0; at < data.size();) {
        const std::size_t n = std::min(length(random), data.size() - at);
        if (kWrite(fd, data.data() + at, static_cast<int>(n)) != static_cast<int>(n))
            return false;
        at += n;
    }
    return true;
}

class ConcurrencyLive : public filelive::FileLive {
protected:
    void SetUp() override
    {
        FileLive::SetUp();
        ASSERT_EQ(nfsMount(live::host().c_str(), live::exportPath().c_str(), kSecondDevice), 0);
    }
    void TearDown() override
    {
        EXPECT_EQ(nfsUnmount(kSecondDevice), 0) << std::hex << errnoGet();
        FileLive::TearDown();
    }
    std::string on(const char *device, const std::string &name) const
    {
        return device + dev(name).substr(std::strlen(filelive::kDev));
    }

    // One task: its own file written, synced, read back through a second descriptor, closed;
    // its region of the shared file written through a descriptor of its own. What went wrong.
    std::string task(int index, const char *device)
    {
        std::mt19937 random(static_cast<uint32_t>(100 + index));
        const std::vector<char> own = seeded(kOwnSize, index);
        const std::string name = "task" + std::to_string(index);
        const int fd = kOpen(on(device, name).c_str(), K_O_RDWR | K_O_CREAT, 0644);
        const int shared = kOpen(on(device, "shared").c_str(), K_O_RDWR, 0);
        if (fd < 0 || shared < 0)
            return "open";
        std::string failed;
        if (kIoctl(shared, K_FIOSEEK, static_cast<intptr_t>(index) * static_cast<intptr_t>(kRegion)) != 0 ||
            !writeAll(shared, seeded(kRegion, 50 + index), random))
            failed += "shared write; ";
        if (!writeAll(fd, own, random) || kIoctl(fd, K_FIOSYNC, 0) < 0)
            failed += "own write; ";
        const int reader = kOpen(on(device, name).c_str(), K_O_RDONLY, 0);
        if (reader < 0 || readAll(reader, 7000) != own || kClose(reader) != 0)
            failed += "read back; ";
        if (kClose(shared) != 0 || kClose(fd) != 0)
            failed += "close; ";
        return failed;
    }

    void run(std::vector<const char *> devices)
    {
        ASSERT_EQ(kClose(kOpen(dev("shared").c_str(), K_O_RDWR | K_O_CREAT, 0644)), 0);
        std::atomic<bool> working{true};
        int churned = 0;
        std::thread churn([&] {
            while (working && nfsMount(live::host().c_str(), live::exportPath().c_str(), kChurnDevice) == 0 &&
                   nfsUnmount(kChurnDevice) == 0)
                ++churned;
            nfsClientClose();
        });
        // What exit does, while the tasks still write: every open file written back and
        // committed by a task that owns none of them.
        int syncs = 0;
        std::thread syncer([&] {
            while (working && nfsSyncAll() == 0)
                ++syncs;
            nfsClientClose();
        });
        std::vector<std::string> failures(kTasks);
        std::vector<std::thread> tasks;
        for (std::size_t i = 0; i < kTasks; ++i)
            tasks.emplace_back(
                [&, i] { failures[i] = task(static_cast<int>(i), devices[i % devices.size()]); });
        for (std::thread &t : tasks)
            t.join();
        working = false;
        churn.join();
        syncer.join();
        EXPECT_GT(churned, 0) << "mounts and unmounts ran alongside";
        EXPECT_GT(syncs, 0) << "nfsSyncAll ran alongside, without a failure";

        std::vector<char> shared;
        for (int i = 0; i < kTasks; ++i) {
            EXPECT_EQ(failures[static_cast<std::size_t>(i)], "") << "task " << i;
            EXPECT_TRUE(onServer("task" + std::to_string(i)) == seeded(kOwnSize, i)) << "task " << i;
            const std::vector<char> region = seeded(kRegion, 50 + i);
            shared.insert(shared.end(), region.begin(), region.end());
        }
        EXPECT_TRUE(onServer("shared") == shared) << "each region, whichever cache it went through";
    }
};

TEST_F(ConcurrencyLive, FourTasksOnOneDeviceWithMountsAlongside)
{
    run({filelive::kDev});
}

TEST_F(ConcurrencyLive, FourTasksOnTwoDevicesWithMountsAlongside)
{
    run({filelive::kDev, kSecondDevice});
}

// Tasks reading files whose blocks share the device's lines, a few thousand bytes at a time,
// while another task writes a file of its own there: each read gets the server's bytes, whether
// its block's own line served it or, beside another task's reading, the alternate line.
TEST_F(ConcurrencyLive, TasksReadingSideBySideGetTheServersBytes)
{
    ASSERT_EQ(kClose(kOpen(dev("shared").c_str(), K_O_RDWR | K_O_CREAT, 0644)), 0);
    for (int i = 0; i < kTasks; ++i)
        putOnServer("side" + std::to_string(i), seeded(kOwnSize, 200 + i));
    std::vector<std::string> failures(kTasks + 1);
    std::vector<std::thread> tasks;
    for (int i = 0; i < kTasks; ++i)
        tasks.emplace_back([&, i] {
            const std::string name = "side" + std::to_string(i);
            for (int pass = 0; pass < 3; ++pass) {
                const int fd = kOpen(dev(name).c_str(), K_O_RDONLY, 0);
                if (fd < 0 || readAll(fd, 3000 + 1000 * i) != seeded(kOwnSize, 200 + i) || kClose(fd) != 0)
                    failures[static_cast<std::size_t>(i)] += "pass " + std::to_string(pass) + "; ";
            }
            nfsClientClose();
        });
    tasks.emplace_back([&] {
        failures[kTasks] = task(kTasks, filelive::kDev);
        nfsClientClose();
    });
    for (std::thread &t : tasks)
        t.join();
    for (std::size_t i = 0; i <= kTasks; ++i)
        EXPECT_EQ(failures[i], "") << "task " << i;
    EXPECT_TRUE(onServer("task" + std::to_string(kTasks)) == seeded(kOwnSize, kTasks));
}

// The writer's second full line waits to go out behind it (write-behind, the window at its
// default) when another task, through a descriptor of its own, writes into that line and
// closes: the writer then goes on and closes. The server holds the writer's bytes with the
// other task's over them, whichever task's call sent the line.
TEST_F(ConcurrencyLive, AnotherTaskWritesIntoALineWaitingBehind)
{
    constexpr int kLine = 16384;
    constexpr int kPatchAt = kLine + 1000;
    const std::vector<char> written = seeded(2 * kLine + 5000, 7);
    const std::vector<char> patch = seeded(3000, 8);
    const int fd = kOpen(dev("behind").c_str(), K_O_RDWR | K_O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(kWrite(fd, written.data(), 2 * kLine), 2 * kLine);
    ASSERT_EQ(onServer("behind").size(), std::size_t{kLine}) << "the second line waits behind";
    std::string failed;
    std::thread other([&] {
        const int mine = kOpen(dev("behind").c_str(), K_O_RDWR, 0);
        if (mine < 0 || kIoctl(mine, K_FIOSEEK, kPatchAt) != 0 ||
            kWrite(mine, patch.data(), static_cast<int>(patch.size())) != static_cast<int>(patch.size()) ||
            kClose(mine) != 0)
            failed = "other task's write";
        nfsClientClose();
    });
    other.join();
    EXPECT_EQ(failed, "");
    EXPECT_EQ(kWrite(fd, written.data() + 2 * kLine, 5000), 5000);
    EXPECT_EQ(kClose(fd), 0) << std::hex << errnoGet();
    std::vector<char> expected = written;
    std::copy(patch.begin(), patch.end(), expected.begin() + kPatchAt);
    EXPECT_TRUE(onServer("behind") == expected);
}

// What a task does while another task's call waits on the paused server: it must finish
// before the server comes back, with the cached bytes.
enum class Stalled { fill, writeBack };
struct PausedCase {
    const char *name;
    Stalled stalled; // the other task's call: a READ filling a line, or a full line's WRITE
    bool sameFile;   // the hit is through another descriptor of the stalled task's file
    bool write;      // the hit writes into a cached line instead of reading
};

class PausedServerLive : public ConcurrencyLive {
protected:
    void SetUp() override
    {
        ConcurrencyLive::SetUp();
        savedTimeout_ = nfsTimeoutSec;
        nfsTimeoutSec = 20; // the stalled call outlives the pause
    }
    void TearDown() override
    {
        nfsTimeoutSec = savedTimeout_;
        ConcurrencyLive::TearDown();
    }
    static uint64_t calls(uint32_t proc)
    {
        return nfsStatSlot(IPPROTO_UDP, NFS_PROGRAM, NFS_V3, proc).calls.value() +
               nfsStatSlot(IPPROTO_TCP, NFS_PROGRAM, NFS_V3, proc).calls.value();
    }
    void hitWhileACallWaits(const PausedCase &c);

private:
    int32_t savedTimeout_ = 0;
};

void PausedServerLive::hitWhileACallWaits(const PausedCase &c)
{
    constexpr int kLine = 16384;
    const std::string stalledName = std::string("stalled-") + c.name;
    const std::string hitName = c.sameFile ? stalledName : std::string("hit-") + c.name;
    const std::vector<char> stalledBytes = seeded(4 * kLine, 31);
    // A write hit into a line it leaves short of full: a full line would go out at once.
    const std::vector<char> hitBytes = seeded(c.write ? 1000 : 4 * kLine, 32);
    const std::vector<char> patch = seeded(100, 33);
    putOnServer(stalledName, c.sameFile ? hitBytes : stalledBytes);
    putOnServer(hitName, hitBytes);
    const int stalledFd = kOpen(dev(stalledName).c_str(), K_O_RDWR, 0);
    const int hitFd = kOpen(dev(hitName).c_str(), K_O_RDWR, 0);
    ASSERT_GE(stalledFd, 0);
    ASSERT_GE(hitFd, 0);
    std::vector<char> got(100);
    ASSERT_EQ(kRead(hitFd, got.data(), 100), 100) << "the hit's line is cached";
    ASSERT_EQ(kIoctl(hitFd, K_FIOSEEK, 0), 0);
    if (c.stalled == Stalled::fill) {
        ASSERT_EQ(kIoctl(stalledFd, K_FIOSEEK, 2 * kLine), 0); // a line not cached
    }

    const uint32_t proc = c.stalled == Stalled::fill ? NFSPROC3_READ : NFSPROC3_WRITE;
    const uint64_t before = calls(proc);
    std::atomic<bool> stalledDone{false};
    std::vector<char> stalledGot(100);
    int stalledResult = 0;
    std::thread stalled;
    {
        live::PeerPaused paused("RT_GANESHA_PID");
        stalled = std::thread([&] {
            stalledResult = c.stalled == Stalled::fill ? kRead(stalledFd, stalledGot.data(), 100)
                                                       : kWrite(stalledFd, stalledBytes.data(), kLine);
            stalledDone = true;
            nfsClientClose();
        });
        while (calls(proc) == before) // the other task's call is on its way
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const int moved = c.write ? kWrite(hitFd, patch.data(), 100) : kRead(hitFd, got.data(), 100);
        EXPECT_EQ(moved, 100);
        EXPECT_FALSE(stalledDone) << "the hit went on while the other call waited";
    }
    stalled.join();
    if (c.stalled == Stalled::fill) {
        const std::vector<char> &server = c.sameFile ? hitBytes : stalledBytes;
        EXPECT_EQ(stalledResult, 100);
        EXPECT_TRUE(std::equal(stalledGot.begin(), stalledGot.end(), server.begin() + 2 * kLine));
    } else {
        EXPECT_EQ(stalledResult, kLine);
    }
    if (!c.write) {
        EXPECT_TRUE(std::equal(got.begin(), got.end(), hitBytes.begin()));
    }
    EXPECT_EQ(kClose(hitFd), 0) << std::hex << errnoGet();
    EXPECT_EQ(kClose(stalledFd), 0) << std::hex << errnoGet();
    std::vector<char> expectedHit = hitBytes;
    if (c.write)
        std::copy(patch.begin(), patch.end(), expectedHit.begin());
    EXPECT_TRUE(onServer(hitName) == expectedHit);
    if (!c.sameFile) {
        EXPECT_TRUE(onServer(stalledName) == stalledBytes);
    }
}

TEST_F(PausedServerLive, AHitGoesOnWhileAnotherTasksCallWaitsAndThatCallEndsRight)
{
    for (const PausedCase &c : {PausedCase{"readOfAnotherFile", Stalled::fill, false, false},
                                PausedCase{"readThroughAnotherDescriptor", Stalled::fill, true, false},
                                PausedCase{"writeDuringAWriteBack", Stalled::writeBack, false, true}}) {
        SCOPED_TRACE(c.name);
        hitWhileACallWaits(c);
    }
}

} // namespace
