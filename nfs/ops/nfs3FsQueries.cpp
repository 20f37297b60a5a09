// The file-system queries: FSSTAT as the kernel's file-system status record, the server's
// transfer limits (FSINFO) and its limits on names and links (PATHCONF).
#include "ops/nfs3Data.h"
#include "ops/nfs3Protocol.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfsRpcLib.h>

namespace {

constexpr int32_t kBlockSize = 1024;
constexpr unsigned kBlockShift = 10;

uint32_t blocks(size3 bytes)
{
    return static_cast<uint32_t>(bytes >> kBlockShift);
}

uint32_t flag(bool_t value)
{
    return value ? 1U : 0U;
}

} // namespace

nfsres::Status Nfs3Protocol::fsAttrGet(const char *host, const nfs_fh3 &fh, struct kstatfs *pFsStat)
{
    FSSTAT3args args{.fsroot = fh};
    const nfsrpc::Reply<FSSTAT3res> reply(nfsops::nfs3Peer(host), NFSPROC3_FSSTAT, xdr_FSSTAT3args, args,
                                          xdr_FSSTAT3res);
    if (const nfsres::Status done = nfsops::outcome(reply, reply->status); !done.ok())
        return done;
    const FSSTAT3resok &ok = reply->FSSTAT3res_u.resok;
    pFsStat->f_type = 0;
    pFsStat->f_bsize = kBlockSize;
    pFsStat->f_blocks = blocks(ok.tbytes);
    pFsStat->f_bfree = blocks(ok.fbytes);
    pFsStat->f_bavail = blocks(ok.abytes);
    pFsStat->f_files = static_cast<uint32_t>(ok.tfiles);
    pFsStat->f_ffree = static_cast<uint32_t>(ok.ffiles);
    return {};
}

nfsres::Status Nfs3Protocol::fsInfoGet(const char *host, const nfs_fh3 &fh, Nfs3FsInfo *pInfo)
{
    FSINFO3args args{.fsroot = fh};
    const nfsrpc::Reply<FSINFO3res> reply(nfsops::nfs3Peer(host), NFSPROC3_FSINFO, xdr_FSINFO3args, args,
                                          xdr_FSINFO3res);
    if (const nfsres::Status done = nfsops::outcome(reply, reply->status); !done.ok())
        return done;
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
    return {};
}

nfsres::Status Nfs3Protocol::pathconfGet(const char *host, const nfs_fh3 &fh, Nfs3PathconfInfo *pInfo)
{
    PATHCONF3args args{.object = fh};
    const nfsrpc::Reply<PATHCONF3res> reply(nfsops::nfs3Peer(host), NFSPROC3_PATHCONF, xdr_PATHCONF3args,
                                            args, xdr_PATHCONF3res);
    if (const nfsres::Status done = nfsops::outcome(reply, reply->status); !done.ok())
        return done;
    const PATHCONF3resok &ok = reply->PATHCONF3res_u.resok;
    *pInfo = Nfs3PathconfInfo{
        .name_max = ok.name_max,
        .linkmax = ok.linkmax,
        .no_trunc = flag(ok.no_trunc),
        .chown_restricted = flag(ok.chown_restricted),
        .case_insensitive = flag(ok.case_insensitive),
        .case_preserving = flag(ok.case_preserving),
    };
    return {};
}

int nfs3FsAttrGet(const char *host, nfs_fh3 *fh, struct kstatfs *pFsStat)
{
    const nfsres::Status present = nfsops::given(host, fh, pFsStat);
    return nfsres::entry(present.ok() ? Nfs3Protocol::fsAttrGet(host, *fh, pFsStat) : present);
}

int nfs3FsInfoGet(const char *host, nfs_fh3 *fh, Nfs3FsInfo *pInfo)
{
    const nfsres::Status present = nfsops::given(host, fh, pInfo);
    return nfsres::entry(present.ok() ? Nfs3Protocol::fsInfoGet(host, *fh, pInfo) : present);
}

int nfs3PathconfGet(const char *host, nfs_fh3 *fh, Nfs3PathconfInfo *pInfo)
{
    const nfsres::Status present = nfsops::given(host, fh, pInfo);
    return nfsres::entry(present.ok() ? Nfs3Protocol::pathconfGet(host, *fh, pInfo) : present);
}
