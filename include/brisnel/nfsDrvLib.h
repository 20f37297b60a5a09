/* The records the NFS drivers work on: the device (one per mounted export), the open file
 * (the drivers' file value) and the device information record of the listing code. */
#ifndef BRISNEL_NFSDRVLIB_H
#define BRISNEL_NFSDRVLIB_H

#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/iosLib.h>
#include <kernel/semLib.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

#define NFS_COOKIE_SIZE 8

/* The options a device was mounted with (nfsMountOpt): each one given is marked by its bit in
 * `given` and applies to that device's calls alone; one not given follows the configuration
 * word at the time of each call, as for a device mounted by nfsMount (all zero). */
#define NFS_OPT_VERS 0x1u
#define NFS_OPT_PROTO 0x2u
#define NFS_OPT_PORT 0x4u
#define NFS_OPT_MOUNTPORT 0x8u
#define NFS_OPT_RSIZE 0x10u
#define NFS_OPT_WSIZE 0x20u
#define NFS_OPT_TIMEO 0x40u
#define NFS_OPT_RETRANS 0x80u
#define NFS_OPT_LINES 0x100u
#define NFS_OPT_LINESIZE 0x200u
#define NFS_OPT_WINDOW 0x400u
#define NFS_OPT_SEC 0x800u
#define NFS_OPT_SIZE_MAX 0u /* rsize=max, wsize=max before the mount: the server's preferred size */
typedef struct NfsMountOptions {
    uint32_t given;     /* NFS_OPT_ bits of the options given */
    int32_t version;    /* vers=: 2, 3; 40 and 41 for 4.0 and 4.1 (4 is 40) */
    int32_t transport;  /* proto=: NFS_TRANSPORT_UDP or NFS_TRANSPORT_TCP */
    uint16_t port;      /* port=: the NFS service's port, the portmapper not asked for it */
    uint16_t mountPort; /* mountport=: the MOUNT service's port */
    uint32_t readSize;  /* rsize=: bytes of one READ; the mount lowers it to the server's limit */
    uint32_t writeSize; /* wsize=: bytes of one WRITE, likewise */
    int32_t timeo;      /* timeo=: tenths of a second between sends of a call */
    int32_t retrans;    /* retrans=: sends after the first before a call fails */
    int32_t lines;      /* lines=: the device's cache lines */
    int32_t lineSize;   /* linesize=: bytes per cache line */
    int32_t window;     /* window=: calls in flight at once, 1 to 16 */
} NfsMountOptions;

/* A version 3 device. devHdr comes first: the I/O system's device pointer is this record. */
typedef struct NfsDevice {
    DEV_HDR devHdr;
    char host[NFS_HOST_NAME_LEN]; /* server host name, passed to every call for the device */
    nfs_fh3 mountFh;              /* export's root handle; data is the device's 64-byte buffer */
    NfsDataCache cache;           /* shared by every file open on the device */
    char fileSys[NFS_MAX_PATH];   /* exported path on the server */
    int openFiles;                /* files open on the device; an unmount waits for none */
    NfsMountOptions options;      /* what it was mounted with; read by its calls, fixed after the mount */
} NfsDevice;

/* A version 3 open file, from the open entry to the close entry. */
typedef struct NfsOpenFile {
    NfsDevice *pDev;
    SEM_ID semId;                 /* held by read, write, ioctl and close; before the cache's */
    NfsDataCache *pCache;         /* always &pDev->cache */
    char name[NFS_MAX_PATH];      /* path relative to the device, as finally opened */
    uint64_t pos;                 /* current file position */
    int accessMode;               /* open flags & 3 */
    nfs_fh3 fh;                   /* the file's handle; data is the record's 64-byte buffer */
    nfs_fh3 dirFh;                /* the handle of the directory holding it */
    fattr3 attr;                  /* attributes at open; size raised as the file grows */
    char *cookie;                 /* directories: READDIR cookie of the last entry returned */
    cookieverf3 cookieVerf;       /* directories: verifier of the last batch with entries */
    struct READDIR3res *dirReply; /* directories: the batch held between reads, or null */
    int lostErrno;                /* data of this file was lost (another file's eviction failed to write
                                     it back, or the server restarted before a COMMIT): the error; every
                                     later sync and the close fail with it. 0 for none. Guarded by the
                                     cache's mutex, as are the two fields after pendingErrno */
    int pendingErrno;             /* a read or write stopped after moving bytes: the next one fails
                                     with this error. 0 for none */
    int uncommitted;              /* UNSTABLE writes went out since the last COMMIT: 1; 2 when a
                                     reply's write verifier changed since (the file's pinned lines
                                     go out again before a COMMIT); else 0 */
    writeverf3 writeVerf;         /* the write verifier of the latest of those writes' replies */
    int appendWrites;             /* opened with K_O_APPEND: every write goes to the file's end */
    void *dirSeen;                /* directories: the cookies this listing delivered, or null */
    int dataOpen;                 /* opened for data (not the name alone): counted among the device's open
                                     files, whose removal renames them to a hidden name instead */
    uint64_t nextFill;            /* the offset just past the file's last line filled on a read (0 for
                                     none): a fill there is sequential and reads ahead */
    int behindLines;              /* full lines of this file waiting to go out with the next one (write-
                                     behind); guarded by the cache's mutex; may count lines another
                                     file's eviction has sent since */
    uint32_t locksLostTold;       /* the count of this file's lock-manager locks a server restart took
                                     that this descriptor has reported (K_ENOLCK, once each) */
} NfsOpenFile;

typedef struct NfsDevInfo {
    char hostName[NFS_HOST_NAME_LEN];
    char *pFileSys; /* caller's buffer of at least NFS_MAX_PATH bytes */
    char *pDevName; /* caller's buffer for the device name */
} NfsDevInfo;

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
