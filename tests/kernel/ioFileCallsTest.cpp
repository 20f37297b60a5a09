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
#include <vector>

namespace {

using memdrv::MemDevice;
using CodeCall = MemDevice::CodeCall;

class IoFileCallsTest : public memdrv::MemDriverTest {
  protected:
    void SetUp() override {
        MemDriverTest::SetUp();
        fc = &addDevice("/fc");
        fc->files["/f"] = "0123456789";
        fc->files["/sl"] = "";
        fc->symlinkTexts["/sl"] = "../some/where";
    }
    static int openFile() { return kOpen("/fc/f", K_O_RDWR, 0); }

    MemDevice *fc = nullptr;
};

constexpr int kNoFollow = K_O_PATH | K_O_NOFOLLOW;

TEST_F(IoFileCallsTest, EachCallReachesItsCodeWithItsArgument) {
    const kutimbuf times{1, (int64_t{1} << 33) + 7};
    const kutimbuf before1970{-86400, 0};
    std::array<char, 32> text{};
    struct Case {
        const char *what;
        std::function<int()> call;
        int result;
        CodeCall reached;
        int openFlags; // of the last open entry call
    };
    const std::vector<Case> cases{
        {"ftruncate", [] { const int fd = openFile(); const int r = kFtruncate(fd, 5); kClose(fd); return r; },
         0, {K_FIOTRUNC64, "/f", "5"}, K_O_RDWR},
        {"ftruncate past 4 GiB", [] { const int fd = openFile(); const int r = kFtruncate(fd, int64_t{1} << 33); kClose(fd); return r; },
         0, {K_FIOTRUNC64, "/f", "8589934592"}, K_O_RDWR},
        {"chmod drops the type bits", [] { return kChmod("/fc/f", K_S_IFREG | 04755); },
         0, {K_FIOCHMOD, "/f", std::to_string(04755)}, K_O_PATH},
        {"utime", [&times] { return kUtime("/fc/f", &times); },
         0, {K_FIOTIMESET, "/f", "1 8589934599"}, K_O_PATH},
        {"utime before 1970", [&before1970] { return kUtime("/fc/f", &before1970); },
         0, {K_FIOTIMESET, "/f", "-86400 0"}, K_O_PATH},
        {"utime now", [] { return kUtime("/fc/f", nullptr); },
         0, {K_FIOTIMESET, "/f", "now"}, K_O_PATH},
        {"link", [] { return kLink("/fc/f", "/fc/g"); },
         0, {K_FIOLINK, "/f", "/g"}, kNoFollow},
        {"symlink on the device root", [] { return kSymlink("any text", "/fc/s"); },
         0, {K_FIOSYMLINK, "", "/s -> any text"}, K_O_PATH},
        {"readlink", [&text] { return kReadlink("/fc/sl", text.data(), text.size()); },
         13, {K_FIOREADLINK, "/sl", "32"}, kNoFollow},
        {"readlink cut to the buffer", [&text] { return kReadlink("/fc/sl", text.data(), 4); },
         4, {K_FIOREADLINK, "/sl", "4"}, kNoFollow},
    };
    for (const Case &c : cases) {
        fc->codeCalls.clear();
        EXPECT_EQ(c.call(), c.result) << c.what;
        EXPECT_EQ(fc->codeCalls, std::vector<CodeCall>{c.reached}) << c.what;
        EXPECT_EQ(fc->openFlags.back(), c.openFlags) << c.what;
    }
    EXPECT_EQ(std::string(text.data()), "../some/where") << "not terminated by readlink";
    EXPECT_EQ(fc->liveFiles, 0);
}

// A driver without the 64-bit code (a version 2 NFS file, say) truncates through the 32-bit one
// within its int; beyond it the call fails and the driver sees nothing.
TEST_F(IoFileCallsTest, FtruncateFallsBackToTheThirtyTwoBitCode) {
    fc->unserved = {K_FIOTRUNC64};
    const int fd = openFile();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(kFtruncate(fd, INT_MAX), 0);
    EXPECT_EQ(kFtruncate(fd, int64_t{INT_MAX} + 1), -1);
    EXPECT_EQ(errnoGet(), K_ENOSYS);
    EXPECT_EQ(fc->codeCalls, (std::vector<CodeCall>{{K_FIOTRUNC, "/f", std::to_string(INT_MAX)}}));
    EXPECT_EQ(kClose(fd), 0);
}

TEST_F(IoFileCallsTest, DriversWithoutTheCodesFailWithNotSupported) {
    fc->unserved = {K_FIOTRUNC, K_FIOTRUNC64, K_FIOCHMOD, K_FIOTIMESET,
                    K_FIOLINK,  K_FIOSYMLINK, K_FIOREADLINK};
    const int fd = openFile();
    ASSERT_GE(fd, 0);
    std::array<char, 8> text{};
    const std::vector<std::pair<const char *, std::function<int()>>> calls{
        {"ftruncate", [fd] { return kFtruncate(fd, 1); }},
        {"chmod", [] { return kChmod("/fc/f", 0600); }},
        {"utime", [] { return kUtime("/fc/f", nullptr); }},
        {"link", [] { return kLink("/fc/f", "/fc/g"); }},
        {"symlink", [] { return kSymlink("t", "/fc/s"); }},
        {"readlink", [&text] { return kReadlink("/fc/sl", text.data(), text.size()); }},
    };
    for (const auto &[what, call] : calls) {
        errnoSet(0);
        EXPECT_EQ(call(), -1) << what;
        EXPECT_EQ(errnoGet(), K_ENOSYS) << what;
    }
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(fc->liveFiles, 0);
}

TEST_F(IoFileCallsTest, BadArgumentsAreRefusedBeforeTheDriver) {
    std::array<char, 8> text{};
    const std::string longTarget(1024, 't');
    const std::string longPath = "/fc/" + std::string(1100, 'p');
    const kutimbuf times{};
    const int readOnly = kOpen("/fc/f", K_O_PATH, 0);
    ASSERT_GE(readOnly, 0);
    struct Case {
        const char *what;
        std::function<int()> call;
        int error;
    };
    const std::vector<Case> cases{
        {"negative size", [] { const int fd = openFile(); const int r = kFtruncate(fd, -1); kClose(fd); return r; }, K_EINVAL},
        {"closed descriptor", [] { return kFtruncate(200, 0); }, K_EBADF},
        {"name-only descriptor", [readOnly] { return kFtruncate(readOnly, 0); }, K_EBADF},
        {"chmod null", [] { return kChmod(nullptr, 0600); }, K_EINVAL},
        {"chmod long path", [&longPath] { return kChmod(longPath.c_str(), 0600); }, K_ENAMETOOLONG},
        {"utime null path", [&times] { return kUtime(nullptr, &times); }, K_EINVAL},
        {"link null old", [] { return kLink(nullptr, "/fc/g"); }, K_EINVAL},
        {"link null new", [] { return kLink("/fc/f", nullptr); }, K_EINVAL},
        {"link long new", [&longPath] { return kLink("/fc/f", longPath.c_str()); }, K_ENAMETOOLONG},
        {"symlink null target", [] { return kSymlink(nullptr, "/fc/s"); }, K_EINVAL},
        {"symlink empty target", [] { return kSymlink("", "/fc/s"); }, K_ENOENT},
        {"symlink long target", [&longTarget] { return kSymlink(longTarget.c_str(), "/fc/s"); }, K_ENAMETOOLONG},
        {"symlink null path", [] { return kSymlink("t", nullptr); }, K_EINVAL},
        {"readlink null buffer", [] { return kReadlink("/fc/sl", nullptr, 8); }, K_EINVAL},
        {"readlink empty buffer", [&text] { return kReadlink("/fc/sl", text.data(), 0); }, K_EINVAL},
        {"readlink size beyond an int", [&text] { return kReadlink("/fc/sl", text.data(), size_t{INT_MAX} + 1); }, K_EINVAL},
        {"readlink of no link", [&text] { return kReadlink("/fc/f", text.data(), text.size()); }, K_EINVAL},
    };
    for (const Case &c : cases) {
        errnoSet(0);
        EXPECT_EQ(c.call(), -1) << c.what;
        EXPECT_EQ(errnoGet(), c.error) << c.what;
    }
    EXPECT_TRUE(fc->codeCalls.empty());
    EXPECT_EQ(kClose(readOnly), 0);
    EXPECT_EQ(fc->liveFiles, 0);
}

// Paths rewritten by the driver are resolved again: on the way to the file, and in the path
// argument of link and symlink; a cycle ends with K_ELOOP after the bounded restarts.
TEST_F(IoFileCallsTest, LinksOnTheWayAreFollowedAndCyclesEnd) {
    MemDevice &other = addDevice("/fc/other");
    fc->links["/alias"] = "/f";
    fc->links["/viaLink"] = "/target";
    fc->links["/loop"] = "/loop";
    fc->links["/away"] = "/other/x";
    ASSERT_EQ(kChmod("/fc/alias", 0600), 0);
    ASSERT_EQ(kLink("/fc/f", "/fc/viaLink"), 0);
    ASSERT_EQ(kSymlink("t", "/fc/viaLink"), 0);
    EXPECT_EQ(fc->codeCalls, (std::vector<CodeCall>{{K_FIOCHMOD, "/f", "384"},
                                                    {K_FIOLINK, "/f", "/target"},
                                                    {K_FIOSYMLINK, "", "/target -> t"}}));

    // Each round of a cycle meets the driver once (symlink: twice, the root's open and the
    // ioctl); link opens the file once first.
    constexpr int rounds = K_IOS_MAX_RESTARTS + 1;
    const std::vector<std::pair<std::function<int()>, int>> cycles{
        {[] { return kSymlink("t", "/fc/loop"); }, 2 * rounds},
        {[] { return kLink("/fc/f", "/fc/loop"); }, 1 + rounds},
        {[] { return kChmod("/fc/loop", 0600); }, rounds},
    };
    for (const auto &[call, driverCalls] : cycles) {
        const int before = fc->pathCalls;
        errnoSet(0);
        EXPECT_EQ(call(), -1);
        EXPECT_EQ(errnoGet(), K_ELOOP);
        EXPECT_EQ(fc->pathCalls - before, driverCalls);
    }

    // A link's new name rewritten onto another device is refused, not made there.
    EXPECT_EQ(kLink("/fc/f", "/fc/away"), -1);
    EXPECT_EQ(errnoGet(), K_EXDEV);
    EXPECT_TRUE(other.codeCalls.empty());
    EXPECT_EQ(fc->liveFiles, 0);
}

// An exclusive create looks for the name first, so even a driver that ignores K_O_EXCL refuses
// an existing name; a fresh name reaches the driver with the flag, for it to create atomically.
TEST_F(IoFileCallsTest, ExclusiveCreateRefusesAnExistingName) {
    errnoSet(0);
    EXPECT_EQ(kOpen("/fc/f", K_O_RDWR | K_O_CREAT | K_O_EXCL, 0644), -1);
    EXPECT_EQ(errnoGet(), K_EEXIST);
    EXPECT_EQ(fc->openFlags, std::vector<int>{kNoFollow}) << "only the look";
    EXPECT_EQ(fc->files["/f"], "0123456789");

    const int fd = kOpen("/fc/new", K_O_RDWR | K_O_CREAT | K_O_EXCL, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(fc->openFlags.back(), K_O_RDWR | K_O_CREAT | K_O_EXCL);
    EXPECT_EQ(kClose(fd), 0);
    // Without K_O_CREAT the flag changes nothing; with a name-only open it is refused.
    const int plain = kOpen("/fc/f", K_O_RDONLY | K_O_EXCL, 0);
    EXPECT_GE(plain, 0);
    EXPECT_EQ(kClose(plain), 0);
    EXPECT_EQ(kOpen("/fc/f", K_O_PATH | K_O_EXCL, 0), -1);
    EXPECT_EQ(errnoGet(), K_EINVAL);
    EXPECT_EQ(fc->liveFiles, 0);
}

// A driver that does not report K_O_APPEND back would write appended data over the file's
// start: its appending opens are refused and its file closed again.
TEST_F(IoFileCallsTest, AppendOpensNeedADriverThatServesThem) {
    int fd = kOpen("/fc/f", K_O_WRONLY | K_O_APPEND, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(kLseek(fd, 2, K_SEEK_SET), 2);
    EXPECT_EQ(kWrite(fd, "AB", 2), 2);
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(fc->files["/f"], "0123456789AB");

    fc->unserved = {K_FIOGETFL};
    errnoSet(0);
    EXPECT_EQ(kOpen("/fc/f", K_O_RDWR | K_O_APPEND, 0), -1);
    EXPECT_EQ(errnoGet(), K_ENOTSUP);
    EXPECT_EQ(fc->liveFiles, 0);
    fd = kOpen("/fc/f", K_O_RDONLY | K_O_APPEND, 0); // reads only: nothing to misplace
    EXPECT_GE(fd, 0);
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(kOpen("/fc/f", K_O_PATH | K_O_APPEND, 0), -1);
    EXPECT_EQ(errnoGet(), K_EINVAL);
    EXPECT_EQ(fc->files["/f"], "0123456789AB");
}

} // namespace
