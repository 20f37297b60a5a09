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
/* A descriptor for the name alone, not for data: it serves status, file-system status, path
 * configuration, rename and removal, while read, write and every other ioctl fail with
 * K_EBADF. Drivers make no check of the caller's right to read or write the file for it.
 * Only with access mode K_O_RDONLY and without K_O_CREAT or K_O_TRUNC. */
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
#define K_FIONREAD 1        /* int *: unread bytes */
#define K_FIOSEEK 7         /* position as int */
#define K_FIOWHERE 8        /* result: current position */
#define K_FIORENAME 10      /* const char *: new path relative to the device */
#define K_FIOSYNC 21        /* write back cached data */
#define K_FIOMKDIR 31       /* const char *: path relative to the device */
#define K_FIORMDIR 32       /* const char *: path relative to the device */
#define K_FIOREADDIR 37     /* KDIR * */
#define K_FIOGETFL 43       /* int *: open flags */
#define K_FIOFSTATFSGET 46  /* struct kstatfs * */
#define K_FIOSEEK64 53      /* uint64_t * */
#define K_FIOWHERE64 54     /* uint64_t * */
#define K_FIOPATHCONF 61    /* int *: selector in, value out */
#define K_FIOFSTATGET 64    /* struct kstat * */

#define K_NAME_MAX 255

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

#ifdef __cplusplus
}
#endif
#endif
