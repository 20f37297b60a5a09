// What every call path shares: transaction ids, the task's message buffer, the call message
// and the decoding of a reply.
//
// The exchange is the module's own rather than the library's call operation: the library
// charges every answer with a foreign transaction id (a late duplicate, an answer to an
// earlier handle bound to the same port) a whole retransmission interval, so that a few of
// them fail a call in milliseconds. Here such answers are dropped for free, and every call
// has a transaction id that no earlier call of this process used, so nothing left from a
// torn-down handle is taken for an answer.
#include "rpc/nfsRpcExchange.h"

#include "rpc/nfsRpcStats.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

uint32_t nfsRpcTransactionId()
{
    static std::atomic<uint32_t> next{
        static_cast<uint32_t>(static_cast<uint64_t>(NfsRpcClock::now().time_since_epoch().count()) ^
                              (static_cast<uint64_t>(getpid()) << 16))};
    return next.fetch_add(1, std::memory_order_relaxed);
}

NfsRpcBuffers::NfsRpcBuffers() : wake(semBCreate(SEM_Q_PRIORITY, SEM_EMPTY)) {}

NfsRpcBuffers::~NfsRpcBuffers()
{
    if (wake != nullptr)
        semDelete(wake);
}

// Once a task has made a call, its later calls allocate nothing.
NfsRpcBuffers *nfsRpcTaskBuffers(std::size_t send)
{
    NfsRpcClient *client = nfsRpcClientCurrent();
    if (client == nullptr)
        return nullptr;
    if (client->pBuffers == nullptr)
        client->pBuffers = new (std::nothrow) NfsRpcBuffers;
    auto *buffers = static_cast<NfsRpcBuffers *>(client->pBuffers);
    if (buffers == nullptr || buffers->wake == nullptr)
        return nullptr;
    try {
        if (buffers->message.size() < send)
            buffers->message.resize(send);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    return buffers;
}

void nfsRpcTaskBuffersFree(NfsRpcClient *client)
{
    delete static_cast<NfsRpcBuffers *>(client->pBuffers);
    client->pBuffers = nullptr;
}

// The call message: header, procedure, credential, arguments.
u_int nfsRpcEncodeCall(const NfsRpcExchange &call, uint32_t xid, char *at, u_int room)
{
    XDR xdrs;
    xdrmem_create(&xdrs, at, room, XDR_ENCODE);
    rpc_msg header{};
    header.rm_xid = xid;
    header.rm_call.cb_prog = call.prog;
    header.rm_call.cb_vers = call.vers;
    uint32_t proc = call.proc;
    // The argument routine is typed for its own object, not for the variadic xdrproc_t it
    // arrives as, so calling it through that type here would be undefined: the library, which
    // calls such routines for a living, calls it.
    auto *arguments = static_cast<char *>(call.in);
    const bool encoded = xdr_callhdr(&xdrs, &header) && xdr_u_int32_t(&xdrs, &proc) &&
                         AUTH_MARSHALL(call.auth, &xdrs) && xdr_reference(&xdrs, &arguments, 0, call.inproc);
    const u_int length = encoded ? xdr_getpos(&xdrs) : 0;
    xdr_destroy(&xdrs);
    return length;
}

namespace {

// The reply status is the message's third word. The library's decoder stores whatever value it
// finds there before it fails on one that is neither accepted nor denied, and the enumeration
// cannot hold such a value: a reply carrying one is refused before it is decoded.
bool knownReplyStatus(const char *at, std::size_t length)
{
    constexpr std::size_t kStatusAt = 2 * sizeof(uint32_t);
    uint32_t status = 0;
    if (length < kStatusAt + sizeof status)
        return true; // too short to be a reply: the decoder refuses it without storing a status
    std::memcpy(&status, at + kStatusAt, sizeof status);
    status = ntohl(status);
    return status == MSG_ACCEPTED || status == MSG_DENIED;
}

} // namespace

clnt_stat nfsRpcDecodeReply(const NfsRpcExchange &call, char *at, std::size_t length)
{
    if (!knownReplyStatus(at, length))
        return RPC_CANTDECODERES;
    XDR xdrs;
    xdrmem_create(&xdrs, at, static_cast<u_int>(length), XDR_DECODE);
    rpc_msg reply{};
    reply.acpted_rply.ar_verf = _null_auth;
    reply.acpted_rply.ar_results.where = static_cast<caddr_t>(call.out);
    reply.acpted_rply.ar_results.proc = call.outproc;
    clnt_stat status = RPC_CANTDECODERES;
    if (xdr_replymsg(&xdrs, &reply)) {
        rpc_err error{};
        _seterr_reply(&reply, &error);
        status = error.re_status;
        if (status == RPC_SUCCESS && !AUTH_VALIDATE(call.auth, &reply.acpted_rply.ar_verf))
            status = RPC_AUTHERROR;
    }
    // Only an accepted reply decodes a verifier: a rejection's version numbers share its storage.
    if (reply.rm_reply.rp_stat == MSG_ACCEPTED && reply.acpted_rply.ar_verf.oa_base != nullptr)
        xdr_free(reinterpret_cast<xdrproc_t>(xdr_opaque_auth),
                 reinterpret_cast<char *>(&reply.acpted_rply.ar_verf));
    xdr_destroy(&xdrs);
    return status;
}

int nfsRpcMillisecondsUntil(NfsRpcClock::time_point when, NfsRpcClock::time_point now)
{
    constexpr std::chrono::milliseconds kLongestWait = std::chrono::hours(1);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(when - now);
    return static_cast<int>(std::clamp(wait, std::chrono::milliseconds(0), kLongestWait).count());
}

// Each queued refusal carries the start of the datagram it answers, which is the call's
// transaction id. The error queue is read into a buffer of its own: a message without one
// reads as 0 bytes for ever under some emulators, which would never end the loop.
std::size_t nfsRpcTakeRefusals(int socket, uint32_t *xids, std::size_t room)
{
    int error = 0;
    socklen_t length = sizeof error;
    getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length);
    // Room for the error's control message many times over: qemu-user's conversion of it
    // writes past a buffer of the size the message needs (seen as a smashed stack on PowerPC).
    // Kept per thread, off the task's stack.
    thread_local std::array<char, 4096> scrap{};
    std::array<char, 64> payload{};
    iovec data{payload.data(), payload.size()};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    std::size_t n = 0;
    // A bounded drain: refusals that keep arriving must not hold the call here.
    constexpr int kMostQueued = 64;
    for (int read = 0; read < kMostQueued; ++read) {
        message.msg_control = scrap.data();
        message.msg_controllen = scrap.size();
        const ssize_t got = recvmsg(socket, &message, MSG_ERRQUEUE | MSG_DONTWAIT);
        if (got < 0)
            break;
        if (static_cast<std::size_t>(got) >= sizeof(uint32_t) && n < room) {
            uint32_t xid = 0;
            std::memcpy(&xid, payload.data(), sizeof xid);
            xids[n++] = ntohl(xid);
        }
    }
    errno = error != 0 ? error : ECONNREFUSED;
    return n;
}

NfsRpcClock::duration nfsRpcDuration(int32_t sec, int32_t usec)
{
    return std::chrono::seconds(std::max(sec, 0)) + std::chrono::microseconds(std::max(usec, 0));
}
