/* The version 4 driver's installation, mounting and device queries. A version 4 server has no
 * MOUNT service: the export's path is walked from the server's root, and the device holds a
 * user of this client's state at that server (client id, 4.1 session, lease) until it goes. */
#ifndef BRISNEL_NFS4DRV_H
#define BRISNEL_NFS4DRV_H

#include <brisnel/nfsDrvLib.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* The records are the module's own. */
typedef struct Nfs4Device Nfs4Device;
typedef struct Nfs4File Nfs4File;

/* The version 4 values of the version word (nfsVersion, nfsConfigLib.h) and of vers=: 4.1 and
 * then 4.0 when the server refuses 4.1, 4.0 alone, 4.1 alone. */
#define NFS_VERSION_4 4
#define NFS_VERSION_40 40
#define NFS_VERSION_41 41

/* Installs the driver (once); 0 or -1. */
int nfs4Drv(void);
/* The driver number, or -1 with error 6 when the driver is not installed. */
int nfs4DrvNumGet(void);
/* Mounts fileSys of host as the device devName (fileSys itself when devName is null), over TCP
 * to port 2049, with the minor versions the version word or vers= asks for. A host name of 64 characters or
 * more, or a path of NFS_MAX_PATH or more, is refused with 26. */
int nfs4Mount(const char *host, const char *fileSys, const char *devName);
/* Removes every version 4 device of host (16 while one has files open). */
int nfs4UnmountAll(const char *host);
/* Copies the device's host, exported path and name into pInfo; -1 for a device not listed. */
int nfs4DevInfoGet(Nfs4Device *dev, NfsDevInfo *pInfo);
/* The minor version the device's server agreed (0 or 1); -1 for a device not listed. */
int nfs4DevMinorGet(Nfs4Device *dev);

/* The file entries, which nfs4Drv installs in the I/O system, as version 3's (nfs3Drv.h). */
intptr_t nfs4Open(Nfs4Device *dev, char *name, int flags, int mode);
intptr_t nfs4Create(Nfs4Device *dev, char *name, int mode);
int nfs4Delete(Nfs4Device *dev, char *name);
int nfs4Close(Nfs4File *file);
int nfs4Read(Nfs4File *file, char *buf, int count);
int nfs4Write(Nfs4File *file, const char *buf, int count);
int nfs4Ioctl(Nfs4File *file, int function, intptr_t arg);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
