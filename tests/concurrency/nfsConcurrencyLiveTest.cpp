// Tasks sharing mounts of the real server: four tasks writing, syncing, reading back and
// closing files on one device and on two, so that each task's cache lines are evicted by the
// others', a file written by all four through descriptors of their own, another task
// mounting and unmounting a device alongside, and a task writing into a line that waits to go
// out behind another task's sequential write. Every byte is checked on the server's side and
// as read back. Built with ThreadSanitizer too.
#include "live/nfs3FileLive.h"

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

} // namespace
