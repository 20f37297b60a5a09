// The cache's mutex, given up whole for a server call, and the claims on lines whose bytes travel
// meanwhile: the one wait a task may have on another's server call is for a line it needs.
#include "cache/nfsCacheFile.h"
#include "core/nfsCallSettings.h"

#include <brisnel/nfsConfigLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/sysLib.h>
#include <kernel/taskLib.h>

#include <rpc/rpc.h>

#include <climits>

namespace nfscache {
namespace {

uintptr_t self()
{
    return taskIdCurrent()->taskId;
}

// The call's time-out in ticks, at least one.
int timeoutTicks()
{
    const int64_t rate = sysClkRateGet();
    const NfsCallTime timeout = nfsCallTimeout();
    const int64_t ticks = int64_t{timeout.sec} * rate + int64_t{timeout.usec} * rate / 1000000;
    return ticks < 1 ? 1 : ticks > INT_MAX ? INT_MAX : static_cast<int>(ticks);
}

} // namespace

CacheLock::CacheLock(const NfsDataCache *cache)
    : cache_(cache), held_(semTake(cache->semId, K_WAIT_FOREVER) == 0)
{
    NfsCacheState *state = cache->pState;
    if (!held_ || state == nullptr)
        return;
    const uintptr_t me = self();
    if (state->holder != me) {
        state->holder = me;
        state->depth = 0;
    }
    ++state->depth;
}

CacheLock::~CacheLock()
{
    if (!held_)
        return;
    NfsCacheState *state = cache_->pState;
    if (state != nullptr && --state->depth == 0)
        state->holder = 0;
    semGive(cache_->semId);
}

Unlocked::Unlocked(const NfsDataCache *cache) : cache_(cache)
{
    NfsCacheState *state = cache->pState;
    if (state == nullptr || state->holder != self())
        return;
    depth_ = state->depth;
    state->depth = 0;
    state->holder = 0;
    for (int i = 0; i < depth_; ++i)
        semGive(cache->semId);
}

Unlocked::~Unlocked()
{
    if (depth_ == 0)
        return;
    for (int i = 0; i < depth_; ++i)
        semTake(cache_->semId, K_WAIT_FOREVER);
    cache_->pState->holder = self();
    cache_->pState->depth = depth_;
}

bool claimedByOther(const NfsDataCache *cache, const NfsCacheLine &line)
{
    const uintptr_t claimant = stateOf(cache, line).claimant;
    return claimant != 0 && claimant != self();
}

namespace {

// Failures naming a line: this base and the line's index.
constexpr int kContendedBase = 0x7e000000;
constexpr uint32_t kContendedMask = 0x00ffffff;

// This task holds the claim of a line after `line`.
bool holdsLater(const NfsDataCache *cache, const NfsCacheLine &line)
{
    const uintptr_t me = self();
    for (auto i = static_cast<uint32_t>(&line - cache->pLines) + 1; i < cache->nLines; ++i)
        if (cache->pState->lines[i].claimant == me)
            return true;
    return false;
}

} // namespace

Fail contended(const NfsDataCache *cache, const NfsCacheLine &line)
{
    return Fail{kContendedBase | static_cast<int>(&line - cache->pLines)};
}

bool isContended(const Status &status)
{
    return !status.ok() &&
           (static_cast<uint32_t>(status.error()) & ~kContendedMask) == static_cast<uint32_t>(kContendedBase);
}

const NfsCacheLine *contendedLine(const NfsDataCache *cache, const Status &status)
{
    const uint32_t index = static_cast<uint32_t>(status.error()) & kContendedMask;
    return isContended(status) && index < cache->nLines ? &cache->pLines[index] : nullptr;
}

bool backedOff(const NfsDataCache *cache, Status *status, int tries)
{
    const NfsCacheLine *line = contendedLine(cache, *status);
    if (line == nullptr)
        return false;
    if (tries + 1 >= kMostBackOffs) {
        *status = Fail{K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT};
        return false;
    }
    *status = lineFree(cache, *line);
    return status->ok();
}

Status lineFree(const NfsDataCache *cache, const NfsCacheLine &line, bool forever)
{
    NfsCacheLineState &state = stateOf(cache, line);
    while (claimedByOther(cache, line)) {
        if (holdsLater(cache, line))
            return contended(cache, line);
        bool passed = false;
        {
            const Unlocked away(cache);
            passed = semTake(state.semId, forever ? K_WAIT_FOREVER : timeoutTicks()) == 0;
            if (passed)
                semGive(state.semId);
        }
        if (!passed)
            return Fail{K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT};
    }
    return {};
}

LineClaim::LineClaim(NfsDataCache *cache, NfsCacheLine *line, Busy busy)
{
    NfsCacheLineState &state = stateOf(cache, *line);
    if (state.claimant == self())
        return; // held already, by an outer claim of this task
    status_ = lineFree(cache, *line);
    if (!status_.ok())
        return;
    // Free: only a waiter passing through holds the line's mutex, for a moment.
    if (semTake(state.semId, K_WAIT_FOREVER) != 0) {
        status_ = Fail{errnoGet()};
        return;
    }
    state.claimant = self();
    state.busy = busy;
    state_ = &state;
}

LineClaim::~LineClaim()
{
    if (state_ == nullptr)
        return;
    state_->claimant = 0;
    state_->busy = Busy::none;
    semGive(state_->semId);
}

void noteRead(const NfsDataCache *cache, const NfsCacheLine &line, uint32_t end)
{
    NfsCacheLineState &state = stateOf(cache, line);
    state.reader = self();
    state.readAt = ++cache->pState->reads;
    state.readTo = end;
}

bool readByOther(const FileView &view, const NfsCacheLine &line)
{
    // A task reading in step with three others reads every fourth time or so.
    constexpr uint64_t kRecentReads = 16;
    if (line.fileId == NFS_CACHE_NO_FILE || holdsFileOf(line, view))
        return false;
    const NfsCacheLineState &state = stateOf(view.cache, line);
    const bool recent = view.cache->pState->reads - state.readAt < kRecentReads || state.aheadGuard != 0;
    return state.reader != 0 && state.reader != self() && state.readTo < line.nBytes && recent;
}

} // namespace nfscache
