// Tasks sharing mounts of the real server: four tasks writing, syncing, reading back and
// closing files on one device and on two devices, with small caches so that each task's lines
// are evicted by the others, a file written by all four through descriptors of their own, and
// another task mounting and unmounting a device alongside. Every byte is checked on the
// server's side and as read back. Built with ThreadSanitizer too.
#include "live/liveServer.h"

#include <brisnel/nfs3Drv.h>
#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsMountLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/bootLib.h>
#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kTasks = 4;
constexpr std::size_t kOwnSize = 200 * 1024;
constexpr std::size_t kRegion = 64 * 1024; // each task's part of the shared file, line-aligned
const std::vector<std::string> kDevices = {"/nfs9c", "/nfs9d"};
constexpr const char *kChurnDevice = "/nfs9e";

std::vector<char> randomBytes(std::size_t n, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<char> bytes(n);
    for (char &c : bytes)
        c = static_cast<char>(byte(random));
    return bytes;
}

// What one task saw go wrong; empty when nothing did.
struct Outcome {
    std::string failure;
    std::vector<char> readBack;
};

bool writeAll(int fd, const std::vector<char> &data, std::size_t from, std::size_t to, std::mt19937 &random)
{
    std::uniform_int_distribution<std::size_t> length(1, 9000);
    for (std::size_t at = from; at < to;) {
        const std::size_t n = std::min(length(random), to - at);
        if (kWrite(fd, data.data() + at, static_cast<int>(n)) != static_cast<int>(n))
            return false;
        at += n;
    }
    return true;
}

class ConcurrencyLive : public testing::Test {
protected:
    void SetUp() override
    {
        nfsAuthUnixSet(sysBootParams.hostName, 2001, 100, 0, nullptr);
        ASSERT_EQ(nfs3Drv(), 0);
        nfs3CacheParamsSet(4, 4096, 0); // few lines: the tasks evict each other's
        for (const std::string &device : kDevices)
            ASSERT_EQ(nfsMount(live::host().c_str(), live::exportPath().c_str(), device.c_str()), 0)
                << std::hex << errnoGet();
        folder_ = live::exportDir() + "/h9-concurrency-" +
                  testing::UnitTest::GetInstance()->current_test_info()->name();
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directory(folder_);
        ASSERT_EQ(::chown(folder_.c_str(), 2001, 100), 0);
    }
    void TearDown() override
    {
        for (const std::string &device : kDevices)
            EXPECT_EQ(nfsUnmount(device.c_str()), 0) << std::hex << errnoGet();
        nfs3CacheParamsSet(16, 16384, 0);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
        nfsClientClose();
    }

    std::string path(const std::string &device, const std::string &name) const
    {
        return device + "/" + std::filesystem::path(folder_).filename().string() + "/" + name;
    }
    std::vector<char> onServer(const std::string &name) const
    {
        std::ifstream in(folder_ + "/" + name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // One task: its own file written, synced, read back through a second descriptor and
    // closed; its line-aligned region of the shared file written through a descriptor of its own.
    Outcome task(int index, const std::string &device)
    {
        Outcome out;
        std::mt19937 random(static_cast<uint32_t>(100 + index));
        const std::vector<char> own = randomBytes(kOwnSize, static_cast<uint32_t>(index));
        const std::vector<char> region = randomBytes(kRegion, static_cast<uint32_t>(50 + index));
        const std::string name = "task" + std::to_string(index);
        const int fd = kOpen(path(device, name).c_str(), K_O_RDWR | K_O_CREAT, 0644);
        const int shared = kOpen(path(device, "shared").c_str(), K_O_RDWR | K_O_CREAT, 0644);
        if (fd < 0 || shared < 0)
            return {"open failed: " + std::to_string(errnoGet()), {}};
        const auto slot = static_cast<intptr_t>(index) * static_cast<intptr_t>(kRegion);
        if (kIoctl(shared, K_FIOSEEK, slot) != 0 || !writeAll(shared, region, 0, kRegion, random))
            out.failure += "shared write; ";
        if (!writeAll(fd, own, 0, kOwnSize, random))
            out.failure += "own write; ";
        if (kIoctl(fd, K_FIOSYNC, 0) < 0)
            out.failure += "sync; ";
        const int reader = kOpen(path(device, name).c_str(), K_O_RDONLY, 0);
        if (reader < 0) {
            out.failure += "second open; ";
        } else {
            std::vector<char> buf(7000);
            for (int got = 0; (got = kRead(reader, buf.data(), static_cast<int>(buf.size()))) > 0;)
                out.readBack.insert(out.readBack.end(), buf.begin(), buf.begin() + got);
            if (kClose(reader) != 0)
                out.failure += "reader close; ";
        }
        if (kClose(shared) != 0 || kClose(fd) != 0)
            out.failure += "close; ";
        if (out.readBack != own)
            out.failure += "read back differs; ";
        return out;
    }

    // Runs the four tasks, spread over `devices` devices, while another task mounts and
    // unmounts a device of its own.
    void run(std::size_t devices)
    {
        std::vector<Outcome> outcomes(kTasks);
        std::atomic<bool> working{true};
        int churned = 0;
        std::thread churn([&] {
            while (working.load()) {
                if (nfsMount(live::host().c_str(), live::exportPath().c_str(), kChurnDevice) != 0 ||
                    nfsUnmount(kChurnDevice) != 0)
                    return;
                ++churned;
            }
            nfsClientClose();
        });
        std::vector<std::thread> tasks;
        for (int i = 0; i < kTasks; ++i)
            tasks.emplace_back([&, i] { outcomes[static_cast<std::size_t>(i)] = task(i, kDevices[static_cast<std::size_t>(i) % devices]); });
        for (std::thread &t : tasks)
            t.join();
        working = false;
        churn.join();
        EXPECT_GT(churned, 0) << "mounts and unmounts ran alongside";

        for (int i = 0; i < kTasks; ++i) {
            EXPECT_EQ(outcomes[static_cast<std::size_t>(i)].failure, "") << "task " << i;
            EXPECT_TRUE(onServer("task" + std::to_string(i)) == randomBytes(kOwnSize, static_cast<uint32_t>(i)))
                << "task " << i << "'s file on the server";
        }
        // Each task's region of the shared file, whichever device and cache it went through.
        std::vector<char> expected;
        for (int i = 0; i < kTasks; ++i) {
            const std::vector<char> region = randomBytes(kRegion, static_cast<uint32_t>(50 + i));
            expected.insert(expected.end(), region.begin(), region.end());
        }
        EXPECT_TRUE(onServer("shared") == expected) << "the shared file on the server";
    }

    std::string folder_;
};

TEST_F(ConcurrencyLive, FourTasksOnOneDeviceWithMountsAlongside) { run(1); }

TEST_F(ConcurrencyLive, FourTasksOnTwoDevicesWithMountsAlongside) { run(2); }

} // namespace
