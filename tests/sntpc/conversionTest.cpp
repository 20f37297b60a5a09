// The fraction, timestamp and timeout conversions, and the checks on a received packet.
#include "sntpPeers.h"
#include "sntpcInternal.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <tuple>
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
                  leap == 3 ? SNTPC_ERR_SERVER_UNSYNC : 0)
            << leap;
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
                  usable ? 0 : SNTPC_ERR_VERSION_UNSUPPORTED)
            << version;
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

// From the receive to the transmit timestamp, across the 2036 wrap too; -1 when negative.
TEST(ReplyDecode, ReportsHowLongTheServerHeldTheRequest)
{
    constexpr uint64_t kTransmit = uint64_t{0x83AA7E80 + 100} << 32 | 0x80000000;
    const std::tuple<uint64_t, uint64_t, int64_t> cases[] = {
        {kTransmit, kTransmit, 0},
        {kTransmit - (uint64_t{3} << 32) - 0x80000000, kTransmit, 3500000000},
        {0xFFFFFFFF80000000u, 0x0000000100000000u, 1500000000},
        {kTransmit + 1, kTransmit, -1},
        {0, kTransmit, -1}, // left zero: the span is over 2^63
    };
    for (const auto &[receive, transmit, held] : cases) {
        sntptest::Bytes datagram = packet(firstByte(0, 4, 4), 0, 0);
        sntptest::putTimestamp(datagram, 32, receive);
        sntptest::putTimestamp(datagram, 40, transmit);
        tovelle::SntpTime time;
        ASSERT_EQ(decode(datagram, time), 0);
        EXPECT_EQ(time.held, held) << std::hex << receive;
    }
}

TEST(ReplyDecode, ReportsStratumPollAndPrecisionAsSent)
{
    tovelle::SntpTime time;
    ASSERT_EQ(decode(packet(firstByte(0, 3, 4), 100, 0, 1, 10, 0xE9), time), 0);
    EXPECT_EQ(time.serverInfo[0], 1);
    EXPECT_EQ(time.serverInfo[1], 10);
    EXPECT_EQ(time.serverInfo[2], 0xE9);
}

TEST(RequestPacket, CarriesTheVersionAndTheStampAndOtherwiseZero)
{
    const tovelle::Packet request = tovelle::requestPacket(4, 0x0123456789ABCDEFu);
    EXPECT_EQ(request[0], 0x23);
    EXPECT_EQ(sntptest::Bytes(request.begin() + 1, request.begin() + 40), sntptest::Bytes(39, 0));
    EXPECT_EQ(sntptest::transmitStamp(sntptest::Bytes(request.begin(), request.end())), 0x0123456789ABCDEFu);
}

// The half round trip carries into the seconds, which wrap as their 32 bits do.
TEST(TimeAdvance, CarriesIntoTheSecondsWhichWrap)
{
    const std::tuple<uint32_t, uint32_t, int64_t, uint32_t, uint32_t> cases[] = {
        {5, 500000000, 499999999, 5, 999999999},
        {5, 999999970, 3000000030, 9, 0},
        {0xFFFFFFFF, 999999999, 1, 0, 0},
    };
    for (const auto &[seconds, nanoseconds, advance, wantSeconds, wantNanoseconds] : cases) {
        tovelle::SntpTime time;
        time.seconds = seconds;
        time.nanoseconds = nanoseconds;
        tovelle::timeAdvance(time, advance);
        EXPECT_EQ(time.seconds, wantSeconds) << advance;
        EXPECT_EQ(time.nanoseconds, wantNanoseconds) << advance;
    }
}

} // namespace
