// A file's version 2 attributes as the kernel's file status record, and STATFS.
#include "core/nfsArgs.h"
#include "ops/nfs2Call.h"
#include "ops/nfs2Protocol.h"
#include "ops/nfsAttrStat.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfsRpcLib.h>

#include <array>

namespace {

// The file-format bits of st_mode, indexed by the version 2 type number (6 socket, 8 FIFO).
constexpr std::array<uint16_t, 9> nfsFtypeModeBits = {
    0x0000, K_S_IFREG, K_S_IFDIR, K_S_IFBLK, K_S_IFCHR, K_S_IFLNK, K_S_IFSOCK, 0x0000, K_S_IFIFO,
};

} // namespace

void nfs2FileAttrGet(const fattr *attr, struct kstat *pStat)
{
    if (nfsArgsGiven(attr, pStat))
        nfsAttrStatFill(*attr, nfsFtypeModeBits, pStat);
}

// The counts stay in the server's block size; version 2 reports no file slots.
nfsres::Status Nfs2Protocol::fsAttrGet(const char *host, const nfs_fh2 &fh, struct kstatfs *pFsStat)
{
    const nfsrpc::Reply<statfsres> reply(nfsops::nfs2Peer(host), NFSPROC_STATFS, xdr_nfs_fh2, fh[0],
                                         xdr_statfsres);
    if (const nfsres::Status done = nfsops::outcome(reply, reply->status); !done.ok())
        return done;
    const statfsokres &ok = reply->statfsres_u.reply;
    pFsStat->f_type = 0;
    pFsStat->f_bsize = static_cast<int32_t>(ok.bsize);
    pFsStat->f_blocks = ok.blocks;
    pFsStat->f_bfree = ok.bfree;
    pFsStat->f_bavail = ok.bavail;
    pFsStat->f_files = 0;
    pFsStat->f_ffree = 0;
    return {};
}

int nfs2FsAttrGet(const char *host, nfs_fh2 *fh, struct kstatfs *pFsStat)
{
    const nfsres::Status given = nfsops::ready(host, fh, pFsStat);
    return nfsres::entry(given.ok() ? Nfs2Protocol::fsAttrGet(host, *fh, pFsStat) : given);
}
