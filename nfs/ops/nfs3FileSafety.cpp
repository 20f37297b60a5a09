// What version 3 does for the safety of written data: the stability level every WRITE asks
// for, COMMIT of what the server holds in volatile storage only, and the weak cache
// consistency data of a reply folded into a file's attributes.
#include "core/nfsArgs.h"
#include "core/nfsConfig.h"
#include "ops/nfs3Data.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfs3Lib.h>
#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsRpcLib.h>

#include <cstring>

extern "C" int nfs3StableWriteGet(void)
{
    return nfs3WriteStable;
}

extern "C" int nfs3StableWriteSet(int how)
{
    if (static_cast<unsigned>(how) > FILE_SYNC)
        return -1;
    nfs3WriteStable = how;
    return 0;
}

void nfs3DecodeWcc(const wcc_data *wcc, fattr3 *attr)
{
    if (!nfsArgsGiven(wcc, attr))
        return;
    if (wcc->after.attributes_follow) {
        *attr = wcc->after.post_op_attr_u.attributes;
        return;
    }
    if (wcc->before.attributes_follow) {
        // Only what the server knew before the operation: better than nothing.
        const wcc_attr &before = wcc->before.pre_op_attr_u.attributes;
        attr->size = before.size;
        attr->mtime = before.mtime;
        attr->ctime = before.ctime;
    }
}

namespace {

nfsres::Status fileCommit(const char *host, const nfs_fh3 &fh, writeverf3 verf, fattr3 *attr)
{
    if (const nfsres::Status client = nfsops::clientReady(); !client.ok())
        return client;
    // Offset 0 and count 0: the whole file.
    COMMIT3args args{.file = fh, .offset = 0, .count = 0};
    const nfsrpc::Reply<COMMIT3res> reply(nfsops::nfs3Peer(host), NFSPROC3_COMMIT, xdr_COMMIT3args, args,
                                          xdr_COMMIT3res);
    if (!reply.ok())
        return nfsres::Fail{reply.error()};
    const COMMIT3res &res = *reply;
    if (res.status != NFS3_OK) {
        nfs3DecodeWcc(&res.COMMIT3res_u.resfail.file_wcc, attr);
        return nfsops::statusOf(res.status);
    }
    nfs3DecodeWcc(&res.COMMIT3res_u.resok.file_wcc, attr);
    std::memcpy(verf, res.COMMIT3res_u.resok.verf, sizeof res.COMMIT3res_u.resok.verf);
    return {};
}

} // namespace

int nfs3FileCommit(const char *host, nfs_fh3 *fh, writeverf3 verf, fattr3 *attr)
{
    return nfsres::entry(fileCommit(host, *fh, verf, attr));
}
