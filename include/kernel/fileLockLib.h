/* Record locks kept by the kernel layer, for drivers whose files have no lock service of their
 * own to ask (the host device serves its lock codes with them). Locks follow POSIX per file with
 * the task as owner: shared read locks, exclusive write locks, and a task's own locks replaced,
 * split and merged by its later requests, never conflicting with each other. A file is named
 * by its device and two words of its driver's choosing; the device's removal releases its
 * locks, and a task's deletion releases all of the task's. */
#ifndef KERNEL_FILELOCKLIB_H
#define KERNEL_FILELOCKLIB_H

#include <kernel/iosLib.h>
#include <kernel/kernelStat.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct FileLockKey {
    const DEV_HDR *pDev;
    uint64_t fileId;   /* the host device: the host's device number */
    uint64_t fileNode; /* the host device: the inode number */
} FileLockKey;

/* K_FIOGETLK: the first lock (lowest start) of another owner that conflicts with *pArg is
 * written over it (its owner too); else pArg->type becomes K_F_UNLCK. 0, or -1 (K_EINVAL). */
int fileLockGet(const FileLockKey *pKey, struct klockarg *pArg);
/* K_FIOSETLK (wait 0) and K_FIOSETLKW (wait nonzero): takes, changes or releases the owner's
 * locks over the range. 0, or -1 with K_EAGAIN (a conflict, not waiting), K_EINTR (the wait
 * was interrupted), K_ENODEV (the device was removed during the wait) or K_EINVAL. */
int fileLockSet(const FileLockKey *pKey, const struct klockarg *pArg, int wait);
/* Releases every lock of owner on the file: a descriptor's close. */
void fileLockOwnerRelease(const FileLockKey *pKey, uintptr_t owner);
/* Releases every lock on the device's files and ends the waits for them: its removal. */
void fileLockDeviceRelease(const DEV_HDR *pDev);

#ifdef __cplusplus
}
#endif
#endif
