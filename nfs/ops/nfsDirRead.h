// Module-private: directory reading one entry per call, from READDIR batches held with the open
// directory, for both versions over a traits type (D, in nfs2DirReadOne.cpp and
// nfs3DirReadOne.cpp): its result and entry types, its cookies and where the stream keeps them.
//
// A batch is a result block from the system memory partition together with what its decoding
// allocated; it is held in pFile->dirReply only while it has entries. The open file's semaphore,
// held by the caller, serialises the use of the batch and of the cookie.
#ifndef NFS_OPS_NFSDIRREAD_H
#define NFS_OPS_NFSDIRREAD_H

#include "core/nfsArgs.h"
#include "core/nfsRemoteCall.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/memLib.h>

#include <cstring>
#include <memory>
#include <new>

namespace nfsdir {

template <typename D> void batchFree(typename D::Res *batch)
{
    nfsrpc::release(nfsrpc::procOf(D::decoder), batch, nullptr);
    memPartFree(memSysPartId, batch);
}

template <typename D> struct BatchRelease {
    void operator()(typename D::Res *batch) const { batchFree<D>(batch); }
};

// Releases the batch pFile holds, if any, and clears dirReply.
template <typename D> void replyRelease(typename D::File *pFile)
{
    if (pFile->dirReply == nullptr)
        return;
    batchFree<D>(pFile->dirReply);
    pFile->dirReply = nullptr;
}

// Hands out an entry: its name (cut to the 255 characters the entry holds) and its cookie.
template <typename D> int entryDeliver(typename D::File *pFile, KDIR *pDir, const typename D::Entry &found)
{
    char *out = pDir->dd_dirent.d_name;
    const std::size_t length = found.name == nullptr ? 0 : strnlen(found.name, K_NAME_MAX);
    if (length > 0)
        std::memcpy(out, found.name, length);
    out[length] = '\0';
    D::cookieHandOut(pFile, pDir, found);
    return 0;
}

// The entry after the one whose cookie is `cookie`; null when that is the batch's last entry
// or no entry has it.
template <typename D>
const typename D::Entry *successorFind(const typename D::Res &batch, typename D::Cookie cookie)
{
    for (const typename D::Entry *e = D::entries(batch); e != nullptr; e = e->nextentry) {
        if (D::cookieOf(*e) == cookie && e->nextentry != nullptr)
            return e->nextentry;
    }
    return nullptr;
}

// Entries are found again by their cookies, so a batch in which two entries share one could be
// walked forever: the entry after the first of them would be handed out again and again. A
// cookie the version takes for a restart (D::usable) would start the listing over, as
// endlessly. A batch fits in one datagram, which bounds the pairs compared.
template <typename D> bool cookiesUsable(const typename D::Entry *entries)
{
    for (const typename D::Entry *e = entries; e != nullptr; e = e->nextentry) {
        if (!D::usable(D::cookieOf(*e)))
            return false;
        for (const typename D::Entry *later = e->nextentry; later != nullptr; later = later->nextentry) {
            if (D::cookieOf(*later) == D::cookieOf(*e))
                return false;
        }
    }
    return true;
}

template <typename D> int batchFetch(typename D::File *pFile, KDIR *pDir, typename D::Cookie cookie)
{
    void *block = memPartAlloc(memSysPartId, sizeof(typename D::Res));
    if (block == nullptr)
        return -1;
    std::unique_ptr<typename D::Res, BatchRelease<D>> batch(new (block) typename D::Res{});
    nfsrpc::Reply<typename D::Res> reply(D::peer(pFile), D::kProc, D::encoder, D::args(pFile, cookie), D::decoder,
                                         batch.get());
    reply.keep(); // the batch's release frees what decoding allocated
    if (nfsops::failed(reply) || !nfsops::statusOk(batch->status))
        return -1;
    const typename D::Entry *entries = D::entries(*batch);
    if (entries == nullptr) {
        if (D::eof(*batch) != TRUE)
            return -1; // neither entries nor the end: nothing to go on with
        pDir->dd_eof = 1;
        return 0;
    }
    if (!cookiesUsable<D>(entries)) {
        errnoSet(K_EIO);
        return -1;
    }
    D::batchTaken(pFile, *batch);
    pFile->dirReply = batch.release();
    return entryDeliver<D>(pFile, pDir, *entries);
}

// The next entry of the directory into pDir, or dd_eof set at the end; 0 or -1. A stream whose
// cookie word is 0 starts from the directory's first entry.
template <typename D> int readOne(typename D::File *pFile, KDIR *pDir)
{
    if (!nfsArgsGiven(pFile, pDir) || nfsInit() != 0)
        return -1;
    if (!D::isDirectory(pFile)) {
        nfsErrnoSet(NFS3ERR_NOTDIR); // the same status in version 2
        return -1;
    }
    const bool restart = pDir->dd_cookie == 0;
    const typename D::Cookie cookie = restart ? typename D::Cookie{} : D::position(pFile, pDir);
    if (pFile->dirReply != nullptr && !restart) {
        if (const typename D::Entry *next = successorFind<D>(*pFile->dirReply, cookie))
            return entryDeliver<D>(pFile, pDir, *next);
        const bool final = D::eof(*pFile->dirReply) == TRUE;
        replyRelease<D>(pFile);
        if (final) {
            pDir->dd_eof = 1;
            return 0;
        }
    }
    replyRelease<D>(pFile);
    return batchFetch<D>(pFile, pDir, cookie);
}

} // namespace nfsdir

#endif
