// COMMIT: the server moves what it holds of a file in volatile storage to stable storage.
#include "ops/nfs3Data.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfsRpcLib.h>

#include <cstring>

int nfs3FileCommit(const char *host, nfs_fh3 *fh, writeverf3 verf, fattr3 *attr)
{
    if (nfsInit() == -1)
        return -1;
    // Offset 0 and count 0: the whole file.
    COMMIT3args args{.file = *fh, .offset = 0, .count = 0};
    const nfsrpc::Reply<COMMIT3res> reply(nfsops::nfs3Peer(host), NFSPROC3_COMMIT, xdr_COMMIT3args, args,
                                          xdr_COMMIT3res);
    if (nfsops::failed(reply))
        return -1;
    const COMMIT3res &res = *reply;
    if (res.status != NFS3_OK) {
        nfs3DecodeWcc(&res.COMMIT3res_u.resfail.file_wcc, attr);
        nfsErrnoSet(res.status);
        return -1;
    }
    nfs3DecodeWcc(&res.COMMIT3res_u.resok.file_wcc, attr);
    std::memcpy(verf, res.COMMIT3res_u.resok.verf, sizeof res.COMMIT3res_u.resok.verf);
    return 0;
}
