// FSINFO: the server's transfer limits and preferences for a file system.
#include "ops/nfs3Data.h"

#include <brisnel/nfsRpcLib.h>

int nfs3FsInfoGet(const char *host, nfs_fh3 *fh, Nfs3FsInfo *pInfo)
{
    FSINFO3args args{.fsroot = *fh};
    FSINFO3res res{};
    if (nfsClientCall(host, NFS_PROGRAM, NFS_V3, NFSPROC3_FSINFO, nfsXdrProc(xdr_FSINFO3args),
                      &args, nfsXdrProc(xdr_FSINFO3res), &res) != 0)
        return -1;
    if (res.status != NFS3_OK) {
        nfsErrnoSet(res.status);
        return -1;
    }
    // The reply holds nothing allocated: no release needed.
    const FSINFO3resok &ok = res.FSINFO3res_u.resok;
    *pInfo = Nfs3FsInfo{
        .rtmax = ok.rtmax,
        .rtpref = ok.rtpref,
        .rtmult = ok.rtmult,
        .wtmax = ok.wtmax,
        .wtpref = ok.wtpref,
        .wtmult = ok.wtmult,
        .dtpref = ok.dtpref,
        .maxfilesize = ok.maxfilesize,
        .time_delta = ok.time_delta,
        .properties = ok.properties,
    };
    return 0;
}
