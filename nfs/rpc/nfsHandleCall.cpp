// The remote calls on the task's handle (nfsrpc::exchange, nfsrpc::exchangeAll): the handle
// reused when it fits the call, else built anew over the channel to its server, which every
// task calling there shares (rpc/nfsRpcChannel.h); one call and a window of calls take the same
// path (callsOnHandle). The lock manager's calls have a handle of their own beside the task's
// (nfsRpcLockClient), so that a task alternating between them and NFS calls keeps both. The
// handles are the calling task's own: nothing here locks.
#include "core/nfsAuthUnix.h"
#include "core/nfsCallSettings.h"
#include "core/nfsConfig.h"
#include "rpc/nfsRpcChannel.h"
#include "rpc/nfsRpcClient.h"
#include "rpc/nfsRpcExchange.h"
#include "rpc/nfsRpcTransport.h"
#include "rpc/nfsRemoteCall.h"

#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/hostLib.h>
#include <kernel/kernelErrno.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {

// The lock manager's calls go on a handle of their own (nfsRpcLockClient).
constexpr uint32_t kLockManagerProgram = 100021;

// A handle whose buffers are smaller than the words now allow a transfer to be, or whose
// transport the word now rules out, is built anew.
bool handleFits(const NfsRpcClient *client, const char *host, uint32_t prog, uint32_t vers)
{
    return client->valid != 0 && client->progNum == prog && client->versNum == vers &&
           std::strcmp(client->hostName, host) == 0 && client->authCount == nfsAuthCount &&
           nfsRpcTransportAllowed(prog, vers, client->transport) &&
           nfsCallPortFits(prog, ntohs(client->server.sin_port)) &&
           client->bufferSize >= nfsRpcBufferSize(client->transport);
}

// Destroys a handle that was never made valid: credential, then the handle with its hold on
// the channel.
void discardNewHandle(NfsRpcClient *client)
{
    if (client->pClient->cl_auth != nullptr) {
        auth_destroy(client->pClient->cl_auth);
        client->pClient->cl_auth = nullptr;
    }
    clnt_destroy(client->pClient);
    client->pClient = nullptr;
    client->socket = -1;
}

std::size_t windowSize();

// What a UDP socket's buffers must hold for WINDOW messages of MESSAGESIZE bytes in flight.
int neededBufferSize(uint32_t messageSize, std::size_t window)
{
    const uint64_t needed = static_cast<uint64_t>(messageSize) * window;
    return static_cast<int>(std::min<uint64_t>(needed, INT_MAX));
}

// The user's socket buffer size, raised only as far as the largest messages need for the
// window of calls in flight of every task that shares the socket (a datagram that finds the
// buffer full is dropped and costs its call a retransmission); a larger word stays, and a
// buffer raised for more tasks is not lowered again.
bool setBufferSizes(NfsRpcChannel *channel, uint32_t messageSize)
{
    const std::size_t calls = windowSize() * static_cast<std::size_t>(std::max(nfsRpcChannelHolders(channel), 1));
    const int size = std::max(nfsSockBufSize, neededBufferSize(messageSize, calls));
    int set = channel->bufferSize.load();
    do {
        if (set >= size)
            return true;
    } while (!channel->bufferSize.compare_exchange_weak(set, size));
    const int socket = channel->socket();
    return setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &size, sizeof size) != -1 &&
           setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &size, sizeof size) != -1;
}

// An AUTH_UNIX credential carries at most 16 groups: the first 16 of the record go.
AUTH *createCredential()
{
    const int nGroups = std::clamp(nfsAuthUnix.nGroups, 0, NFS_AUTH_MAX_WIRE_GROUPS);
    uid_t groups[NFS_AUTH_MAX_WIRE_GROUPS] = {};
    for (int i = 0; i < nGroups; ++i)
        groups[i] = static_cast<uid_t>(nfsAuthUnix.groups[i]);
    char machineName[NFS_AUTH_MACHINE_NAME_LEN];
    std::memcpy(machineName, nfsAuthUnix.machineName, sizeof machineName);
    machineName[sizeof machineName - 1] = '\0';
    return authunix_create(machineName, static_cast<uid_t>(nfsAuthUnix.uid),
                           static_cast<uid_t>(nfsAuthUnix.gid), nGroups, groups);
}

// Message sizes of a handle: the largest transfer the configuration words allow over its transport.
NfsUdpMessageSizes messageSizes(int transport)
{
    const uint32_t size = nfsRpcBufferSize(transport);
    return {size, size};
}

// The task's handle over the channel to ADDRESS (opened when no task holds one: a TCP connection
// within the deadline, from a reserved port where allowed). The kernel's self-tuning buffers of
// a connection are left alone: a fixed size would only cap the window.
CLIENT *createChannelHandle(const sockaddr_in &address, int transport, uint32_t prog, uint32_t vers,
                            NfsRpcClock::time_point deadline, int *pSocket)
{
    int error = 0;
    NfsRpcChannel *channel = nfsRpcChannelOpen(address, transport, deadline, &error);
    if (channel == nullptr) {
        errnoSet(error);
        return nullptr;
    }
    CLIENT *handle = nfsRpcChannelHandle(channel, prog, vers, messageSizes(transport));
    if (handle == nullptr) {
        nfsRpcChannelRelease(channel);
        errnoSet(K_ENOMEM);
        return nullptr;
    }
    *pSocket = channel->socket();
    return handle;
}

// Builds the handle with its socket, buffer sizes and credential, the port query bounded by
// the call's deadline: 0, or the error number of the step that failed.
int createHandle(NfsRpcClient *client, const char *host, uint32_t prog, uint32_t vers,
                 NfsRpcClock::time_point deadline)
{
    const int resolved = hostGetByName(host);
    if (resolved == -1)
        return errnoGet();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = static_cast<in_addr_t>(resolved);
    const NfsTransportChoice choice = nfsRpcTransportChoose(address.sin_addr.s_addr, prog, vers, deadline);
    if (choice.error != 0)
        return choice.error;
    address.sin_port = htons(choice.port);
    const bool tcp = choice.transport == IPPROTO_TCP;
    const NfsUdpMessageSizes sizes = messageSizes(choice.transport);

    client->pClient = createChannelHandle(address, choice.transport, prog, vers, deadline, &client->socket);
    if (client->pClient == nullptr)
        return errnoGet();

    client->ownerId = kernelId;
    if (!tcp && !setBufferSizes(nfsRpcHandleChannel(client->pClient), std::max(sizes.send, sizes.receive))) {
        const int error = errnoGet();
        discardNewHandle(client);
        return error;
    }

    if (client->pClient->cl_auth != nullptr)
        auth_destroy(client->pClient->cl_auth);
    client->pClient->cl_auth = createCredential();
    if (client->pClient->cl_auth == nullptr) {
        discardNewHandle(client);
        return NFS_ERR_AUTH_UNIX_FAILED;
    }

    client->progNum = prog;
    client->authCount = nfsAuthCount;
    client->versNum = vers;
    client->bufferSize = std::min(sizes.send, sizes.receive);
    client->server = address;
    client->transport = choice.transport;
    std::strcpy(client->hostName, host); // length checked by the caller
    client->valid = 1;
    return 0;
}

// The error number of a failed RPC status, as the kernel forms it.
int rpcError(clnt_stat status)
{
    rpcClntErrnoSet(status);
    return errnoGet();
}

// A lock manager's port is the portmapper's to give, and moves when its server restarts (the
// NFS port stays): its handle is not used again over a connection the server closed, but
// built anew with the port asked again (callsOnHandle does the same after a refusal).
bool lockConnectionGone(NfsRpcClient *client)
{
    NfsRpcChannel *channel = nfsRpcHandleChannel(client->pClient);
    if (channel == nullptr || !channel->tcp())
        return false;
    channel->checkIdle();
    return channel->broken();
}

// The task's handle made ready for a call to PEER, made or remade first when it does not fit:
// the handle (*reused says whether it served an earlier call), or null with *error set.
NfsRpcClient *readyHandle(const nfsrpc::Peer &peer, NfsRpcClock::time_point deadline, int *error, bool *reused)
{
    if (nfsInit() == -1) {
        *error = errnoGet();
        return nullptr;
    }
    *error = peer.host == nullptr ? K_HOST_UNKNOWN : 0;
    // The handle remembers the host by name; one that does not fit is refused, not cut.
    if (*error == 0 && std::strlen(peer.host) >= NFS_HOST_NAME_LEN)
        *error = K_ENAMETOOLONG;
    if (*error != 0)
        return nullptr;
    NfsRpcClient *client = nfsRpcClientCurrent();
    if (peer.prog == kLockManagerProgram)
        client = nfsRpcLockClient(client);
    if (client == nullptr) {
        *error = K_ENOMEM;
        return nullptr;
    }
    if (peer.prog == kLockManagerProgram && client->valid != 0 && lockConnectionGone(client))
        nfsClientCleanUp(client);
    *reused = handleFits(client, peer.host, peer.prog, peer.vers);
    if (!*reused) {
        nfsClientCleanUp(client);
        *error = createHandle(client, peer.host, peer.prog, peer.vers, deadline);
        if (*error != 0)
            return nullptr;
    }
    return client;
}

// The exchange's shape of a call on the handle.
NfsRpcExchange exchangeOf(const NfsRpcClient *client, const nfsrpc::Peer &peer, uint32_t proc,
                          xdrproc_t inproc, const void *in, xdrproc_t outproc, void *out,
                          NfsRpcClock::time_point deadline)
{
    // The address comes from the record, not from the library's handle: asking the handle for it
    // takes a process-wide lock and masks signals on every call. The arguments are only encoded.
    return NfsRpcExchange{client->socket,
                          client->server,
                          client->pClient->cl_auth,
                          peer.prog,
                          peer.vers,
                          proc,
                          inproc,
                          const_cast<void *>(in),
                          outproc,
                          out,
                          messageSizes(client->transport),
                          nfsRpcDuration(nfsCallReXmit().sec, nfsCallReXmit().usec),
                          deadline,
                          client->transport};
}

// The module's time-out bounds the whole call, a new handle's port query included.
NfsRpcClock::time_point callDeadline()
{
    return NfsRpcClock::now() + nfsRpcDuration(nfsCallTimeout().sec, nfsCallTimeout().usec);
}

std::size_t windowSize()
{
    const int32_t word = nfsCallWindow();
    return static_cast<std::size_t>(
        std::clamp<int32_t>(word, 1, static_cast<int32_t>(nfsrpc::kMostInFlight)));
}

// The UDP socket's receive buffer in bytes of data: the size the system reports counts its own
// overhead, about as much again as the data.
std::size_t receiveRoom(int socket)
{
    int room = 0;
    socklen_t length = sizeof room;
    if (getsockopt(socket, SOL_SOCKET, SO_RCVBUF, &room, &length) != 0 || room <= 0)
        return 0;
    return static_cast<std::size_t>(room) / 2;
}

// The window bounded by the answers the UDP socket's receive buffer holds at once. A buffer
// sized for a smaller window (the word was raised after the handle was made) is raised first;
// the system may grant less than was asked.
std::size_t windowRoom(const NfsRpcClient *client, std::size_t window)
{
    const NfsUdpMessageSizes sizes = messageSizes(client->transport);
    std::size_t room = receiveRoom(client->socket);
    const int needed = neededBufferSize(sizes.receive, window);
    if (room < static_cast<std::size_t>(needed)) {
        setsockopt(client->socket, SOL_SOCKET, SO_RCVBUF, &needed, sizeof needed);
        room = receiveRoom(client->socket);
    }
    const std::size_t byAnswers = room / std::max<u_int>(sizes.receive, 1);
    // The server's buffer is unknown: a burst of calls larger than a common default socket
    // buffer is dropped there (eight WRITEs of 32 KiB were, each loss costing a retransmission
    // interval), so the calls in flight carry at most that much.
    constexpr std::size_t kMostBytesInFlight = std::size_t{128} * 1024;
    const std::size_t byCalls = kMostBytesInFlight / std::max<u_int>(sizes.send, 1);
    return std::clamp<std::size_t>(std::min(byAnswers, byCalls), 1, window);
}

// The calls on CLIENT's ready handle (callsOnHandle): true when they were refused (an ICMP
// error or a refused connection), which leaves the handle dropped.
bool callsOnReadyHandle(NfsRpcClient *client, const nfsrpc::Peer &peer, nfsrpc::Call *calls, std::size_t n,
                        std::size_t window, NfsRpcClock::time_point deadline)
{
    const bool tcp = client->transport == IPPROTO_TCP;
    const std::size_t inFlight = tcp || window == 1 ? window : windowRoom(client, window);
    NfsRpcWindowCall flights[kMostWindowCalls];
    for (std::size_t i = 0; i < n; ++i)
        flights[i] = {.inproc = calls[i].inproc,
                      .in = const_cast<void *>(calls[i].in),
                      .outproc = calls[i].outproc,
                      .out = calls[i].out,
                      .proc = calls[i].proc,
                      .status = RPC_SUCCESS};
    const NfsRpcExchange common = exchangeOf(client, peer, 0, nullptr, nullptr, nullptr, nullptr, deadline);
    const clnt_stat status =
        nfsRpcChannelExchange(nfsRpcHandleChannel(client->pClient), common, flights, n, inFlight);
    const int failure = status == RPC_SUCCESS ? 0 : rpcError(status);
    for (std::size_t i = 0; i < n; ++i)
        calls[i].error = flights[i].status == RPC_SUCCESS ? 0 : failure;
    if (status != RPC_SUCCESS)
        nfsClientCleanUp(client);
    return status == RPC_CANTRECV;
}

// The N calls (at most kMostWindowCalls) over the task's handle, up to WINDOW of them in
// flight, the handle made or remade first when it does not fit: one call alone is a window of
// one. The first failure ends them and drops the handle; the calls not completed carry its
// error number. A lock manager's call refused on a handle used again (its server restarted on
// another port) is made once more on a new handle, within the same time-out.
void callsOnHandle(const nfsrpc::Peer &peer, nfsrpc::Call *calls, std::size_t n, std::size_t window)
{
    const NfsRpcClock::time_point deadline = callDeadline();
    bool again = peer.prog == kLockManagerProgram && n == 1;
    int error = 0;
    bool reused = false;
    NfsRpcClient *client = readyHandle(peer, deadline, &error, &reused);
    for (;;) {
        if (client == nullptr) {
            for (std::size_t i = 0; i < n; ++i)
                calls[i].error = error;
            return;
        }
        if (!callsOnReadyHandle(client, peer, calls, n, window, deadline) || !again || !reused)
            return;
        again = false;
        client = readyHandle(peer, deadline, &error, &reused);
    }
}

} // namespace

namespace nfsrpc {

int exchange(const Peer &peer, uint32_t proc, xdrproc_t inproc, const void *in, xdrproc_t outproc, void *out)
{
    const int savedErrno = errnoGet();
    Call call{proc, inproc, in, outproc, out, 0};
    callsOnHandle(peer, &call, 1, 1);
    errnoSet(savedErrno);
    return call.error;
}

bool windowOpen()
{
    return windowSize() > 1;
}

std::size_t windowCalls()
{
    return windowSize();
}

void exchangeAll(const Peer &peer, Call *calls, std::size_t n)
{
    const int savedErrno = errnoGet();
    const std::size_t window = windowSize();
    if (window > 1 && n > 1 && n <= kMostWindowCalls) {
        callsOnHandle(peer, calls, n, window);
    } else {
        // One at a time: the first failure ends the rest.
        int failure = 0;
        for (std::size_t i = 0; i < n; ++i) {
            calls[i].error = failure;
            if (failure == 0)
                callsOnHandle(peer, &calls[i], 1, 1);
            failure = calls[i].error;
        }
    }
    errnoSet(savedErrno);
}

} // namespace nfsrpc
