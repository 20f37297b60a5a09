// The fraction, timestamp and timeout conversions, and the checks on a received packet.
#include "sntpPeers.h"
#include "sntpcInternal.h"

#include <gtest/gtest.h>

#include <cstdint>
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

TEST(ReplyDecode, AcceptsVersionsOneToThreeOnly)
{
    for (unsigned version = 0; version <= 7; ++version) {
        tovelle::SntpTime time;
        const bool usable = version >= 1 && version <= 3;
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

TEST(ReplyDecode, ReportsStratumPollAndPrecisionAsSent)
{
    tovelle::SntpTime time;
    ASSERT_EQ(decode(packet(firstByte(0, 3, 4), 100, 0, 0, 10, 0xE9), time), 0);
    EXPECT_EQ(time.serverInfo[0], 0); // stratum 0 is not examined
    EXPECT_EQ(time.serverInfo[1], 10);
    EXPECT_EQ(time.serverInfo[2], 0xE9);
}

TEST(RequestPacket, IsVersionOneClientModeAndOtherwiseZero)
{
    const tovelle::Packet request = tovelle::requestPacket();
    EXPECT_EQ(request[0], 0x0B);
    for (std::size_t i = 1; i < request.size(); ++i)
        EXPECT_EQ(request[i], 0) << i;
}

} // namespace
