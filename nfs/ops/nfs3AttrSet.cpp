// GETATTR and SETATTR on a version 3 mount; SETATTR unguarded: the size, mode and times of a
// file, the server's own clock for times set to now.
#include "ops/nfs3Protocol.h"

#include <kernel/kernelErrno.h>

namespace {

bool secondsFit(int64_t seconds)
{
    return seconds >= 0 && seconds <= int64_t{UINT32_MAX};
}

} // namespace

nfsres::Status Nfs3Protocol::attrSet(const char *host, const nfs_fh3 &fh, const NfsAttrChange &change,
                                     fattr3 *attr)
{
    SETATTR3args args{};
    args.object = fh;
    sattr3 &to = args.new_attributes;
    if (change.size)
        to.size = {.set_it = TRUE, .set_size3_u = {.size = *change.size}};
    if (change.mode)
        to.mode = {.set_it = TRUE, .set_mode3_u = {.mode = *change.mode}};
    if (change.times == NfsAttrChange::Times::now) {
        to.atime.set_it = SET_TO_SERVER_TIME;
        to.mtime.set_it = SET_TO_SERVER_TIME;
    } else if (change.times == NfsAttrChange::Times::given) {
        // The wire holds unsigned 32-bit seconds: a time before 1970 or after 2106 is refused.
        if (!secondsFit(change.atime) || !secondsFit(change.mtime))
            return nfsres::Fail{K_EINVAL};
        to.atime = {.set_it = SET_TO_CLIENT_TIME,
                    .set_atime_u = {.atime = {static_cast<uint32>(change.atime), 0}}};
        to.mtime = {.set_it = SET_TO_CLIENT_TIME,
                    .set_mtime_u = {.mtime = {static_cast<uint32>(change.mtime), 0}}};
    }
    args.guard.check = FALSE;
    const nfsrpc::Reply<SETATTR3res> reply(nfsops::nfs3Peer(host), NFSPROC3_SETATTR, xdr_SETATTR3args, args,
                                           xdr_SETATTR3res);
    if (const nfsres::Status done = nfsops::outcome(reply, reply->status); !done.ok())
        return done;
    const post_op_attr &after = reply->SETATTR3res_u.resok.obj_wcc.after;
    if (after.attributes_follow == TRUE) {
        *attr = after.post_op_attr_u.attributes;
        return {};
    }
    if (change.size)
        attr->size = *change.size;
    if (change.mode)
        attr->mode = (attr->mode & ~07777U) | *change.mode;
    return {};
}

nfsres::Status Nfs3Protocol::attrGet(const char *host, const nfs_fh3 &fh, fattr3 *attr)
{
    const GETATTR3args args{.object = fh};
    const nfsrpc::Reply<GETATTR3res> reply(nfsops::nfs3Peer(host), NFSPROC3_GETATTR, xdr_GETATTR3args, args,
                                           xdr_GETATTR3res);
    if (const nfsres::Status done = nfsops::outcome(reply, reply->status); !done.ok())
        return done;
    *attr = reply->GETATTR3res_u.resok.obj_attributes;
    return {};
}
