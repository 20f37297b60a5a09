// The sockets of the channels: a UDP socket or a TCP connection from a reserved port where the
// process may bind one, the waits on them bounded by a deadline, and the test of a connection
// closed by its server.
#ifndef NFS_RPC_NFSRPCSOCKETS_H
#define NFS_RPC_NFSRPCSOCKETS_H

#include "rpc/nfsRpcExchange.h"

#include <unistd.h>

#include <cerrno>
#include <utility>

// A socket descriptor closed with its owner (errno kept), unless released.
class NfsRpcDescriptor {
public:
    explicit NfsRpcDescriptor(int fd) : fd_(fd) {}
    ~NfsRpcDescriptor()
    {
        if (fd_ >= 0) {
            const int saved = errno;
            close(fd_);
            errno = saved;
        }
    }
    NfsRpcDescriptor(const NfsRpcDescriptor &) = delete;
    NfsRpcDescriptor &operator=(const NfsRpcDescriptor &) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

// A UDP socket that hears the refusals (ICMP errors) of its servers; -1 with errno set.
int nfsRpcUdpSocket();
// Waits for EVENTS on FD until DEADLINE: 1 when they came (an error or a hang-up counts), 0 when
// the deadline passed, -1 on a failure of the wait itself. FD -1 sleeps until the deadline.
int nfsRpcAwaitSocket(int fd, short events, NfsRpcClock::time_point deadline);
// True when the server has closed or reset the connection: the stream is readable and its next
// byte is its end (or an error). Bytes waiting (a late answer) leave it open.
bool nfsRpcClosedByServer(int fd);

#endif
