// The fraction, timestamp and timeout conversions, and the checks on a received packet.
#include "sntpPeers.h"
#include "sntpcInternal.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

namespace {

using sntptest::firstByte;
using sntptest::packet;

TEST(FractionToNsec, GivesTheListedValuesExactly)
{
    const std::pair<uint32_t, uint32_t> cases[] = {
        {0, 0},
        {1, 0},
        {0x00000100, 58},
        {0x0C000000, 46874996},
        {0x0FFFFFFF, 62499997},
        {0x10000000, 62499980},
        {0x40000000, 249999970},
        {0x80000000, 499999950},
        {0xFFFFFFFF, 999999970},
    };
    for (const auto &[fraction, nanoseconds] : cases)
        EXPECT_EQ(sntpcFractionToNsec(fraction), nanoseconds) << std::hex << fraction;
}

// Across all 2^32 fractions the result lies between 77 ns below and 15 ns above the exact
// value truncated; the sweep covers a spread of fractions and the two extremes found.
TEST(FractionToNsec, StaysWithinItsErrorBoundsOfTheExactValue)
{
    constexpr int64_t kBelow = 77;
    constexpr int64_t kAbove = 15;
    constexpr uint64_t kStride = 4099; // prime, so the sweep meets every residue pattern
    int64_t lowest = 0;
    int64_t highest = 0;
    auto check = [&](uint64_t fraction) {
        const auto exact = static_cast<int64_t>((fraction * 1000000000u) >> 32);
        const int64_t difference = int64_t{sntpcFractionToNsec(static_cast<uint32_t>(fraction))} - exact;
        lowest = std::min(lowest, difference);
        highest = std::max(highest, difference);
        ASSERT_GE(difference, -kBelow) << std::hex << fraction;
        ASSERT_LE(difference, kAbove) << std::hex << fraction;
    };
    for (uint64_t fraction = 0; fraction <= 0xFFFFFFFFu; fraction += kStride)
        check(fraction);
    for (uint64_t fraction = 0x0FFFFF00; fraction <= 0x10000100; ++fraction)
        check(fraction);
    check(0x773593FF);
    check(0xFD51DA80);
    EXPECT_EQ(lowest, -kBelow);
    EXPECT_EQ(highest, kAbove);
}

TEST(TicksToTimeval, SplitsTicksIntoSecondsAndMicroseconds)
{
    const timeval ninety = tovelle::ticksToTimeval(90, 60);
    EXPECT_EQ(ninety.tv_sec, 1);
    EXPECT_EQ(ninety.tv_usec, 500000);
    const timeval none = tovelle::ticksToTimeval(0, 60);
    EXPECT_EQ(none.tv_sec, 0);
    EXPECT_EQ(none.tv_usec, 0);
    // The largest timeout that mSntpcTimeGet passes on is a long wait, not a wrapped one.
    const timeval longest = tovelle::ticksToTimeval(0xFFFFFFFE, 60);
    EXPECT_EQ(longest.tv_sec, 71582788);
    EXPECT_EQ(longest.tv_usec, 233333);
    // At 10000 ticks a second the 32-bit product wraps but stays below a second.
    const timeval fast = tovelle::ticksToTimeval(19999, 10000);
    EXPECT_EQ(fast.tv_sec, 1);
    EXPECT_EQ(fast.tv_usec, 140906); // 9999 * 10^6 mod 2^32, over 10^4
    EXPECT_LT(fast.tv_usec, 1000000);
}

int decode(const sntptest::Bytes &datagram, tovelle::SntpTime &time)
{
    return tovelle::replyDecode(std::span<const unsigned char>(datagram.data(), datagram.size()), time);
}

TEST(ReplyDecode, ConvertsTheTransmitTimestampTo1970)
{
    const std::pair<uint32_t, uint32_t> seconds[] = {
        {0x83AA7E80, 0},
        {0x80000000, 0xFC558180},
        {1, 2085978497}, // 7 February 2036, 06:28:17 UTC read as unsigned
        {0xFFFFFFFF, 2085978495},
    };
    for (const auto &[transmit, since1970] : seconds) {
        tovelle::SntpTime time;
        ASSERT_EQ(decode(packet(firstByte(0, 3, 4), transmit, 0x80000000), time), 0);
        EXPECT_EQ(time.seconds, since1970) << std::hex << transmit;
        EXPECT_EQ(time.nanoseconds, 499999950u);
        // Handed out past January 2038 too, as a positive count of seconds.
        timespec handedOut{};
        ASSERT_EQ(tovelle::exchangeFinish(0, time, &handedOut, nullptr), 0);
        EXPECT_EQ(static_cast<int64_t>(handedOut.tv_sec), int64_t{since1970}) << std::hex << transmit;
    }
}

TEST(ReplyDecode, ChecksLeapIndicatorAndSecondsBeforeVersion)
{
    tovelle::SntpTime time;
    for (unsigned leap = 0; leap <= 3; ++leap)
        EXPECT_EQ(decode(packet(firstByte(leap, 2, 4), 100, 0), time),
                  leap == 3 ? SNTPC_ERR_SERVER_UNSYNC : 0) << leap;
    EXPECT_EQ(decode(packet(firstByte(0, 1, 4), 0, 12345), time), SNTPC_ERR_SERVER_UNSYNC);
    // Both faults at once: the leap indicator and the seconds are looked at first.
    EXPECT_EQ(decode(packet(firstByte(3, 4, 4), 100, 0), time), SNTPC_ERR_SERVER_UNSYNC);
    EXPECT_EQ(decode(packet(firstByte(0, 0, 4), 0, 0), time), SNTPC_ERR_SERVER_UNSYNC);
}

TEST(ReplyDecode, AcceptsVersionsOneToFourOnly)
{
    for (unsigned version = 0; version <= 7; ++version) {
        tovelle::SntpTime time;
        const bool usable = version >= 1 && version <= 4;
        EXPECT_EQ(decode(packet(firstByte(0, version, 5), 100, 0), time),
                  usable ? 0 : SNTPC_ERR_VERSION_UNSUPPORTED) << version;
    }
}

TEST(ReplyDecode, RefusesADatagramCutShortAtAnyLength)
{
    const sntptest::Bytes whole = packet(firstByte(0, 3, 4), 0x83AA7E80 + 5, 0);
    for (std::size_t length = 0; length < whole.size(); ++length) {
        tovelle::SntpTime time;
        time.seconds = 77;
        const sntptest::Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_EQ(decode(cut, time), SNTPC_ERR_SERVER_UNSYNC) << length;
        EXPECT_EQ(time.seconds, 77u);
    }
}

TEST(ReplyDecode, ReportsHowLongTheServerHeldTheRequest)
{
    constexpr uint64_t kTransmit = uint64_t{0x83AA7E80 + 100} << 32 | 0x80000000;
    const std::pair<uint64_t, int64_t> cases[] = {
        {kTransmit, 0},
        {kTransmit - 0x80000000, 500000000},
        {kTransmit - (uint64_t{3} << 32), 3000000000},
        {kTransmit + 1, -1}, // received after it was sent
        {0, -1},             // no receive timestamp: the span is over 2^63
    };
    for (const auto &[receive, held] : cases) {
        sntptest::Bytes datagram = packet(firstByte(0, 4, 4), 0, 0);
        sntptest::putTimestamp(datagram, 40, kTransmit);
        sntptest::putTimestamp(datagram, 32, receive);
        tovelle::SntpTime time;
        ASSERT_EQ(decode(datagram, time), 0);
        EXPECT_EQ(time.held, held) << std::hex << receive;
    }
    // Across the 2036 wrap of the seconds.
    sntptest::Bytes wrapped = packet(firstByte(0, 4, 4), 0, 0);
    sntptest::putTimestamp(wrapped, 32, 0xFFFFFFFF80000000u);
    sntptest::putTimestamp(wrapped, 40, 0x0000000100000000u);
    tovelle::SntpTime time;
    ASSERT_EQ(decode(wrapped, time), 0);
    EXPECT_EQ(time.held, 1500000000);
}

TEST(ReplyDecode, ReportsStratumPollAndPrecisionAsSent)
{
    tovelle::SntpTime time;
    ASSERT_EQ(decode(packet(firstByte(0, 3, 4), 100, 0, 1, 10, 0xE9), time), 0);
    EXPECT_EQ(time.serverInfo[0], 1);
    EXPECT_EQ(time.serverInfo[1], 10);
    EXPECT_EQ(time.serverInfo[2], 0xE9);
}

// Stratum 0 is refused before anything else is looked at, with the reference identifier's
// four bytes as the kiss code; the time is left alone.
TEST(ReplyDecode, RefusesStratumZeroWithItsKissCode)
{
    struct Case {
        unsigned char byte0;
        uint32_t seconds;
        const char *code;
    };
    const Case cases[] = {
        {firstByte(3, 4, 4), 0, "RATE"},          // a Kiss-o'-Death as servers send it
        {firstByte(0, 3, 4), 0x83AA7E80 + 9, "DENY"}, // otherwise a usable time
        {firstByte(3, 1, 4), 100, "\0\0\0\0"},  // an unsynchronised server: no code
        {firstByte(0, 7, 4), 100, "RSTR"},        // refused for stratum before version
    };
    for (const Case &c : cases) {
        sntptest::Bytes datagram = packet(c.byte0, c.seconds, 0, 0);
        std::copy(c.code, c.code + 4, datagram.begin() + 12);
        tovelle::SntpTime time;
        time.seconds = 77;
        ASSERT_EQ(decode(datagram, time), SNTPC_ERR_KISS_OF_DEATH) << c.code;
        EXPECT_EQ(std::string(time.kissCode.begin(), time.kissCode.end()), std::string(c.code, 4));
        EXPECT_EQ(time.seconds, 77u);
    }
}

TEST(RequestPacket, CarriesTheVersionAndTheStampAndOtherwiseZero)
{
    const std::pair<uint32_t, unsigned char> versions[] = {{1, 0x0B}, {2, 0x13}, {3, 0x1B}, {4, 0x23}};
    for (const auto &[version, byte0] : versions) {
        const tovelle::Packet request = tovelle::requestPacket(version, 0x0123456789ABCDEFu);
        EXPECT_EQ(request[0], byte0) << version;
        for (std::size_t i = 1; i < 40; ++i)
            EXPECT_EQ(request[i], 0) << i;
        const sntptest::Bytes stamp(request.begin() + 40, request.end());
        EXPECT_EQ(stamp, (sntptest::Bytes{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}));
    }
    for (const uint32_t version : {0u, 1u, 4u, 5u, 0xFFFFFFFFu})
        EXPECT_EQ(tovelle::requestVersionValid(version), version >= 1 && version <= 4) << version;
}

TEST(ReplyAnswers, NeedsTheWholeStampEchoedAsOriginate)
{
    constexpr uint64_t kStamp = 0xF00DCAFE12345678u;
    struct Case {
        uint64_t originate;
        std::size_t length;
        bool answers;
    };
    const Case cases[] = {
        {kStamp, 48, true},
        {kStamp, 32, true}, // the originate is all that is looked at here
        {kStamp, 31, false},
        {kStamp ^ 1, 48, false},
        {kStamp ^ 0x8000000000000000u, 48, false},
        {kStamp & 0xFFFFFFFF00000000u, 48, false}, // seconds alone
        {0, 48, false},
    };
    for (const Case &c : cases) {
        sntptest::Bytes datagram(48, 0);
        for (std::size_t i = 0; i < 8; ++i)
            datagram[24 + i] = static_cast<unsigned char>(c.originate >> (56 - 8 * i));
        datagram.resize(c.length);
        EXPECT_EQ(tovelle::replyAnswers(std::span<const unsigned char>(datagram.data(), datagram.size()), kStamp),
                  c.answers) << std::hex << c.originate << " " << std::dec << c.length;
    }
}

TEST(TimeAdvance, CarriesIntoTheSecondsWhichWrap)
{
    struct Case {
        uint32_t seconds, nanoseconds;
        int64_t advance;
        uint32_t wantSeconds, wantNanoseconds;
    };
    const Case cases[] = {
        {5, 500000000, 0, 5, 500000000},
        {5, 500000000, 499999999, 5, 999999999},
        {5, 500000000, 500000000, 6, 0},
        {5, 999999970, 3000000030, 9, 0},
        {0xFFFFFFFF, 999999999, 1, 0, 0},
    };
    for (const Case &c : cases) {
        tovelle::SntpTime time;
        time.seconds = c.seconds;
        time.nanoseconds = c.nanoseconds;
        tovelle::timeAdvance(time, c.advance);
        EXPECT_EQ(time.seconds, c.wantSeconds) << c.advance;
        EXPECT_EQ(time.nanoseconds, c.wantNanoseconds) << c.advance;
    }
}

} // namespace
