// Which transport and port a new client handle uses, by the word nfsTransport and what the
// host's portmapper registers.
#ifndef NFS_CORE_NFSRPCTRANSPORT_H
#define NFS_CORE_NFSRPCTRANSPORT_H

#include "rpc/nfsRpcExchange.h"

struct NfsTransportChoice {
    int error;     // 0, or the error number that stops the handle from being made
    int transport; // IPPROTO_UDP or IPPROTO_TCP
    uint16_t port;
};

NfsTransportChoice nfsRpcTransportChoose(in_addr_t address, uint32_t prog, uint32_t vers,
                                         NfsRpcClock::time_point deadline);

// Whether the word allows a handle to PROG and VERS over TRANSPORT to be used again (NFS
// version 4 goes over TCP whatever the word says).
bool nfsRpcTransportAllowed(uint32_t prog, uint32_t vers, int transport);

#endif
