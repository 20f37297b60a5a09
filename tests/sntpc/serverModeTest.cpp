// Server mode against a scripted responder on loopback: what is sent, what is taken from the
// reply, and how each refusal leaves the caller's buffers.
#include "sntpPeers.h"

#include <kernel/errnoLib.h>
#include <kernel/hostLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/sysLib.h>
#include <tovelle/sntpcLib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

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
    void TearDown() override
    {
        sntpcInit(123, nullptr);
        sntpcVersion = 1;
    }

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

    // The result less the half round trip that the client added: the server's transmit time.
    timespec transmitted() const
    {
        constexpr int64_t kNsPerSecond = 1000000000;
        timespec roundTrip{};
        EXPECT_EQ(sntpcRoundTripGet(&roundTrip), 0);
        const int64_t half = (roundTrip.tv_sec * kNsPerSecond + roundTrip.tv_nsec) / 2;
        const int64_t since1970 = result.tv_sec * kNsPerSecond + result.tv_nsec - half;
        timespec server{};
        server.tv_sec = static_cast<time_t>(since1970 / kNsPerSecond);
        server.tv_nsec = static_cast<long>(since1970 % kNsPerSecond);
        return server;
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
    EXPECT_EQ(transmitted().tv_sec, 1000000);
    EXPECT_EQ(transmitted().tv_nsec, 249999970);
    EXPECT_EQ(info, (std::array<unsigned char, 3>{3, 7, 0xE7}));

    // Zero but for byte 0 and a transmit timestamp that differs from request to request.
    ASSERT_EQ(query(), 0);
    const auto requests = responder.received();
    ASSERT_EQ(requests.size(), 2u);
    for (const sntptest::Bytes &request : requests) {
        ASSERT_EQ(request.size(), 48u);
        EXPECT_EQ(request[0], 0x0B);
        EXPECT_EQ(sntptest::Bytes(request.begin() + 1, request.begin() + 40), sntptest::Bytes(39, 0));
        EXPECT_NE(sntptest::transmitStamp(request), 0u);
    }
    EXPECT_NE(sntptest::transmitStamp(requests[0]), sntptest::transmitStamp(requests[1]));
}

TEST_F(ServerMode, RequestsCarryTheVersionWordAndRepliesOfAnyVersionAreTaken)
{
    responder.reply(packet(firstByte(0, 4, 4), kNtpEpoch + 5, 0));
    const std::pair<uint32_t, unsigned char> cases[] = {{4, 0x23}, {2, 0x13}, {1, 0x0B}};
    for (const auto &[version, byte0] : cases) {
        sntpcVersion = version;
        ASSERT_EQ(query(), 0) << version;
        EXPECT_EQ(responder.received().back()[0], byte0) << version;
    }
    // Out of range: refused before anything is sent; listen mode does not care.
    for (const uint32_t version : {0u, 5u, 0xFFFFFFFFu}) {
        sntpcVersion = version;
        EXPECT_EQ(query(), -1) << version;
        EXPECT_EQ(error, SNTPC_ERR_INVALID_PARAMETER);
        ASSERT_EQ(sntpcInit(sntptest::freePort(), nullptr), 0);
        EXPECT_EQ(sntpcTimeGet(nullptr, 0, &result), -1);
        EXPECT_EQ(errnoGet(), SNTPC_ERR_TIMEOUT);
        ASSERT_EQ(sntpcInit(responder.port(), nullptr), 0);
    }
    EXPECT_EQ(responder.requests(), 3);
}

// Only the reply that echoes the request's transmit timestamp is the answer: anything else is
// dropped and the wait goes on, to the timeout if nothing better comes.
TEST_F(ServerMode, DropsRepliesThatDoNotEchoTheRequest)
{
    constexpr uint32_t kHalfSecondAt60 = 30;
    const sntptest::Bytes forged = packet(firstByte(0, 3, 4), kNtpEpoch + 666, 0);
    const sntptest::Bytes genuine = packet(firstByte(0, 3, 4), kNtpEpoch + 42, 0);
    const sntptest::Reply forgeries[] = {
        {forged, false},                     // originate zero, as a naive forger sends
        {forged, true, 1},                   // the fraction's lowest bit wrong
        {forged, true, 0x8000000000000000u}, // the seconds' top bit wrong
        {forged, true, 0x00000000FFFFFFFFu}, // the seconds alone right
        {sntptest::Bytes(forged.begin(), forged.begin() + 20), false}, // too short to echo
    };
    for (const sntptest::Reply &forgery : forgeries) {
        responder.replies({forgery});
        EXPECT_EQ(query(kHalfSecondAt60), -1) << std::hex << forgery.originateFlip;
        EXPECT_EQ(error, SNTPC_ERR_TIMEOUT);

        responder.replies({forgery, forgery, {genuine}});
        ASSERT_EQ(query(), 0) << std::hex << forgery.originateFlip;
        EXPECT_EQ(result.tv_sec, 42);
    }
    // A refusable datagram that does not answer is dropped too, not refused.
    responder.replies({{packet(firstByte(3, 3, 4), kNtpEpoch + 1, 0), true, 2}, {genuine}});
    ASSERT_EQ(query(), 0);
    EXPECT_EQ(result.tv_sec, 42);
}

// The result is the server's transmit time plus half the round trip, less the hold the server
// reports when that fits in the round trip. The task reads that round trip back.
TEST_F(ServerMode, AddsHalfTheRoundTrip)
{
    constexpr int64_t kNsPerSecond = 1000000000;
    constexpr std::chrono::milliseconds kDelay(100);
    constexpr uint64_t kTransmit = uint64_t{kNtpEpoch + 1000} << 32 | 0x80000000;
    const std::pair<uint64_t, int64_t> cases[] = {
        {kTransmit - 0x0F5C28F6, 60000000},    // a hold of 60 ms (in units of 2^-32 s)
        {kTransmit - (uint64_t{10} << 32), 0}, // more than the round trip: not believed
        {0, 0},                                // left zero: not believed
    };
    responder.delay(kDelay);
    for (const auto &[receive, held] : cases) {
        sntptest::Bytes reply = packet(firstByte(0, 4, 4), 0, 0);
        sntptest::putTimestamp(reply, 32, receive);
        sntptest::putTimestamp(reply, 40, kTransmit);
        responder.reply(reply);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(query(), 0);
        const auto elapsed = std::chrono::nanoseconds(std::chrono::steady_clock::now() - start).count();
        timespec roundTrip{};
        ASSERT_EQ(sntpcRoundTripGet(&roundTrip), 0);
        const int64_t roundTripNs = roundTrip.tv_sec * kNsPerSecond + roundTrip.tv_nsec;
        EXPECT_GE(roundTripNs, std::chrono::nanoseconds(kDelay).count() - held) << std::hex << receive;
        EXPECT_LE(roundTripNs, elapsed - held) << std::hex << receive;
        EXPECT_EQ(result.tv_sec * kNsPerSecond + result.tv_nsec,
                  1000 * kNsPerSecond + 499999950 + roundTripNs / 2);
    }
}

TEST_F(ServerMode, ConvertsTheEpochAndWrappedTimestamps)
{
    const std::pair<uint32_t, time_t> cases[] = {{kNtpEpoch, 0}, {0x80000000, 0xFC558180}, {1, 2085978497}};
    for (const auto &[transmit, since1970] : cases) {
        responder.reply(packet(firstByte(0, 3, 4), transmit, 0));
        ASSERT_EQ(query(), 0);
        EXPECT_EQ(transmitted().tv_sec, since1970);
        EXPECT_EQ(transmitted().tv_nsec, 0);
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

TEST_F(ServerMode, RefusesVersionsZeroAndAboveFour)
{
    for (const unsigned version : {0u, 5u, 7u}) {
        responder.reply(packet(firstByte(0, version, 4), kNtpEpoch + 5, 0));
        EXPECT_EQ(query(), -1) << version;
        EXPECT_EQ(error, SNTPC_ERR_VERSION_UNSUPPORTED);
    }
}

sntptest::Bytes kissOfDeath(const std::string &code, unsigned leap = 3)
{
    sntptest::Bytes datagram = packet(firstByte(leap, 4, 4), 0, 0, 0, 4, 0xF0);
    std::copy(code.begin(), code.end(), datagram.begin() + 12);
    return datagram;
}

std::string kissCode()
{
    std::array<char, SNTPC_KISS_CODE_LEN> code{'x', 'x', 'x', 'x', 'x'};
    if (sntpcKissCodeGet(code.data()) != 0)
        return "none " + std::to_string(errnoGet());
    EXPECT_EQ(code.back(), '\0');
    return code.data();
}

TEST_F(ServerMode, RefusesStratumZeroAndKeepsTheKissCode)
{
    // Refused for stratum before the leap indicator, the seconds or the version are looked at.
    const std::pair<sntptest::Bytes, std::string> cases[] = {
        {kissOfDeath("RATE"), "RATE"},
        {kissOfDeath("DENY", 0), "DENY"},
        {kissOfDeath("RSTR"), "RSTR"},
        {packet(firstByte(3, 4, 4), kNtpEpoch + 5, 0, 0), ""}, // unsynchronised, identifier 0
        {packet(firstByte(0, 7, 4), kNtpEpoch + 5, 0, 0), ""}, // version 7
    };
    for (const auto &[datagram, code] : cases) {
        responder.reply(datagram);
        EXPECT_EQ(query(), -1) << code;
        EXPECT_EQ(error, SNTPC_ERR_KISS_OF_DEATH);
        EXPECT_EQ(kissCode(), code);
    }
}

// The kiss code is the task's last refused reply's: a success or a timeout leaves it, a reply
// refused for another reason clears it. The round trip is the task's last success's. Another
// task sees neither.
TEST_F(ServerMode, TheKissCodeAndRoundTripAreTheCallingTasks)
{
    const std::string none = "none " + std::to_string(K_ENOENT);
    const std::pair<sntptest::Bytes, std::string> steps[] = {
        {kissOfDeath("RATE"), "RATE"},
        {packet(firstByte(0, 4, 4), kNtpEpoch + 5, 0), "RATE"},
        {{}, "RATE"}, // no answer
        {packet(firstByte(3, 4, 4), kNtpEpoch + 5, 0), none},
    };
    std::thread([&] {
        timespec roundTrip{};
        EXPECT_EQ(sntpcRoundTripGet(&roundTrip), -1);
        EXPECT_EQ(errnoGet(), K_ENOENT);
        for (const auto &[reply, code] : steps) {
            responder.reply(reply);
            EXPECT_EQ(query(reply.empty() ? 0 : kTwoSecondsAt60), reply == steps[1].first ? 0 : -1);
            EXPECT_EQ(kissCode(), code);
            std::thread([&none] { EXPECT_EQ(kissCode(), none); }).join();
        }
        EXPECT_EQ(sntpcRoundTripGet(&roundTrip), 0);
    }).join();

    errnoSet(0);
    EXPECT_EQ(sntpcKissCodeGet(nullptr), -1);
    EXPECT_EQ(errnoGet(), SNTPC_ERR_INVALID_PARAMETER);
    errnoSet(0);
    EXPECT_EQ(sntpcRoundTripGet(nullptr), -1);
    EXPECT_EQ(errnoGet(), SNTPC_ERR_INVALID_PARAMETER);
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
