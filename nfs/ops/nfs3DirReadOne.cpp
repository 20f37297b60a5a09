// Directory reading one entry per call, from READDIR batches held with the open directory.
//
// A batch is a READDIR3res block from the system memory partition together with what its
// decoding allocated; it is held in pFile->dirReply only while it has entries. The open file's
// semaphore, held by the caller, serialises the use of the batch and the cookie buffer.
#include "ops/nfs3PathOps.h"
#include "ops/nfsOpsCall.h"

#include "core/nfsConfig.h"
#include "core/nfsRpcClient.h"

#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/memLib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

void batchFree(READDIR3res *batch)
{
    nfsrpc::release(nfsrpc::procOf(xdr_READDIR3res), batch, nullptr);
    memPartFree(memSysPartId, batch);
}

struct BatchRelease {
    void operator()(READDIR3res *batch) const { batchFree(batch); }
};
using Batch = std::unique_ptr<READDIR3res, BatchRelease>;

cookie3 cookieLoad(const NfsOpenFile *pFile)
{
    cookie3 cookie = 0;
    std::memcpy(&cookie, pFile->cookie, sizeof cookie);
    return cookie;
}

// Hands out entry: its name (cut to the 255 characters the entry holds) and its cookie.
int entryDeliver(NfsOpenFile *pFile, KDIR *pDir, const entry3 &entry)
{
    char *out = pDir->dd_dirent.d_name;
    const std::size_t length = entry.name == nullptr ? 0 : strnlen(entry.name, K_NAME_MAX);
    if (length > 0)
        std::memcpy(out, entry.name, length);
    out[length] = '\0';
    std::memcpy(pFile->cookie, &entry.cookie, sizeof entry.cookie);
    pDir->dd_cookie = reinterpret_cast<intptr_t>(pFile->cookie);
    return 0;
}

// The entry after the one whose cookie is `cookie`; null when that is the batch's last entry
// or no entry has it.
const entry3 *successorFind(const READDIR3res &batch, cookie3 cookie)
{
    for (const entry3 *entry = batch.READDIR3res_u.resok.reply.entries; entry != nullptr;
         entry = entry->nextentry) {
        if (entry->cookie == cookie && entry->nextentry != nullptr)
            return entry->nextentry;
    }
    return nullptr;
}

// Entries are found again by their cookies, so a batch in which two entries share one could
// be walked forever: the entry after the first of them would be handed out again and again.
// A batch fits in one datagram, which bounds the pairs compared.
bool cookiesDistinct(const entry3 *entries)
{
    for (const entry3 *entry = entries; entry != nullptr; entry = entry->nextentry) {
        for (const entry3 *later = entry->nextentry; later != nullptr; later = later->nextentry) {
            if (later->cookie == entry->cookie)
                return false;
        }
    }
    return true;
}

// A batch must come in one message of the client's receive buffer, which holds the largest
// transfer the words allow over the task's transport; a size of 0 or less asks for all of that.
count3 batchCount()
{
    const count3 largest = nfsRpcLargestTransfer(nfsRpcCurrentTransport());
    const int32_t wanted = nfsWordGet(nfs3MaxRddirSz);
    return wanted <= 0 ? largest : std::min(static_cast<count3>(wanted), largest);
}

int batchFetch(NfsOpenFile *pFile, KDIR *pDir, cookie3 cookie)
{
    void *block = memPartAlloc(memSysPartId, sizeof(READDIR3res));
    if (block == nullptr)
        return -1;
    Batch batch(new (block) READDIR3res{});
    READDIR3args args{};
    args.dir = pFile->fh;
    args.cookie = cookie;
    std::memcpy(args.cookieverf, pFile->cookieVerf, sizeof args.cookieverf);
    args.count = batchCount();
    nfsrpc::Reply<READDIR3res> reply(nfsops::nfs3Peer(pFile->pDev->host), NFSPROC3_READDIR, xdr_READDIR3args,
                                     args, xdr_READDIR3res, batch.get());
    reply.keep(); // the batch's release frees what decoding allocated
    if (nfsops::failed(reply))
        return -1;
    if (batch->status != NFS3_OK) {
        const nfsstat3 status = batch->status;
        batch.reset();
        nfsErrnoSet(status);
        return -1;
    }
    const READDIR3resok &ok = batch->READDIR3res_u.resok;
    if (ok.reply.entries == nullptr) {
        if (ok.reply.eof != TRUE)
            return -1; // neither entries nor the end: nothing to go on with
        pDir->dd_eof = 1;
        return 0;
    }
    if (!cookiesDistinct(ok.reply.entries)) {
        errnoSet(K_EIO);
        return -1;
    }
    std::memcpy(pFile->cookieVerf, ok.cookieverf, sizeof pFile->cookieVerf);
    pFile->dirReply = batch.release();
    return entryDeliver(pFile, pDir, *pFile->dirReply->READDIR3res_u.resok.reply.entries);
}

} // namespace

int nfs3DirReadOne(NfsOpenFile *pFile, KDIR *pDir)
{
    if (nfsInit() != 0)
        return -1;
    if (pFile->cookie == nullptr) { // opened as other than a directory
        nfsErrnoSet(NFS3ERR_NOTDIR);
        return -1;
    }
    const bool restart = pDir->dd_cookie == 0;
    const cookie3 cookie = restart ? 0 : cookieLoad(pFile);
    if (pFile->dirReply != nullptr && !restart) {
        if (const entry3 *next = successorFind(*pFile->dirReply, cookie))
            return entryDeliver(pFile, pDir, *next);
        const bool final = pFile->dirReply->READDIR3res_u.resok.reply.eof == TRUE;
        nfs3DirReplyRelease(pFile);
        if (final) {
            pDir->dd_eof = 1;
            return 0;
        }
    }
    nfs3DirReplyRelease(pFile);
    return batchFetch(pFile, pDir, cookie);
}

void nfs3DirReplyRelease(NfsOpenFile *pFile)
{
    if (pFile->dirReply == nullptr)
        return;
    batchFree(pFile->dirReply);
    pFile->dirReply = nullptr;
}
