// Module-private: the open, create and delete entries of both drivers, over a version's traits
// (nfs2Driver.h, nfs3Driver.h): the path resolved on the server, the file created or
// truncated when asked, the caller's rights checked, and the open-file record built; and the
// small steps they take: rights against a file's attributes, the root test, the hand-back of
// a rewritten path.
#ifndef NFS_DRV_NFSDRVOPEN_H
#define NFS_DRV_NFSDRVOPEN_H

#include "cache/nfsCacheFile.h"
#include "core/nfsResult.h"
#include "drv/nfsDrvOpenNames.h"
#include "drv/nfsDrvRecords.h"
#include "lock/nlmFileLock.h"

#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>

#include <array>
#include <cstdint>
#include <cstdlib>
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

using nfsres::Fail;
using nfsres::Result;
using nfsres::Status;

inline constexpr Fail kDenied{NFS_DRV_ERR_PERMISSION_DENIED};

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

// The look-up failed because nothing is at the name (NOENT, the same status in both
// versions): only then may an open go on to create the file.
inline bool missing(const Result<int> &looked)
{
    return !looked.ok() && looked.error() == (NFS_ERRNO_BASE | NFS3ERR_NOENT);
}

// Hands a rewritten path back to the I/O system.
inline intptr_t followLink(const PathText &path, char *name)
{
    std::memcpy(name, path.data(), std::strlen(path.data()) + 1);
    return K_FOLLOW_LINK;
}

// A file open for data on the device is not removed but renamed to a hidden name in its
// folder (nfsDrvOpenNames.h), which its last close removes. path's directory part held no link
// (the look-up that found the file passed none).
template <typename V, typename Found>
Status hide(typename V::Device *dev, const char *path, const Found &found)
{
    const uint64_t id = V::cacheId(found.attr());
    const std::string hidden = opennames::hiddenName(id);
    if (const Result<int> renamed = V::renameInPlace(dev, found.dir(), path, hidden.c_str()); !renamed.ok())
        return renamed.fail();
    const char *slash = std::strrchr(path, '/');
    const std::string dirPart = slash == nullptr ? std::string() : std::string(path, slash + 1);
    opennames::hiddenAdd(dev, id, dirPart + hidden);
    return {};
}

// Before a rename over newPath: a file there that is open for data on the device (and is not
// the file renamed) is hidden, as a removal would. A name that cannot be looked up is left to
// the rename.
template <typename V> Status hideTarget(typename V::File *file, const char *newPath)
{
    PathText path{};
    if (strnlen(newPath, NFS_MAX_PATH) >= NFS_MAX_PATH || namesRoot(newPath))
        return {};
    std::memcpy(path.data(), newPath, std::strlen(newPath) + 1);
    typename V::Lookup target;
    const Result<int> looked = target.run(file->pDev, path.data(), true);
    if (!looked.ok() || looked.value() != 0 || !target.walked() || !V::isRegular(target.attr()))
        return {};
    const uint64_t id = V::cacheId(target.attr());
    if (id == V::cacheId(file->attr) || !opennames::isOpen(file->pDev, id))
        return {};
    return hide<V>(file->pDev, newPath, target);
}

// A link in the last component is the object removed, not its target; links before it
// rewrite the caller's path. The removed file's lines are dropped first, since servers reuse
// file ids. 0, or -2 with the path rewritten.
template <typename V> Result<int> remove(typename V::Device *dev, char *name)
{
    if (dev == nullptr || name == nullptr)
        return Fail{NFS_ERRNO_INVAL};
    if (name[0] == '\0')
        return Fail{K_ENOENT};
    typename V::Lookup found;
    const Result<int> looked = found.run(dev, name, true);
    if (!looked.ok() || looked.value() != 0)
        return looked;
    if (found.walked() && V::isRegular(found.attr()) && opennames::isOpen(dev, V::cacheId(found.attr())))
        return nfsres::zeroOr(hide<V>(dev, name, found));
    nfsCacheFileInvalidate(&dev->cache, found.walked() ? V::cacheId(found.attr()) : NFS_CACHE_NO_FILE);
    return V::remove(dev, name);
}

// O_TRUNC on a file that exists: its size set to 0 on the server (SETATTR), so that it keeps
// its id, owner and mode and every other descriptor of it keeps working. Only a file the caller
// may write; never a directory. attr is the file's, updated.
template <typename V>
Status truncateExisting(typename V::Device *dev, const typename V::Lookup &found, typename V::Attr *attr)
{
    if (V::isDirectory(found.attr()))
        return Fail{K_EISDIR};
    if (!allowed(found.attr(), kWantWrite))
        return kDenied;
    *attr = found.attr();
    if (const Result<int> set = V::sizeSet(dev, found.object(), 0, attr); !set.ok())
        return set.fail();
    return {};
}

// A record built and not handed out: released with what it holds.
template <typename V> void recordDrop(typename V::File *file)
{
    V::recordParts(file);
    const SEM_ID semId = file->semId;
    std::free(file);
    semDelete(semId);
}

// A version whose server keeps open state (version 4's OPEN) opens the file for data once its
// record is built; the others have nothing to do.
template <typename V> Status dataOpened(typename V::File *file)
{
    if constexpr (requires { V::dataOpen(file); })
        return V::dataOpen(file);
    return {};
}

// The open file's record, or K_FOLLOW_LINK with the rewritten path in name.
template <typename V> Result<intptr_t> open(typename V::Device *dev, char *name, int flags, int mode)
{
    if (dev == nullptr || name == nullptr)
        return Fail{NFS_ERRNO_INVAL};
    const int accessMode = flags & K_O_ACCMODE;
    if (accessMode == K_O_ACCMODE)
        return Fail{NFS_DRV_ERR_BAD_ACCESS_MODE};
    if (strnlen(name, NFS_MAX_PATH) >= NFS_MAX_PATH)
        return Fail{NFS_ERRNO_NAMETOOLONG};
    const bool create = (flags & K_O_CREAT) != 0;
    const bool truncate = (flags & K_O_TRUNC) != 0;
    PathText path{};
    if (namesRoot(name)) {
        if (create)
            return Fail{NFS_DRV_ERR_CREATE_EMPTY_NAME};
        path[0] = '.';
    } else {
        std::memcpy(path.data(), name, std::strlen(name) + 1);
    }

    // A name-only open (status, rename) reads no data: only the server's rules apply to it.
    const bool nameOnly = (flags & K_O_PATH) != 0;
    typename V::Lookup found;
    Result<int> looked = found.run(dev, path.data(), nameOnly && (flags & K_O_NOFOLLOW) != 0);
    const bool existed = looked.ok() && looked.value() == 0;
    if (existed && create && (flags & K_O_EXCL) != 0)
        return Fail{K_EEXIST};
    // Only a file that is not there is created: any other failure (a time-out, JUKEBOX) fails
    // the open, or a truncating open could go on to a file it never truncated.
    if ((create || truncate) && missing(looked))
        looked = found.create(dev, path.data(), mode, (flags & K_O_EXCL) != 0);
    if (!looked.ok())
        return looked.fail();
    if (looked.value() == K_FOLLOW_LINK)
        return followLink(path, name);
    if (!nameOnly && !allowed(found.attr(), wantedFor(accessMode)))
        return kDenied;

    typename V::Attr truncated{};
    if (truncate && existed) {
        if (const Status cut = truncateExisting<V>(dev, found, &truncated); !cut.ok())
            return cut.fail();
    }

    const Result<typename V::File *> built = V::recordBuild(dev, path.data(), accessMode, found);
    if (!built.ok())
        return built.fail();
    typename V::File *file = built.value();
    if (truncate && existed)
        file->attr = truncated;
    nfscache::sizeCoversCached(file, V::version);
    file->appendWrites = (flags & K_O_APPEND) != 0 ? 1 : 0;
    nlmfile::opened<V>(file);
    if (!nameOnly) {
        if (const Status opened = dataOpened<V>(file); !opened.ok()) {
            recordDrop<V>(file);
            return opened.fail();
        }
        file->dataOpen = 1;
        opennames::opened(dev, V::cacheId(file->attr));
    }
    openFilesAdd(dev, 1);
    return reinterpret_cast<intptr_t>(file);
}

template <typename V> Result<intptr_t> create(typename V::Device *dev, char *name, int mode)
{
    if (dev == nullptr || name == nullptr)
        return Fail{NFS_ERRNO_INVAL};
    if (name[0] == '\0')
        return Fail{K_ENOENT};
    const uint32_t given = static_cast<uint32_t>(mode) & kPermissionBits;
    const uint32_t bits = given != 0 ? given : kCreateDefaultBits;
    return open<V>(dev, name, K_O_CREAT | K_O_TRUNC, static_cast<int>(bits));
}

} // namespace nfsdrv

#endif
