// Listen mode against scripted announcers on loopback: plain listening on sntpcPort, joining
// 224.0.1.1 on the loopback interface, and the failures of the join.
#include "sntpPeers.h"

#include <kernel/errnoLib.h>
#include <kernel/sysLib.h>
#include <tovelle/sntpcLib.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

using sntptest::firstByte;
using sntptest::packet;

constexpr uint32_t kFiveSecondsAt60 = 300;
constexpr uint32_t kNtpEpoch = 0x83AA7E80;

class ListenMode : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(sysClkRateSet(60), 0);
        port = sntptest::freePort();
        ASSERT_EQ(sntpcInit(port, nullptr), 0);
        result.tv_sec = 11;
        result.tv_nsec = 22;
    }
    void TearDown() override { sntpcInit(123, nullptr); }

    uint16_t port = 0;
    timespec result{};
    std::array<unsigned char, 3> info{0x55, 0x55, 0x55};
};

TEST_F(ListenMode, TakesVersionThreeAndFourBroadcastsOnTheClientPort)
{
    for (const unsigned version : {3u, 4u}) {
        const sntptest::Announcer announcer("127.0.0.1", port,
                                            packet(firstByte(0, version, 5), kNtpEpoch + 4000, 0x80000000));
        ASSERT_EQ(sntpcTimeGet(nullptr, kFiveSecondsAt60, &result), 0) << version;
        // Taken as it stands: nothing was sent, so there is no round trip to add.
        EXPECT_EQ(result.tv_sec, 4000);
        EXPECT_EQ(result.tv_nsec, 499999950);
    }
}

TEST_F(ListenMode, RefusesAnnouncementsItCannotUse)
{
    const std::pair<sntptest::Bytes, int> cases[] = {
        {packet(firstByte(0, 5, 5), kNtpEpoch + 1, 0), SNTPC_ERR_VERSION_UNSUPPORTED},
        {packet(firstByte(0, 4, 5), kNtpEpoch + 1, 0, 0), SNTPC_ERR_KISS_OF_DEATH},
        {packet(firstByte(3, 3, 5), kNtpEpoch + 1, 0), SNTPC_ERR_SERVER_UNSYNC},
        {sntptest::Bytes(20, 0x1D), SNTPC_ERR_SERVER_UNSYNC},
    };
    for (const auto &[datagram, expected] : cases) {
        const sntptest::Announcer announcer("127.0.0.1", port, datagram);
        errnoSet(0);
        EXPECT_EQ(mSntpcTimeGet(nullptr, kFiveSecondsAt60, &result, nullptr, info.data()), -1);
        EXPECT_EQ(errnoGet(), expected);
        EXPECT_EQ(result.tv_sec, 11);
        EXPECT_EQ(info[0], 0x55);
    }
}

TEST_F(ListenMode, TimeoutZeroWithNothingWaitingFails)
{
    errnoSet(0);
    EXPECT_EQ(sntpcTimeGet(nullptr, 0, &result), -1);
    EXPECT_EQ(errnoGet(), SNTPC_ERR_TIMEOUT);
}

TEST_F(ListenMode, APortInUseFailsWithTheStacksError)
{
    sntptest::Responder holder; // keeps its port bound
    ASSERT_EQ(sntpcInit(holder.port(), nullptr), 0);
    errnoSet(0);
    EXPECT_EQ(sntpcTimeGet(nullptr, 0, &result), -1);
    EXPECT_EQ(errnoGet(), EADDRINUSE);
}

TEST_F(ListenMode, AnUnknownOrOverlongInterfaceFailsBeforeWaiting)
{
    const std::string overlong = "lo" + std::string(300, 'x');
    for (const std::string &name : {std::string("noSuchIf9"), overlong, std::string()}) {
        errnoSet(0);
        EXPECT_EQ(mSntpcTimeGet(nullptr, SNTPC_WAIT_FOREVER, &result, name.c_str(), nullptr), -1)
            << name.size();
        EXPECT_EQ(errnoGet(), ENODEV) << name.size();
        EXPECT_EQ(result.tv_sec, 11);
    }
}

TEST_F(ListenMode, JoinsTheNtpGroupOnTheNamedInterface)
{
    if (std::getenv("SNTPC_MULTICAST") == nullptr)
        GTEST_SKIP() << "loopback carries no multicast here; run through with-chrony.sh";
    const sntptest::Announcer announcer("224.0.1.1", port,
                                        packet(firstByte(0, 3, 5), kNtpEpoch + 77, 0x10000000, 1, 6, 0xEA));
    ASSERT_EQ(mSntpcTimeGet(nullptr, kFiveSecondsAt60, &result, "lo", info.data()), 0);
    EXPECT_EQ(result.tv_sec, 77);
    EXPECT_EQ(result.tv_nsec, 62499980);
    EXPECT_EQ(info, (std::array<unsigned char, 3>{1, 6, 0xEA}));
}

} // namespace
