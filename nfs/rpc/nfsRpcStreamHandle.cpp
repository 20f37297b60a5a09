// The client handle of a task's TCP connection: the module's own, over the connection it opened
// (nfsRpcTcpConnect), so that nothing of the RPC library's stream clients is needed (the C
// library of some targets has none). It carries the credential and releases decoded results
// as any handle does; a call made through it (clnt_call) goes the module's TCP path.
//
// A handle belongs to the task whose record holds it: nothing here locks.
#include "rpc/nfsRpcExchange.h"

#include <unistd.h>

#include <cstring>
#include <new>

namespace {

struct StreamHandle {
    CLIENT client;
    sockaddr_in server;
    int socket;
    uint32_t prog;
    uint32_t vers;
    NfsUdpMessageSizes sizes;
    bool closeOnDestroy;
    rpc_err lastError;
};

StreamHandle *handleOf(CLIENT *client)
{
    return static_cast<StreamHandle *>(client->cl_private);
}

clnt_stat streamCall(CLIENT *client, rpcproc_t proc, xdrproc_t inproc, void *in, xdrproc_t outproc, void *out,
                     timeval timeout)
{
    StreamHandle *handle = handleOf(client);
    const NfsRpcClock::time_point deadline =
        NfsRpcClock::now() +
        nfsRpcDuration(static_cast<int32_t>(timeout.tv_sec), static_cast<int32_t>(timeout.tv_usec));
    const NfsRpcExchange call{handle->socket,  handle->server,
                              client->cl_auth, handle->prog,
                              handle->vers,    static_cast<uint32_t>(proc),
                              inproc,          in,
                              outproc,         out,
                              handle->sizes,   NfsRpcClock::duration::zero(),
                              deadline,        IPPROTO_TCP};
    handle->lastError = rpc_err{};
    handle->lastError.re_status = nfsRpcTcpExchange(call);
    return handle->lastError.re_status;
}

void streamAbort(CLIENT * /*client*/) {}

void streamGetError(CLIENT *client, rpc_err *error)
{
    *error = handleOf(client)->lastError;
}

bool_t streamFreeResults(CLIENT * /*client*/, xdrproc_t outproc, void *out)
{
    xdr_free(outproc, static_cast<char *>(out));
    return TRUE;
}

void streamDestroy(CLIENT *client)
{
    StreamHandle *handle = handleOf(client);
    if (handle->closeOnDestroy && handle->socket >= 0)
        close(handle->socket);
    delete handle;
}

bool_t streamControl(CLIENT *client, u_int request, void *info)
{
    StreamHandle *handle = handleOf(client);
    switch (request) {
    case CLSET_FD_CLOSE: handle->closeOnDestroy = true; return TRUE;
    case CLSET_FD_NCLOSE: handle->closeOnDestroy = false; return TRUE;
    case CLGET_FD:
        if (info == nullptr)
            return FALSE;
        std::memcpy(info, &handle->socket, sizeof handle->socket);
        return TRUE;
    case CLGET_SERVER_ADDR:
        if (info == nullptr)
            return FALSE;
        std::memcpy(info, &handle->server, sizeof handle->server);
        return TRUE;
    default: return FALSE;
    }
}

CLIENT::clnt_ops streamOps = {streamCall,        streamAbort,   streamGetError,
                              streamFreeResults, streamDestroy, streamControl};

} // namespace

CLIENT *nfsRpcStreamHandle(const sockaddr_in &server, int socket, uint32_t prog, uint32_t vers,
                           NfsUdpMessageSizes sizes)
{
    auto *made =
        new (std::nothrow) StreamHandle{CLIENT{}, server, socket, prog, vers, sizes, true, rpc_err{}};
    if (made == nullptr)
        return nullptr;
    made->client.cl_ops = &streamOps;
    made->client.cl_private = made;
    return &made->client;
}
