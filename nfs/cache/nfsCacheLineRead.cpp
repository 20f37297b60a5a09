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

// The line a read of the block at `at` takes: its own, unless the alternate holds the block, or
// the own line holds another file's block that another task is reading while the alternate
// holds nothing unsent and nothing another task is reading.
NfsCacheLine *readLine(const nfscache::LineAccess &at)
{
    NfsDataCache *cache = at.view.cache;
    NfsCacheLine *own = at.line;
    NfsCacheLine *alt = nfscache::alternateLine(cache, *own);
    if (alt == nullptr || nfscache::holds(*own, at.view, at.start))
        return own;
    if (nfscache::holds(*alt, at.view, at.start))
        return alt;
    const auto idle = [&](const NfsCacheLine &line) {
        return line.flags == 0 && !nfscache::claimedByOther(cache, line);
    };
    const bool ownTaken = idle(*own) && nfscache::readByOther(at.view, *own);
    return ownTaken && idle(*alt) && !nfscache::readByOther(at.view, *alt) ? alt : own;
}

// The line made to hold the block read, and the bytes copied from it. A contended failure when
// the line's eviction needed a line this task may not wait for: nothing was read yet.
Result<int> lineReadOnce(void *file, const nfscache::LineAccess &at, char *buf, int n, int version)
{
    NfsCacheLine *line = readLine(at);
    NfsDataCache *cache = at.view.cache;
    const auto hit = [&] {
        return nfscache::holds(*line, at.view, at.start) &&
               line->nBytes >= at.inLine + static_cast<uint32_t>(n);
    };
    // A line another task fills is waited for; one it sends may be read meanwhile. What the
    // line then holds decides again which line the read takes.
    while (nfscache::claimedByOther(cache, *line) &&
           !(nfscache::stateOf(cache, *line).busy == nfscache::Busy::sending && hit())) {
        NFS_TRY(nfscache::lineFree(cache, *line));
        line = readLine(at);
    }
    std::optional<nfscache::LineClaim> claim;
    if (!hit()) {
        claim.emplace(cache, line, nfscache::Busy::filling);
        NFS_TRY(claim->status());
        NFS_TRY(nfscache::evict(line, file, version));
        // Keyed before the fill, which leaves it holding nothing on failure: a write of the
        // block into its own line waits for a fill of the alternate before dropping it.
        line->nBytes = 0;
        nfscache::keyed(line, at.view);
        line->offset = at.start;
        line->pOwner = file;
        NFS_TRY(nfscache::fillReading(line, file, version, at.view, at.start));
    }
    if (line->nBytes < at.inLine)
        return nfsres::Fail{0}; // past the end of the file's data
    const uint32_t result = std::min(line->nBytes - at.inLine, static_cast<uint32_t>(n));
    // Read: free for any file's read-ahead, unless its reader goes on (readByOther).
    nfscache::stateOf(cache, *line).aheadGuard = 0;
    nfscache::noteRead(cache, *line, at.inLine + result);
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
