// Server mode: one request to the server, the first datagram that comes back.
#include "sntpcInternal.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace tovelle {
namespace {

struct sockaddr_in serverAddress(uint32_t address, uint16_t port)
{
    struct sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    server.sin_addr.s_addr = address;
    return server;
}

// 0 with *out filled, the client's error number, or -1 for a failed socket call.
int exchange(uint32_t address, uint16_t port, uint32_t timeout, SntpTime &out)
{
    const UdpSocket udp;
    if (!udp.valid())
        return -1;
    // So that the server address may be a broadcast address; without it only that fails.
    const int enable = 1;
    (void)setsockopt(udp.fd(), SOL_SOCKET, SO_BROADCAST, &enable, sizeof enable);

    const Packet request = requestPacket();
    const struct sockaddr_in server = serverAddress(address, port);
    if (sendto(udp.fd(), request.data(), request.size(), 0,
               reinterpret_cast<const struct sockaddr *>(&server), sizeof server) < 0)
        return -1;

    switch (waitReadable(udp.fd(), timeout)) {
    case WaitResult::failed:
        return -1;
    case WaitResult::timedOut:
        return SNTPC_ERR_TIMEOUT;
    case WaitResult::ready:
        break;
    }
    return receiveTime(udp.fd(), out);
}

} // namespace

int sntpcServerQuery(uint32_t address, uint16_t port, uint32_t timeout,
                     struct timespec *pCurrTime, unsigned char *pServerInfo)
{
    SntpTime time;
    const int status = exchange(address, port, timeout, time);
    return exchangeFinish(status, time, pCurrTime, pServerInfo);
}

} // namespace tovelle
