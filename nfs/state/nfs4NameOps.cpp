// Version 4 calls on names: each one compound from PUTFH of the folder.
#include "state/nfs4NameOps.h"

#include "state/nfs4Resend.h"

#include <kernel/kernelErrno.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

using nfsres::Fail;
using nfsres::Result;
using nfsres::Status;

constexpr uint32_t kLeastDirBytes = 512;
constexpr uint32_t kMostDirBytes = 128 * 1024;

// A name of a READDIR reply usable as a name of this folder.
bool plainName(const Nfs4Bytes &name)
{
    if (name.len == 0 || std::memchr(name.val, '/', name.len) != nullptr ||
        std::memchr(name.val, '\0', name.len) != nullptr)
        return false;
    return !(name.len == 1 && name.val[0] == '.') && !(name.len == 2 && std::memcmp(name.val, "..", 2) == 0);
}

Result<Nfs4DirPage> pageOf(const READDIR4resok &reply)
{
    Nfs4DirPage page;
    std::copy(reply.cookieverf, reply.cookieverf + NFS4_VERIFIER_SIZE, page.verifier.begin());
    page.eof = reply.eof != 0;
    try {
        for (const entry4 *entry = reply.entries; entry != nullptr; entry = entry->nextentry) {
            if (!plainName(entry->name) || !nfs4BitmapHas(entry->attrs.attrmask, FATTR4_FILEID))
                return Fail{K_EIO};
            page.entries.push_back(
                {entry->cookie, entry->attrs.fileid, std::string(entry->name.val, entry->name.len)});
        }
    } catch (const std::bad_alloc &) {
        return Fail{K_ENOMEM};
    }
    if (!page.eof && page.entries.empty())
        return Fail{K_EIO};
    return page;
}

} // namespace

Result<Nfs4Object> nfs4Lookup(Nfs4ClientState &state, const NfsFh &dir, const char *name)
{
    const Result<Nfs4Bytes> component = nfs4NameOf(name);
    NFS_TRY(component);
    Nfs4Ops ops;
    ops.putFh(dir);
    ops.add(OP_LOOKUP).nfs_argop4_u.oplookup = component.value();
    const u_int getfh = ops.getFhAndAttrs();
    Nfs4Reply reply;
    NFS_TRY(nfs4FileCall(state, ops.ops, ops.n, reply));
    return nfs4ObjectOf(reply[getfh], reply[getfh + 1]);
}

Status nfs4Remove(Nfs4ClientState &state, const NfsFh &dir, const char *name)
{
    const Result<Nfs4Bytes> component = nfs4NameOf(name);
    NFS_TRY(component);
    Nfs4Ops ops;
    ops.putFh(dir);
    ops.add(OP_REMOVE).nfs_argop4_u.opremove = component.value();
    Nfs4Reply reply;
    return nfs4FileCall(state, ops.ops, ops.n, reply);
}

Status nfs4Rename(Nfs4ClientState &state, const NfsFh &fromDir, const char *from, const NfsFh &toDir,
                  const char *to)
{
    const Result<Nfs4Bytes> oldName = nfs4NameOf(from);
    NFS_TRY(oldName);
    const Result<Nfs4Bytes> newName = nfs4NameOf(to);
    NFS_TRY(newName);
    Nfs4Ops ops;
    ops.putFh(fromDir);
    ops.add(OP_SAVEFH);
    ops.putFh(toDir);
    auto &rename = ops.add(OP_RENAME).nfs_argop4_u.oprename;
    rename.oldname = oldName.value();
    rename.newname = newName.value();
    Nfs4Reply reply;
    return nfs4FileCall(state, ops.ops, ops.n, reply);
}

Result<Nfs4Object> nfs4MkDir(Nfs4ClientState &state, const NfsFh &dir, const char *name, uint32_t mode)
{
    const Result<Nfs4Bytes> component = nfs4NameOf(name);
    NFS_TRY(component);
    Nfs4Ops ops;
    ops.putFh(dir);
    CREATE4args &create = ops.add(OP_CREATE).nfs_argop4_u.opcreate;
    create.objtype.type = NF4DIR;
    create.objname = component.value();
    nfs4BitmapSet(&create.createattrs.attrmask, FATTR4_MODE);
    create.createattrs.mode = mode & 07777;
    const u_int getfh = ops.getFhAndAttrs();
    Nfs4Reply reply;
    NFS_TRY(nfs4FileCall(state, ops.ops, ops.n, reply));
    return nfs4ObjectOf(reply[getfh], reply[getfh + 1]);
}

Result<Nfs4DirPage> nfs4ReadDir(Nfs4ClientState &state, const NfsFh &dir, uint64_t cookie,
                                const Nfs4Verifier &verifier, uint32_t maxBytes)
{
    if (maxBytes < kLeastDirBytes || maxBytes > kMostDirBytes)
        return Fail{NFS_ERRNO_INVAL};
    Nfs4Ops ops;
    ops.putFh(dir);
    READDIR4args &read = ops.add(OP_READDIR).nfs_argop4_u.opreaddir;
    read.cookie = cookie;
    std::copy(verifier.begin(), verifier.end(), read.cookieverf);
    read.dircount = maxBytes;
    read.maxcount = maxBytes;
    nfs4BitmapSet(&read.attr_request, FATTR4_FILEID);
    Nfs4Reply reply;
    NFS_TRY(nfs4FileCall(state, ops.ops, ops.n, reply));
    return pageOf(reply[1].nfs_resop4_u.opreaddir);
}
