// Module-private: what both drivers' records share: heap blocks held until handed over, the
// open file's lock, the fields every open-file record starts with, the device's count of open
// files.
//
// Locks: each open file's semaphore serialises read, write, ioctl and close on that file and
// guards its record; the device's cache mutex, taken inside the cache operations, comes after
// it. Open, create and delete take no lock of their own. The device's count of open files is
// changed and read under taskLock.
#ifndef NFS_DRV_NFSDRVRECORDS_H
#define NFS_DRV_NFSDRVRECORDS_H

#include "core/nfsConfig.h"
#include "core/nfsHeapBlock.h"

#include <kernel/semGuard.h>
#include <kernel/taskLib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace nfsdrv {

// An open file's semaphore (either version's record), held for the scope.
class FileLock : public SemGuard {
public:
    template <typename File> explicit FileLock(const File *file) : SemGuard(file->semId) {}
};

// A zeroed record with its semaphore, device, name and access mode; null when memory runs out.
template <typename File, typename Device> File *recordNew(Device *dev, const char *path, int accessMode)
{
    HeapBlock<File> file = heapBlock<File>();
    if (!file)
        return nullptr;
    file->semId = semMCreate(mutexOptionsNfsDrv);
    if (file->semId == nullptr)
        return nullptr;
    file->pDev = dev;
    file->pCache = &dev->cache;
    std::memcpy(file->name, path, std::strlen(path) + 1);
    file->accessMode = accessMode;
    return file.release();
}

// The device an open file is on, for the options its calls use; null for no file.
template <typename File> auto deviceOf(const File *file) -> decltype(file->pDev)
{
    return file != nullptr ? file->pDev : nullptr;
}

template <typename Device> void openFilesAdd(Device *dev, int change)
{
    taskLock();
    dev->openFiles += change;
    taskUnlock();
}

} // namespace nfsdrv

#endif
