// The exported remote call, and the release of a decoded reply: both over the call on the
// task's handle (nfsHandleCall.cpp).
#include "rpc/nfsRemoteCall.h"
#include "rpc/nfsRpcClient.h"

#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>

namespace nfsrpc {

void release(xdrproc_t outproc, void *out, char **callerBuffer)
{
    char *kept = nullptr;
    if (callerBuffer != nullptr) {
        kept = *callerBuffer;
        *callerBuffer = nullptr;
    }
    // Through the task's handle while it has one; a failed call has lost it, and the XDR
    // routine alone frees what decoding got to.
    const NfsRpcClient *client = nfsRpcClientCurrent();
    if (client != nullptr && client->valid != 0 && client->pClient != nullptr)
        clnt_freeres(client->pClient, outproc, static_cast<char *>(out));
    else
        xdr_free(outproc, static_cast<char *>(out));
    if (callerBuffer != nullptr)
        *callerBuffer = kept;
}

} // namespace nfsrpc

// A successful call leaves the error number as it was.
extern "C" int nfsClientCall(const char *host, uint32_t prog, uint32_t vers, uint32_t proc, xdrproc_t inproc,
                             void *in, xdrproc_t outproc, void *out)
{
    const int error = nfsrpc::exchange({host, prog, vers}, proc, inproc, in, outproc, out);
    if (error == 0)
        return 0;
    errnoSet(error);
    return -1;
}
