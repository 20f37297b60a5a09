// The remote call and the reply release that the name operations share.
#include "ops/nfs3PathOps.h"

#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>

#include <cstring>

namespace nfs3path {

int call(const char *host, uint32_t proc, xdrproc_t inproc, const void *in, xdrproc_t outproc,
         void *out, char **callerBuffer)
{
    char *kept = callerBuffer != nullptr ? *callerBuffer : nullptr;
    // The arguments are only encoded.
    if (nfsClientCall(host, NFS_PROGRAM, NFS_V3, proc, inproc, const_cast<void *>(in), outproc,
                      out) == 0)
        return 0;
    // The handle is gone with the failure, so a partly decoded reply is freed directly. A call
    // that failed before decoding still holds the caller's pointer, which must not be freed.
    const int error = errnoGet();
    if (callerBuffer != nullptr)
        *callerBuffer = nullptr;
    xdr_free(outproc, static_cast<char *>(out));
    if (callerBuffer != nullptr)
        *callerBuffer = kept;
    errnoSet(error);
    return -1;
}

Reply::~Reply()
{
    char *kept = nullptr;
    if (callerBuffer_ != nullptr) {
        kept = *callerBuffer_;
        *callerBuffer_ = nullptr;
    }
    const NfsRpcClient *client = nfsRpcClientCurrent();
    if (client != nullptr && client->valid != 0 && client->pClient != nullptr)
        clnt_freeres(client->pClient, proc_, static_cast<char *>(reply_));
    else
        xdr_free(proc_, static_cast<char *>(reply_));
    if (callerBuffer_ != nullptr)
        *callerBuffer_ = kept;
}

bool handleCopy(const nfs_fh3 &from, nfs_fh3 *to)
{
    if (from.data.data_len > NFS3_FHSIZE || to->data.data_val == nullptr ||
        (from.data.data_len > 0 && from.data.data_val == nullptr))
        return false;
    if (from.data.data_len > 0 && from.data.data_val != to->data.data_val)
        std::memmove(to->data.data_val, from.data.data_val, from.data.data_len);
    to->data.data_len = from.data.data_len;
    return true;
}

} // namespace nfs3path
