// The version 3 driver's open and create entries: the path resolved on the server, the file
// created or truncated when asked, the caller's rights checked, and the open-file record built.
#include "drv/nfs3DrvEntries.h"

#include "core/nfsConfig.h"
#include "drv/nfsDrvOpenSteps.h"
#include "ops/nfs3PathOps.h"

#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>
#include <kernel/taskLib.h>

#include <array>
#include <cstring>

namespace {

// One lookup's result: the object's handle and attributes, and the directory that holds it,
// each handle in a buffer of its own.
class Lookup {
public:
    Lookup()
    {
        res_.LOOKUP3res_u.resok.object.data.data_val = objectBytes_.data();
        dirFh_.data.data_val = dirBytes_.data();
    }
    Lookup(const Lookup &) = delete;
    Lookup &operator=(const Lookup &) = delete;

    // stopAtLink: a symbolic link as last component is the object found, not followed.
    int run(NfsDevice *dev, char *path, bool stopAtLink = false)
    {
        return nfs3LookUpByName(dev->host, path, &dev->mountFh, &res_, &dirFh_, stopAtLink ? 1 : 0);
    }
    // The lookup fetches the attributes by a separate call when its reply carries none, so
    // after a successful run they are defined whether or not they are marked present.
    const fattr3 &attr() const { return res_.LOOKUP3res_u.resok.obj_attributes.post_op_attr_u.attributes; }
    const nfs_fh3 &object() const { return res_.LOOKUP3res_u.resok.object; }
    const nfs_fh3 &dir() const { return dirFh_; }

private:
    std::array<char, NFS3_FHSIZE> objectBytes_{};
    std::array<char, NFS3_FHSIZE> dirBytes_{};
    LOOKUP3res res_{};
    nfs_fh3 dirFh_{};
};

// A CREATE or MKDIR of the last component, given its own copy of the parent's handle: the
// create decodes the new object's handle into that buffer, and the parent is still needed.
class Creation {
public:
    explicit Creation(const nfs_fh3 &parent)
    {
        fh_.data.data_val = bytes_.data();
        nfs3path::handleCopy(parent, &fh_);
    }
    Creation(const Creation &) = delete;
    Creation &operator=(const Creation &) = delete;

    int run(NfsDevice *dev, char *path, int mode)
    {
        return nfs3ThingCreate(dev->host, path, &dev->mountFh, &res_, &fh_, mode);
    }
    bool hasAttr() const { return res_.CREATE3res_u.resok.obj_attributes.attributes_follow == TRUE; }
    bool hasHandle() const { return res_.CREATE3res_u.resok.obj.handle_follows == TRUE; }
    const fattr3 &attr() const { return res_.CREATE3res_u.resok.obj_attributes.post_op_attr_u.attributes; }
    const nfs_fh3 &object() const { return res_.CREATE3res_u.resok.obj.post_op_fh3_u.handle; }

private:
    std::array<char, NFS3_FHSIZE> bytes_{};
    nfs_fh3 fh_{};
    CREATE3res res_{};
};

// O_TRUNC: an existing file the caller may write is removed, so that it is created anew.
// 0 to go on, -1 or -2 (path rewritten) to stop.
int truncateStep(NfsDevice *dev, nfsdrv::PathText &path, bool create)
{
    Lookup existing;
    const int found = existing.run(dev, path.data());
    if (found != 0)
        return found == K_FOLLOW_LINK || !nfsdrv::missing() ? found : 0;
    if (!nfsdrv::allowed(existing.attr(), nfsdrv::kWantWrite))
        return nfsdrv::denied();
    // A directory is never removed to be replaced by a file.
    if (existing.attr().type == NF3DIR) {
        errnoSet(K_EISDIR);
        return -1;
    }
    // A removal the server refuses fails the open: creating over the old file would leave its
    // bytes behind what is written next. A file that went away meanwhile is simply made anew.
    const int removed = nfs3Delete(dev, path.data());
    if (removed == -1) {
        const bool goneMeanwhile = errnoGet() == (NFS_ERRNO_BASE | NFS3ERR_NOENT);
        return goneMeanwhile && create ? 0 : -1;
    }
    return removed == K_FOLLOW_LINK ? K_FOLLOW_LINK : 0;
}

// Builds the record from the file's handles and attributes; null when memory runs out.
NfsOpenFile *recordBuild(NfsDevice *dev, const nfsdrv::PathText &path, int accessMode,
                         const nfs_fh3 &fh, const nfs_fh3 &dirFh, const fattr3 &attr)
{
    nfs3drv::HeapBlock<NfsOpenFile> file(static_cast<NfsOpenFile *>(std::calloc(1, sizeof(NfsOpenFile))));
    if (!file)
        return nullptr;
    nfs3drv::HeapBlock<char> fhBytes(static_cast<char *>(std::malloc(NFS3_FHSIZE)));
    if (!fhBytes)
        return nullptr;
    nfs3drv::HeapBlock<char> dirBytes(static_cast<char *>(std::malloc(NFS3_FHSIZE)));
    if (!dirBytes)
        return nullptr;
    file->fh.data.data_val = fhBytes.get();
    file->dirFh.data.data_val = dirBytes.get();
    if (!nfs3path::handleCopy(fh, &file->fh) || !nfs3path::handleCopy(dirFh, &file->dirFh)) {
        errnoSet(NFS_ERRNO_BASE | NFS3ERR_BADHANDLE);
        return nullptr;
    }
    nfs3drv::HeapBlock<char> cookie;
    if (attr.type == NF3DIR) {
        cookie.reset(static_cast<char *>(std::calloc(1, NFS_COOKIE_SIZE)));
        if (!cookie)
            return nullptr;
    }
    file->semId = semMCreate(mutexOptionsNfsDrv);
    if (file->semId == nullptr)
        return nullptr;
    file->pDev = dev;
    file->pCache = &dev->cache;
    std::memcpy(file->name, path.data(), std::strlen(path.data()) + 1);
    file->pos = 0;
    file->accessMode = accessMode;
    file->attr = attr;
    file->cookie = cookie.release();
    file->dirReply = nullptr;
    static_cast<void>(fhBytes.release());
    static_cast<void>(dirBytes.release());
    return file.release();
}

} // namespace

namespace nfs3drv {

void openFileCounted(NfsDevice *dev)
{
    taskLock();
    ++dev->openFiles;
    taskUnlock();
}

void openFileUncounted(NfsDevice *dev)
{
    taskLock();
    --dev->openFiles;
    taskUnlock();
}

} // namespace nfs3drv

extern "C" {

intptr_t nfs3Open(NfsDevice *dev, char *name, int flags, int mode)
{
    const int accessMode = flags & K_O_ACCMODE;
    if (accessMode == K_O_ACCMODE) {
        errnoSet(NFS_DRV_ERR_BAD_ACCESS_MODE);
        return -1;
    }
    if (strnlen(name, NFS_MAX_PATH) >= NFS_MAX_PATH) {
        errnoSet(NFS_ERRNO_NAMETOOLONG);
        return -1;
    }
    const bool create = (flags & K_O_CREAT) != 0;
    const bool truncate = (flags & K_O_TRUNC) != 0;
    nfsdrv::PathText path{};
    if (nfsdrv::namesRoot(name)) {
        if (create) {
            errnoSet(NFS_DRV_ERR_CREATE_EMPTY_NAME);
            return -1;
        }
        path[0] = '.';
    } else {
        std::memcpy(path.data(), name, std::strlen(name) + 1);
    }

    if (truncate) {
        const int step = truncateStep(dev, path, create);
        if (step == K_FOLLOW_LINK)
            return nfsdrv::followLink(path, name);
        if (step != 0)
            return -1;
    }

    // A name-only open (status, rename) reads no data: only the server's rules apply to it.
    const bool nameOnly = (flags & K_O_PATH) != 0;
    Lookup look;
    const int found = look.run(dev, path.data(), nameOnly && (flags & K_O_NOFOLLOW) != 0);
    if (found == K_FOLLOW_LINK)
        return nfsdrv::followLink(path, name);
    // Only a file that is not there is created: any other failure (a time-out, JUKEBOX) fails
    // the open, or a truncating open could go on to a file it never truncated.
    if (found != 0 && (!(create || truncate) || !nfsdrv::missing()))
        return -1;

    // The file's handle and attributes: from the lookup when it exists, else from the create
    // reply; a create reply without a handle is followed by a lookup of the new file. A file
    // that existed keeps the first lookup's result: a second one would find the same.
    const nfs_fh3 *fh = &look.object();
    const fattr3 *attr = &look.attr();
    Creation made(look.dir());
    if (found != 0) {
        const int created = made.run(dev, path.data(), mode);
        if (created == K_FOLLOW_LINK)
            return nfsdrv::followLink(path, name);
        if (created != 0)
            return -1;
        if (!made.hasAttr())
            return -1; // the file stays created
        attr = &made.attr();
        if (made.hasHandle()) {
            fh = &made.object();
        } else {
            const int again = look.run(dev, path.data());
            if (again == K_FOLLOW_LINK)
                return nfsdrv::followLink(path, name);
            if (again != 0)
                return -1;
            attr = &look.attr();
        }
    }
    if (!nameOnly && !nfsdrv::allowed(*attr, nfsdrv::wantedFor(accessMode)))
        return nfsdrv::denied();

    NfsOpenFile *file = recordBuild(dev, path, accessMode, *fh, look.dir(), *attr);
    if (file == nullptr)
        return -1;
    nfs3drv::openFileCounted(dev);
    return reinterpret_cast<intptr_t>(file);
}

intptr_t nfs3Create(NfsDevice *dev, char *name, int mode)
{
    if (name[0] == '\0') {
        errnoSet(K_ENOENT);
        return -1;
    }
    const uint32_t given = static_cast<uint32_t>(mode) & nfsdrv::kPermissionBits;
    const uint32_t bits = given != 0 ? given : nfsdrv::kCreateDefaultBits;
    return nfs3Open(dev, name, K_O_CREAT | K_O_TRUNC, static_cast<int>(bits));
}

} // extern "C"
