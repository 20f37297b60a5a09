/* The SNTP client's inner pieces, shared by its files and reached by its tests. Not part of the
 * module's interface and not installed: no caller outside the module relies on these, and they
 * need C++20. */
#ifndef SNTPC_SNTPCINTERNAL_H
#define SNTPC_SNTPCINTERNAL_H

#include <tovelle/sntpcLib.h>

#include <sys/time.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tovelle {

inline constexpr std::size_t kPacketLen = 48;
using Packet = std::array<unsigned char, kPacketLen>;

/* Leap indicator 0, version 1, mode 3 (client), everything else zero. */
Packet requestPacket();

/* What a valid packet yields: the time since 1970 and the server information bytes. */
struct SntpTime {
    uint32_t seconds = 0;
    uint32_t nanoseconds = 0;
    std::array<unsigned char, SNTPC_SERVER_INFO_LEN> serverInfo{};
};

/* 0 with *out filled, or the client's error number for a datagram that is not a usable time. */
int replyDecode(std::span<const unsigned char> datagram, SntpTime &out);

/* Turns an exchange's status (0, the client's error number, or -1 with the network stack's error
 * number already set) into the call's result: on success writes the time and, when asked for,
 * the server information; otherwise leaves both untouched. */
int exchangeFinish(int status, const SntpTime &time, struct timespec *pCurrTime,
                   unsigned char *pServerInfo);

/* A timeout of `ticks` at `ticksPerSecond`, in unsigned 32-bit arithmetic. */
struct timeval ticksToTimeval(uint32_t ticks, uint32_t ticksPerSecond);

enum class WaitResult { ready, timedOut, failed };

/* Waits until fd is readable, for ever when timeout is SNTPC_WAIT_FOREVER, else for the timeout
 * in system clock ticks. */
WaitResult waitReadable(int fd, uint32_t timeout);

/* A UDP socket that is closed when it goes out of scope, keeping the caller's error number. */
class UdpSocket {
public:
    UdpSocket();
    ~UdpSocket();
    UdpSocket(const UdpSocket &) = delete;
    UdpSocket &operator=(const UdpSocket &) = delete;
    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }

private:
    int fd_;
};

/* Receives one datagram of up to kPacketLen bytes and decodes it: 0, the client's error number,
 * or -1 with the network stack's error number when the receive itself failed. */
int receiveTime(int fd, SntpTime &out);

/* One request to the server at `address` (IPv4, network order) on `port`, one reply. */
int sntpcServerQuery(uint32_t address, uint16_t port, uint32_t timeout,
                     struct timespec *pCurrTime, unsigned char *pServerInfo);

/* Takes the first packet that reaches `port`, after joining 224.0.1.1 on the named interface
 * when one is given. */
int sntpcListen(uint16_t port, uint32_t timeout, struct timespec *pCurrTime,
                const char *interfaceName, unsigned char *pServerInfo);

} // namespace tovelle

#endif
