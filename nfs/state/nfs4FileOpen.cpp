// Version 4 OPEN (with OPEN_CONFIRM over 4.0) and CLOSE, each carrying the open-owner's
// sequence id, advanced as the server's answer says.
#include "state/nfs4FileOpen.h"

#include "state/nfs4ClientOwner.h"
#include "state/nfs4FileData.h"
#include "state/nfs4Resend.h"

#include <kernel/kernelErrno.h>
#include <kernel/semGuard.h>

#include <atomic>
#include <cstring>

namespace {

using nfsres::Fail;
using nfsres::Result;
using nfsres::Status;

constexpr int kTimedOut = K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT;
constexpr u_int kStateOp = 1; // OPEN, OPEN_CONFIRM and CLOSE follow their PUTFH
constexpr int kMostRecoveries = 3; // a CLOSE sent again after its open was reclaimed

// A verifier of its own for each exclusive create: the run's, with a count mixed in.
void exclusiveVerifier(verifier4 out)
{
    static std::atomic<uint32_t> count{0};
    nfs4ClientVerifier(out);
    const uint32_t n = ++count;
    for (int i = 0; i < 4; ++i)
        out[4 + i] = static_cast<char>(out[4 + i] ^ static_cast<char>((n >> (8 * (3 - i))) & 0xFF));
}

fattr4 modeAttrs(uint32_t mode)
{
    fattr4 attrs{};
    nfs4BitmapSet(&attrs.attrmask, FATTR4_MODE);
    attrs.mode = mode & 07777;
    return attrs;
}

void setCreate(openflag4 &flag, const Nfs4OpenHow &how, uint32_t minor, const verifier4 verifier)
{
    flag.opentype = how.create == Nfs4Create::No ? OPEN4_NOCREATE : OPEN4_CREATE;
    createhow4 &create = flag.how;
    if (how.create == Nfs4Create::Unchecked || (how.create == Nfs4Create::Exclusive && minor == 0)) {
        create.mode = how.create == Nfs4Create::Unchecked ? UNCHECKED4 : GUARDED4;
        create.createhow4_u.createattrs = modeAttrs(how.mode);
    } else if (how.create == Nfs4Create::Exclusive) {
        create.mode = EXCLUSIVE4_1;
        std::memcpy(create.createhow4_u.ch_createboth.cva_verf, verifier, NFS4_VERIFIER_SIZE);
        create.createhow4_u.ch_createboth.cva_attrs = modeAttrs(how.mode);
    }
}

// FILE closed with the sequence id of USE.
Status closeWith(Nfs4ClientState &state, Nfs4SeqidUse &use, Nfs4OpenFile &file)
{
    Nfs4Ops ops;
    ops.putFh(file.fh);
    auto &close = ops.add(OP_CLOSE).nfs_argop4_u.opclose;
    close.seqid = use.seqid();
    close.open_stateid = file.stateid;
    Nfs4Reply reply;
    const Status status = nfs4StateCall(state, ops.ops, ops.n, reply);
    use.settle(reply, kStateOp, state.openOwners);
    if (status.ok())
        file.stateid = stateid4{};
    return status;
}

struct OpenRequest {
    const NfsFh &dir;
    Nfs4Bytes name;
    const Nfs4OpenHow &how;
    uint32_t access; // READ, WRITE or BOTH
    verifier4 verifier;
};

// One try of the open, by the task's owner of the moment: PUTFH, OPEN, GETFH, GETATTR; the
// open granted by the client record EPOCH registered before the owner is given up, so that a
// CLOSE of the same server open by that owner comes before the OPEN or after its registration.
Status openOnce(Nfs4ClientState &state, const OpenRequest &request, uint32_t epoch, Nfs4OpenFile &file,
                bool *timesHoldVerifier)
{
    const Nfs4StateNow now = nfs4StateNow(state);
    Nfs4OpenOwner *owner = state.openOwners.ofTask();
    if (owner == nullptr)
        return Fail{K_ENOMEM};
    Nfs4SeqidUse use(*owner, now.minor, nfs4CallTicks());
    if (!use.held())
        return Fail{kTimedOut};
    Nfs4Ops ops;
    ops.putFh(request.dir);
    OPEN4args &open = ops.add(OP_OPEN).nfs_argop4_u.opopen;
    open.seqid = use.seqid();
    open.share_access = request.how.access;
    open.share_deny = OPEN4_SHARE_DENY_NONE;
    open.owner = nfs4OwnerOf(*owner, now.clientId);
    setCreate(open.openhow, request.how, now.minor, request.verifier);
    open.claim.claim = CLAIM_NULL;
    open.claim.open_claim4_u.file = request.name;
    const u_int getfh = ops.getFhAndAttrs();
    Nfs4Reply reply;
    const Status status = nfs4StateCall(state, ops.ops, ops.n, reply);
    use.settle(reply, kStateOp, state.openOwners);
    if (reply.count() <= getfh || reply[kStateOp].status != NFS4_OK)
        return status;
    file.owner = owner;
    file.stateid = reply[kStateOp].nfs_resop4_u.opopen.stateid;
    const uint32_t rflags = reply[kStateOp].nfs_resop4_u.opopen.rflags;
    const Result<Nfs4Object> object =
        status.ok() ? nfs4ObjectOf(reply[getfh], reply[getfh + 1]) : status.fail();
    if (reply[getfh].status == NFS4_OK)
        file.fh = nfsFhOf(reply[getfh].nfs_resop4_u.opgetfh.val, reply[getfh].nfs_resop4_u.opgetfh.len);
    if (!object.ok()) {
        // Opened, but not usable: given back at once where its handle is known and no other
        // open file shares the server's open.
        if (!file.fh.empty() && (now.minor != 0 || (rflags & OPEN4_RESULT_CONFIRM) == 0) &&
            !nfs4OpenNoteShared(state, file, request.access, epoch))
            (void)closeWith(state, use, file).ok();
        return object.fail();
    }
    file.attrs = object.value().attrs;
    // An exclusive create may keep its verifier in the new file's times, said by attributes
    // set that were not asked for: they are given real times before anyone sees them.
    const bitmap4 &set = reply[kStateOp].nfs_resop4_u.opopen.attrset;
    *timesHoldVerifier = request.how.create == Nfs4Create::Exclusive && now.minor != 0 &&
                         (nfs4BitmapHas(set, FATTR4_TIME_ACCESS) || nfs4BitmapHas(set, FATTR4_TIME_MODIFY) ||
                          nfs4BitmapHas(set, FATTR4_TIME_ACCESS_SET) || nfs4BitmapHas(set, FATTR4_TIME_MODIFY_SET));
    if (now.minor == 0 && (rflags & OPEN4_RESULT_CONFIRM) != 0) {
        const Result<stateid4> confirmed = nfs4OpenConfirm(state, use, file.fh, file.stateid);
        NFS_TRY(confirmed);
        file.stateid = confirmed.value();
    }
    if (!nfs4OpenRegister(state, file, request.access, epoch)) {
        // Never an open unregistered: its CLOSE could end a server open that another shares.
        (void)closeWith(state, use, file).ok();
        return Fail{K_ENOMEM};
    }
    return {};
}

} // namespace

Result<Nfs4OpenFile> nfs4Open(Nfs4ClientState &state, const NfsFh &dir, const char *name,
                              const Nfs4OpenHow &how)
{
    const Result<Nfs4Bytes> component = nfs4NameOf(name);
    NFS_TRY(component);
    const uint32_t access = how.access & OPEN4_SHARE_ACCESS_BOTH;
    if (access == 0 || access != how.access || dir.empty())
        return Fail{NFS_ERRNO_INVAL};
    OpenRequest request{dir, component.value(), how, access, {}};
    exclusiveVerifier(request.verifier);
    Nfs4OpenFile file;
    bool timesHoldVerifier = false;
    NFS_TRY(nfs4Resending([&] {
        file = Nfs4OpenFile{};
        uint32_t epoch = 0; // the client record the granted state id belongs to
        {
            const SemGuard guard(state.guard);
            epoch = state.epoch;
        }
        return openOnce(state, request, epoch, file, &timesHoldVerifier);
    }));
    if (timesHoldVerifier) {
        NfsAttrChange now;
        now.times = NfsAttrChange::Times::now;
        const Result<Nfs4Attrs> set = nfs4SetAttr(state, file, now);
        if (!set.ok()) {
            (void)nfs4Close(state, file).ok();
            return set.fail();
        }
        file.attrs = set.value();
    }
    return file;
}

Status nfs4Close(Nfs4ClientState &state, Nfs4OpenFile &file)
{
    if (file.owner == nullptr || file.fh.empty())
        return Fail{NFS_ERRNO_INVAL};
    Status status;
    for (int recoveries = 0;; ++recoveries) {
        const Result<Nfs4OpenNow> now = nfs4OpenNow(state, file);
        if (!now.ok()) {
            status = {}; // the server gave it no open back: nothing to give back
            break;
        }
        Nfs4OpenFile sent = file;
        sent.owner = now.value().owner;
        Nfs4Leave leave = Nfs4Leave::last;
        status = nfs4Resending([&]() -> Status {
            Nfs4SeqidUse use(*sent.owner, nfs4StateNow(state).minor, nfs4CallTicks());
            if (!use.held())
                return Fail{kTimedOut};
            leave = nfs4OpenLeave(state, file, *sent.owner, &sent.stateid);
            if (leave != Nfs4Leave::last)
                return {};
            return closeWith(state, use, sent);
        });
        if (leave == Nfs4Leave::kept)
            break; // other open files of this owner keep the server's open
        if (leave == Nfs4Leave::moved && recoveries < kMostRecoveries)
            continue; // a reclaim gave the open another owner: its sequence id is the one to hold
        if (status.ok() || recoveries == kMostRecoveries ||
            !nfs4OpenRecovered(state, file, sent.stateid, status.error()))
            break;
    }
    if (status.ok())
        file.stateid = stateid4{};
    nfs4OpenUnregister(state, file);
    return status;
}

Result<stateid4> nfs4OpenConfirm(Nfs4ClientState &state, Nfs4SeqidUse &use, const NfsFh &fh, const stateid4 &open)
{
    Nfs4Ops ops;
    ops.putFh(fh);
    auto &confirm = ops.add(OP_OPEN_CONFIRM).nfs_argop4_u.opopen_confirm;
    confirm.open_stateid = open;
    confirm.seqid = use.seqid();
    Nfs4Reply reply;
    const Status status = nfs4StateCall(state, ops.ops, ops.n, reply);
    use.settle(reply, kStateOp, state.openOwners);
    NFS_TRY(status);
    return reply[kStateOp].nfs_resop4_u.opstateid;
}
