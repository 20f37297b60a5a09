/* The kernel's file records and ioctl function codes. The records are the kernel layer's own
 * and do not use the host's names; the host's <sys/stat.h> is included first so that its
 * st_atime-style macros can be removed for good. */
#ifndef KERNEL_KERNELSTAT_H
#define KERNEL_KERNELSTAT_H

#include <kernel/kernelTypes.h>
#include <sys/stat.h>

#undef st_atime
#undef st_mtime
#undef st_ctime

#ifdef __cplusplus
extern "C" {
#endif

/* Open flags: the kernel's values, not the host's. */
#define K_O_RDONLY 0
#define K_O_WRONLY 1
#define K_O_RDWR 2
#define K_O_ACCMODE 3
#define K_O_CREAT 0x200
#define K_O_TRUNC 0x400
/* Every write goes to the end of the file, whatever the position. A driver serves it by
 * reporting the flag back through K_FIOGETFL; kOpen refuses it (K_ENOTSUP) with a driver that
 * does not, which would write the data over the file's start instead. */
#define K_O_APPEND 0x8
/* With K_O_CREAT: fail with K_EEXIST when the name exists, even as a dangling link. kOpen
 * looks for the name first; a driver that serves the flag also makes the create atomic. */
#define K_O_EXCL 0x800
/* A descriptor for the name alone, not for data: it serves status, file-system status, path
 * configuration, rename and removal, mode and time changes and the link codes, while read,
 * write and every other ioctl fail with K_EBADF. Drivers make no check of the caller's right
 * to read or write the file for it. Only with access mode K_O_RDONLY and without K_O_CREAT,
 * K_O_TRUNC, K_O_EXCL or K_O_APPEND. */
#define K_O_PATH 0x10000000
/* With K_O_PATH only: a symbolic link as the last component is opened itself. */
#define K_O_NOFOLLOW 0x20000000

/* File type bits of st_mode and of a create entry's mode. */
#define K_S_IFMT 0xF000
#define K_S_IFIFO 0x1000
#define K_S_IFCHR 0x2000
#define K_S_IFDIR 0x4000
#define K_S_IFBLK 0x6000
#define K_S_IFREG 0x8000
#define K_S_IFLNK 0xA000
#define K_S_IFSOCK 0xC000

#define K_SEEK_SET 0
#define K_SEEK_CUR 1
#define K_SEEK_END 2

/* ioctl function codes. */
#define K_FIONREAD 1       /* int *: unread bytes */
#define K_FIOSEEK 7        /* position as int */
#define K_FIOWHERE 8       /* result: current position */
#define K_FIORENAME 10     /* const char *: new path relative to the device */
#define K_FIOSYNC 21       /* write back cached data */
#define K_FIOMKDIR 31      /* const char *: path relative to the device */
#define K_FIORMDIR 32      /* const char *: path relative to the device */
#define K_FIOREADDIR 37    /* KDIR * */
#define K_FIOTRUNC 42      /* size as int: the file's new size */
#define K_FIOGETFL 43      /* int *: open flags */
#define K_FIOTIMESET 44    /* const struct kutimbuf *: access and modification times; null: now */
#define K_FIOFSTATFSGET 46 /* struct kstatfs * */
#define K_FIOSEEK64 53     /* uint64_t * */
#define K_FIOWHERE64 54    /* uint64_t * */
#define K_FIOTRUNC64 55    /* const uint64_t *: the file's new size */
#define K_FIOLINK 58       /* char *: a new name for the file, a path relative to the device */
#define K_FIOPATHCONF 61   /* int *: selector in, value out */
#define K_FIOCHMOD 63      /* permission bits (07777) as int */
#define K_FIOFSTATGET 64   /* struct kstat * */
/* The codes above are the target kernel's numbers, so that its drivers and callers meet the
 * same meanings here. It has no code that makes or reads a symbolic link that we know of:
 * these two are the kernel layer's own, far above its range so that none of its codes
 * collides with them. */
#define K_FIOSYMLINK 0x1000  /* struct ksymlinkarg *, on the device's root */
#define K_FIOREADLINK 0x1001 /* struct kreadlinkarg *: result is the length of the link's text */
/* Record locks, the kernel layer's own codes too: kFcntl's requests with the range made
 * absolute and the calling task as owner. A driver without them answers K_ENOSYS. */
#define K_FIOGETLK 0x1002  /* struct klockarg *: the first conflicting lock, or type K_F_UNLCK */
#define K_FIOSETLK 0x1003  /* const struct klockarg *: take or release; K_EAGAIN on a conflict */
#define K_FIOSETLKW 0x1004 /* const struct klockarg *: take, waiting until granted (K_EINTR) */

#define K_NAME_MAX 255

/* kFcntl's commands and lock types. */
#define K_F_GETLK 7
#define K_F_SETLK 8
#define K_F_SETLKW 9
#define K_F_RDLCK 1
#define K_F_UNLCK 2
#define K_F_WRLCK 3

/* A record lock as kFcntl takes it: l_start relative to what l_whence says (K_SEEK_SET,
 * K_SEEK_CUR, K_SEEK_END); l_len bytes from there, 0 for up to the file's end however far it
 * grows, negative for the -l_len bytes before l_start. l_pid is the holding task's id, filled
 * in by K_F_GETLK. */
struct kflock {
    int16_t l_type;
    int16_t l_whence;
    int64_t l_start;
    int64_t l_len;
    intptr_t l_pid;
};

/* The argument of the lock codes: start is the absolute first byte, len 0 runs to the file's
 * end; start + len never passes the largest 64-bit signed offset. owner is the task id. */
struct klockarg {
    int type;
    uint64_t start;
    uint64_t len;
    uintptr_t owner;
};

struct kstat {
    intptr_t st_dev; /* a driver may store its device record's address here */
    uint32_t st_ino;
    uint32_t st_mode;
    uint32_t st_nlink;
    uint16_t st_uid;
    uint16_t st_gid;
    uint32_t st_rdev;
    uint64_t st_size;
    uint32_t st_atime;
    uint32_t st_mtime;
    uint32_t st_ctime;
    uint32_t st_blksize;
    uint32_t st_blocks;
};

struct kstatfs {
    int32_t f_type;
    int32_t f_bsize;
    uint32_t f_blocks;
    uint32_t f_bfree;
    uint32_t f_bavail;
    uint32_t f_files;
    uint32_t f_ffree;
};

struct kdirent {
    char d_name[K_NAME_MAX + 1];
};

/* A directory stream. dd_cookie 0 means "start at the beginning"; a driver keeps its own
 * position token there and sets dd_eof when the directory is exhausted. */
typedef struct KDIR {
    int dd_fd;
    intptr_t dd_cookie;
    int dd_eof;
    struct kdirent dd_dirent;
} KDIR;

/* Access and modification times, seconds since 1970: the two fields the kernel's utime takes,
 * 64-bit so that they pass 2038 on a 32-bit target. */
struct kutimbuf {
    int64_t actime;
    int64_t modtime;
};

/* K_FIOSYMLINK: make a symbolic link at path (relative to the device, inside the I/O system's
 * path buffer: the driver may rewrite it and return K_FOLLOW_LINK, as a path entry does)
 * holding target, which is stored as it stands and never resolved. */
struct ksymlinkarg {
    char *path;
    const char *target;
};

/* K_FIOREADLINK: the link's text goes to buffer, at most size bytes, not terminated. */
struct kreadlinkarg {
    char *buffer;
    size_t size;
};

#ifdef __cplusplus
}
#endif
#endif
