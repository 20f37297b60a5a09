// CREATE and MKDIR: a regular file or a directory as the last component of a path.
#include "ops/nfs3PathOps.h"
#include "ops/nfsOpsCall.h"
#include "ops/nfsPathRewrite.h"

#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>
#include <kernel/pathLib.h>

#include <array>
#include <cstddef>
#include <cstring>

namespace {

using PathText = std::array<char, NFS_MAX_PATH>;

constexpr uint32_t kDefaultFileMode = K_S_IFREG | 0640;

// A MKDIR reply is decoded into the caller's CREATE3res: the two have one form.
static_assert(sizeof(CREATE3res) == sizeof(MKDIR3res));
static_assert(offsetof(CREATE3res, CREATE3res_u.resok.obj) ==
              offsetof(MKDIR3res, MKDIR3res_u.resok.obj));
static_assert(offsetof(CREATE3res, CREATE3res_u.resok.obj_attributes) ==
              offsetof(MKDIR3res, MKDIR3res_u.resok.obj_attributes));
static_assert(offsetof(CREATE3res, CREATE3res_u.resok.dir_wcc) ==
              offsetof(MKDIR3res, MKDIR3res_u.resok.dir_wcc));

char **handleBuffer(CREATE3res &res) { return &res.CREATE3res_u.resok.obj.post_op_fh3_u.handle.data.data_val; }

set_mode3 modeSet(uint32_t mode) { return set_mode3{.set_it = TRUE, .set_mode3_u = {.mode = mode}}; }

// The CREATE or MKDIR call: 0 or its error number. The reply is released at once: the new
// object's handle lands in the caller's buffer, and the rest holds nothing allocated.

// MKDIR with the mode as given (directory bit included) and, when the parent's attributes came
// with the LOOKUP reply itself, the parent's owner and group.
int directoryMake(const char *host, const LOOKUP3res &parent, char *name, int mode,
                  CREATE3res *res)
{
    MKDIR3args args{};
    args.where = {.dir = parent.LOOKUP3res_u.resok.object, .name = name};
    args.attributes.mode = modeSet(static_cast<uint32_t>(mode));
    const post_op_attr &parentAttr = parent.LOOKUP3res_u.resok.obj_attributes;
    if (parentAttr.attributes_follow == TRUE) {
        args.attributes.uid = {.set_it = TRUE, .set_uid3_u = {.uid = parentAttr.post_op_attr_u.attributes.uid}};
        args.attributes.gid = {.set_it = TRUE, .set_gid3_u = {.gid = parentAttr.post_op_attr_u.attributes.gid}};
    }
    // The MKDIR reply is decoded as the CREATE reply it has the form of.
    const nfsrpc::Reply<CREATE3res> reply(nfsops::nfs3Peer(host), NFSPROC3_MKDIR, xdr_MKDIR3args, args,
                                          xdr_CREATE3res, res, handleBuffer);
    return reply.error();
}

// CREATE, UNCHECKED: an existing file of that name is reached instead of refused.
int fileCreate(const char *host, const LOOKUP3res &parent, char *name, int mode,
               CREATE3res *res)
{
    CREATE3args args{};
    args.where = {.dir = parent.LOOKUP3res_u.resok.object, .name = name};
    args.how.mode = UNCHECKED;
    args.how.createhow3_u.obj_attributes.mode =
        modeSet(mode == 0 ? kDefaultFileMode : static_cast<uint32_t>(mode));
    const nfsrpc::Reply<CREATE3res> reply(nfsops::nfs3Peer(host), NFSPROC3_CREATE, xdr_CREATE3args, args,
                                          xdr_CREATE3res, res, handleBuffer);
    return reply.error();
}

// The created name turned out to be a symbolic link: path becomes its target, a relative
// text taken from the directory that holds the link, so that the result stays rooted at the
// mount. -2, or -1 when the reply carried no handle or the result does not fit (26).
int linkFollow(const char *host, const CREATE3res &res, const char *dirPart, char *path)
{
    const post_op_fh3 &obj = res.CREATE3res_u.resok.obj;
    if (obj.handle_follows != TRUE)
        return -1;
    PathText linkText{};
    if (nfs3LinkRead(host, &obj.post_op_fh3_u.handle, linkText.data()) != 0)
        return -1;
    return nfspath::createdLink(dirPart, linkText.data(), path);
}

} // namespace

int nfs3ThingCreate(const char *host, char *path, const nfs_fh3 *mountFh, CREATE3res *res,
                    nfs_fh3 *dirFh, int mode)
{
    if (nfsInit() != 0)
        return -1;
    *res = CREATE3res{};
    PathText dirPart{};
    PathText name{};
    if (strnlen(path, NFS_MAX_PATH) >= NFS_MAX_PATH ||
        pathSplit(path, dirPart.data(), dirPart.size(), name.data(), name.size()) != 0) {
        errnoSet(K_ENAMETOOLONG);
        return -1;
    }
    // The parent's handle is decoded into dirFh's buffer; without components it stays dirFh.
    LOOKUP3res parent{};
    parent.LOOKUP3res_u.resok.object = *dirFh;
    std::array<char, NFS3_FHSIZE> scratchBytes{};
    nfs_fh3 scratch{{0, scratchBytes.data()}};
    const int found = nfs3LookUpByName(host, dirPart.data(), mountFh, &parent, &scratch, 0);
    if (found == -2) {
        PathText joined{};
        if (std::strlen(dirPart.data()) + std::strlen(name.data()) + 1 >= NFS_MAX_PATH ||
            pathCat(dirPart.data(), name.data(), joined.data(), joined.size()) != 0) {
            errnoSet(K_ENAMETOOLONG);
            return -1;
        }
        std::memcpy(path, joined.data(), std::strlen(joined.data()) + 1);
        return -2;
    }
    if (found != 0)
        return -1;

    res->CREATE3res_u.resok.obj.post_op_fh3_u.handle.data.data_val = dirFh->data.data_val;
    const int made = (static_cast<uint32_t>(mode) & K_S_IFDIR) != 0
                         ? directoryMake(host, parent, name.data(), mode, res)
                         : fileCreate(host, parent, name.data(), mode, res);
    if (made != 0) {
        errnoSet(made);
        return -1;
    }
    if (res->status != NFS3_OK) {
        nfsErrnoSet(res->status);
        return -1;
    }
    const post_op_attr &attr = res->CREATE3res_u.resok.obj_attributes;
    if (attr.attributes_follow != TRUE || attr.post_op_attr_u.attributes.type != NF3LNK)
        return 0;
    return linkFollow(host, *res, dirPart.data(), path);
}
