/* The user-level file calls. Named k... so that a program can use them beside the C
 * library's own. Descriptors 0, 1 and 2 are the host's standard input, output and error.
 * Each call returns -1 with the error number set on failure. */
#ifndef KERNEL_IOLIB_H
#define KERNEL_IOLIB_H

#include <kernel/kernelStat.h>

#ifdef __cplusplus
extern "C" {
#endif

int kOpen(const char *path, int flags, int mode);
int kCreat(const char *path, int mode);
int kClose(int fd);
int kRead(int fd, char *buffer, int nBytes);
int kWrite(int fd, const char *buffer, int nBytes);
int kIoctl(int fd, int function, intptr_t arg);
int kRemove(const char *path);
/* Positions through the 64-bit seek codes; K_SEEK_END uses the file's status. */
int64_t kLseek(int fd, int64_t offset, int whence);
int kRename(const char *oldPath, const char *newPath);
int kMkdir(const char *path, int mode);
int kRmdir(const char *path);
int kStat(const char *path, struct kstat *pStat);
int kFstat(int fd, struct kstat *pStat);
int kStatfs(const char *path, struct kstatfs *pStatfs);
KDIR *kOpendir(const char *path);
struct kdirent *kReaddir(KDIR *pDir);
void kRewinddir(KDIR *pDir);
int kClosedir(KDIR *pDir);

/* Sets the size of a file open for writing: cut, or extended with zero bytes. */
int kFtruncate(int fd, int64_t length);
/* Sets the permission bits (mode & 07777; file-type bits are ignored) of what path names. */
int kChmod(const char *path, int mode);
/* Sets the access and modification times of what path names; null: the current time (the
 * server's, for a remote file). */
int kUtime(const char *path, const struct kutimbuf *times);
/* Gives the object existingPath names (a link itself, not followed) the further name
 * newPath on the same device (K_EXDEV otherwise). */
int kLink(const char *existingPath, const char *newPath);
/* Makes linkPath a symbolic link holding target, which is not resolved. */
int kSymlink(const char *target, const char *linkPath);
/* The text of the symbolic link path, at most size bytes into buffer, not terminated: the
 * number of bytes stored, or -1 (K_EINVAL when path is no link). */
int kReadlink(const char *path, char *buffer, size_t size);
/* Record locks on an open file (K_F_GETLK, K_F_SETLK, K_F_SETLKW), owned by the calling task:
 * two tasks conflict as two processes would. A read lock needs a descriptor open for reading,
 * a write lock one open for writing (K_EBADF otherwise); a conflict fails K_F_SETLK with
 * K_EAGAIN; K_F_SETLKW waits until granted, or K_EINTR when the task is asked to stop. A
 * device whose driver keeps no locks refuses with K_ENOLCK. */
int kFcntl(int fd, int cmd, struct kflock *lock);

#ifdef __cplusplus
}
#endif
#endif
