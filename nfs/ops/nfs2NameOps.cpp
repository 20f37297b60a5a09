// Path look-up, link reading, creation, removal and rename on a version 2 mount: the version's calls, whose
// replies always carry the attributes (LOOKUP) or a bare status (REMOVE, RMDIR, RENAME), and its exported
// routines as thin entries over the shared steps (nfsNameOps.h).
#include "ops/nfs2Protocol.h"
#include "ops/nfsNameOps.h"

#include <kernel/kernelStat.h>

nfsres::Status Nfs2Protocol::lookUpStep(const char *host, const nfs_fh2 &dir, char *name, diropres *res)
{
    diropargs args{};
    nfs2ops::handleCopy(dir, &args.dir); // encoded before the reply lands where dir may be
    args.name = name;
    const nfsrpc::Reply<diropres> reply(nfsops::nfs2Peer(host), NFSPROC_LOOKUP, xdr_diropargs, args,
                                        xdr_diropres, res);
    return nfsops::outcome(reply, res->status);
}

namespace {

constexpr u_int kDefaultFileMode = K_S_IFREG | 0640;
constexpr u_int kNotSet = 0xFFFFFFFFU;

} // namespace

nfsres::Status Nfs2Protocol::createCall(const char *host, const Parent &parent, char *name, int mode,
                                        diropres *res, bool /*exclusive*/)
{
    const u_int given = static_cast<u_int>(mode);
    createargs args{};
    nfs2ops::handleCopy(parent.dir(), &args.where.dir);
    args.where.name = name;
    args.attributes = sattr{.mode = given == 0 ? kDefaultFileMode : given,
                            .uid = kNotSet,
                            .gid = kNotSet,
                            .size = kNotSet,
                            .atime = {kNotSet, kNotSet},
                            .mtime = {kNotSet, kNotSet}};
    const uint32_t proc = (given & K_S_IFDIR) != 0 ? NFSPROC_MKDIR : NFSPROC_CREATE;
    const nfsrpc::Reply<diropres> reply(nfsops::nfs2Peer(host), proc, xdr_createargs, args, xdr_diropres,
                                        res);
    return nfsops::outcome(reply, res->status);
}

nfsres::Status Nfs2Protocol::removeCall(const char *host, uint32_t proc, const nfs_fh2 &dir, char *name)
{
    diropargs args{};
    nfs2ops::handleCopy(dir, &args.dir);
    args.name = name;
    const nfsrpc::Reply<nfsstat> reply(nfsops::nfs2Peer(host), proc, xdr_diropargs, args, xdr_nfsstat);
    return nfsops::outcome(reply);
}

nfsres::Status Nfs2Protocol::renameCall(const char *host, const nfs_fh2 &fromDir, char *fromName,
                                        const nfs_fh2 &toDir, char *toName)
{
    renameargs args{};
    nfs2ops::handleCopy(fromDir, &args.from.dir);
    nfs2ops::handleCopy(toDir, &args.to.dir);
    args.from.name = fromName;
    args.to.name = toName;
    const nfsrpc::Reply<nfsstat> reply(nfsops::nfs2Peer(host), NFSPROC_RENAME, xdr_renameargs, args,
                                       xdr_nfsstat);
    return nfsops::outcome(reply);
}

// As in version 3, the text is decoded counted into storage of the XDR layer and copied only
// when it fits.
nfsres::Status Nfs2Protocol::linkRead(const char *host, const nfs_fh2 &link, char *buf)
{
    const nfsrpc::Reply<NfsLinkReply2> reply(nfsops::nfs2Peer(host), NFSPROC_READLINK, xdr_nfs_fh2, link[0],
                                             xdrNfsLinkReply2);
    if (const nfsres::Status read = nfsops::outcome(reply, reply->status); !read.ok())
        return read;
    return nfspath::linkTextCopy(reply->text, buf);
}

int nfs2LinkRead(const char *host, const nfs_fh2 *fh, char *buf)
{
    const nfsres::Status given = nfsops::ready(host, fh, buf);
    return nfsres::entry(given.ok() ? Nfs2Protocol::linkRead(host, *fh, buf) : given);
}

nfsres::Status Nfs2Protocol::linkCall(const char *host, const nfs_fh2 &fh, const nfs_fh2 &dir, char *name)
{
    linkargs args{};
    nfs2ops::handleCopy(fh, &args.from);
    nfs2ops::handleCopy(dir, &args.to.dir);
    args.to.name = name;
    const nfsrpc::Reply<nfsstat> reply(nfsops::nfs2Peer(host), NFSPROC_LINK, xdr_linkargs, args, xdr_nfsstat);
    return nfsops::outcome(reply);
}

// The link's own mode is 0777, as links have; nothing else is set.
nfsres::Status Nfs2Protocol::symlinkCall(const char *host, const nfs_fh2 &dir, char *name, const char *target)
{
    symlinkargs args{};
    nfs2ops::handleCopy(dir, &args.from.dir);
    args.from.name = name;
    args.to = const_cast<char *>(target); // encoded only
    args.attributes = sattr{.mode = K_S_IFLNK | 0777,
                            .uid = kNotSet,
                            .gid = kNotSet,
                            .size = kNotSet,
                            .atime = {kNotSet, kNotSet},
                            .mtime = {kNotSet, kNotSet}};
    const nfsrpc::Reply<nfsstat> reply(nfsops::nfs2Peer(host), NFSPROC_SYMLINK, xdr_symlinkargs, args,
                                       xdr_nfsstat);
    return nfsops::outcome(reply);
}

nfsres::Result<int> Nfs2Protocol::linkTextGet(const char *host, const nfs_fh2 &fh, char *buffer,
                                              std::size_t size)
{
    const nfsrpc::Reply<NfsLinkReply2> reply(nfsops::nfs2Peer(host), NFSPROC_READLINK, xdr_nfs_fh2, fh[0],
                                             xdrNfsLinkReply2);
    if (const nfsres::Status read = nfsops::outcome(reply, reply->status); !read.ok())
        return read.fail();
    return nfspath::linkTextPart(reply->text, buffer, size);
}

int nfs2LookUpByName(const char *host, char *path, const nfs_fh2 *mountFh, diropres *res, nfs_fh2 *dirFh,
                     int noFollowLast)
{
    return nfsres::entry(nfsname::lookUpByName<Nfs2Protocol>(host, path, mountFh, res, dirFh, noFollowLast));
}

int nfs2ThingCreate(const char *host, char *path, const nfs_fh2 *mountFh, diropres *res, nfs_fh2 *dirFh,
                    int mode)
{
    return nfsres::entry(nfsname::thingCreate<Nfs2Protocol>(host, path, mountFh, res, dirFh, mode));
}

int nfs2FileRemove(const char *host, const nfs_fh2 *mountFh, char *path)
{
    return nfsres::entry(nfsname::fileRemove<Nfs2Protocol>(host, mountFh, path));
}

int nfs2Rename(const char *host, const nfs_fh2 *mountFh, const char *oldPath, const nfs_fh2 *oldDirFh,
               const char *newPath)
{
    return nfsres::entry(nfsname::rename<Nfs2Protocol>(host, mountFh, oldPath, oldDirFh, newPath));
}
