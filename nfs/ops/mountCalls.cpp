// The MOUNT call, reply release, and the operations both MOUNT versions share.
#include "ops/nfsMountOps.h"

#include "core/nfsArgs.h"

#include <brisnel/nfsErrors.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>

#include <cstdio>
#include <cstring>

namespace mountops {

namespace {

xdrproc_t voidProc() { return nfsXdrProc(xdr_void); }

} // namespace

int call(const char *host, uint32_t version, uint32_t proc, xdrproc_t inproc, void *in,
         xdrproc_t outproc, void *out)
{
    if (nfsClientCall(host, MOUNT_PROGRAM, version, proc, inproc, in, outproc, out) == 0)
        return 0;
    // A reply cut short leaves what was decoded in `out`; the handle is gone, so free directly.
    if (out != nullptr && outproc != voidProc()) {
        const int error = errnoGet();
        xdr_free(outproc, static_cast<char *>(out));
        errnoSet(error);
    }
    return -1;
}

DecodedReply::~DecodedReply()
{
    const NfsRpcClient *client = nfsRpcClientCurrent();
    if (client != nullptr && client->valid != 0 && client->pClient != nullptr)
        clnt_freeres(client->pClient, proc_, static_cast<char *>(reply_));
    else
        xdr_free(proc_, static_cast<char *>(reply_));
}

int dirUnmount(const char *host, uint32_t version, const char *dirPath)
{
    if (!nfsArgsGiven(host, dirPath))
        return -1;
    char *path = const_cast<char *>(dirPath); // only encoded
    return call(host, version, MOUNTPROC3_UMNT, nfsXdrProc(xdr_dirpath), &path, voidProc(), nullptr);
}

int unmountAll(const char *host, uint32_t version)
{
    if (!nfsArgsGiven(host))
        return -1;
    return call(host, version, MOUNTPROC3_UMNTALL, voidProc(), nullptr, voidProc(), nullptr);
}

int exportRead(const char *host, uint32_t version, exports *pExports)
{
    if (!nfsArgsGiven(host, pExports))
        return -1;
    *pExports = nullptr;
    return call(host, version, MOUNTPROC3_EXPORT, voidProc(), nullptr, nfsXdrProc(xdr_exports),
                pExports);
}

int mntDump(const char *host, uint32_t version)
{
    if (!nfsArgsGiven(host))
        return -1;
    mountlist list = nullptr;
    if (call(host, version, MOUNTPROC3_DUMP, voidProc(), nullptr, nfsXdrProc(xdr_mountlist),
             &list) != 0)
        return -1;
    const DecodedReply reply(nfsXdrProc(xdr_mountlist), &list);
    printMountList(list);
    return 0;
}

int exportShow(const char *host, uint32_t version)
{
    if (!nfsArgsGiven(host))
        return -1;
    exports list = nullptr;
    if (exportRead(host, version, &list) != 0)
        return -1;
    const DecodedReply reply(nfsXdrProc(xdr_exports), &list);
    printExports(list);
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
