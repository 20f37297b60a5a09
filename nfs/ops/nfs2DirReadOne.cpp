// Directory reading one entry per call on a version 2 server, from READDIR batches held with
// the open directory. The steps are those of version 3; what differs is visible here: the
// position is the 4-byte cookie itself, kept in the stream's cookie word, a batch asks for 512
// bytes, and there is no verifier.
#include "ops/nfs2Call.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/memLib.h>

#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr u_int kBatchCount = 512;

void batchFree(readdirres *batch)
{
    nfsrpc::release(nfsrpc::procOf(xdr_readdirres), batch, nullptr);
    memPartFree(memSysPartId, batch);
}

struct BatchRelease {
    void operator()(readdirres *batch) const { batchFree(batch); }
};
using Batch = std::unique_ptr<readdirres, BatchRelease>;

uint32_t cookieWord(const nfscookie cookie)
{
    uint32_t word = 0;
    std::memcpy(&word, cookie, sizeof word);
    return word;
}

int entryDeliver(KDIR *pDir, const entry &found)
{
    char *out = pDir->dd_dirent.d_name;
    const std::size_t length = found.name == nullptr ? 0 : strnlen(found.name, K_NAME_MAX);
    if (length > 0)
        std::memcpy(out, found.name, length);
    out[length] = '\0';
    pDir->dd_cookie = static_cast<intptr_t>(cookieWord(found.cookie));
    return 0;
}

const entry *successorFind(const readdirres &batch, uint32_t cookie)
{
    for (const entry *e = batch.readdirres_u.reply.entries; e != nullptr; e = e->nextentry) {
        if (cookieWord(e->cookie) == cookie && e->nextentry != nullptr)
            return e->nextentry;
    }
    return nullptr;
}

// As in version 3, entries are found again by their cookies, so a batch in which two share
// one could be walked forever. A zero cookie would restart the listing from its first entry,
// just as endlessly.
bool cookiesUsable(const entry *entries)
{
    for (const entry *e = entries; e != nullptr; e = e->nextentry) {
        if (cookieWord(e->cookie) == 0)
            return false;
        for (const entry *later = e->nextentry; later != nullptr; later = later->nextentry) {
            if (cookieWord(later->cookie) == cookieWord(e->cookie))
                return false;
        }
    }
    return true;
}

int batchFetch(Nfs2OpenFile *pFile, KDIR *pDir, uint32_t cookie)
{
    void *block = memPartAlloc(memSysPartId, sizeof(readdirres));
    if (block == nullptr)
        return -1;
    Batch batch(new (block) readdirres{});
    readdirargs args{};
    nfs2ops::handleCopy(pFile->fh, &args.dir);
    std::memcpy(args.cookie, &cookie, sizeof cookie);
    args.count = kBatchCount;
    nfsrpc::Reply<readdirres> reply(nfsops::nfs2Peer(pFile->pDev->host), NFSPROC_READDIR, xdr_readdirargs, args,
                                    xdr_readdirres, batch.get());
    reply.keep(); // the batch's release frees what decoding allocated
    if (nfsops::failed(reply))
        return -1;
    if (batch->status != NFS_OK) {
        const nfsstat status = batch->status;
        batch.reset();
        return nfsops::statusOk(status) ? 0 : -1;
    }
    const dirlist &list = batch->readdirres_u.reply;
    if (list.entries == nullptr) {
        if (list.eof != TRUE)
            return -1; // neither entries nor the end: nothing to go on with
        pDir->dd_eof = 1;
        return 0;
    }
    if (!cookiesUsable(list.entries)) {
        errnoSet(K_EIO);
        return -1;
    }
    pFile->dirReply = batch.release();
    return entryDeliver(pDir, *pFile->dirReply->readdirres_u.reply.entries);
}

} // namespace

int nfs2DirReadOne(Nfs2OpenFile *pFile, KDIR *pDir)
{
    if (nfsInit() != 0)
        return -1;
    if (pFile->attr.type != NFDIR) {
        nfsErrnoSet(NFSERR_NOTDIR);
        return -1;
    }
    const auto cookie = static_cast<uint32_t>(pDir->dd_cookie);
    if (pFile->dirReply != nullptr && cookie != 0) {
        if (const entry *next = successorFind(*pFile->dirReply, cookie))
            return entryDeliver(pDir, *next);
        const bool final = pFile->dirReply->readdirres_u.reply.eof == TRUE;
        nfs2DirReplyRelease(pFile);
        if (final) {
            pDir->dd_eof = 1;
            return 0;
        }
    }
    nfs2DirReplyRelease(pFile);
    return batchFetch(pFile, pDir, cookie);
}

void nfs2DirReplyRelease(Nfs2OpenFile *pFile)
{
    if (pFile->dirReply == nullptr)
        return;
    batchFree(pFile->dirReply);
    pFile->dirReply = nullptr;
}
