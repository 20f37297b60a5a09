// Reading file data through the cache: a hit copies from the line, a miss fills the line from
// the server first (with the lines after it, when the file is read sequentially).
#include "core/nfsArgs.h"
#include "cache/nfsCacheFile.h"

#include <kernel/kernelErrno.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace {

using nfscache::Result;

// The line made to hold the block read, and the bytes copied from it. A contended failure when
// the line's eviction needed a line this task may not wait for: nothing was read yet.
Result<int> lineReadOnce(void *file, const nfscache::LineAccess &at, char *buf, int n, int version)
{
    NfsCacheLine *line = at.line;
    NfsDataCache *cache = at.view.cache;
    const auto hit = [&] {
        return nfscache::holds(*line, at.view, at.start) &&
               line->nBytes >= at.inLine + static_cast<uint32_t>(n);
    };
    // A line another task fills is waited for; one it sends may be read meanwhile.
    while (nfscache::claimedByOther(cache, *line) &&
           !(nfscache::stateOf(cache, *line).busy == nfscache::Busy::sending && hit()))
        NFS_TRY(nfscache::lineFree(cache, *line));
    std::optional<nfscache::LineClaim> claim;
    if (!hit()) {
        claim.emplace(cache, line, nfscache::Busy::filling);
        NFS_TRY(claim->status());
        NFS_TRY(nfscache::evict(line, file, version));
        NFS_TRY(nfscache::fillReading(line, file, version, at.view, at.start));
        nfscache::keyed(line, at.view);
        line->offset = at.start;
        line->pOwner = file;
    }
    if (line->nBytes < at.inLine)
        return nfsres::Fail{0}; // past the end of the file's data
    nfscache::stateOf(cache, *line).aheadGuard = 0; // read: free for any file's read-ahead
    const uint32_t result = std::min(line->nBytes - at.inLine, static_cast<uint32_t>(n));
    std::memcpy(buf, line->pData + at.inLine, result);
    return static_cast<int>(result);
}

Result<int> lineRead(void *file, uint64_t offset, char *buf, int n, int version)
{
    const nfscache::LineAccess at(file, version, offset, n);
    if (!at.ready())
        return at.failure;
    // Lines waiting to go out behind go now; one that fails stays dirty for its write-back
    // (eviction, sync, close), which reports it.
    static_cast<void>(nfscache::behindOut(file, version));
    for (int tries = 0;; ++tries) {
        const Result<int> read = lineReadOnce(file, at, buf, n, version);
        nfscache::Status outcome = nfsres::statusOf(read);
        if (!nfscache::backedOff(at.view.cache, &outcome, tries))
            return outcome.ok() ? read : Result<int>{outcome.fail()};
    }
}

} // namespace

extern "C" int nfsCacheLineRead(void *file, uint64_t offset, char *buf, int n, int version)
{
    if (!nfsArgsGiven(file, buf))
        return -1;
    return nfsres::entry(lineRead(file, offset, buf, n, version));
}
