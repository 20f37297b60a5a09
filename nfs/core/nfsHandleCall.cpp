// The remote call on the task's handle (nfsrpc::exchange): the handle reused when it fits the
// call, else built anew; the exchange itself is the transport's (nfsRpcExchange.cpp).
#include "core/nfsAuthUnix.h"
#include "core/nfsConfig.h"
#include "core/nfsRpcClient.h"
#include "core/nfsRpcExchange.h"
#include "core/nfsRpcTransport.h"
#include "core/nfsRemoteCall.h"

#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/hostLib.h>
#include <kernel/kernelErrno.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

// A handle whose buffers are smaller than the words now allow a transfer to be, or whose
// transport the word now rules out, is built anew.
bool handleFits(const NfsRpcClient *client, const char *host, uint32_t prog, uint32_t vers)
{
    return client->valid != 0 && client->progNum == prog && client->versNum == vers &&
           std::strcmp(client->hostName, host) == 0 && client->authCount == nfsAuthCount &&
           nfsRpcTransportAllowed(client->transport) && client->bufferSize >= nfsRpcBufferSize(client->transport);
}

// Destroys a handle that was never made valid: credential, then the handle with its socket.
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

// The user's socket buffer size, or what the handle's largest message needs when that is more.
bool setBufferSizes(int socket, uint32_t messageSize)
{
    const int size = std::max(nfsSockBufSize, static_cast<int>(messageSize));
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

// The library's handle over a connection this module opened (bounded by the deadline, from a
// reserved port where allowed); it serves the credential and the release of results, and
// closes the connection when destroyed. The library's own stream buffers are not used, so
// they stay at its defaults. The kernel's self-tuning socket buffers are left alone: a fixed
// size would only cap the window.
CLIENT *createTcpHandle(sockaddr_in *address, uint32_t prog, uint32_t vers, NfsRpcClock::time_point deadline,
                        int *pSocket)
{
    *pSocket = nfsRpcTcpConnect(*address, -1, deadline);
    if (*pSocket < 0) {
        if (errno == ETIMEDOUT)
            rpcClntErrnoSet(RPC_TIMEDOUT); // the call's deadline passed while connecting
        else
            errnoSet(errno);
        return nullptr;
    }
    CLIENT *handle = clnttcp_create(address, prog, vers, pSocket, 0, 0);
    if (handle == nullptr) {
        const int error = errno;
        close(*pSocket);
        *pSocket = -1;
        errnoSet(error);
        return nullptr;
    }
    clnt_control(handle, CLSET_FD_CLOSE, nullptr);
    return handle;
}

CLIENT *createUdpHandle(sockaddr_in *address, uint32_t prog, uint32_t vers, NfsUdpMessageSizes sizes,
                        int *pSocket)
{
    const timeval wait{nfsReXmitSec, nfsReXmitUSec};
    *pSocket = -1;
    return clntudp_bufcreate(address, prog, vers, wait, pSocket, sizes.send, sizes.receive);
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

    client->pClient = tcp ? createTcpHandle(&address, prog, vers, deadline, &client->socket)
                          : createUdpHandle(&address, prog, vers, sizes, &client->socket);
    if (client->pClient == nullptr)
        return errnoGet();

    client->ownerId = kernelId;
    if (!tcp && !setBufferSizes(client->socket, std::max(sizes.send, sizes.receive))) {
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

// The call on the task's handle, the handle made or remade first when it does not fit.
int callOnHandle(const nfsrpc::Peer &peer, uint32_t proc, xdrproc_t inproc, const void *in,
                 xdrproc_t outproc, void *out)
{
    if (nfsInit() == -1)
        return errnoGet();
    if (peer.host == nullptr)
        return K_HOST_UNKNOWN;
    // The handle remembers the host by name; one that does not fit is refused, not cut.
    if (std::strlen(peer.host) >= NFS_HOST_NAME_LEN)
        return K_ENAMETOOLONG;
    // The module's time-out bounds the whole call, a new handle's port query included.
    const NfsRpcClock::time_point deadline = NfsRpcClock::now() + nfsRpcDuration(nfsTimeoutSec, nfsTimeoutUSec);
    NfsRpcClient *client = nfsRpcClientCurrent();
    if (!handleFits(client, peer.host, peer.prog, peer.vers)) {
        nfsClientCleanUp(client);
        const int error = createHandle(client, peer.host, peer.prog, peer.vers, deadline);
        if (error != 0)
            return error;
    }
    const NfsUdpMessageSizes sizes = messageSizes(client->transport);

    // The address comes from the record, not from the library's handle: asking the handle for it
    // takes a process-wide lock and masks signals on every call. The arguments are only encoded.
    const NfsRpcExchange call{client->socket, client->server, client->pClient->cl_auth, peer.prog, peer.vers,
                              proc, inproc, const_cast<void *>(in), outproc, out, sizes,
                              nfsRpcDuration(nfsReXmitSec, nfsReXmitUSec), deadline, client->transport};
    const clnt_stat status = nfsRpcExchange(call);
    if (status == RPC_SUCCESS)
        return 0;
    nfsClientCleanUp(client);
    return rpcError(status);
}

} // namespace

namespace nfsrpc {

int exchange(const Peer &peer, uint32_t proc, xdrproc_t inproc, const void *in, xdrproc_t outproc, void *out)
{
    const int savedErrno = errnoGet();
    const int error = callOnHandle(peer, proc, inproc, in, outproc, out);
    errnoSet(savedErrno);
    return error;
}

} // namespace nfsrpc
