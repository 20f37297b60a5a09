// The lock manager's calls (nlmCall.h).
#include "lock/nlmCall.h"

#include "lock/nlmHeld.h"
#include "lock/nlmOwner.h"
#include "lock/nlmReclaim.h"
#include "lock/nlmRestart.h"
#include "lock/nlmXdr.h"
#include "rpc/nfsRemoteCall.h"

#include <brisnel/nfsErrors.h>
#include <kernel/kernelErrno.h>

#include <rpc/clnt_stat.h>

#include <atomic>
#include <limits>

namespace {

using nfsres::Fail;
using nfsres::Result;

constexpr int kNfsStale = NFS_ERRNO_BASE | 70; // NFS3ERR_STALE

// The cookie of each call: the server hands it back; it only has to differ between calls.
struct Cookie {
    Cookie() : value(next.fetch_add(1)) {}
    NlmObject object() { return NlmObject{sizeof value, reinterpret_cast<char *>(&value)}; }
    uint32_t value;
    static inline std::atomic<uint32_t> next{1};
};

// A lock record over the target and range; it points into owner and the target's buffers.
NlmLock lockOf(const NlmTarget &target, const NlmOwner &owner, const NlmRange &range)
{
    return NlmLock{
        const_cast<char *>(nlmCallerName().c_str()),
        NlmObject{target.fhLength, const_cast<char *>(target.fh)},
        NlmObject{static_cast<u_int>(owner.handle.size()), const_cast<char *>(owner.handle.data())},
        owner.svid,
        range.start,
        range.length};
}

// Version 1 carries 32-bit offsets: a range reaching past 4 GiB cannot be named there.
bool fits(const NlmTarget &target, const NlmRange &range)
{
    constexpr uint64_t kNarrowEnd = uint64_t{1} << 32;
    return target.version != NLM_V1 || (range.start < kNarrowEnd && range.length <= kNarrowEnd - range.start);
}

nfsrpc::Peer peerOf(const NlmTarget &target)
{
    return nfsrpc::Peer{target.host, NLM_PROGRAM, target.version};
}

// A server without the lock manager (the program or its version unknown there) has no locks
// to give: K_ENOLCK, as a refusal for want of room; other failures stay the call's.
int callError(int error)
{
    switch (error) {
    case K_RPC_CLNT_ERRNO_BASE | RPC_PROGUNAVAIL:
    case K_RPC_CLNT_ERRNO_BASE | RPC_PROGVERSMISMATCH:
    case K_RPC_CLNT_ERRNO_BASE | RPC_PROGNOTREGISTERED: return K_ENOLCK;
    default: return error;
    }
}

// The call, after any reclaim a restart of the server left due; asked again while the
// server is in its grace period and the time-out allows. The first grace answer while this
// client holds locks there is a restart: the reclaims go first, then the call again.
template <typename Args, typename Res, typename Read>
Result<Read> graced(const NlmTarget &target, uint32_t proc, nfsrpc::Coder<Args> encoder, const Args &args,
                    nfsrpc::Coder<Res> decoder, const Res &initial, Read (*read)(const Res &))
{
    if (const int waited = nlmReclaimIfDue(target.host); waited != 0)
        return Fail{waited};
    nfsrpc::RetryPacing pacing;
    bool restartTold = false;
    for (;;) {
        const nfsrpc::Reply<Res> reply(peerOf(target), proc, encoder, args, decoder, initial);
        if (!reply.ok())
            return Fail{callError(reply.error())};
        if (reply->stat != NLM4_DENIED_GRACE_PERIOD) {
            nlmGraceOver(target.host);
            return read(*reply);
        }
        if (!restartTold && nlmHeldAnyOn(target.host)) {
            restartTold = true;
            nlmGraceAnswered(target.host);
            if (const int waited = nlmReclaimIfDue(target.host); waited != 0)
                return Fail{waited};
            continue;
        }
        if (!pacing.pause())
            return read(*reply);
    }
}

uint32_t statOf(const NlmRes &res)
{
    return res.stat;
}

NlmConflict conflictOf(const NlmTestRes &res)
{
    if (res.stat != NLM4_DENIED)
        return NlmConflict{res.stat, false, 0, 0, 0};
    return NlmConflict{res.stat, res.holder.exclusive != 0, res.holder.svid, res.holder.l_offset,
                       res.holder.l_len};
}

// A LOCK call's arguments, a reclaim's or not; they point into the owner and the cookie.
NlmLockArgs lockArgs(const NlmTarget &target, const NlmOwner &owner, Cookie &cookie, const NlmRange &range,
                     bool reclaim)
{
    return NlmLockArgs{target.version == NLM_V1,
                       cookie.object(),
                       FALSE,
                       range.exclusive ? TRUE : FALSE,
                       lockOf(target, owner, range),
                       reclaim ? TRUE : FALSE,
                       0};
}

} // namespace

Result<uint32_t> nlmLock(const NlmTarget &target, const NlmRange &range)
{
    if (!fits(target, range))
        return Fail{K_EINVAL};
    const NlmOwner owner = nlmOwnerOf(target.task);
    Cookie cookie;
    const NlmLockArgs args = lockArgs(target, owner, cookie, range, false);
    return graced(target, NLMPROC_LOCK, xdrNlmLockArgs, args, xdrNlmRes, NlmRes{}, statOf);
}

Result<uint32_t> nlmReclaim(const NlmTarget &target, const NlmRange &range)
{
    if (!fits(target, range))
        return Fail{K_EINVAL};
    const NlmOwner owner = nlmOwnerOf(target.task);
    Cookie cookie;
    const NlmLockArgs args = lockArgs(target, owner, cookie, range, true);
    const nfsrpc::Reply<NlmRes> reply(peerOf(target), NLMPROC_LOCK, xdrNlmLockArgs, args, xdrNlmRes);
    if (!reply.ok())
        return Fail{callError(reply.error())};
    return reply->stat;
}

Result<NlmConflict> nlmTest(const NlmTarget &target, const NlmRange &range)
{
    if (!fits(target, range))
        return Fail{K_EINVAL};
    const NlmOwner owner = nlmOwnerOf(target.task);
    Cookie cookie;
    const NlmTestArgs args{target.version == NLM_V1, cookie.object(), range.exclusive ? TRUE : FALSE,
                           lockOf(target, owner, range)};
    NlmTestRes initial{};
    initial.narrow = target.version == NLM_V1;
    return graced(target, NLMPROC_TEST, xdrNlmTestArgs, args, xdrNlmTestRes, initial, conflictOf);
}

Result<uint32_t> nlmUnlock(const NlmTarget &target, const NlmRange &range)
{
    if (!fits(target, range))
        return Fail{K_EINVAL};
    const NlmOwner owner = nlmOwnerOf(target.task);
    Cookie cookie;
    const NlmUnlockArgs args{target.version == NLM_V1, cookie.object(), lockOf(target, owner, range)};
    return graced(target, NLMPROC_UNLOCK, xdrNlmUnlockArgs, args, xdrNlmRes, NlmRes{}, statOf);
}

void nlmCancel(const NlmTarget &target, const NlmRange &range)
{
    if (!fits(target, range))
        return;
    const NlmOwner owner = nlmOwnerOf(target.task);
    Cookie cookie;
    const NlmCancelArgs args{target.version == NLM_V1, cookie.object(), FALSE, range.exclusive ? TRUE : FALSE,
                             lockOf(target, owner, range)};
    const nfsrpc::Reply<NlmRes> reply(peerOf(target), NLMPROC_CANCEL, xdrNlmCancelArgs, args, xdrNlmRes);
    static_cast<void>(reply);
}

int nlmStatError(uint32_t stat)
{
    switch (stat) {
    case NLM4_GRANTED: return 0;
    case NLM4_DENIED:
    case NLM4_BLOCKED: return K_EAGAIN;
    case NLM4_ROFS: return K_EROFS;
    case NLM4_STALE_FH: return kNfsStale;
    case NLM4_FBIG: return K_EINVAL;
    default: return K_ENOLCK; // no room, grace period, deadlock, failure, or a status unknown
    }
}
