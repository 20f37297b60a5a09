// Establishing this client at a server: 4.1's client id (EXCHANGE_ID), session (CREATE_SESSION,
// a fore channel of as many slots as the window and no back channel) and RECLAIM_COMPLETE; 4.0's
// client id (SETCLIENTID and SETCLIENTID_CONFIRM); the lease time; the reclaim of the opens
// after a new client record; and the teardown.
#include "rpc/nfsRpcClient.h"
#include "state/nfs4ClientOwner.h"
#include "state/nfs4ClientState.h"

#include <kernel/kernelErrno.h>
#include <kernel/semGuard.h>

#include <cstring>
#include <string>

namespace {

using nfsres::Fail;
using nfsres::Result;
using nfsres::Status;

// The callback program named in CREATE_SESSION and SETCLIENTID: no back channel is asked for,
// and no callback ever comes.
constexpr uint32_t kCallbackProgram = 0x40000000;
// Bytes of a reply the server keeps per slot for a retry: this client asks for no cached replies.
constexpr uint32_t kCachedReply = 16 * 1024;

nfs_argop4 op(nfs_opnum4 number)
{
    nfs_argop4 arg{};
    arg.argop = number;
    return arg;
}

Nfs4Bytes bytesOf(const std::string &text)
{
    return Nfs4Bytes{static_cast<u_int>(text.size()), const_cast<char *>(text.data())};
}

struct Exchanged {
    clientid4 id;
    uint32_t sequence;
    bool confirmed; // the server knew this owner and verifier already
};

/* EXCHANGE_ID4args { client_owner4 eia_clientowner; uint32_t eia_flags;
 *                    state_protect4_a eia_state_protect; nfs_impl_id4 eia_client_impl_id<1>; } */
Result<Exchanged> exchangeId(const char *host)
{
    const std::string owner = nfs4ClientOwner(1);
    nfs_argop4 arg = op(OP_EXCHANGE_ID);
    EXCHANGE_ID4args &x = arg.nfs_argop4_u.opexchange_id;
    nfs4ClientVerifier(x.co_verifier);
    x.co_ownerid = bytesOf(owner);
    x.eia_flags = EXCHGID4_FLAG_USE_NON_PNFS;
    x.eia_state_protect.how = SP4_NONE;
    Nfs4Reply reply;
    NFS_TRY(nfs4CompoundCall(host, 1, &arg, 1, 0, reply));
    const EXCHANGE_ID4resok &r = reply[0].nfs_resop4_u.opexchange_id;
    return Exchanged{r.eir_clientid, r.eir_sequenceid, (r.eir_flags & EXCHGID4_FLAG_CONFIRMED_R) != 0};
}

struct Created {
    sessionid4 session;
    uint32_t slots;
    uint32_t maxRequest;
    uint32_t maxResponse;
};

// The fore channel: as many slots as the window, messages as large as the largest transfer a
// TCP handle may carry with room for its compound around it (whatever the words say now: a
// device mounted later may ask for more).
channel_attrs4 foreChannel()
{
    const uint32_t size = NFS_TCP_MAX_TRANSFER + kNfs4CompoundRoom;
    const auto slots = static_cast<uint32_t>(nfsrpc::windowCalls());
    return channel_attrs4{0, size, size, kCachedReply, NFS4_MAX_OPS, slots, 0, 0};
}

/* CREATE_SESSION4args { clientid4 csa_clientid; sequenceid4 csa_sequence; uint32_t csa_flags;
 *     channel_attrs4 csa_fore_chan_attrs; channel_attrs4 csa_back_chan_attrs;
 *     uint32_t csa_cb_program; callback_sec_parms4 csa_sec_parms<>; }
 * No back channel asked for (so no delegation is granted and no callback is needed). */
Result<Created> createSession(const char *host, clientid4 id, uint32_t sequence)
{
    nfs_argop4 arg = op(OP_CREATE_SESSION);
    arg.nfs_argop4_u.opcreate_session = {
        id, sequence, 0, foreChannel(), channel_attrs4{0, 4096, 4096, 0, 2, 1, 0, 0}, kCallbackProgram, 1};
    Nfs4Reply reply;
    NFS_TRY(nfs4CompoundCall(host, 1, &arg, 1, 0, reply));
    const CREATE_SESSION4resok &r = reply[0].nfs_resop4_u.opcreate_session;
    Created created{};
    std::memcpy(created.session, r.csr_sessionid, NFS4_SESSIONID_SIZE);
    created.slots = std::min<uint32_t>(r.csr_fore_chan_attrs.ca_maxrequests, Nfs4SlotTable::kMostSlots);
    created.maxRequest = r.csr_fore_chan_attrs.ca_maxrequestsize;
    created.maxResponse = r.csr_fore_chan_attrs.ca_maxresponsesize;
    return created;
}

// The lease time in the root's attributes, after the operations before it.
Result<uint32_t> leaseOf(const Nfs4Reply &reply, u_int at)
{
    const fattr4 &attrs = reply[at].nfs_resop4_u.opgetattr;
    if (!nfs4BitmapHas(attrs.attrmask, FATTR4_LEASE_TIME) || attrs.lease_time == 0)
        return Fail{K_EIO};
    return attrs.lease_time;
}

void askLease(nfs_argop4 *ops)
{
    ops[0] = op(OP_PUTROOTFH);
    ops[1] = op(OP_GETATTR);
    nfs4BitmapSet(&ops[1].nfs_argop4_u.opgetattr, FATTR4_LEASE_TIME);
}

// The new session's first compound, on slot 0 with sequence id 1: the lease time, and
// RECLAIM_COMPLETE for a new client id with nothing to reclaim (with opens to reclaim it follows
// their reclaims instead). A server that had it already says so.
Result<uint32_t> sessionSetUp(const char *host, const sessionid4 session, bool reclaimComplete)
{
    nfs_argop4 ops[4] = {op(OP_SEQUENCE)};
    SEQUENCE4args &seq = ops[0].nfs_argop4_u.opsequence;
    std::memcpy(seq.sa_sessionid, session, NFS4_SESSIONID_SIZE);
    seq.sa_sequenceid = 1;
    askLease(&ops[1]);
    ops[3] = op(OP_RECLAIM_COMPLETE);
    Nfs4Reply reply;
    const Status status = nfs4CompoundCall(host, 1, ops, reclaimComplete ? 4 : 3, 1, reply);
    if (!status.ok() && !(reply.count() == 3 && reply.status() == NFS4ERR_COMPLETE_ALREADY))
        return status.fail();
    return leaseOf(reply, 1);
}

// 4.1: a client id when the state has none, then a session.
Status establish41(Nfs4ClientState &state)
{
    clientid4 id = 0;
    uint32_t sequence = 0;
    bool haveId = false;
    bool haveOpens = false;
    {
        const SemGuard guard(state.guard);
        haveId = state.clientUsable && state.minor == 1;
        id = state.clientId;
        sequence = state.createSequence;
        haveOpens = !state.opens.empty();
    }
    bool confirmed = true;
    Result<Created> created = Fail{nfs4Error(NFS4ERR_STALE_CLIENTID)};
    if (haveId)
        created = createSession(state.host, id, sequence);
    // A lost client id, or a CREATE_SESSION sequence this client lost track of: ask again.
    if (!created.ok() && (!haveId || created.error() == nfs4Error(NFS4ERR_STALE_CLIENTID) ||
                          created.error() == nfs4Error(NFS4ERR_SEQ_MISORDERED))) {
        const Result<Exchanged> exchanged = exchangeId(state.host);
        NFS_TRY(exchanged);
        id = exchanged.value().id;
        sequence = exchanged.value().sequence;
        confirmed = exchanged.value().confirmed;
        created = createSession(state.host, id, sequence);
    }
    NFS_TRY(created);
    // An unconfirmed owner is a client record the server made anew: whatever it held of this
    // client is gone (it restarted, or let the lease lapse), and the opens are to be reclaimed.
    const bool reclaimDue = !confirmed && haveOpens;
    const Result<uint32_t> lease = sessionSetUp(state.host, created.value().session, !confirmed && !reclaimDue);
    NFS_TRY(lease);
    const SemGuard guard(state.guard);
    if (!confirmed) {
        ++state.epoch;
        state.reclaimCompleteDue = state.reclaimCompleteDue || reclaimDue;
    }
    state.clientIds += haveId && state.clientId == id ? 0 : 1;
    state.clientUsable = state.sessionUsable = true;
    state.minor = 1;
    state.clientId = id;
    state.createSequence = sequence + 1;
    std::memcpy(state.session, created.value().session, NFS4_SESSIONID_SIZE);
    state.slots.reset(created.value().slots);
    state.slots.advance(0);
    state.maxRequest = created.value().maxRequest;
    state.maxResponse = created.value().maxResponse;
    state.leaseSec = lease.value();
    state.renewed = Nfs4ClientState::Clock::now();
    ++state.generation;
    return {};
}

/* SETCLIENTID4args { nfs_client_id4 client; cb_client4 callback; uint32_t callback_ident; }
 * The callback address is one that reaches nothing: this client takes no delegations. */
Result<clientid4> setClientId(const char *host)
{
    const std::string owner = nfs4ClientOwner(0);
    const std::string netid = "tcp";
    const std::string nowhere = "0.0.0.0.0.0";
    nfs_argop4 arg = op(OP_SETCLIENTID);
    SETCLIENTID4args &s = arg.nfs_argop4_u.opsetclientid;
    nfs4ClientVerifier(s.verifier);
    s.id = bytesOf(owner);
    s.cb_program = kCallbackProgram;
    s.cb_location = {bytesOf(netid), bytesOf(nowhere)};
    Nfs4Reply reply;
    NFS_TRY(nfs4CompoundCall(host, 0, &arg, 1, 0, reply));
    const auto &r = reply[0].nfs_resop4_u.opsetclientid;
    nfs_argop4 confirm = op(OP_SETCLIENTID_CONFIRM);
    confirm.nfs_argop4_u.opsetclientid_confirm.clientid = r.clientid;
    std::memcpy(confirm.nfs_argop4_u.opsetclientid_confirm.setclientid_confirm, r.setclientid_confirm,
                NFS4_VERIFIER_SIZE);
    const clientid4 id = r.clientid;
    NFS_TRY(nfs4CompoundCall(host, 0, &confirm, 1, 0, reply));
    return id;
}

// 4.0: a confirmed client id and the lease time.
Status establish40(Nfs4ClientState &state)
{
    const Result<clientid4> id = setClientId(state.host);
    NFS_TRY(id);
    nfs_argop4 ops[2];
    askLease(ops);
    Nfs4Reply reply;
    NFS_TRY(nfs4CompoundCall(state.host, 0, ops, 2, 0, reply));
    const Result<uint32_t> lease = leaseOf(reply, 1);
    NFS_TRY(lease);
    const SemGuard guard(state.guard);
    state.clientUsable = true;
    state.sessionUsable = false;
    state.minor = 0;
    state.clientId = id.value();
    ++state.clientIds;
    ++state.epoch; // established only when the server refused the one before: its state is gone
    state.leaseSec = lease.value();
    state.renewed = Nfs4ClientState::Clock::now();
    ++state.generation;
    return {};
}

// A new client id or session of the minor version the state may use.
Status establish(Nfs4ClientState &state)
{
    bool only40 = state.minors == Nfs4Minors::Only40;
    {
        const SemGuard guard(state.guard);
        only40 = only40 || state.minor == 0; // a server found to refuse 4.1 before
    }
    if (only40)
        return establish40(state);
    const Status status = establish41(state);
    // A server of 4.0 alone answers a 4.1 compound with this status and no result.
    if (!status.ok() && status.error() == nfs4Error(NFS4ERR_MINOR_VERS_MISMATCH) &&
        state.minors != Nfs4Minors::Only41)
        return establish40(state);
    return status;
}

} // namespace

Status nfs4StateEstablish(Nfs4ClientState &state)
{
    NFS_TRY(establish(state));
    nfs4ReclaimOpens(state);
    return {};
}

void nfs4StateDestroy(Nfs4ClientState &state)
{
    nfs_argop4 destroySession = op(OP_DESTROY_SESSION);
    nfs_argop4 destroyClient = op(OP_DESTROY_CLIENTID);
    bool session = false;
    bool client = false;
    {
        const SemGuard guard(state.guard);
        session = state.minor == 1 && state.sessionUsable;
        client = state.minor == 1 && state.clientUsable;
        std::memcpy(destroySession.nfs_argop4_u.opdestroy_session, state.session, NFS4_SESSIONID_SIZE);
        destroyClient.nfs_argop4_u.opdestroy_clientid = state.clientId;
        state.sessionUsable = state.clientUsable = false;
    }
    // Each alone in its compound, as a compound without SEQUENCE must have them; a failure
    // leaves the server to let the lease lapse.
    Nfs4Reply reply;
    if (session)
        (void)nfs4CompoundCall(state.host, 1, &destroySession, 1, 0, reply).ok();
    if (client)
        (void)nfs4CompoundCall(state.host, 1, &destroyClient, 1, 0, reply).ok();
}
