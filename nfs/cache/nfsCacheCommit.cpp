// Making data safe that the server holds in volatile storage only: the lines that went out
// UNSTABLE stay pinned, their bytes kept, until a COMMIT with the writes' verifier covers them;
// a changed verifier sends them again. Also the write-back and COMMIT of every open file at
// exit (nfsSyncAll).
#include "cache/nfsCacheFile.h"

#include "cache/nfsCacheVersions.h"
#include "core/nfsCallSettings.h"

#include "core/nfsConfig.h"
#include "core/nfsDeviceRemoval.h"
#include "core/nfsMountVersion.h"
#include "lock/nlmRestart.h"

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace nfscache {
namespace {

// A failure with an error number: its own, or fallback for one that has none.
Fail failureOr(const Status &status, int fallback)
{
    return Fail{status.error() != 0 ? status.error() : fallback};
}

// COMMITs of one file before its data counts as lost to a server that keeps restarting.
constexpr int kCommitTries = 3;

bool pinnedOf(const NfsCacheLine &line, const void *file)
{
    return line.pOwner == file && (line.flags & NFS_CACHE_PINNED) != 0;
}

// Every pinned line of the file written again; their replies set the file's verifier anew.
// The first failure leaves the file marked for another resend.
template <typename P> Status resend(typename P::File *file, Caller caller)
{
    NfsDataCache *cache = file->pCache;
    file->uncommitted = 0;
    for (uint32_t i = 0; i < cache->nLines; ++i) {
        NfsCacheLine &line = cache->pLines[i];
        // Also a line invalidated since: its bytes are still what the file was told it wrote.
        if (!pinnedOf(line, file))
            continue;
        const Result<int> sent = lineWriteBack(&line, P::version, caller);
        if (!sent.ok()) {
            file->uncommitted = kResend;
            if (line.pOwner == file)
                line.flags |= NFS_CACHE_PINNED;
            return failureOr(nfsres::statusOf(sent), K_EIO);
        }
    }
    return {};
}

// The file's pinned lines: unpinned once safe (those whose WRITE was answered by `covered`, the
// cache's count when the COMMIT went: one sent since stays pinned for the next), or dropped
// once their data counts as lost. Whether any stays pinned.
template <typename File> bool release(File *file, bool drop, uint64_t covered = UINT64_MAX)
{
    NfsDataCache *cache = file->pCache;
    bool left = false;
    for (uint32_t i = 0; i < cache->nLines; ++i) {
        NfsCacheLine &line = cache->pLines[i];
        if (!pinnedOf(line, file))
            continue;
        if (!drop && stateOf(cache, line).sentAt > covered) {
            left = true;
            continue;
        }
        line.flags &= ~static_cast<uint32_t>(NFS_CACHE_PINNED);
        if (drop) {
            line.fileId = NFS_CACHE_NO_FILE;
            line.nBytes = 0;
            line.flags = 0;
        }
    }
    return left;
}

// For another task's COMMIT through the file's record: a line of the file claimed, so that the
// file's close waits for the call. A line this task holds already, else the first that no other
// task holds (the lines of the file that the COMMIT may send again lie after it, and claims are
// waited for in the order of the lines), else the first. Null when the file has no line
// (nothing pinned either).
NfsCacheLine *ownedLine(NfsDataCache *cache, const void *file)
{
    NfsCacheLine *found = nullptr;
    for (uint32_t i = 0; i < cache->nLines; ++i) {
        NfsCacheLine &line = cache->pLines[i];
        if (line.pOwner != file)
            continue;
        if (stateOf(cache, line).claimant != 0 && !claimedByOther(cache, line))
            return &line;
        if (found == nullptr || (claimedByOther(cache, *found) && !claimedByOther(cache, line)))
            found = &line;
    }
    return found;
}

// The COMMIT of a version whose writes may go out UNSTABLE (P::commits).
template <typename P> Status commitOf(typename P::File *file, Caller caller)
{
    std::optional<LineClaim> keep;
    NfsCacheLine *held = caller == Caller::other ? ownedLine(file->pCache, file) : nullptr;
    if (held != nullptr) {
        keep.emplace(file->pCache, held, Busy::sending);
        if (!keep->held())
            return failureOr(keep->status(), K_EIO);
        if (held->pOwner != file)
            return {}; // the file closed while this task waited: its close made it safe
    }
    for (int attempt = 0; attempt < kCommitTries; ++attempt) {
        if (file->uncommitted == kResend)
            NFS_TRY(resend<P>(file, caller));
        if (file->uncommitted == 0) {
            release(file, false);
            return {};
        }
        const uint64_t covered = hasLines(file->pCache) ? file->pCache->pState->sends : UINT64_MAX;
        writeverf3 verf{};
        // A failure leaves the lines pinned: a later sync or close asks again.
        if (const Status committed = serverCommit(file, P::version, verf, caller); !committed.ok())
            return failureOr(committed, K_EIO);
        if constexpr (P::version == 3) // the lock manager's restart sign
            nlmVerifierSeen(file->pDev, file->pDev->host, reinterpret_cast<const char *>(verf), sizeof verf);
        if (file->uncommitted == 1 && std::memcmp(verf, file->writeVerf, sizeof verf) == 0) {
            file->uncommitted = hasLines(file->pCache) && release(file, false, covered) ? 1 : 0;
            return {};
        }
        file->uncommitted = kResend; // the server restarted since the writes
    }
    // A server that restarts at every COMMIT: the data cannot be made safe. The loss fails
    // every later sync and the close, and the cached bytes no longer count for reading.
    file->uncommitted = 0;
    std::printf("nfs: server %.*s restarted at each of %d COMMITs: unstable data of \"%.*s\" lost\n",
                NFS_HOST_NAME_LEN, file->pDev->host, kCommitTries, NFS_MAX_PATH, file->name);
    lossNote(file, P::version, K_EIO);
    release(file, true);
    return Fail{K_EIO};
}

} // namespace

Status commitFile(void *file, int version, Caller caller)
{
    // A version whose writes are all stable never pins a line.
    return onRecord(
        file, version,
        [caller](auto *record, auto v) -> Status {
            if constexpr (decltype(v)::commits)
                return commitOf<decltype(v)>(record, caller);
            return {};
        },
        [] { return Status{}; });
}

int fileCommit(void *file, int version, Caller caller)
{
    return commitFile(file, version, caller).error();
}

Status fileSafe(void *file, int version)
{
    FileView view{};
    NFS_TRY(fileView(file, version, &view));
    NfsDataCache *cache = view.cache;
    for (uint32_t i = 0; i < cache->nLines; ++i) {
        NfsCacheLine &line = cache->pLines[i];
        if (line.pOwner != file || (line.flags & NFS_CACHE_DIRTY) == 0 || line.nBytes == 0)
            continue;
        // A line that fails stays dirty for its owner's own write-back.
        if (const Result<int> sent = lineWriteBack(&line, version, Caller::other); !sent.ok())
            return failureOr(nfsres::statusOf(sent), K_EIO);
    }
    // A file that closed meanwhile (here or while this task waited for a line) made itself
    // safe, and its record is gone.
    for (int tries = 0;; ++tries) {
        if (ownedLine(cache, file) == nullptr)
            return {};
        Status committed = commitFile(file, version, Caller::other);
        if (!backedOff(cache, &committed, tries))
            return committed;
    }
}

} // namespace nfscache

namespace {

// The cache of an NFS device and its version; null for another driver's device.
NfsDataCache *cacheOf(DEV_HDR *dev, int *pVersion)
{
    return nfscache::onDevice(
        dev,
        [pVersion](auto *device, auto v) {
            *pVersion = decltype(v)::version;
            return &device->cache;
        },
        [] { return static_cast<NfsDataCache *>(nullptr); });
}

// The options of an NFS device (cacheOf said it is one), for the calls made on its behalf.
const NfsMountOptions *optionsOf(DEV_HDR *dev)
{
    return nfscache::onDevice(
        dev, [](auto *device, auto) -> const NfsMountOptions * { return &device->options; },
        [] { return static_cast<const NfsMountOptions *>(nullptr); });
}

// Every open file with data in the cache (a dirty or pinned line) written back and committed,
// under the cache's mutex as an eviction does, since the files belong to other tasks. The
// first failure.
nfscache::Status cacheSafe(NfsDataCache *cache, int version)
{
    if (!nfscache::hasLines(cache))
        return {};
    const nfscache::CacheLock lock(cache);
    if (!lock.held())
        return nfscache::Fail{0}; // semTake set the error number
    std::vector<void *> done;
    nfscache::Status first;
    for (uint32_t i = 0; i < cache->nLines; ++i) {
        void *owner = cache->pLines[i].pOwner;
        if (owner == nullptr || cache->pLines[i].flags == 0 ||
            std::find(done.begin(), done.end(), owner) != done.end())
            continue;
        done.push_back(owner);
        const nfscache::Status safe = nfscache::fileSafe(owner, version);
        if (first.ok())
            first = safe;
    }
    return first;
}

} // namespace

extern "C" int nfsSyncAll(void)
{
    // No removal frees a device (and its cache) under the walk.
    const NfsDeviceRemovalLock serialised;
    if (!serialised.held())
        return -1;
    nfscache::Status first;
    for (DEV_HDR *dev = iosNextDevGet(nullptr); dev != nullptr; dev = iosNextDevGet(dev)) {
        int version = 0;
        NfsDataCache *cache = cacheOf(dev, &version);
        if (cache == nullptr)
            continue;
        const NfsCallScope scope(optionsOf(dev));
        const nfscache::Status safe = cacheSafe(cache, version);
        if (first.ok())
            first = safe;
    }
    return nfsres::entry(first);
}
