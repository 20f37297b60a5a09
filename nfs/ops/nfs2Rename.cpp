// RENAME on a version 2 server: an object moved to another name, in its own directory or
// another one. The steps are those of version 3, with 32-byte handles and a bare status.
#include "ops/nfs2Call.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/pathLib.h>

#include <array>
#include <cstring>

namespace {

using PathText = std::array<char, NFS_MAX_PATH>;

// As many links as the I/O system follows for one path before giving up with K_ELOOP.
constexpr int kLinkRounds = K_IOS_MAX_RESTARTS;

// The handle of the directory dirPath names, following its links; a path without components
// names the mount root. 0 or -1; a cycle of links ends with K_ELOOP.
int targetDirFind(const char *host, const nfs_fh2 *mountFh, char *dirPath, nfs_fh2 *target)
{
    for (int round = 0; round <= kLinkRounds; ++round) {
        diropres lookup{};
        nfs_fh2 scratch{};
        const int found = nfs2LookUpByName(host, dirPath, mountFh, &lookup, &scratch, 0);
        if (found == -1)
            return -1;
        if (found == 0) {
            // No component walked: the result keeps its zeroed type.
            const diropokres &ok = lookup.diropres_u.diropres;
            nfs2ops::handleCopy(ok.attributes.type == NFNON ? *mountFh : ok.file, target);
            return 0;
        }
    }
    errnoSet(K_ELOOP);
    return -1;
}

} // namespace

int nfs2Rename(const char *host, const nfs_fh2 *mountFh, const char *oldPath,
               const nfs_fh2 *oldDirFh, const char *newPath)
{
    if (nfsInit() != 0)
        return -1;
    PathText oldDir{};
    PathText oldName{};
    PathText newDir{};
    PathText newName{};
    if (strnlen(oldPath, NFS_MAX_PATH) >= NFS_MAX_PATH ||
        strnlen(newPath, NFS_MAX_PATH) >= NFS_MAX_PATH ||
        pathSplit(oldPath, oldDir.data(), oldDir.size(), oldName.data(), oldName.size()) != 0 ||
        pathSplit(newPath, newDir.data(), newDir.size(), newName.data(), newName.size()) != 0) {
        errnoSet(K_ENAMETOOLONG);
        return -1;
    }
    renameargs args{};
    nfs2ops::handleCopy(*oldDirFh, &args.from.dir);
    args.from.name = oldName.data();
    args.to.name = newName.data();
    if (newDir[0] == '\0') {
        nfs2ops::handleCopy(*oldDirFh, &args.to.dir);
    } else {
        PathText dirPath{};
        if (pathCat(newDir[0] == '/' ? "" : ".", newDir.data(), dirPath.data(), dirPath.size()) != 0) {
            errnoSet(K_ENAMETOOLONG);
            return -1;
        }
        if (targetDirFind(host, mountFh, dirPath.data(), &args.to.dir) != 0)
            return -1;
    }
    const nfsrpc::Reply<nfsstat> reply(nfsops::nfs2Peer(host), NFSPROC_RENAME, xdr_renameargs, args, xdr_nfsstat);
    return nfsops::failed(reply) || !nfs2ops::statusOk(*reply) ? -1 : 0;
}
