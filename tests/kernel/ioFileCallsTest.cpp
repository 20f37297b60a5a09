// The file calls that change sizes, attributes and links, and the open flags K_O_EXCL and
// K_O_APPEND: what reaches the driver, what is refused before it, and links met on the way.
#include "iosTestDriver.h"

#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>
#include <kernel/kernelErrno.h>

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

using memdrv::MemDevice;
using CodeCall = MemDevice::CodeCall;

constexpr int kNoFollow = K_O_PATH | K_O_NOFOLLOW;

class IoFileCallsTest : public memdrv::MemDriverTest {
protected:
    void SetUp() override
    {
        MemDriverTest::SetUp();
        fc = &addDevice("/fc");
        fc->files = {{"/f", "0123456789"}, {"/sl", ""}};
        fc->symlinkTexts["/sl"] = "../some/where";
    }
    static int truncated(int64_t length)
    {
        const int fd = kOpen("/fc/f", K_O_RDWR, 0);
        const int result = kFtruncate(fd, length);
        kClose(fd);
        return result;
    }

    MemDevice *fc = nullptr;
};

// Each call reaches its code with its argument through the open it needs; a driver without
// the codes fails each with K_ENOSYS.
TEST_F(IoFileCallsTest, EachCallReachesItsCodeWithItsArgument)
{
    const kutimbuf times{-86400, (int64_t{1} << 33) + 7};
    std::array<char, 8> text{};
    text.fill('#');
    struct Case {
        std::function<int()> call;
        int result;
        CodeCall reached;
        int openFlags;
    };
    const std::vector<Case> cases{
        {[] { return truncated(int64_t{1} << 33); }, 0, {K_FIOTRUNC64, "/f", "8589934592"}, K_O_RDWR},
        {[] { return kChmod("/fc/f", K_S_IFREG | 04755); }, 0, {K_FIOCHMOD, "/f", "2541"}, K_O_PATH},
        {[&times] { return kUtime("/fc/f", &times); },
         0,
         {K_FIOTIMESET, "/f", "-86400 8589934599"},
         K_O_PATH},
        {[] { return kUtime("/fc/f", nullptr); }, 0, {K_FIOTIMESET, "/f", "now"}, K_O_PATH},
        {[] { return kLink("/fc/f", "/fc/g"); }, 0, {K_FIOLINK, "/f", "/g"}, kNoFollow},
        {[] { return kSymlink("any text", "/fc/s"); }, 0, {K_FIOSYMLINK, "", "/s -> any text"}, K_O_PATH},
        {[&text] { return kReadlink("/fc/sl", text.data(), 4); }, 4, {K_FIOREADLINK, "/sl", "4"}, kNoFollow},
    };
    for (const bool served : {true, false}) {
        if (!served) {
            fc->unserved = {K_FIOTRUNC,   K_FIOTRUNC64,  K_FIOCHMOD, K_FIOTIMESET,
                            K_FIOSYMLINK, K_FIOREADLINK, K_FIOLINK};
        }
        for (std::size_t i = 0; i < cases.size(); ++i) {
            fc->codeCalls.clear();
            errnoSet(0);
            EXPECT_EQ(cases[i].call(), served ? cases[i].result : -1) << i;
            EXPECT_EQ(errnoGet(), served ? 0 : K_ENOSYS) << i;
            EXPECT_EQ(fc->codeCalls, served ? std::vector{cases[i].reached} : std::vector<CodeCall>{}) << i;
            EXPECT_EQ(fc->openFlags.back(), cases[i].openFlags) << i;
        }
    }
    EXPECT_EQ(std::string(text.data(), 5), "../s#") << "cut to the buffer, not terminated";
    EXPECT_EQ(fc->liveFiles, 0);
}

// Without the 64-bit code (a version 2 NFS file, say) truncation goes through the 32-bit one
// within its int; beyond it the driver sees nothing.
TEST_F(IoFileCallsTest, FtruncateFallsBackToTheThirtyTwoBitCode)
{
    fc->unserved = {K_FIOTRUNC64};
    EXPECT_EQ(truncated(INT_MAX), 0);
    EXPECT_EQ(truncated(int64_t{INT_MAX} + 1), -1);
    EXPECT_EQ(errnoGet(), K_ENOSYS);
    EXPECT_EQ(fc->codeCalls, (std::vector<CodeCall>{{K_FIOTRUNC, "/f", std::to_string(INT_MAX)}}));
}

TEST_F(IoFileCallsTest, BadArgumentsAreRefused)
{
    std::array<char, 8> text{};
    const std::string longTarget(1024, 't');
    const int nameOnly = kOpen("/fc/f", K_O_PATH, 0);
    ASSERT_GE(nameOnly, 0);
    const std::vector<std::pair<std::function<int()>, int>> cases{
        {[] { return truncated(-1); }, K_EINVAL},
        {[nameOnly] { return kFtruncate(nameOnly, 0); }, K_EBADF},
        {[] { return kLink("/fc/f", nullptr); }, K_EINVAL},
        {[] { return kSymlink(nullptr, "/fc/s"); }, K_EINVAL},
        {[] { return kSymlink("", "/fc/s"); }, K_ENOENT},
        {[&longTarget] { return kSymlink(longTarget.c_str(), "/fc/s"); }, K_ENAMETOOLONG},
        {[] { return kReadlink("/fc/sl", nullptr, 8); }, K_EINVAL},
        {[&text] { return kReadlink("/fc/sl", text.data(), 0); }, K_EINVAL},
        {[&text] { return kReadlink("/fc/sl", text.data(), size_t{INT_MAX} + 1); }, K_EINVAL},
        {[&text] { return kReadlink("/fc/f", text.data(), text.size()); }, K_EINVAL}, // no link
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        errnoSet(0);
        EXPECT_EQ(cases[i].first(), -1) << i;
        EXPECT_EQ(errnoGet(), cases[i].second) << i;
    }
    EXPECT_TRUE(fc->codeCalls.empty());
    EXPECT_EQ(kClose(nameOnly), 0);
}

// Paths the driver rewrites are resolved again, on the way to the file and in the path
// argument of link and symlink; a cycle ends with K_ELOOP after the bounded restarts.
TEST_F(IoFileCallsTest, LinksOnTheWayAreFollowedAndCyclesEnd)
{
    MemDevice &other = addDevice("/fc/other");
    fc->links = {{"/alias", "/f"}, {"/via", "/target"}, {"/loop", "/loop"}, {"/away", "/other/x"}};
    ASSERT_EQ(kChmod("/fc/alias", 0600), 0);
    ASSERT_EQ(kLink("/fc/f", "/fc/via"), 0);
    ASSERT_EQ(kSymlink("t", "/fc/via"), 0);
    EXPECT_EQ(fc->codeCalls, (std::vector<CodeCall>{{K_FIOCHMOD, "/f", "384"},
                                                    {K_FIOLINK, "/f", "/target"},
                                                    {K_FIOSYMLINK, "", "/target -> t"}}));
    // Each round meets the driver once (symlink twice: the root's open and the ioctl); link
    // opens the file first.
    constexpr int rounds = K_IOS_MAX_RESTARTS + 1;
    const std::vector<std::pair<std::function<int()>, int>> cycles{
        {[] { return kSymlink("t", "/fc/loop"); }, 2 * rounds},
        {[] { return kLink("/fc/f", "/fc/loop"); }, 1 + rounds},
        {[] { return kChmod("/fc/loop", 0600); }, rounds},
    };
    for (const auto &[call, driverCalls] : cycles) {
        const int before = fc->pathCalls;
        EXPECT_EQ(call(), -1);
        EXPECT_EQ(errnoGet(), K_ELOOP);
        EXPECT_EQ(fc->pathCalls - before, driverCalls);
    }
    EXPECT_EQ(kLink("/fc/f", "/fc/away"), -1); // rewritten onto another device
    EXPECT_EQ(errnoGet(), K_EXDEV);
    EXPECT_TRUE(other.codeCalls.empty());
}

// The name is looked for first, so even a driver that ignores K_O_EXCL refuses an existing
// one; a fresh name reaches the driver with the flag, for it to create atomically.
TEST_F(IoFileCallsTest, ExclusiveCreateRefusesAnExistingName)
{
    EXPECT_EQ(kOpen("/fc/f", K_O_RDWR | K_O_CREAT | K_O_EXCL, 0644), -1);
    EXPECT_EQ(errnoGet(), K_EEXIST);
    EXPECT_EQ(fc->openFlags, std::vector<int>{kNoFollow}) << "only the look";
    const int fd = kOpen("/fc/new", K_O_RDWR | K_O_CREAT | K_O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fc->openFlags.back(), K_O_RDWR | K_O_CREAT | K_O_EXCL);
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(kOpen("/fc/f", K_O_PATH | K_O_EXCL, 0), -1);
    EXPECT_EQ(errnoGet(), K_EINVAL);
    EXPECT_EQ(fc->files["/f"], "0123456789");
}

// A driver that does not report K_O_APPEND back would write appended data over the file's
// start: its appending opens for writing are refused and its file closed again.
TEST_F(IoFileCallsTest, AppendOpensNeedADriverThatServesThem)
{
    const int fd = kOpen("/fc/f", K_O_WRONLY | K_O_APPEND, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(kLseek(fd, 2, K_SEEK_SET), 2);
    EXPECT_EQ(kWrite(fd, "AB", 2), 2);
    EXPECT_EQ(kClose(fd), 0);
    fc->unserved = {K_FIOGETFL};
    EXPECT_EQ(kOpen("/fc/f", K_O_RDWR | K_O_APPEND, 0), -1);
    EXPECT_EQ(errnoGet(), K_ENOTSUP);
    EXPECT_EQ(fc->liveFiles, 0);
    EXPECT_EQ(kClose(kOpen("/fc/f", K_O_RDONLY | K_O_APPEND, 0)), 0); // nothing to misplace
    EXPECT_EQ(fc->files["/f"], "0123456789AB");
}

} // namespace
