// The channels' sockets: opened from a reserved port where the process may bind one (a server
// exporting to "secure" ports only takes no other), and the waits on them.
#include "rpc/nfsRpcSockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>

namespace {

// Reserved ports are those below 1024; the lowest few hundred belong to well-known services.
constexpr uint16_t kReservedFirst = 600;
constexpr uint16_t kReservedEnd = 1024;

// Binds a reserved port, trying each once from a rotating start; gives up quietly where the
// process may not bind one (the server may still accept an ordinary port).
void bindReservedPort(int fd)
{
    static std::atomic<uint32_t> rotation{0};
    constexpr uint32_t kCount = kReservedEnd - kReservedFirst;
    const uint32_t start = rotation.fetch_add(1, std::memory_order_relaxed);
    for (uint32_t i = 0; i < kCount; ++i) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(static_cast<uint16_t>(kReservedFirst + (start + i) % kCount));
        if (bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) == 0)
            return;
        if (errno != EADDRINUSE)
            return;
    }
}


} // namespace

int nfsRpcAwaitSocket(int fd, short events, NfsRpcClock::time_point deadline)
{
    for (;;) {
        const NfsRpcClock::time_point now = NfsRpcClock::now();
        if (now >= deadline)
            return 0;
        pollfd waiting{fd, events, 0};
        const int ready = poll(&waiting, 1, nfsRpcMillisecondsUntil(deadline, now));
        if (ready < 0 && errno != EINTR)
            return -1;
        if (ready > 0)
            return 1; // an error or hang-up shows in the send or receive that follows
    }
}

bool nfsRpcClosedByServer(int fd)
{
    pollfd waiting{fd, POLLIN, 0};
    if (poll(&waiting, 1, 0) <= 0)
        return false;
    char next = 0;
    const ssize_t peeked = recv(fd, &next, 1, MSG_PEEK | MSG_DONTWAIT);
    return peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

int nfsRpcUdpSocket()
{
    NfsRpcDescriptor fd(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0)
        return -1;
#ifdef IP_RECVERR
    // Without it an unconnected socket never hears that the server's port refused.
    const int on = 1;
    setsockopt(fd.get(), IPPROTO_IP, IP_RECVERR, &on, sizeof on);
#endif
    bindReservedPort(fd.get());
    return fd.release();
}

int nfsRpcTcpConnect(const sockaddr_in &server, int replacing, NfsRpcClock::time_point deadline)
{
    NfsRpcDescriptor fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.get() < 0)
        return -1;
    const int on = 1;
    setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    bindReservedPort(fd.get());
    if (connect(fd.get(), reinterpret_cast<const sockaddr *>(&server), sizeof server) != 0) {
        if (errno != EINPROGRESS && errno != EINTR)
            return -1;
        if (nfsRpcAwaitSocket(fd.get(), POLLOUT, deadline) != 1) {
            errno = ETIMEDOUT;
            return -1;
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            return -1;
        if (error != 0) {
            errno = error;
            return -1;
        }
    }
    if (replacing < 0)
        return fd.release();
    // The channel and the tasks' records know the connection by its number.
    if (dup3(fd.get(), replacing, O_CLOEXEC) < 0)
        return -1;
    return replacing;
}
