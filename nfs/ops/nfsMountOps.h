// The printed forms of a MOUNT export list and mount table (mountOps.cpp), which the mount
// front end prints too.
#ifndef NFS_OPS_NFSMOUNTOPS_H
#define NFS_OPS_NFSMOUNTOPS_H

#include <brisnel/mount3Xdr.h>
#include <brisnel/nfsRpcLib.h>

#include <rpc/rpc.h>

#include <cstdint>

namespace mountops {

// The printed forms: "%-25s " per export then "%s " per group; "%s:%s\n" per mount entry.
void printExports(const exportnode *list);
void printMountList(const mountbody *list);

} // namespace mountops

#endif
