// The version-specific side of the cache: an open file's cache, identifier, host, handle and
// attributes, and the dispatch slots that move its data. Both versions' records have the same
// field names (pDev->host, fh, attr with fileid, pCache), so one template serves each.
#include "cache/nfsCacheFile.h"

#include "core/nfsDispatch.h"
#include "core/nfsMountVersion.h"
#include "ops/nfs3Data.h"

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfsDrvLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace nfscache {
namespace {

// Runs act on the open file as its version's record: act(record, slot read, slot write);
// otherwise (a version other than 2 or 3) the result of refused().
template <typename Act, typename Refused> auto onRecord(void *file, int version, Act act, Refused refused)
{
    switch (version) {
    case NFS_V3: return act(static_cast<NfsOpenFile *>(file), pFuncNfs3FileRead, pFuncNfs3FileWrite);
    case NFS_V2: return act(static_cast<Nfs2OpenFile *>(file), pFuncNfs2FileRead, pFuncNfs2FileWrite);
    default: return refused();
    }
}

int unusable()
{
    errnoSet(NFS_ERRNO_NOTSUPP);
    return -1;
}

// The reply's attributes name the open file: the same file system and file id as at open.
template <typename Attr> bool sameFile(const Attr &reply, const Attr &open)
{
    return reply.fileid == open.fileid && reply.fsid == open.fsid;
}

// The end of the open file's bytes that the cache holds and the server may not have (its dirty
// and pinned lines); 0 for none. The caller holds the cache's mutex.
uint64_t cachedEnd(const void *file, const NfsDataCache *cache)
{
    uint64_t end = 0;
    for (uint32_t i = 0; hasLines(cache) && i < cache->nLines; ++i) {
        const NfsCacheLine &line = cache->pLines[i];
        if (line.pOwner == file && (line.flags & (NFS_CACHE_DIRTY | NFS_CACHE_PINNED)) != 0)
            end = std::max(end, line.offset + line.nBytes);
    }
    return end;
}

// What a reply's attributes say of the size against what the file's own writes made it.
enum class Reply { read, written };

// A reply's attributes taken into its owner's record. The size a file shows is the largest end
// its acknowledged or cached writes reached: a WRITE or COMMIT reply never lowers it (the server
// may have answered it before later writes of the same set, and the cache may hold more), and
// a READ reply lowers it no further than the end of the bytes the cache holds unsent.
template <typename OpenFile, typename Attr> void attrTaken(OpenFile *file, Attr reply, Reply kind)
{
    const uint64_t floor = kind == Reply::written ? static_cast<uint64_t>(file->attr.size)
                                                  : cachedEnd(file, file->pCache);
    if (reply.size < floor)
        reply.size = static_cast<decltype(reply.size)>(floor);
    file->attr = reply;
}

// A server call, the cache's mutex given up while it waits (the lines it moves are claimed).
template <typename OpenFile, typename Call> auto unlockedCall(const OpenFile *file, Call call)
{
    const Unlocked away(file->pCache);
    return call();
}

// A slot's failure, in the slot's result type.
int failedLike(int /*result*/)
{
    return -1;
}
Nfs3WriteResult failedLike(const Nfs3WriteResult & /*result*/)
{
    return {-1, {}};
}

// Calls a read or write slot (Data is char or const char) with the file's host, handle and
// attributes. The reply's attributes land in a record aside, and reach the file (for its own
// task) only when they name the same file; a reply about another file fails with K_EIO, so
// that no line takes its bytes. Only the ids are read from the record for another task's
// eviction: they never change after the open.
template <typename OpenFile, typename Slot, typename Data>
auto throughSlot(Slot slot, OpenFile *file, uint64_t offset, unsigned count, Data *buf,
                 Caller caller = Caller::owner)
{
    decltype(file->attr) aside{};
    if (caller == Caller::owner)
        aside = file->attr;
    aside.fileid = file->attr.fileid;
    aside.fsid = file->attr.fsid;
    auto result = unlockedCall(file, [&] { return slot(file->pDev->host, &file->fh, offset, count, buf, &aside); });
    if (!sameFile(aside, file->attr)) {
        errnoSet(K_EIO);
        return failedLike(result);
    }
    if (caller == Caller::owner)
        attrTaken(file, aside, std::is_const_v<Data> ? Reply::written : Reply::read);
    return result;
}

// The bytes a write slot took. A version 3 slot also says what the server did with them: what
// a COMMIT needs of writes the server holds in volatile storage only is kept. Replies with
// different verifiers mean the server restarted in between: what it held of the earlier ones
// may be gone, so every pinned line of the file goes out again before the COMMIT.
int writtenOf(int written, void * /*file*/, bool * /*pUnstable*/)
{
    return written;
}

int writtenOf(const Nfs3WriteResult &result, NfsOpenFile *file, bool *pUnstable)
{
    const Nfs3WriteVerdict &verdict = result.verdict;
    if (result.written < 0 || !verdict.unstable)
        return result.written;
    const bool restarted =
        verdict.verfChanged ||
        (file->uncommitted != 0 && std::memcmp(file->writeVerf, verdict.verf, sizeof file->writeVerf) != 0);
    std::memcpy(file->writeVerf, verdict.verf, sizeof file->writeVerf);
    file->uncommitted = restarted || file->uncommitted == kResend ? kResend : 1;
    if (pUnstable != nullptr)
        *pUnstable = true;
    return result.written;
}

} // namespace

bool fileView(void *file, int version, FileView *pView)
{
    return onRecord(
        file, version,
        [pView](auto *record, auto, auto) {
            *pView = FileView{record->pCache, static_cast<uint64_t>(record->attr.fileid),
                              static_cast<uint64_t>(record->attr.fsid), nfsFhOf(record->fh)};
            return true;
        },
        [] { return unusable() == 0; });
}

void lossNote(void *owner, int version, int error)
{
    if (owner == nullptr)
        return;
    onRecord(
        owner, version,
        [error](auto *record, auto, auto) {
            if (record->lostErrno == 0)
                record->lostErrno = error != 0 ? error : NFS_ERRNO_BASE | NFS3ERR_IO;
        },
        [] {});
}

int serverRead(void *file, int version, uint64_t offset, unsigned count, char *buf)
{
    return onRecord(
        file, version,
        [=](auto *record, auto read, auto) {
            return nfsSlotPresent(read) ? throughSlot(read, record, offset, count, buf) : -1;
        },
        unusable);
}

int serverWrite(void *file, int version, uint64_t offset, unsigned count, const char *buf, Caller caller,
                bool *pUnstable)
{
    return onRecord(
        file, version,
        [=](auto *record, auto, auto write) {
            return nfsSlotPresent(write)
                       ? writtenOf(throughSlot(write, record, offset, count, buf, caller), record, pUnstable)
                       : -1;
        },
        unusable);
}

bool rangesServed(int version)
{
    switch (version) {
    case NFS_V3: return pFuncNfs3FileReadRanges != nullptr && pFuncNfs3FileWriteRanges != nullptr;
    case NFS_V2: return pFuncNfs2FileReadRanges != nullptr && pFuncNfs2FileWriteRanges != nullptr;
    default: return false;
    }
}

namespace {

// A version 3 write's verdict noted as serverWrite notes it; version 2 writes are stable.
void noteWritten(const Nfs3WriteResult &result, NfsOpenFile *file, bool *pUnstable)
{
    writtenOf(result, file, pUnstable);
}
void noteWritten(const Nfs3WriteResult & /*result*/, Nfs2OpenFile * /*file*/, bool * /*pUnstable*/) {}

template <typename OpenFile, typename Slot>
void readRangesThrough(Slot slot, OpenFile *file, NfsReadRange *ranges, unsigned n)
{
    decltype(file->attr) aside = file->attr;
    unlockedCall(file, [&] { slot(file->pDev->host, &file->fh, ranges, n, &aside); });
    if (sameFile(aside, file->attr)) {
        attrTaken(file, aside, Reply::read);
        return;
    }
    for (unsigned i = 0; i < n; ++i) {
        ranges[i].received = -1;
        ranges[i].error = K_EIO;
    }
}

template <typename OpenFile, typename Slot>
void writeRangesThrough(Slot slot, OpenFile *file, Nfs3WriteRange *ranges, unsigned n, bool *unstable)
{
    decltype(file->attr) aside = file->attr;
    unlockedCall(file, [&] { slot(file->pDev->host, &file->fh, ranges, n, &aside); });
    const bool same = sameFile(aside, file->attr);
    if (same)
        attrTaken(file, aside, Reply::written);
    for (unsigned i = 0; i < n; ++i) {
        unstable[i] = false;
        if (!same) {
            ranges[i].result = {-1, {}};
            ranges[i].error = K_EIO;
        }
        noteWritten(ranges[i].result, file, &unstable[i]);
    }
}

} // namespace

void serverReadRanges(void *file, int version, NfsReadRange *ranges, unsigned n)
{
    if (version == NFS_V3)
        readRangesThrough(pFuncNfs3FileReadRanges, static_cast<NfsOpenFile *>(file), ranges, n);
    else
        readRangesThrough(pFuncNfs2FileReadRanges, static_cast<Nfs2OpenFile *>(file), ranges, n);
}

void serverWriteRanges(void *file, int version, Nfs3WriteRange *ranges, unsigned n, bool *unstable)
{
    if (version == NFS_V3)
        writeRangesThrough(pFuncNfs3FileWriteRanges, static_cast<NfsOpenFile *>(file), ranges, n, unstable);
    else
        writeRangesThrough(pFuncNfs2FileWriteRanges, static_cast<Nfs2OpenFile *>(file), ranges, n, unstable);
}

bool aheadState(void *file, int version, AheadState *state)
{
    return onRecord(
        file, version,
        [state](auto *record, auto, auto) {
            *state =
                AheadState{&record->nextFill, &record->behindLines, static_cast<uint64_t>(record->attr.size)};
            return true;
        },
        [] { return false; });
}

int serverCommit(NfsOpenFile *file, writeverf3 verf, Caller caller)
{
    if (!nfsSlotPresent(pFuncNfs3FileCommit))
        return unusable();
    fattr3 aside{};
    if (caller == Caller::owner)
        aside = file->attr;
    aside.fileid = file->attr.fileid;
    aside.fsid = file->attr.fsid;
    if (unlockedCall(file, [&] { return pFuncNfs3FileCommit(file->pDev->host, &file->fh, verf, &aside); }) != 0)
        return -1;
    if (caller == Caller::owner && sameFile(aside, file->attr))
        attrTaken(file, aside, Reply::written);
    return 0;
}

} // namespace nfscache
