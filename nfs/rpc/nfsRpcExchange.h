// The transport below the task's handle: calls over a UDP socket (each sent again after each
// retransmission interval until its answer comes or its deadline passes) or over a TCP
// connection (each sent once as a record; sent again with its transaction id only on a new
// connection when the old one breaks). One call and a window of calls take the same path: a
// single call is a window of one. The socket, the connection and the buffers are the calling
// task's own, so nothing here locks; the counters are atomic (rpc/nfsRpcStats.h).
#ifndef NFS_CORE_NFSRPCEXCHANGE_H
#define NFS_CORE_NFSRPCEXCHANGE_H

#include <brisnel/nfsRpcLib.h>

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

// The RPC status of the call. Answers with another transaction id are dropped and cost the
// call nothing; the answer's source address is not looked at.
clnt_stat nfsRpcExchange(const NfsRpcExchange &call);
// The same over the TCP connection call.socket (see rpc/nfsRpcTcpExchange.cpp).
clnt_stat nfsRpcTcpExchange(const NfsRpcExchange &call);

// The client handle of a TCP connection this module opened (rpc/nfsRpcStreamHandle.cpp): it
// carries the credential, releases results with xdr_free, answers CLGET_FD, CLGET_SERVER_ADDR
// and CLSET_FD_CLOSE/NCLOSE, and closes SOCKET when destroyed unless told not to. Null when
// memory runs out.
CLIENT *nfsRpcStreamHandle(const sockaddr_in &server, int socket, uint32_t prog, uint32_t vers,
                           NfsUdpMessageSizes sizes);

// A connection to SERVER opened by a non-blocking connect that ends by DEADLINE, from a
// reserved port where the process may bind one, with Nagle's delay off. With REPLACING >= 0
// the new connection takes that descriptor's number (the old connection is closed). The
// descriptor, or -1 with errno set (ETIMEDOUT when the deadline passed).
int nfsRpcTcpConnect(const sockaddr_in &server, int replacing, NfsRpcClock::time_point deadline);

// One of several calls made together (nfsRpcExchangeWindow): its own procedure, arguments
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
// The N calls (at most kMostWindowCalls) over the UDP socket of COMMON (whose own procedure, arguments and
// result are not used), at most WINDOW of them in flight at once, sent in order. Each has a transaction id of
// its own, is sent again after each retransmission interval and ends by its own deadline (the
// time from COMMON's start to COMMON.deadline, counted from its first sending); answers are
// taken by transaction id in whatever order they come. RPC_SUCCESS when every call completed;
// otherwise the status of the first failure, after which nothing more is sent: the calls not
// completed carry that status.
clnt_stat nfsRpcExchangeWindow(const NfsRpcExchange &common, NfsRpcWindowCall *calls, std::size_t n,
                               std::size_t window);

// The same over the TCP connection COMMON.socket: each call a record of its own, up to WINDOW
// sent before their answers; when the connection breaks, a new one is opened under the same
// descriptor and every call not yet answered is sent again with its transaction id.
clnt_stat nfsRpcTcpExchangeWindow(const NfsRpcExchange &common, NfsRpcWindowCall *calls, std::size_t n,
                                  std::size_t window);

// Shared by both exchanges.
uint32_t nfsRpcTransactionId();
// A refusal (an ICMP error) reported on a UDP socket: clears it and keeps its error number.
void nfsRpcTakeSocketError(int socket);
// Encodes the call message into AT (ROOM bytes); its length, or 0.
u_int nfsRpcEncodeCall(const NfsRpcExchange &call, uint32_t xid, char *at, u_int room);
// Decodes an answer to the call into its result buffer and tells its status.
clnt_stat nfsRpcDecodeReply(const NfsRpcExchange &call, char *at, std::size_t length);
// The task's message buffers, kept in its client record from call to call and grown to at
// least these sizes; null (RPC_SYSTEMERROR for the call) when the task has no record or memory
// runs out. They live as long as the record, so a call made from an exit handler, after the
// thread's own objects are gone, still has them.
// They also keep what the task learnt of its TCP connections: how many calls it keeps in
// flight on one (0 before it has learnt anything: the window).
struct NfsRpcBuffers {
    std::vector<char> message;
    std::vector<char> answer;
    std::size_t tcpInFlight = 0;
};
NfsRpcBuffers *nfsRpcTaskBuffers(std::size_t send, std::size_t receive);
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
