/* The version 2 driver: its device and open-file records, installation, mounting, device
 * queries and its seven file entries. Handles are 32 bytes held inline; positions and sizes
 * on the wire are 32-bit. */
#ifndef BRISNEL_NFS2DRV_H
#define BRISNEL_NFS2DRV_H

#include <brisnel/nfs2Xdr.h>
#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsDrvLib.h>
#include <kernel/iosLib.h>
#include <kernel/semLib.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* A version 2 device. devHdr comes first: the I/O system's device pointer is this record. */
typedef struct Nfs2Device {
    DEV_HDR devHdr;
    char host[NFS_HOST_NAME_LEN]; /* server host name, passed to every call for the device */
    nfs_fh2 mountFh;              /* export's root handle */
    NfsDataCache cache;           /* shared by every file open on the device */
    char fileSys[NFS_MAX_PATH];   /* exported path on the server */
    int openFiles;                /* files open on the device; an unmount waits for none */
    NfsMountOptions options;      /* what it was mounted with (nfsDrvLib.h) */
} Nfs2Device;

/* A version 2 open file, from the open entry to the close entry. */
typedef struct Nfs2OpenFile {
    Nfs2Device *pDev;
    SEM_ID semId;                /* held by read, write, ioctl and close; before the cache's */
    NfsDataCache *pCache;        /* always &pDev->cache */
    char name[NFS_MAX_PATH];     /* path relative to the device, as finally opened */
    uint64_t pos;                /* current file position */
    int accessMode;              /* open flags & 3 */
    nfs_fh2 fh;                  /* the file's handle */
    nfs_fh2 dirFh;               /* the handle of the directory holding it */
    fattr attr;                  /* attributes at open; size raised as the file grows */
    struct readdirres *dirReply; /* directories: the batch held between reads, or null */
    int lostErrno;               /* another file's eviction failed to write this file's data back: the
                                    error; every later sync and the close fail with it. 0 for none */
    int pendingErrno;            /* a read or write stopped after moving bytes: the next one fails
                                    with this error. 0 for none */
    int appendWrites;            /* opened with K_O_APPEND: every write goes to the file's end */
    void *dirSeen;               /* directories: the cookies this listing delivered, or null */
    int dataOpen;                /* opened for data (not the name alone): counted among the device's open
                                    files, whose removal renames them to a hidden name instead */
    uint64_t nextFill;           /* as NfsOpenFile's: where a fill reads ahead */
    int behindLines;             /* as NfsOpenFile's: full lines waiting to go out behind */
    uint32_t locksLostTold;      /* as NfsOpenFile's: lost locks this descriptor has reported */
} Nfs2OpenFile;

/* Installs the driver (once) and fills the version 2 dispatch slots; 0 or -1. */
int nfs2Drv(void);
/* The driver number, or -1 with error 6 when the driver is not installed. */
int nfs2DrvNumGet(void);
/* Mounts fileSys of host (MOUNT version 1) as the device devName (fileSys when null). A host
 * name of 64 characters or more, or a path of NFS_MAX_PATH or more, is refused with 26. */
int nfs2Mount(const char *host, const char *fileSys, const char *devName);
/* Tells host that this client mounts nothing from it any more, then removes every version 2
 * device of that host; nothing is removed when the server cannot be told. */
int nfs2UnmountAll(const char *host);
/* Copies the device's host, exported path and name into pInfo; -1 for a device not listed. */
int nfs2DevInfoGet(Nfs2Device *dev, NfsDevInfo *pInfo);
/* The first version 2 device of host in list order; null for none. */
Nfs2Device *nfs2DevFind(const char *host);

/* The file entries. Open and create return the record's address, -1, or -2 with name
 * rewritten for the I/O system; delete returns 0, -1 or -2. */
intptr_t nfs2Open(Nfs2Device *dev, char *name, int flags, int mode);
intptr_t nfs2Create(Nfs2Device *dev, char *name, int mode);
int nfs2Delete(Nfs2Device *dev, char *name);
/* 0, or -1 when the file's data did not all reach the server (the record is released). */
int nfs2Close(Nfs2OpenFile *file);
/* Reads and writes at or beyond 4 GiB fail with 27 (file too large) before anything is sent:
 * the protocol carries 32-bit positions only. */
int nfs2Read(Nfs2OpenFile *file, char *buf, int count);
int nfs2Write(Nfs2OpenFile *file, const char *buf, int count);
/* Serves codes 1, 7, 8, 10, 21, 37, 43, 46 and 64; every other code fails with 71. */
int nfs2Ioctl(Nfs2OpenFile *file, int function, intptr_t arg);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
