// Path look-up, link reading, creation, removal and rename on a version 3 mount: the version's calls, and its
// exported routines as thin entries over the shared steps (nfsNameOps.h).
#include "ops/nfs3Protocol.h"
#include "ops/nfsNameOps.h"

#include <kernel/kernelStat.h>

#include <kernel/taskLib.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <ctime>

namespace {

char **objectBuffer(LOOKUP3res &res)
{
    return &res.LOOKUP3res_u.resok.object.data.data_val;
}

// Fills in the attributes a LOOKUP reply left out; attributes_follow keeps the server's value.
nfsres::Status attributesFetch(const char *host, LOOKUP3resok *ok)
{
    return Nfs3Protocol::attrGet(host, ok->object, &ok->obj_attributes.post_op_attr_u.attributes);
}

constexpr uint32_t kDefaultFileMode = K_S_IFREG | 0640;

// A MKDIR reply is decoded as the CREATE3res it has the form of.
static_assert(sizeof(CREATE3res) == sizeof(MKDIR3res));
static_assert(offsetof(CREATE3res, CREATE3res_u.resok.obj) == offsetof(MKDIR3res, MKDIR3res_u.resok.obj));
static_assert(offsetof(CREATE3res, CREATE3res_u.resok.obj_attributes) ==
              offsetof(MKDIR3res, MKDIR3res_u.resok.obj_attributes));
static_assert(offsetof(CREATE3res, CREATE3res_u.resok.dir_wcc) ==
              offsetof(MKDIR3res, MKDIR3res_u.resok.dir_wcc));

char **handleBuffer(CREATE3res &res)
{
    return &res.CREATE3res_u.resok.obj.post_op_fh3_u.handle.data.data_val;
}

set_mode3 modeSet(uint32_t mode)
{
    return set_mode3{.set_it = TRUE, .set_mode3_u = {.mode = mode}};
}

// MKDIR with the mode as given (directory bit included) and, when the parent's attributes came
// with the LOOKUP reply itself, the parent's owner and group. The error number, or 0.
int directoryMake(const char *host, const LOOKUP3resok &parent, char *name, int mode, CREATE3res *res)
{
    MKDIR3args args{};
    args.where = {.dir = parent.object, .name = name};
    args.attributes.mode = modeSet(static_cast<uint32_t>(mode));
    if (parent.obj_attributes.attributes_follow == TRUE) {
        const fattr3 &owner = parent.obj_attributes.post_op_attr_u.attributes;
        args.attributes.uid = {.set_it = TRUE, .set_uid3_u = {.uid = owner.uid}};
        args.attributes.gid = {.set_it = TRUE, .set_gid3_u = {.gid = owner.gid}};
    }
    return nfsrpc::Reply<CREATE3res>(nfsops::nfs3Peer(host), NFSPROC3_MKDIR, xdr_MKDIR3args, args,
                                     xdr_CREATE3res, res, handleBuffer)
        .error();
}

// A verifier no other exclusive create of this client sends: the clock, the task and a count.
void verifierMake(createverf3 verf)
{
    static std::atomic<uint32_t> count{0};
    const auto words =
        std::array<uint32_t, 2>{static_cast<uint32_t>(std::time(nullptr)) ^
                                    static_cast<uint32_t>(reinterpret_cast<uintptr_t>(taskIdCurrent())),
                                ++count};
    std::memcpy(verf, words.data(), NFS3_CREATEVERFSIZE);
}

// CREATE, UNCHECKED: an existing file of that name is reached instead of refused. EXCLUSIVE:
// refused with EXIST, atomically; the server keeps the verifier in the file's attributes, so
// the mode and the times are set afterwards.
int fileCreate(const char *host, const LOOKUP3resok &parent, char *name, int mode, CREATE3res *res,
               bool exclusive)
{
    CREATE3args args{};
    args.where = {.dir = parent.object, .name = name};
    args.how.mode = exclusive ? EXCLUSIVE : UNCHECKED;
    if (exclusive)
        verifierMake(args.how.createhow3_u.verf);
    else
        args.how.createhow3_u.obj_attributes.mode =
            modeSet(mode == 0 ? kDefaultFileMode : static_cast<uint32_t>(mode));
    return nfsrpc::Reply<CREATE3res>(nfsops::nfs3Peer(host), NFSPROC3_CREATE, xdr_CREATE3args, args,
                                     xdr_CREATE3res, res, handleBuffer)
        .error();
}

} // namespace

nfsres::Status Nfs3Protocol::lookUpStep(const char *host, const nfs_fh3 &dir, char *name, LOOKUP3res *res)
{
    // The failure arm shares the storage of the handle's buffer pointer, which is put back.
    char *const buffer = *objectBuffer(*res);
    const LOOKUP3args args{.what = {.dir = dir, .name = name}};
    nfsres::Status found;
    {
        const nfsrpc::Reply<LOOKUP3res> reply(nfsops::nfs3Peer(host), NFSPROC3_LOOKUP, xdr_LOOKUP3args, args,
                                              xdr_LOOKUP3res, res, objectBuffer);
        found = nfsops::outcome(reply, res->status);
    }
    *objectBuffer(*res) = buffer;
    if (!found.ok())
        return found;
    LOOKUP3resok *ok = &res->LOOKUP3res_u.resok;
    return ok->obj_attributes.attributes_follow == TRUE ? nfsres::Status{} : attributesFetch(host, ok);
}

// The reply is released at once: the new handle is in the parent's buffer, and the rest holds
// nothing allocated.
nfsres::Status Nfs3Protocol::createCall(const char *host, const Parent &parent, char *name, int mode,
                                        CREATE3res *res, bool exclusive)
{
    *handleBuffer(*res) = parent.found().object.data.data_val;
    const int error = (static_cast<uint32_t>(mode) & K_S_IFDIR) != 0
                          ? directoryMake(host, parent.found(), name, mode, res)
                          : fileCreate(host, parent.found(), name, mode, res, exclusive);
    if (error != 0)
        return nfsres::Fail{error};
    if (const nfsres::Status made = nfsops::statusOf(res->status); !made.ok())
        return made;
    const nfs_fh3 *made = createdHandle(*res);
    if (!exclusive || made == nullptr)
        return {};
    // The server keeps the verifier in the file's times: they are set to its clock with the mode,
    // or the file would carry the verifier's bytes as its access and modification times.
    NfsAttrChange change;
    change.mode = (mode == 0 ? kDefaultFileMode : static_cast<uint32_t>(mode)) & 07777U;
    change.times = NfsAttrChange::Times::now;
    post_op_attr &attr = res->CREATE3res_u.resok.obj_attributes;
    if (const nfsres::Status set = attrSet(host, *made, change, &attr.post_op_attr_u.attributes); !set.ok())
        return set; // the file stays created
    // Attributes the SETATTR reply brought count as present (a zeroed record has no type).
    if (attr.post_op_attr_u.attributes.type != 0)
        attr.attributes_follow = TRUE;
    return {};
}

// RMDIR has the arguments and result of REMOVE.
nfsres::Status Nfs3Protocol::removeCall(const char *host, uint32_t proc, const nfs_fh3 &dir, char *name)
{
    const REMOVE3args args{.object = {.dir = dir, .name = name}};
    const nfsrpc::Reply<REMOVE3res> reply(nfsops::nfs3Peer(host), proc, xdr_REMOVE3args, args,
                                          xdr_REMOVE3res);
    return nfsops::outcome(reply, reply->status);
}

nfsres::Status Nfs3Protocol::renameCall(const char *host, const nfs_fh3 &fromDir, char *fromName,
                                        const nfs_fh3 &toDir, char *toName)
{
    const RENAME3args args{.from = {.dir = fromDir, .name = fromName}, .to = {.dir = toDir, .name = toName}};
    const nfsrpc::Reply<RENAME3res> reply(nfsops::nfs3Peer(host), NFSPROC3_RENAME, xdr_RENAME3args, args,
                                          xdr_RENAME3res);
    return nfsops::outcome(reply, reply->status);
}

// The text is decoded into storage of the XDR layer, counted, and copied only when it fits with
// its terminator in NFS_MAX_PATH bytes (nfspath::linkTextCopy); a longer text is refused with
// 26. Decoding straight into the caller's buffer would turn such a text into a failed call
// and a lost client handle.
nfsres::Status Nfs3Protocol::linkRead(const char *host, const nfs_fh3 &link, char *buf)
{
    const READLINK3args args{.symlink = link};
    const nfsrpc::Reply<NfsLinkReply3> reply(nfsops::nfs3Peer(host), NFSPROC3_READLINK, xdr_READLINK3args,
                                             args, xdrNfsLinkReply3);
    if (const nfsres::Status read = nfsops::outcome(reply, reply->status); !read.ok())
        return read;
    return nfspath::linkTextCopy(reply->text, buf);
}

int nfs3LinkRead(const char *host, const nfs_fh3 *fh, char *buf)
{
    const nfsres::Status given = nfsops::ready(host, fh, buf);
    return nfsres::entry(given.ok() ? Nfs3Protocol::linkRead(host, *fh, buf) : given);
}

nfsres::Status Nfs3Protocol::linkCall(const char *host, const nfs_fh3 &fh, const nfs_fh3 &dir, char *name)
{
    const LINK3args args{.file = fh, .link = {.dir = dir, .name = name}};
    const nfsrpc::Reply<LINK3res> reply(nfsops::nfs3Peer(host), NFSPROC3_LINK, xdr_LINK3args, args,
                                        xdr_LINK3res);
    return nfsops::outcome(reply, reply->status);
}

// The link's own mode is 0777, as links have; the server may ignore it.
nfsres::Status Nfs3Protocol::symlinkCall(const char *host, const nfs_fh3 &dir, char *name, const char *target)
{
    SYMLINK3args args{};
    args.where = {.dir = dir, .name = name};
    args.symlink.symlink_attributes.mode = modeSet(0777);
    args.symlink.symlink_data = const_cast<char *>(target); // encoded only
    const nfsrpc::Reply<SYMLINK3res> reply(nfsops::nfs3Peer(host), NFSPROC3_SYMLINK, xdr_SYMLINK3args, args,
                                           xdr_SYMLINK3res);
    return nfsops::outcome(reply, reply->status);
}

nfsres::Result<int> Nfs3Protocol::linkTextGet(const char *host, const nfs_fh3 &fh, char *buffer,
                                              std::size_t size)
{
    const READLINK3args args{.symlink = fh};
    const nfsrpc::Reply<NfsLinkReply3> reply(nfsops::nfs3Peer(host), NFSPROC3_READLINK, xdr_READLINK3args,
                                             args, xdrNfsLinkReply3);
    if (const nfsres::Status read = nfsops::outcome(reply, reply->status); !read.ok())
        return read.fail();
    return nfspath::linkTextPart(reply->text, buffer, size);
}

int nfs3LookUpByName(const char *host, char *path, const nfs_fh3 *mountFh, LOOKUP3res *res, nfs_fh3 *dirFh,
                     int noFollowLast)
{
    return nfsres::entry(nfsname::lookUpByName<Nfs3Protocol>(host, path, mountFh, res, dirFh, noFollowLast));
}

int nfs3ThingCreate(const char *host, char *path, const nfs_fh3 *mountFh, CREATE3res *res, nfs_fh3 *dirFh,
                    int mode)
{
    return nfsres::entry(nfsname::thingCreate<Nfs3Protocol>(host, path, mountFh, res, dirFh, mode));
}

int nfs3FileRemove(const char *host, const nfs_fh3 *mountFh, char *path)
{
    return nfsres::entry(nfsname::fileRemove<Nfs3Protocol>(host, mountFh, path));
}

int nfs3Rename(const char *host, const nfs_fh3 *mountFh, const char *oldPath, const nfs_fh3 *oldDirFh,
               const char *newPath)
{
    return nfsres::entry(nfsname::rename<Nfs3Protocol>(host, mountFh, oldPath, oldDirFh, newPath));
}
