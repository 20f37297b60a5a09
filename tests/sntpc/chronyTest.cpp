// Against chrony on loopback, started by with-chrony.sh: its server replies and its version 4
// broadcasts.
#include <kernel/errnoLib.h>
#include <kernel/sysLib.h>
#include <tovelle/sntpcLib.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

constexpr uint32_t kFiveSecondsAt60 = 300;
constexpr int64_t kNsPerSecond = 1000000000;
constexpr int64_t kFiftyMs = 50000000;
constexpr int64_t kOneMs = 1000000;
constexpr unsigned kChronyStratum = 8; // "local stratum 8" in the wrapper's configuration

uint16_t portFromEnvironment(const char *name)
{
    const char *value = std::getenv(name);
    return value == nullptr ? 0 : static_cast<uint16_t>(std::stoul(value));
}

class Chrony : public ::testing::Test {
protected:
    void SetUp() override
    {
        serverPort = portFromEnvironment("SNTPC_CHRONY_PORT");
        broadcastPort = portFromEnvironment("SNTPC_CHRONY_BROADCAST_PORT");
        unsyncPort = portFromEnvironment("SNTPC_CHRONY_UNSYNC_PORT");
        if (serverPort == 0 || broadcastPort == 0)
            GTEST_SKIP() << "no chrony: run through tests/peers/with-chrony.sh";
        ASSERT_EQ(sysClkRateSet(60), 0);
    }
    void TearDown() override
    {
        sntpcInit(123, nullptr);
        sntpcVersion = 1;
    }

    uint16_t serverPort = 0;
    uint16_t broadcastPort = 0;
    uint16_t unsyncPort = 0;
};

int64_t nanoseconds(const timespec &time)
{
    return static_cast<int64_t>(time.tv_sec) * kNsPerSecond + time.tv_nsec;
}

// chrony serves the host's own clock: the answer, the server's time at the moment of return,
// lies between the host's clock read before and after the call, to within a millisecond.
TEST_F(Chrony, ServerModeGivesTheSystemTimeAndServerInformation)
{
    ASSERT_EQ(sntpcInit(serverPort, nullptr), 0);
    timespec before{};
    timespec answer{};
    timespec after{};
    std::array<unsigned char, 3> info{0x55, 0x55, 0x55};
    clock_gettime(CLOCK_REALTIME, &before);
    ASSERT_EQ(mSntpcTimeGet("127.0.0.1", kFiveSecondsAt60, &answer, nullptr, info.data()), 0)
        << std::hex << errnoGet();
    clock_gettime(CLOCK_REALTIME, &after);

    EXPECT_GE(nanoseconds(answer), nanoseconds(before) - kOneMs);
    EXPECT_LE(nanoseconds(answer), nanoseconds(after) + kOneMs);
    timespec roundTrip{};
    ASSERT_EQ(sntpcRoundTripGet(&roundTrip), 0);
    EXPECT_GT(nanoseconds(roundTrip), 0);
    EXPECT_LE(nanoseconds(roundTrip), nanoseconds(after) - nanoseconds(before));
    EXPECT_GE(answer.tv_nsec, 0);
    EXPECT_LT(answer.tv_nsec, kNsPerSecond);
    EXPECT_EQ(info[0], kChronyStratum);
    EXPECT_LE(info[1], 17); // poll interval, log2 seconds
    const auto precision = static_cast<signed char>(info[2]);
    EXPECT_LT(precision, 0); // a clock finer than a second
    EXPECT_GT(precision, -32);
}

// chrony answers requests of version 1 and of version 4.
TEST_F(Chrony, TimeGetWithAServerNameAgrees)
{
    ASSERT_EQ(sntpcInit(serverPort, nullptr), 0);
    for (const uint32_t version : {1u, 4u}) {
        sntpcVersion = version;
        timespec answer{};
        timespec now{};
        ASSERT_EQ(sntpcTimeGet("localhost", kFiveSecondsAt60, &answer), 0) << std::hex << errnoGet();
        clock_gettime(CLOCK_REALTIME, &now);
        EXPECT_LE(std::llabs(nanoseconds(answer) - nanoseconds(now)), kFiftyMs) << version;
    }
}

// Its broadcasts are version 4, sent once a second.
TEST_F(Chrony, ListenModeTakesItsVersionFourBroadcast)
{
    ASSERT_EQ(sntpcInit(broadcastPort, nullptr), 0);
    timespec before{};
    timespec answer{};
    timespec after{};
    std::array<unsigned char, 3> info{0x55, 0x55, 0x55};
    clock_gettime(CLOCK_REALTIME, &before);
    ASSERT_EQ(mSntpcTimeGet(nullptr, kFiveSecondsAt60, &answer, nullptr, info.data()), 0)
        << std::hex << errnoGet();
    clock_gettime(CLOCK_REALTIME, &after);
    EXPECT_GE(nanoseconds(answer), nanoseconds(before) - kFiftyMs);
    EXPECT_LE(nanoseconds(answer), nanoseconds(after) + kFiftyMs);
    EXPECT_EQ(info[0], kChronyStratum);
}

// chrony with no time source answers with leap indicator 3, stratum 0 and a zero reference
// identifier: refused for its stratum, with an empty kiss code.
TEST_F(Chrony, AnUnsynchronisedServerIsRefusedForStratumZero)
{
    if (unsyncPort == 0)
        GTEST_SKIP() << "no unsynchronised chrony beside the other";
    ASSERT_EQ(sntpcInit(unsyncPort, nullptr), 0);
    timespec answer{};
    answer.tv_sec = 11;
    errnoSet(0);
    EXPECT_EQ(sntpcTimeGet("127.0.0.1", kFiveSecondsAt60, &answer), -1);
    EXPECT_EQ(errnoGet(), SNTPC_ERR_KISS_OF_DEATH);
    EXPECT_EQ(answer.tv_sec, 11);
    std::array<char, SNTPC_KISS_CODE_LEN> code{'x', 'x', 'x', 'x', 'x'};
    ASSERT_EQ(sntpcKissCodeGet(code.data()), 0);
    EXPECT_EQ(code, (std::array<char, SNTPC_KISS_CODE_LEN>{}));
}

} // namespace
