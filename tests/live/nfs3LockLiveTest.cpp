// Record locks on a version 3 device through the server's lock manager: tasks of this process
// as owners contending for ranges, and a second client program holding what this one wants.
// Run with the server's lock manager on (RT_NFS_SERVER_LOCKS=1); skipped otherwise.
#include "live/nfs3FileLive.h"

#include <kernel/ioLib.h>
#include <kernel/kernelStat.h>
#include <kernel/taskLib.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

extern char **environ;

namespace {

using filelive::FileLive;

// A task of its own that runs what it is given, one after another, until it is destroyed.
class Task {
public:
    Task() : thread_([this] { loop(); }) {}
    ~Task()
    {
        post([this] { stopping_ = true; });
        thread_.join();
    }
    Task(const Task &) = delete;
    Task &operator=(const Task &) = delete;

    template <typename F> auto post(F f) -> std::future<decltype(f())>
    {
        auto job = std::make_shared<std::packaged_task<decltype(f())()>>(std::move(f));
        std::future<decltype(f())> done = job->get_future();
        {
            const std::lock_guard<std::mutex> guard(lock_);
            jobs_.emplace_back([job] { (*job)(); });
        }
        wake_.notify_one();
        return done;
    }
    template <typename F> auto run(F f) -> decltype(f()) { return post(std::move(f)).get(); }
    uintptr_t id()
    {
        return run([] { return taskIdCurrent()->taskId; });
    }

private:
    void loop()
    {
        while (!stopping_) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> guard(lock_);
                wake_.wait(guard, [this] { return !jobs_.empty(); });
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false; // read and written by the task alone
    std::thread thread_;
};

// kFcntl's answer: 0, or the error number.
int fcntlOn(int fd, int cmd, int type, int64_t start, int64_t length, kflock *out = nullptr)
{
    kflock lock{static_cast<int16_t>(type), K_SEEK_SET, start, length, 0};
    const int result = kFcntl(fd, cmd, &lock);
    if (out != nullptr)
        *out = lock;
    return result == 0 ? 0 : errnoGet();
}

class NlmLive : public FileLive {
protected:
    void SetUp() override
    {
        const char *locks = std::getenv("RT_NFS_SERVER_LOCKS");
        if (locks == nullptr || std::string(locks) != "1") {
            skipped_ = true;
            GTEST_SKIP() << "the server's lock manager is off (RT_NFS_SERVER_LOCKS=1 turns it on)";
        }
        FileLive::SetUp();
        putOnServer("f", std::vector<char>(4096, 'o'));
    }
    void TearDown() override
    {
        if (!skipped_)
            FileLive::TearDown();
    }

    // An open of the test's file by the task.
    int openOn(Task &task) const
    {
        const std::string path = dev("f");
        return task.run([&path] { return kOpen(path.c_str(), K_O_RDWR, 0); });
    }
    static int closeOn(Task &task, int fd)
    {
        return task.run([fd] { return kClose(fd); });
    }
    static int lockOn(Task &task, int fd, int cmd, int type, int64_t start, int64_t length,
                      kflock *out = nullptr)
    {
        return task.run([=] { return fcntlOn(fd, cmd, type, start, length, out); });
    }
    static std::string readAt(Task &task, int fd, int64_t at, int count)
    {
        return task.run([=] {
            std::string bytes(static_cast<std::size_t>(count), '\0');
            const bool placed = kLseek(fd, at, K_SEEK_SET) == at;
            const int got = placed ? kRead(fd, bytes.data(), count) : -1;
            bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
            return bytes;
        });
    }
    static int writeAt(Task &task, int fd, int64_t at, const std::string &bytes)
    {
        return task.run([=] {
            return kLseek(fd, at, K_SEEK_SET) == at ? kWrite(fd, bytes.data(), static_cast<int>(bytes.size()))
                                                    : -1;
        });
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
    Task a;
    Task b;
    const int fdA = openOn(a);
    const int fdB = openOn(b);
    ASSERT_GE(fdA, 0);
    ASSERT_GE(fdB, 0);
    const uintptr_t idA = a.id();
    struct Step {
        Task *task;
        int fd;
        int cmd;
        int type;
        int64_t start;
        int64_t length;
        int expected;
    };
    const Step steps[] = {
        {&a, fdA, K_F_SETLK, K_F_RDLCK, 0, 100, 0},
        {&b, fdB, K_F_SETLK, K_F_RDLCK, 50, 100, 0},        // read locks share
        {&b, fdB, K_F_SETLK, K_F_WRLCK, 90, 20, K_EAGAIN},  // a's read lock excludes a write
        {&b, fdB, K_F_SETLK, K_F_WRLCK, 100, 50, 0},        // past a's range: b's own upgrade
        {&a, fdA, K_F_SETLK, K_F_RDLCK, 120, 10, K_EAGAIN}, // b's write lock excludes a read
        {&a, fdA, K_F_SETLK, K_F_WRLCK, 200, 0, 0},         // to the end, however far
        {&b, fdB, K_F_SETLK, K_F_RDLCK, 1 << 20, 1, K_EAGAIN},
        {&a, fdA, K_F_SETLK, K_F_UNLCK, 0, 0, 0},                     // a lets go of everything
        {&b, fdB, K_F_SETLK, K_F_WRLCK, 0, 0, 0},                     // now the whole file is b's
        {&a, fdA, K_F_SETLK, K_F_RDLCK, 0x7fffffff00LL, 1, K_EAGAIN}, // 64-bit offsets
        {&b, fdB, K_F_SETLK, K_F_UNLCK, 0, 0, 0},
        {&a, fdA, K_F_SETLK, K_F_WRLCK, 0x7fffffff00LL, 1, 0},
    };
    int row = 0;
    for (const Step &step : steps) {
        EXPECT_EQ(lockOn(*step.task, step.fd, step.cmd, step.type, step.start, step.length), step.expected)
            << "step " << row;
        ++row;
    }
    // K_F_GETLK names the holder: its type, range and task.
    ASSERT_EQ(lockOn(a, fdA, K_F_SETLK, K_F_RDLCK, 10, 5, nullptr), 0);
    kflock seen{};
    ASSERT_EQ(lockOn(b, fdB, K_F_GETLK, K_F_WRLCK, 0, 100, &seen), 0);
    EXPECT_EQ(seen.l_type, K_F_RDLCK);
    EXPECT_EQ(seen.l_start, 10);
    EXPECT_EQ(seen.l_len, 5);
    EXPECT_EQ(static_cast<uintptr_t>(seen.l_pid), idA);
    ASSERT_EQ(lockOn(b, fdB, K_F_GETLK, K_F_RDLCK, 0, 100, &seen), 0); // reads share: no conflict
    EXPECT_EQ(seen.l_type, K_F_UNLCK);
    ASSERT_EQ(lockOn(b, fdB, K_F_GETLK, K_F_RDLCK, 0x7fffffff00LL, 0, &seen), 0);
    EXPECT_EQ(seen.l_type, K_F_WRLCK);
    EXPECT_EQ(seen.l_start, 0x7fffffff00LL);
    EXPECT_EQ(closeOn(a, fdA), 0);
    EXPECT_EQ(closeOn(b, fdB), 0);
}

// The waiter is granted once the holder unlocks, and reads what the holder wrote under it;
// the holder's bytes are on the server when its unlock returns.
TEST_F(NlmLive, WaitGrantedOnUnlockSeesHolderBytes)
{
    Task a;
    Task b;
    const int fdA = openOn(a);
    const int fdB = openOn(b);
    ASSERT_GE(fdA, 0);
    ASSERT_GE(fdB, 0);
    EXPECT_EQ(readAt(b, fdB, 100, 8), "oooooooo"); // b's cache holds the old bytes
    ASSERT_EQ(lockOn(a, fdA, K_F_SETLK, K_F_WRLCK, 0, 0), 0);
    std::future<int> waited = b.post([fdB] { return fcntlOn(fdB, K_F_SETLKW, K_F_WRLCK, 96, 16); });
    EXPECT_EQ(waited.wait_for(std::chrono::milliseconds(400)), std::future_status::timeout);
    ASSERT_EQ(writeAt(a, fdA, 100, "held-by-a"), 9);
    ASSERT_EQ(lockOn(a, fdA, K_F_SETLK, K_F_UNLCK, 0, 0), 0);
    EXPECT_EQ(serverBytes(100, 9), "held-by-a"); // written back before the unlock
    ASSERT_EQ(waited.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(waited.get(), 0);
    EXPECT_EQ(readAt(b, fdB, 100, 9), "held-by-a"); // the grant dropped b's stale lines
    EXPECT_EQ(lockOn(a, fdA, K_F_SETLK, K_F_RDLCK, 100, 1), K_EAGAIN);
    EXPECT_EQ(closeOn(b, fdB), 0);
    EXPECT_EQ(closeOn(a, fdA), 0);
}

// A wait that the task is asked to stop ends with K_EINTR, holding nothing.
TEST_F(NlmLive, WaitInterrupted)
{
    static std::atomic<bool> stop{false};
    taskInterruptHookSet([]() -> int { return stop.load() ? 1 : 0; });
    Task a;
    Task b;
    const int fdA = openOn(a);
    const int fdB = openOn(b);
    ASSERT_EQ(lockOn(a, fdA, K_F_SETLK, K_F_WRLCK, 0, 10), 0);
    std::future<int> waited = b.post([fdB] { return fcntlOn(fdB, K_F_SETLKW, K_F_WRLCK, 0, 10); });
    EXPECT_EQ(waited.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    stop = true;
    ASSERT_EQ(waited.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(waited.get(), K_EINTR);
    stop = false;
    taskInterruptHookSet(nullptr);
    EXPECT_EQ(lockOn(a, fdA, K_F_SETLK, K_F_UNLCK, 0, 0), 0);
    EXPECT_EQ(lockOn(a, fdA, K_F_SETLK, K_F_WRLCK, 0, 0), 0); // b holds nothing
    EXPECT_EQ(closeOn(a, fdA), 0);
    EXPECT_EQ(closeOn(b, fdB), 0);
}

// A close releases the closing task's locks on the file; a task's end releases all of its.
TEST_F(NlmLive, CloseAndTaskEndRelease)
{
    Task b;
    const int fdB = openOn(b);
    ASSERT_GE(fdB, 0);
    {
        Task a;
        const int fdA = openOn(a);
        ASSERT_EQ(lockOn(a, fdA, K_F_SETLK, K_F_WRLCK, 0, 0), 0);
        ASSERT_EQ(writeAt(a, fdA, 0, "closing"), 7);
        EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_RDLCK, 0, 1), K_EAGAIN);
        EXPECT_EQ(closeOn(a, fdA), 0);
        EXPECT_EQ(serverBytes(0, 7), "closing");
        EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_WRLCK, 0, 0), 0);
        EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_UNLCK, 0, 0), 0);
        // b's descriptor, used by a: a's lock outlives the call until a ends.
        ASSERT_EQ(lockOn(a, fdB, K_F_SETLK, K_F_WRLCK, 5, 5), 0);
        EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_WRLCK, 0, 0), K_EAGAIN);
    }
    EXPECT_EQ(lockOn(b, fdB, K_F_SETLK, K_F_WRLCK, 0, 0), 0);
    EXPECT_EQ(closeOn(b, fdB), 0);
}

// The second client: another program of this host mounts the export, locks the whole file,
// writes under the lock, and lets go when told. Run by the test below, never alone.
TEST(NlmSecondClient, DISABLED_HoldsUntilTold)
{
    const char *path = std::getenv("RT_NLM_CHILD_FILE");
    ASSERT_NE(path, nullptr);
    nfsAuthUnixSet(sysBootParams.hostName, 2001, 100, 0, nullptr);
    ASSERT_EQ(nfs3Drv(), 0);
    nfs3CacheParamsSet(16, 16384, 0);
    ASSERT_EQ(nfsMount(live::host().c_str(), live::exportPath().c_str(), "/nfs9lk"), 0)
        << std::hex << errnoGet();
    const int fd = kOpen((std::string("/nfs9lk/") + path).c_str(), K_O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fcntlOn(fd, K_F_SETLK, K_F_WRLCK, 0, 0), 0);
    ASSERT_EQ(kWrite(fd, "child", 5), 5);
    ASSERT_EQ(::write(3, "held\n", 5), 5);
    char told = 0;
    ASSERT_EQ(::read(4, &told, 1), 1);
    EXPECT_EQ(fcntlOn(fd, K_F_SETLK, K_F_UNLCK, 0, 0), 0);
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(nfsUnmount("/nfs9lk"), 0);
    nfsClientClose();
}

// The other program runs this binary's second-client case, reporting on fd 3, told on fd 4.
class SecondClient {
public:
    explicit SecondClient(const std::string &file)
    {
        if (::pipe2(reports_, O_CLOEXEC) != 0 || ::pipe2(orders_, O_CLOEXEC) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, reports_[1], 3);
        posix_spawn_file_actions_adddup2(&actions, orders_[0], 4);
        const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        std::string filter = "--gtest_filter=NlmSecondClient.DISABLED_HoldsUntilTold";
        std::string disabled = "--gtest_also_run_disabled_tests";
        char *argv[] = {const_cast<char *>(self.c_str()), filter.data(), disabled.data(), nullptr};
        ::setenv("RT_NLM_CHILD_FILE", file.c_str(), 1);
        spawned_ = posix_spawn(&pid_, self.c_str(), &actions, nullptr, argv, environ) == 0;
        ::unsetenv("RT_NLM_CHILD_FILE");
        posix_spawn_file_actions_destroy(&actions);
        ::close(reports_[1]);
        ::close(orders_[0]);
    }
    ~SecondClient()
    {
        release();
        ::close(reports_[0]);
    }
    SecondClient(const SecondClient &) = delete;
    SecondClient &operator=(const SecondClient &) = delete;

    // True once the other program holds its lock.
    bool holding()
    {
        char line[5] = {};
        return spawned_ && ::read(reports_[0], line, sizeof line) == 5 && std::string(line, 5) == "held\n";
    }
    // Tells it to let go and waits for its end: its exit status.
    int release()
    {
        if (!spawned_)
            return -1;
        spawned_ = false;
        static_cast<void>(::write(orders_[1], "x", 1));
        ::close(orders_[1]);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    int reports_[2] = {-1, -1};
    int orders_[2] = {-1, -1};
    pid_t pid_ = 0;
    bool spawned_ = false;
};

// Another program's lock excludes this one's tasks, even the task whose id equals the other
// program's locking task's (each program's first task, its main one); K_F_GETLK names it, and a
// wait is granted once it lets go, seeing what it wrote.
TEST_F(NlmLive, SecondClientContends)
{
    const int fd = kOpen(dev("f").c_str(), K_O_RDWR, 0);
    ASSERT_GE(fd, 0);
    std::string before(5, '\0');
    ASSERT_EQ(kRead(fd, before.data(), 5), 5);
    EXPECT_EQ(before, "ooooo");
    SecondClient other(tail("f").substr(1));
    ASSERT_TRUE(other.holding());
    EXPECT_EQ(fcntlOn(fd, K_F_SETLK, K_F_RDLCK, 0, 1), K_EAGAIN);
    kflock seen{};
    ASSERT_EQ(fcntlOn(fd, K_F_GETLK, K_F_RDLCK, 100, 1, &seen), 0);
    EXPECT_EQ(seen.l_type, K_F_WRLCK);
    EXPECT_EQ(seen.l_start, 0);
    EXPECT_EQ(seen.l_len, 0);
    std::future<int> released = std::async(std::launch::async, [&other] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return other.release();
    });
    EXPECT_EQ(fcntlOn(fd, K_F_SETLKW, K_F_RDLCK, 0, 5), 0);
    EXPECT_EQ(released.get(), 0);
    EXPECT_EQ(serverBytes(0, 5), "child");
    std::string after(5, '\0');
    ASSERT_EQ(kLseek(fd, 0, K_SEEK_SET), 0);
    ASSERT_EQ(kRead(fd, after.data(), 5), 5);
    EXPECT_EQ(after, "child");
    EXPECT_EQ(kClose(fd), 0);
}

} // namespace
