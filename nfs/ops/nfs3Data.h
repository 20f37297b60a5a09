// The NFS version 3 operations that move file data and read the attributes of files and file
// systems, declared in nfs3Ops.h; the caller serialises the use of one open file.
#ifndef NFS_OPS_NFS3DATA_H
#define NFS_OPS_NFS3DATA_H

#include <brisnel/nfs3Lib.h>
#include <brisnel/nfs3Ops.h>
#include <brisnel/nfs3Xdr.h>
#include <kernel/kernelStat.h>

#include <cstdint>

#endif
