// A device of nfs-ganesha mounted through the fault relay: lossy, slow, reordering and
// duplicating networks, a server paused past the time-out, killed and restarted mid-write, and
// a portmapper gone. Every call completes with the right bytes or fails with the time-out in
// time, nothing acknowledged is lost without a failed close, and the mount recovers.
// Over TCP (TcpRelayLive): connections reset mid-call, a server that never answers, replies in
// many small fragments, a fragment announcing more than any buffer, idle connections closed by
// the server, a restart mid-write, and a portmapper that registers TCP alone.
#include "live/faultRelay.h"
#include "live/nfs3FileLive.h"
#include "live/tcpFaultRelay.h"
#include "server/scriptedServer.h"

#include "core/nfsConfig.h"
#include "rpc/nfsRpcStats.h"

#include <brisnel/nfsStatLib.h>

#include <kernel/hostLib.h>
#include <kernel/iosLib.h>

#include <chrono>
#include <map>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

namespace {

constexpr const char *kRelayAddress = "127.0.0.77";
constexpr const char *kRelayHost = "nfs-relay";
// The TCP relay's own address, with a scripted portmapper on it that registers TCP alone.
constexpr const char *kTcpRelayAddress = "127.0.0.78";
constexpr const char *kTcpRelayHost = "nfs-tcp-relay";
constexpr const char *kDev = "/relay8";
constexpr int kPiece = 4000;
constexpr int kTimeOutErrno = K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT;
// What a call may take beyond the module's time-out on this busy machine.
constexpr auto kSlack = std::chrono::milliseconds(1500);

using Clock = std::chrono::steady_clock;

std::vector<std::string> deviceNames()
{
    std::vector<std::string> names;
    for (DEV_HDR *dev = iosNextDevGet(nullptr); dev != nullptr; dev = iosNextDevGet(dev))
        names.emplace_back(dev->name);
    return names;
}

bool mounted()
{
    const char *tail = nullptr;
    const DEV_HDR *dev = iosDevFind(kDev, &tail);
    return dev != nullptr && std::strcmp(dev->name, kDev) == 0;
}

std::vector<char> readAll(int fd)
{
    std::vector<char> all;
    std::vector<char> buf(kPiece);
    int got = 0;
    while ((got = kRead(fd, buf.data(), kPiece)) > 0)
        all.insert(all.end(), buf.begin(), buf.begin() + got);
    EXPECT_EQ(got, 0) << std::hex << errnoGet();
    return all;
}

class RelayLive : public testing::Test {
protected:
    void SetUp() override
    {
        // Short intervals keep the scenarios short: a retransmission after 100 ms, 2 s per call.
        nfsReXmitSec = 0;
        nfsReXmitUSec = 100000;
        nfsTimeoutSec = 2;
        nfsTimeoutUSec = 0;
        startRelays();
        nfsAuthUnixSet(sysBootParams.hostName, 2001, 100, 0, nullptr);
        ASSERT_EQ(nfs3Drv(), 0);
        nfs3CacheParamsSet(16, 16384, 0);
        ASSERT_EQ(nfsMount(relayHost(), live::exportPath().c_str(), kDev), 0) << std::hex << errnoGet();
        // The suite's name too: a folder made afresh under a name the server has cached for a
        // folder removed behind its back is not found through it.
        const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::string("relay-") + test->test_suite_name() + "-" + test->name();
        std::filesystem::remove_all(host(""));
        std::filesystem::create_directory(host(""));
        ASSERT_EQ(::chown(host("").c_str(), 2001, 100), 0);
    }
    void TearDown() override
    {
        if (relay_)
            relay_->setPlan({});
        if (tcpRelay_)
            tcpRelay_->setPlan({});
        if (mounted()) {
            EXPECT_EQ(nfsUnmount(kDev), 0) << std::hex << errnoGet();
        }
        nfsClientClose();
        relay_.reset();
        tcpRelay_.reset();
        portmapper_.reset();
        nfs3CacheParamsSet(16, 16384, 0);
        nfsMaxInFlight = 4;
        nfsReXmitSec = 5;
        nfsReXmitUSec = 0;
        nfsTimeoutSec = 25;
        nfsTimeoutUSec = 0;
        std::error_code ignored;
        std::filesystem::remove_all(host(""), ignored);
    }

    std::string dev(const std::string &name) const { return std::string(kDev) + "/" + folder_ + "/" + name; }
    std::string host(const std::string &name) const { return live::exportDir() + "/" + folder_ + "/" + name; }
    std::vector<char> onServer(const std::string &name) const
    {
        std::ifstream in(host(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Writes, closes, checks the server's copy, reads back through the device.
    void roundTrip(const std::string &name, std::size_t size)
    {
        std::mt19937 random(static_cast<uint32_t>(size));
        const std::vector<char> bytes = filelive::randomBytes(size, random);
        const int fd = kOpen(dev(name).c_str(), K_O_CREAT | K_O_TRUNC | K_O_RDWR, 0644);
        ASSERT_GE(fd, 0) << std::hex << errnoGet();
        for (std::size_t at = 0; at < size; at += kPiece) {
            const int piece = static_cast<int>(std::min<std::size_t>(kPiece, size - at));
            ASSERT_EQ(kWrite(fd, bytes.data() + at, piece), piece) << at << " " << std::hex << errnoGet();
        }
        ASSERT_EQ(kClose(fd), 0) << std::hex << errnoGet();
        EXPECT_TRUE(onServer(name) == bytes) << name << " on the server";
        const int reader = kOpen(dev(name).c_str(), K_O_RDONLY, 0);
        ASSERT_GE(reader, 0) << std::hex << errnoGet();
        EXPECT_TRUE(readAll(reader) == bytes) << name << " read back";
        EXPECT_EQ(kClose(reader), 0);
    }

    // Writes a file that outgrows the cache, the server killed and restarted three quarters
    // in; a close that succeeds vouches for every byte a write acknowledged. Each piece goes
    // to its own offset: a short count (the bytes before a failed write-back) moves no later
    // piece.
    void writeAcrossARestart(const std::string &name)
    {
        std::mt19937 random(4);
        const std::size_t size = 400000;
        const std::vector<char> bytes = filelive::randomBytes(size, random);
        const int fd = kOpen(dev(name).c_str(), K_O_CREAT | K_O_RDWR, 0644);
        ASSERT_GE(fd, 0) << std::hex << errnoGet();
        std::string newPid;
        std::thread restarter;
        std::vector<int> acknowledged;
        for (std::size_t at = 0; at < size; at += kPiece) {
            if (at == size / kPiece * 3 / 4 * kPiece) {
                killServer();
                restarter = std::thread([&newPid] { newPid = restartServer(); });
            }
            ASSERT_EQ(kLseek(fd, static_cast<long>(at), K_SEEK_SET), static_cast<long>(at));
            const Clock::time_point started = Clock::now();
            const int written = kWrite(fd, bytes.data() + at, kPiece);
            acknowledged.push_back(std::max(written, 0));
            if (written < 0) {
                expectFailedInTime(started);
            } else if (written < kPiece) {
                EXPECT_LT(Clock::now() - started, std::chrono::seconds(nfsTimeoutSec) + kSlack);
            }
        }
        restarter.join();
        ASSERT_GT(std::atoi(newPid.c_str()), 0) << "the server did not come back";
        setenv("RT_GANESHA_PID", newPid.c_str(), 1);
        if (kClose(fd) != 0)
            return; // the loss is reported
        const std::vector<char> held = onServer(name);
        for (std::size_t piece = 0; piece < acknowledged.size(); ++piece) {
            const auto at = static_cast<long>(piece * kPiece);
            const int count = acknowledged[piece];
            EXPECT_TRUE(held.size() >= static_cast<std::size_t>(at + count) &&
                        std::equal(bytes.begin() + at, bytes.begin() + at + count, held.begin() + at))
                << count << " acknowledged bytes at " << at << " lost though the close succeeded";
        }
    }

    // Kills the server as a crash would and waits until it is gone, so that the writes after
    // this meet no server.
    static void killServer()
    {
        const pid_t pid = std::atoi(live::env("RT_GANESHA_PID").c_str());
        ASSERT_GT(pid, 0);
        ASSERT_EQ(kill(pid, SIGKILL), 0);
        const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
        for (int i = 0; i < 200; ++i) {
            std::ifstream in(stat);
            std::string line;
            if (!std::getline(in, line) || line.find(") Z") != std::string::npos)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ADD_FAILURE() << "the server outlived SIGKILL";
    }

    // Starts the server again (killing it first if it still runs); its new pid.
    static std::string restartServer()
    {
        std::unique_ptr<FILE, int (*)(FILE *)> out(popen(live::env("RT_NFS_PEERS_RESTART").c_str(), "r"),
                                                   pclose);
        std::array<char, 32> line{};
        if (!out || std::fgets(line.data(), line.size(), out.get()) == nullptr)
            return "";
        return line.data();
    }

    // A call that fails must fail with the time-out, and within it.
    static void expectTimedOut(int result, Clock::time_point started)
    {
        EXPECT_EQ(result, -1);
        EXPECT_EQ(errnoGet(), kTimeOutErrno) << std::hex << errnoGet();
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(nfsTimeoutSec) + kSlack);
    }

    // A write that meets a dead server fails within the time-out: by it, or sooner where the
    // server's host refuses the connection.
    static void expectFailedInTime(Clock::time_point started)
    {
        EXPECT_TRUE(errnoGet() == kTimeOutErrno || errnoGet() == ECONNREFUSED) << std::hex << errnoGet();
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(nfsTimeoutSec) + kSlack);
    }

    static uint16_t mountPort()
    {
        return static_cast<uint16_t>(std::atoi(live::env("RT_NFS_MOUNT_PORT").c_str()));
    }

    virtual const char *relayHost() const { return kRelayHost; }
    virtual void startRelays()
    {
        hostAdd(kRelayHost, kRelayAddress);
        std::string error;
        relay_ = live::FaultRelay::start(kRelayAddress, live::host(), {111, 2049, mountPort()}, 8, &error);
        ASSERT_NE(relay_, nullptr) << error;
    }

    // Lines of 64 KiB: each fill and write-back is eight READs or WRITEs of 8 KiB.
    void remountWithWideLines(int32_t window)
    {
        ASSERT_EQ(nfsUnmount(kDev), 0) << std::hex << errnoGet();
        nfs3CacheParamsSet(16, 65536, 0);
        ASSERT_EQ(nfsMount(relayHost(), live::exportPath().c_str(), kDev), 0) << std::hex << errnoGet();
        nfsMaxInFlight = window;
    }

    std::unique_ptr<live::FaultRelay> relay_; // UDP
    std::unique_ptr<live::TcpFaultRelay> tcpRelay_;
    std::unique_ptr<scripted::ScriptedServer> portmapper_;
    std::string folder_;
};

// The same device over TCP, with the default word: a scripted portmapper on the relay's
// address registers MOUNT and NFS over TCP alone (asked for UDP first, it names TCP ports),
// and every MOUNT and NFS call goes through the TCP relay to the real server. The server need
// not offer UDP.
class TcpRelayLive : public RelayLive {
protected:
    const char *relayHost() const override { return kTcpRelayHost; }
    void startRelays() override
    {
        hostAdd(kTcpRelayHost, kTcpRelayAddress);
        std::string error;
        portmapper_ = scripted::ScriptedServer::start({.address = kTcpRelayAddress}, &error);
        ASSERT_NE(portmapper_, nullptr) << error;
        portmapper_->setRegistrations(
            {{scripted::portmapperProgram, scripted::portmapperVersion, scripted::ipprotoUdp, 111},
             {MOUNT_PROGRAM, MOUNT_V3, scripted::ipprotoTcp, mountPort()},
             {NFS_PROGRAM, NFS_V3, scripted::ipprotoTcp, scripted::nfsPort}});
        tcpRelay_ = live::TcpFaultRelay::start(kTcpRelayAddress, live::host(), {2049, mountPort()}, &error);
        ASSERT_NE(tcpRelay_, nullptr) << error;
    }

    static NfsStatCounts tcpCounts()
    {
        NfsStatCounts counts{};
        EXPECT_EQ(nfsStatGet(IPPROTO_TCP, &counts), 0);
        return counts;
    }
};

TEST_F(RelayLive, LossDelayReorderAndDuplicatesCostNoCallAndNoByte)
{
    using std::chrono::milliseconds;
    const struct {
        const char *name;
        live::FaultPlan plan;
    } networks[] = {
        {"ten percent lost", {.loss = 0.1, .silentPorts = {}}},
        {"delayed and reordered", {.delay = milliseconds(5), .jitter = milliseconds(30), .silentPorts = {}}},
        {"delayed and duplicated", {.duplicate = 0.05, .delay = milliseconds(20), .silentPorts = {}}},
    };
    for (const auto &network : networks) {
        SCOPED_TRACE(network.name);
        const live::RelayCounts before = relay_->counts();
        relay_->setPlan(network.plan);
        roundTrip(network.name, 160000);
        const live::RelayCounts after = relay_->counts();
        EXPECT_TRUE(network.plan.loss == 0 || after.lost > before.lost);
        EXPECT_TRUE(network.plan.duplicate == 0 || after.duplicated > before.duplicated);
    }
    relay_->setPlan({});
    roundTrip("after", 40000);
}

// The default window and the largest over the same networks, with answers overtaking each
// other by up to 40 ms, and over a clean one with 0.5 ms each way: every byte arrives as
// written, each call matched to its own answer.
TEST_F(RelayLive, CallsInFlightThroughLossReorderAndDuplicatesCostNoByte)
{
    using std::chrono::microseconds;
    using std::chrono::milliseconds;
    const struct {
        const char *name;
        live::FaultPlan plan;
    } networks[] = {
        {"ten percent lost", {.loss = 0.1, .silentPorts = {}}},
        {"reordered", {.delay = milliseconds(1), .jitter = milliseconds(40), .silentPorts = {}}},
        {"delayed and duplicated", {.duplicate = 0.1, .delay = milliseconds(20), .silentPorts = {}}},
        {"all at once", {.loss = 0.05, .duplicate = 0.05, .jitter = milliseconds(20), .silentPorts = {}}},
        {"half a millisecond each way", {.delay = microseconds(500), .silentPorts = {}}},
    };
    const int32_t defaultWindow = nfsMaxInFlight;
    for (const int32_t window : {defaultWindow, int32_t{16}}) {
        remountWithWideLines(window);
        for (const auto &network : networks) {
            SCOPED_TRACE(std::string(network.name) + ", window " + std::to_string(window));
            relay_->setPlan(network.plan);
            roundTrip(network.name, 300000);
        }
    }
    // Lines of two transfers: written behind two at a time, read ahead a line at a time.
    ASSERT_EQ(nfsUnmount(kDev), 0) << std::hex << errnoGet();
    nfs3CacheParamsSet(16, 16384, 0);
    ASSERT_EQ(nfsMount(relayHost(), live::exportPath().c_str(), kDev), 0) << std::hex << errnoGet();
    nfsMaxInFlight = 4;
    for (const auto &network : networks) {
        SCOPED_TRACE(std::string(network.name) + ", behind and ahead");
        relay_->setPlan(network.plan);
        roundTrip(std::string(network.name) + "-ahead", 200000);
    }
    relay_->setPlan({});
    roundTrip("after", 70000);
}

// The window changes when the READs and WRITEs go, not which: the same calls with the same
// bytes whether one or eight are in flight.
TEST_F(RelayLive, AWindowSendsTheSameReadsAndWritesAsOneCallAtATime)
{
    nfsReXmitSec = 5; // no retransmission on a busy machine: every call is sent once
    struct Sent {
        uint64_t reads, readBytes, writes, writeBytes;
        bool operator==(const Sent &) const = default;
    };
    Sent sent[2]{};
    const int32_t windows[] = {1, 8};
    for (int i = 0; i < 2; ++i) {
        remountWithWideLines(windows[i]);
        nfsStatZero();
        roundTrip("same-" + std::to_string(windows[i]), 300000);
        const NfsStatSlot &read = nfsStatSlot(IPPROTO_UDP, NFS_PROGRAM, NFS_V3, NFSPROC3_READ);
        const NfsStatSlot &write = nfsStatSlot(IPPROTO_UDP, NFS_PROGRAM, NFS_V3, NFSPROC3_WRITE);
        EXPECT_EQ(read.retransmissions.value() + write.retransmissions.value(), 0u);
        sent[i] = {read.calls.value(), read.bytesSent.value(), write.calls.value(), write.bytesSent.value()};
    }
    EXPECT_GT(sent[0].reads, 10u);
    EXPECT_GT(sent[0].writes, 30u);
    EXPECT_TRUE(sent[0] == sent[1]) << sent[0].reads << " " << sent[0].writes << " / " << sent[1].reads << " "
                                    << sent[1].writes;
}

// The line written before the pause must survive the failed write-back: the sync after the
// pause sends it, and the close reports success only when the server holds it.
TEST_F(RelayLive, ServerPausedPastTheTimeOutFailsInTimeAndRecovers)
{
    std::mt19937 random(3);
    const std::vector<char> bytes = filelive::randomBytes(20000, random);
    const int fd = kOpen(dev("paused").c_str(), K_O_CREAT | K_O_RDWR, 0644);
    ASSERT_GE(fd, 0) << std::hex << errnoGet();
    ASSERT_EQ(kWrite(fd, bytes.data(), 20000), 20000);
    {
        live::PeerPaused paused("RT_GANESHA_PID");
        kstat status{};
        Clock::time_point started = Clock::now();
        expectTimedOut(kStat(dev("another").c_str(), &status), started);
        started = Clock::now();
        expectTimedOut(kIoctl(fd, K_FIOSYNC, 0), started);
    }
    EXPECT_GE(kIoctl(fd, K_FIOSYNC, 0), 0) << std::hex << errnoGet();
    EXPECT_EQ(kClose(fd), 0) << std::hex << errnoGet();
    EXPECT_TRUE(onServer("paused") == bytes);
    roundTrip("after", 40000);
}

// The server is killed while writes go out (each write in write-through mode; the evictions
// of a full cache in write-back mode) and started again at once.
TEST_F(RelayLive, ServerKilledAndRestartedMidWriteLosesNothingAcknowledged)
{
    for (const int options : {0, 1}) {
        SCOPED_TRACE(options == 0 ? "write-back" : "write-through");
        ASSERT_EQ(nfsUnmount(kDev), 0) << std::hex << errnoGet();
        nfs3CacheParamsSet(16, 16384, options);
        ASSERT_EQ(nfsMount(relayHost(), live::exportPath().c_str(), kDev), 0) << std::hex << errnoGet();
        writeAcrossARestart("restarted-" + std::to_string(options));
    }
    nfs3CacheParamsSet(16, 16384, 0);
    roundTrip("after", 40000);
}

// Unmounting while the server cannot be told: the device stays where it is and keeps working
// during the attempt and after it; the force routine removes it; the mount comes back with
// the portmapper.
TEST_F(RelayLive, PortmapperGoneKeepsTheDeviceInPlaceUntilForced)
{
    roundTrip("before", 20000);
    relay_->setPlan({.silentPorts = {111}});
    nfsClientClose();
    roundTrip("without-portmapper", 20000); // a new handle finds the NFS port by itself

    const std::vector<std::string> order = deviceNames();
    int unmounted = 0;
    int unmountErrno = 0;
    std::thread unmounter([&] {
        unmounted = nfsUnmount(kDev);
        unmountErrno = errnoGet();
        nfsClientClose();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kstat status{};
    EXPECT_EQ(kStat(dev("before").c_str(), &status), 0) << "paths resolve while the server is told";
    unmounter.join();
    EXPECT_EQ(unmounted, -1);
    EXPECT_EQ(unmountErrno, K_RPC_CLNT_ERRNO_BASE | RPC_PROGUNAVAIL) << std::hex << unmountErrno;
    EXPECT_EQ(deviceNames(), order) << "the device stays where it was";
    roundTrip("after-failed-unmount", 20000);

    EXPECT_EQ(nfsUnmountForce(kDev), 0) << std::hex << errnoGet();
    EXPECT_FALSE(mounted());
    EXPECT_EQ(nfsMount(kRelayHost, live::exportPath().c_str(), kDev), -1) << "no portmapper, no mount";

    relay_->setPlan({});
    ASSERT_EQ(nfsMount(kRelayHost, live::exportPath().c_str(), kDev), 0) << std::hex << errnoGet();
    roundTrip("remounted", 20000);
}

// Answers cut into fragments of 1 to 1000 bytes, each sent on its own, and answers preceded by
// a whole record of another call: every byte arrives as written, with no time-out.
TEST_F(TcpRelayLive, SmallFragmentsAndForeignAnswersCostNoByte)
{
    const struct {
        const char *name;
        live::TcpFaultPlan plan;
        std::size_t size;
    } streams[] = {
        {"fragments of 1 byte", {.fragmentBytes = 1}, 20000},
        {"fragments of 5 bytes", {.fragmentBytes = 5}, 100000},
        {"fragments of 1000 bytes", {.fragmentBytes = 1000}, 100000},
        {"foreign answers first", {.foreignFirst = true}, 100000},
        {"foreign answers, then fragments", {.fragmentBytes = 7, .foreignFirst = true}, 60000},
    };
    // One segment per byte costs time, not bytes: under an emulator 2 s per call is too short.
    nfsTimeoutSec = 10;
    const NfsStatCounts before = tcpCounts();
    for (const auto &stream : streams) {
        SCOPED_TRACE(stream.name);
        tcpRelay_->setPlan(stream.plan);
        roundTrip(stream.name, stream.size);
    }
    EXPECT_EQ(nfsRpcClientCurrent()->transport, IPPROTO_TCP);
    EXPECT_EQ(tcpCounts().timeouts, before.timeouts);
    EXPECT_EQ(tcpCounts().reconnects, before.reconnects);
}

// Each call whose connection is reset after the server took it goes out again on a new
// connection with the same transaction id, and completes within the call.
// With several calls in flight every call of the broken connection still unanswered goes
// again: at least one per reset.
TEST_F(TcpRelayLive, ConnectionsResetMidCallAreReopenedAndTheCallSentAgainAsItWas)
{
    for (const int32_t window : {1, 4}) {
        SCOPED_TRACE(window);
        nfsMaxInFlight = window;
        const NfsStatCounts before = tcpCounts();
        const unsigned connections = tcpRelay_->connections();
        const unsigned resets = tcpRelay_->resets();
        const std::size_t seen = tcpRelay_->calls().size();
        tcpRelay_->setPlan({.resetCalls = 4});
        roundTrip("reset-" + std::to_string(window), 60000);
        EXPECT_EQ(tcpRelay_->resets(), resets + 4u);
        EXPECT_GE(tcpRelay_->connections(), connections + 4);
        EXPECT_GE(tcpCounts().reconnects, before.reconnects + 4);
        // Every reset call is seen again, on a later connection, with its transaction id (a call
        // sent again may be reset again: the resets go to the next calls whichever they are).
        std::map<uint32_t, unsigned> lastConnection;
        unsigned resent = 0;
        const std::vector<live::TcpRelayCall> calls = tcpRelay_->calls();
        for (std::size_t i = seen; i < calls.size(); ++i) {
            const live::TcpRelayCall &call = calls[i];
            const auto earlier = lastConnection.find(call.xid);
            if (earlier != lastConnection.end()) {
                EXPECT_GT(call.connection, earlier->second);
                ++resent;
            }
            lastConnection[call.xid] = call.connection;
        }
        if (window == 1)
            EXPECT_EQ(resent, 4u);
        else
            EXPECT_GE(resent, 4u);
    }
}

// Tasks calling one server share one connection, their calls in flight on it together; a
// reset while they wait is mended by one new connection for all of them, each call sent again.
TEST_F(TcpRelayLive, TasksShareOneConnectionAndOneReconnectionServesThemAll)
{
    roundTrip("before", 20000); // this task's handle holds the channel open
    const NfsStatCounts before = tcpCounts();
    const unsigned connections = tcpRelay_->connections();
    const unsigned resets = tcpRelay_->resets();
    tcpRelay_->setPlan({.resetCalls = 1, .delay = std::chrono::milliseconds(20)});
    std::vector<std::thread> tasks;
    for (int i = 0; i < 3; ++i)
        tasks.emplace_back([this, i] { roundTrip("task" + std::to_string(i), 100000); });
    for (std::thread &task : tasks)
        task.join();
    EXPECT_EQ(tcpRelay_->resets(), resets + 1);
    EXPECT_EQ(tcpRelay_->connections(), connections + 1) << "one connection opened again for every task";
    EXPECT_EQ(tcpCounts().reconnects, before.reconnects + 1);
    EXPECT_EQ(tcpCounts().timeouts, before.timeouts);
}

// A mounted device keeps its server's connection open between the tasks that use it: a task
// that closed its handle, or ended, costs the next one no new connection.
TEST_F(TcpRelayLive, TheDeviceKeepsItsConnectionFromTaskToTask)
{
    roundTrip("before", 20000);
    nfsClientClose();
    const unsigned connections = tcpRelay_->connections();
    for (const char *name : {"second-task", "third-task"})
        std::thread([this, name] { roundTrip(name, 20000); }).join();
    EXPECT_EQ(tcpRelay_->connections(), connections);
}

// A server that takes connections and calls but never answers: the call ends with the
// time-out, in time, and the next call works on a new connection.
TEST_F(TcpRelayLive, ServerThatAcceptsAndNeverAnswersTimesOutInTime)
{
    roundTrip("before", 20000);
    tcpRelay_->setPlan({.silent = true});
    kstat status{};
    const Clock::time_point started = Clock::now();
    expectTimedOut(kStat(dev("before").c_str(), &status), started);
    EXPECT_GE(Clock::now() - started, std::chrono::seconds(nfsTimeoutSec));
    tcpRelay_->setPlan({});
    roundTrip("after", 20000);
}

// An answer whose fragment header announces 2^31 - 1 bytes fails its call at once, without a
// byte taken beyond the buffer; the next call starts on a new connection.
TEST_F(TcpRelayLive, FragmentHeaderAnnouncingMoreThanTheBufferFailsTheCall)
{
    roundTrip("before", 20000);
    const unsigned connections = tcpRelay_->connections();
    tcpRelay_->setPlan({.oversizeNextReply = true});
    kstat status{};
    const Clock::time_point started = Clock::now();
    EXPECT_EQ(kStat(dev("before").c_str(), &status), -1);
    EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | RPC_CANTRECV) << std::hex << errnoGet();
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(nfsTimeoutSec));
    EXPECT_EQ(kStat(dev("before").c_str(), &status), 0) << std::hex << errnoGet();
    EXPECT_GT(tcpRelay_->connections(), connections);
    roundTrip("after", 20000);
}

// The server closes the connection while the handle lies idle: the next call opens a new one
// without a failure or a wait.
TEST_F(TcpRelayLive, IdleConnectionClosedByTheServerIsReopenedSilently)
{
    roundTrip("before", 20000);
    const NfsStatCounts before = tcpCounts();
    const std::string socket = live::currentSocket();
    tcpRelay_->closeAll();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kstat status{};
    const Clock::time_point started = Clock::now();
    EXPECT_EQ(kStat(dev("before").c_str(), &status), 0) << std::hex << errnoGet();
    EXPECT_LT(Clock::now() - started, std::chrono::seconds(1));
    EXPECT_EQ(tcpCounts().reconnects, before.reconnects + 1);
    EXPECT_EQ(tcpCounts().timeouts, before.timeouts);
    EXPECT_NE(live::currentSocket(), socket) << "a new connection";
    roundTrip("after", 20000);
}

TEST_F(TcpRelayLive, ServerKilledAndRestartedMidWriteLosesNothingAcknowledged)
{
    ASSERT_EQ(nfsUnmount(kDev), 0) << std::hex << errnoGet();
    nfs3CacheParamsSet(16, 16384, NFS_CACHE_WRITE_THROUGH);
    ASSERT_EQ(nfsMount(relayHost(), live::exportPath().c_str(), kDev), 0) << std::hex << errnoGet();
    const NfsStatCounts before = tcpCounts();
    writeAcrossARestart("restarted");
    EXPECT_GT(tcpCounts().reconnects, before.reconnects);
    nfs3CacheParamsSet(16, 16384, 0);
    roundTrip("after", 40000);
    EXPECT_EQ(nfsRpcClientCurrent()->transport, IPPROTO_TCP);
}

// The fixture's portmapper registers TCP alone: with the default word the client asked it for
// the UDP port first, then took TCP by itself.
TEST_F(TcpRelayLive, PortmapperWithOnlyTcpRegistrationsLeadsToTcp)
{
    roundTrip("tcp-only", 40000);
    EXPECT_EQ(nfsTransport, NFS_TRANSPORT_UDP_WHERE_OFFERED);
    EXPECT_EQ(nfsRpcClientCurrent()->transport, IPPROTO_TCP);
    EXPECT_GE(portmapper_->portmapperCallCount(scripted::pmapProcGetPort), 4u)
        << "UDP, then TCP, for MOUNT and NFS";
    EXPECT_GE(tcpRelay_->calls().size(), 3u);
}

} // namespace
