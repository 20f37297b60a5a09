// What the MOUNT version 1 and version 3 operations share: the one call that every operation
// makes, the release of its decoded reply, and the bodies of the operations whose two versions
// differ only in the version number.
#ifndef NFS_OPS_NFSMOUNTOPS_H
#define NFS_OPS_NFSMOUNTOPS_H

#include <brisnel/mount3Xdr.h>
#include <brisnel/nfsRpcLib.h>

#include <rpc/rpc.h>

#include <cstdint>

namespace mountops {

// One MOUNT call (program 100005). When the call fails, whatever part of the reply was decoded
// has been released and the result zeroed again; 0 or -1 with the error number set.
int call(const char *host, uint32_t version, uint32_t proc, xdrproc_t inproc, void *in,
         xdrproc_t outproc, void *out);

// Holds a decoded reply until the scope ends, then releases it through the task's handle.
class DecodedReply {
public:
    DecodedReply(xdrproc_t proc, void *reply) : proc_(proc), reply_(reply) {}
    DecodedReply(const DecodedReply &) = delete;
    DecodedReply &operator=(const DecodedReply &) = delete;
    ~DecodedReply();

private:
    xdrproc_t proc_;
    void *reply_;
};

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
