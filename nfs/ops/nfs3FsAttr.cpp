// FSSTAT: the file system's space and file slots as the kernel's file-system status record.
#include "ops/nfs3Data.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfsRpcLib.h>

namespace {

constexpr int32_t kBlockSize = 1024;
constexpr unsigned kBlockShift = 10;

uint32_t blocks(size3 bytes) { return static_cast<uint32_t>(bytes >> kBlockShift); }

} // namespace

int nfs3FsAttrGet(const char *host, nfs_fh3 *fh, struct kstatfs *pFsStat)
{
    FSSTAT3args args{.fsroot = *fh};
    const nfsrpc::Reply<FSSTAT3res> reply(nfsops::nfs3Peer(host), NFSPROC3_FSSTAT, xdr_FSSTAT3args, args,
                                          xdr_FSSTAT3res);
    if (nfsops::failed(reply) || !nfsops::statusOk(reply->status))
        return -1;
    const FSSTAT3resok &ok = reply->FSSTAT3res_u.resok;
    pFsStat->f_type = 0;
    pFsStat->f_bsize = kBlockSize;
    pFsStat->f_blocks = blocks(ok.tbytes);
    pFsStat->f_bfree = blocks(ok.fbytes);
    pFsStat->f_bavail = blocks(ok.abytes);
    pFsStat->f_files = static_cast<uint32_t>(ok.tfiles);
    pFsStat->f_ffree = static_cast<uint32_t>(ok.ffiles);
    return 0;
}
