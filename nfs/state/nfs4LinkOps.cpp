// Version 4 calls on links: each one compound from PUTFH.
#include "state/nfs4LinkOps.h"

#include "state/nfs4Resend.h"

#include <kernel/kernelErrno.h>

#include <cstring>
#include <new>

using nfsres::Fail;
using nfsres::Result;
using nfsres::Status;

Status nfs4Link(Nfs4ClientState &state, const NfsFh &file, const NfsFh &dir, const char *name)
{
    const Result<Nfs4Bytes> component = nfs4NameOf(name);
    NFS_TRY(component);
    Nfs4Ops ops;
    ops.putFh(file);
    ops.add(OP_SAVEFH);
    ops.putFh(dir);
    ops.add(OP_LINK).nfs_argop4_u.oplink = component.value();
    Nfs4Reply reply;
    return nfs4FileCall(state, ops.ops, ops.n, reply);
}

Status nfs4Symlink(Nfs4ClientState &state, const NfsFh &dir, const char *name, const char *target)
{
    const Result<Nfs4Bytes> component = nfs4NameOf(name);
    NFS_TRY(component);
    if (target == nullptr)
        return Fail{NFS_ERRNO_INVAL};
    const std::size_t length = strnlen(target, NFS4_LINK_MAX + 1);
    if (length == 0)
        return Fail{K_ENOENT};
    if (length > NFS4_LINK_MAX)
        return Fail{K_ENAMETOOLONG};
    Nfs4Ops ops;
    ops.putFh(dir);
    CREATE4args &create = ops.add(OP_CREATE).nfs_argop4_u.opcreate;
    create.objtype.type = NF4LNK;
    create.objtype.createtype4_u.linkdata = Nfs4Bytes{static_cast<u_int>(length), const_cast<char *>(target)};
    create.objname = component.value();
    nfs4BitmapSet(&create.createattrs.attrmask, FATTR4_MODE);
    create.createattrs.mode = 0777;
    Nfs4Reply reply;
    return nfs4FileCall(state, ops.ops, ops.n, reply);
}

Result<std::string> nfs4ReadLink(Nfs4ClientState &state, const NfsFh &link)
{
    Nfs4Ops ops;
    ops.putFh(link);
    ops.add(OP_READLINK);
    Nfs4Reply reply;
    NFS_TRY(nfs4FileCall(state, ops.ops, ops.n, reply));
    const Nfs4Bytes &text = reply[1].nfs_resop4_u.opreadlink;
    try {
        return text.len == 0 ? std::string() : std::string(text.val, text.len);
    } catch (const std::bad_alloc &) {
        return Fail{K_ENOMEM};
    }
}
