// Asking a host's portmapper for a program's UDP port, within the caller's deadline (the RPC
// library's own query allows itself a minute).
#include "core/nfsConfig.h"
#include "core/nfsRpcExchange.h"

#include <rpc/pmap_prot.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

namespace {

constexpr uint16_t kPortmapperPort = 111;
constexpr u_int kQueryMessageSize = 400;

class QuerySocket {
public:
    QuerySocket() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~QuerySocket()
    {
        if (fd_ >= 0) {
            const int saved = errno;
            close(fd_);
            errno = saved;
        }
    }
    QuerySocket(const QuerySocket &) = delete;
    QuerySocket &operator=(const QuerySocket &) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

} // namespace

uint16_t nfsRpcPortQuery(in_addr_t address, uint32_t prog, uint32_t vers, NfsRpcClock::time_point deadline)
{
    const QuerySocket socket;
    if (socket.fd() < 0)
        return 0;
    sockaddr_in portmapper{};
    portmapper.sin_family = AF_INET;
    portmapper.sin_port = htons(kPortmapperPort);
    portmapper.sin_addr.s_addr = address;
    // Connected, so that a host without a portmapper refuses at once instead of staying silent.
    if (connect(socket.fd(), reinterpret_cast<const sockaddr *>(&portmapper), sizeof portmapper) != 0)
        return 0;
    AUTH *none = authnone_create();
    if (none == nullptr)
        return 0;
    pmap query{prog, vers, IPPROTO_UDP, 0};
    u_int port = 0;
    const NfsRpcExchange call{socket.fd(), portmapper, none, PMAPPROG, PMAPVERS, PMAPPROC_GETPORT,
                              reinterpret_cast<xdrproc_t>(xdr_pmap), &query,
                              reinterpret_cast<xdrproc_t>(xdr_u_int), &port,
                              {kQueryMessageSize, kQueryMessageSize},
                              nfsRpcDuration(nfsReXmitSec, nfsReXmitUSec), deadline};
    const clnt_stat status = nfsRpcExchange(call);
    auth_destroy(none);
    if (status != RPC_SUCCESS || port > std::numeric_limits<uint16_t>::max())
        return 0;
    return static_cast<uint16_t>(port);
}
