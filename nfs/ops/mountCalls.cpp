// The operations both MOUNT versions share.
#include "ops/nfsMountOps.h"

#include "core/nfsArgs.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfsErrors.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>

#include <cstdio>
#include <cstring>

namespace mountops {

int dirUnmount(const char *host, uint32_t version, const char *dirPath)
{
    if (!nfsArgsGiven(host, dirPath))
        return -1;
    char *path = const_cast<char *>(dirPath); // only encoded
    const nfsrpc::Reply<void *> reply(nfsops::mountPeer(host, version), MOUNTPROC3_UMNT, xdr_dirpath, path,
                                      nfsops::noData);
    return nfsops::failed(reply) ? -1 : 0;
}

int unmountAll(const char *host, uint32_t version)
{
    if (!nfsArgsGiven(host))
        return -1;
    const nfsrpc::Reply<void *> reply(nfsops::mountPeer(host, version), MOUNTPROC3_UMNTALL, nfsops::noData,
                                      static_cast<void *>(nullptr), nfsops::noData);
    return nfsops::failed(reply) ? -1 : 0;
}

int exportRead(const char *host, uint32_t version, exports *pExports)
{
    if (!nfsArgsGiven(host, pExports))
        return -1;
    *pExports = nullptr;
    nfsrpc::Reply<exports> reply(nfsops::mountPeer(host, version), MOUNTPROC3_EXPORT, nfsops::noData,
                                 static_cast<void *>(nullptr), xdr_exports, pExports);
    if (nfsops::failed(reply))
        return -1;
    reply.keep(); // the caller's list now
    return 0;
}

int mntDump(const char *host, uint32_t version)
{
    if (!nfsArgsGiven(host))
        return -1;
    const nfsrpc::Reply<mountlist> reply(nfsops::mountPeer(host, version), MOUNTPROC3_DUMP, nfsops::noData,
                                         static_cast<void *>(nullptr), xdr_mountlist);
    if (nfsops::failed(reply))
        return -1;
    printMountList(*reply);
    return 0;
}

int exportShow(const char *host, uint32_t version)
{
    if (!nfsArgsGiven(host))
        return -1;
    const nfsrpc::Reply<exports> reply(nfsops::mountPeer(host, version), MOUNTPROC3_EXPORT, nfsops::noData,
                                       static_cast<void *>(nullptr), xdr_exports);
    if (nfsops::failed(reply))
        return -1;
    printExports(*reply);
    return 0;
}

void printExports(const exportnode *list)
{
    for (const exportnode *node = list; node != nullptr; node = node->ex_next) {
        std::printf("%-25s ", node->ex_dir);
        for (const groupnode *group = node->ex_groups; group != nullptr; group = group->gr_next)
            std::printf("%s ", group->gr_name);
        std::printf("\n");
    }
}

void printMountList(const mountbody *list)
{
    for (const mountbody *node = list; node != nullptr; node = node->ml_next)
        std::printf("%s:%s\n", node->ml_hostname, node->ml_directory);
}

} // namespace mountops
