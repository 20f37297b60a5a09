// What the MOUNT version 1 and version 3 operations share: the bodies of the operations whose
// two versions differ only in the version number.
#ifndef NFS_OPS_NFSMOUNTOPS_H
#define NFS_OPS_NFSMOUNTOPS_H

#include <brisnel/mount3Xdr.h>
#include <brisnel/nfsRpcLib.h>

#include <rpc/rpc.h>

#include <cstdint>

namespace mountops {

int dirUnmount(const char *host, uint32_t version, const char *dirPath);
int unmountAll(const char *host, uint32_t version);
int exportRead(const char *host, uint32_t version, exports *pExports);
int mntDump(const char *host, uint32_t version);
int exportShow(const char *host, uint32_t version);

// The printed forms: "%-25s " per export then "%s " per group; "%s:%s\n" per mount entry.
void printExports(const exportnode *list);
void printMountList(const mountbody *list);

} // namespace mountops

#endif
