// Server mode: one request to the server, carrying a random transmit timestamp; the reply that
// echoes it, corrected by half the round trip.
#include "sntpcInternal.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/random.h>
#include <sys/socket.h>

namespace tovelle {
namespace {

struct sockaddr_in serverAddress(uint32_t address, uint16_t port)
{
    struct sockaddr_in server {};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    server.sin_addr.s_addr = address;
    return server;
}

// A value that a late answer to an earlier request, or a datagram forged by someone who cannot
// see the request, does not carry. False, with the system's error number, when no random bytes
// could be had: the call then fails rather than send a guessable value.
bool randomStamp(uint64_t &stamp)
{
    if (getrandom(&stamp, sizeof stamp, 0) != static_cast<ssize_t>(sizeof stamp))
        return false;
    // A zero originate is what a server that echoes nothing sends back.
    if (stamp == 0)
        stamp = 1;
    return true;
}

struct Exchange {
    SntpTime time;
    int64_t roundTrip = 0; // nanoseconds, from sending the request to receiving its answer
};

// The round trip's network part: the measured round trip less the time the server says it held
// the request. A hold that does not fit in the round trip (a server that leaves its receive
// timestamp zero, or a clock that jumped) is not believed.
int64_t networkDelay(const Exchange &exchange)
{
    const int64_t held = exchange.time.held;
    return held >= 0 && held <= exchange.roundTrip ? exchange.roundTrip - held : exchange.roundTrip;
}

// 0 with `out` filled, the client's error number, or -1 for a failed socket call.
int exchange(uint32_t address, uint16_t port, uint32_t version, uint32_t timeout, Exchange &out)
{
    uint64_t stamp = 0;
    if (!randomStamp(stamp))
        return -1;
    const UdpSocket udp;
    if (!udp.valid())
        return -1;
    // So that the server address may be a broadcast address; without it only that fails.
    const int enable = 1;
    (void)setsockopt(udp.fd(), SOL_SOCKET, SO_BROADCAST, &enable, sizeof enable);

    const Packet request = requestPacket(version, stamp);
    const struct sockaddr_in server = serverAddress(address, port);
    const Deadline deadline(timeout);
    const int64_t sent = monotonicNanoseconds();
    if (sendto(udp.fd(), request.data(), request.size(), 0,
               reinterpret_cast<const struct sockaddr *>(&server), sizeof server) < 0)
        return -1;

    // A datagram that does not answer this request is dropped and the wait goes on; once the
    // deadline has passed no further datagram is read, so a stream of them cannot hold the
    // call beyond its timeout.
    for (;;) {
        switch (waitReadable(udp.fd(), deadline)) {
        case WaitResult::failed: return -1;
        case WaitResult::timedOut: return SNTPC_ERR_TIMEOUT;
        case WaitResult::ready: break;
        }
        Datagram datagram;
        if (!datagramReceive(udp.fd(), datagram))
            return -1;
        if (replyAnswers(datagram.view(), stamp)) {
            out.roundTrip = monotonicNanoseconds() - sent;
            return replyDecode(datagram.view(), out.time);
        }
        if (deadline.passed())
            return SNTPC_ERR_TIMEOUT;
    }
}

} // namespace

int sntpcServerQuery(uint32_t address, uint16_t port, uint32_t version, uint32_t timeout,
                     struct timespec *pCurrTime, unsigned char *pServerInfo)
{
    Exchange result;
    const int status = exchange(address, port, version, timeout, result);
    // The server stamped its reply about half the network delay ago. This is the offset of
    // the SNTP rules, ((T2 - T1) + (T3 - T4)) / 2, added to T4: T3 + ((T4 - T1) - (T3 - T2)) / 2.
    const int64_t delay = networkDelay(result);
    if (status == 0)
        timeAdvance(result.time, delay / 2);
    if (exchangeFinish(status, result.time, pCurrTime, pServerInfo) != 0)
        return -1;
    roundTripKeep(delay);
    return 0;
}

} // namespace tovelle
