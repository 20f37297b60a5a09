// READLINK on a version 2 server: a symbolic link's text into the caller's path buffer.
#include "ops/nfs2Call.h"
#include "ops/nfsOpsCall.h"
#include "ops/nfsPathRewrite.h"

#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <cstring>

// As in version 3, the text is decoded into storage of the XDR layer and copied only when it
// fits with its terminator in NFS_MAX_PATH bytes; a longer text is refused with 26.
int nfs2LinkRead(const char *host, const nfs_fh2 *fh, char *buf)
{
    if (nfsInit() != 0)
        return -1;
    const nfsrpc::Reply<NfsLinkReply2> reply(nfsops::nfs2Peer(host), NFSPROC_READLINK, xdr_nfs_fh2, (*fh)[0],
                                             xdrNfsLinkReply2);
    if (nfsops::failed(reply) || !nfsops::statusOk(reply->status))
        return -1;
    return nfspath::linkTextCopy(reply->text, buf);
}
