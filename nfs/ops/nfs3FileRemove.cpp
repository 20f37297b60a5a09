// REMOVE and RMDIR: a file, a symbolic link (not its target) or an empty directory.
#include "ops/nfs3PathOps.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/pathLib.h>

#include <array>
#include <cstring>

namespace {

// RMDIR has the arguments and result of REMOVE.
int removeCall(const char *host, uint32_t proc, const nfs_fh3 &dir, char *name)
{
    const REMOVE3args args{.object = {.dir = dir, .name = name}};
    const nfsrpc::Reply<REMOVE3res> reply(nfsops::nfs3Peer(host), proc, xdr_REMOVE3args, args, xdr_REMOVE3res);
    if (nfsops::failed(reply))
        return -1;
    if (reply->status != NFS3_OK) {
        nfsErrnoSet(reply->status);
        return -1;
    }
    return 0;
}

} // namespace

// A path of NFS_MAX_PATH characters or more is refused with 26.
int nfs3FileRemove(const char *host, const nfs_fh3 *mountFh, char *path)
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
    std::array<char, NFS3_FHSIZE> objectBytes{};
    std::array<char, NFS3_FHSIZE> dirBytes{};
    LOOKUP3res lookup{};
    lookup.LOOKUP3res_u.resok.object.data.data_val = objectBytes.data();
    nfs_fh3 dirFh{{0, dirBytes.data()}};
    const int found = nfs3LookUpByName(host, path, mountFh, &lookup, &dirFh, 1);
    if (found != 0)
        return found;
    // A path without components leaves the result zeroed: the mount root is not removed.
    uint32_t proc = 0;
    switch (lookup.LOOKUP3res_u.resok.obj_attributes.post_op_attr_u.attributes.type) {
    case NF3DIR:
        proc = NFSPROC3_RMDIR;
        break;
    case NF3REG:
    case NF3LNK:
        proc = NFSPROC3_REMOVE;
        break;
    default:
        errnoSet(NFS_ERR_INAPPROPRIATE_FILE_TYPE);
        return -1;
    }
    return removeCall(host, proc, dirFh, name.data());
}
