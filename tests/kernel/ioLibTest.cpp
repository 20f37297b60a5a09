// The user-level calls built on the driver entries: seeking, directory streams, rename,
// rmdir, mkdir, stat, and the standard streams.
#include "iosTestDriver.h"

#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>
#include <kernel/kernelErrno.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using memdrv::MemDevice;

class IoLibTest : public memdrv::MemDriverTest {};

TEST_F(IoLibTest, ShortReadCountsArePassedOn)
{
    MemDevice &dev = addDevice("/shortRd");
    dev.files["/f"] = "0123456789abcdef";
    const int fd = kOpen("/shortRd/f", K_O_RDWR, 0);
    ASSERT_GE(fd, 0);
    std::array<char, 32> buf{};
    EXPECT_EQ(kRead(fd, buf.data(), 32), 7); // the driver's own count, not the asked one
    EXPECT_EQ(std::string(buf.data(), 7), "0123456");
    EXPECT_EQ(kRead(fd, buf.data(), 0), 0);
    EXPECT_EQ(kWrite(fd, "XY", 2), 2);
    EXPECT_EQ(dev.files["/f"], "0123456XY9abcdef");
    EXPECT_EQ(kClose(fd), 0);
}

TEST_F(IoLibTest, LseekHandlesAllThreeWhences)
{
    MemDevice &dev = addDevice("/seekDev");
    dev.files["/f"] = std::string(100, 's');
    const int fd = kOpen("/seekDev/f", K_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(kLseek(fd, 40, K_SEEK_SET), 40);
    EXPECT_EQ(kLseek(fd, 5, K_SEEK_CUR), 45);
    EXPECT_EQ(kLseek(fd, -45, K_SEEK_CUR), 0);
    EXPECT_EQ(kLseek(fd, -10, K_SEEK_END), 90);
    EXPECT_EQ(kLseek(fd, 0, K_SEEK_END), 100);
    EXPECT_EQ(kLseek(fd, int64_t{1} << 33, K_SEEK_END), (int64_t{1} << 33) + 100);

    errnoSet(0);
    EXPECT_EQ(kLseek(fd, -101, K_SEEK_END), -1);
    EXPECT_EQ(errnoGet(), K_EINVAL);
    EXPECT_EQ(kLseek(fd, -1, K_SEEK_SET), -1);
    EXPECT_EQ(kLseek(fd, INT64_MAX, K_SEEK_END), -1); // overflow, not a wrapped position
    EXPECT_EQ(kLseek(fd, 0, 3), -1);
    EXPECT_EQ(errnoGet(), K_EINVAL);
    // Failed seeks leave the position where it was.
    EXPECT_EQ(kLseek(fd, 0, K_SEEK_CUR), (int64_t{1} << 33) + 100);
    EXPECT_EQ(kClose(fd), 0);
}

TEST_F(IoLibTest, ReaddirListsThenRewindStartsOver)
{
    MemDevice &dev = addDevice("/dirDev");
    dev.files = {{"a", ""}, {"b", ""}, {"c", ""}};
    KDIR *pDir = kOpendir("/dirDev");
    ASSERT_NE(pDir, nullptr);
    std::vector<std::string> names;
    while (const kdirent *entry = kReaddir(pDir)) {
        names.emplace_back(entry->d_name);
        ASSERT_LE(names.size(), 3U);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(pDir->dd_eof, 1);
    EXPECT_EQ(kReaddir(pDir), nullptr);

    kRewinddir(pDir);
    EXPECT_EQ(pDir->dd_eof, 0);
    const kdirent *first = kReaddir(pDir);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->d_name, "a");
    EXPECT_EQ(kClosedir(pDir), 0);

    EXPECT_EQ(kOpendir("/dirDev/none"), nullptr);
    EXPECT_EQ(errnoGet(), K_ENOENT);
    EXPECT_EQ(kReaddir(nullptr), nullptr);
    EXPECT_EQ(kClosedir(nullptr), -1);
}

TEST_F(IoLibTest, ReaddirStopsOnDriverError)
{
    addDevice("/dirErr");
    KDIR *pDir = kOpendir("/dirErr");
    ASSERT_NE(pDir, nullptr);
    const int fd = pDir->dd_fd;
    EXPECT_EQ(kClose(fd), 0); // the stream's descriptor goes away underneath it
    EXPECT_EQ(kReaddir(pDir), nullptr);
    EXPECT_EQ(errnoGet(), K_EBADF);
    EXPECT_EQ(kClosedir(pDir), -1);
}

TEST_F(IoLibTest, RenameStaysOnOneDeviceAndFollowsLinks)
{
    MemDevice &dev = addDevice("/renDev");
    MemDevice &other = addDevice("/renOther");
    dev.files["/old"] = "";
    ASSERT_EQ(kRename("/renDev/old", "/renDev/new"), 0);
    EXPECT_EQ(dev.ioctlPaths, std::vector<std::string>{"/new"});

    errnoSet(0);
    EXPECT_EQ(kRename("/renDev/old", "/renOther/new"), -1);
    EXPECT_EQ(errnoGet(), K_EXDEV);
    EXPECT_TRUE(other.ioctlPaths.empty());

    // The new path is rewritten by the driver and resolved again.
    dev.links["/viaLink"] = "/target";
    ASSERT_EQ(kRename("/renDev/old", "/renDev/viaLink"), 0);
    EXPECT_EQ(dev.ioctlPaths.back(), "/target");

    EXPECT_EQ(kRename("/renDev/missing", "/renDev/x"), -1);
    EXPECT_EQ(errnoGet(), K_ENOENT);
    EXPECT_EQ(kRename(nullptr, "/renDev/x"), -1);
}

TEST_F(IoLibTest, RmdirGoesThroughTheDeviceRootAndOnlyForDirectories)
{
    MemDevice &outer = addDevice("/rmd");
    MemDevice &inner = addDevice("/rmd/in");
    outer.dirs.insert("/a/b");
    inner.dirs.insert("/dir");
    ASSERT_EQ(kRmdir("/rmd/a/b"), 0);
    // The object's status first, then the root opened with an empty tail, then the tail to
    // the ioctl.
    EXPECT_EQ(outer.tails, (std::vector<std::string>{"/a/b", "", "/a/b"}));
    EXPECT_EQ(outer.ioctlPaths, std::vector<std::string>{"/a/b"});

    outer.links["/away"] = "/in/dir";
    ASSERT_EQ(kRmdir("/rmd/away"), 0);
    EXPECT_EQ(inner.ioctlPaths, std::vector<std::string>{"/dir"});

    outer.files["/file"] = "kept";
    EXPECT_EQ(kRmdir("/rmd/file"), -1);
    EXPECT_EQ(errnoGet(), K_ENOTDIR);
    EXPECT_EQ(outer.ioctlPaths.size(), 1U) << "nothing was removed";
}

// Status, rename and rmdir open the name alone; such a descriptor moves no data.
TEST_F(IoLibTest, NameOnlyOpensServeNameCallsAndNoData)
{
    MemDevice &dev = addDevice("/nameDev");
    dev.files["/f"] = "data";
    dev.dirs.insert("/d");
    kstat st{};
    ASSERT_EQ(kStat("/nameDev/f", &st), 0);
    ASSERT_EQ(kRename("/nameDev/f", "/nameDev/g"), 0);
    ASSERT_EQ(kRmdir("/nameDev/d"), 0);
    const int noFollow = K_O_PATH | K_O_NOFOLLOW;
    EXPECT_EQ(dev.openFlags, (std::vector<int>{K_O_PATH, noFollow, noFollow, K_O_PATH}));

    const int fd = kOpen("/nameDev/f", K_O_PATH, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(kFstat(fd, &st), 0);
    std::array<char, 8> buf{};
    for (const int result : {kRead(fd, buf.data(), 4), kWrite(fd, "x", 1), kIoctl(fd, K_FIOREADDIR, 0)}) {
        EXPECT_EQ(result, -1);
        EXPECT_EQ(errnoGet(), K_EBADF);
    }
    EXPECT_EQ(kClose(fd), 0);
    for (const int flags : {K_O_PATH | K_O_RDWR, K_O_PATH | K_O_TRUNC, K_O_NOFOLLOW}) {
        EXPECT_EQ(kOpen("/nameDev/f", flags, 0), -1);
        EXPECT_EQ(errnoGet(), K_EINVAL);
    }
    EXPECT_EQ(dev.openFlags.size(), 5U) << "refused before the driver";
}

TEST_F(IoLibTest, MkdirRefusesExistingAndCreatesWithDirectoryMode)
{
    MemDevice &dev = addDevice("/mkd");
    dev.files["/exists"] = "";
    errnoSet(0);
    EXPECT_EQ(kMkdir("/mkd/exists", 0755), -1);
    EXPECT_EQ(errnoGet(), K_EEXIST);
    ASSERT_EQ(kMkdir("/mkd/fresh", 0755), 0);
    EXPECT_EQ(dev.files.count("/fresh"), 1U);

    kstat st{};
    EXPECT_EQ(kStat("/mkd/exists", &st), 0);
    EXPECT_EQ(kStat("/mkd/none", &st), -1);
    EXPECT_EQ(errnoGet(), K_ENOENT);
    EXPECT_EQ(kStat("/mkd/exists", nullptr), -1);
    kstatfs sfs{};
    EXPECT_EQ(kStatfs("/mkd/exists", &sfs), -1); // the driver has no such code
    EXPECT_EQ(errnoGet(), K_ENOSYS);
}

// Swaps a pipe in for one of the host's standard descriptors for the test's duration.
class StdStreamSwap {
public:
    explicit StdStreamSwap(int hostFd) : hostFd_(hostFd), saved_(::dup(hostFd))
    {
        EXPECT_EQ(::pipe(pipe_.data()), 0);
        EXPECT_GE(::dup2(hostFd == 0 ? pipe_[0] : pipe_[1], hostFd), 0);
    }
    ~StdStreamSwap()
    {
        ::dup2(saved_, hostFd_);
        ::close(saved_);
        ::close(pipe_[0]);
        ::close(pipe_[1]);
    }
    StdStreamSwap(const StdStreamSwap &) = delete;
    StdStreamSwap &operator=(const StdStreamSwap &) = delete;
    int readEnd() const { return pipe_[0]; }
    int writeEnd() const { return pipe_[1]; }

private:
    int hostFd_;
    int saved_;
    std::array<int, 2> pipe_{};
};

TEST(IoStdStreamsTest, DescriptorsZeroToTwoAreTheHostStreams)
{
    std::fflush(stdout);
    {
        const StdStreamSwap out(1);
        ASSERT_EQ(kWrite(1, "to stdout", 9), 9);
        std::array<char, 16> got{};
        ASSERT_EQ(::read(out.readEnd(), got.data(), got.size()), 9);
        EXPECT_STREQ(got.data(), "to stdout");
    }
    {
        const StdStreamSwap in(0);
        ASSERT_EQ(::write(in.writeEnd(), "typed", 5), 5);
        int pending = 0;
        EXPECT_EQ(kIoctl(0, K_FIONREAD, reinterpret_cast<intptr_t>(&pending)), 0);
        EXPECT_EQ(pending, 5);
        std::array<char, 16> got{};
        ASSERT_EQ(kRead(0, got.data(), static_cast<int>(got.size())), 5);
        EXPECT_STREQ(got.data(), "typed");
    }
    EXPECT_EQ(kClose(2), 0); // the streams stay open
    EXPECT_EQ(kWrite(2, "", 0), 0);
    EXPECT_EQ(kIoctl(1, K_FIOSEEK, 0), -1);
    EXPECT_EQ(errnoGet(), K_ENOSYS);
}

} // namespace
