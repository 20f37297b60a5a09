// The per-task client record: creation, teardown of its handle, and release at task exit.
//
// Each task reaches only its own record, through its RPC context, so nothing here locks.
#include "rpc/nfsRpcClient.h"

#include "core/nfsConfig.h"
#include "rpc/nfsRpcExchange.h"

#include <kernel/rpcLib.h>

#include <cstdlib>

namespace {

RpcTaskContext *currentContext()
{
    return rpcTaskContext(taskIdCurrent());
}

// Restores the two cancellation types saved at construction, through whichever hooks exist.
class CancelTypeScope {
public:
    CancelTypeScope()
    {
        if (_func_pthread_setcanceltype != nullptr)
            _func_pthread_setcanceltype(0, &savedThreadType_);
        if (_func_rtpPthreadSetCancelType != nullptr)
            _func_rtpPthreadSetCancelType(0, &savedRtpType_);
    }
    CancelTypeScope(const CancelTypeScope &) = delete;
    CancelTypeScope &operator=(const CancelTypeScope &) = delete;
    ~CancelTypeScope()
    {
        int ignored = 0;
        if (_func_pthread_setcanceltype != nullptr)
            _func_pthread_setcanceltype(savedThreadType_, &ignored);
        if (_func_rtpPthreadSetCancelType != nullptr)
            _func_rtpPthreadSetCancelType(savedRtpType_, &ignored);
    }

private:
    int savedThreadType_ = 0;
    int savedRtpType_ = 0;
};

// Where sockets belong to processes, the descriptor is handed back to its owner instead of
// being closed by the destroy operation.
void releaseProcessSocket(NfsRpcClient *client)
{
    clnt_control(client->pClient, CLSET_FD_NCLOSE, nullptr);
    if (_func_rtpIdVerify(client->ownerId, 0) != 0)
        return;
    CancelTypeScope scope;
    int descriptor = -1;
    if (clnt_control(client->pClient, CLGET_FD, reinterpret_cast<char *>(&descriptor)) && descriptor > 2)
        iosRtpFdUnmap2(client->ownerId, descriptor, 0);
}

} // namespace

void nfsClientCleanUp(NfsRpcClient *client)
{
    if (client == nullptr || client->valid == 0)
        return;
    client->valid = 0;
    if (client->socket > 0)
        client->socket = -1;
    client->hostName[0] = '\0';
    if (client->pClient == nullptr)
        return;
    if (client->pClient->cl_auth != nullptr) {
        auth_destroy(client->pClient->cl_auth);
        client->pClient->cl_auth = nullptr;
    }
    if (_func_rtpIdVerify != nullptr)
        releaseProcessSocket(client);
    clnt_destroy(client->pClient);
    client->pClient = nullptr;
}

NfsRpcClient *nfsRpcLockClient(NfsRpcClient *client)
{
    if (client != nullptr && client->pLockClient == nullptr)
        client->pLockClient = static_cast<NfsRpcClient *>(std::calloc(1, sizeof(NfsRpcClient)));
    return client != nullptr ? client->pLockClient : nullptr;
}

void nfsDeleteHook(TaskRecord *dyingTask)
{
    RpcTaskContext *context = rpcTaskContext(dyingTask);
    if (context == nullptr)
        return;
    auto *client = static_cast<NfsRpcClient *>(context->pNfsClient);
    nfsClientCleanUp(client);
    if (client != nullptr) {
        nfsClientCleanUp(client->pLockClient);
        std::free(client->pLockClient);
        client->pLockClient = nullptr;
        nfsRpcTaskBuffersFree(client);
        std::free(client);
        context->pNfsClient = nullptr;
    }
}

extern "C" {

int nfsInit(void)
{
    if (rpcTaskInit() == -1)
        return -1;
    RpcTaskContext *context = currentContext();
    if (context->pNfsClient != nullptr)
        return 0;
    if (nfsInstalled == 0) {
        if (taskDeleteHookAdd(nfsDeleteHook) == -1)
            return -1;
        nfsInstalled = 1;
    }
    context->pNfsClient = std::calloc(1, sizeof(NfsRpcClient));
    return context->pNfsClient == nullptr ? -1 : 0;
}

NfsRpcClient *nfsRpcClientCurrent(void)
{
    RpcTaskContext *context = currentContext();
    return context == nullptr ? nullptr : static_cast<NfsRpcClient *>(context->pNfsClient);
}

void nfsClientClose(void)
{
    NfsRpcClient *client = nfsRpcClientCurrent();
    nfsClientCleanUp(client);
    if (client != nullptr)
        nfsClientCleanUp(client->pLockClient);
}
}
