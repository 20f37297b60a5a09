/* The mount commands. Each asks the server's portmapper which MOUNT versions it offers over
 * UDP, takes the highest one an installed driver supports (3 for NFS version 3, 1 for NFS
 * version 2) and calls that version's routine. Also the MOUNT version 1 client operations,
 * the twins of those in nfs3Drv.h, used by the version 2 driver. */
#ifndef BRISNEL_NFSMOUNTLIB_H
#define BRISNEL_NFSMOUNTLIB_H

#include <brisnel/mount3Xdr.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

int nfsMount(const char *host, const char *fileSystem, const char *devName);
/* Mounts as nfsMount does, with options for this device alone, comma-separated (null or "" for
 * none): vers=2|3|4|4.0|4.1, proto=udp|tcp, port=n, mountport=n, rsize=n|max, wsize=n|max,
 * timeo=tenths, retrans=n, lines=n, linesize=n, window=n, sec=sys. Options not given follow the
 * configuration words. An unknown or malformed option fails with NFS_ERR_BAD_OPTION
 * (nfsErrorHint names it). vers=4 (4.1, then 4.0), 4.0 or 4.1 mounts through the version 4 driver
 * on TCP port 2049, without the portmapper. */
int nfsMountOpt(const char *host, const char *fileSystem, const char *devName, const char *options);
/* Prints each NFS device with the options its calls use, in nfsMountOpt's words. */
void nfsDevOptShow(void);
/* The options of an NFS device (a handle of nfsDevListGet) in nfsMountOpt's words, into buffer
 * of size bytes: 0, or -1 for a device that is not an NFS device or a buffer too small. */
int nfsDevOptGet(void *handle, char *buffer, int size);
/* Mounts every export of host under its own path; prints a line per export unless quiet.
 * 0 when every mount succeeded. The second argument is not used. */
int nfsMountAll(const char *host, const char *unused, int quiet);
/* Removes the NFS device named exactly devName, after telling its server. When the server
 * cannot be told, the device stays as it was and -1 is returned. */
int nfsUnmount(const char *devName);
/* Removes the NFS device named exactly devName without telling its server, for a server that
 * is gone. Refused (16) while files are open on the device. */
int nfsUnmountForce(const char *devName);
int nfsUnMountAll(const char *host);
int nfsExportShow(const char *host);
int nfsMntDump(const char *host);
/* The driver number of NFS version 2 or 3; -1 otherwise. */
int nfsDrvNumGet(int version);

/* MOUNT version 1. fhOut receives the 32 handle bytes. */
int nfs2DirMount(const char *host, const char *dirPath, unsigned char *fhOut);
int nfs2DirUnmount(const char *host, const char *dirPath);
int nfs2MntUnmountAll(const char *host);
int nfs2ExportRead(const char *host, exports *pExports);
int nfs2MntDump(const char *host);
int nfs2ExportShow(const char *host);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
