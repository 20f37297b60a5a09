// The shape of a remote call and what every call path shares: transaction ids, the call
// message, the decoding of a reply, the task's message buffer. Calls travel on a channel per
// server (rpc/nfsRpcChannel.h); a call over a socket of the caller's own (the portmapper query)
// takes the same path over a channel of its own. The counters are atomic (rpc/nfsRpcStats.h).
#ifndef NFS_RPC_NFSRPCEXCHANGE_H
#define NFS_RPC_NFSRPCEXCHANGE_H

#include <brisnel/nfsRpcLib.h>
#include <kernel/semLib.h>

#include <rpc/rpc.h>
#include <netinet/in.h>

#include <chrono>
#include <cstddef>
#include <vector>

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
    int transport = IPPROTO_UDP; // IPPROTO_TCP: socket is a connection to server
};

// The RPC status of the call over call.socket (a UDP socket, or with call.transport
// IPPROTO_TCP a connection to call.server, opened again under its number if it breaks).
// Answers with another transaction id are dropped and cost the call nothing; the answer's
// source address is not looked at.
clnt_stat nfsRpcExchange(const NfsRpcExchange &call);
// The same over the TCP connection call.socket.
clnt_stat nfsRpcTcpExchange(const NfsRpcExchange &call);

// A connection to SERVER opened by a non-blocking connect that ends by DEADLINE, from a
// reserved port where the process may bind one, with Nagle's delay off. With REPLACING >= 0
// the new connection takes that descriptor's number (the old connection is closed). The
// descriptor, or -1 with errno set (ETIMEDOUT when the deadline passed).
int nfsRpcTcpConnect(const sockaddr_in &server, int replacing, NfsRpcClock::time_point deadline);

// One of several calls made together (nfsRpcChannelExchange): its own procedure, arguments
// and result, and its RPC status once it ended.
struct NfsRpcWindowCall {
    xdrproc_t inproc;
    void *in;
    xdrproc_t outproc;
    void *out;
    uint32_t proc;
    clnt_stat status;
};

// The most calls one windowed exchange takes.
constexpr std::size_t kMostWindowCalls = 16;

// Shared by both transports.
uint32_t nfsRpcTransactionId();
// The refusals (ICMP errors) queued on a UDP socket, taken: the transaction ids of the calls
// they answer, into XIDS (at most ROOM), and their count. A refusal that quotes no datagram
// gives no id. Clears the socket's error and keeps its error number.
std::size_t nfsRpcTakeRefusals(int socket, uint32_t *xids, std::size_t room);
// Encodes the call message into AT (ROOM bytes); its length, or 0.
u_int nfsRpcEncodeCall(const NfsRpcExchange &call, uint32_t xid, char *at, u_int room);
// Decodes an answer to the call into its result buffer and tells its status.
clnt_stat nfsRpcDecodeReply(const NfsRpcExchange &call, char *at, std::size_t length);
// The task's message buffer, kept in its client record from call to call and grown to at least
// SEND bytes, and the semaphore that wakes the task when an answer of its arrives; null
// (RPC_SYSTEMERROR for the call) when the task has no record or memory runs out. They live as
// long as the record, so a call made from an exit handler, after the thread's own objects are
// gone, still has them.
// They also keep what the task learnt of TCP connections: how many calls it keeps in flight on
// one (0 before it has learnt anything: the window).
struct NfsRpcBuffers {
    NfsRpcBuffers();
    ~NfsRpcBuffers();
    NfsRpcBuffers(const NfsRpcBuffers &) = delete;
    NfsRpcBuffers &operator=(const NfsRpcBuffers &) = delete;
    std::vector<char> message;
    SEM_ID wake;
    std::size_t tcpInFlight = 0;
};
NfsRpcBuffers *nfsRpcTaskBuffers(std::size_t send);
// Releases what nfsRpcTaskBuffers kept in the record.
void nfsRpcTaskBuffersFree(NfsRpcClient *client);
// poll's wait until WHEN, at most an hour at a time.
int nfsRpcMillisecondsUntil(NfsRpcClock::time_point when, NfsRpcClock::time_point now);

// What a portmapper said of a program's port: nothing (no answer), not registered (port 0),
// or the port.
struct NfsPortAnswer {
    bool answered;
    uint16_t port;
};
// The port of PROG and VERS over PROTOCOL (IPPROTO_UDP or IPPROTO_TCP) from the portmapper at
// ADDRESS (GETPORT over UDP), asked until DEADLINE at the latest.
NfsPortAnswer nfsRpcPortQuery(in_addr_t address, uint32_t prog, uint32_t vers, int protocol,
                              NfsRpcClock::time_point deadline);

// A time-out given as seconds and microseconds; negative parts count as zero.
NfsRpcClock::duration nfsRpcDuration(int32_t sec, int32_t usec);

#endif
