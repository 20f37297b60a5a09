// The remote call that the version 2 operations share.
#include "ops/nfs2Call.h"

#include <brisnel/nfsErrors.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>

namespace nfs2ops {

namespace {
constexpr uint64_t kReach = uint64_t{1} << 32;
} // namespace

int call(const char *host, uint32_t proc, xdrproc_t inproc, const void *in, xdrproc_t outproc,
         void *out, char **callerBuffer)
{
    char *kept = callerBuffer != nullptr ? *callerBuffer : nullptr;
    // The arguments are only encoded.
    if (nfsClientCall(host, NFS_PROGRAM, NFS_V2, proc, inproc, const_cast<void *>(in), outproc,
                      out) == 0)
        return 0;
    const int error = errnoGet();
    if (callerBuffer != nullptr)
        *callerBuffer = nullptr;
    xdr_free(outproc, static_cast<char *>(out));
    if (callerBuffer != nullptr)
        *callerBuffer = kept;
    errnoSet(error);
    return -1;
}

bool statusOk(nfsstat status)
{
    if (status == NFS_OK)
        return true;
    nfsErrnoSet(static_cast<int>(status));
    return false;
}

bool withinReach(uint64_t offset, uint64_t count)
{
    if (offset < kReach && count <= kReach - offset)
        return true;
    errnoSet(NFS_ERRNO_BASE | NFSERR_FBIG);
    return false;
}

} // namespace nfs2ops
