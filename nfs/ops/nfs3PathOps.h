// Module-private side of the NFS version 3 operations on names (declared in nfs3Ops.h): the
// release of a held directory batch and the handle copy. They allocate nothing that outlives
// the call, except the held directory batch.
#ifndef NFS_OPS_NFS3PATHOPS_H
#define NFS_OPS_NFS3PATHOPS_H

#include <brisnel/nfs3Ops.h>
#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsDrvLib.h>
#include <kernel/kernelStat.h>

#include <rpc/rpc.h>

#include <cstdint>
#include <cstring>

// Releases the directory batch pFile holds, if any, and clears dirReply, and the cookies its
// listing delivered. Also for a task without an RPC client of its own.
void nfs3DirReplyRelease(NfsOpenFile *pFile);

// What the name operations share.
namespace nfs3path {

// Copies a handle's bytes into to's buffer (NFS3_FHSIZE bytes), then its length; a length
// above NFS3_FHSIZE, which no decoder lets through, copies nothing and gives false.
inline bool handleCopy(const nfs_fh3 &from, nfs_fh3 *to)
{
    const u_int length = from.data.data_len;
    const char *bytes = from.data.data_val;
    if (length > NFS3_FHSIZE || to->data.data_val == nullptr || (length > 0 && bytes == nullptr))
        return false;
    if (length > 0 && bytes != to->data.data_val)
        std::memmove(to->data.data_val, bytes, length);
    to->data.data_len = length;
    return true;
}

} // namespace nfs3path

#endif
