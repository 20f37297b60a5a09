// The SNTP message: the request the client sends and what it takes from a reply.
#include "sntpcInternal.h"

#include <kernel/errnoLib.h>

#include <algorithm>

namespace tovelle {
namespace {

constexpr unsigned char kRequestByte0 = 0x0B; // leap indicator 0, version 1, mode 3
constexpr unsigned kLeapUnsynchronised = 3;
constexpr unsigned kMaxVersion = 3;
constexpr std::size_t kStratumOffset = 1;
constexpr std::size_t kTransmitSecondsOffset = 40;
constexpr std::size_t kTransmitFractionOffset = 44;
// Seconds from 1900 to 1970; subtracting wraps in unsigned 32-bit arithmetic.
constexpr uint32_t kEpochOffset = 2208988800u;

unsigned leapIndicator(unsigned char byte0) { return (byte0 >> 6) & 3u; }
unsigned version(unsigned char byte0) { return (byte0 >> 3) & 7u; }

uint32_t bigEndianWord(std::span<const unsigned char> bytes, std::size_t offset)
{
    return static_cast<uint32_t>(bytes[offset]) << 24 | static_cast<uint32_t>(bytes[offset + 1]) << 16 |
           static_cast<uint32_t>(bytes[offset + 2]) << 8 | static_cast<uint32_t>(bytes[offset + 3]);
}

} // namespace

Packet requestPacket()
{
    Packet request{};
    request[0] = kRequestByte0;
    return request;
}

int replyDecode(std::span<const unsigned char> datagram, SntpTime &out)
{
    // A datagram cut short carries no transmit timestamp to trust.
    if (datagram.size() < kPacketLen)
        return SNTPC_ERR_SERVER_UNSYNC;
    const uint32_t seconds = bigEndianWord(datagram, kTransmitSecondsOffset);
    if (leapIndicator(datagram[0]) == kLeapUnsynchronised || seconds == 0)
        return SNTPC_ERR_SERVER_UNSYNC;
    const unsigned packetVersion = version(datagram[0]);
    if (packetVersion == 0 || packetVersion > kMaxVersion)
        return SNTPC_ERR_VERSION_UNSUPPORTED;

    out.seconds = seconds - kEpochOffset;
    out.nanoseconds = sntpcFractionToNsec(bigEndianWord(datagram, kTransmitFractionOffset));
    const auto info = datagram.subspan(kStratumOffset, SNTPC_SERVER_INFO_LEN);
    std::copy(info.begin(), info.end(), out.serverInfo.begin());
    return 0;
}

int exchangeFinish(int status, const SntpTime &time, struct timespec *pCurrTime,
                   unsigned char *pServerInfo)
{
    if (status == -1)
        return -1;
    if (status != 0) {
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
