// Module-private: the open, create and delete entries of both drivers, over a version's traits
// (nfs2Driver.h, nfs3Driver.h): the path resolved on the server, the file created or
// truncated when asked, the caller's rights checked, and the open-file record built; and the
// small steps they take: rights against a file's attributes, the root test, the hand-back of
// a rewritten path.
#ifndef NFS_DRV_NFSDRVOPEN_H
#define NFS_DRV_NFSDRVOPEN_H

#include "core/nfsArgs.h"
#include "drv/nfsDrvOpenNames.h"
#include "drv/nfsDrvRecords.h"

#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>

namespace nfsdrv {

using PathText = std::array<char, NFS_MAX_PATH>;

constexpr int kWantRead = 4;
constexpr int kWantWrite = 2;
constexpr uint32_t kPermissionBits = 0777;
constexpr uint32_t kCreateDefaultBits = 0640;

// Either version's attributes (fattr, fattr3) against the module's credentials.
template <typename Attributes> bool allowed(const Attributes &attr, int want)
{
    return nfsChkFilePerms(static_cast<int>(attr.mode), static_cast<int>(attr.uid),
                           static_cast<int>(attr.gid), want) == 0;
}

inline int denied()
{
    errnoSet(NFS_DRV_ERR_PERMISSION_DENIED);
    return -1;
}

inline int wantedFor(int accessMode)
{
    switch (accessMode) {
    case K_O_RDONLY: return kWantRead;
    case K_O_WRONLY: return kWantWrite;
    default: return kWantRead | kWantWrite;
    }
}

// A name without components (empty, or separators only) names the export's root, as "." does.
inline bool namesRoot(const char *name)
{
    return name[std::strspn(name, "/")] == '\0';
}

// The look-up that just failed found nothing at the name (NOENT, the same status in both
// versions): only then may an open go on to create the file.
inline bool missing()
{
    return errnoGet() == (NFS_ERRNO_BASE | NFS3ERR_NOENT);
}

// Hands a rewritten path back to the I/O system.
inline intptr_t followLink(const PathText &path, char *name)
{
    std::memcpy(name, path.data(), std::strlen(path.data()) + 1);
    return K_FOLLOW_LINK;
}

// A file open for data on the device is not removed but renamed to a hidden name in its
// folder (nfsDrvOpenNames.h), which its last close removes. path's directory part held no link
// (the look-up that found the file passed none). 0 or -1.
template <typename V, typename Found> int hide(typename V::Device *dev, const char *path, const Found &found)
{
    const uint64_t id = V::cacheId(found.attr());
    const std::string hidden = opennames::hiddenName(id);
    if (V::renameInPlace(dev, found.dir(), path, hidden.c_str()) != 0)
        return -1;
    const char *slash = std::strrchr(path, '/');
    const std::string dirPart = slash == nullptr ? std::string() : std::string(path, slash + 1);
    opennames::hiddenAdd(dev, id, dirPart + hidden);
    return 0;
}

// Before a rename over newPath: a file there that is open for data on the device (and is not
// the file renamed) is hidden, as a removal would. 0 or -1; a name that cannot be looked up is
// left to the rename.
template <typename V> int hideTarget(typename V::File *file, const char *newPath)
{
    PathText path{};
    if (strnlen(newPath, NFS_MAX_PATH) >= NFS_MAX_PATH || namesRoot(newPath))
        return 0;
    std::memcpy(path.data(), newPath, std::strlen(newPath) + 1);
    typename V::Lookup target;
    if (target.run(file->pDev, path.data(), true) != 0 || !target.walked() || !V::isRegular(target.attr()))
        return 0;
    const uint64_t id = V::cacheId(target.attr());
    if (id == V::cacheId(file->attr) || !opennames::isOpen(file->pDev, id))
        return 0;
    return hide<V>(file->pDev, newPath, target);
}

// A link in the last component is the object removed, not its target; links before it
// rewrite the caller's path. The removed file's lines are dropped first, since servers reuse
// file ids. 0, -1 or -2.
template <typename V> int remove(typename V::Device *dev, char *name)
{
    if (!nfsArgsGiven(dev, name))
        return -1;
    if (name[0] == '\0') {
        errnoSet(K_ENOENT);
        return -1;
    }
    typename V::Lookup found;
    const int looked = found.run(dev, name, true);
    if (looked != 0)
        return looked;
    if (found.walked() && V::isRegular(found.attr()) && opennames::isOpen(dev, V::cacheId(found.attr())))
        return hide<V>(dev, name, found);
    nfsCacheFileInvalidate(&dev->cache, found.walked() ? V::cacheId(found.attr()) : NFS_CACHE_NO_FILE);
    return V::remove(dev, name);
}

// O_TRUNC on a file that exists: its size set to 0 on the server (SETATTR), so that it keeps
// its id, owner and mode and every other descriptor of it keeps working. Only a file the caller
// may write; never a directory. attr is the file's, updated. 0 or -1.
template <typename V>
int truncateExisting(typename V::Device *dev, const typename V::Lookup &found, typename V::Attr *attr)
{
    if (V::isDirectory(found.attr())) {
        errnoSet(K_EISDIR);
        return -1;
    }
    if (!allowed(found.attr(), kWantWrite))
        return denied();
    *attr = found.attr();
    return V::sizeSet(dev, found.object(), 0, attr);
}

template <typename V> intptr_t open(typename V::Device *dev, char *name, int flags, int mode)
{
    if (!nfsArgsGiven(dev, name))
        return -1;
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
    PathText path{};
    if (namesRoot(name)) {
        if (create) {
            errnoSet(NFS_DRV_ERR_CREATE_EMPTY_NAME);
            return -1;
        }
        path[0] = '.';
    } else {
        std::memcpy(path.data(), name, std::strlen(name) + 1);
    }

    // A name-only open (status, rename) reads no data: only the server's rules apply to it.
    const bool nameOnly = (flags & K_O_PATH) != 0;
    typename V::Lookup found;
    int looked = found.run(dev, path.data(), nameOnly && (flags & K_O_NOFOLLOW) != 0);
    const bool existed = looked == 0;
    if (existed && create && (flags & K_O_EXCL) != 0) {
        errnoSet(K_EEXIST);
        return -1;
    }
    // Only a file that is not there is created: any other failure (a time-out, JUKEBOX) fails
    // the open, or a truncating open could go on to a file it never truncated.
    if (looked == -1 && (create || truncate) && missing())
        looked = found.create(dev, path.data(), mode, (flags & K_O_EXCL) != 0);
    if (looked == K_FOLLOW_LINK)
        return followLink(path, name);
    if (looked != 0)
        return -1;
    if (!nameOnly && !allowed(found.attr(), wantedFor(accessMode)))
        return denied();

    typename V::Attr truncated{};
    if (truncate && existed && truncateExisting<V>(dev, found, &truncated) != 0)
        return -1;

    typename V::File *file = V::recordBuild(dev, path.data(), accessMode, found);
    if (file == nullptr)
        return -1;
    if (truncate && existed)
        file->attr = truncated;
    file->appendWrites = (flags & K_O_APPEND) != 0 ? 1 : 0;
    if (!nameOnly) {
        file->dataOpen = 1;
        opennames::opened(dev, V::cacheId(file->attr));
    }
    openFilesAdd(dev, 1);
    return reinterpret_cast<intptr_t>(file);
}

template <typename V> intptr_t create(typename V::Device *dev, char *name, int mode)
{
    if (!nfsArgsGiven(dev, name))
        return -1;
    if (name[0] == '\0') {
        errnoSet(K_ENOENT);
        return -1;
    }
    const uint32_t given = static_cast<uint32_t>(mode) & kPermissionBits;
    const uint32_t bits = given != 0 ? given : kCreateDefaultBits;
    return open<V>(dev, name, K_O_CREAT | K_O_TRUNC, static_cast<int>(bits));
}

} // namespace nfsdrv

#endif
