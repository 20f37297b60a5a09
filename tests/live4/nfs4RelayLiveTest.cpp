// A version 4 device reached through the TCP fault relay in front of port 2049 (the only port a
// version-4-only server has): connections reset after the server took a call (the call goes
// again on a new connection, a duplicate for the server), answers cut into small fragments or
// preceded by other calls' records, connections closed while idle, latency each way. Over 4.1
// and 4.0, every byte written checked in the exported folder and read back through the device.
#include "live/liveServer.h"
#include "live/tcpFaultRelay.h"

#include <brisnel/nfs4Drv.h>
#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsMountLib.h>
#include <kernel/bootLib.h>
#include <kernel/errnoLib.h>
#include <kernel/hostLib.h>
#include <kernel/ioLib.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr const char *kRelayAddress = "127.0.0.79";
constexpr const char *kRelayHost = "nfs4-tcp-relay";
constexpr const char *kDev = "/r4";

class Nfs4RelayLive : public testing::TestWithParam<const char *> {
protected:
    void SetUp() override
    {
        hostAdd(kRelayHost, kRelayAddress);
        std::string error;
        relay_ = live::TcpFaultRelay::start(kRelayAddress, live::host(), {2049}, &error);
        ASSERT_NE(relay_, nullptr) << error;
        nfsAuthUnixSet(sysBootParams.hostName, 2001, 100, 0, nullptr);
        ASSERT_EQ(nfs4Drv(), 0);
        nfs3CacheParamsSet(16, 16384, 0); // the start-up geometry, fitted by the mount
        nfsTimeoutSec = 10;
        folder_ = std::string("r4-") + (GetParam()[7] == '1' ? "41-" : "40-") +
                  testing::UnitTest::GetInstance()->current_test_info()->name();
        folder_.resize(folder_.find('/') == std::string::npos ? folder_.size() : folder_.find('/'));
        std::filesystem::remove_all(host(""));
        std::filesystem::create_directory(host(""));
        ASSERT_EQ(::chown(host("").c_str(), 2001, 100), 0);
        ASSERT_EQ(nfsMountOpt(kRelayHost, live::env("RT_NFS_V4_EXPORT").c_str(), kDev, GetParam()), 0)
            << std::hex << errnoGet();
    }
    void TearDown() override
    {
        if (relay_)
            relay_->setPlan({});
        EXPECT_EQ(nfsUnmount(kDev), 0) << std::hex << errnoGet();
        nfsClientClose();
        relay_.reset();
        nfsTimeoutSec = 25;
        std::error_code ignored;
        std::filesystem::remove_all(host(""), ignored);
    }

    std::string dev(const std::string &name) const { return std::string(kDev) + "/" + folder_ + "/" + name; }
    std::string host(const std::string &name) const
    {
        return live::exportDir() + "/" + folder_ + (name.empty() ? "" : "/" + name);
    }
    std::vector<char> onServer(const std::string &name) const
    {
        std::ifstream in(host(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    // Written in pieces of 50,000 bytes and closed, checked on the server, read back whole.
    void roundTrip(const std::string &name, std::size_t size, unsigned seed)
    {
        std::mt19937 random(seed);
        std::vector<char> bytes(size);
        std::generate(bytes.begin(), bytes.end(), [&random] { return static_cast<char>(random()); });
        const int fd = kOpen(dev(name).c_str(), K_O_CREAT | K_O_TRUNC | K_O_RDWR, 0644);
        ASSERT_GE(fd, 0) << std::hex << errnoGet();
        for (std::size_t at = 0; at < size; at += 50000) {
            const int piece = static_cast<int>(std::min<std::size_t>(50000, size - at));
            ASSERT_EQ(kWrite(fd, bytes.data() + at, piece), piece) << at << " " << std::hex << errnoGet();
        }
        ASSERT_EQ(kClose(fd), 0) << std::hex << errnoGet();
        EXPECT_TRUE(onServer(name) == bytes) << name << " on the server";
        const int reader = kOpen(dev(name).c_str(), K_O_RDONLY, 0);
        ASSERT_GE(reader, 0) << std::hex << errnoGet();
        std::vector<char> back;
        std::vector<char> buf(65536);
        for (int got = 0; (got = kRead(reader, buf.data(), static_cast<int>(buf.size()))) > 0;)
            back.insert(back.end(), buf.begin(), buf.begin() + got);
        EXPECT_EQ(kClose(reader), 0);
        EXPECT_TRUE(back == bytes) << name << " read back";
    }

    std::unique_ptr<live::TcpFaultRelay> relay_;
    std::string folder_;
};

// Each plan in force for one file written and read; resets must have happened where asked.
TEST_P(Nfs4RelayLive, FaultsOnTheConnectionCostNoByte)
{
    const struct {
        const char *name;
        live::TcpFaultPlan plan;
        std::size_t size;
    } faults[] = {
        {"calls reset after the server took them", {.resetCalls = 3}, 3000000},
        {"answers in fragments of 7 bytes", {.fragmentBytes = 7}, 200000},
        {"foreign answers first", {.foreignFirst = true}, 2000000},
        {"1 ms each way", {.delay = std::chrono::milliseconds(1)}, 3000000},
    };
    unsigned seed = 1;
    for (const auto &fault : faults) {
        SCOPED_TRACE(fault.name);
        const unsigned resetsBefore = relay_->resets();
        relay_->setPlan(fault.plan);
        roundTrip("f" + std::to_string(seed), fault.size, seed);
        relay_->setPlan({});
        if (fault.plan.resetCalls > 0) {
            EXPECT_EQ(relay_->resets() - resetsBefore, fault.plan.resetCalls);
        }
        ++seed;
    }
}

// Connections the server side closes while the device is idle (a file open across it): the
// next calls open a new one, and nothing is lost.
TEST_P(Nfs4RelayLive, ConnectionsClosedWhileIdleAreOpenedAgain)
{
    const unsigned before = relay_->connections();
    const int fd = kOpen(dev("kept").c_str(), K_O_CREAT | K_O_RDWR, 0644);
    ASSERT_GE(fd, 0) << std::hex << errnoGet();
    ASSERT_EQ(kWrite(fd, "before the close,", 17), 17);
    ASSERT_GE(kIoctl(fd, K_FIOSYNC, 0), 0) << std::hex << errnoGet();
    relay_->closeAll();
    ASSERT_EQ(kWrite(fd, " after it", 9), 9);
    EXPECT_EQ(kClose(fd), 0) << std::hex << errnoGet();
    EXPECT_GT(relay_->connections(), before);
    const std::string expected = "before the close, after it";
    EXPECT_EQ(onServer("kept"), std::vector<char>(expected.begin(), expected.end()));
    roundTrip("after", 300000, 9);
}

INSTANTIATE_TEST_SUITE_P(Minors, Nfs4RelayLive, testing::Values("vers=4.1", "vers=4.0"),
                         [](const testing::TestParamInfo<const char *> &minor) {
                             return std::string(minor.param[7] == '1' ? "v41" : "v40");
                         });

} // namespace
