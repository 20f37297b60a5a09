// The client's UDP socket and the datagrams it receives.
#include "sntpcInternal.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace tovelle {

UdpSocket::UdpSocket() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {}

UdpSocket::~UdpSocket()
{
    if (fd_ < 0)
        return;
    // Closing must not overwrite the error number a failed call left for the caller.
    const int saved = errno;
    close(fd_);
    errno = saved;
}

bool datagramReceive(int fd, Datagram &out)
{
    struct sockaddr_in sender {};
    socklen_t senderLen = sizeof sender;
    // A longer datagram is cut to the packet's size; only the first 48 bytes are used.
    const ssize_t received = recvfrom(fd, out.bytes.data(), out.bytes.size(), 0,
                                      reinterpret_cast<struct sockaddr *>(&sender), &senderLen);
    if (received < 0)
        return false;
    out.length = static_cast<std::size_t>(received);
    return true;
}

} // namespace tovelle
