// The version 4 mount walk: one compound from the pseudo root to the export's root, its handle,
// attributes and (4.1) security flavours.
#include "state/nfs4MountWalk.h"

#include <kernel/kernelErrno.h>
#include <kernel/semGuard.h>

#include <cstring>

namespace {

using nfsres::Fail;
using nfsres::Result;
using nfsres::Status;

constexpr uint32_t kAuthUnix = 1;
// Besides the LOOKUPs: SEQUENCE, PUTROOTFH, GETFH, GETATTR, SECINFO_NO_NAME.
constexpr u_int kMostComponents = NFS4_MAX_OPS - 5;

struct Walk {
    nfs_argop4 ops[NFS4_MAX_OPS]{};
    u_int n = 0;
    u_int lookups = 0;

    nfs_argop4 &add(nfs_opnum4 number)
    {
        ops[n].argop = number;
        return ops[n++];
    }
};

// PUTROOTFH and a LOOKUP per component of PATH; the components point into PATH.
Status lookups(const char *path, Walk &walk)
{
    walk.add(OP_PUTROOTFH);
    for (const char *at = path; *at != '\0';) {
        const char *end = std::strchr(at, '/');
        const std::size_t length = end != nullptr ? static_cast<std::size_t>(end - at) : std::strlen(at);
        if (length > NFS4_NAME_MAX || (length > 0 && walk.lookups == kMostComponents))
            return Fail{K_ENAMETOOLONG};
        if (length > 0) {
            walk.add(OP_LOOKUP).nfs_argop4_u.oplookup =
                Nfs4Bytes{static_cast<u_int>(length), const_cast<char *>(at)};
            ++walk.lookups;
        }
        at += length + (end != nullptr ? 1 : 0);
    }
    return {};
}

// The flavours offered include AUTH_UNIX (an empty list, or none at all, leaves it to the server).
bool authUnixOffered(const SECINFO4resok &offered)
{
    for (u_int i = 0; i < offered.len; ++i) {
        if (offered.val[i].flavor == kAuthUnix)
            return true;
    }
    return offered.len == 0;
}

Result<Nfs4ExportRoot> rootOf(const Nfs4Reply &reply, u_int getfh)
{
    const nfs_fh4 &fh = reply[getfh].nfs_resop4_u.opgetfh;
    const fattr4 &attrs = reply[getfh + 1].nfs_resop4_u.opgetattr;
    for (const u_int bit : {FATTR4_TYPE, FATTR4_FILEID, FATTR4_FSID}) {
        if (!nfs4BitmapHas(attrs.attrmask, bit))
            return Fail{K_EIO};
    }
    if (attrs.type != NF4DIR)
        return Fail{nfs4Error(NFS4ERR_NOTDIR)};
    Nfs4ExportRoot root;
    root.fh = nfsFhOf(fh.val, fh.len);
    if (root.fh.empty())
        return Fail{K_EIO};
    root.type = attrs.type;
    root.size = attrs.size;
    root.fsid = NfsFsid{attrs.fsid.major, attrs.fsid.minor};
    root.fileid = attrs.fileid;
    root.mode = attrs.mode;
    return root;
}

} // namespace

Result<Nfs4ExportRoot> nfs4MountWalk(Nfs4ClientState &state, const char *path)
{
    if (path == nullptr)
        return Fail{NFS_ERRNO_INVAL};
    Walk walk;
    NFS_TRY(lookups(path, walk));
    const u_int getfh = walk.n;
    walk.add(OP_GETFH);
    bitmap4 &asked = walk.add(OP_GETATTR).nfs_argop4_u.opgetattr;
    for (const u_int bit : {FATTR4_TYPE, FATTR4_SIZE, FATTR4_FSID, FATTR4_FILEID, FATTR4_MODE})
        nfs4BitmapSet(&asked, bit);
    bool secinfo = false;
    {
        const SemGuard guard(state.guard);
        secinfo = state.minor == 1;
    }
    if (secinfo)
        walk.add(OP_SECINFO_NO_NAME).nfs_argop4_u.opsecinfo_no_name = SECINFO_STYLE4_CURRENT_FH;
    Nfs4Reply reply;
    const Status status = nfs4StateCall(state, walk.ops, walk.n, reply);
    // A server without SECINFO_NO_NAME has answered the rest.
    const bool noSecinfo = secinfo && reply.count() == walk.n && reply.status() == NFS4ERR_NOTSUPP;
    if (!status.ok() && !noSecinfo)
        return status.fail();
    if (secinfo && !noSecinfo && !authUnixOffered(reply[walk.n - 1].nfs_resop4_u.opsecinfo_no_name))
        return Fail{nfs4Error(NFS4ERR_WRONGSEC)};
    return rootOf(reply, getfh);
}
