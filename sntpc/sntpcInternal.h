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

/* Versions a request may carry. */
bool requestVersionValid(uint32_t version);

/* Leap indicator 0, the given version, mode 3 (client), `transmit` as the transmit timestamp,
 * everything else zero. */
Packet requestPacket(uint32_t version, uint64_t transmit);

/* Whether the datagram answers the request that carried `transmit`: its originate timestamp
 * echoes it. */
bool replyAnswers(std::span<const unsigned char> datagram, uint64_t transmit);

/* The reference identifier of a stratum-0 reply: a four-letter code such as RATE, DENY, RSTR. */
using KissCode = std::array<char, 4>;

/* What a valid packet yields: the time since 1970 and the server information bytes; a refused
 * stratum-0 packet yields its kiss code only. */
struct SntpTime {
    uint32_t seconds = 0;
    uint32_t nanoseconds = 0;
    std::array<unsigned char, SNTPC_SERVER_INFO_LEN> serverInfo{};
    KissCode kissCode{};
    /* How long the server held the request, from its receive to its transmit timestamp, in
     * nanoseconds; -1 when the receive timestamp lies after the transmit timestamp. */
    int64_t held = -1;
};

/* 0 with *out filled, or the client's error number for a datagram that is not a usable time
 * (for SNTPC_ERR_KISS_OF_DEATH with out.kissCode filled). */
int replyDecode(std::span<const unsigned char> datagram, SntpTime &out);

/* Moves the time on by `nanoseconds` (at least 0); the seconds wrap as their 32 bits do. */
void timeAdvance(SntpTime &time, int64_t nanoseconds);

/* Turns an exchange's status (0, the client's error number, or -1 with the network stack's error
 * number already set) into the call's result: on success writes the time and, when asked for,
 * the server information; otherwise leaves both untouched. A refused reply's kiss code, or the
 * lack of one, is kept for sntpcKissCodeGet. */
int exchangeFinish(int status, const SntpTime &time, struct timespec *pCurrTime, unsigned char *pServerInfo);

/* The calling task's records for sntpcKissCodeGet and sntpcRoundTripGet. A null code records a
 * reply refused for another reason than stratum 0. */
void kissCodeKeep(const KissCode *pCode);
void roundTripKeep(int64_t nanoseconds);

/* A timeout of `ticks` at `ticksPerSecond`, in unsigned 32-bit arithmetic. */
struct timeval ticksToTimeval(uint32_t ticks, uint32_t ticksPerSecond);

/* The host's monotonic clock in nanoseconds. */
int64_t monotonicNanoseconds();

/* The end of a wait of `timeout` system clock ticks from now, or none for SNTPC_WAIT_FOREVER. */
class Deadline {
public:
    explicit Deadline(uint32_t timeout);
    bool forever() const { return forever_; }
    bool passed() const;
    /* What is left, at least zero. */
    struct timespec remaining() const;

private:
    bool forever_;
    int64_t end_ = 0;
};

enum class WaitResult { ready, timedOut, failed };

/* Waits until fd is readable or the deadline passes; a deadline already passed polls once. */
WaitResult waitReadable(int fd, const Deadline &deadline);

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

/* One received datagram, cut to kPacketLen bytes. */
struct Datagram {
    Packet bytes{};
    std::size_t length = 0;
    std::span<const unsigned char> view() const { return {bytes.data(), length}; }
};

/* Receives one datagram; false, with the network stack's error number, when that failed. */
bool datagramReceive(int fd, Datagram &out);

/* One request to the server at `address` (IPv4, network order) on `port`, carrying `version`;
 * the reply that answers it. */
int sntpcServerQuery(uint32_t address, uint16_t port, uint32_t version, uint32_t timeout,
                     struct timespec *pCurrTime, unsigned char *pServerInfo);

/* Takes the first packet that reaches `port`, after joining 224.0.1.1 on the named interface
 * when one is given. */
int sntpcListen(uint16_t port, uint32_t timeout, struct timespec *pCurrTime, const char *interfaceName,
                unsigned char *pServerInfo);

} // namespace tovelle

#endif
