// The kernel layer's uncontended paths take no lock: mutex semaphores and descriptors shared by
// tasks that take, wait, time out and close at the same time. Built with ThreadSanitizer too.
#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/semLib.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(KernelContention, SemaphoreExcludesWaitingPollingAndTimingOutTasks)
{
    SEM_ID sem = semMCreate(0);
    ASSERT_NE(sem, nullptr);
    constexpr int kRounds = 20000;
    long counted = 0; // guarded by sem only
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    const auto holdOnce = [&] {
        if (inside.fetch_add(1) != 0)
            overlapped = true;
        ++counted;
        inside.fetch_sub(1);
    };
    // Takes that wait forever, poll (K_NO_WAIT) and wait a tick, each counted when obtained.
    std::atomic<long> obtained{0};
    const auto task = [&](int timeout) {
        for (int i = 0; i < kRounds; ++i) {
            if (semTake(sem, timeout) != 0) {
                EXPECT_EQ(errnoGet(), timeout == K_NO_WAIT ? K_OBJ_UNAVAILABLE : K_OBJ_TIMEOUT);
                continue;
            }
            ASSERT_EQ(semTake(sem, K_NO_WAIT), 0); // recursive for its holder
            holdOnce();
            ASSERT_EQ(semGive(sem), 0);
            ASSERT_EQ(semGive(sem), 0);
            ++obtained;
        }
    };
    std::vector<std::thread> tasks;
    for (const int timeout : {K_WAIT_FOREVER, K_WAIT_FOREVER, K_NO_WAIT, 1})
        tasks.emplace_back(task, timeout);
    for (std::thread &t : tasks)
        t.join();
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(counted, obtained.load());
    EXPECT_GE(obtained.load(), 2L * kRounds);
    EXPECT_EQ(semGive(sem), -1) << "nobody holds it";
    EXPECT_EQ(semDelete(sem), 0);
}

TEST(KernelContention, CloseWaitsForReadsUnderWayAndLaterReadsFail)
{
    char name[] = "/tmp/rt-contention-XXXXXX";
    const int hostFd = mkstemp(name);
    ASSERT_GE(hostFd, 0);
    const std::string content(4096, 'c');
    ASSERT_EQ(write(hostFd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    close(hostFd);
    const std::string path = std::string("host:") + name;

    for (int round = 0; round < 20; ++round) {
        const int fd = kOpen(path.c_str(), K_O_RDONLY, 0);
        ASSERT_GE(fd, 3);
        std::atomic<int> reads{0};
        std::vector<std::thread> readers;
        for (int r = 0; r < 3; ++r) {
            readers.emplace_back([&] {
                char buf[64];
                for (;;) {
                    const int got = kRead(fd, buf, sizeof buf);
                    if (got == -1) {
                        EXPECT_EQ(errnoGet(), K_EBADF);
                        return;
                    }
                    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(got)),
                              content.substr(0, static_cast<std::size_t>(got)));
                    kLseek(fd, 0, K_SEEK_SET);
                    ++reads;
                }
            });
        }
        while (reads.load() < 50)
            std::this_thread::yield();
        EXPECT_EQ(kClose(fd), 0);
        for (std::thread &t : readers)
            t.join();
        char byte;
        EXPECT_EQ(kRead(fd, &byte, 1), -1);
    }
    std::remove(name);
}

} // namespace
