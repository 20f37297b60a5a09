// RENAME: an object moved to another name, in its own directory or another one.
#include "ops/nfs3PathOps.h"
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

// The handle of the directory dirPath names, following its links, into target (whose buffer
// the caller owns). A path without components names the mount root. 0 or -1; a cycle of links
// ends with K_ELOOP after kLinkRounds rewrites.
int targetDirFind(const char *host, const nfs_fh3 *mountFh, char *dirPath, nfs_fh3 *target)
{
    std::array<char, NFS3_FHSIZE> scratchBytes{};
    for (int round = 0; round <= kLinkRounds; ++round) {
        LOOKUP3res lookup{};
        lookup.LOOKUP3res_u.resok.object.data.data_val = target->data.data_val;
        nfs_fh3 scratch{{0, scratchBytes.data()}};
        const int found = nfs3LookUpByName(host, dirPath, mountFh, &lookup, &scratch, 0);
        if (found == -1)
            return -1;
        if (found == 0) {
            const nfs_fh3 &object = lookup.LOOKUP3res_u.resok.object;
            // No component walked: the result keeps its empty handle.
            return nfs3path::handleCopy(object.data.data_len == 0 ? *mountFh : object, target)
                       ? 0
                       : -1;
        }
    }
    errnoSet(K_ELOOP);
    return -1;
}

int renameCall(const char *host, const nfs_fh3 &fromDir, char *fromName, const nfs_fh3 &toDir,
               char *toName)
{
    const RENAME3args args{.from = {.dir = fromDir, .name = fromName},
                           .to = {.dir = toDir, .name = toName}};
    const nfsrpc::Reply<RENAME3res> reply(nfsops::nfs3Peer(host), NFSPROC3_RENAME, xdr_RENAME3args, args,
                                          xdr_RENAME3res);
    if (nfsops::failed(reply))
        return -1;
    if (reply->status != NFS3_OK) {
        nfsErrnoSet(reply->status);
        return -1;
    }
    return 0;
}

} // namespace

// The directory part of oldPath is not used: the source is oldDirFh. A directory part of
// newPath that names no component ("/") targets the mount root.
int nfs3Rename(const char *host, const nfs_fh3 *mountFh, const char *oldPath,
               const nfs_fh3 *oldDirFh, const char *newPath)
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
    if (newDir[0] == '\0')
        return renameCall(host, *oldDirFh, oldName.data(), *oldDirFh, newName.data());

    PathText dirPath{};
    if (pathCat(newDir[0] == '/' ? "" : ".", newDir.data(), dirPath.data(), dirPath.size()) != 0) {
        errnoSet(K_ENAMETOOLONG);
        return -1;
    }
    std::array<char, NFS3_FHSIZE> targetBytes{};
    nfs_fh3 target{{0, targetBytes.data()}};
    if (targetDirFind(host, mountFh, dirPath.data(), &target) != 0)
        return -1;
    return renameCall(host, *oldDirFh, oldName.data(), target, newName.data());
}
