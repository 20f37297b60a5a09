/* The version 3 driver's installation, mounting and device queries, and the MOUNT version 3
 * client operations it uses. */
#ifndef BRISNEL_NFS3DRV_H
#define BRISNEL_NFS3DRV_H

#include <brisnel/mount3Xdr.h>
#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsDrvLib.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* Installs the driver (once) and fills the version 3 dispatch slots; 0 or -1. */
int nfs3Drv(void);
/* The driver number, or -1 with error 6 when the driver is not installed. */
int nfs3DrvNumGet(void);
/* Mounts fileSys of host as the device devName (fileSys itself when devName is null). A host
 * name of 64 characters or more, or a path of NFS_MAX_PATH or more, is refused with 26. */
int nfs3Mount(const char *host, const char *fileSys, const char *devName);
/* Tells host that this client mounts nothing from it any more, then removes every version 3
 * device of that host; nothing is removed when the server cannot be told. */
int nfs3UnmountAll(const char *host);
/* Copies the device's host, exported path and name into pInfo; -1 for a device not listed. */
int nfs3DevInfoGet(NfsDevice *dev, NfsDevInfo *pInfo);

/* The file entries, which nfs3Drv installs in the I/O system. Open and create return the
 * record's address, -1, or -2 with name rewritten for the I/O system; delete 0, -1 or -2. */
intptr_t nfs3Open(NfsDevice *dev, char *name, int flags, int mode);
intptr_t nfs3Create(NfsDevice *dev, char *name, int mode);
int nfs3Delete(NfsDevice *dev, char *name);
/* 0, or -1 when the semaphore cannot be taken or the file's data did not all reach the server
 * (the record is released all the same then). */
int nfs3Close(NfsOpenFile *file);
int nfs3Read(NfsOpenFile *file, char *buf, int count);
int nfs3Write(NfsOpenFile *file, const char *buf, int count);
int nfs3Ioctl(NfsOpenFile *file, int function, intptr_t arg);
/* Moves the position, first writing back this file's dirty line at the old one when the new
 * position maps to another line; 0, or -1 with the position unchanged. */
int nfs3Seek(NfsOpenFile *file, uint64_t newPos);

/* MOUNT version 3. Each makes one remote call. */
/* The export's root handle: its length, and that many bytes copied into the buffer of at least
 * FHSIZE3 bytes that fhOut points to. A refused request leaves the MOUNT status as the error
 * number and fhOut untouched. */
int nfs3DirMount(const char *host, const char *dirPath, nfs_fh3 *fhOut);
int nfs3DirUnmount(const char *host, const char *dirPath);
int nfs3MntUnmountAll(const char *host);
/* The decoded export list goes to *pExports; the caller releases it with xdr_exports. */
int nfs3ExportRead(const char *host, exports *pExports);
/* Print the server's mount table ("host:directory" lines) and export list. */
int nfs3MntDump(const char *host);
int nfs3ExportShow(const char *host);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
