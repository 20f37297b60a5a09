// The version 3 driver's ioctl entry: positions, sizes and flags from the open-file record,
// rename, removal, directory reading and status by remote call, write-back through the cache.
// The file's semaphore is held for every function code.
#include "drv/nfs3DrvEntries.h"

#include "ops/nfs3Data.h"
#include "ops/nfs3PathOps.h"

#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>

#include <array>
#include <climits>
#include <cstdint>

namespace {

int failWith(int error)
{
    errnoSet(error);
    return -1;
}

template <typename T> T *argAs(intptr_t arg)
{
    return reinterpret_cast<T *>(arg);
}

// The bytes between the position and the end; 0 at or past the end, INT_MAX when more.
int unreadBytes(const NfsOpenFile *file)
{
    if (file->pos >= file->attr.size)
        return 0;
    const uint64_t left = file->attr.size - file->pos;
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// The dirty lines go out and stay owned; a failed one stays dirty for the next sync. Then the
// UNSTABLE writes are committed. A loss recorded earlier fails every later sync.
int sync(NfsOpenFile *file)
{
    const int written = nfsCacheFileFlush(file, 0, 3);
    const int flushError = written == -1 ? (errnoGet() != 0 ? errnoGet() : K_EIO) : 0;
    const int error = nfs3drv::dataSafe(file, flushError);
    return error != 0 ? failWith(error) : written;
}

// Positions are unsigned: a negative one is refused rather than taken near 2^64.
int seekTo(NfsOpenFile *file, intptr_t position)
{
    if (position < 0)
        return failWith(K_EINVAL);
    return nfs3Seek(file, static_cast<uint64_t>(position));
}

// Where a path-configuration value comes from.
enum class Source { none, fixed, chownRestricted, linkMax, nameMax, noTrunc };
struct PathconfValue {
    Source source;
    int value;
};
constexpr int kFirstSelector = 3;
constexpr std::array<PathconfValue, 18> kPathconf{{
    {Source::fixed, 1},              // 3
    {Source::chownRestricted, 0},    // 4
    {Source::fixed, 64},             // 5
    {Source::linkMax, 0},            // 6
    {Source::fixed, 255},            // 7
    {Source::fixed, 255},            // 8
    {Source::nameMax, 0},            // 9
    {Source::noTrunc, 0},            // 10
    {Source::fixed, 1024},           // 11
    {Source::fixed, 512},            // 12
    {Source::fixed, 0},              // 13
    {Source::none, 0},               // 14
    {Source::none, 0},               // 15
    {Source::none, 0},               // 16
    {Source::none, 0},               // 17
    {Source::none, 0},               // 18
    {Source::fixed, 1},              // 19
    {Source::fixed, 0},              // 20
}};

int pathconfValue(const Nfs3PathconfInfo &pc, const PathconfValue &entry)
{
    switch (entry.source) {
    case Source::chownRestricted:
        return static_cast<int>(pc.chown_restricted);
    case Source::linkMax:
        return static_cast<int>(pc.linkmax);
    case Source::nameMax:
        return static_cast<int>(pc.name_max);
    case Source::noTrunc:
        return static_cast<int>(pc.no_trunc);
    default:
        return entry.value;
    }
}

// The server is asked first, for every selector; then the selector is replaced by its value.
int pathconf(NfsOpenFile *file, int *pSelector)
{
    Nfs3PathconfInfo pc{};
    const int asked = nfs3PathconfGet(file->pDev->host, &file->fh, &pc);
    if (asked != 0)
        return asked;
    const int selector = *pSelector;
    if (selector < kFirstSelector || selector >= kFirstSelector + static_cast<int>(kPathconf.size()))
        return failWith(K_EINVAL);
    const PathconfValue &entry = kPathconf[static_cast<std::size_t>(selector - kFirstSelector)];
    if (entry.source == Source::none)
        return failWith(K_EINVAL);
    *pSelector = pathconfValue(pc, entry);
    return 0;
}

int fileStatus(NfsOpenFile *file, struct kstat *pStat)
{
    nfs3FileAttrGet(&file->attr, pStat);
    pStat->st_dev = reinterpret_cast<intptr_t>(file->pDev);
    return 0;
}

// The codes whose argument is the address of the caller's object.
bool needsObject(int function)
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
        return true;
    default:
        return false;
    }
}

int serve(NfsOpenFile *file, int function, intptr_t arg)
{
    NfsDevice *dev = file->pDev;
    switch (function) {
    case K_FIONREAD:
        *argAs<int>(arg) = unreadBytes(file);
        return 0;
    case K_FIOSEEK:
        return seekTo(file, arg);
    case K_FIOWHERE:
        return static_cast<int>(static_cast<uint32_t>(file->pos));
    case K_FIORENAME:
        return nfs3Rename(dev->host, &dev->mountFh, file->name, &file->dirFh, argAs<const char>(arg));
    case K_FIOSYNC:
        return sync(file);
    case K_FIORMDIR:
        return nfs3FileRemove(dev->host, &dev->mountFh, argAs<char>(arg));
    case K_FIOREADDIR:
        return nfs3DirReadOne(file, argAs<KDIR>(arg));
    case K_FIOGETFL:
        *argAs<int>(arg) = file->accessMode;
        return 0;
    case K_FIOFSTATFSGET:
        return nfs3FsAttrGet(dev->host, &file->fh, argAs<struct kstatfs>(arg));
    case K_FIOSEEK64:
        return nfs3Seek(file, *argAs<uint64_t>(arg));
    case K_FIOWHERE64:
        *argAs<uint64_t>(arg) = file->pos;
        return 0;
    case K_FIOPATHCONF:
        return pathconf(file, argAs<int>(arg));
    case K_FIOFSTATGET:
        return fileStatus(file, argAs<struct kstat>(arg));
    default:
        return failWith(K_ENOSYS);
    }
}

} // namespace

// A null argument where an object is expected fails with 0x300016, for every such code.
extern "C" int nfs3Ioctl(NfsOpenFile *file, int function, intptr_t arg)
{
    const nfs3drv::FileLock lock(file);
    if (!lock.held())
        return -1;
    if (arg == 0 && needsObject(function))
        return failWith(NFS_ERRNO_INVAL);
    return serve(file, function, arg);
}
