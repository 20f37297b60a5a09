// FSINFO: the server's transfer limits and preferences for a file system.
#include "ops/nfs3Data.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfsRpcLib.h>

int nfs3FsInfoGet(const char *host, nfs_fh3 *fh, Nfs3FsInfo *pInfo)
{
    FSINFO3args args{.fsroot = *fh};
    const nfsrpc::Reply<FSINFO3res> reply(nfsops::nfs3Peer(host), NFSPROC3_FSINFO, xdr_FSINFO3args, args,
                                          xdr_FSINFO3res);
    if (nfsops::failed(reply) || !nfsops::statusOk(reply->status))
        return -1;
    const FSINFO3resok &ok = reply->FSINFO3res_u.resok;
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
