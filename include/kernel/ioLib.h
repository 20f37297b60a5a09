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

#ifdef __cplusplus
}
#endif
#endif
