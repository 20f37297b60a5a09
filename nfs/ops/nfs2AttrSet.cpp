// GETATTR, and SETATTR on a version 2 mount: the size, mode and times of a file, every field not changed
// sent as all ones. Sizes are 32-bit, and all ones means "no change": a size from 4 GiB - 1 up
// is refused as a position past 4 GiB is. Version 2 cannot ask for the server's clock, so times
// set to now take the client's.
#include "ops/nfs2Protocol.h"

#include <kernel/kernelErrno.h>

#include <ctime>

namespace {

constexpr u_int kNotSet = 0xFFFFFFFFU;

bool secondsFit(int64_t seconds)
{
    return seconds >= 0 && seconds < int64_t{kNotSet};
}

} // namespace

nfsres::Status Nfs2Protocol::attrSet(const char *host, const nfs_fh2 &fh, const NfsAttrChange &change,
                                     fattr *attr)
{
    sattrargs args{};
    nfs2ops::handleCopy(fh, &args.file);
    args.attributes = sattr{.mode = change.mode ? *change.mode : kNotSet,
                            .uid = kNotSet,
                            .gid = kNotSet,
                            .size = kNotSet,
                            .atime = {kNotSet, kNotSet},
                            .mtime = {kNotSet, kNotSet}};
    if (change.size) {
        if (*change.size >= kNotSet)
            return nfsres::Fail{NFS_ERRNO_BASE | NFSERR_FBIG};
        args.attributes.size = static_cast<u_int>(*change.size);
    }
    if (change.times != NfsAttrChange::Times::keep) {
        const int64_t now = static_cast<int64_t>(std::time(nullptr));
        const int64_t atime = change.times == NfsAttrChange::Times::now ? now : change.atime;
        const int64_t mtime = change.times == NfsAttrChange::Times::now ? now : change.mtime;
        if (!secondsFit(atime) || !secondsFit(mtime))
            return nfsres::Fail{K_EINVAL};
        args.attributes.atime = {static_cast<u_int>(atime), 0};
        args.attributes.mtime = {static_cast<u_int>(mtime), 0};
    }
    const nfsrpc::Reply<attrstat> reply(nfsops::nfs2Peer(host), NFSPROC_SETATTR, xdr_sattrargs, args,
                                        xdr_attrstat);
    if (const nfsres::Status done = nfsops::outcome(reply, reply->status); !done.ok())
        return done;
    *attr = reply->attrstat_u.attributes;
    return {};
}

nfsres::Status Nfs2Protocol::attrGet(const char *host, const nfs_fh2 &fh, fattr *attr)
{
    const nfsrpc::Reply<attrstat> reply(nfsops::nfs2Peer(host), NFSPROC_GETATTR, xdr_nfs_fh2, fh[0],
                                        xdr_attrstat);
    if (const nfsres::Status done = nfsops::outcome(reply, reply->status); !done.ok())
        return done;
    *attr = reply->attrstat_u.attributes;
    return {};
}
