// Listen mode: nothing is sent; the first datagram that reaches the port is taken, whoever
// sent it, after joining the NTP multicast group on a named interface if one is given.
#include "sntpcInternal.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <cstring>

namespace tovelle {
namespace {

constexpr const char *kNtpMulticastGroup = "224.0.1.1";

bool bindToPort(int fd, uint16_t port)
{
    struct sockaddr_in local {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    return bind(fd, reinterpret_cast<const struct sockaddr *>(&local), sizeof local) == 0;
}

bool joinNtpGroup(int fd, const char *interfaceName)
{
    struct ifreq request {};
    // A longer name is cut to the field, which keeps its terminating zero.
    std::strncpy(request.ifr_name, interfaceName, sizeof request.ifr_name - 1);
    if (ioctl(fd, SIOCGIFADDR, &request) < 0)
        return false;
    struct sockaddr_in interfaceAddress {};
    std::memcpy(&interfaceAddress, &request.ifr_addr, sizeof interfaceAddress);

    struct ip_mreq membership {};
    membership.imr_multiaddr.s_addr = inet_addr(kNtpMulticastGroup);
    membership.imr_interface = interfaceAddress.sin_addr;
    return setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) == 0;
}

// 0 with *out filled, the client's error number, or -1 for a failed socket call. Closing the
// socket also drops the group membership.
int awaitPacket(uint16_t port, uint32_t timeout, const char *interfaceName, SntpTime &out)
{
    const UdpSocket udp;
    if (!udp.valid() || !bindToPort(udp.fd(), port))
        return -1;
    if (interfaceName != nullptr && !joinNtpGroup(udp.fd(), interfaceName))
        return -1;
    // Here a failed wait counts as no packet.
    if (waitReadable(udp.fd(), Deadline(timeout)) != WaitResult::ready)
        return SNTPC_ERR_TIMEOUT;
    Datagram datagram;
    if (!datagramReceive(udp.fd(), datagram))
        return -1;
    return replyDecode(datagram.view(), out);
}

} // namespace

int sntpcListen(uint16_t port, uint32_t timeout, struct timespec *pCurrTime, const char *interfaceName,
                unsigned char *pServerInfo)
{
    SntpTime time;
    const int status = awaitPacket(port, timeout, interfaceName, time);
    return exchangeFinish(status, time, pCurrTime, pServerInfo);
}

} // namespace tovelle
