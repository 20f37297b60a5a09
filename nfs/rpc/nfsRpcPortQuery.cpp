// Asking a host's portmapper for a program's UDP or TCP port (the question goes over UDP), within the
// caller's deadline (the RPC library's own query allows itself a minute).
#include "core/nfsCallSettings.h"
#include "core/nfsConfig.h"
#include "rpc/nfsRpcExchange.h"
#include "rpc/nfsRpcSockets.h"

#include <rpc/pmap_prot.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

namespace {

constexpr uint16_t kPortmapperPort = 111;
constexpr u_int kQueryMessageSize = 400;


} // namespace

NfsPortAnswer nfsRpcPortQuery(in_addr_t address, uint32_t prog, uint32_t vers, int protocol,
                              NfsRpcClock::time_point deadline)
{
    constexpr NfsPortAnswer kNoAnswer{false, 0};
    const NfsRpcDescriptor socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (socket.get() < 0)
        return kNoAnswer;
    sockaddr_in portmapper{};
    portmapper.sin_family = AF_INET;
    portmapper.sin_port = htons(kPortmapperPort);
    portmapper.sin_addr.s_addr = address;
    // Connected, so that a host without a portmapper refuses at once instead of staying silent.
    if (connect(socket.get(), reinterpret_cast<const sockaddr *>(&portmapper), sizeof portmapper) != 0)
        return kNoAnswer;
    AUTH *none = authnone_create();
    if (none == nullptr)
        return kNoAnswer;
    pmap query{prog, vers, static_cast<u_long>(protocol), 0};
    u_int port = 0;
    const NfsRpcExchange call{socket.get(),
                              portmapper,
                              none,
                              PMAPPROG,
                              PMAPVERS,
                              PMAPPROC_GETPORT,
                              reinterpret_cast<xdrproc_t>(xdr_pmap),
                              &query,
                              reinterpret_cast<xdrproc_t>(xdr_u_int),
                              &port,
                              {kQueryMessageSize, kQueryMessageSize},
                              nfsRpcDuration(nfsCallReXmit().sec, nfsCallReXmit().usec),
                              deadline};
    const clnt_stat status = nfsRpcExchange(call);
    auth_destroy(none);
    if (status != RPC_SUCCESS)
        return kNoAnswer;
    // A port that cannot be one counts as no registration.
    if (port > std::numeric_limits<uint16_t>::max())
        return {true, 0};
    return {true, static_cast<uint16_t>(port)};
}
