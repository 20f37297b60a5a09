// The version-specific side of the cache: an open file's cache, identifier, host, handle and
// attributes, and the dispatch slots that move its data, as the version's protocol type names
// them (nfsCacheVersions.h). Both versions' records have the same field names (pDev->host, fh,
// attr with fileid, pCache), so one template serves each; the rest of the cache names no version.
#include "cache/nfsCacheFile.h"

#include "cache/nfsCacheVersions.h"

#include "core/nfsDispatch.h"
#include "core/nfsMountVersion.h"
#include "lock/nlmRestart.h"
#include "ops/nfs3Data.h"

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfsDrvLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <cstring>
#include <type_traits>
#include <utility>

namespace nfscache {
namespace {

constexpr Fail kUnusable{NFS_ERRNO_NOTSUPP};

// A record's handle bytes and length, in place; a handle longer than a line's key holds is
// taken as empty, as nfsFhOf takes it.
std::pair<const unsigned char *, uint32_t> handleOf(const nfs_fh3 &fh)
{
    const uint32_t length = fh.data.data_len <= NfsFh::kMostBytes ? fh.data.data_len : 0;
    return {reinterpret_cast<const unsigned char *>(fh.data.data_val), length};
}
std::pair<const unsigned char *, uint32_t> handleOf(const nfs_fh2 &fh)
{
    return {reinterpret_cast<const unsigned char *>(fh), NFS_FHSIZE};
}
std::pair<const unsigned char *, uint32_t> handleOf(const Nfs4Handle &fh)
{
    return {fh.fh.bytes.data(), fh.fh.length};
}

// The reply's attributes name the open file: the same file system and file id as at open.
template <typename Attr> bool sameFile(const Attr &reply, const Attr &open)
{
    return reply.fileid == open.fileid && reply.fsid == open.fsid;
}

// The record's view for the cache: its handle in place, its ids from the open's attributes.
template <typename OpenFile> FileView viewOf(const OpenFile *record)
{
    const auto [fh, length] = handleOf(record->fh);
    return FileView{record->pCache, static_cast<uint64_t>(record->attr.fileid),
                    static_cast<uint64_t>(record->attr.fsid), fh, length};
}

// The end of the file's bytes that the cache holds and the server may not have (dirty and
// pinned lines, whichever descriptor of the file wrote them); 0 for none. The caller holds the
// cache's mutex.
uint64_t cachedEnd(const FileView &view)
{
    uint64_t end = 0;
    for (uint32_t i = 0; hasLines(view.cache) && i < view.cache->nLines; ++i) {
        const NfsCacheLine &line = view.cache->pLines[i];
        if ((line.flags & (NFS_CACHE_DIRTY | NFS_CACHE_PINNED)) != 0 && holdsFileOf(line, view))
            end = std::max(end, line.offset + line.nBytes);
    }
    return end;
}

// The attributes' size raised to FLOOR when below it.
template <typename Attr> void sizeAtLeast(Attr *attr, uint64_t floor)
{
    if (static_cast<uint64_t>(attr->size) < floor)
        attr->size = static_cast<decltype(attr->size)>(floor);
}

// What a reply's attributes say of the size against what the file's own writes made it.
enum class Reply { read, written };

// A reply's attributes taken into its owner's record. The size a file shows is the largest end
// its acknowledged or cached writes reached: a WRITE or COMMIT reply never lowers it (the server
// may have answered it before later writes of the same set, and the cache may hold more), and
// a READ reply lowers it no further than the end of the bytes the cache holds unsent.
template <typename OpenFile, typename Attr> void attrTaken(OpenFile *file, Attr reply, Reply kind)
{
    const uint64_t floor =
        kind == Reply::written ? static_cast<uint64_t>(file->attr.size) : cachedEnd(viewOf(file));
    sizeAtLeast(&reply, floor);
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
NfsWriteResult failedLike(const NfsWriteResult & /*result*/)
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
    auto result =
        unlockedCall(file, [&] { return slot(file->pDev->host, &file->fh, offset, count, buf, &aside); });
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

template <typename OpenFile> int writtenOf(const NfsWriteResult &result, OpenFile *file, bool *pUnstable)
{
    const NfsWriteVerdict &verdict = result.verdict;
    if (result.written < 0 || !verdict.unstable)
        return result.written;
    const bool restarted =
        verdict.verfChanged ||
        (file->uncommitted != 0 && std::memcmp(file->writeVerf, verdict.verf, sizeof file->writeVerf) != 0);
    std::memcpy(file->writeVerf, verdict.verf, sizeof file->writeVerf);
    if constexpr (std::is_same_v<OpenFile, NfsOpenFile>) // version 3: the lock manager's restart sign
        nlmVerifierSeen(file->pDev, file->pDev->host, reinterpret_cast<const char *>(verdict.verf),
                        sizeof verdict.verf);
    file->uncommitted = restarted || file->uncommitted == kResend ? kResend : 1;
    if (pUnstable != nullptr)
        *pUnstable = true;
    return result.written;
}

} // namespace

Status fileView(void *file, int version, FileView *pView)
{
    return onRecord(
        file, version,
        [pView](auto *record, auto) -> Status {
            *pView = viewOf(record);
            return {};
        },
        [] { return Status{kUnusable}; });
}

void sizeCoversCached(void *file, int version)
{
    onRecord(
        file, version,
        [](auto *record, auto) {
            if (!hasLines(record->pCache))
                return;
            const CacheLock locked(record->pCache);
            if (!locked.held())
                return;
            sizeAtLeast(&record->attr, cachedEnd(viewOf(record)));
        },
        [] {});
}

void lossNote(void *owner, int version, int error)
{
    if (owner == nullptr)
        return;
    onRecord(
        owner, version,
        [error](auto *record, auto) {
            if (record->lostErrno == 0)
                record->lostErrno = error != 0 ? error : NFS_ERRNO_BASE | NFS3ERR_IO;
        },
        [] {});
}

// The slots (and the check that one is there) follow the C convention, -1 with the error number
// set: their outcome is taken as a value here, the task's error number left as it was.
Result<int> serverRead(void *file, int version, uint64_t offset, unsigned count, char *buf)
{
    return onRecord(
        file, version,
        [=](auto *record, auto v) -> Result<int> {
            return nfsres::viaErrno([&] {
                return nfsSlotPresent(v.readWord()) ? throughSlot(v.readWord(), record, offset, count, buf)
                                                    : -1;
            });
        },
        [] { return Result<int>{kUnusable}; });
}

Result<int> serverWrite(void *file, int version, uint64_t offset, unsigned count, const char *buf,
                        Caller caller, bool *pUnstable)
{
    return onRecord(
        file, version,
        [=](auto *record, auto v) -> Result<int> {
            return nfsres::viaErrno([&] {
                return nfsSlotPresent(v.writeWord())
                           ? writtenOf(throughSlot(v.writeWord(), record, offset, count, buf, caller), record,
                                       pUnstable)
                           : -1;
            });
        },
        [] { return Result<int>{kUnusable}; });
}

bool rangesServed(int version)
{
    return onRecord(
        nullptr, version,
        [](auto *, auto v) { return v.readRangesWord() != nullptr && v.writeRangesWord() != nullptr; },
        [] { return false; });
}

unsigned transferMost(int version)
{
    return onRecord(
        nullptr, version, [](auto *, auto v) { return std::min(decltype(v)::readMost(), decltype(v)::writeMost()); }, [] { return 0U; });
}

namespace {

// A write's verdict noted as serverWrite notes it; version 2 writes are stable.
template <typename OpenFile> void noteWritten(const NfsWriteResult &result, OpenFile *file, bool *pUnstable)
{
    if constexpr (!std::is_same_v<OpenFile, Nfs2OpenFile>)
        writtenOf(result, file, pUnstable);
}

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
void writeRangesThrough(Slot slot, OpenFile *file, NfsWriteRange *ranges, unsigned n, bool *unstable)
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
    onRecord(
        file, version,
        [=](auto *record, auto v) { readRangesThrough(v.readRangesWord(), record, ranges, n); }, [] {});
}

void serverWriteRanges(void *file, int version, NfsWriteRange *ranges, unsigned n, bool *unstable)
{
    onRecord(
        file, version,
        [=](auto *record, auto v) { writeRangesThrough(v.writeRangesWord(), record, ranges, n, unstable); },
        [] {});
}

bool aheadState(void *file, int version, AheadState *state)
{
    return onRecord(
        file, version,
        [state](auto *record, auto) {
            *state =
                AheadState{&record->nextFill, &record->behindLines, static_cast<uint64_t>(record->attr.size)};
            return true;
        },
        [] { return false; });
}

namespace {

template <typename P> Status commitThrough(typename P::File *file, writeverf3 verf, Caller caller)
{
    if (const auto present = nfsres::viaErrno([] { return nfsSlotPresent(P::commitWord()) ? 0 : -1; });
        !present.ok())
        return present.fail();
    fattr3 aside{};
    if (caller == Caller::owner)
        aside = file->attr;
    aside.fileid = file->attr.fileid;
    aside.fsid = file->attr.fsid;
    NFS_TRY(nfsres::viaErrno([&] {
        return unlockedCall(file,
                            [&] { return P::commitWord()(file->pDev->host, &file->fh, verf, &aside); });
    }));
    if (caller == Caller::owner && sameFile(aside, file->attr))
        attrTaken(file, aside, Reply::written);
    return {};
}

} // namespace

Status serverCommit(void *file, int version, writeverf3 verf, Caller caller)
{
    return onRecord(
        file, version,
        [=](auto *record, auto v) -> Status {
            if constexpr (decltype(v)::commits)
                return commitThrough<decltype(v)>(record, verf, caller);
            return Status{kUnusable};
        },
        [] { return Status{kUnusable}; });
}

} // namespace nfscache
