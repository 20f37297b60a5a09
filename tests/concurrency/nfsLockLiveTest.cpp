// Record locks on a version 3 device through the server's lock manager: tasks of this program
// as owners contending for ranges, and a second client program holding what this one wants.
// Run with the server's lock manager on (RT_NFS_SERVER_LOCKS=1); skipped otherwise.
#include "kernel/testTask.h"
#include "live/nfs3FileLive.h"

#include <kernel/ioLib.h>
#include <kernel/kernelStat.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace {

// kFcntl's answer: 0, or the error number; what it reports into *out.
int fcntlOn(int fd, int cmd, int type, int64_t start, int64_t length, kflock *out = nullptr)
{
    kflock lock{static_cast<int16_t>(type), K_SEEK_SET, start, length, 0};
    const int result = kFcntl(fd, cmd, &lock);
    if (out != nullptr)
        *out = lock;
    return result == 0 ? 0 : errnoGet();
}

// The bytes at `at`, read through fd.
std::string readAt(int fd, int64_t at, int count)
{
    std::string bytes(static_cast<std::size_t>(count), '\0');
    const int got = kLseek(fd, at, K_SEEK_SET) == at ? kRead(fd, bytes.data(), count) : -1;
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return bytes;
}

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
    static int lockOn(TestTask &task, int fd, int cmd, int type, int64_t start, int64_t length,
                      kflock *out = nullptr)
    {
        return task.run([=] { return fcntlOn(fd, cmd, type, start, length, out); }).get();
    }
    std::string serverBytes(std::size_t at, std::size_t count) const
    {
        const std::vector<char> all = onServer("f");
        return at >= all.size() ? std::string()
                                : std::string(all.data() + at, std::min(count, all.size() - at));
    }

    bool skipped_ = false;
};

// Two tasks of one program, each with its own descriptor, conflict as two processes would.
TEST_F(NlmLive, ReadLocksShareWriteLocksExclude)
{
    TestTask a;
    TestTask b;
    const int fdA = openOn(a);
    const int fdB = openOn(b);
    ASSERT_GE(fdA, 0);
    ASSERT_GE(fdB, 0);
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
    // K_F_GETLK names the holder: its type, range and task; read locks do not conflict.
    struct Probe {
        int type;
        int64_t start;
        int64_t length;
        kflock expected;
    };
    const Probe probes[] = {
        {K_F_WRLCK, 0, 100, {K_F_RDLCK, K_SEEK_SET, 10, 5, static_cast<intptr_t>(a.id())}},
        {K_F_RDLCK, 0, 100, {K_F_UNLCK, K_SEEK_SET, 0, 100, 0}},
        {K_F_RDLCK, kFar, 0, {K_F_WRLCK, K_SEEK_SET, kFar, 1, static_cast<intptr_t>(a.id())}},
    };
    for (const Probe &probe : probes) {
        kflock seen{};
        ASSERT_EQ(lockOn(b, fdB, K_F_GETLK, probe.type, probe.start, probe.length, &seen), 0);
        EXPECT_EQ(seen.l_type, probe.expected.l_type) << probe.start;
        EXPECT_EQ(seen.l_start, probe.expected.l_start) << probe.start;
        EXPECT_EQ(seen.l_len, probe.expected.l_len) << probe.start;
        EXPECT_EQ(seen.l_pid, probe.expected.l_pid) << probe.start;
    }
    EXPECT_EQ(a.run([fdA] { return kClose(fdA); }).get(), 0);
    EXPECT_EQ(b.run([fdB] { return kClose(fdB); }).get(), 0);
}

// The waiter is granted once the holder unlocks, and reads what the holder wrote under the
// lock, which is on the server when the unlock returns. A wait ends when the task is asked to
// stop, holding nothing.
TEST_F(NlmLive, WaitGrantedOnUnlockOrInterrupted)
{
    TestTask a;
    TestTask b;
    const int fdA = openOn(a);
    const int fdB = openOn(b);
    ASSERT_GE(fdA, 0);
    ASSERT_GE(fdB, 0);
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
TEST(NlmSecondClient, DISABLED_HoldsUntilTold)
{
    const char *path = std::getenv("RT_NLM_CHILD_FILE");
    ASSERT_NE(path, nullptr);
    nfsAuthUnixSet(sysBootParams.hostName, 2001, 100, 0, nullptr);
    ASSERT_EQ(nfs3Drv(), 0);
    nfs3CacheParamsSet(16, 16384, 0); // a fresh program has no cache until told its size
    ASSERT_EQ(nfsMount(live::host().c_str(), live::exportPath().c_str(), "/nfs9lk"), 0)
        << std::hex << errnoGet();
    const int fd = kOpen((std::string("/nfs9lk/") + path).c_str(), K_O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fcntlOn(fd, K_F_SETLK, K_F_WRLCK, 0, 0), 0);
    ASSERT_EQ(kWrite(fd, "child", 5), 5);
    ASSERT_EQ(::write(3, "h", 1), 1);
    char told = 0;
    ASSERT_EQ(::read(4, &told, 1), 1);
    EXPECT_EQ(fcntlOn(fd, K_F_SETLK, K_F_UNLCK, 0, 0), 0);
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(nfsUnmount("/nfs9lk"), 0);
    nfsClientClose();
}

// Runs this binary's second-client case on FILE; true once it holds its lock. Its exit status
// once told to let go.
bool secondClientHolding(const std::string &file, pid_t *pid, int *orders)
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
    std::string filter = "--gtest_filter=NlmSecondClient.DISABLED_HoldsUntilTold";
    std::string disabled = "--gtest_also_run_disabled_tests";
    char *argv[] = {self.data(), filter.data(), disabled.data(), nullptr};
    ::setenv("RT_NLM_CHILD_FILE", file.c_str(), 1);
    const bool spawned = posix_spawn(pid, self.c_str(), &actions, nullptr, argv, environ) == 0;
    ::unsetenv("RT_NLM_CHILD_FILE");
    posix_spawn_file_actions_destroy(&actions);
    ::close(reports[1]);
    ::close(toChild[0]);
    *orders = toChild[1];
    char report = 0;
    const bool held = spawned && ::read(reports[0], &report, 1) == 1;
    ::close(reports[0]);
    return held;
}

int secondClientReleased(pid_t pid, int orders)
{
    if (pid <= 0)
        return -1;
    static_cast<void>(::write(orders, "x", 1));
    ::close(orders);
    int status = 0;
    return ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Another program's lock excludes this one's tasks, even the task whose id equals the other
// program's locking task's (each program's first task, its main one); K_F_GETLK names it, and a
// wait is granted once it lets go, seeing what it wrote.
TEST_F(NlmLive, SecondClientContends)
{
    const int fd = kOpen(dev("f").c_str(), K_O_RDWR, 0);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(readAt(fd, 0, 5), "ooooo");
    pid_t pid = 0;
    int orders = -1;
    const bool held = secondClientHolding(tail("f").substr(1), &pid, &orders);
    std::future<int> released = std::async(std::launch::async, [pid, orders] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        return secondClientReleased(pid, orders);
    });
    ASSERT_TRUE(held);
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
    EXPECT_EQ(kClose(fd), 0);
}

} // namespace
