// Module-private: the entries of both drivers that work on an open file, over a version's
// traits (nfs2Driver.h, nfs3Driver.h): close, read, write, seek and ioctl. Each holds the
// file's semaphore; the cache's mutex, taken inside the cache operations, comes after it.
#ifndef NFS_DRV_NFSDRVFILE_H
#define NFS_DRV_NFSDRVFILE_H

#include "cache/nfsCacheFile.h"
#include "core/nfsResult.h"
#include "drv/nfsDrvOpen.h"
#include "drv/nfsDrvOpenNames.h"
#include "drv/nfsDrvRecords.h"
#include "drv/nfsDrvTransfer.h"
#include "lock/nlmFileLock.h"
#include "ops/nfsAttrChange.h"
#include "ops/nfsAttrStat.h"

#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace nfsdrv {

using nfsres::Fail;
using nfsres::Result;
using nfsres::Status;

// A lock that could not be taken: semTake set the error number.
inline constexpr Fail kLockFailed{0};

// The hidden names of a file whose last descriptor closes. A removal that fails leaves the name
// (the server keeps the file); the close does not fail for it.
template <typename V> void hiddenRemove(typename V::Device *dev, const std::vector<std::string> &hidden)
{
    for (const std::string &path : hidden) {
        std::array<char, NFS_MAX_PATH> name{};
        if (path.size() < name.size()) {
            path.copy(name.data(), path.size());
            static_cast<void>(V::remove(dev, name.data()));
        }
    }
}

// The file's dirty data written back (and made safe, as the version has it), its cache lines
// detached and dropped (those of other descriptors of the same file stay), its directory batch
// and record released. 0, or -1 when some of its data did not reach the server; the record is
// released either way.
template <typename V> Status close(typename V::File *file)
{
    if (file == nullptr)
        return Fail{NFS_ERRNO_INVAL};
    FileLock lock(file);
    if (!lock.held())
        return kLockFailed;
    // Data lost earlier is reported before a failure of this write-back (or COMMIT).
    const int error = V::dataSafe(file, closeWriteBack(file, V::version));
    nlmfile::closeRelease<V>(file); // after the data went out
    nfscache::fileLinesDrop(file, V::version);
    if (file->dataOpen != 0)
        hiddenRemove<V>(file->pDev, opennames::closed(file->pDev, V::cacheId(file->attr)));
    V::recordParts(file);
    typename V::Device *dev = file->pDev;
    const SEM_ID semId = file->semId;
    std::free(file);
    lock.forget();
    semDelete(semId); // deleted while held: a task still waiting for the file fails its take
    openFilesAdd(dev, -1);
    if (nfsAutoClose != 0)
        nfsClientClose();
    return nfsres::statusOf(error == 0, error);
}

template <typename V> Result<int> read(typename V::File *file, char *buf, int count)
{
    if (file == nullptr || buf == nullptr)
        return Fail{NFS_ERRNO_INVAL};
    if (count < 0)
        return Fail{NFS_DRV_ERR_BAD_BYTE_COUNT};
    if (count == 0)
        return 0;
    if (file->accessMode == K_O_WRONLY)
        return Fail{NFS_DRV_ERR_READ_WRITE_ONLY};
    const FileLock lock(file);
    if (!lock.held())
        return kLockFailed;
    if (const Status ready = pendingTaken(file); !ready.ok())
        return ready.fail();
    if (const Status inReach = V::reachable(file->pos, static_cast<uint64_t>(count)); !inReach.ok())
        return inReach.fail();
    return throughCache(file, count, true, [file, buf](int done, int piece) {
        const Result<int> got = nfsres::viaErrno([file, buf, done, piece] {
            return nfsCacheLineRead(file, file->pos, buf + done, piece, V::version);
        });
        file->pos += static_cast<uint64_t>(got.ok() ? got.value() : 0);
        return got;
    });
}

template <typename V> Result<int> write(typename V::File *file, const char *buf, int count)
{
    if (file == nullptr || buf == nullptr)
        return Fail{NFS_ERRNO_INVAL};
    if (count < 0)
        return Fail{NFS_DRV_ERR_BAD_BYTE_COUNT};
    if (file->accessMode == K_O_RDONLY)
        return Fail{NFS_DRV_ERR_WRITE_READ_ONLY};
    const FileLock lock(file);
    if (!lock.held())
        return kLockFailed;
    if (const Status ready = pendingTaken(file); !ready.ok())
        return ready.fail();
    // Appending: the position is the file's end as the server has it once the cache's bytes of
    // the file went out, so that writes of other clients and descriptors are not overwritten.
    if (file->appendWrites != 0) {
        if (const Status fresh = V::attrFresh(file); !fresh.ok())
            return fresh.fail();
        file->pos = file->attr.size;
    }
    if (const Status inReach = V::reachable(file->pos, static_cast<uint64_t>(count)); !inReach.ok())
        return inReach.fail();
    return throughCache(file, count, false, [file, buf](int done, int piece) {
        const Result<int> put = nfsres::viaErrno([file, buf, done, piece] {
            return nfsCacheLineWrite(file, file->pos, buf + done, piece, V::version);
        });
        file->pos += static_cast<uint64_t>(put.ok() ? put.value() : 0);
        V::sizeRaise(file);
        return put;
    });
}

// Moves the position, first writing back this file's dirty line at the old one when the new
// position maps to another line; on failure the position is unchanged.
template <typename V> Status seek(typename V::File *file, uint64_t newPos)
{
    return seekFlushed(file, V::cacheId(file->attr), V::version, newPos);
}

namespace ioctls {

// The block size a file's status gives on a device without cache lines: a version 2 transfer.
constexpr uint32_t kStatIoSize = 8192;

template <typename T> T *argAs(intptr_t arg)
{
    return reinterpret_cast<T *>(arg);
}

// The bytes between the position and the end; 0 at or past the end, INT_MAX when more.
template <typename File> int unreadBytes(const File *file)
{
    if (file->pos >= file->attr.size)
        return 0;
    const uint64_t left = file->attr.size - file->pos;
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// The dirty lines go out and stay owned; a failed one stays dirty for the next sync. Then
// the data is made safe as the version has it. A loss recorded earlier fails every sync.
template <typename V> Result<int> sync(typename V::File *file)
{
    const Result<int> written = nfsres::viaErrno([file] { return nfsCacheFileFlush(file, 0, V::version); });
    const int flushError = written.ok() ? 0 : (written.error() != 0 ? written.error() : K_EIO);
    const int error = V::dataSafe(file, flushError);
    if (error != 0)
        return Fail{error};
    return written.value();
}

// The codes whose argument is the address of the caller's object.
inline bool needsObject(int function)
{
    switch (function) {
    case K_FIONREAD:
    case K_FIORENAME:
    case K_FIORMDIR:
    case K_FIOREADDIR:
    case K_FIOGETFL:
    case K_FIOFSTATFSGET:
    case K_FIOSEEK64:
    case K_FIOWHERE64:
    case K_FIOPATHCONF:
    case K_FIOFSTATGET:
    case K_FIOTRUNC64:
    case K_FIOLINK:
    case K_FIOSYMLINK:
    case K_FIOREADLINK: return true;
    default: return false;
    }
}

// The codes a version without removal by path, 64-bit positions or path configuration lacks.
inline bool pathCode(int function)
{
    return function == K_FIORMDIR || function == K_FIOSEEK64 || function == K_FIOWHERE64 ||
           function == K_FIOPATHCONF;
}

// A new size for a file open for writing; data cached for it goes out first.
template <typename V> Result<int> sizeSet(typename V::File *file, uint64_t size)
{
    if (file->accessMode == K_O_RDONLY)
        return Fail{NFS_DRV_ERR_WRITE_READ_ONLY};
    return V::sizeSet(file->pDev, file->fh, size, &file->attr);
}

// An attribute change on the server; the record takes the reply's attributes, its size no
// lower than the end of the file's bytes that the cache holds unsent.
template <typename V> Result<int> attrChanged(typename V::File *file, const NfsAttrChange &change)
{
    const Result<int> set = V::attrSet(file, change);
    if (set.ok())
        nfscache::sizeCoversCached(file, V::version);
    return set;
}

// The permission bits, set-id and sticky bits included.
template <typename V> Result<int> modeSet(typename V::File *file, intptr_t bits)
{
    if (bits < 0 || bits > 07777)
        return Fail{K_EINVAL};
    NfsAttrChange change;
    change.mode = static_cast<uint32_t>(bits);
    return attrChanged<V>(file, change);
}

// The access and modification times as given, or both now for a null argument.
template <typename V> Result<int> timesSet(typename V::File *file, const struct kutimbuf *times)
{
    NfsAttrChange change;
    change.times = times == nullptr ? NfsAttrChange::Times::now : NfsAttrChange::Times::given;
    if (times != nullptr) {
        change.atime = times->actime;
        change.mtime = times->modtime;
    }
    return attrChanged<V>(file, change);
}

// Made through the device's root; the path may come back rewritten (-2).
template <typename V> Result<int> symlinkMake(typename V::File *file, const struct ksymlinkarg *arg)
{
    if (arg->path == nullptr || arg->target == nullptr)
        return Fail{NFS_ERRNO_INVAL};
    return V::symlink(file->pDev, arg->path, arg->target);
}

// The link's text, not terminated: the count stored.
template <typename V> Result<int> linkRead(typename V::File *file, const struct kreadlinkarg *arg)
{
    if (arg->buffer == nullptr || arg->size == 0)
        return Fail{K_EINVAL};
    return V::linkText(file, arg->buffer, arg->size);
}

template <typename V> Result<int> serve(typename V::File *file, int function, intptr_t arg)
{
    typename V::Device *dev = file->pDev;
    switch (function) {
    case K_FIONREAD: *argAs<int>(arg) = unreadBytes(file); return 0;
    case K_FIOSEEK:
        // Positions are unsigned: a negative one is refused rather than taken near 2^64.
        return arg < 0 ? Fail{K_EINVAL} : nfsres::zeroOr(seek<V>(file, static_cast<uint64_t>(arg)));
    case K_FIOWHERE: return static_cast<int>(static_cast<uint32_t>(file->pos));
    case K_FIORENAME:
        if (const Status hidden = hideTarget<V>(file, argAs<const char>(arg)); !hidden.ok())
            return hidden.fail();
        return V::rename(file, argAs<const char>(arg));
    case K_FIOSYNC: return sync<V>(file);
    case K_FIORMDIR: return V::remove(dev, argAs<char>(arg));
    case K_FIOREADDIR: return V::dirReadOne(file, argAs<KDIR>(arg));
    case K_FIOGETFL:
        *argAs<int>(arg) = file->accessMode | (file->appendWrites != 0 ? K_O_APPEND : 0);
        return 0;
    case K_FIOTRUNC: return arg < 0 ? Fail{K_EINVAL} : sizeSet<V>(file, static_cast<uint64_t>(arg));
    case K_FIOTRUNC64: return sizeSet<V>(file, *argAs<const uint64_t>(arg));
    case K_FIOCHMOD: return modeSet<V>(file, arg);
    case K_FIOTIMESET: return timesSet<V>(file, argAs<const struct kutimbuf>(arg));
    case K_FIOLINK: return V::link(file, argAs<char>(arg));
    case K_FIOSYMLINK: return symlinkMake<V>(file, argAs<const struct ksymlinkarg>(arg));
    case K_FIOREADLINK: return linkRead<V>(file, argAs<const struct kreadlinkarg>(arg));
    case K_FIOFSTATFSGET: return V::fsAttrGet(file, argAs<struct kstatfs>(arg));
    case K_FIOSEEK64: return nfsres::zeroOr(seek<V>(file, *argAs<uint64_t>(arg)));
    case K_FIOWHERE64: *argAs<uint64_t>(arg) = file->pos; return 0;
    case K_FIOPATHCONF: return V::pathconf(file, argAs<int>(arg));
    case K_FIOFSTATGET:
        V::fileAttrGet(&file->attr, argAs<struct kstat>(arg));
        argAs<struct kstat>(arg)->st_dev = reinterpret_cast<intptr_t>(dev);
        nfsAttrStatBlocks(file->attr, file->pCache->lineSize != 0 ? file->pCache->lineSize : kStatIoSize,
                          argAs<struct kstat>(arg));
        return 0;
    default: return Fail{K_ENOSYS};
    }
}

} // namespace ioctls

// The lock codes go to the lock manager (lock/nlmFileLock.h) on versions 2 and 3, to the
// protocol's own locks on version 4 (nfs4Driver.h). A code the version does not
// serve fails with 71; a null argument where an object is expected fails with 0x300016.
template <typename V> Result<int> ioctl(typename V::File *file, int function, intptr_t arg)
{
    if (file == nullptr)
        return Fail{NFS_ERRNO_INVAL};
    if (nlmfile::lockCode(function)) { // takes the file's semaphore only while it asks
        if constexpr (V::version > 3)
            return V::lockServe(file, function, arg);
        else
            return nlmfile::managed<V>(file, function, arg);
    }
    const FileLock lock(file);
    if (!lock.held())
        return kLockFailed;
    if (!V::servesPaths && ioctls::pathCode(function))
        return Fail{K_ENOSYS};
    if (arg == 0 && ioctls::needsObject(function))
        return Fail{NFS_ERRNO_INVAL};
    return ioctls::serve<V>(file, function, arg);
}

} // namespace nfsdrv

#endif
