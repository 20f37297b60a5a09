// Module-private: directory reading one entry per call, from READDIR batches held with the open
// directory, for both versions over a traits type (D, in nfs2DirReadOne.cpp and
// nfs3DirReadOne.cpp): its result and entry types, its cookies and where the stream keeps them.
//
// A batch is a result block from the system memory partition together with what its decoding
// allocated; it is held in pFile->dirReply only while it has entries. The open file's semaphore,
// held by the caller, serialises the use of the batch and of the cookie.
#ifndef NFS_OPS_NFSDIRREAD_H
#define NFS_OPS_NFSDIRREAD_H

#include "rpc/nfsRemoteCall.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfsRpcLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/memLib.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <unordered_set>

namespace nfsdir {

// The entries a listing delivered, from its start (a zero cookie word) on, each as its cookie
// and name: an entry that repeats one of them is not delivered again. A server may send a name
// twice in one batch, repeat cookies across batches, or answer every READDIR with its first
// batch; it may also give two distinct names one cookie, and both are delivered.
using Seen = std::unordered_set<std::string>;

// An entry's key in Seen: its cookie's eight bytes, then its name as delivered.
template <typename D> std::string seenKey(const typename D::Entry &entry)
{
    const auto cookie = static_cast<uint64_t>(D::cookieOf(entry));
    std::string key(reinterpret_cast<const char *>(&cookie), sizeof cookie);
    if (entry.name != nullptr)
        key.append(entry.name, strnlen(entry.name, K_NAME_MAX));
    return key;
}

template <typename File> Seen &seenOf(File *pFile)
{
    if (pFile->dirSeen == nullptr)
        pFile->dirSeen = new Seen;
    return *static_cast<Seen *>(pFile->dirSeen);
}

template <typename File> void seenForget(File *pFile)
{
    delete static_cast<Seen *>(pFile->dirSeen);
    pFile->dirSeen = nullptr;
}

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

// The listing's end: its batch and the cookies it delivered released.
template <typename D> void listingRelease(typename D::File *pFile)
{
    replyRelease<D>(pFile);
    seenForget(pFile);
}

// Hands out an entry: its name (cut to the 255 characters the entry holds) and its cookie.
template <typename D> void entryDeliver(typename D::File *pFile, KDIR *pDir, const typename D::Entry &found)
{
    char *out = pDir->dd_dirent.d_name;
    const std::size_t length = found.name == nullptr ? 0 : strnlen(found.name, K_NAME_MAX);
    if (length > 0)
        std::memcpy(out, found.name, length);
    out[length] = '\0';
    D::cookieHandOut(pFile, pDir, found);
    seenOf(pFile).insert(seenKey<D>(found));
}

// The first entry from `from` on that this listing has not delivered; null for none.
template <typename D>
const typename D::Entry *freshFrom(typename D::File *pFile, const typename D::Entry *from)
{
    const Seen &seen = seenOf(pFile);
    for (const typename D::Entry *e = from; e != nullptr; e = e->nextentry) {
        if (seen.count(seenKey<D>(*e)) == 0)
            return e;
    }
    return nullptr;
}

// The first undelivered entry after the first one whose cookie is `cookie` (entries sharing it
// that were delivered are passed over); null when none follows it or no entry has it.
template <typename D>
const typename D::Entry *successorFind(typename D::File *pFile, const typename D::Res &batch,
                                       typename D::Cookie cookie)
{
    for (const typename D::Entry *e = D::entries(batch); e != nullptr; e = e->nextentry) {
        if (D::cookieOf(*e) == cookie)
            return freshFrom<D>(pFile, e->nextentry);
    }
    return nullptr;
}

// A cookie the version takes for a restart (D::usable) would start the listing over, endlessly.
template <typename D> bool cookiesUsable(const typename D::Entry *entries)
{
    for (const typename D::Entry *e = entries; e != nullptr; e = e->nextentry) {
        if (!D::usable(D::cookieOf(*e)))
            return false;
    }
    return true;
}

template <typename D>
nfsres::Status batchFetch(typename D::File *pFile, KDIR *pDir, typename D::Cookie cookie)
{
    void *block = memPartAlloc(memSysPartId, sizeof(typename D::Res));
    if (block == nullptr)
        return nfsres::Fail{K_ENOMEM};
    std::unique_ptr<typename D::Res, BatchRelease<D>> batch(new (block) typename D::Res{});
    nfsrpc::Reply<typename D::Res> reply(D::peer(pFile), D::kProc, D::encoder, D::args(pFile, cookie),
                                         D::decoder, batch.get());
    reply.keep(); // the batch's release frees what decoding allocated
    if (const nfsres::Status read = nfsops::outcome(reply, batch->status); !read.ok())
        return read;
    const typename D::Entry *entries = D::entries(*batch);
    if (entries == nullptr) {
        if (D::eof(*batch) != TRUE)
            return nfsres::Fail{0}; // neither entries nor the end: nothing to go on with
        pDir->dd_eof = 1;
        return {};
    }
    if (!cookiesUsable<D>(entries))
        return nfsres::Fail{K_EIO};
    // A batch that brings nothing new would be asked for again and again: the listing fails,
    // unless the server says it is the last.
    const typename D::Entry *fresh = freshFrom<D>(pFile, entries);
    if (fresh == nullptr) {
        if (D::eof(*batch) == TRUE) {
            pDir->dd_eof = 1;
            return {};
        }
        return nfsres::Fail{K_EIO};
    }
    D::batchTaken(pFile, *batch);
    pFile->dirReply = batch.release();
    entryDeliver<D>(pFile, pDir, *fresh);
    return {};
}

// The next entry of the directory into pDir, or dd_eof set at the end; 0 or -1. A stream whose
// cookie word is 0 starts from the directory's first entry.
template <typename D> nfsres::Status readOne(typename D::File *pFile, KDIR *pDir)
{
    if (const nfsres::Status given = nfsops::ready(pFile, pDir); !given.ok())
        return given;
    if (!D::isDirectory(pFile))
        return nfsres::Fail{NFS_ERRNO_BASE | NFS3ERR_NOTDIR}; // the same status in version 2
    const bool restart = pDir->dd_cookie == 0;
    const typename D::Cookie cookie = restart ? typename D::Cookie{} : D::position(pFile, pDir);
    if (restart)
        seenForget(pFile);
    if (pFile->dirReply != nullptr && !restart) {
        if (const typename D::Entry *next = successorFind<D>(pFile, *pFile->dirReply, cookie)) {
            entryDeliver<D>(pFile, pDir, *next);
            return {};
        }
        const bool final = D::eof(*pFile->dirReply) == TRUE;
        replyRelease<D>(pFile);
        if (final) {
            pDir->dd_eof = 1;
            return {};
        }
    }
    replyRelease<D>(pFile);
    return batchFetch<D>(pFile, pDir, cookie);
}

} // namespace nfsdir

#endif
