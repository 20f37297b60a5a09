// The version 2 driver's open, create and delete entries. The steps are those of version 3;
// what differs: one diropres serves lookup and create, and it always carries the handle and
// the attributes, so no second lookup is needed; the record holds no cookie state.
#include "core/nfsConfig.h"
#include "drv/nfsDrvOpenSteps.h"
#include "drv/nfs2DrvEntries.h"

#include <brisnel/nfs2Ops.h>
#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>
#include <kernel/taskLib.h>

#include <array>
#include <cstring>

namespace {

// One lookup's (or create's) result and the directory that holds the object.
struct Found {
    diropres res{};
    nfs_fh2 dirFh{};

    int lookUp(Nfs2Device *dev, char *path, int noFollowLast = 0)
    {
        return nfs2LookUpByName(dev->host, path, &dev->mountFh, &res, &dirFh, noFollowLast);
    }
    const fattr &attr() const { return res.diropres_u.diropres.attributes; }
    const nfs_fh2 &object() const { return res.diropres_u.diropres.file; }
};

// O_TRUNC: an existing file the caller may write is removed, so that it is created anew.
// 0 to go on, -1 or -2 (path rewritten) to stop.
int truncateStep(Nfs2Device *dev, nfsdrv::PathText &path, bool create)
{
    Found existing;
    const int found = existing.lookUp(dev, path.data());
    if (found != 0)
        return found == K_FOLLOW_LINK || !nfsdrv::missing() ? found : 0;
    if (!nfsdrv::allowed(existing.attr(), nfsdrv::kWantWrite))
        return nfsdrv::denied();
    if (existing.attr().type == NFDIR) {
        errnoSet(K_EISDIR);
        return -1;
    }
    // As in version 3, a refused removal fails the open rather than leave the old bytes behind.
    const int removed = nfs2Delete(dev, path.data());
    if (removed == -1) {
        const bool goneMeanwhile = errnoGet() == (NFS_ERRNO_BASE | NFSERR_NOENT);
        return goneMeanwhile && create ? 0 : -1;
    }
    return removed == K_FOLLOW_LINK ? K_FOLLOW_LINK : 0;
}

Nfs2OpenFile *recordBuild(Nfs2Device *dev, const nfsdrv::PathText &path, int accessMode,
                          const Found &found)
{
    nfs2drv::HeapBlock<Nfs2OpenFile> file(static_cast<Nfs2OpenFile *>(std::calloc(1, sizeof(Nfs2OpenFile))));
    if (!file)
        return nullptr;
    file->semId = semMCreate(mutexOptionsNfsDrv);
    if (file->semId == nullptr)
        return nullptr;
    file->pDev = dev;
    file->pCache = &dev->cache;
    std::memcpy(file->name, path.data(), std::strlen(path.data()) + 1);
    file->pos = 0;
    file->accessMode = accessMode;
    std::memcpy(file->fh, found.object(), NFS_FHSIZE);
    std::memcpy(file->dirFh, found.dirFh, NFS_FHSIZE);
    file->attr = found.attr();
    file->dirReply = nullptr;
    return file.release();
}

} // namespace

namespace nfs2drv {

void openFileCounted(Nfs2Device *dev)
{
    taskLock();
    ++dev->openFiles;
    taskUnlock();
}

void openFileUncounted(Nfs2Device *dev)
{
    taskLock();
    --dev->openFiles;
    taskUnlock();
}

} // namespace nfs2drv

extern "C" {

// A name without components names the export's root, as "." does: its lookup walks one
// component, so the record always has the object's handle and attributes.
intptr_t nfs2Open(Nfs2Device *dev, char *name, int flags, int mode)
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
    Found found;
    const int looked = found.lookUp(dev, path.data(), nameOnly && (flags & K_O_NOFOLLOW) != 0 ? 1 : 0);
    if (looked == K_FOLLOW_LINK)
        return nfsdrv::followLink(path, name);
    if (looked != 0) {
        if (!(create || truncate) || !nfsdrv::missing())
            return -1;
        // The lookup left the deepest directory it reached in dirFh: the parent to create in.
        const int created = nfs2ThingCreate(dev->host, path.data(), &dev->mountFh, &found.res,
                                            &found.dirFh, mode);
        if (created == K_FOLLOW_LINK)
            return nfsdrv::followLink(path, name);
        if (created != 0)
            return -1;
    }
    if (!nameOnly && !nfsdrv::allowed(found.attr(), nfsdrv::wantedFor(accessMode)))
        return nfsdrv::denied();

    Nfs2OpenFile *file = recordBuild(dev, path, accessMode, found);
    if (file == nullptr)
        return -1;
    nfs2drv::openFileCounted(dev);
    return reinterpret_cast<intptr_t>(file);
}

intptr_t nfs2Create(Nfs2Device *dev, char *name, int mode)
{
    if (name[0] == '\0') {
        errnoSet(K_ENOENT);
        return -1;
    }
    const uint32_t given = static_cast<uint32_t>(mode) & nfsdrv::kPermissionBits;
    const uint32_t bits = given != 0 ? given : nfsdrv::kCreateDefaultBits;
    return nfs2Open(dev, name, K_O_CREAT | K_O_TRUNC, static_cast<int>(bits));
}

// A link in the last component is the object removed, not its target; the removed file's
// lines are dropped first, since servers reuse file ids.
int nfs2Delete(Nfs2Device *dev, char *name)
{
    if (name[0] == '\0') {
        errnoSet(K_ENOENT);
        return -1;
    }
    Found found;
    const int looked = found.lookUp(dev, name, 1);
    if (looked != 0)
        return looked;
    const bool walked = found.attr().type != NFNON;
    nfsCacheFileInvalidate(&dev->cache, walked ? nfs2drv::cacheId(found.attr()) : NFS_CACHE_NO_FILE);
    return nfs2FileRemove(dev->host, &dev->mountFh, name);
}

} // extern "C"
