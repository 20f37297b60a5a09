// The transport of a new client handle.
//
// UDP where offered (the default): the program's UDP port when the portmapper registers one;
// its TCP port when it registers the program over TCP only; UDP on the well-known NFS port when
// the portmapper is silent or registers the program over neither, whatever the program, as
// before TCP was known. TCP always: the TCP port, or the well-known port over TCP. UDP only:
// as the default, but a program registered over TCP only is refused with
// NFS_ERR_ONLY_OVER_TCP rather than called on a port where nothing answers. NFS version 4,
// whatever the word: TCP on the well-known port, without asking the portmapper.
#include "rpc/nfsRpcTransport.h"

#include "core/nfsCallSettings.h"
#include "core/nfsConfig.h"

#include <brisnel/nfsErrors.h>

namespace {

constexpr uint16_t kNfsPort = 2049;
constexpr uint32_t kNfsProgram = 100003;

// Each query may take half of the time left, so that a silent portmapper still leaves the
// well-known port the rest.
NfsPortAnswer ask(in_addr_t address, uint32_t prog, uint32_t vers, int protocol,
                  NfsRpcClock::time_point deadline)
{
    const NfsRpcClock::time_point now = NfsRpcClock::now();
    return nfsRpcPortQuery(address, prog, vers, protocol, now + (deadline - now) / 2);
}

} // namespace

bool nfsRpcTransportAllowed(uint32_t prog, uint32_t vers, int transport)
{
    if (prog == kNfsProgram && vers == 4)
        return transport == IPPROTO_TCP;
    switch (nfsCallTransport()) {
    case NFS_TRANSPORT_TCP: return transport == IPPROTO_TCP;
    case NFS_TRANSPORT_UDP: return transport == IPPROTO_UDP;
    default: return true;
    }
}

NfsTransportChoice nfsRpcTransportChoose(in_addr_t address, uint32_t prog, uint32_t vers,
                                         NfsRpcClock::time_point deadline)
{
    // NFS version 4 is served over TCP on its well-known port, with no portmapper to ask.
    const uint16_t given = nfsCallPort(prog); // a port given: no portmapper asked
    if (prog == kNfsProgram && vers == 4)
        return {0, IPPROTO_TCP, given != 0 ? given : kNfsPort};
    const int32_t word = nfsCallTransport();
    if (given != 0)
        return {0, word == NFS_TRANSPORT_TCP ? IPPROTO_TCP : IPPROTO_UDP, given};
    if (word == NFS_TRANSPORT_TCP) {
        const NfsPortAnswer tcp = ask(address, prog, vers, IPPROTO_TCP, deadline);
        return {0, IPPROTO_TCP, tcp.port != 0 ? tcp.port : kNfsPort};
    }
    const NfsPortAnswer udp = ask(address, prog, vers, IPPROTO_UDP, deadline);
    if (udp.port != 0)
        return {0, IPPROTO_UDP, udp.port};
    if (udp.answered) {
        const NfsPortAnswer tcp = ask(address, prog, vers, IPPROTO_TCP, deadline);
        if (tcp.port != 0 && word == NFS_TRANSPORT_UDP)
            return {NFS_ERR_ONLY_OVER_TCP, IPPROTO_UDP, 0};
        if (tcp.port != 0)
            return {0, IPPROTO_TCP, tcp.port};
    }
    return {0, IPPROTO_UDP, kNfsPort};
}
