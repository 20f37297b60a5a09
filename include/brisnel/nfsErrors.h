/* Error numbers raised by the brisnel module. */
#ifndef BRISNEL_NFSERRORS_H
#define BRISNEL_NFSERRORS_H

/* An NFS status nn from a reply becomes NFS_ERRNO_BASE | nn (see nfsErrnoSet). */
#define NFS_ERRNO_BASE 0x300000
#define NFS_ERRNO_INVAL 0x300016       /* a missing or invalid argument (status 22) */
#define NFS_ERRNO_NAMETOOLONG 0x30003f /* a name too long (status 63) */
#define NFS_ERRNO_NOTSUPP 0x302714     /* an unusable version (status 10004) */

/* The remote-call path and the namespace operations. */
#define NFS_ERR_AUTH_UNIX_FAILED 0x2e0001        /* no credential for a new client handle */
#define NFS_ERR_INAPPROPRIATE_FILE_TYPE 0x2e0002 /* removal of other than file, dir or link */
#define NFS_ERR_ONLY_OVER_TCP                                                                                \
    0x2e0003 /* the server offers NFS only over TCP, and nfsTransport                                        \
              * says UDP only (MOUNT only over TCP: NFS_ERRNO_NOTSUPP) */
#define NFS_ERR_NOT_REGISTERED                                                                               \
    0x2e0004 /* the server's portmapper registers no MOUNT                                                   \
              * program, over UDP or TCP */
#define NFS_ERR_BAD_OPTION                                                                                   \
    0x2e0010 /* a mount option unknown or its value malformed; nfsErrorHint names the option */
#define NFS_ERR_VERSION_NOT_YET                                                                              \
    0x2e0011 /* kept for callers that test for it: version 4 is now mounted (nfs4Drv.h) */

/* The drivers' own. */
#define NFS_DRV_ERR_BAD_BYTE_COUNT 0x2d0001    /* negative byte count */
#define NFS_DRV_ERR_BAD_ACCESS_MODE 0x2d0002   /* access mode field of the flags is 3 */
#define NFS_DRV_ERR_CREATE_EMPTY_NAME 0x2d0003 /* create requested with an empty name */
#define NFS_DRV_ERR_READ_WRITE_ONLY 0x2d0005   /* read on a file opened write-only */
#define NFS_DRV_ERR_WRITE_READ_ONLY 0x2d0006   /* write on a file opened read-only */
#define NFS_DRV_ERR_NOT_NFS_DEVICE 0x2d0007    /* the name is not exactly an NFS device's */
#define NFS_DRV_ERR_PERMISSION_DENIED 0x2d0009 /* refused by the permission check */

/* The version dispatch slot needed is empty. */
#define NFS_ERR_DISPATCH_SLOT_EMPTY 0x3d0002
/* nfsExportShow without a host. */
#define NFS_ERR_NO_HOST 0x320003

#endif
