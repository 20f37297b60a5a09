// Module-private: the version 3 driver's seven file entries, which nfs3Drv installs in the
// I/O system, the seek routine of its ioctl entry, and what the entries share.
//
// Locks: each open file's semaphore (NfsOpenFile.semId) serialises read, write, ioctl and
// close on that file and guards its record; the device's cache mutex, taken inside the cache
// operations, comes after it. Open, create and delete take no lock of their own. The device's
// count of open files is changed and read under taskLock.
#ifndef NFS_DRV_NFS3DRVENTRIES_H
#define NFS_DRV_NFS3DRVENTRIES_H

#include <brisnel/nfsDrvLib.h>
#include <kernel/semLib.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

extern "C" {

// The record's address as a file value; -1, or -2 with name rewritten for the I/O system.
intptr_t nfs3Open(NfsDevice *dev, char *name, int flags, int mode);
intptr_t nfs3Create(NfsDevice *dev, char *name, int mode);
// 0, -1, or -2 with name rewritten.
int nfs3Delete(NfsDevice *dev, char *name);
// 0, or -1 when the semaphore cannot be taken or the file's data did not all reach the server
// (the record is released all the same then).
int nfs3Close(NfsOpenFile *file);
int nfs3Read(NfsOpenFile *file, char *buf, int count);
int nfs3Write(NfsOpenFile *file, const char *buf, int count);
int nfs3Ioctl(NfsOpenFile *file, int function, intptr_t arg);
// Moves the position, first writing back this file's dirty line at the old one when the new
// position maps to another line; 0, or -1 with the position unchanged.
int nfs3Seek(NfsOpenFile *file, uint64_t newPos);

} // extern "C"

namespace nfs3drv {

struct FreeDeleter {
    void operator()(void *block) const { std::free(block); }
};
template <typename T> using HeapBlock = std::unique_ptr<T, FreeDeleter>;

// Holds an open file's semaphore for the scope; held() is false when it could not be taken.
class FileLock {
public:
    explicit FileLock(const NfsOpenFile *file)
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
