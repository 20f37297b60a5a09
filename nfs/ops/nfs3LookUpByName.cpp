// Path lookup on a version 3 mount: one LOOKUP per component from the export's root, with a
// GETATTR for a reply that carries no attributes, and the path rewritten at a symbolic link.
#include "ops/nfs3PathOps.h"
#include "ops/nfsOpsCall.h"
#include "ops/nfsPathRewrite.h"

#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

namespace {

// Restores the data pointer of the caller's handle buffer in res on every way out: a failed
// decode clears it, and the failure arm of the reply shares its storage. So res can be used
// for another lookup without being prepared again.
class CallerHandleKept {
public:
    explicit CallerHandleKept(LOOKUP3res *res)
        : slot_(&res->LOOKUP3res_u.resok.object.data.data_val), kept_(*slot_)
    {
    }
    CallerHandleKept(const CallerHandleKept &) = delete;
    CallerHandleKept &operator=(const CallerHandleKept &) = delete;
    ~CallerHandleKept() { *slot_ = kept_; }

private:
    char **slot_;
    char *kept_;
};

char **objectBuffer(LOOKUP3res &res) { return &res.LOOKUP3res_u.resok.object.data.data_val; }

int lookUpStep(const char *host, const LOOKUP3args &args, LOOKUP3res *res)
{
    const nfsrpc::Reply<LOOKUP3res> reply(nfsops::nfs3Peer(host), NFSPROC3_LOOKUP, xdr_LOOKUP3args, args,
                                          xdr_LOOKUP3res, res, objectBuffer);
    if (nfsops::failed(reply))
        return -1;
    if (res->status != NFS3_OK) {
        nfsErrnoSet(res->status);
        return -1;
    }
    return 0;
}

// Fills in the attributes a LOOKUP reply left out; attributes_follow keeps the server's value.
int attributesFetch(const char *host, LOOKUP3resok *ok)
{
    const GETATTR3args args{.object = ok->object};
    const nfsrpc::Reply<GETATTR3res> reply(nfsops::nfs3Peer(host), NFSPROC3_GETATTR, xdr_GETATTR3args, args,
                                           xdr_GETATTR3res);
    if (nfsops::failed(reply))
        return -1;
    if (reply->status != NFS3_OK) {
        nfsErrnoSet(reply->status);
        return -1;
    }
    ok->obj_attributes.post_op_attr_u.attributes = reply->GETATTR3res_u.resok.obj_attributes;
    return 0;
}

// Reads the link's text and rewrites path through it: -2, or -1.
int pathRewrite(const char *host, const nfs_fh3 &link, nfspath::PathNames &parsed, int at, char *path)
{
    nfspath::PathText linkText{};
    if (nfs3LinkRead(host, &link, linkText.data()) != 0)
        return -1;
    return nfspath::throughLink(parsed, at, linkText.data(), path);
}

} // namespace

// A regular file (or other non-directory) followed by further components ends the walk with
// NFS3ERR_NOTDIR (0x300014) instead of looking the next name up beside it.
int nfs3LookUpByName(const char *host, char *path, const nfs_fh3 *mountFh, LOOKUP3res *res,
                     nfs_fh3 *dirFh, int noFollowLast)
{
    if (nfsInit() != 0)
        return -1;
    nfspath::PathNames parsed;
    if (!nfspath::parse(path, &parsed))
        return -1;
    LOOKUP3args args{};
    args.what.dir = *mountFh;
    if (!nfs3path::handleCopy(*mountFh, dirFh)) {
        errnoSet(NFS_ERRNO_BASE | NFS3ERR_BADHANDLE);
        return -1;
    }
    const CallerHandleKept kept(res);
    LOOKUP3resok *ok = &res->LOOKUP3res_u.resok;
    for (int i = 0; i < parsed.count; ++i) {
        const bool last = i + 1 == parsed.count;
        args.what.name = parsed.names[static_cast<std::size_t>(i)];
        if (lookUpStep(host, args, res) != 0)
            return -1;
        if (ok->obj_attributes.attributes_follow != TRUE && attributesFetch(host, ok) != 0)
            return -1;
        switch (ok->obj_attributes.post_op_attr_u.attributes.type) {
        case NF3DIR:
            if (!last)
                nfs3path::handleCopy(ok->object, dirFh);
            args.what.dir = ok->object; // the next LOOKUP is encoded before its reply lands here
            break;
        case NF3LNK:
            if (last && noFollowLast != 0)
                return 0;
            return pathRewrite(host, ok->object, parsed, i, path);
        default:
            if (!last) {
                nfsErrnoSet(NFS3ERR_NOTDIR);
                return -1;
            }
            break;
        }
    }
    return 0;
}
