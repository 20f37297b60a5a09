/* The I/O system: driver table, device list and the driver-entry calling convention.
 *
 * A device is named by a prefix of the paths it serves ("/nfs", "host:"); iosDevFind picks
 * the device with the longest name that prefixes a path. A driver's file value is pointer-sized
 * (it usually is the address of the driver's per-file record).
 *
 * Path entries (create, delete, open) receive the tail of the path that follows the device
 * name. The tail lives in the I/O system's path buffer with room for K_IOS_TAIL_ROOM bytes, so
 * an entry may rewrite it and return K_FOLLOW_LINK; the I/O system then resolves the whole
 * buffer (device name followed by the new tail) again from the start, at most
 * K_IOS_MAX_RESTARTS times before failing with K_ELOOP. */
#ifndef KERNEL_IOSLIB_H
#define KERNEL_IOSLIB_H

#include <kernel/kernelTypes.h>

#ifdef __cplusplus
extern "C" {
#endif

#define K_IOS_MAX_DRIVERS 20
#define K_IOS_MAX_FILES 256
#define K_IOS_DEV_NAME_MAX 255
#define K_IOS_TAIL_ROOM 1024
#define K_IOS_MAX_RESTARTS 20

typedef struct DevHdr {
    struct DevHdr *pNext; /* device list link, owned by the I/O system */
    int16_t drvNum;       /* driver number */
    char *name;           /* device name, a copy owned by the I/O system */
} DEV_HDR;

typedef intptr_t (*DrvCreateEntry)(DEV_HDR *pDev, char *tail, int mode);
typedef int (*DrvDeleteEntry)(DEV_HDR *pDev, char *tail);
typedef intptr_t (*DrvOpenEntry)(DEV_HDR *pDev, char *tail, int flags, int mode);
typedef int (*DrvCloseEntry)(intptr_t file);
typedef int (*DrvReadEntry)(intptr_t file, char *buffer, int nBytes);
typedef int (*DrvWriteEntry)(intptr_t file, const char *buffer, int nBytes);
typedef int (*DrvIoctlEntry)(intptr_t file, int function, intptr_t arg);

/* A driver number, or -1 when the table is full. Null entries fail with K_ENOTSUP. */
int iosDrvInstall(DrvCreateEntry create, DrvDeleteEntry remove, DrvOpenEntry open, DrvCloseEntry close,
                  DrvReadEntry read, DrvWriteEntry write, DrvIoctlEntry ioctl);
int iosDrvRemove(int drvNum);
/* Fills and links pDev; 0, or -1 for a bad driver number, a duplicate or over-long name. */
int iosDevAdd(DEV_HDR *pDev, const char *name, int drvNum);
/* Unlinks pDev, waits for the path entries already running on it to return, releases its
 * name copy and the record locks on its files. A driver entry must not delete its own device. */
void iosDevDelete(DEV_HDR *pDev);
/* The device whose name is the longest prefix of name, with *pNameTail at the rest of the
 * path; null with *pNameTail = name when no device matches. */
DEV_HDR *iosDevFind(const char *name, const char **pNameTail);
/* The device after pDev in list order (the first for null); null after the last. */
DEV_HDR *iosNextDevGet(DEV_HDR *pDev);
/* Paths that match no device are resolved under this prefix. 0, or -1 when too long. */
int ioDefPathSet(const char *name);
void ioDefPathGet(char *name, size_t size);

/* Receives the tail that iosDevFind leaves; used by module start-up. */
extern const char *pAddrString;

#ifdef __cplusplus
}
#endif
#endif
