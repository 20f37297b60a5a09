// CREATE and MKDIR on a version 2 server: a regular file or a directory as the last component
// of a path. Unlike version 3, a directory gets no owner from its parent: the server chooses.
#include "ops/nfs2Call.h"
#include "ops/nfsOpsCall.h"
#include "ops/nfsPathRewrite.h"

#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>
#include <kernel/pathLib.h>

#include <cstring>

namespace {

constexpr u_int kDefaultFileMode = K_S_IFREG | 0640;
constexpr u_int kNotSet = 0xFFFFFFFFU;

sattr attributesFor(int mode)
{
    const u_int given = static_cast<u_int>(mode);
    return sattr{.mode = given == 0 ? kDefaultFileMode : given,
                 .uid = kNotSet,
                 .gid = kNotSet,
                 .size = kNotSet,
                 .atime = {kNotSet, kNotSet},
                 .mtime = {kNotSet, kNotSet}};
}

// The created name turned out to be a symbolic link: path becomes its target.
int linkFollow(const char *host, const diropres &res, const char *dirPart, char *path)
{
    nfspath::PathText linkText{};
    if (nfs2LinkRead(host, &res.diropres_u.diropres.file, linkText.data()) != 0)
        return -1;
    return nfspath::createdLink(dirPart, linkText.data(), path);
}

} // namespace

int nfs2ThingCreate(const char *host, char *path, const nfs_fh2 *mountFh, diropres *res,
                    nfs_fh2 *dirFh, int mode)
{
    if (nfsInit() != 0)
        return -1;
    *res = diropres{};
    nfspath::PathText dirPart{};
    nfspath::PathText name{};
    if (strnlen(path, NFS_MAX_PATH) >= NFS_MAX_PATH ||
        pathSplit(path, dirPart.data(), dirPart.size(), name.data(), name.size()) != 0) {
        errnoSet(K_ENAMETOOLONG);
        return -1;
    }
    diropres parent{};
    nfs_fh2 scratch{};
    const int found = nfs2LookUpByName(host, dirPart.data(), mountFh, &parent, &scratch, 0);
    if (found == -2) {
        nfspath::PathText joined{};
        if (std::strlen(dirPart.data()) + std::strlen(name.data()) + 1 >= NFS_MAX_PATH ||
            pathCat(dirPart.data(), name.data(), joined.data(), joined.size()) != 0) {
            errnoSet(K_ENAMETOOLONG);
            return -1;
        }
        nfspath::replace(path, joined.data());
        return -2;
    }
    if (found != 0)
        return -1;
    // Without components the lookup answers nothing: the parent is the caller's directory.
    if (parent.diropres_u.diropres.attributes.type != NFNON)
        nfs2ops::handleCopy(parent.diropres_u.diropres.file, dirFh);

    createargs args{};
    nfs2ops::handleCopy(*dirFh, &args.where.dir);
    args.where.name = name.data();
    args.attributes = attributesFor(mode);
    const uint32_t proc = (static_cast<u_int>(mode) & K_S_IFDIR) != 0 ? NFSPROC_MKDIR : NFSPROC_CREATE;
    {
        const nfsrpc::Reply<diropres> reply(nfsops::nfs2Peer(host), proc, xdr_createargs, args, xdr_diropres, res);
        if (nfsops::failed(reply) || !nfsops::statusOk(res->status))
            return -1;
    }
    if (res->diropres_u.diropres.attributes.type != NFLNK)
        return 0;
    return linkFollow(host, *res, dirPart.data(), path);
}
