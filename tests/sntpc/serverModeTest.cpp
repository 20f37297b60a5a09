// Server mode against a scripted responder on loopback: what is sent, what is taken from the
// reply, and how each refusal leaves the caller's buffers.
#include "sntpPeers.h"

#include <kernel/errnoLib.h>
#include <kernel/hostLib.h>
#include <kernel/sysLib.h>
#include <tovelle/sntpcLib.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>

namespace {

using sntptest::firstByte;
using sntptest::packet;

constexpr uint32_t kTwoSecondsAt60 = 120;
constexpr uint32_t kNtpEpoch = 0x83AA7E80;

class ServerMode : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(sysClkRateSet(60), 0);
        ASSERT_EQ(sntpcInit(responder.port(), nullptr), 0);
        marker.tv_sec = 11;
        marker.tv_nsec = 22;
    }
    void TearDown() override { sntpcInit(123, nullptr); }

    // One query; on failure checks that the result and the server information were untouched.
    int query(uint32_t timeout = kTwoSecondsAt60)
    {
        result = marker;
        info = {0x55, 0x55, 0x55};
        errnoSet(0);
        const int status = mSntpcTimeGet("127.0.0.1", timeout, &result, nullptr, info.data());
        error = errnoGet();
        if (status != 0) {
            EXPECT_EQ(result.tv_sec, marker.tv_sec);
            EXPECT_EQ(result.tv_nsec, marker.tv_nsec);
            EXPECT_EQ(info, (std::array<unsigned char, 3>{0x55, 0x55, 0x55}));
        }
        return status;
    }

    sntptest::Responder responder;
    timespec marker{};
    timespec result{};
    std::array<unsigned char, 3> info{};
    int error = 0;
};

TEST_F(ServerMode, SendsOneVersionOneClientRequestAndConvertsTheReply)
{
    responder.reply(packet(firstByte(0, 1, 4), kNtpEpoch + 1000000, 0x40000000, 3, 7, 0xE7));
    ASSERT_EQ(query(), 0);
    EXPECT_EQ(result.tv_sec, 1000000);
    EXPECT_EQ(result.tv_nsec, 249999970);
    EXPECT_EQ(info, (std::array<unsigned char, 3>{3, 7, 0xE7}));

    const auto requests = responder.received();
    ASSERT_EQ(requests.size(), 1u);
    sntptest::Bytes expected(48, 0);
    expected[0] = 0x0B;
    EXPECT_EQ(requests[0], expected);
}

TEST_F(ServerMode, ConvertsTheEpochAndWrappedTimestamps)
{
    const std::pair<uint32_t, time_t> cases[] = {
        {kNtpEpoch, 0}, {0x80000000, 0xFC558180}, {1, 2085978497}};
    for (const auto &[transmit, since1970] : cases) {
        responder.reply(packet(firstByte(0, 3, 4), transmit, 0));
        ASSERT_EQ(query(), 0);
        EXPECT_EQ(result.tv_sec, since1970);
        EXPECT_EQ(result.tv_nsec, 0);
    }
}

TEST_F(ServerMode, RefusesAnUnsynchronisedServerAndAZeroTimestamp)
{
    responder.reply(packet(firstByte(3, 3, 4), kNtpEpoch + 5, 0));
    EXPECT_EQ(query(), -1);
    EXPECT_EQ(error, SNTPC_ERR_SERVER_UNSYNC);
    responder.reply(packet(firstByte(0, 3, 4), 0, 0x12345678));
    EXPECT_EQ(query(), -1);
    EXPECT_EQ(error, SNTPC_ERR_SERVER_UNSYNC);
    for (const unsigned leap : {1u, 2u}) {
        responder.reply(packet(firstByte(leap, 3, 4), kNtpEpoch + 5, 0));
        EXPECT_EQ(query(), 0) << leap;
    }
}

TEST_F(ServerMode, RefusesVersionsZeroAndFour)
{
    for (const unsigned version : {0u, 4u}) {
        responder.reply(packet(firstByte(0, version, 4), kNtpEpoch + 5, 0));
        EXPECT_EQ(query(), -1) << version;
        EXPECT_EQ(error, SNTPC_ERR_VERSION_UNSUPPORTED);
    }
}

TEST_F(ServerMode, ReportsStratumZero)
{
    responder.reply(packet(firstByte(0, 2, 4), kNtpEpoch + 5, 0, 0, 4, 0xF0));
    ASSERT_EQ(query(), 0);
    EXPECT_EQ(info, (std::array<unsigned char, 3>{0, 4, 0xF0}));
}

TEST_F(ServerMode, RefusesAShortReplyAndTakesTheHeadOfALongOne)
{
    sntptest::Bytes reply = packet(firstByte(0, 3, 4), kNtpEpoch + 9, 0);
    reply.resize(47);
    responder.reply(reply);
    EXPECT_EQ(query(), -1);
    EXPECT_EQ(error, SNTPC_ERR_SERVER_UNSYNC);

    reply = packet(firstByte(0, 3, 4), kNtpEpoch + 9, 0);
    reply.resize(68, 0xEE); // an extension or key field after the packet
    responder.reply(reply);
    ASSERT_EQ(query(), 0);
    EXPECT_EQ(result.tv_sec, 9);
}

TEST_F(ServerMode, TimeoutZeroPollsOnceAndGivesUp)
{
    responder.reply({}); // the responder stays silent
    EXPECT_EQ(query(0), -1);
    EXPECT_EQ(error, SNTPC_ERR_TIMEOUT);
}

TEST_F(ServerMode, TimeGetRefusesAnInvalidTimeoutBeforeAnySocket)
{
    responder.reply(packet(firstByte(0, 3, 4), kNtpEpoch + 5, 0));
    for (const uint32_t timeout : {0xFFFFFFFEu, 0x80000000u}) {
        errnoSet(0);
        EXPECT_EQ(sntpcTimeGet("127.0.0.1", timeout, &result), -1);
        EXPECT_EQ(errnoGet(), SNTPC_ERR_INVALID_PARAMETER);
    }
    errnoSet(0);
    EXPECT_EQ(sntpcTimeGet("127.0.0.1", kTwoSecondsAt60, nullptr), -1);
    EXPECT_EQ(errnoGet(), SNTPC_ERR_INVALID_PARAMETER);
    errnoSet(0);
    EXPECT_EQ(mSntpcTimeGet("127.0.0.1", kTwoSecondsAt60, nullptr, nullptr, info.data()), -1);
    EXPECT_EQ(errnoGet(), SNTPC_ERR_INVALID_PARAMETER);
    EXPECT_EQ(responder.requests(), 0);

    // The largest positive timeout and wait-for-ever are both accepted.
    result = marker;
    EXPECT_EQ(sntpcTimeGet("127.0.0.1", 0x7FFFFFFF, &result), 0);
    EXPECT_EQ(sntpcTimeGet("127.0.0.1", SNTPC_WAIT_FOREVER, &result), 0);
    EXPECT_EQ(result.tv_sec, 5);
}

TEST_F(ServerMode, MSntpcTimeGetTakesMinusTwoAsALongTimeout)
{
    responder.reply(packet(firstByte(0, 3, 4), kNtpEpoch + 5, 0));
    EXPECT_EQ(query(0xFFFFFFFE), 0);
    EXPECT_EQ(result.tv_sec, 5);
    EXPECT_EQ(responder.requests(), 1);
}

TEST_F(ServerMode, IgnoresTheInterfaceNameWhenAServerIsNamed)
{
    responder.reply(packet(firstByte(0, 3, 4), kNtpEpoch + 6, 0));
    EXPECT_EQ(mSntpcTimeGet("127.0.0.1", kTwoSecondsAt60, &result, "noSuchInterface0", nullptr), 0);
    EXPECT_EQ(result.tv_sec, 6);
}

TEST_F(ServerMode, ResolvesNamesThroughTheHostTable)
{
    responder.reply(packet(firstByte(0, 3, 4), kNtpEpoch + 7, 0));
    ASSERT_EQ(hostAdd("sntpScriptedPeer", "127.0.0.1"), 0);
    EXPECT_EQ(sntpcTimeGet("sntpScriptedPeer", kTwoSecondsAt60, &result), 0);
    EXPECT_EQ(result.tv_sec, 7);
    hostDelete("sntpScriptedPeer", "127.0.0.1");

    result = marker;
    errnoSet(0);
    EXPECT_EQ(sntpcTimeGet("no.such.host.invalid", kTwoSecondsAt60, &result), -1);
    EXPECT_EQ(errnoGet(), SNTPC_ERR_INVALID_ADDRESS);
    EXPECT_EQ(result.tv_sec, marker.tv_sec);
    EXPECT_EQ(sntpcTimeGet("300.1.2.3", kTwoSecondsAt60, &result), -1);
    EXPECT_EQ(errnoGet(), SNTPC_ERR_INVALID_ADDRESS);
}

TEST(SntpcInit, LoadingSetsPort123AndInitStoresThePort)
{
    // Every test puts the port back to 123, so this holds in any order.
    EXPECT_EQ(sntpcPort, 123);
    EXPECT_EQ(sntpcInit(4123, "ignored0"), 0);
    EXPECT_EQ(sntpcPort, 4123);
    sntpcLoadInit();
    EXPECT_EQ(sntpcPort, 123);
}

} // namespace
