// Module-private parts of the file data cache.
//
// Locking: each cache's mutex (NfsDataCache.semId) protects its line records, their marks and
// the fields of open files that other tasks write (lostErrno, uncommitted, writeVerf,
// behindLines). It is taken after the open file's own mutex and is never held across a server
// call: a call gives it up whole (Unlocked) and takes it again for the answer. A line whose
// bytes travel meanwhile is claimed (LineClaim): it stays as it is, and a task that needs it
// waits for that line alone, on the line's own mutex (taken after the cache's, or without it).
// The cache's mutex is recursive: a seek's line write-back takes it again.
//
// The cache knows nothing of protocol versions except here: how to find an open file's cache
// and identifier, and which dispatch slots move its data.
#ifndef NFS_CORE_NFSCACHEFILE_H
#define NFS_CORE_NFSCACHEFILE_H

#include "core/nfsDispatch.h"
#include "core/nfsFileHandle.h"
#include "core/nfsResult.h"

#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsDrvLib.h>
#include <kernel/kernelTypes.h>
#include <kernel/semGuard.h>

#include <cstdint>
#include <cstring>
#include <optional>

namespace nfscache {
// What a claimed line's bytes are doing: coming from the server (nobody else may look at them),
// or going to it (others may read them, nobody may change them).
enum class Busy : uint8_t { none, filling, sending };
} // namespace nfscache

// What the cache keeps of a line besides its public record.
struct NfsCacheLineState {
    NfsFh fh;               // the handle of the file whose block the line holds, when it holds one
    SEM_ID semId = nullptr; // held by the task that claimed the line; waiters pass through it
    uintptr_t claimant = 0; // that task, 0 for none
    nfscache::Busy busy = nfscache::Busy::none;
    uint64_t sentAt = 0; // the cache's count of answered WRITEs when the line's last was answered
    // Read ahead and not read yet: another file's read-ahead passes the line over this many
    // more times before it may take it (a demand read takes it at once).
    uint8_t aheadGuard = 0;
    uintptr_t reader = 0; // the task that read the line last, 0 for none
    uint64_t readAt = 0;  // the cache's count of reads at that read
    uint32_t readTo = 0;  // where in the line that read ended
};

// The cache's own state: its lines', and who holds its mutex how often (so that a server call
// can give it up whole).
struct NfsCacheState {
    NfsCacheLineState *lines = nullptr;
    uintptr_t holder = 0;
    int depth = 0;
    uint64_t sends = 0; // answered WRITEs of lines: a COMMIT covers those answered before it went
    uint64_t reads = 0; // reads served from lines
};

namespace nfscache {

using nfsres::Fail;
using nfsres::Result;
using nfsres::Status;

// What the cache needs of an open file, whatever its version.
// Its lines are keyed by its handle; the file system and file id, both taken from the open's
// attributes, are a check (a server may give two files one id) and choose the line.
struct FileView {
    NfsDataCache *cache;
    uint64_t fileId;
    uint64_t fsId;
    const unsigned char *fh; // the record's handle, not copied: a hit compares it in place
    uint32_t fhLength;
};

// A failure for a version the cache does not serve.
Status fileView(void *file, int version, FileView *pView);
// Who makes a server call for an open file: its own task, which may update the file's
// attributes from the reply, or an eviction for another file, which leaves the record (read
// and updated by its owner under its own lock) as it is.
enum class Caller { owner, other };

// Through the version's read or write slot, with the file's device host, handle and
// attributes: the bytes moved, or the failure (NFS_ERRNO_NOTSUPP for an empty slot). A
// reply whose attributes name another file (file system or file id) is refused with K_EIO,
// and its attributes are not taken. A write that the server holds only in volatile storage is
// noted in the file for its COMMIT, and *pUnstable (when given) set. The caller holds the
// cache's mutex.
Result<int> serverRead(void *file, int version, uint64_t offset, unsigned count, char *buf);
Result<int> serverWrite(void *file, int version, uint64_t offset, unsigned count, const char *buf,
                        Caller caller = Caller::owner, bool *pUnstable = nullptr);

// Several ranges of a file through the version's ranges slots, as serverRead and serverWrite
// move one (the attributes taken from the replies only when they name the file; a version 3
// write's UNSTABLE verdict noted in the file, unstable[i] set). rangesServed() is false when
// the version or its slots do not serve them. The caller holds the cache's mutex.
bool rangesServed(int version);
// The largest piece one READ or WRITE of the version carries (its transfer size word); 0 for a
// version the cache does not serve.
unsigned transferMost(int version);
void serverReadRanges(void *file, int version, NfsReadRange *ranges, unsigned n);
void serverWriteRanges(void *file, int version, NfsWriteRange *ranges, unsigned n, bool *unstable);

// What read-ahead and write-behind keep in an open file of either version (nextFill and
// behindLines of its record) and the file's size as last seen; false for another version.
struct AheadState {
    uint64_t *nextFill;
    int *behindLines;
    uint64_t size;
};
bool aheadState(void *file, int version, AheadState *state);

// An open file's `uncommitted` when a reply showed a new write verifier: the server may have
// dropped what it held, and every pinned line of the file goes out again before the COMMIT.
constexpr int kResend = 2;

// COMMIT of the whole file through the version's commit slot (a version that commits), its
// verifier into verf. The reply's attributes reach the file as a write's do.
Status serverCommit(void *file, int version, writeverf3 verf, Caller caller);

// Tells the open file `owner` that its data was lost with `error` (a write-back that failed
// while its line went to another file, or a server that restarted before a COMMIT), so that
// its next sync and its close report the loss. The caller holds the cache's mutex.
void lossNote(void *owner, int version, int error);

// Writes a dirty line back through its owner. On failure the line stays dirty with its bytes,
// for a later write-back to send; bytes that went out UNSTABLE leave it pinned. The caller
// holds the cache's mutex.
// The bytes written (0 when another task sent the line while this one waited for it).
Result<int> lineWriteBack(NfsCacheLine *line, int version, Caller caller);

// Frees the lines `file` owns, whatever they hold, and those of the same file that nobody
// owns; lines of another open file of the same file stay, since they may hold its unsent
// bytes. Takes the cache's mutex.
void fileLinesDrop(void *file, int version);

// Makes what the open file sent UNSTABLE safe: a COMMIT, and when its verifier differs from
// the writes' (the server restarted), every pinned line of the file written again and
// committed again, three tries at most. 0 with the file's lines unpinned, or the error: the
// COMMIT's or a write's (the lines stay pinned, for a later try), or K_EIO after the tries (the
// loss is recorded in the file and its lines are dropped). The caller holds the cache's
// mutex, or owns the file on a device without lines.
Status commitFile(void *file, int version, Caller caller);
// The same as an error number, 0 for success, for the drivers.
int fileCommit(void *file, int version, Caller caller);

// Writes back the file's dirty lines through it and commits them, for a task that does not own
// the file (nfsSyncAll): 0 or the first error. The caller holds the cache's mutex.
Status fileSafe(void *file, int version);

// Every open file holding bytes of the file `fileId` writes its dirty lines back, so that the
// server's size is the file's; with drop, it also commits what went out UNSTABLE and the
// file's lines are dropped (before a size change: no cached byte outlives it or extends the
// file again later, and none the server may still lose is given up). 0, or -1 with the error
// number set when a write-back or COMMIT failed (its lines stay, dirty or pinned). Takes the
// cache's mutex.
int fileSettle(NfsDataCache *cache, uint64_t fileId, int version, bool drop);

// A record that took the server's attributes (an open, an attribute change) shows at least the
// end of the file's bytes that the cache holds unsent, whichever descriptor wrote them: the
// server's size does not count them yet. Takes the cache's mutex.
void sizeCoversCached(void *file, int version);

// Holds a cache's mutex for the scope; held() is false (error number set) when it could not
// be taken, for instance for a cache whose block was zeroed.
class CacheLock {
public:
    explicit CacheLock(const NfsDataCache *cache);
    CacheLock(const CacheLock &) = delete;
    CacheLock &operator=(const CacheLock &) = delete;
    ~CacheLock();
    bool held() const { return held_; }

private:
    const NfsDataCache *cache_;
    bool held_;
};

// Gives the cache's mutex up whole for the scope (a server call), when this task holds it.
class Unlocked {
public:
    explicit Unlocked(const NfsDataCache *cache);
    Unlocked(const Unlocked &) = delete;
    Unlocked &operator=(const Unlocked &) = delete;
    ~Unlocked();

private:
    const NfsDataCache *cache_;
    int depth_ = 0;
};

// A task's claim on a line whose bytes it moves to or from the server, for the scope, made
// with the cache's mutex held. A line another task holds is waited for first (in priority
// order, at most the call's time-out, the cache's mutex given up meanwhile): the caller looks
// at the line again after. A line this task holds already is held on at no cost. held() is
// false (status() the failure) when the wait timed out.
class LineClaim {
public:
    LineClaim(NfsDataCache *cache, NfsCacheLine *line, Busy busy);
    LineClaim(const LineClaim &) = delete;
    LineClaim &operator=(const LineClaim &) = delete;
    ~LineClaim();
    bool held() const { return status_.ok(); }
    const Status &status() const { return status_; }

private:
    NfsCacheLineState *state_ = nullptr; // null when nothing is to be released
    Status status_;
};

// The line is claimed by another task.
bool claimedByOther(const NfsDataCache *cache, const NfsCacheLine &line);

// A read served from the line up to `end` inside it (0: filled ahead, not read yet): noted for
// readByOther.
void noteRead(const NfsDataCache *cache, const NfsCacheLine &line, uint32_t end);
// Another task is reading the line's block of a file other than the viewed one: it read the
// line ahead and has not read it yet, or the line served that task one of the cache's last few
// reads and that read left bytes of it to read. Tasks reading their files side by side would
// otherwise take each other's current lines and ask the server for them again; a task alone
// never meets its own.
bool readByOther(const FileView &view, const NfsCacheLine &line);

// Waits, the cache's mutex given up, until no other task holds the line: a time-out failure at
// the call's time-out (forever: no time-out, for a record about to be freed,
// which the holder's calls, each bounded by its own, still use). The caller looks at the line
// again after.
// Claims are waited for in the order of the lines: a task that holds a line after this one
// does not wait, and fails at once with contended(line) instead. So no two tasks ever wait for
// each other (each holding a line the other needs, as two tasks sending again the pinned lines
// of one file after a server restart would); the task that gets contended gives up what it
// holds and tries again (backedOff), the other goes on.
Status lineFree(const NfsDataCache *cache, const NfsCacheLine &line, bool forever = false);

// The failure that names a line this task may not wait for, and the line a failure names (null
// for any other). It never leaves the cache: the task that holds the first claim catches it.
Fail contended(const NfsDataCache *cache, const NfsCacheLine &line);
const NfsCacheLine *contendedLine(const NfsDataCache *cache, const Status &status);
bool isContended(const Status &status);

// After a try that ended with *status, every claim of this task given up: whether to try
// again. Only after a contended failure, once this task has waited for the line it named (a
// wait that holds nothing); *status becomes the time-out after kMostBackOffs tries (other tasks
// kept taking the lines first), or the wait's failure.
constexpr int kMostBackOffs = 16;
bool backedOff(const NfsDataCache *cache, Status *status, int tries);

// A cache that has lines: false for one that was never allocated or has been freed.
inline bool hasLines(const NfsDataCache *cache)
{
    return cache->nLines != 0 && cache->pLines != nullptr;
}

// The line's own state, beside its record.
inline NfsCacheLineState &stateOf(const NfsDataCache *cache, const NfsCacheLine &line)
{
    return cache->pState->lines[&line - cache->pLines];
}

// The line holds a block of the viewed file: the same handle, file system and file id. All ones
// marks a free line, so a file that a server gives that id never finds its blocks here: it
// always goes to the server.
inline bool holdsFileOf(const NfsCacheLine &line, const FileView &view)
{
    const NfsFh &fh = stateOf(view.cache, line).fh;
    return view.fileId != NFS_CACHE_NO_FILE && line.fileId == view.fileId && line.fsId == view.fsId &&
           fh.length == view.fhLength &&
           (view.fhLength == 0 || std::memcmp(fh.bytes.data(), view.fh, view.fhLength) == 0);
}

// A WRITE of the line was answered: a COMMIT asked after this covers it.
inline void noteSent(const NfsDataCache *cache, const NfsCacheLine &line)
{
    stateOf(cache, line).sentAt = ++cache->pState->sends;
}

// The line now holds a block of the viewed file (its offset set by the caller).
inline void keyed(NfsCacheLine *line, const FileView &view)
{
    line->fileId = view.fileId;
    line->fsId = view.fsId;
    stateOf(view.cache, *line).fh = nfsFhOf(view.fh, view.fhLength);
}

// The line holds the block at `start` of the viewed file.
inline bool holds(const NfsCacheLine &line, const FileView &view, uint64_t start)
{
    return holdsFileOf(line, view) && line.offset == start;
}

// Where a request of n bytes at `offset` of an open file falls, with the cache's mutex held
// for the object's lifetime. ready() is false, with the failure in `failure`, for a file the
// cache cannot reach, a cache without lines, or a count that is negative or crosses a line
// boundary (22: the callers never cross one).
class LineAccess {
public:
    LineAccess(void *file, int version, uint64_t offset, int n);
    bool ready() const { return line != nullptr; }

    FileView view{};
    NfsCacheLine *line = nullptr; // the line the block maps to
    uint32_t inLine = 0;          // the offset's position inside the line
    uint64_t start = 0;           // the offset of the line's first byte
    Fail failure{0};              // why it is not ready (0: the mutex's take set the error number)

private:
    std::optional<CacheLock> lock_;
};

// Where a block may be read besides its own line (the line nfsWhichCacheLine gives): the line
// half the cache away, null in a cache of one line. A read takes it only when the block's own
// line serves another task's reading (readByOther), so that tasks whose blocks share lines do
// not take each other's current lines; a task alone never uses it. It only ever holds clean
// bytes: a write, or any change of the block, drops it first (altDropped). It is keyed
// before its fill, so that a task changing the block waits for that fill.
NfsCacheLine *alternateLine(const NfsDataCache *cache, const NfsCacheLine &own);
// The block at `start` of the viewed file no longer held in the alternate of its own line
// `own`, waiting for a fill of it there. The caller holds the cache's mutex and no claim.
Status altDropped(const FileView &view, const NfsCacheLine &own, uint64_t start);

// Writes a dirty line back through its owner before the line is reused for `file`, and commits
// the owner's file first when the line is pinned. A failure when that failed on `file`'s own line,
// which then keeps its bytes, still dirty or pinned; so does another file's line that the server
// left unanswered. Another file's line that the server refused is noted in that file (lossNote)
// and reused.
Status evict(NfsCacheLine *line, void *file, int version);

// A line whose bytes stopped counting holds no block any more, and has no owner: a later
// partial write into the block it held must fill it from the server, not build on what is
// left in its buffer (another file's unsent bytes recorded lost, bytes from a read that failed
// part-way, a copy of a block that was written).
void forget(NfsCacheLine *line);

// Fills the line with lineSize bytes at `start` from the server, zeroing what follows the
// bytes received. On failure the line holds nothing (nBytes 0).
Status fill(NfsCacheLine *line, uint32_t lineSize, void *file, int version, uint64_t start);

// The same for a read miss: when the file is read sequentially (this fill starts where its
// last one ended), the next lines go in the same calls (read-ahead, see nfsCacheAhead.cpp).
Status fillReading(NfsCacheLine *line, void *file, int version, const FileView &view, uint64_t start);

// A line of the file that writes just filled (write-back mode): written back now, or, when
// the file is written sequentially, kept to go out with the next full line (write-behind).
// A failure when a write-back failed (its line stays dirty).
Status fullLineOut(NfsCacheLine *line, void *file, int version, const FileView &view);

// The lines of the file waiting to go out behind, sent together: the first failure (the lines
// that failed stay dirty). Nothing when a write at `start` continues them
// (continuing: true) or the file has none. The caller holds the cache's mutex.
Status behindOut(void *file, int version, uint64_t start = 0, bool continuing = false);

} // namespace nfscache

#endif
