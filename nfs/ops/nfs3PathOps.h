// Module-private side of the NFS version 3 operations on names (declared in nfs3Ops.h): the
// release of a held directory batch, and the remote call and reply release they share. They
// allocate nothing that outlives the call, except the held directory batch.
#ifndef NFS_OPS_NFS3PATHOPS_H
#define NFS_OPS_NFS3PATHOPS_H

#include <brisnel/nfs3Ops.h>
#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsDrvLib.h>
#include <kernel/kernelStat.h>

#include <rpc/rpc.h>

#include <cstdint>

// Releases the directory batch pFile holds, if any, and clears dirReply. Also for a task
// without an RPC client of its own.
void nfs3DirReplyRelease(NfsOpenFile *pFile);

// What the name operations share: their one kind of remote call and the release of replies.
namespace nfs3path {

// One NFS version 3 call into out; 0 or -1 with the error number set. When it fails, the part
// of the reply that was decoded is released, leaving alone the caller's own buffer that
// *callerBuffer (if named) points to; that pointer has its value from before the call again.
int call(const char *host, uint32_t proc, xdrproc_t inproc, const void *in, xdrproc_t outproc,
         void *out, char **callerBuffer = nullptr);

// Releases a decoded reply when the scope ends, through the task's handle (or directly when
// the task has none). The pointer to a caller's own buffer inside the reply, if named, is
// cleared for the release and put back afterwards, so the reply can be decoded into again.
class Reply {
public:
    Reply(xdrproc_t proc, void *reply, char **callerBuffer = nullptr)
        : proc_(proc), reply_(reply), callerBuffer_(callerBuffer)
    {
    }
    Reply(const Reply &) = delete;
    Reply &operator=(const Reply &) = delete;
    ~Reply();

private:
    xdrproc_t proc_;
    void *reply_;
    char **callerBuffer_;
};

// Copies a handle's bytes into to's buffer (NFS3_FHSIZE bytes), then its length; a length
// above NFS3_FHSIZE, which no decoder lets through, copies nothing and gives false.
bool handleCopy(const nfs_fh3 &from, nfs_fh3 *to);

} // namespace nfs3path

#endif
