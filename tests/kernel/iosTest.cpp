// The I/O system: device list, driver table, path resolution and the descriptor table.
#include "iosTestDriver.h"

#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <limits>
#include <string>
#include <thread>
#include <vector>

namespace {

using memdrv::MemDevice;

class IosDevTest : public memdrv::MemDriverTest {};

TEST_F(IosDevTest, LongestPrefixWinsAndTailIsTheRest)
{
    MemDevice &outer = addDevice("/lpNfs");
    MemDevice &inner = addDevice("/lpNfs/sub");
    const char *tail = nullptr;

    const char *path = "/lpNfs/sub/f";
    EXPECT_EQ(iosDevFind(path, &tail), &inner.hdr);
    EXPECT_STREQ(tail, "/f");

    path = "/lpNfs/f";
    EXPECT_EQ(iosDevFind(path, &tail), &outer.hdr);
    EXPECT_STREQ(tail, "/f");

    path = "/lpNfs/sub";
    EXPECT_EQ(iosDevFind(path, &tail), &inner.hdr);
    EXPECT_STREQ(tail, "");

    // A longer name that only matches inside a component loses to a whole-component match.
    path = "/lpNfs/subdir/f";
    EXPECT_EQ(iosDevFind(path, &tail), &outer.hdr);
    EXPECT_STREQ(tail, "/subdir/f");

    // With no whole-component match, the plain prefix still finds the device.
    path = "/lpNfsx";
    EXPECT_EQ(iosDevFind(path, &tail), &outer.hdr);
    EXPECT_STREQ(tail, "x");

    path = "/lpNothing/f";
    EXPECT_EQ(iosDevFind(path, &tail), nullptr);
    EXPECT_EQ(tail, path);
}

TEST_F(IosDevTest, AddRefusesDuplicatesBadDriversAndLongNames)
{
    MemDevice &dev = addDevice("/dupDev");
    MemDevice other;
    errnoSet(0);
    EXPECT_EQ(iosDevAdd(&other.hdr, "/dupDev", drvNum), -1);
    EXPECT_EQ(errnoGet(), K_IOS_DUPLICATE_DEVICE);
    EXPECT_EQ(iosDevAdd(&dev.hdr, "/dupDevAgain", drvNum), -1); // already linked
    EXPECT_EQ(iosDevAdd(&other.hdr, "/dupBadDrv", K_IOS_MAX_DRIVERS), -1);
    EXPECT_EQ(errnoGet(), K_ENXIO);
    EXPECT_EQ(iosDevAdd(&other.hdr, "", drvNum), -1);

    const std::string longest = "/" + std::string(K_IOS_DEV_NAME_MAX - 1, 'n');
    EXPECT_EQ(iosDevAdd(&other.hdr, (longest + "x").c_str(), drvNum), -1);
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);
    ASSERT_EQ(iosDevAdd(&other.hdr, longest.c_str(), drvNum), 0);
    EXPECT_STREQ(other.hdr.name, longest.c_str());
    EXPECT_EQ(other.hdr.drvNum, drvNum);
    iosDevDelete(&other.hdr);
}

TEST_F(IosDevTest, NameIsCopiedAndDeleteUnlinks)
{
    std::array<char, 16> name{"/copyDev"};
    MemDevice &dev = addDevice(name.data());
    name[1] = 'X';
    EXPECT_STRNE(name.data(), "/copyDev");
    const char *tail = nullptr;
    EXPECT_EQ(iosDevFind("/copyDev/a", &tail), &dev.hdr);

    iosDevDelete(&dev.hdr);
    EXPECT_EQ(iosDevFind("/copyDev/a", &tail), nullptr);
    EXPECT_EQ(dev.hdr.name, nullptr);
    iosDevDelete(&dev.hdr); // a second delete is harmless
    for (DEV_HDR *p = iosNextDevGet(nullptr); p != nullptr; p = iosNextDevGet(p)) {
        EXPECT_NE(p, &dev.hdr);
    }
    ASSERT_EQ(iosDevAdd(&dev.hdr, "/copyDev", drvNum), 0); // the name is free again
}

TEST_F(IosDevTest, NextDevGetWalksInOrderOfAdding)
{
    MemDevice &a = addDevice("/orderC");
    MemDevice &b = addDevice("/orderA");
    MemDevice &c = addDevice("/orderB");
    std::vector<DEV_HDR *> seen;
    for (DEV_HDR *p = iosNextDevGet(nullptr); p != nullptr; p = iosNextDevGet(p)) {
        if (p == &a.hdr || p == &b.hdr || p == &c.hdr) {
            seen.push_back(p);
        }
    }
    EXPECT_EQ(seen, (std::vector<DEV_HDR *>{&a.hdr, &b.hdr, &c.hdr}));
    EXPECT_EQ(iosNextDevGet(&c.hdr), nullptr);
}

TEST(IosDrvTest, TableFillsAndRemoveRefusesWhileInUse)
{
    std::vector<int> installed;
    int drv = 0;
    while ((drv = iosDrvInstall(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr)) > 0) {
        installed.push_back(drv);
        ASSERT_LT(installed.size(), static_cast<std::size_t>(K_IOS_MAX_DRIVERS));
    }
    EXPECT_EQ(drv, -1);
    EXPECT_EQ(errnoGet(), K_IOS_DRIVER_TABLE_FULL);
    ASSERT_FALSE(installed.empty());

    DEV_HDR dev{};
    ASSERT_EQ(iosDevAdd(&dev, "/busyDrv", installed.front()), 0);
    EXPECT_EQ(iosDrvRemove(installed.front()), -1);
    EXPECT_EQ(errnoGet(), K_EBUSY);
    // Null entries fail cleanly rather than crash.
    EXPECT_EQ(kOpen("/busyDrv/x", K_O_RDONLY, 0), -1);
    EXPECT_EQ(errnoGet(), K_ENOTSUP);
    EXPECT_EQ(kRemove("/busyDrv/x"), -1);
    EXPECT_EQ(errnoGet(), K_ENOTSUP);
    iosDevDelete(&dev);

    for (const int n : installed) {
        EXPECT_EQ(iosDrvRemove(n), 0);
    }
    EXPECT_EQ(iosDrvRemove(installed.front()), -1);
    EXPECT_EQ(iosDrvRemove(0), -1); // the standard streams' driver stays
    EXPECT_EQ(iosDrvRemove(-1), -1);
}

// A driver's file value is any word but -1: an open record at an address with the top bit
// set (every allocation under ASan on a 32-bit host) is an open file, not a failure.
TEST(IosDrvTest, AnyFileValueButMinusOneIsAnOpenFile)
{
    static intptr_t opened = 0;
    static intptr_t closed = 0;
    const int drv = iosDrvInstall(
        nullptr, nullptr, [](DEV_HDR *, char *, int, int) { return opened; },
        [](intptr_t file) {
            closed = file;
            return 0;
        },
        nullptr, nullptr, nullptr);
    ASSERT_GT(drv, 0);
    DEV_HDR dev{};
    ASSERT_EQ(iosDevAdd(&dev, "/topBit", drv), 0);
    const intptr_t topBit = std::numeric_limits<intptr_t>::min();
    for (const intptr_t value : {topBit + 0x40, intptr_t{-2} - 1, intptr_t{0}}) {
        opened = value;
        closed = 0;
        const int fd = kOpen("/topBit/f", K_O_RDONLY, 0);
        ASSERT_GE(fd, 0) << std::hex << value;
        EXPECT_EQ(kClose(fd), 0);
        EXPECT_EQ(closed, value) << std::hex << value;
    }
    opened = -1;
    EXPECT_EQ(kOpen("/topBit/f", K_O_RDONLY, 0), -1);
    iosDevDelete(&dev);
    EXPECT_EQ(iosDrvRemove(drv), 0);
}

// The default path is global: each test that changes it puts it back.
class DefaultPath {
public:
    DefaultPath() { ioDefPathGet(saved_.data(), saved_.size()); }
    ~DefaultPath() { ioDefPathSet(saved_.data()); }
    DefaultPath(const DefaultPath &) = delete;
    DefaultPath &operator=(const DefaultPath &) = delete;

private:
    std::array<char, 1024> saved_{};
};

class IosPathTest : public memdrv::MemDriverTest {};

TEST_F(IosPathTest, DriverReceivesTheTail)
{
    MemDevice &outer = addDevice("/tailDev");
    MemDevice &inner = addDevice("/tailDev/sub");
    inner.files["/f"] = "x";
    const int fd = kOpen("/tailDev/sub/f", K_O_RDONLY, 0);
    ASSERT_GE(fd, 3);
    EXPECT_EQ(inner.tails, std::vector<std::string>{"/f"});
    EXPECT_TRUE(outer.tails.empty());
    EXPECT_EQ(kClose(fd), 0);

    EXPECT_EQ(kOpen("/tailDev/none", K_O_RDONLY, 0), -1);
    EXPECT_EQ(errnoGet(), K_ENOENT);
}

TEST_F(IosPathTest, DefaultPathGoesInFrontOfUnmatchedPaths)
{
    const DefaultPath restore;
    MemDevice &dev = addDevice("/defDev");
    ASSERT_EQ(ioDefPathSet("/defDev"), 0);
    std::array<char, 16> got{};
    ioDefPathGet(got.data(), got.size());
    EXPECT_STREQ(got.data(), "/defDev");
    ioDefPathGet(got.data(), 4);
    EXPECT_STREQ(got.data(), "/de");

    dev.files["/rel"] = "";
    dev.files["/abs"] = "";
    int fd = kOpen("rel", K_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(kClose(fd), 0);
    fd = kOpen("/abs", K_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(dev.tails, (std::vector<std::string>{"/rel", "/abs"}));

    ASSERT_EQ(ioDefPathSet("/noSuchDefault"), 0);
    EXPECT_EQ(kOpen("rel", K_O_RDONLY, 0), -1);
    EXPECT_EQ(errnoGet(), K_IOS_NO_DEVICE);

    EXPECT_EQ(ioDefPathSet(std::string(2000, 'd').c_str()), -1);
    EXPECT_EQ(ioDefPathSet(nullptr), -1);
}

TEST_F(IosPathTest, FollowLinkRestartsOnAnotherDevice)
{
    MemDevice &outer = addDevice("/lnk");
    MemDevice &inner = addDevice("/lnk/other");
    outer.links["/jump"] = "/other/target";
    inner.files["/target"] = "data";
    const int fd = kOpen("/lnk/jump", K_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(inner.tails, std::vector<std::string>{"/target"});
    std::array<char, 8> buf{};
    EXPECT_EQ(kRead(fd, buf.data(), 8), 4);
    EXPECT_STREQ(buf.data(), "data");
    EXPECT_EQ(kClose(fd), 0);

    outer.links["/del"] = "/other/target";
    EXPECT_EQ(kRemove("/lnk/del"), 0);
    EXPECT_EQ(inner.files.count("/target"), 0U);
}

TEST_F(IosPathTest, RestartCycleEndsWithLoopError)
{
    MemDevice &dev = addDevice("/cyc");
    dev.links["/a"] = "/b";
    dev.links["/b"] = "/a";
    errnoSet(0);
    EXPECT_EQ(kOpen("/cyc/a", K_O_RDONLY, 0), -1);
    EXPECT_EQ(errnoGet(), K_ELOOP);
    EXPECT_EQ(dev.pathCalls, K_IOS_MAX_RESTARTS + 1);

    // Exactly the allowed number of restarts still succeeds.
    MemDevice &chain = addDevice("/chain");
    for (int i = 0; i < K_IOS_MAX_RESTARTS; ++i) {
        chain.links["/" + std::to_string(i)] = "/" + std::to_string(i + 1);
    }
    chain.files["/" + std::to_string(K_IOS_MAX_RESTARTS)] = "";
    const int fd = kOpen("/chain/0", K_O_RDONLY, 0);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(kClose(fd), 0);
}

TEST_F(IosPathTest, RewritesAndPathsBeyondTheRoomAreRefused)
{
    MemDevice &dev = addDevice("/room");
    dev.rewrite = [](char *tail) -> intptr_t {
        std::memset(tail, 'r', K_IOS_TAIL_ROOM); // fills the room, no terminator
        return K_FOLLOW_LINK;
    };
    EXPECT_EQ(kOpen("/room/x", K_O_RDONLY, 0), -1);
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);

    dev.rewrite = [](char *tail) -> intptr_t {
        std::memset(tail, 'r', K_IOS_TAIL_ROOM - 1); // terminated, but too long a path
        tail[K_IOS_TAIL_ROOM - 1] = '\0';
        return K_FOLLOW_LINK;
    };
    EXPECT_EQ(kOpen("/room/x", K_O_RDONLY, 0), -1);
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);

    // The tail of a path already near the limit still has the full room after it.
    dev.rewrite = nullptr;
    const std::string nearLimit = "/room/" + std::string(1010, 'p');
    dev.links[nearLimit.substr(5)] = std::string(K_IOS_TAIL_ROOM - 1, '/');
    EXPECT_EQ(kOpen(nearLimit.c_str(), K_O_RDONLY, 0), -1);
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);

    EXPECT_EQ(kOpen(("/room/" + std::string(2000, 'p')).c_str(), K_O_RDONLY, 0), -1);
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);
    EXPECT_EQ(kOpen(nullptr, K_O_RDONLY, 0), -1);
}

class IosFdTest : public memdrv::MemDriverTest {};

TEST_F(IosFdTest, TableExhaustsAndFreedNumbersAreReused)
{
    MemDevice &dev = addDevice("/fdDev");
    std::vector<int> fds;
    int fd = 0;
    while ((fd = kOpen("/fdDev", K_O_RDONLY, 0)) >= 0) {
        fds.push_back(fd);
        ASSERT_LE(fds.size(), static_cast<std::size_t>(K_IOS_MAX_FILES));
    }
    EXPECT_EQ(errnoGet(), K_EMFILE);
    EXPECT_EQ(kOpen("/fdDev", K_O_RDONLY, 0), -1);
    // Only the successful opens reached the driver: a full table is found out first.
    EXPECT_EQ(dev.pathCalls, static_cast<int>(fds.size()));
    ASSERT_GT(fds.size(), 100U);

    const int reused = fds[fds.size() / 2];
    EXPECT_EQ(kClose(reused), 0);
    EXPECT_EQ(kOpen("/fdDev", K_O_RDONLY, 0), reused);
    for (const int open : fds) {
        EXPECT_EQ(kClose(open), 0);
    }
    // A failed open gives its reserved number back.
    EXPECT_EQ(kOpen("/fdDev/none", K_O_RDONLY, 0), -1);
    fd = kOpen("/fdDev", K_O_RDONLY, 0);
    EXPECT_GE(fd, 3);
    EXPECT_LE(fd, fds.front());
    EXPECT_EQ(kClose(fd), 0);
}

TEST_F(IosFdTest, BadDescriptorsAreRefused)
{
    addDevice("/badFd");
    std::array<char, 4> buf{};
    for (const int fd : {-1, K_IOS_MAX_FILES, K_IOS_MAX_FILES - 1, 1 << 20}) {
        errnoSet(0);
        EXPECT_EQ(kRead(fd, buf.data(), 1), -1) << fd;
        EXPECT_EQ(errnoGet(), K_EBADF) << fd;
        EXPECT_EQ(kWrite(fd, buf.data(), 1), -1);
        EXPECT_EQ(kIoctl(fd, K_FIOWHERE, 0), -1);
        EXPECT_EQ(kClose(fd), -1);
        EXPECT_EQ(kLseek(fd, 0, K_SEEK_SET), -1);
    }
    const int fd = kOpen("/badFd", K_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(kRead(fd, buf.data(), -1), -1);
    EXPECT_EQ(errnoGet(), K_EINVAL);
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(kClose(fd), -1);
    EXPECT_EQ(errnoGet(), K_EBADF);
    EXPECT_EQ(kRead(fd, buf.data(), 1), -1);
}

TEST_F(IosFdTest, ConcurrentOpensGetDistinctDescriptors)
{
    MemDevice &dev = addDevice("/racing");
    dev.files["/f"] = "";
    constexpr int kThreads = 4;
    constexpr int kRounds = 200;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&failures] {
            for (int i = 0; i < kRounds; ++i) {
                const int fd = kOpen("/racing/f", K_O_RDONLY, 0);
                const char byte = 'z';
                if (fd < 3 || kWrite(fd, &byte, 0) != 0 || kClose(fd) != 0) {
                    ++failures;
                }
            }
        });
    }
    // Devices come and go beside the opens.
    for (int i = 0; i < kRounds; ++i) {
        DEV_HDR extra{};
        ASSERT_EQ(iosDevAdd(&extra, "/racingExtra", drvNum), 0);
        iosDevDelete(&extra);
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(dev.pathCalls, kThreads * kRounds);
}

} // namespace
