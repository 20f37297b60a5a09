// Module-private: what the version 3 driver's file entries (declared in nfs3Drv.h) share.
//
// Locks: each open file's semaphore (NfsOpenFile.semId) serialises read, write, ioctl and
// close on that file and guards its record; the device's cache mutex, taken inside the cache
// operations, comes after it. Open, create and delete take no lock of their own. The device's
// count of open files is changed and read under taskLock.
#ifndef NFS_DRV_NFS3DRVENTRIES_H
#define NFS_DRV_NFS3DRVENTRIES_H

#include <brisnel/nfs3Drv.h>
#include <brisnel/nfsDrvLib.h>
#include <kernel/semLib.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace nfs3drv {

struct FreeDeleter {
    void operator()(void *block) const { std::free(block); }
};
template <typename T> using HeapBlock = std::unique_ptr<T, FreeDeleter>;

// Holds an open file's semaphore (either version's record) for the scope; held() is false
// when it could not be taken.
class FileLock {
public:
    template <typename File>
    explicit FileLock(const File *file)
        : semId_(file->semId), held_(semTake(semId_, K_WAIT_FOREVER) == 0)
    {
    }
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;
    ~FileLock()
    {
        if (held_)
            semGive(semId_);
    }
    bool held() const { return held_; }
    // The semaphore is deleted while held: nothing is given back.
    void forget() { held_ = false; }

private:
    SEM_ID semId_;
    bool held_;
};

// After the file's dirty lines were written back (writeBackError: 0, or the error of that):
// COMMITs the writes that went out UNSTABLE since the last COMMIT. 0 when all of the file's
// acknowledged data is safe on the server; otherwise the error, in this order: a loss recorded
// earlier (another file's eviction, a server restart), the write-back's, the COMMIT's, or
// K_EIO when the COMMIT shows a server restart since those writes (then recorded as a loss).
int dataSafe(NfsOpenFile *file, int writeBackError);

// The device's count of open files, which an unmount checks.
void openFileCounted(NfsDevice *dev);
void openFileUncounted(NfsDevice *dev);

} // namespace nfs3drv

#endif
