// One remote call over a UDP socket: the call message goes out, and again after each
// retransmission interval, until the answer carrying its transaction id comes or the deadline
// passes.
#ifndef NFS_CORE_NFSRPCEXCHANGE_H
#define NFS_CORE_NFSRPCEXCHANGE_H

#include <rpc/rpc.h>
#include <netinet/in.h>

#include <chrono>

using NfsRpcClock = std::chrono::steady_clock;

// Datagram sizes of a client handle: the largest call it sends and the largest answer it takes.
struct NfsUdpMessageSizes {
    u_int send;
    u_int receive;
};

struct NfsRpcExchange {
    int socket;
    sockaddr_in server;
    AUTH *auth;
    uint32_t prog;
    uint32_t vers;
    uint32_t proc;
    xdrproc_t inproc;
    void *in;
    xdrproc_t outproc;
    void *out;
    NfsUdpMessageSizes sizes;
    NfsRpcClock::duration retransmitInterval; // zero: the call goes out once
    NfsRpcClock::time_point deadline;
};

// The RPC status of the call. Answers with another transaction id are dropped and cost the
// call nothing; the answer's source address is not looked at.
clnt_stat nfsRpcExchange(const NfsRpcExchange &call);

// The UDP port of PROG and VERS from the portmapper at ADDRESS (GETPORT), asked until
// DEADLINE at the latest; 0 when the program is not registered or no answer came.
uint16_t nfsRpcPortQuery(in_addr_t address, uint32_t prog, uint32_t vers, NfsRpcClock::time_point deadline);

// A time-out given as seconds and microseconds; negative parts count as zero.
NfsRpcClock::duration nfsRpcDuration(int32_t sec, int32_t usec);

#endif
