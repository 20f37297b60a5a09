// REMOVE and RMDIR on a version 2 server: a file, a symbolic link (not its target) or an
// empty directory. The reply is the bare status.
#include "ops/nfs2Call.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/pathLib.h>

#include <array>
#include <cstring>

int nfs2FileRemove(const char *host, const nfs_fh2 *mountFh, char *path)
{
    if (nfsInit() != 0)
        return -1;
    std::array<char, NFS_MAX_PATH> dirPart{};
    std::array<char, NFS_MAX_PATH> name{};
    if (strnlen(path, NFS_MAX_PATH) >= NFS_MAX_PATH ||
        pathSplit(path, dirPart.data(), dirPart.size(), name.data(), name.size()) != 0) {
        errnoSet(K_ENAMETOOLONG);
        return -1;
    }
    diropres lookup{};
    diropargs args{};
    const int found = nfs2LookUpByName(host, path, mountFh, &lookup, &args.dir, 1);
    if (found != 0)
        return found;
    // A path without components leaves the result zeroed: the mount root is not removed.
    uint32_t proc = 0;
    switch (lookup.diropres_u.diropres.attributes.type) {
    case NFDIR:
        proc = NFSPROC_RMDIR;
        break;
    case NFREG:
    case NFLNK:
        proc = NFSPROC_REMOVE;
        break;
    default:
        errnoSet(NFS_ERR_INAPPROPRIATE_FILE_TYPE);
        return -1;
    }
    args.name = name.data();
    const nfsrpc::Reply<nfsstat> reply(nfsops::nfs2Peer(host), proc, xdr_diropargs, args, xdr_nfsstat);
    return nfsops::failed(reply) || !nfs2ops::statusOk(*reply) ? -1 : 0;
}
