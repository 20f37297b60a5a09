/* The kernel's error numbers. An error number is the raising module's number in the upper
 * 16 bits and a code in the lower 16; the small values are the kernel's standard numbers. */
#ifndef KERNEL_KERNELERRNO_H
#define KERNEL_KERNELERRNO_H

#define K_EPERM 1
#define K_ENOENT 2
#define K_EINTR 4 /* a wait ended because the task was asked to stop (Ctrl-C in the shell) */
#define K_EIO 5
#define K_ENXIO 6 /* no such driver installed */
#define K_EBADF 9
#define K_EAGAIN 11 /* a record lock held by another task conflicts (K_F_SETLK) */
#define K_ENOMEM 12
#define K_EACCES 13
#define K_ENOTEMPTY 15
#define K_EBUSY 16
#define K_EEXIST 17
#define K_EXDEV 18
#define K_ENODEV 19
#define K_ENOTDIR 20
#define K_EISDIR 21
#define K_EINVAL 22
#define K_EMFILE 24
#define K_ENOTTY 25
#define K_ENAMETOOLONG 26
#define K_ENOSPC 28
#define K_EROFS 30
/* kFcntl on a device whose driver serves no record locks (it answered the lock codes with
 * K_ENOSYS or has no ioctl entry). */
#define K_ENOLCK 34
#define K_ENOTSUP 35
#define K_ELOOP 64  /* too many symbolic-link restarts while resolving a path */
#define K_ENOSYS 71 /* unsupported ioctl function code */

/* Object (semaphore) errors, module 0x3d. */
#define K_OBJ_ID_ERROR 0x3d0001
#define K_OBJ_UNAVAILABLE 0x3d0002
#define K_OBJ_DELETED 0x3d0003
#define K_OBJ_TIMEOUT 0x3d0004

/* Host table errors, module 0x32. */
#define K_HOST_UNKNOWN 0x320001
#define K_HOST_TABLE_FULL 0x320002
#define K_HOST_INVALID_PARAMETER 0x320003

/* I/O system errors, module 0x38. */
#define K_IOS_DRIVER_TABLE_FULL 0x380001
#define K_IOS_DUPLICATE_DEVICE 0x380002
#define K_IOS_NO_DEVICE 0x380003

/* RPC client errors, module 0x46: the low 16 bits are the RPC library's clnt_stat
 * (for example RPC_TIMEDOUT 5 gives 0x460005, RPC_CANTDECODERES 2 gives 0x460002). */
#define K_RPC_CLNT_ERRNO_BASE 0x460000

#endif
