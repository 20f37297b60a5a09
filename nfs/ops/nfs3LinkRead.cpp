// READLINK: a symbolic link's text into the caller's path buffer.
#include "ops/nfs3PathOps.h"
#include "ops/nfsOpsCall.h"
#include "ops/nfsPathRewrite.h"

#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <cstring>

// The text is decoded into storage of the XDR layer and copied only when it fits with its
// terminator in NFS_MAX_PATH bytes; a longer text is refused with 26. Decoding straight into
// the caller's buffer would turn such a text into a failed call and a lost client handle.
int nfs3LinkRead(const char *host, const nfs_fh3 *fh, char *buf)
{
    if (nfsInit() != 0)
        return -1;
    const READLINK3args args{.symlink = *fh};
    const nfsrpc::Reply<NfsLinkReply3> reply(nfsops::nfs3Peer(host), NFSPROC3_READLINK, xdr_READLINK3args,
                                             args, xdrNfsLinkReply3);
    if (nfsops::failed(reply) || !nfsops::statusOk(reply->status))
        return -1;
    return nfspath::linkTextCopy(reply->text, buf);
}
