// Several tasks sharing one server through a network that loses, duplicates and reorders
// datagrams (over UDP) or resets connections (over TCP), and through a restart of the server
// while they write: every task's file is byte-exact on the server's side and as read back, and
// every sync and close succeeds. Built with ThreadSanitizer too.
#include "live/faultRelay.h"
#include "live/nfs3FileLive.h"
#include "live/tcpFaultRelay.h"

#include <kernel/hostLib.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <thread>

namespace {

using filelive::randomBytes;

constexpr int kTasks = 4;
constexpr const char *kRelayAddress = "127.0.0.79";
constexpr const char *kRelayHost = "shared-relay";
constexpr const char *kRelayDev = "/nfs9r";

uint16_t mountPort()
{
    const std::string port = live::env("RT_NFS_MOUNT_PORT");
    return static_cast<uint16_t>(port.empty() ? 20048 : std::atoi(port.c_str()));
}

// The file from its start, or what came before a failed read.
std::vector<char> readWhole(int fd)
{
    std::vector<char> all;
    std::vector<char> buf(9000);
    for (int got = 0; (got = kRead(fd, buf.data(), static_cast<int>(buf.size()))) > 0;)
        all.insert(all.end(), buf.begin(), buf.begin() + got);
    return all;
}

class SharedServerLive : public filelive::FileLive {
protected:
    void TearDown() override
    {
        nfsReXmitSec = 5;
        nfsReXmitUSec = 0;
        nfsTimeoutSec = 25;
        FileLive::TearDown();
    }

    // One task's file through DEVICE: written in pieces of random length (a call that fails
    // with a transport error is made again, as a program would), synced, read back through a
    // second descriptor, closed. What went wrong, or "".
    std::string task(int index, const std::string &device, std::size_t size, const std::vector<char> &bytes)
    {
        std::mt19937 random(static_cast<uint32_t>(300 + index));
        std::uniform_int_distribution<std::size_t> length(1, 70000);
        const std::string path = device + tail("t" + std::to_string(index));
        const int fd = kOpen(path.c_str(), K_O_RDWR | K_O_CREAT, 0644);
        if (fd < 0)
            return "open";
        int failedCalls = 0;
        for (std::size_t at = 0; at < size;) {
            const int n = static_cast<int>(std::min(length(random), size - at));
            const int written = kWrite(fd, bytes.data() + at, n);
            if (written > 0) {
                at += static_cast<std::size_t>(written);
            } else if ((static_cast<uint32_t>(errnoGet()) & 0xffff0000U) != K_RPC_CLNT_ERRNO_BASE ||
                       ++failedCalls > 400) {
                return "write " + std::to_string(errnoGet());
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        // The sync waits for the side's disturbance to end: a server still restarting fails it.
        while (!settled_)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        // Right after a restart a sync or a read may still fail: a call that went out while
        // the server came back may go unanswered until its time-out (a task that waits for the
        // line that call moves times out with it), and a server not yet listening again refuses
        // at once. A program tries again after a moment, and nothing it wrote may be lost
        // meanwhile.
        std::string failed;
        int syncs = 0;
        while (kIoctl(fd, K_FIOSYNC, 0) < 0 && ++syncs < 8)
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        if (syncs == 8)
            failed += "sync " + std::to_string(errnoGet()) + "; ";
        bool same = false;
        for (int tries = 0; !same && tries < 3; ++tries) {
            if (tries > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
            const int reader = kOpen(path.c_str(), K_O_RDONLY, 0);
            same = reader >= 0 && readWhole(reader) == bytes;
            if (reader >= 0)
                kClose(reader);
        }
        if (!same)
            failed += "read back (" + std::to_string(errnoGet()) + "); ";
        if (kClose(fd) != 0)
            failed += "close; ";
        nfsClientClose();
        return failed;
    }

    // The tasks, each writing its own file of SIZE bytes through DEVICE while SIDE runs; each
    // file checked on the server.
    void run(const std::string &device, std::size_t size, const std::function<void()> &side = {})
    {
        std::vector<std::vector<char>> bytes;
        for (int i = 0; i < kTasks; ++i) {
            std::mt19937 random(static_cast<uint32_t>(i + 1));
            bytes.push_back(randomBytes(size, random));
        }
        settled_ = !side;
        std::vector<std::string> failures(kTasks);
        std::vector<std::thread> tasks;
        for (std::size_t i = 0; i < kTasks; ++i)
            tasks.emplace_back([&, i] { failures[i] = task(static_cast<int>(i), device, size, bytes[i]); });
        if (side)
            side();
        settled_ = true;
        for (std::thread &t : tasks)
            t.join();
        for (std::size_t i = 0; i < kTasks; ++i) {
            EXPECT_EQ(failures[i], "") << "task " << i;
            EXPECT_TRUE(onServer("t" + std::to_string(i)) == bytes[i]) << "task " << i;
        }
    }

    std::atomic<bool> settled_{true};
};

// Over UDP: datagrams lost, duplicated and overtaking each other both ways. Over TCP (a server
// without UDP): a connection reset under the tasks' calls again and again.
TEST_F(SharedServerLive, TasksThroughLossDuplicatesReorderAndResetsStayByteExact)
{
    nfsReXmitSec = 0;
    nfsReXmitUSec = 100000;
    nfsTimeoutSec = 10;
    hostAdd(kRelayHost, kRelayAddress);
    std::string error;
    const bool udp = live::serverOffersUdp();
    const std::vector<uint16_t> udpPorts =
        udp ? std::vector<uint16_t>{111, 2049, mountPort()} : std::vector<uint16_t>{111};
    const auto relay = live::FaultRelay::start(kRelayAddress, live::host(), udpPorts, 21, &error);
    ASSERT_NE(relay, nullptr) << error;
    std::unique_ptr<live::TcpFaultRelay> tcpRelay;
    if (udp) {
        relay->setPlan({.loss = 0.05,
                        .duplicate = 0.05,
                        .delay = std::chrono::microseconds(100),
                        .jitter = std::chrono::microseconds(400),
                        .silentPorts = {}});
    } else {
        tcpRelay = live::TcpFaultRelay::start(kRelayAddress, live::host(), {2049, mountPort()}, &error);
        ASSERT_NE(tcpRelay, nullptr) << error;
    }
    ASSERT_EQ(nfsMount(kRelayHost, live::exportPath().c_str(), kRelayDev), 0) << std::hex << errnoGet();
    std::atomic<bool> writing{true};
    run(kRelayDev, 160 * 1024, [&] {
        for (int round = 0; tcpRelay != nullptr && writing && round < 20; ++round) {
            tcpRelay->setPlan({.resetCalls = 1, .delay = std::chrono::microseconds(100)});
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
    });
    writing = false;
    if (udp)
        EXPECT_GT(relay->counts().lost, 0u) << "the network lost datagrams";
    else
        EXPECT_GT(tcpRelay->calls().size(), 0u) << "the calls went through the relay";
    EXPECT_EQ(nfsUnmount(kRelayDev), 0) << std::hex << errnoGet();
    nfsClientClose();
}

// The server killed and started again while four tasks write 4 MiB each: what the tasks
// wrote survives, every sync and close succeeds.
TEST_F(SharedServerLive, AServerRestartWithSeveralTasksWritingLosesNothing)
{
    nfsTimeoutSec = 5;
    std::string newPid;
    run(filelive::kDev, 4U << 20, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        newPid = live::serverRestarted();
    });
    EXPECT_GT(std::atoi(newPid.c_str()), 0) << "the server did not come back";
}

} // namespace
