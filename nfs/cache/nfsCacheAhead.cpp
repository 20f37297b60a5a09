// Read-ahead and write-behind: the lines after a sequential read's line filled in the same calls,
// and full lines of a sequential write sent together, up to the window of calls in flight.
//
// Both send their calls with the current line's and take every answer before the cache call
// returns, on the calling task's own handle: no call is ever left in flight between two calls
// of a task, so nothing pending belongs to a task that another task would have to wait for or
// collect, and nothing is left to release at close, unmount or task exit. A line waiting to
// go out behind is an ordinary dirty line (NFS_CACHE_BEHIND besides NFS_CACHE_DIRTY): another
// task that needs it writes it back as any dirty line, claiming it for the call.
#include "cache/nfsCacheFile.h"

#include "core/nfsMountVersion.h"
#include "rpc/nfsRemoteCall.h"

#include <kernel/kernelErrno.h>

#include <algorithm>
#include <cstring>
#include <optional>

namespace nfscache {
namespace {

// READs or WRITEs one line needs with the version's transfer size; 0 when it allows none.
uint32_t piecesPerLine(uint32_t lineSize, int version)
{
    const uint32_t most = transferMost(version);
    return most == 0 ? 0 : (lineSize + most - 1) / most;
}

// How many lines one set of calls may carry: as many whole lines' calls as the window holds.
uint32_t linesPerWindow(const NfsDataCache *cache, int version)
{
    const uint32_t pieces = piecesPerLine(cache->lineSize, version);
    if (pieces == 0)
        return 1;
    const auto lines = static_cast<uint32_t>(nfsrpc::windowCalls() / pieces);
    return std::clamp<uint32_t>(lines, 1, std::min<uint32_t>(cache->nLines, kMostRanges));
}

NfsCacheLine *lineFor(NfsDataCache *cache, const FileView &view, uint64_t start)
{
    return &cache->pLines[nfsWhichCacheLine(cache, view.fileId, start)];
}

// How often another file's read-ahead passes over a line read ahead and not read yet. Files read
// side by side would otherwise take each other's lines read ahead before they are read, and ask
// the server for them again; a file that stops reading frees its lines after a few passes.
constexpr uint8_t kAheadGuard = 4;

// The lines after `start` worth reading ahead into lines[1..]: blocks that the file fills
// whole by its size as last seen, into lines that hold nothing unsent (a dirty or pinned line is
// left alone), nor another block read ahead and not read yet or that another task is reading;
// a block already held whole is passed over. Moves the file's sequential mark past them. The
// number of ranges, the current line's included.
unsigned aheadRanges(const AheadState &file, const FileView &view, int version, uint64_t start,
                     NfsCacheLine **lines, NfsReadRange *ranges)
{
    NfsDataCache *cache = view.cache;
    const uint32_t size = cache->lineSize;
    const uint32_t most = linesPerWindow(cache, version);
    unsigned n = 1;
    for (uint32_t k = 1; n < most && k < cache->nLines; ++k) {
        const uint64_t next = start + static_cast<uint64_t>(k) * size;
        if (next < start || next > file.size || file.size - next < size)
            break; // a line the file does not fill would be asked for again when read
        NfsCacheLine *ahead = lineFor(cache, view, next);
        const NfsCacheLine *alt = alternateLine(cache, *ahead);
        if ((holds(*ahead, view, next) && ahead->nBytes == size) ||
            (alt != nullptr && holds(*alt, view, next) && alt->nBytes == size)) {
            *file.nextFill = next + size;
            continue;
        }
        if (ahead->flags != 0 || ahead == lines[0] || claimedByOther(cache, *ahead))
            break;
        if (uint8_t &guard = stateOf(cache, *ahead).aheadGuard; guard != 0 && ahead->nBytes != 0 &&
                                                                 ahead->fileId != NFS_CACHE_NO_FILE) {
            --guard;
            break;
        }
        if (readByOther(view, *ahead))
            break;
        lines[n] = ahead;
        ranges[n] = NfsReadRange{next, size, ahead->pData, -1, 0};
        ++n;
        *file.nextFill = next + size;
    }
    return n;
}

// The line now holds what a fill at `start` brought.
void filled(NfsCacheLine *line, uint32_t size, void *file, const FileView &view, uint64_t start, uint32_t got)
{
    std::memset(line->pData + got, 0, size - got);
    line->nBytes = got;
    keyed(line, view);
    line->offset = start;
    line->pOwner = file;
    line->flags = 0;
}

// The outcome of one written line: clean (pinned when the server holds it in volatile storage
// only), or dirty again for a later write-back.
void written(NfsCacheLine *line, const NfsWriteRange &range, bool unstable)
{
    if (range.result.written < 0) {
        line->flags = NFS_CACHE_DIRTY;
        return;
    }
    line->flags = unstable ? NFS_CACHE_PINNED : 0;
}

// Sends the lines in block order, together while the window is open: the first failure.
Status linesOut(void *file, int version, NfsCacheLine **lines, unsigned n)
{
    std::sort(lines, lines + n,
              [](const NfsCacheLine *a, const NfsCacheLine *b) { return a->offset < b->offset; });
    FileView view{};
    NFS_TRY(fileView(file, version, &view));
    std::optional<LineClaim> claims[kMostRanges];
    for (unsigned i = 0; i < n; ++i)
        claims[i].emplace(view.cache, lines[i], Busy::sending); // free or this task's: no wait
    if (!nfsrpc::windowOpen()) {
        Status first;
        for (unsigned i = 0; i < n; ++i) {
            const Result<int> sent = lineWriteBack(lines[i], version, Caller::owner);
            if (!sent.ok() && first.ok())
                first = Fail{sent.error() != 0 ? sent.error() : K_EIO};
            lines[i]->flags &= ~static_cast<uint32_t>(NFS_CACHE_BEHIND);
        }
        return first;
    }
    NfsWriteRange ranges[kMostRanges] = {};
    for (unsigned i = 0; i < n; ++i)
        ranges[i] = NfsWriteRange{.offset = lines[i]->offset,
                                  .buf = lines[i]->pData,
                                  .count = lines[i]->nBytes,
                                  .error = 0,
                                  .result = {-1, {}}};
    bool unstable[kMostRanges] = {};
    serverWriteRanges(file, version, ranges, n, unstable);
    Status first;
    for (unsigned i = 0; i < n; ++i) {
        written(lines[i], ranges[i], unstable[i]);
        if (ranges[i].result.written >= 0)
            noteSent(view.cache, *lines[i]);
        else if (first.ok())
            first = Fail{ranges[i].error != 0 ? ranges[i].error : K_EIO};
    }
    return first;
}

// The lines of the file waiting to go out behind, `but` aside, into lines (at most `room`):
// their count.
unsigned behindLines(const FileView &view, void *file, NfsCacheLine **lines, unsigned room,
                     const NfsCacheLine *but = nullptr)
{
    NfsDataCache *cache = view.cache;
    unsigned n = 0;
    for (uint32_t i = 0; i < cache->nLines && n < room; ++i) {
        NfsCacheLine &line = cache->pLines[i];
        if (&line != but && line.pOwner == file && (line.flags & NFS_CACHE_BEHIND) != 0 &&
            !claimedByOther(cache, line))
            lines[n++] = &line;
    }
    return n;
}

} // namespace

// A fill is sequential when it starts where the file's last fill ended: then the lines after it
// go in the same calls, as many whole lines as the window of calls holds beside the current
// one (none when the current line alone fills it), never past the file's size as last seen.
// A read-ahead line is an ordinary clean line of the file; a READ of it that fails leaves it
// holding nothing and is reported to no one. The current line's READs go first and so reach
// their deadline first: a read-ahead READ never fails the current line by timing out.
Status fillReading(NfsCacheLine *line, void *file, int version, const FileView &view, uint64_t start)
{
    NfsDataCache *cache = view.cache;
    const uint32_t size = cache->lineSize;
    AheadState state{};
    if (!rangesServed(version) || !nfsrpc::windowOpen() || !aheadState(file, version, &state))
        return fill(line, size, file, version, start);
    const bool sequential = *state.nextFill != 0 && *state.nextFill == start;
    *state.nextFill = start + size;
    NfsCacheLine *lines[kMostRanges] = {line};
    NfsReadRange ranges[kMostRanges] = {{start, size, line->pData, -1, 0}};
    const unsigned n = sequential ? aheadRanges(state, view, version, start, lines, ranges) : 1;
    if (n == 1)
        return fill(line, size, file, version, start);
    std::optional<LineClaim> claims[kMostRanges];
    for (unsigned i = 1; i < n; ++i) {
        claims[i].emplace(cache, lines[i], Busy::filling); // free: no wait
        forget(lines[i]); // their old blocks are overwritten whatever comes back
    }
    serverReadRanges(file, version, ranges, n);
    for (unsigned i = 1; i < n; ++i) {
        const int got = ranges[i].received;
        if (got > 0 && static_cast<uint32_t>(got) <= size) {
            filled(lines[i], size, file, view, ranges[i].offset, static_cast<uint32_t>(got));
            stateOf(cache, *lines[i]).aheadGuard = kAheadGuard;
            noteRead(cache, *lines[i], 0); // this task's, as its reads are
        }
    }
    const int got = ranges[0].received;
    if (got < 0 || static_cast<uint32_t>(got) > size) {
        line->nBytes = 0;
        line->fileId = NFS_CACHE_NO_FILE;
        return Fail{ranges[0].error != 0 ? ranges[0].error : K_EIO};
    }
    std::memset(line->pData + got, 0, size - static_cast<uint32_t>(got));
    line->nBytes = static_cast<uint32_t>(got);
    return {};
}

// A full line is written sequentially when the file's line before it is full too. Then it waits
// (NFS_CACHE_BEHIND) while the lines waiting with it still leave the window room for the next
// one, and else goes out with them in one set of calls: the same WRITEs as one line at a time,
// overlapped. Its failure (or a short write) keeps the failing lines dirty and fails this write,
// as a failed write-back of a full line does.
Status fullLineOut(NfsCacheLine *line, void *file, int version, const FileView &view)
{
    NfsDataCache *cache = view.cache;
    const uint32_t size = cache->lineSize;
    const uint32_t most = linesPerWindow(cache, version);
    AheadState state{};
    const bool served =
        rangesServed(version) && nfsrpc::windowOpen() && most > 1 && aheadState(file, version, &state);
    const NfsCacheLine *before = line->offset >= size ? lineFor(cache, view, line->offset - size) : nullptr;
    const bool sequential = before != nullptr && before != line && before->pOwner == file &&
                            holds(*before, view, line->offset - size) && before->nBytes == size;
    if (!served || !sequential) {
        const Status behind = served ? behindOut(file, version) : Status{};
        NFS_TRY(lineWriteBack(line, version, Caller::owner));
        return behind;
    }
    NfsCacheLine *lines[kMostRanges] = {};
    unsigned n = behindLines(view, file, lines, most - 1, line); // a full line written again waits once
    if (n + 1 < most) {
        line->flags |= NFS_CACHE_BEHIND;
        *state.behindLines = static_cast<int>(n + 1);
        return {};
    }
    lines[n++] = line;
    const Status sent = linesOut(file, version, lines, n);
    // Lines that waited under a wider window than the one now open stay counted, so that the
    // file's next other call still sends them.
    NfsCacheLine *left[kMostRanges] = {};
    *state.behindLines = static_cast<int>(behindLines(view, file, left, kMostRanges));
    return sent;
}

Status behindOut(void *file, int version, uint64_t start, bool continuing)
{
    AheadState state{};
    FileView view{};
    if (!aheadState(file, version, &state) || *state.behindLines == 0 ||
        !fileView(file, version, &view).ok() || !hasLines(view.cache))
        return {};
    NfsDataCache *cache = view.cache;
    if (continuing && start >= cache->lineSize) {
        const NfsCacheLine *before = lineFor(cache, view, start - cache->lineSize);
        if (before->pOwner == file && (before->flags & NFS_CACHE_BEHIND) != 0 &&
            holds(*before, view, start - cache->lineSize))
            return {};
    }
    NfsCacheLine *lines[kMostRanges] = {};
    const unsigned n = behindLines(view, file, lines, kMostRanges);
    *state.behindLines = 0;
    return n == 0 ? Status{} : linesOut(file, version, lines, n);
}

} // namespace nfscache
