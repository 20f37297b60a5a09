// A task's client handle: the module's own, over the channel to its server (either transport),
// so that nothing of the RPC library's clients is needed (the C library of some targets has no
// stream client). It carries the credential and releases decoded results as any handle does; a
// call made through it (clnt_call) goes the channel's path. Destroying it gives up the task's
// hold on the channel, which closes with the last; the socket is the channel's to close, so the
// requests to close it or not are taken and change nothing.
//
// A handle belongs to the task whose record holds it: nothing here locks.
#include "rpc/nfsRpcChannel.h"

#include "core/nfsCallSettings.h"

#include <cstring>
#include <new>

namespace {

struct TaskHandle {
    CLIENT client;
    NfsRpcChannel *channel;
    uint32_t prog;
    uint32_t vers;
    NfsUdpMessageSizes sizes;
    rpc_err lastError;
};

TaskHandle *handleOf(CLIENT *client)
{
    return static_cast<TaskHandle *>(client->cl_private);
}

clnt_stat handleCall(CLIENT *client, rpcproc_t proc, xdrproc_t inproc, void *in, xdrproc_t outproc, void *out,
                     timeval timeout)
{
    TaskHandle *handle = handleOf(client);
    const NfsRpcClock::time_point deadline =
        NfsRpcClock::now() +
        nfsRpcDuration(static_cast<int32_t>(timeout.tv_sec), static_cast<int32_t>(timeout.tv_usec));
    NfsRpcChannel *channel = handle->channel;
    const NfsCallTime reXmit = nfsCallReXmit();
    const NfsRpcExchange call{channel->socket(),
                              channel->server(),
                              client->cl_auth,
                              handle->prog,
                              handle->vers,
                              static_cast<uint32_t>(proc),
                              inproc,
                              in,
                              outproc,
                              out,
                              handle->sizes,
                              nfsRpcDuration(reXmit.sec, reXmit.usec),
                              deadline,
                              channel->transport()};
    NfsRpcWindowCall one{inproc, in, outproc, out, static_cast<uint32_t>(proc), RPC_SUCCESS};
    handle->lastError = rpc_err{};
    handle->lastError.re_status = nfsRpcChannelExchange(channel, call, &one, 1, 1);
    return handle->lastError.re_status;
}

void handleAbort(CLIENT * /*client*/) {}

void handleGetError(CLIENT *client, rpc_err *error)
{
    *error = handleOf(client)->lastError;
}

bool_t handleFreeResults(CLIENT * /*client*/, xdrproc_t outproc, void *out)
{
    xdr_free(outproc, static_cast<char *>(out));
    return TRUE;
}

void handleDestroy(CLIENT *client)
{
    TaskHandle *handle = handleOf(client);
    nfsRpcChannelRelease(handle->channel);
    delete handle;
}

bool_t handleControl(CLIENT *client, u_int request, void *info)
{
    TaskHandle *handle = handleOf(client);
    switch (request) {
    case CLSET_FD_CLOSE:
    case CLSET_FD_NCLOSE: return TRUE;
    case CLGET_FD: {
        if (info == nullptr)
            return FALSE;
        const int socket = handle->channel->socket();
        std::memcpy(info, &socket, sizeof socket);
        return TRUE;
    }
    case CLGET_SERVER_ADDR:
        if (info == nullptr)
            return FALSE;
        std::memcpy(info, &handle->channel->server(), sizeof(sockaddr_in));
        return TRUE;
    default: return FALSE;
    }
}

CLIENT::clnt_ops handleOps = {handleCall,        handleAbort,   handleGetError,
                              handleFreeResults, handleDestroy, handleControl};

} // namespace

CLIENT *nfsRpcChannelHandle(NfsRpcChannel *channel, uint32_t prog, uint32_t vers, NfsUdpMessageSizes sizes)
{
    auto *made = new (std::nothrow) TaskHandle{CLIENT{}, channel, prog, vers, sizes, rpc_err{}};
    if (made == nullptr)
        return nullptr;
    made->client.cl_ops = &handleOps;
    made->client.cl_private = made;
    return &made->client;
}

NfsRpcChannel *nfsRpcHandleChannel(CLIENT *handle)
{
    return handle != nullptr && handle->cl_ops == &handleOps ? handleOf(handle)->channel : nullptr;
}
