// Record locks through kFcntl on the pass-through device, with tasks as owners: each TestTask
// is a task of its own, and the test's thread is one more.
#include "iosTestDriver.h"
#include "testTask.h"

#include <kernel/errnoLib.h>
#include <kernel/fileLockLib.h>
#include <kernel/ioLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/taskLib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct Lock {
    int type;
    int64_t start;
    int64_t len;
    bool operator==(const Lock &) const = default;
};

[[maybe_unused]] std::ostream &operator<<(std::ostream &out, const Lock &lock)
{
    const char *name = lock.type == K_F_RDLCK ? "R" : lock.type == K_F_WRLCK ? "W" : "?";
    return out << name << lock.start << "+" << lock.len;
}

// kFcntl's result: 0, or the error number it set.
int fcntlError(int fd, int cmd, int type, int64_t start, int64_t len, int whence = K_SEEK_SET)
{
    kflock lock{static_cast<int16_t>(type), static_cast<int16_t>(whence), start, len, 0};
    return kFcntl(fd, cmd, &lock) == 0 ? 0 : errnoGet();
}

// The locks of other tasks on fd's file as the calling task sees them, by start: each probe
// reports the first lock from where the one before ended.
std::vector<Lock> othersLocks(int fd)
{
    std::vector<Lock> seen;
    int64_t from = 0;
    for (int i = 0; i < 16; ++i) {
        kflock probe{K_F_WRLCK, K_SEEK_SET, from, 0, 0};
        if (kFcntl(fd, K_F_GETLK, &probe) != 0 || probe.l_type == K_F_UNLCK) {
            break;
        }
        seen.push_back({probe.l_type, probe.l_start, probe.l_len});
        if (probe.l_len == 0 || probe.l_start > std::numeric_limits<int64_t>::max() - probe.l_len) {
            break;
        }
        from = probe.l_start + probe.l_len;
    }
    return seen;
}

std::atomic<uintptr_t> interruptedTask{0};

int interruptOneTask()
{
    return taskIdCurrent()->taskId == interruptedTask.load() ? 1 : 0;
}

class FileLockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string templ = (fs::temp_directory_path() / "fileLockTest.XXXXXX").string();
        ASSERT_NE(::mkdtemp(templ.data()), nullptr);
        dir_ = templ;
        std::ofstream(dir_ / "f", std::ios::binary) << std::string(100, 'x');
        fd = open(K_O_RDWR);
        ASSERT_GE(fd, 3);
    }
    void TearDown() override
    {
        kClose(fd);
        fs::remove_all(dir_);
    }
    int open(int flags) const { return kOpen(("host:" + (dir_ / "f").string()).c_str(), flags, 0); }
    std::vector<Lock> seenByOther() { return observer.run([this] { return othersLocks(fd); }).get(); }

    int fd = -1;
    TestTask observer;

private:
    fs::path dir_;
};

struct Step {
    int type;
    int64_t start;
    int64_t len;
    int whence = K_SEEK_SET;
};

struct RangeCase {
    const char *name;
    std::vector<Step> steps;
    std::vector<Lock> held;
};

TEST_F(FileLockTest, OneTaskLocksFollowWhenceAndAreReplacedSplitAndMerged)
{
    const int R = K_F_RDLCK;
    const int W = K_F_WRLCK;
    const int U = K_F_UNLCK;
    const std::vector<RangeCase> cases{
        {"unlock in the middle of a lock", {{W, 0, 100}, {U, 40, 20}}, {{W, 0, 40}, {W, 60, 40}}},
        {"read over part of own write", {{W, 0, 100}, {R, 40, 20}}, {{W, 0, 40}, {R, 40, 20}, {W, 60, 40}}},
        {"adjacent ranges merge", {{R, 0, 10}, {R, 10, 10}}, {{R, 0, 20}}},
        {"a range bridging two merges all three", {{R, 0, 10}, {R, 20, 10}, {R, 10, 10}}, {{R, 0, 30}}},
        {"overlapping ranges merge", {{W, 0, 10}, {W, 5, 10}}, {{W, 0, 15}}},
        {"adjacent ranges of two types stay apart", {{R, 0, 10}, {W, 10, 10}}, {{R, 0, 10}, {W, 10, 10}}},
        {"own read lock upgraded", {{R, 0, 100}, {W, 0, 100}}, {{W, 0, 100}}},
        {"write to the end cut by an unlock to the end", {{W, 0, 0}, {U, 50, 0}}, {{W, 0, 50}}},
        {"unlock to the end frees all", {{W, 10, 10}, {R, 30, 10}, {U, 0, 0}}, {}},
        {"negative length covers the bytes before", {{W, 10, -5}}, {{W, 5, 5}}},
        {"unlock of nothing held", {{U, 0, 10}}, {}},
        // The position is 30, the file 100 bytes long.
        {"from the position", {{W, 5, 10, K_SEEK_CUR}}, {{W, 35, 10}}},
        {"the bytes before the position", {{W, 0, -30, K_SEEK_CUR}}, {{W, 0, 30}}},
        {"from before the end to the end", {{W, -20, 0, K_SEEK_END}}, {{W, 80, 0}}},
        {"the bytes before the end", {{W, 0, -10, K_SEEK_END}}, {{W, 90, 10}}},
        {"beyond the end", {{W, 10, 5, K_SEEK_END}}, {{W, 110, 5}}},
    };
    ASSERT_EQ(kLseek(fd, 30, K_SEEK_SET), 30);
    for (const RangeCase &c : cases) {
        for (const Step &step : c.steps) {
            EXPECT_EQ(fcntlError(fd, K_F_SETLK, step.type, step.start, step.len, step.whence), 0) << c.name;
        }
        EXPECT_EQ(seenByOther(), c.held) << c.name;
        ASSERT_EQ(fcntlError(fd, K_F_SETLK, U, 0, 0), 0);
    }
}

TEST_F(FileLockTest, GetlkReportsTheFirstConflictingHolder)
{
    TestTask holder;
    const int other = open(K_O_RDWR); // the holder's own descriptor of the file
    ASSERT_GE(other, 3);
    ASSERT_EQ(holder.run([other] { return fcntlError(other, K_F_SETLK, K_F_RDLCK, 0, 10); }).get(), 0);
    ASSERT_EQ(holder.run([other] { return fcntlError(other, K_F_SETLK, K_F_WRLCK, 20, 0); }).get(), 0);
    const auto pid = static_cast<intptr_t>(holder.id());
    struct Case {
        const char *name;
        kflock probe;
        Lock reported;
        intptr_t pid;
    };
    const std::vector<Case> cases{
        {"write probe meets the read lock", {K_F_WRLCK, 0, 0, 0, 0}, {K_F_RDLCK, 0, 10}, pid},
        {"read probe passes the read lock", {K_F_RDLCK, 0, 0, 0, 0}, {K_F_WRLCK, 20, 0}, pid},
        {"read probe beside the write lock", {K_F_RDLCK, 0, 0, 20, 0}, {K_F_UNLCK, 0, 20}, 0},
        {"probe in the gap", {K_F_WRLCK, 0, 10, 10, 0}, {K_F_UNLCK, 10, 10}, 0},
        {"probe from the end", {K_F_WRLCK, K_SEEK_END, 0, 1, 0}, {K_F_WRLCK, 20, 0}, pid},
    };
    for (const Case &c : cases) {
        kflock got = c.probe;
        ASSERT_EQ(kFcntl(fd, K_F_GETLK, &got), 0) << c.name;
        EXPECT_EQ((Lock{got.l_type, got.l_start, got.l_len}), c.reported) << c.name;
        EXPECT_EQ(got.l_pid, c.pid) << c.name;
    }
    EXPECT_EQ(kClose(other), 0);
}

TEST_F(FileLockTest, SetlkRefusesAnotherTasksConflictingLock)
{
    struct Case {
        int held;
        int wanted;
        int64_t start;
        int expected;
    };
    const std::vector<Case> cases{
        {K_F_RDLCK, K_F_RDLCK, 5, 0},         {K_F_RDLCK, K_F_WRLCK, 5, K_EAGAIN},
        {K_F_WRLCK, K_F_RDLCK, 9, K_EAGAIN},  {K_F_WRLCK, K_F_WRLCK, 0, K_EAGAIN},
        {K_F_WRLCK, K_F_WRLCK, 10, 0},        {K_F_WRLCK, K_F_UNLCK, 0, 0},
    };
    for (const Case &c : cases) {
        TestTask holder;
        ASSERT_EQ(holder.run([&] { return fcntlError(fd, K_F_SETLK, c.held, 0, 10); }).get(), 0);
        EXPECT_EQ(fcntlError(fd, K_F_SETLK, c.wanted, c.start, 10), c.expected)
            << c.held << " then " << c.wanted << " at " << c.start;
        // Another task's unlock leaves the holder's lock in place.
        EXPECT_EQ(seenByOther().at(0), (Lock{c.held, 0, 10}));
        ASSERT_EQ(fcntlError(fd, K_F_SETLK, K_F_UNLCK, 0, 0), 0);
    }
}

TEST_F(FileLockTest, SetlkwIsGrantedWhenTheConflictEnds)
{
    struct Case {
        const char *name;
        std::function<void(TestTask &holder, int fd)> endConflict;
    };
    const std::vector<Case> cases{
        {"the holder unlocks",
         [](TestTask &holder, int file) {
             EXPECT_EQ(holder.run([file] { return fcntlError(file, K_F_SETLK, K_F_UNLCK, 0, 0); }).get(), 0);
         }},
        {"the holder turns its lock into a read lock",
         [](TestTask &holder, int file) {
             EXPECT_EQ(holder.run([file] { return fcntlError(file, K_F_SETLK, K_F_RDLCK, 0, 50); }).get(), 0);
         }},
        {"the holder task is deleted", [](TestTask &holder, int) { holder.end(); }},
    };
    for (const Case &c : cases) {
        TestTask holder;
        TestTask waiter;
        ASSERT_EQ(holder.run([this] { return fcntlError(fd, K_F_SETLK, K_F_WRLCK, 0, 50); }).get(), 0);
        auto granted = waiter.run([this] { return fcntlError(fd, K_F_SETLKW, K_F_RDLCK, 10, 10); });
        EXPECT_EQ(granted.wait_for(50ms), std::future_status::timeout) << c.name;
        c.endConflict(holder, fd);
        EXPECT_EQ(granted.get(), 0) << c.name;
        holder.end();
        EXPECT_EQ(seenByOther(), (std::vector<Lock>{{K_F_RDLCK, 10, 10}})) << c.name;
        waiter.end();
        EXPECT_EQ(fcntlError(fd, K_F_SETLK, K_F_WRLCK, 0, 0), 0) << c.name << ": all released";
        ASSERT_EQ(fcntlError(fd, K_F_SETLK, K_F_UNLCK, 0, 0), 0);
    }
}

TEST_F(FileLockTest, InterruptEndsTheWait)
{
    TestTask waiter;
    ASSERT_EQ(fcntlError(fd, K_F_SETLK, K_F_WRLCK, 0, 10), 0);
    const uintptr_t waiterId = waiter.id();
    taskInterruptHookSet(interruptOneTask);
    auto waited = waiter.run([this] { return fcntlError(fd, K_F_SETLKW, K_F_WRLCK, 0, 0); });
    EXPECT_EQ(waited.wait_for(50ms), std::future_status::timeout);
    interruptedTask.store(waiterId); // Ctrl-C on the waiting task
    EXPECT_EQ(waited.get(), K_EINTR);
    // The abandoned request holds nothing, and the hook stops no other task.
    EXPECT_EQ(observer.run([this] { return fcntlError(fd, K_F_SETLKW, K_F_RDLCK, 20, 10); }).get(), 0);
    taskInterruptHookSet(nullptr);
    EXPECT_EQ(waiter.run([this] { return othersLocks(fd); }).get(), (std::vector<Lock>{{K_F_WRLCK, 0, 10}, {K_F_RDLCK, 20, 10}}));
}

TEST_F(FileLockTest, CloseReleasesTheClosingTasksLocksOnTheFile)
{
    TestTask other;
    const int second = open(K_O_RDONLY);
    ASSERT_GE(second, 3);
    ASSERT_EQ(fcntlError(fd, K_F_SETLK, K_F_WRLCK, 0, 10), 0);
    ASSERT_EQ(other.run([this] { return fcntlError(fd, K_F_SETLK, K_F_WRLCK, 20, 10); }).get(), 0);
    // Another descriptor of the same file: its close releases what this task took through fd.
    ASSERT_EQ(kClose(second), 0);
    EXPECT_EQ(seenByOther(), (std::vector<Lock>{{K_F_WRLCK, 20, 10}}));
    // A name-only descriptor's close releases nothing.
    ASSERT_EQ(other.run([this] {
        const int pathOnly = open(K_O_RDONLY | K_O_PATH);
        return pathOnly >= 0 ? kClose(pathOnly) : -1;
    }).get(), 0);
    EXPECT_EQ(fcntlError(fd, K_F_SETLK, K_F_RDLCK, 25, 1), K_EAGAIN);
}

TEST_F(FileLockTest, BadRequestsAreRefused)
{
    const int readOnly = open(K_O_RDONLY);
    const int writeOnly = open(K_O_WRONLY);
    const int nameOnly = open(K_O_RDONLY | K_O_PATH);
    ASSERT_GE(readOnly, 3);
    ASSERT_GE(writeOnly, 3);
    ASSERT_GE(nameOnly, 3);
    const int64_t largest = std::numeric_limits<int64_t>::max();
    struct Case {
        const char *name;
        int fd;
        int cmd;
        int type;
        int whence;
        int64_t start;
        int64_t len;
        int expected;
    };
    const std::vector<Case> cases{
        {"closed descriptor", 200, K_F_SETLK, K_F_WRLCK, 0, 0, 0, K_EBADF},
        {"negative descriptor", -1, K_F_GETLK, K_F_WRLCK, 0, 0, 0, K_EBADF},
        {"name-only descriptor", nameOnly, K_F_SETLK, K_F_RDLCK, 0, 0, 0, K_EBADF},
        {"write lock, read-only", readOnly, K_F_SETLK, K_F_WRLCK, 0, 0, 0, K_EBADF},
        {"read lock, write-only", writeOnly, K_F_SETLKW, K_F_RDLCK, 0, 0, 0, K_EBADF},
        {"unknown command", fd, 6, K_F_WRLCK, 0, 0, 0, K_EINVAL},
        {"type 0", fd, K_F_SETLK, 0, 0, 0, 0, K_EINVAL},
        {"test for an unlock", fd, K_F_GETLK, K_F_UNLCK, 0, 0, 0, K_EINVAL},
        {"whence 3", fd, K_F_SETLK, K_F_WRLCK, 3, 0, 0, K_EINVAL},
        {"start before 0", fd, K_F_SETLK, K_F_WRLCK, 0, -1, 10, K_EINVAL},
        {"length reaching before 0", fd, K_F_SETLK, K_F_WRLCK, 0, 5, -6, K_EINVAL},
        {"end past the largest offset", fd, K_F_SETLK, K_F_WRLCK, 0, largest, 2, K_EINVAL},
        {"start overflowing from the end", fd, K_F_SETLK, K_F_WRLCK, K_SEEK_END, largest, 0, K_EINVAL},
        {"smallest length", fd, K_F_SETLK, K_F_WRLCK, 0, largest, std::numeric_limits<int64_t>::min(), K_EINVAL},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(fcntlError(c.fd, c.cmd, c.type, c.start, c.len, c.whence), c.expected) << c.name;
    }
    EXPECT_EQ(kFcntl(fd, K_F_SETLK, nullptr), -1);
    EXPECT_EQ(errnoGet(), K_EINVAL);
    // The last byte a lock may reach, and the modes that do allow each type.
    EXPECT_EQ(fcntlError(fd, K_F_SETLK, K_F_WRLCK, largest, 1), 0);
    EXPECT_EQ(fcntlError(readOnly, K_F_SETLK, K_F_RDLCK, 0, 1), 0);
    EXPECT_EQ(fcntlError(writeOnly, K_F_SETLK, K_F_WRLCK, 1, 1), 0);
    EXPECT_EQ(seenByOther(), (std::vector<Lock>{{K_F_RDLCK, 0, 1}, {K_F_WRLCK, 1, 1}, {K_F_WRLCK, largest, 1}}));
    for (const int opened : {readOnly, writeOnly, nameOnly}) {
        EXPECT_EQ(kClose(opened), 0);
    }
}

class FileLockDriverTest : public memdrv::MemDriverTest {};

TEST_F(FileLockDriverTest, DriverWithoutLocksIsRefusedWithItsOwnError)
{
    memdrv::MemDevice &dev = addDevice("/lockless");
    dev.files["/f"] = "data";
    const int fd = kOpen("/lockless/f", K_O_RDWR, 0);
    ASSERT_GE(fd, 3);
    for (const int cmd : {K_F_GETLK, K_F_SETLK, K_F_SETLKW}) {
        EXPECT_EQ(fcntlError(fd, cmd, K_F_WRLCK, 0, 0), K_ENOLCK) << cmd;
    }
    EXPECT_EQ(kClose(fd), 0);
}

TEST_F(FileLockDriverTest, RemovingADeviceReleasesItsLocksAndEndsTheirWaits)
{
    memdrv::MemDevice &dev = addDevice("/locked");
    const FileLockKey key{&dev.hdr, 1, 2};
    const FileLockKey elsewhere{nullptr, 1, 2};
    TestTask holder;
    TestTask waiter;
    const klockarg write{K_F_WRLCK, 0, 0, holder.id()};
    ASSERT_EQ(holder.run([&] { return fileLockSet(&key, &write, 0) + fileLockSet(&elsewhere, &write, 0); }).get(), 0);
    auto waited = waiter.run([&] {
        klockarg wanted{K_F_RDLCK, 0, 1, taskIdCurrent()->taskId};
        return fileLockSet(&key, &wanted, 1) == 0 ? 0 : errnoGet();
    });
    EXPECT_EQ(waited.wait_for(50ms), std::future_status::timeout);
    iosDevDelete(&dev.hdr);
    EXPECT_EQ(waited.get(), K_ENODEV);
    for (const FileLockKey *file : {&key, &elsewhere}) {
        klockarg probe{K_F_WRLCK, 0, 0, holder.id() + 1000};
        ASSERT_EQ(fileLockGet(file, &probe), 0);
        EXPECT_EQ(probe.type, file == &key ? K_F_UNLCK : K_F_WRLCK);
    }
    holder.end(); // its delete hook releases the lock on the other device
    klockarg probe{K_F_WRLCK, 0, 0, 1};
    ASSERT_EQ(fileLockGet(&elsewhere, &probe), 0);
    EXPECT_EQ(probe.type, K_F_UNLCK);
}

} // namespace
