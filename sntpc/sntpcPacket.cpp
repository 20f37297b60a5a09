// The SNTP message: the request the client sends and what it takes from a reply.
#include "sntpcInternal.h"

#include <kernel/errnoLib.h>

#include <algorithm>

namespace tovelle {
namespace {

constexpr unsigned kClientMode = 3;
constexpr unsigned kLeapUnsynchronised = 3;
constexpr uint32_t kMinVersion = 1;
constexpr uint32_t kMaxVersion = 4; // the fields read are the same in versions 1 to 4
constexpr unsigned char kKissStratum = 0;
constexpr std::size_t kStratumOffset = 1;
constexpr std::size_t kReferenceIdOffset = 12;
constexpr std::size_t kOriginateOffset = 24;
constexpr std::size_t kReceiveOffset = 32;
constexpr std::size_t kTransmitSecondsOffset = 40;
constexpr std::size_t kTransmitFractionOffset = 44;
// Seconds from 1900 to 1970; subtracting wraps in unsigned 32-bit arithmetic.
constexpr uint32_t kEpochOffset = 2208988800u;
constexpr uint64_t kNanosecondsPerSecond = 1000000000u;

unsigned leapIndicator(unsigned char byte0)
{
    return (byte0 >> 6) & 3u;
}
unsigned version(unsigned char byte0)
{
    return (byte0 >> 3) & 7u;
}

uint32_t bigEndianWord(std::span<const unsigned char> bytes, std::size_t offset)
{
    return static_cast<uint32_t>(bytes[offset]) << 24 | static_cast<uint32_t>(bytes[offset + 1]) << 16 |
           static_cast<uint32_t>(bytes[offset + 2]) << 8 | static_cast<uint32_t>(bytes[offset + 3]);
}

uint64_t bigEndianTimestamp(std::span<const unsigned char> bytes, std::size_t offset)
{
    return uint64_t{bigEndianWord(bytes, offset)} << 32 | bigEndianWord(bytes, offset + 4);
}

// The span from the receive to the transmit timestamp in nanoseconds, -1 when it is negative
// (taken modulo 2^64, so that a span across the 2036 wrap comes out right).
int64_t heldNanoseconds(std::span<const unsigned char> bytes)
{
    const uint64_t span =
        bigEndianTimestamp(bytes, kTransmitSecondsOffset) - bigEndianTimestamp(bytes, kReceiveOffset);
    if ((span >> 63) != 0)
        return -1;
    const uint64_t seconds = span >> 32; // below 2^31, so the nanoseconds stay below 2^62
    const uint64_t fraction = span & 0xFFFFFFFFu;
    return static_cast<int64_t>(seconds * kNanosecondsPerSecond + ((fraction * kNanosecondsPerSecond) >> 32));
}

} // namespace

bool requestVersionValid(uint32_t version)
{
    return version >= kMinVersion && version <= kMaxVersion;
}

Packet requestPacket(uint32_t version, uint64_t transmit)
{
    Packet request{};
    request[0] = static_cast<unsigned char>((version & 7u) << 3 | kClientMode); // leap indicator 0
    for (std::size_t i = 0; i < sizeof transmit; ++i)
        request[kTransmitSecondsOffset + i] = static_cast<unsigned char>(transmit >> (56 - 8 * i));
    return request;
}

bool replyAnswers(std::span<const unsigned char> datagram, uint64_t transmit)
{
    return datagram.size() >= kOriginateOffset + sizeof transmit &&
           bigEndianTimestamp(datagram, kOriginateOffset) == transmit;
}

int replyDecode(std::span<const unsigned char> datagram, SntpTime &out)
{
    // A datagram cut short carries no transmit timestamp to trust.
    if (datagram.size() < kPacketLen)
        return SNTPC_ERR_SERVER_UNSYNC;
    // Before the leap indicator: a Kiss-o'-Death usually comes with leap indicator 3 as well,
    // and its code is what the caller needs.
    if (datagram[kStratumOffset] == kKissStratum) {
        const auto code = datagram.subspan(kReferenceIdOffset, out.kissCode.size());
        std::transform(code.begin(), code.end(), out.kissCode.begin(),
                       [](unsigned char byte) { return static_cast<char>(byte); });
        return SNTPC_ERR_KISS_OF_DEATH;
    }
    const uint32_t seconds = bigEndianWord(datagram, kTransmitSecondsOffset);
    if (leapIndicator(datagram[0]) == kLeapUnsynchronised || seconds == 0)
        return SNTPC_ERR_SERVER_UNSYNC;
    const unsigned packetVersion = version(datagram[0]);
    if (packetVersion < kMinVersion || packetVersion > kMaxVersion)
        return SNTPC_ERR_VERSION_UNSUPPORTED;

    out.seconds = seconds - kEpochOffset;
    out.nanoseconds = sntpcFractionToNsec(bigEndianWord(datagram, kTransmitFractionOffset));
    const auto info = datagram.subspan(kStratumOffset, SNTPC_SERVER_INFO_LEN);
    std::copy(info.begin(), info.end(), out.serverInfo.begin());
    out.held = heldNanoseconds(datagram);
    return 0;
}

void timeAdvance(SntpTime &time, int64_t nanoseconds)
{
    const uint64_t total = uint64_t{time.nanoseconds} + static_cast<uint64_t>(nanoseconds);
    time.seconds += static_cast<uint32_t>(total / kNanosecondsPerSecond);
    time.nanoseconds = static_cast<uint32_t>(total % kNanosecondsPerSecond);
}

int exchangeFinish(int status, const SntpTime &time, struct timespec *pCurrTime, unsigned char *pServerInfo)
{
    if (status == -1)
        return -1;
    if (status != 0) {
        if (status == SNTPC_ERR_KISS_OF_DEATH)
            kissCodeKeep(&time.kissCode);
        else if (status == SNTPC_ERR_SERVER_UNSYNC || status == SNTPC_ERR_VERSION_UNSUPPORTED)
            kissCodeKeep(nullptr); // a reply refused for another reason
        errnoSet(status);
        return -1;
    }
    // The seconds are unsigned and 32 bits wide: 1970 to 2106 by the wrapping subtraction
    // above (NTP era 0 ends in 2036; era 1 replies until 2106 still come out right). A 64-bit
    // time_t holds them all; where time_t is 32 bits, times past January 2038 do not fit and
    // come out negative.
    pCurrTime->tv_sec = static_cast<time_t>(int64_t{time.seconds});
    pCurrTime->tv_nsec = static_cast<long>(time.nanoseconds);
    if (pServerInfo != nullptr)
        std::copy(time.serverInfo.begin(), time.serverInfo.end(), pServerInfo);
    return 0;
}

} // namespace tovelle
