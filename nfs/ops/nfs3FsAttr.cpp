// FSSTAT: the file system's space and file slots as the kernel's file-system status record.
#include "ops/nfs3Data.h"

#include <brisnel/nfsRpcLib.h>

namespace {

constexpr int32_t kBlockSize = 1024;
constexpr unsigned kBlockShift = 10;

uint32_t blocks(size3 bytes) { return static_cast<uint32_t>(bytes >> kBlockShift); }

} // namespace

int nfs3FsAttrGet(const char *host, nfs_fh3 *fh, struct kstatfs *pFsStat)
{
    FSSTAT3args args{.fsroot = *fh};
    FSSTAT3res res{};
    if (nfsClientCall(host, NFS_PROGRAM, NFS_V3, NFSPROC3_FSSTAT, nfsXdrProc(xdr_FSSTAT3args),
                      &args, nfsXdrProc(xdr_FSSTAT3res), &res) != 0)
        return -1;
    if (res.status != NFS3_OK) {
        nfsErrnoSet(res.status);
        return -1;
    }
    const FSSTAT3resok &ok = res.FSSTAT3res_u.resok;
    pFsStat->f_type = 0;
    pFsStat->f_bsize = kBlockSize;
    pFsStat->f_blocks = blocks(ok.tbytes);
    pFsStat->f_bfree = blocks(ok.fbytes);
    pFsStat->f_bavail = blocks(ok.abytes);
    pFsStat->f_files = static_cast<uint32_t>(ok.tfiles);
    pFsStat->f_ffree = static_cast<uint32_t>(ok.ffiles);
    clnt_freeres(nfsRpcClientCurrent()->pClient, nfsXdrProc(xdr_FSSTAT3res),
                 reinterpret_cast<char *>(&res));
    return 0;
}
