// Record-lock cases through kFcntl that every version's live suite runs on its own device (the
// lock manager's on version 3, the protocol's own locks on version 4): tasks of this program
// contending as owners, a wait granted or interrupted, and a second client program holding
// what this one wants. Each suite provides the descriptors, the server's bytes and the second
// client's test case.
#ifndef TESTS_LIVE_LOCKLIVECASES_H
#define TESTS_LIVE_LOCKLIVECASES_H

#include "kernel/testTask.h"

#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>
#include <kernel/taskLib.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <thread>

extern char **environ;

namespace lockcases {

// The bytes of the test's file on the server: COUNT of them from AT.
using ServerBytes = std::function<std::string(std::size_t at, std::size_t count)>;

// kFcntl's answer: 0, or the error number; what it reports into *out.
inline int fcntlOn(int fd, int cmd, int type, int64_t start, int64_t length, kflock *out = nullptr,
                   int whence = K_SEEK_SET)
{
    kflock lock{static_cast<int16_t>(type), static_cast<int16_t>(whence), start, length, 0};
    const int result = kFcntl(fd, cmd, &lock);
    if (out != nullptr)
        *out = lock;
    return result == 0 ? 0 : errnoGet();
}

inline int lockOn(TestTask &task, int fd, int cmd, int type, int64_t start, int64_t length, kflock *out = nullptr,
                  int whence = K_SEEK_SET)
{
    return task.run([=] { return fcntlOn(fd, cmd, type, start, length, out, whence); }).get();
}

// The bytes at `at`, read through fd.
inline std::string readAt(int fd, int64_t at, int count)
{
    std::string bytes(static_cast<std::size_t>(count), '\0');
    const int got = kLseek(fd, at, K_SEEK_SET) == at ? kRead(fd, bytes.data(), count) : -1;
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

// Two tasks of one program, each with its own descriptor on a file of 4096 bytes, conflict as
// two processes would; K_F_GETLK names the holder's type, range and task.
inline void readSharedWriteExclusive(TestTask &a, int fdA, TestTask &b, int fdB)
{
    constexpr int64_t kFar = 0x7fffffff00LL; // past 32 bits
    struct Step {
        TestTask *task;
        int type;
        int64_t start;
        int64_t length;
        int expected;
    };
    const Step steps[] = {
        {&a, K_F_RDLCK, 0, 100, 0},         {&b, K_F_RDLCK, 50, 100, 0}, // read locks share
        {&b, K_F_WRLCK, 90, 20, K_EAGAIN},  {&b, K_F_WRLCK, 100, 50, 0}, // b's own range upgraded
        {&a, K_F_RDLCK, 120, 10, K_EAGAIN}, {&a, K_F_WRLCK, 200, 0, 0},  // a: to the end
        {&b, K_F_RDLCK, kFar, 1, K_EAGAIN}, {&a, K_F_UNLCK, 0, 0, 0},    // a lets go of all
        {&b, K_F_WRLCK, 0, 0, 0},           {&a, K_F_RDLCK, kFar, 1, K_EAGAIN}, {&b, K_F_UNLCK, 0, 0, 0},
        {&a, K_F_WRLCK, kFar, 1, 0},        {&a, K_F_RDLCK, 10, 5, 0},
    };
    for (const Step &step : steps) {
        const int fd = step.task == &a ? fdA : fdB;
        EXPECT_EQ(lockOn(*step.task, fd, K_F_SETLK, step.type, step.start, step.length), step.expected)
            << "step " << (&step - steps);
    }
    // Read locks do not conflict; the holder is a (whose id is its task's).
    const auto holder = static_cast<intptr_t>(a.id());
    struct Probe {
        int type;
        int64_t start;
        int64_t length;
        kflock expected;
    };
    const Probe probes[] = {
        {K_F_WRLCK, 0, 100, {K_F_RDLCK, K_SEEK_SET, 10, 5, holder}},
        {K_F_RDLCK, 0, 100, {K_F_UNLCK, K_SEEK_SET, 0, 100, 0}},
        {K_F_RDLCK, kFar, 0, {K_F_WRLCK, K_SEEK_SET, kFar, 1, holder}},
    };
    for (const Probe &probe : probes) {
        kflock seen{};
        ASSERT_EQ(lockOn(b, fdB, K_F_GETLK, probe.type, probe.start, probe.length, &seen), 0);
        EXPECT_EQ(seen.l_type, probe.expected.l_type) << probe.start;
        EXPECT_EQ(seen.l_start, probe.expected.l_start) << probe.start;
        EXPECT_EQ(seen.l_len, probe.expected.l_len) << probe.start;
        EXPECT_EQ(seen.l_pid, probe.expected.l_pid) << probe.start;
    }
}

// The waiter is granted once the holder unlocks, and reads what the holder wrote under the
// lock, which is on the server when the unlock returns. A wait ends when the task is asked to
// stop, holding nothing. The file holds 'o's from byte 96 to 112.
inline void waitGrantedOrInterrupted(TestTask &a, int fdA, TestTask &b, int fdB, const ServerBytes &serverBytes)
{
    EXPECT_EQ(b.run([fdB] { return readAt(fdB, 100, 8); }).get(), "oooooooo"); // now in b's cache
    ASSERT_EQ(lockOn(a, fdA, K_F_SETLK, K_F_WRLCK, 0, 0), 0);
    std::future<int> waited = b.run([fdB] { return fcntlOn(fdB, K_F_SETLKW, K_F_WRLCK, 96, 16); });
    EXPECT_EQ(waited.wait_for(std::chrono::milliseconds(400)), std::future_status::timeout);
    ASSERT_EQ(
        a.run([fdA] { return kLseek(fdA, 100, K_SEEK_SET) == 100 ? kWrite(fdA, "held-by-a", 9) : -1; }).get(),
        9);
    ASSERT_EQ(lockOn(a, fdA, K_F_SETLK, K_F_UNLCK, 0, 0), 0);
    EXPECT_EQ(serverBytes(100, 9), "held-by-a");
    ASSERT_EQ(waited.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(waited.get(), 0);
    EXPECT_EQ(b.run([fdB] { return readAt(fdB, 100, 9); }).get(), "held-by-a");

    static std::atomic<bool> stop{false};
    taskInterruptHookSet([]() -> int { return stop.load() ? 1 : 0; });
    waited = a.run([fdA] { return fcntlOn(fdA, K_F_SETLKW, K_F_RDLCK, 100, 1); });
    EXPECT_EQ(waited.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    stop = true;
    ASSERT_EQ(waited.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(waited.get(), K_EINTR);
    stop = false;
    taskInterruptHookSet(nullptr);
    EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_UNLCK, 0, 0), 0);
    EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_WRLCK, 0, 0), 0); // a holds nothing
}

// The second client's part, on its descriptor of the file: locks the whole file, writes
// "child" under the lock, reports on fd 3 and lets go when told on fd 4.
inline void secondClientHolds(int fd)
{
    ASSERT_EQ(fcntlOn(fd, K_F_SETLK, K_F_WRLCK, 0, 0), 0);
    ASSERT_EQ(kWrite(fd, "child", 5), 5);
    ASSERT_EQ(::write(3, "h", 1), 1);
    char told = 0;
    ASSERT_EQ(::read(4, &told, 1), 1);
    EXPECT_EQ(fcntlOn(fd, K_F_SETLK, K_F_UNLCK, 0, 0), 0);
}

// The file the second client locks, as its test case finds it (relative to its device).
inline const char *secondClientFile()
{
    return std::getenv("RT_LOCK_CHILD_FILE");
}

// Runs this binary's second-client case (CASE, a disabled test) on FILE; true once it holds
// its lock.
inline bool secondClientHolding(const std::string &testCase, const std::string &file, pid_t *pid, int *orders)
{
    int reports[2] = {-1, -1};
    int toChild[2] = {-1, -1};
    if (::pipe2(reports, O_CLOEXEC) != 0 || ::pipe2(toChild, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, reports[1], 3);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 4);
    std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::string filter = "--gtest_filter=" + testCase;
    std::string disabled = "--gtest_also_run_disabled_tests";
    char *argv[] = {self.data(), filter.data(), disabled.data(), nullptr};
    ::setenv("RT_LOCK_CHILD_FILE", file.c_str(), 1);
    const bool spawned = posix_spawn(pid, self.c_str(), &actions, nullptr, argv, environ) == 0;
    ::unsetenv("RT_LOCK_CHILD_FILE");
    posix_spawn_file_actions_destroy(&actions);
    ::close(reports[1]);
    ::close(toChild[0]);
    *orders = toChild[1];
    char report = 0;
    const bool held = spawned && ::read(reports[0], &report, 1) == 1;
    ::close(reports[0]);
    return held;
}

// The second client told to let go: its exit status. A client that has already gone closed
// its end of the orders: the write fails with EPIPE instead of ending this program.
inline int secondClientReleased(pid_t pid, int orders)
{
    if (pid <= 0)
        return -1;
    static_cast<void>(::signal(SIGPIPE, SIG_IGN));
    static_cast<void>(::write(orders, "x", 1));
    ::close(orders);
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Another program's lock excludes this one's tasks, even the task whose id equals the other
// program's locking task's (each program's first task, its main one); K_F_GETLK names its type
// and range (and PID, the holder as this client can know it), and a wait is granted once it
// lets go, seeing what it wrote. FD is this task's descriptor of the file holding 'o's.
inline void secondClientContends(int fd, const std::string &testCase, const std::string &file,
                                 const ServerBytes &serverBytes)
{
    EXPECT_EQ(readAt(fd, 0, 5), "ooooo");
    pid_t pid = 0;
    int orders = -1;
    const bool held = secondClientHolding(testCase, file, &pid, &orders);
    if (!held) {
        // Under a user-mode emulator without a binfmt_misc entry the copy of this program cannot
        // be started (its exec fails in the child: status 127); anything else is a failure.
        const int status = secondClientReleased(pid, orders);
        if (status == 127)
            GTEST_SKIP() << "this program cannot start a copy of itself here";
        FAIL() << "the second client did not take its lock (exit status " << status << ")";
    }
    std::future<int> released = std::async(std::launch::async, [pid, orders] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return secondClientReleased(pid, orders);
    });
    EXPECT_EQ(fcntlOn(fd, K_F_SETLK, K_F_RDLCK, 0, 1), K_EAGAIN);
    kflock seen{};
    ASSERT_EQ(fcntlOn(fd, K_F_GETLK, K_F_RDLCK, 100, 1, &seen), 0);
    EXPECT_EQ(seen.l_type, K_F_WRLCK);
    EXPECT_EQ(seen.l_start, 0);
    EXPECT_EQ(seen.l_len, 0);
    EXPECT_EQ(fcntlOn(fd, K_F_SETLKW, K_F_RDLCK, 0, 5), 0);
    EXPECT_EQ(released.get(), 0);
    EXPECT_EQ(serverBytes(0, 5), "child");
    EXPECT_EQ(readAt(fd, 0, 5), "child");
}

} // namespace lockcases

#endif
