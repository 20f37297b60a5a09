// The remote call: reuse the task's handle when it fits the call, else build a new one.
#include "core/nfsAuthUnix.h"
#include "core/nfsConfig.h"
#include "core/nfsRpcClient.h"

#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/hostLib.h>
#include <kernel/kernelErrno.h>

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr uint16_t kNfsPort = 2049;
constexpr int kMaxStaleDatagrams = 256;

// A handle whose buffers are smaller than the words now allow a transfer to be is built anew.
bool handleFits(const NfsRpcClient *client, const char *host, uint32_t prog, uint32_t vers)
{
    return client->valid != 0 && client->progNum == prog && client->versNum == vers &&
           std::strcmp(client->hostName, host) == 0 && client->authCount == nfsAuthCount &&
           client->bufferSize >= nfsRpcBufferSize();
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

// Late answers to earlier calls (a server answering a retransmission too) wait on a reused
// handle's socket. The RPC library would charge each of them a whole retransmission interval
// of the next call's time-out, so that a few of them fail the call at once: drop them first.
void discardStaleDatagrams(int socket)
{
    const int savedErrno = errnoGet(); // a successful call leaves the error number as it was
    char scrap = 0;
    for (int i = 0; i < kMaxStaleDatagrams && recv(socket, &scrap, sizeof scrap, MSG_DONTWAIT) >= 0; ++i) {
    }
    errnoSet(savedErrno);
}

CLIENT *createUdpHandle(sockaddr_in *address, uint32_t prog, uint32_t vers, int *pSocket,
                        uint32_t bufferSize)
{
    const timeval wait{nfsReXmitSec, nfsReXmitUSec};
    *pSocket = -1;
    CLIENT *handle = clntudp_bufcreate(address, prog, vers, wait, pSocket, bufferSize, bufferSize);
    if (handle != nullptr)
        return handle;
    // The portmapper did not tell: try the well-known NFS port, whatever the program.
    address->sin_port = htons(kNfsPort);
    *pSocket = -1;
    return clntudp_bufcreate(address, prog, vers, wait, pSocket, bufferSize, bufferSize);
}

int createHandle(NfsRpcClient *client, const char *host, uint32_t prog, uint32_t vers)
{
    const int resolved = hostGetByName(host);
    if (resolved == -1)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    address.sin_addr.s_addr = static_cast<in_addr_t>(resolved);

    const uint32_t bufferSize = nfsRpcBufferSize();
    client->pClient = createUdpHandle(&address, prog, vers, &client->socket, bufferSize);
    if (client->pClient == nullptr)
        return -1;

    client->ownerId = kernelId;
    if (!setBufferSizes(client->socket, bufferSize)) {
        const int error = errnoGet();
        discardNewHandle(client);
        errnoSet(error);
        return -1;
    }

    if (client->pClient->cl_auth != nullptr)
        auth_destroy(client->pClient->cl_auth);
    client->pClient->cl_auth = createCredential();
    if (client->pClient->cl_auth == nullptr) {
        discardNewHandle(client);
        errnoSet(NFS_ERR_AUTH_UNIX_FAILED);
        return -1;
    }

    client->progNum = prog;
    client->authCount = nfsAuthCount;
    client->versNum = vers;
    client->bufferSize = bufferSize;
    std::strcpy(client->hostName, host); // length checked by the caller
    client->valid = 1;
    return 0;
}

} // namespace

extern "C" int nfsClientCall(const char *host, uint32_t prog, uint32_t vers, uint32_t proc,
                             xdrproc_t inproc, void *in, xdrproc_t outproc, void *out)
{
    if (nfsInit() == -1)
        return -1;
    if (host == nullptr) {
        errnoSet(K_HOST_UNKNOWN);
        return -1;
    }
    // The handle remembers the host by name; one that does not fit is refused, not cut.
    if (std::strlen(host) >= NFS_HOST_NAME_LEN) {
        errnoSet(K_ENAMETOOLONG);
        return -1;
    }
    NfsRpcClient *client = nfsRpcClientCurrent();
    if (handleFits(client, host, prog, vers)) {
        discardStaleDatagrams(client->socket);
    } else {
        nfsClientCleanUp(client);
        if (createHandle(client, host, prog, vers) == -1)
            return -1;
    }

    const timeval total{nfsTimeoutSec, nfsTimeoutUSec};
    const clnt_stat status = clnt_call(client->pClient, proc, inproc, static_cast<caddr_t>(in),
                                       outproc, static_cast<caddr_t>(out), total);
    if (status == RPC_SUCCESS)
        return 0;
    nfsClientCleanUp(client);
    rpcClntErrnoSet(status);
    return -1;
}
