// Path look-up, removal and rename on a version 3 mount: the version's calls, and its exported
// routines as thin entries over the shared steps (nfsNameOps.h).
#include "ops/nfs3Protocol.h"
#include "ops/nfsNameOps.h"

namespace {

char **objectBuffer(LOOKUP3res &res) { return &res.LOOKUP3res_u.resok.object.data.data_val; }

// Fills in the attributes a LOOKUP reply left out; attributes_follow keeps the server's value.
int attributesFetch(const char *host, LOOKUP3resok *ok)
{
    const GETATTR3args args{.object = ok->object};
    const nfsrpc::Reply<GETATTR3res> reply(nfsops::nfs3Peer(host), NFSPROC3_GETATTR, xdr_GETATTR3args, args,
                                           xdr_GETATTR3res);
    if (nfsops::failed(reply) || !nfsops::statusOk(reply->status))
        return -1;
    ok->obj_attributes.post_op_attr_u.attributes = reply->GETATTR3res_u.resok.obj_attributes;
    return 0;
}

int statusCall(const nfsrpc::Reply<REMOVE3res> &reply)
{
    return nfsops::failed(reply) || !nfsops::statusOk(reply->status) ? -1 : 0;
}

} // namespace

int Nfs3Protocol::lookUpStep(const char *host, const nfs_fh3 &dir, char *name, LOOKUP3res *res)
{
    // The failure arm shares the storage of the handle's buffer pointer, which is put back.
    char *const buffer = *objectBuffer(*res);
    const LOOKUP3args args{.what = {.dir = dir, .name = name}};
    bool found = false;
    {
        const nfsrpc::Reply<LOOKUP3res> reply(nfsops::nfs3Peer(host), NFSPROC3_LOOKUP, xdr_LOOKUP3args, args,
                                              xdr_LOOKUP3res, res, objectBuffer);
        found = !nfsops::failed(reply) && nfsops::statusOk(res->status);
    }
    *objectBuffer(*res) = buffer;
    if (!found)
        return -1;
    LOOKUP3resok *ok = &res->LOOKUP3res_u.resok;
    return ok->obj_attributes.attributes_follow == TRUE ? 0 : attributesFetch(host, ok);
}

// RMDIR has the arguments and result of REMOVE.
int Nfs3Protocol::removeCall(const char *host, uint32_t proc, const nfs_fh3 &dir, char *name)
{
    const REMOVE3args args{.object = {.dir = dir, .name = name}};
    return statusCall(nfsrpc::Reply<REMOVE3res>(nfsops::nfs3Peer(host), proc, xdr_REMOVE3args, args, xdr_REMOVE3res));
}

int Nfs3Protocol::renameCall(const char *host, const nfs_fh3 &fromDir, char *fromName, const nfs_fh3 &toDir,
                             char *toName)
{
    const RENAME3args args{.from = {.dir = fromDir, .name = fromName}, .to = {.dir = toDir, .name = toName}};
    const nfsrpc::Reply<RENAME3res> reply(nfsops::nfs3Peer(host), NFSPROC3_RENAME, xdr_RENAME3args, args,
                                          xdr_RENAME3res);
    return nfsops::failed(reply) || !nfsops::statusOk(reply->status) ? -1 : 0;
}

int nfs3LookUpByName(const char *host, char *path, const nfs_fh3 *mountFh, LOOKUP3res *res, nfs_fh3 *dirFh,
                     int noFollowLast)
{
    return nfsname::lookUpByName<Nfs3Protocol>(host, path, mountFh, res, dirFh, noFollowLast);
}

int nfs3FileRemove(const char *host, const nfs_fh3 *mountFh, char *path)
{
    return nfsname::fileRemove<Nfs3Protocol>(host, mountFh, path);
}

int nfs3Rename(const char *host, const nfs_fh3 *mountFh, const char *oldPath, const nfs_fh3 *oldDirFh,
               const char *newPath)
{
    return nfsname::rename<Nfs3Protocol>(host, mountFh, oldPath, oldDirFh, newPath);
}
