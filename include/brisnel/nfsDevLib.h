/* Bringing a protocol version up, and seeing what is mounted: the device listing, the device
 * handles an application can ask for, the names behind a handle, and the command summary. */
#ifndef BRISNEL_NFSDEVLIB_H
#define BRISNEL_NFSDEVLIB_H

#include <brisnel/nfsDrvLib.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* Resets the credentials to the defaults (boot host name, uid 2001, gid 100, no groups) and
 * installs the driver of version 2 or 3 (an installed one is kept), then points the default
 * path at the boot device. 0; -1 only when the scratch buffer cannot be had. */
int nfsVersionInit(int version);

/* Prints every NFS device: its name and "host:exported path", cut to 20 and 50 columns. */
void nfsDevShow(void);
/* Stores up to max device handles (NFS devices in list order); the number stored. */
int nfsDevListGet(void *handles[], int max);
/* The names behind a handle, through the version's driver: 0, or -1 (errno unchanged for a
 * device of another driver, 0x3d0002 when the version's routine is missing). */
int nfsDevInfoGet(void *handle, NfsDevInfo *pInfo);
/* Prints the command summary. */
void nfsHelp(void);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
