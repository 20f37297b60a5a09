// The version 4 client state against a small 4.1 server scripted over TCP port 2049, for what no
// real server does on demand: NFS4ERR_DELAY, SEQ_MISORDERED, BADSESSION, STALE_CLIENTID and
// BADSLOT in answer to SEQUENCE, DELAY and GRACE in answer to OPEN and READ, a READ reply with
// more data than asked, and a server of 4.0 alone. The server checks every slot's sequence ids
// as RFC 8881 section 2.10.6.1 has it, and over 4.0 every open-owner's as RFC 7530 section
// 9.1.7 has it (a replay answered with the last answer), and counts what it saw.
#include "nfs/consoleCapture.h"
#include "nfs/nfs4LockScripted.h"
#include "ops/nfs4Protocol.h"
#include "server/scriptedServer.h"
#include "state/nfs4ClientState.h"
#include "state/nfs4FileData.h"
#include "state/nfs4FsFigures.h"
#include "state/nfs4LinkOps.h"
#include "state/nfs4Locks.h"
#include "state/nfs4MountWalk.h"
#include "state/nfs4NameOps.h"

#include <brisnel/nfsStatLib.h>
#include <kernel/hostLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/semGuard.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace {

using scripted::DecodedArgs;
using scripted::Reply;
using scripted::RpcCall;

constexpr const char *kHost = "v4-state-faults";
constexpr const char *kAddress = "127.0.0.94";
constexpr uint32_t kSlots = 4;

// Faults armed by a test: each answers the next SEQUENCEs that many times.
struct Faults {
    int delay = 0;
    int misordered = 0;
    int badSession = 0;
    int staleClient = 0;
    uint32_t refuseSlotsFrom = kSlots; // slots from here on answered BADSLOT
    bool only40 = false;
    int drop = 0; // compounds left unanswered, their SEQUENCE not taken
    uint32_t lease = 60;
    std::chrono::milliseconds pause{0}; // before each SEQUENCE is answered
    int opFaults = 0;                   // OPENs, READs and WRITEs answered opStatus
    nfsstat4 opStatus = NFS4ERR_DELAY;
    int sequencesFirst = 0; // SEQUENCEs answered before delay, misordered and restart take effect
    int dataFirst = 0;      // READs and WRITEs answered before opFaults take effect on them
    int verifierAfter = -1; // WRITEs answered before the write verifier changes (-1: never)
    u_int readExtra = 0;                 // bytes a READ answers beyond the count asked
    std::vector<std::string> dirNames{}; // what READDIR answers, with file ids unless dirNoFileids
    bool dirNoFileids = false;
    bool dirEof = true;
    int forget40 = 0; // OPENs before which a 4.0 server forgets its client (a restart)
    int restart = 0;  // SEQUENCEs (4.1) or READs (4.0) before which the server restarts: client,
                      // session and opens forgotten, the state ids of before stale
    nfsstat4 reclaimStatus = NFS4_OK; // the answer to an OPEN with CLAIM_PREVIOUS
    // The next READLINK's text length, or the next GETATTR's attribute list length, written as
    // no encoder would: DECLARED is the length the reply gives, PRESENT the bytes after it.
    struct Malformed {
        nfs_opnum4 op = OP_ILLEGAL; // none
        u_int declared = 0;         // the text's length, or the attribute list's
        u_int present = 0;
    } malformed{};
};

constexpr const char *kAbsent = "absent"; // the name an OPEN is refused with NFS4ERR_NOENT
constexpr const char *kLinkText = "../scripted/target";
constexpr uint64_t kSpaceTotal = 5ULL << 40; // 5 TiB: past 32 bits

// RES as xdr_COMPOUND4res writes it, its last result an NFS4_OK READLINK or GETATTR whose text
// length or attribute list length is FAULT's, followed by the bytes FAULT says are there
// (space_total's bit set in the attribute mask).
bool malformedEncode(XDR *out, COMPOUND4res *res, const Faults::Malformed &fault)
{
    u_int n = res->resarray.resarray_len;
    if (!xdr_nfsstat4(out, &res->status) || !xdr_opaque_limit4(out, &res->tag) || !xdr_u_int(out, &n))
        return false;
    for (u_int i = 0; i + 1 < n; ++i) {
        if (!xdr_nfs_resop4(out, &res->resarray.resarray_val[i]))
            return false;
    }
    auto op = static_cast<int32_t>(fault.op);
    u_int status = NFS4_OK;
    if (!xdr_int32_t(out, &op) || !xdr_u_int(out, &status))
        return false;
    if (fault.op == OP_GETATTR) {
        u_int words = 2;
        uint32_t low = 0;
        uint32_t high = 1U << (FATTR4_SPACE_TOTAL - 32);
        if (!xdr_u_int(out, &words) || !xdr_uint32_t(out, &low) || !xdr_uint32_t(out, &high))
            return false;
    }
    u_int declared = fault.declared;
    std::vector<char> bytes(fault.present, 'x');
    return xdr_u_int(out, &declared) && xdr_opaque(out, bytes.data(), fault.present);
}

class V4Server {
public:
    std::mutex lock; // everything below
    Faults faults;
    std::map<nfs_opnum4, int> ops;
    int outOfOrder = 0; // SEQUENCEs whose sequence id was not the slot's next
    std::map<uint32_t, int> slotsSeen;
    int badSeqids = 0; // 4.0 open-owner sequence ids neither the next nor the last
    int replays = 0;   // 4.0 open-owner sequence ids that repeated the last
    int reclaims = 0;  // OPENs with CLAIM_PREVIOUS granted
    std::vector<int> reclaimsAtComplete; // the reclaims granted when each RECLAIM_COMPLETE came
    std::vector<int> lockReclaimsAtComplete; // the lock reclaims asked by then
    ScriptedLocks locks;
    // With storing set, READ answers from these bytes (the end of the file where they end)
    // and WRITE stores into them, UNSTABLE.
    bool storing = false;
    std::vector<char> stored;
    std::map<uint32_t, int> dataSlots; // the slots READs and WRITEs came on
    int writes = 0;

    Reply compound(XDR *xdrs)
    {
        DecodedArgs<COMPOUND4args> args(xdrs, xdr_COMPOUND4args);
        if (!args.ok())
            return Reply::of(scripted::ReplyKind::garbageArgs);
        const COMPOUND4args &a = args.value();
        std::shared_ptr<COMPOUND4res> res(new COMPOUND4res{}, [](COMPOUND4res *r) {
            std::free(r->resarray.resarray_val);
            delete r;
        });
        res->resarray.resarray_val = static_cast<nfs_resop4 *>(std::calloc(NFS4_MAX_OPS, sizeof(nfs_resop4)));
        std::unique_lock held(lock);
        minor_ = a.minorversion;
        if (a.argarray.argarray_len > 0 && a.argarray.argarray_val[0].argop == OP_SEQUENCE &&
            once(faults.drop))
            return Reply::of(scripted::ReplyKind::silent);
        if (a.minorversion == 1 && faults.only40) {
            res->status = NFS4ERR_MINOR_VERS_MISMATCH;
        } else {
            for (u_int i = 0; i < a.argarray.argarray_len && res->status == NFS4_OK; ++i) {
                nfs_resop4 &r = res->resarray.resarray_val[res->resarray.resarray_len++];
                r.resop = a.argarray.argarray_val[i].argop;
                r.status = answer(a.argarray.argarray_val[i], r, held);
                res->status = r.status;
            }
        }
        if (std::exchange(locks.dropNow, false))
            return Reply::of(scripted::ReplyKind::silent);
        const u_int n = res->resarray.resarray_len;
        if (n > 0 && res->status == NFS4_OK && faults.malformed.op == res->resarray.resarray_val[n - 1].resop)
            return Reply::ok([res, fault = std::exchange(faults.malformed, {})](XDR *out) {
                return malformedEncode(out, res.get(), fault);
            });
        return Reply::ok([res](XDR *out) { return xdr_COMPOUND4res(out, res.get()) != 0; });
    }

private:
    clientid4 client_ = 0;
    uint32_t session_ = 0; // 0: none
    uint32_t slotSeq_[kSlots] = {};
    uint32_t minor_ = 1; // of the compound being answered
    struct OwnerSeq {
        uint32_t last;
        nfsstat4 answer;
    };
    std::map<std::string, OwnerSeq> owners_;     // 4.0: by client id and open-owner
    std::map<std::string, std::string> openers_; // open state id's other: its owner
    uint32_t opens_ = 0;
    uint32_t instance_ = 1; // the server's run: in each state id it grants
    char readData_[4096] = {};
    std::vector<char> readCopy_; // the stored bytes of the READ being answered
    uint32_t lastSlot_ = 0;     // of the compound being answered
    std::vector<entry4> dirEntries_; // the last READDIR's, encoded after the answer

    // Over 4.0, the answer to an open-owner's SEQID when it is not the next one: the last answer
    // for a replay, NFS4ERR_BAD_SEQID otherwise. A new owner may start anywhere.
    std::optional<nfsstat4> seqidRefusal(const std::string &owner, uint32_t seqid)
    {
        const auto known = owners_.find(owner);
        if (minor_ != 0 || known == owners_.end() || seqid == known->second.last + 1)
            return std::nullopt;
        if (seqid == known->second.last) {
            ++replays;
            return known->second.answer;
        }
        ++badSeqids;
        return NFS4ERR_BAD_SEQID;
    }
    void seqidTaken(const std::string &owner, uint32_t seqid, nfsstat4 answer)
    {
        if (minor_ == 0 && answer != NFS4ERR_BAD_SEQID)
            owners_[owner] = OwnerSeq{seqid, answer};
    }

    // A restart: everything of the client forgotten.
    void restarted()
    {
        client_ = 0;
        session_ = 0;
        openers_.clear();
        owners_.clear();
        ++instance_;
    }
    // A state id this run granted, of an earlier run, or the anonymous one (all zeros).
    nfsstat4 stateidCheck(const stateid4 &stateid) const
    {
        static const char zeros[NFS4_OTHER_SIZE] = {};
        if (std::memcmp(stateid.other, zeros, NFS4_OTHER_SIZE) == 0 ||
            openers_.count(std::string(stateid.other, NFS4_OTHER_SIZE)) != 0)
            return NFS4_OK;
        uint32_t instance = 0;
        std::memcpy(&instance, stateid.other + 4, sizeof instance);
        return instance != instance_ ? NFS4ERR_STALE_STATEID : NFS4ERR_BAD_STATEID;
    }

    nfsstat4 open(const OPEN4args &open, OPEN4resok &ok)
    {
        if (minor_ == 0 && once(faults.forget40))
            client_ = 0;
        if (minor_ == 0 && open.owner.clientid != client_)
            return NFS4ERR_STALE_CLIENTID;
        const std::string owner = std::to_string(open.owner.clientid) + ":" +
                                  std::string(open.owner.owner.val, open.owner.owner.len);
        if (const auto refusal = seqidRefusal(owner, open.seqid))
            return *refusal;
        const Nfs4Bytes &name = open.claim.open_claim4_u.file;
        const bool reclaim = open.claim.claim == CLAIM_PREVIOUS;
        nfsstat4 answer = NFS4_OK;
        if (once(faults.opFaults))
            answer = faults.opStatus;
        else if (reclaim && faults.reclaimStatus != NFS4_OK)
            answer = faults.reclaimStatus;
        else if (!reclaim && std::string(name.val, name.len) == kAbsent)
            answer = NFS4ERR_NOENT;
        else {
            reclaims += reclaim ? 1 : 0;
            ++opens_;
            std::memcpy(ok.stateid.other, &opens_, sizeof opens_);
            std::memcpy(ok.stateid.other + 4, &instance_, sizeof instance_);
            openers_[std::string(ok.stateid.other, NFS4_OTHER_SIZE)] = owner;
        }
        seqidTaken(owner, open.seqid, answer);
        return answer;
    }
    nfsstat4 close(uint32_t seqid, const stateid4 &stateid)
    {
        if (const nfsstat4 known = stateidCheck(stateid); known != NFS4_OK)
            return known;
        const auto opener = openers_.find(std::string(stateid.other, NFS4_OTHER_SIZE));
        if (opener == openers_.end())
            return NFS4ERR_BAD_STATEID;
        if (const auto refusal = seqidRefusal(opener->second, seqid))
            return *refusal;
        seqidTaken(opener->second, seqid, NFS4_OK);
        return NFS4_OK;
    }
    nfsstat4 readDir(READDIR4resok &ok)
    {
        dirEntries_.assign(faults.dirNames.size(), entry4{});
        for (std::size_t i = 0; i < dirEntries_.size(); ++i) {
            entry4 &entry = dirEntries_[i];
            entry.cookie = i + 3;
            entry.name = Nfs4Bytes{static_cast<u_int>(faults.dirNames[i].size()), faults.dirNames[i].data()};
            if (!faults.dirNoFileids)
                nfs4BitmapSet(&entry.attrs.attrmask, FATTR4_FILEID);
            entry.nextentry = i + 1 < dirEntries_.size() ? &dirEntries_[i + 1] : nullptr;
        }
        ok.entries = dirEntries_.empty() ? nullptr : dirEntries_.data();
        ok.eof = faults.dirEof ? TRUE : FALSE;
        return NFS4_OK;
    }
    // The data calls' share of opFaults, after dataFirst of them.
    bool dataFault()
    {
        if (faults.dataFirst > 0) {
            --faults.dataFirst;
            return false;
        }
        return once(faults.opFaults);
    }
    using ReadArgs = decltype(nfs_argop4::nfs_argop4_u.opread);
    nfsstat4 storedRead(const ReadArgs &read, READ4resok &ok)
    {
        const uint64_t size = stored.size();
        const uint64_t from = std::min<uint64_t>(read.offset, size);
        const auto length = static_cast<u_int>(std::min<uint64_t>(read.count, size - from));
        readCopy_.assign(stored.begin() + static_cast<std::ptrdiff_t>(from),
                         stored.begin() + static_cast<std::ptrdiff_t>(from + length));
        ok.data = Nfs4Bytes{length, readCopy_.data()};
        ok.eof = from + length >= size ? TRUE : FALSE;
        return NFS4_OK;
    }
    nfsstat4 write(const WRITE4args &write, WRITE4resok &ok)
    {
        if (const nfsstat4 known = stateidCheck(write.stateid); known != NFS4_OK)
            return known;
        if (dataFault())
            return faults.opStatus;
        const uint64_t end = write.offset + write.data.len;
        if (end > stored.max_size())
            return NFS4ERR_FBIG;
        if (stored.size() < end)
            stored.resize(static_cast<std::size_t>(end));
        std::copy_n(write.data.val, write.data.len, stored.begin() + static_cast<std::ptrdiff_t>(write.offset));
        ok.count = write.data.len;
        ok.committed = UNSTABLE4;
        const char verifier = faults.verifierAfter >= 0 && writes++ >= faults.verifierAfter ? 'b' : 'a';
        std::fill(std::begin(ok.writeverf), std::end(ok.writeverf), verifier);
        return NFS4_OK;
    }
    nfsstat4 read(const ReadArgs &args, READ4resok &ok)
    {
        if (minor_ == 0 && once(faults.restart))
            restarted();
        if (const nfsstat4 known = stateidCheck(args.stateid); known != NFS4_OK)
            return known;
        if (dataFault())
            return faults.opStatus;
        if (storing)
            return storedRead(args, ok);
        const uint32_t count = args.count;
        for (std::size_t i = 0; i < sizeof readData_; ++i)
            readData_[i] = static_cast<char>(i * 7);
        ok.data = Nfs4Bytes{std::min<u_int>(count + faults.readExtra, sizeof readData_), readData_};
        ok.eof = TRUE;
        return NFS4_OK;
    }

    static bool once(int &count) { return count > 0 && count-- > 0; }

    // A lock call; the first LOCK of a lock-owner carries its open-owner's sequence id too.
    nfsstat4 lockOp(const nfs_argop4 &op, nfs_resop4 &r)
    {
        const auto &first = op.nfs_argop4_u.oplock.locker.locker4_u.open_owner;
        if (op.argop != OP_LOCK || !op.nfs_argop4_u.oplock.locker.new_lock_owner)
            return locks.answer(op, r, minor_);
        const auto opener = openers_.find(std::string(first.open_stateid.other, NFS4_OTHER_SIZE));
        if (opener == openers_.end())
            return NFS4ERR_BAD_STATEID;
        if (const auto refusal = seqidRefusal(opener->second, first.open_seqid))
            return *refusal;
        const nfsstat4 answer = locks.answer(op, r, minor_);
        seqidTaken(opener->second, first.open_seqid, answer);
        return answer;
    }

    nfsstat4 sequence(const SEQUENCE4args &s, SEQUENCE4resok &ok, std::unique_lock<std::mutex> &held)
    {
        if (faults.pause.count() > 0) {
            held.unlock();
            std::this_thread::sleep_for(faults.pause);
            held.lock();
        }
        uint32_t session = 0;
        std::memcpy(&session, s.sa_sessionid, sizeof session);
        ++slotsSeen[s.sa_slotid];
        if (session == 0 || session != session_)
            return NFS4ERR_BADSESSION;
        if (s.sa_slotid >= faults.refuseSlotsFrom)
            return NFS4ERR_BADSLOT;
        lastSlot_ = s.sa_slotid;
        const bool armed = faults.sequencesFirst == 0;
        faults.sequencesFirst -= armed ? 0 : 1;
        if (armed && once(faults.delay))
            return NFS4ERR_DELAY;
        if (armed && once(faults.misordered))
            return NFS4ERR_SEQ_MISORDERED;
        if (once(faults.badSession)) {
            session_ = 0;
            return NFS4ERR_BADSESSION;
        }
        if (armed && once(faults.restart)) {
            restarted();
            return NFS4ERR_BADSESSION;
        }
        if (once(faults.staleClient)) {
            session_ = 0;
            client_ = 0;
            return NFS4ERR_STALE_CLIENTID;
        }
        if (s.sa_sequenceid != slotSeq_[s.sa_slotid] + 1) {
            ++outOfOrder;
            return NFS4ERR_SEQ_MISORDERED;
        }
        slotSeq_[s.sa_slotid] = s.sa_sequenceid;
        std::memcpy(ok.sr_sessionid, s.sa_sessionid, NFS4_SESSIONID_SIZE);
        ok.sr_sequenceid = s.sa_sequenceid;
        ok.sr_slotid = s.sa_slotid;
        ok.sr_highest_slotid = ok.sr_target_highest_slotid = kSlots - 1;
        return NFS4_OK;
    }

    nfsstat4 answer(const nfs_argop4 &op, nfs_resop4 &r, std::unique_lock<std::mutex> &held)
    {
        ++ops[op.argop];
        auto &u = r.nfs_resop4_u;
        switch (op.argop) {
        case OP_SEQUENCE: return sequence(op.nfs_argop4_u.opsequence, u.opsequence, held);
        case OP_EXCHANGE_ID:
        case OP_SETCLIENTID:
            client_ = 0x100 + static_cast<clientid4>(ops[op.argop]);
            u.opexchange_id.eir_clientid = client_; // SETCLIENTID's clientid sits at the same place
            u.opexchange_id.eir_sequenceid = 1;
            return NFS4_OK;
        case OP_CREATE_SESSION: {
            if (op.nfs_argop4_u.opcreate_session.csa_clientid != client_)
                return NFS4ERR_STALE_CLIENTID;
            session_ = static_cast<uint32_t>(ops[OP_CREATE_SESSION]);
            std::memcpy(u.opcreate_session.csr_sessionid, &session_, sizeof session_);
            u.opcreate_session.csr_fore_chan_attrs = op.nfs_argop4_u.opcreate_session.csa_fore_chan_attrs;
            u.opcreate_session.csr_fore_chan_attrs.ca_maxrequests = kSlots;
            u.opcreate_session.csr_back_chan_attrs = op.nfs_argop4_u.opcreate_session.csa_back_chan_attrs;
            std::fill(std::begin(slotSeq_), std::end(slotSeq_), 0);
            return NFS4_OK;
        }
        case OP_GETATTR: {
            fattr4 &attrs = u.opgetattr;
            if (nfs4BitmapHas(op.nfs_argop4_u.opgetattr, FATTR4_SPACE_TOTAL)) {
                for (const u_int bit : {FATTR4_SPACE_TOTAL, FATTR4_SPACE_FREE, FATTR4_MAXNAME})
                    nfs4BitmapSet(&attrs.attrmask, bit);
                attrs.space_total = kSpaceTotal;
                attrs.space_free = 3 << 20;
                attrs.maxname = 200;
                return NFS4_OK;
            }
            for (const u_int bit : {FATTR4_TYPE, FATTR4_CHANGE, FATTR4_SIZE, FATTR4_FSID, FATTR4_LEASE_TIME,
                                    FATTR4_FILEID, FATTR4_MODE})
                if (nfs4BitmapHas(op.nfs_argop4_u.opgetattr, bit))
                    nfs4BitmapSet(&attrs.attrmask, bit);
            attrs.type = NF4DIR;
            attrs.lease_time = faults.lease;
            attrs.fileid = 7;
            attrs.mode = 0755;
            return NFS4_OK;
        }
        case OP_GETFH:
            u.opgetfh.len = 4;
            std::memcpy(u.opgetfh.val, "root", 4);
            return NFS4_OK;
        case OP_LOOKUP: return NFS4_OK;
        case OP_READLINK:
            u.opreadlink =
                Nfs4Bytes{static_cast<u_int>(std::strlen(kLinkText)), const_cast<char *>(kLinkText)};
            return NFS4_OK;
        case OP_OPEN: return open(op.nfs_argop4_u.opopen, u.opopen);
        case OP_CLOSE: return close(op.nfs_argop4_u.opclose.seqid, op.nfs_argop4_u.opclose.open_stateid);
        case OP_READ: ++dataSlots[lastSlot_]; return read(op.nfs_argop4_u.opread, u.opread);
        case OP_WRITE: ++dataSlots[lastSlot_]; return write(op.nfs_argop4_u.opwrite, u.opwrite);
        case OP_RECLAIM_COMPLETE:
            reclaimsAtComplete.push_back(reclaims);
            lockReclaimsAtComplete.push_back(static_cast<int>(locks.reclaimed.size()));
            return NFS4_OK;
        case OP_READDIR: return readDir(u.opreaddir);
        case OP_LOCK:
        case OP_LOCKT:
        case OP_LOCKU:
        case OP_RELEASE_LOCKOWNER: return lockOp(op, r);
        case OP_SECINFO_NO_NAME:
            u.opsecinfo_no_name.len = 1;
            u.opsecinfo_no_name.val[0].flavor = 1;
            return NFS4_OK;
        default: return NFS4_OK; // PUTROOTFH, RECLAIM_COMPLETE, the destroys, the 4.0 confirmation, RENEW
        }
    }
};

class Nfs4StateFault : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(hostAdd(kHost, kAddress), 0);
        std::string error;
        server_ = scripted::ScriptedServer::start(
            {.address = kAddress, .programPort = scripted::nfsPort, .tcp = true}, &error);
        ASSERT_NE(server_, nullptr) << error;
        server_->handle(NFS4_PROGRAM, NFS_V4, NFSPROC4_COMPOUND,
                        [this](const RpcCall &, XDR *args) { return v4_.compound(args); });
    }
    void TearDown() override { server_.reset(); }

    // The mount walk of a fresh state, after the faults FAULTS are armed once it is established.
    nfsres::Status walkWith(const Faults &faults, Nfs4Minors minors = Nfs4Minors::Automatic)
    {
        const nfsres::Result<Nfs4ClientState *> state = nfs4StateAcquire(kHost, minors);
        if (!state.ok())
            return state.fail();
        {
            const std::lock_guard held(v4_.lock);
            v4_.faults = faults;
        }
        const nfsres::Result<Nfs4ExportRoot> root = nfs4MountWalk(*state.value(), "/export");
        nfs4StateRelease(state.value());
        return nfsres::statusOf(root);
    }
    int count(nfs_opnum4 op)
    {
        const std::lock_guard held(v4_.lock);
        return v4_.ops[op];
    }

    V4Server v4_;
    std::unique_ptr<scripted::ScriptedServer> server_;
};

// The count of operation NAME that nfsStatShow reports, 0 when it shows none.
int shownOperations(const std::string &shown, const std::string &name)
{
    std::smatch match;
    const std::regex row("\nop +NFS4 +" + name + " +([0-9]+) ");
    return std::regex_search(shown, match, row) ? std::stoi(match[1].str()) : 0;
}

} // namespace

TEST_F(Nfs4StateFault, SequenceFaultsAreRecoveredWithinTheCall)
{
    const struct {
        const char *name;
        Faults faults;
        int sessions;  // CREATE_SESSIONs in all
        int clientIds; // EXCHANGE_IDs in all
        int sequences; // SEQUENCEs in all: the set-up's, the walk's tries
    } cases[] = {
        {"delay twice", {.delay = 2}, 1, 1, 4},
        {"misordered", {.misordered = 1}, 2, 1, 4},
        {"session lost", {.badSession = 1}, 2, 1, 4},
        {"client id lost", {.staleClient = 1}, 2, 2, 4},
    };
    for (const auto &c : cases) {
        {
            const std::lock_guard held(v4_.lock);
            v4_.ops.clear();
        }
        nfsStatZero();
        const nfsres::Status walked = walkWith(c.faults);
        EXPECT_TRUE(walked.ok()) << c.name << std::hex << " 0x" << walked.error();
        EXPECT_EQ(c.sessions, count(OP_CREATE_SESSION)) << c.name;
        EXPECT_EQ(c.clientIds, count(OP_EXCHANGE_ID)) << c.name;
        EXPECT_EQ(c.sequences, count(OP_SEQUENCE)) << c.name;
        EXPECT_EQ(1, count(OP_DESTROY_CLIENTID)) << c.name;
        // The counters show the operations sent: those that open a compound, the server saw each.
        const std::string shown = capturedStdout([] { nfsStatShow(); });
        const std::pair<nfs_opnum4, const char *> named[] = {
            {OP_SEQUENCE, "SEQUENCE"}, {OP_EXCHANGE_ID, "EXCHANGE_ID"}, {OP_CREATE_SESSION, "CREATE_SESSION"}};
        for (const auto &[op, name] : named)
            EXPECT_EQ(count(op), shownOperations(shown, name)) << c.name << " " << name << shown;
        EXPECT_TRUE(std::regex_search(shown, std::regex(R"(\ntcp +NFS4 +COMPOUND +[1-9])"))) << shown;
    }
    EXPECT_EQ(0, v4_.outOfOrder);
}

TEST_F(Nfs4StateFault, RefusedSlotIsLeftForALowerOne)
{
    // The first task holds slot 0 while the server pauses; the second, on slot 1, is refused
    // and goes again on slot 0 once it is free.
    const nfsres::Result<Nfs4ClientState *> state = nfs4StateAcquire(kHost, Nfs4Minors::Automatic);
    ASSERT_TRUE(state.ok());
    {
        const std::lock_guard held(v4_.lock);
        v4_.faults = {.refuseSlotsFrom = 1, .pause = std::chrono::milliseconds(200)};
        v4_.slotsSeen.clear();
    }
    nfsres::Status results[2];
    std::thread first([&] { results[0] = nfsres::statusOf(nfs4MountWalk(*state.value(), "/export")); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::thread second([&] { results[1] = nfsres::statusOf(nfs4MountWalk(*state.value(), "/export")); });
    first.join();
    second.join();
    nfs4StateRelease(state.value());
    EXPECT_TRUE(results[0].ok() && results[1].ok());
    const std::lock_guard held(v4_.lock);
    EXPECT_EQ(1, v4_.slotsSeen[1]);
    EXPECT_EQ(2, v4_.slotsSeen[0]);
    EXPECT_EQ(0, v4_.outOfOrder);
}

TEST_F(Nfs4StateFault, SlotOfALostReplyStepsBackWhenRefused)
{
    // A call without an answer leaves its slot's sequence id in doubt: the next one on it
    // guesses the server took it, and steps back when refused, in the same session.
    const int32_t savedTimeout = nfsTimeoutSec;
    nfsTimeoutSec = 1;
    const nfsres::Result<Nfs4ClientState *> state = nfs4StateAcquire(kHost, Nfs4Minors::Automatic);
    ASSERT_TRUE(state.ok());
    {
        const std::lock_guard held(v4_.lock);
        v4_.faults.drop = 1;
    }
    EXPECT_EQ(K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT,
              nfsres::statusOf(nfs4MountWalk(*state.value(), "/export")).error());
    const nfsres::Status again = nfsres::statusOf(nfs4MountWalk(*state.value(), "/export"));
    EXPECT_TRUE(again.ok()) << std::hex << again.error();
    nfsTimeoutSec = savedTimeout;
    nfs4StateRelease(state.value());
    EXPECT_EQ(1, count(OP_CREATE_SESSION));
    const std::lock_guard held(v4_.lock);
    EXPECT_EQ(1, v4_.outOfOrder);
}

TEST_F(Nfs4StateFault, ServerOf40AloneGetsSetClientId)
{
    {
        const std::lock_guard held(v4_.lock);
        v4_.faults.only40 = true;
        v4_.faults.lease = 3;
    }
    const nfsres::Result<Nfs4ClientState *> state = nfs4StateAcquire(kHost, Nfs4Minors::Automatic);
    ASSERT_TRUE(state.ok()) << std::hex << state.error();
    EXPECT_EQ(0U, state.value()->minor);
    // Calls that name no state do not renew a 4.0 lease: RENEW goes all the same.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
    while (std::chrono::steady_clock::now() < end)
        EXPECT_TRUE(nfs4MountWalk(*state.value(), "/export").ok());
    nfs4StateRelease(state.value());
    EXPECT_LE(1, count(OP_RENEW));
    EXPECT_EQ(1, count(OP_SETCLIENTID));
    EXPECT_EQ(1, count(OP_SETCLIENTID_CONFIRM));
    EXPECT_EQ(0, count(OP_SECINFO_NO_NAME));
    EXPECT_EQ(0, count(OP_DESTROY_CLIENTID));
}

namespace {

// A file of the scripted server as an open would give it, for the calls that need no OPEN.
Nfs4OpenFile scriptedFile()
{
    Nfs4OpenFile file;
    file.fh = nfsFhOf("file", 4);
    return file;
}

} // namespace

TEST_F(Nfs4StateFault, ReadReplyLongerThanAskedIsRefused)
{
    const nfsres::Result<Nfs4ClientState *> state = nfs4StateAcquire(kHost, Nfs4Minors::Automatic);
    ASSERT_TRUE(state.ok());
    std::vector<char> buffer(200, 'z');
    {
        const std::lock_guard held(v4_.lock);
        v4_.faults.readExtra = 1;
    }
    const auto refused = nfs4Read(*state.value(), scriptedFile(), 0, buffer.data(), 100);
    EXPECT_EQ(K_RPC_CLNT_ERRNO_BASE | RPC_CANTDECODERES, refused.error());
    EXPECT_EQ(std::vector<char>(200, 'z'), buffer) << "a byte landed";
    {
        const std::lock_guard held(v4_.lock);
        v4_.faults.readExtra = 0;
    }
    const auto read = nfs4Read(*state.value(), scriptedFile(), 0, buffer.data(), 100);
    ASSERT_TRUE(read.ok()) << std::hex << read.error();
    EXPECT_EQ(100U, read.value().count);
    EXPECT_TRUE(read.value().eof);
    for (std::size_t i = 0; i < buffer.size(); ++i)
        ASSERT_EQ(i < 100 ? static_cast<char>(i * 7) : 'z', buffer[i]) << i;
    nfs4StateRelease(state.value());
}

TEST_F(Nfs4StateFault, BusyAndGraceAnswersAreWaitedOutAndResent)
{
    // Over 4.0 the refused OPEN advanced the owner's sequence id: sent again with the same one
    // it would be a replay, answered with the refusal until the time-out.
    const struct {
        const char *name;
        bool only40;
        nfs_opnum4 op;
        nfsstat4 status;
    } cases[] = {
        {"4.1 READ busy", false, OP_READ, NFS4ERR_DELAY}, {"4.1 READ grace", false, OP_READ, NFS4ERR_GRACE},
        {"4.1 OPEN busy", false, OP_OPEN, NFS4ERR_DELAY}, {"4.0 OPEN busy", true, OP_OPEN, NFS4ERR_DELAY},
        {"4.0 OPEN grace", true, OP_OPEN, NFS4ERR_GRACE}, {"4.0 READ busy", true, OP_READ, NFS4ERR_DELAY},
    };
    const int32_t savedTimeout = nfsTimeoutSec;
    nfsTimeoutSec = 5;
    for (const auto &c : cases) {
        {
            const std::lock_guard held(v4_.lock);
            v4_.faults = {.only40 = c.only40, .opFaults = 2, .opStatus = c.status};
            v4_.ops.clear();
        }
        const nfsres::Result<Nfs4ClientState *> state = nfs4StateAcquire(kHost, Nfs4Minors::Automatic);
        if (!state.ok()) {
            ADD_FAILURE() << c.name << std::hex << " 0x" << state.error();
            continue;
        }
        char buffer[16];
        const nfsres::Status done =
            c.op == OP_READ
                ? nfsres::statusOf(nfs4Read(*state.value(), scriptedFile(), 0, buffer, sizeof buffer))
                : nfsres::statusOf(nfs4Open(*state.value(), nfsFhOf("root", 4), "file",
                                            {OPEN4_SHARE_ACCESS_READ, Nfs4Create::No, 0}));
        nfs4StateRelease(state.value());
        EXPECT_TRUE(done.ok()) << c.name << std::hex << " 0x" << done.error();
        EXPECT_EQ(3, count(c.op)) << c.name;
    }
    nfsTimeoutSec = savedTimeout;
    const std::lock_guard held(v4_.lock);
    EXPECT_EQ(0, v4_.badSeqids);
    EXPECT_EQ(0, v4_.replays);
}

TEST_F(Nfs4StateFault, OpenAfterARefusedOpenOver40CarriesTheNextSeqid)
{
    {
        const std::lock_guard held(v4_.lock);
        v4_.faults.only40 = true;
    }
    const nfsres::Result<Nfs4ClientState *> state = nfs4StateAcquire(kHost, Nfs4Minors::Automatic);
    ASSERT_TRUE(state.ok());
    const NfsFh dir = nfsFhOf("root", 4);
    for (int round = 0; round < 3; ++round) {
        Nfs4OpenFile file =
            nfs4Open(*state.value(), dir, "file", {OPEN4_SHARE_ACCESS_READ, Nfs4Create::No, 0}).value();
        EXPECT_EQ(
            nfs4Error(NFS4ERR_NOENT),
            nfs4Open(*state.value(), dir, kAbsent, {OPEN4_SHARE_ACCESS_READ, Nfs4Create::No, 0}).error());
        EXPECT_TRUE(nfs4Close(*state.value(), file).ok());
    }
    EXPECT_EQ(1U, state.value()->openOwners.made());
    // The server restarted: the OPEN goes again under the new client id it gets.
    {
        const std::lock_guard held(v4_.lock);
        v4_.faults.forget40 = 1;
    }
    Nfs4OpenFile file =
        nfs4Open(*state.value(), dir, "file", {OPEN4_SHARE_ACCESS_READ, Nfs4Create::No, 0}).value();
    EXPECT_TRUE(nfs4Close(*state.value(), file).ok());
    nfs4StateRelease(state.value());
    EXPECT_EQ(2, count(OP_SETCLIENTID));
    EXPECT_EQ(4, count(OP_CLOSE));
    const std::lock_guard held(v4_.lock);
    EXPECT_EQ(0, v4_.badSeqids);
    EXPECT_EQ(0, v4_.replays);
}

TEST_F(Nfs4StateFault, ReadDirEntriesThatNameNoFileAreRefused)
{
    // A page neither last nor holding an entry would keep a caller's listing going for ever.
    const struct {
        const char *name;
        std::vector<std::string> names;
        bool noFileids;
        bool eof;
        int error;
    } cases[] = {
        {"plain names", {"a", "b"}, false, true, 0},
        {"last page, empty", {}, false, true, 0},
        {"a slash", {"a", "x/y"}, false, true, K_EIO},
        {"dot-dot", {".."}, false, true, K_EIO},
        {"a NUL", {std::string("a\0b", 3)}, false, true, K_EIO},
        {"no file id", {"a"}, true, true, K_EIO},
        {"empty, not the last", {}, false, false, K_EIO},
    };
    const nfsres::Result<Nfs4ClientState *> state = nfs4StateAcquire(kHost, Nfs4Minors::Automatic);
    ASSERT_TRUE(state.ok());
    for (const auto &c : cases) {
        {
            const std::lock_guard held(v4_.lock);
            v4_.faults.dirNames = c.names;
            v4_.faults.dirNoFileids = c.noFileids;
            v4_.faults.dirEof = c.eof;
        }
        const auto page = nfs4ReadDir(*state.value(), nfsFhOf("root", 4), 0, Nfs4Verifier{}, 4096);
        EXPECT_EQ(c.error, page.ok() ? 0 : page.error()) << c.name;
        EXPECT_EQ(c.error == 0 ? c.names.size() : 0U, page.ok() ? page.value().entries.size() : 0U) << c.name;
    }
    nfs4StateRelease(state.value());
}

// A READLINK text or GETATTR attribute list whose length is absurd, or disagrees with the
// values, is refused before anything is read past it; the session goes on to the next call.
TEST_F(Nfs4StateFault, MalformedLinkTextAndFiguresAreRefused)
{
    const struct {
        const char *name;
        Faults::Malformed fault;
    } cases[] = {
        {"text length near 2^32", {OP_READLINK, 0xFFFFFFF0U, 64}},
        {"text one byte over the limit", {OP_READLINK, NFS4_LINK_MAX + 1, NFS4_LINK_MAX + 4}},
        {"attributes shorter than space_total", {OP_GETATTR, 4, 8}},
        {"attributes longer than space_total", {OP_GETATTR, 12, 12}},
        {"attribute list near 2^32", {OP_GETATTR, 0xFFFFFFF0U, 8}},
    };
    const nfsres::Result<Nfs4ClientState *> state = nfs4StateAcquire(kHost, Nfs4Minors::Automatic);
    ASSERT_TRUE(state.ok());
    const NfsFh fh = nfsFhOf("root", 4);
    for (const auto &c : cases) {
        {
            const std::lock_guard held(v4_.lock);
            v4_.faults.malformed = c.fault;
        }
        if (c.fault.op == OP_READLINK)
            EXPECT_FALSE(nfs4ReadLink(*state.value(), fh).ok()) << c.name;
        else
            EXPECT_FALSE(nfs4FsFigures(*state.value(), fh).ok()) << c.name;
        const nfsres::Result<std::string> text = nfs4ReadLink(*state.value(), fh);
        ASSERT_TRUE(text.ok()) << c.name << std::hex << " 0x" << text.error();
        EXPECT_EQ(text.value(), kLinkText) << c.name;
    }
    // Well formed: the figures as the server gives them, those it leaves out 0.
    const nfsres::Result<Nfs4FsFigures> figures = nfs4FsFigures(*state.value(), fh);
    ASSERT_TRUE(figures.ok()) << std::hex << figures.error();
    EXPECT_EQ(figures.value().spaceTotal, kSpaceTotal);
    EXPECT_EQ(figures.value().spaceFree, 3u << 20);
    EXPECT_EQ(figures.value().maxName, 200u);
    EXPECT_EQ(figures.value().filesTotal, 0u) << "not answered";
    EXPECT_EQ(0, v4_.outOfOrder);
    nfs4StateRelease(state.value());
}

// Owners and groups as the server names them: a number alone or before the domain is that
// number; whatever names no number is the "nobody" id, never 0 (root).
TEST(Nfs4Owners, NumbersAreTakenAndNamesAreNobody)
{
    struct Case {
        std::string text;
        uint32_t id;
    };
    const std::vector<Case> cases{
        {"2001", 2001},
        {"0", 0},
        {"2001@example.org", 2001},
        {"4294967295", 4294967295U},
        {"root@localdomain", kNfs4Nobody},
        {"alice", kNfs4Nobody},
        {"", kNfs4Nobody},
        {"@example.org", kNfs4Nobody},
        {"4294967296", kNfs4Nobody},
        {"12345678901", kNfs4Nobody},
        {"12a", kNfs4Nobody},
        {"-1", kNfs4Nobody},
    };
    for (const Case &c : cases)
        EXPECT_EQ(nfs4IdOf(c.text.data(), c.text.size()), c.id) << '"' << c.text << '"';
    // Only the bytes counted: a number cut short by the length.
    EXPECT_EQ(nfs4IdOf("2001999", 4), 2001u);
}

TEST_F(Nfs4StateFault, LockRefusalNamesTheConflictAndKeepsTheSeqidsInStep)
{
    // Over 4.0 a refused LOCK advances the lock-owner's sequence id (the first LOCK the
    // open-owner's too): the calls after it carry the next ones.
    for (const bool only40 : {false, true}) {
        {
            const std::lock_guard held(v4_.lock);
            v4_.faults = {.only40 = only40};
            v4_.locks.deny = 1;
        }
        const nfsres::Result<Nfs4ClientState *> state = nfs4StateAcquire(kHost, Nfs4Minors::Automatic);
        ASSERT_TRUE(state.ok());
        Nfs4ClientState &s = *state.value();
        Nfs4OpenFile file = nfs4Open(s, nfsFhOf("root", 4), "file", {OPEN4_SHARE_ACCESS_BOTH}).value();
        Nfs4LockConflict c{};
        EXPECT_EQ(K_EAGAIN, nfs4LockSet(s, file, 0xA1, {WRITE_LT, 0, 0}, &c).error());
        EXPECT_EQ(std::tuple(WRITE_LT, 100, 0, 0), std::tuple(c.type, c.offset, c.length, c.task))
            << "to the end, an owner not of this program";
        EXPECT_TRUE(nfs4LockSet(s, file, 0xA1, {READ_LT, 0, 50}).ok());
        {
            const std::lock_guard held(v4_.lock);
            v4_.locks.deny = 1;
        }
        EXPECT_EQ(K_EAGAIN, nfs4LockSet(s, file, 0xA1, {WRITE_LT, 0, 0}).error());
        EXPECT_TRUE(nfs4LockUnlock(s, file, 0xA1, {READ_LT, 0, 50}).ok());
        EXPECT_TRUE(nfs4LockReleaseFile(s, file, 0xA1).ok() && nfs4Close(s, file).ok());
        nfs4StateRelease(state.value());
    }
    EXPECT_EQ(6, count(OP_LOCK));
    const std::lock_guard held(v4_.lock);
    EXPECT_EQ(1, v4_.locks.released) << "4.0: the owner given back";
    EXPECT_EQ(0, v4_.locks.badSeqids + v4_.locks.replays + v4_.badSeqids + v4_.replays);
}

TEST_F(Nfs4StateFault, UnansweredLockOver40IsReplayedWithItsSeqid)
{
    const int32_t savedTimeout = nfsTimeoutSec;
    nfsTimeoutSec = 1;
    {
        const std::lock_guard held(v4_.lock);
        v4_.faults.only40 = true;
    }
    const nfsres::Result<Nfs4ClientState *> state = nfs4StateAcquire(kHost, Nfs4Minors::Automatic);
    ASSERT_TRUE(state.ok());
    Nfs4ClientState &s = *state.value();
    Nfs4OpenFile file = nfs4Open(s, nfsFhOf("root", 4), "file", {OPEN4_SHARE_ACCESS_BOTH}).value();
    EXPECT_TRUE(nfs4LockSet(s, file, 0xA1, {WRITE_LT, 0, 10}).ok());
    {
        const std::lock_guard held(v4_.lock);
        v4_.locks.dropAnswers = 1;
    }
    EXPECT_TRUE(nfs4LockSet(s, file, 0xA1, {WRITE_LT, 20, 10}).ok()); // taken, unanswered, replayed
    EXPECT_TRUE(nfs4LockUnlock(s, file, 0xA1, {WRITE_LT, 0, 0}).ok());
    EXPECT_TRUE(nfs4LockReleaseFile(s, file, 0xA1).ok() && nfs4Close(s, file).ok());
    nfs4StateRelease(state.value());
    nfsTimeoutSec = savedTimeout;
    EXPECT_EQ(3, count(OP_LOCK));
    const std::lock_guard held(v4_.lock);
    EXPECT_EQ(1, v4_.locks.replays);
    EXPECT_EQ(0, v4_.locks.badSeqids + v4_.badSeqids);
    EXPECT_EQ(1, v4_.locks.released);
}

namespace {

// The scripted file opened for reading by the state's owner of the calling task.
nfsres::Result<Nfs4OpenFile> openScripted(Nfs4ClientState &state)
{
    return nfs4Open(state, nfsFhOf("root", 4), "file", {OPEN4_SHARE_ACCESS_READ, Nfs4Create::No, 0});
}

} // namespace

// The server restarts with a file open: the next READ meets the loss (a lost session over 4.1,
// a stale state id over 4.0), the open is reclaimed with CLAIM_PREVIOUS under a new client id
// and the READ is sent again with the reclaimed state id; over 4.1 RECLAIM_COMPLETE follows the
// reclaim. A reclaim the server refuses fails that READ, and every later one, with the refusal's
// number, as does a LOCK through it; the CLOSE of such a file is not sent. GRACE answers to the
// reclaim are waited out.
TEST_F(Nfs4StateFault, AServerRestartReclaimsTheOpenAndResendsTheCall)
{
    const struct {
        const char *name;
        bool only40;
        nfsstat4 reclaimStatus;
        int graceAnswers; // OPENs (the reclaim) and READs answered NFS4ERR_GRACE after the restart
        int error;        // of the READ after the restart, and of the one after it
    } cases[] = {
        {"4.1 reclaimed", false, NFS4_OK, 0, 0},
        {"4.0 reclaimed", true, NFS4_OK, 0, 0},
        {"4.1 grace waited out", false, NFS4_OK, 2, 0},
        {"4.0 grace waited out", true, NFS4_OK, 2, 0},
        {"4.1 reclaim refused", false, NFS4ERR_NO_GRACE, 0, nfs4Error(NFS4ERR_NO_GRACE)},
        {"4.0 reclaim refused", true, NFS4ERR_RECLAIM_BAD, 0, nfs4Error(NFS4ERR_RECLAIM_BAD)},
    };
    const int32_t savedTimeout = nfsTimeoutSec;
    nfsTimeoutSec = 5;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        {
            const std::lock_guard held(v4_.lock);
            v4_.faults = {.only40 = c.only40};
            v4_.ops.clear();
            v4_.reclaims = 0;
            v4_.reclaimsAtComplete.clear();
        }
        const nfsres::Result<Nfs4ClientState *> state = nfs4StateAcquire(kHost, Nfs4Minors::Automatic);
        ASSERT_TRUE(state.ok()) << std::hex << state.error();
        Nfs4ClientState &s = *state.value();
        nfsres::Result<Nfs4OpenFile> opened = openScripted(s);
        ASSERT_TRUE(opened.ok()) << std::hex << opened.error();
        Nfs4OpenFile file = opened.value();
        const uint32_t epoch = s.epoch;
        {
            const std::lock_guard held(v4_.lock);
            v4_.faults.restart = 1;
            v4_.faults.reclaimStatus = c.reclaimStatus;
            v4_.faults.opFaults = c.graceAnswers;
            v4_.faults.opStatus = NFS4ERR_GRACE;
        }
        char buffer[100] = {};
        for (int call = 0; call < 2; ++call) {
            const auto read = nfs4Read(s, file, 0, buffer, sizeof buffer);
            EXPECT_EQ(c.error, read.ok() ? 0 : read.error()) << "call " << call << std::hex << " 0x"
                                                               << (read.ok() ? 0 : read.error());
            if (read.ok()) {
                for (std::size_t i = 0; i < sizeof buffer; ++i)
                    ASSERT_EQ(static_cast<char>(i * 7), buffer[i]) << i;
            }
        }
        EXPECT_EQ(epoch + 1, s.epoch);
        // A lock goes with the reclaimed open's state id and owner (its sequence id in step);
        // through an open not given back it fails as the READ did.
        const nfsres::Status locked = nfs4LockSet(s, file, 0xA1, {WRITE_LT, 0, 10});
        EXPECT_EQ(c.error, locked.ok() ? 0 : locked.error()) << std::hex << locked.error();
        EXPECT_TRUE(nfs4LockReleaseFile(s, file, 0xA1).ok());
        const nfsres::Status closed = nfs4Close(s, file);
        EXPECT_TRUE(closed.ok()) << std::hex << closed.error();
        EXPECT_TRUE(s.opens.empty());
        nfs4StateRelease(state.value());
        const std::lock_guard held(v4_.lock);
        EXPECT_EQ(c.error == 0 ? 1 : 0, v4_.reclaims);
        EXPECT_EQ(c.error == 0 ? 1 : 0, v4_.ops[OP_CLOSE]);
        EXPECT_EQ(2, v4_.ops[c.only40 ? OP_SETCLIENTID : OP_EXCHANGE_ID]);
        // 4.1: one at the establishment (nothing to reclaim), one after the reclaim.
        const std::vector<int> completes = c.only40 ? std::vector<int>{} : std::vector<int>{0, v4_.reclaims};
        EXPECT_EQ(completes, v4_.reclaimsAtComplete);
        EXPECT_EQ(0, v4_.badSeqids);
    }
    nfsTimeoutSec = savedTimeout;
}

// Locks held when the server restarts: each range the owner holds (two, after an unlock split
// its lock) is asked for again with reclaim set, through the reclaimed open (the scripted
// server refuses an open state id it does not know), before 4.1's RECLAIM_COMPLETE, the
// sequence ids in step. A refused reclaim marks the lock lost: the open file is told
// K_ENOLCK once, and the owner's next lock starts a new lock state (open_to_lock_owner4).
TEST_F(Nfs4StateFault, LocksHeldAcrossARestartAreReclaimedOrReportedLost)
{
    const struct {
        const char *name;
        bool only40;
        nfsstat4 lockReclaim;
    } cases[] = {
        {"4.1 reclaimed", false, NFS4_OK},
        {"4.0 reclaimed", true, NFS4_OK},
        {"4.1 refused", false, NFS4ERR_RECLAIM_BAD},
        {"4.0 refused", true, NFS4ERR_NO_GRACE},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        {
            const std::lock_guard held(v4_.lock);
            v4_.faults = {.only40 = c.only40};
            v4_.locks.reclaimed.clear();
            v4_.locks.reclaimStatus = c.lockReclaim;
            v4_.lockReclaimsAtComplete.clear();
        }
        const nfsres::Result<Nfs4ClientState *> state = nfs4StateAcquire(kHost, Nfs4Minors::Automatic);
        ASSERT_TRUE(state.ok()) << std::hex << state.error();
        Nfs4ClientState &s = *state.value();
        Nfs4OpenFile file = nfs4Open(s, nfsFhOf("root", 4), "file", {OPEN4_SHARE_ACCESS_BOTH}).value();
        ASSERT_TRUE(nfs4LockSet(s, file, 0xA1, {WRITE_LT, 0, 30}).ok());
        ASSERT_TRUE(nfs4LockUnlock(s, file, 0xA1, {WRITE_LT, 5, 15}).ok());
        ASSERT_TRUE(nfs4LockSet(s, file, 0xA1, {READ_LT, 100, 0}).ok());
        int newOwners = 0;
        {
            const std::lock_guard held(v4_.lock);
            v4_.faults.restart = 1;
            newOwners = v4_.locks.newOwners;
        }
        char buffer[10];
        const auto read = nfs4Read(s, file, 0, buffer, sizeof buffer);
        EXPECT_TRUE(read.ok()) << std::hex << read.error();
        {
            const std::lock_guard held(v4_.lock);
            const std::vector<std::string> asked = {"W 0+5", "W 20+10", "R 100+" + std::to_string(UINT64_MAX)};
            EXPECT_EQ(asked, v4_.locks.reclaimed);
            // Reclaimed: one open_to_lock_owner4, the others by the lock state it gave; refused:
            // no lock state to go on with.
            EXPECT_EQ(newOwners + (c.lockReclaim == NFS4_OK ? 1 : 3), v4_.locks.newOwners);
            const std::vector<int> completes = c.only40 ? std::vector<int>{} : std::vector<int>{0, 3};
            EXPECT_EQ(completes, v4_.lockReclaimsAtComplete);
            newOwners = v4_.locks.newOwners;
        }
        const int lost = c.lockReclaim == NFS4_OK ? 0 : K_ENOLCK;
        EXPECT_EQ(lost, nfs4OpenLocksLostTold(s, file));
        EXPECT_EQ(0, nfs4OpenLocksLostTold(s, file)) << "told once";
        // A reclaimed lock state goes on (exist_lock_owner4); a lost one is begun again.
        EXPECT_TRUE(nfs4LockSet(s, file, 0xA1, {WRITE_LT, 40, 10}).ok());
        EXPECT_TRUE(nfs4LockReleaseFile(s, file, 0xA1).ok());
        EXPECT_TRUE(nfs4Close(s, file).ok());
        nfs4StateRelease(state.value());
        const std::lock_guard held(v4_.lock);
        EXPECT_EQ(newOwners + (lost != 0 ? 1 : 0), v4_.locks.newOwners);
        EXPECT_EQ(0, v4_.locks.badSeqids + v4_.badSeqids);
    }
}

// A state id the server never granted, with no restart behind it, is not recovered from: the
// call fails with NFS4ERR_BAD_STATEID at once, and no new client id is asked for.
TEST_F(Nfs4StateFault, AStateIdNeverGrantedIsNotRecovered)
{
    const nfsres::Result<Nfs4ClientState *> state = nfs4StateAcquire(kHost, Nfs4Minors::Automatic);
    ASSERT_TRUE(state.ok());
    Nfs4OpenFile file = openScripted(*state.value()).value();
    {
        const SemGuard guard(state.value()->guard);
        file.entry->stateid.other[0] ^= 0x55;
    }
    char buffer[16];
    EXPECT_EQ(nfs4Error(NFS4ERR_BAD_STATEID), nfs4Read(*state.value(), file, 0, buffer, sizeof buffer).error());
    {
        const SemGuard guard(state.value()->guard);
        file.entry->stateid.other[0] ^= 0x55;
    }
    EXPECT_TRUE(nfs4Close(*state.value(), file).ok());
    nfs4StateRelease(state.value());
    EXPECT_EQ(1, count(OP_EXCHANGE_ID));
    EXPECT_EQ(1, count(OP_READ));
}

namespace {

// The word's value for a test's length.
template <typename Word> class WordFor {
public:
    WordFor(Word &word, Word value) : word_(word), saved_(word) { word = value; }
    WordFor(const WordFor &) = delete;
    WordFor &operator=(const WordFor &) = delete;
    ~WordFor() { word_ = saved_; }

private:
    Word &word_;
    Word saved_;
};

} // namespace

// A file's bytes written and read back through the cache's data routines in 4 KiB pieces, a
// window of them in flight, while one piece of a window meets a fault: what one call waits out,
// sends again or recovers from (a server restart: the open reclaimed) costs that piece alone,
// and the whole completes byte-exact; a piece refused
// fails the whole with its status, never with a short count. A read asked past the end stops at
// the end, sending nothing past the size the write left; the write verifier's change among the
// pieces is seen.
TEST_F(Nfs4StateFault, APieceOfAWindowMeetingAFaultCostsThatPieceAlone)
{
    constexpr unsigned kBytes = 40000; // 9 pieces of 4096 and one of 3136
    constexpr unsigned kPieces = 10;
    const struct {
        const char *name;
        int window;
        Faults faults;
        int error;         // of the write and of the read
        int reads;         // READs the server answered (0: not counted)
        bool verfChanged;  // seen by the write
    } cases[] = {
        {"4.1 window 1: the calls of one at a time", 1, {}, 0, kPieces, false},
        {"4.1 window 4", 4, {.verifierAfter = 6}, 0, kPieces, true},
        {"4.0 window 4", 4, {.only40 = true}, 0, kPieces, false},
        {"4.1 one SEQUENCE busy", 4, {.delay = 1, .sequencesFirst = 2}, 0, 0, false},
        {"4.1 one SEQUENCE misordered", 4, {.misordered = 1, .sequencesFirst = 1}, 0, 0, false},
        {"4.1 slots from 2 refused", 4, {.refuseSlotsFrom = 2}, 0, 0, false},
        {"4.1 one piece busy", 4, {.opFaults = 1, .dataFirst = 2}, 0, 0, false},
        {"4.0 one piece busy", 4, {.only40 = true, .opFaults = 1, .dataFirst = 2}, 0, 0, false},
        {"4.1 one piece in grace", 4, {.opFaults = 1, .opStatus = NFS4ERR_GRACE, .dataFirst = 5}, 0, 0, false},
        {"4.1 server restart among the pieces", 4, {.sequencesFirst = 2, .restart = 1}, 0, 0, false},
        {"4.0 server restart among the pieces", 4, {.only40 = true, .restart = 1}, 0, 0, false},
        {"4.1 one piece refused", 4, {.opFaults = 1, .opStatus = NFS4ERR_IO, .dataFirst = 5},
         nfs4Error(NFS4ERR_IO), 0, false},
        {"4.0 one piece refused", 4, {.only40 = true, .opFaults = 1, .opStatus = NFS4ERR_IO, .dataFirst = 1},
         nfs4Error(NFS4ERR_IO), 0, false},
    };
    const WordFor timeout(nfsTimeoutSec, 5);
    const WordFor pieces(nfs3MaxMsgLen, 4096U);
    std::vector<char> bytes(kBytes);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>((i * 131) ^ (i >> 9));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const WordFor window(nfsMaxInFlight, c.window); // the session's slots too
        {
            const std::lock_guard held(v4_.lock);
            v4_.faults = Faults{.only40 = c.faults.only40};
            v4_.storing = true;
            v4_.stored.clear();
            v4_.writes = 0;
            v4_.outOfOrder = 0;
            v4_.reclaims = 0;
        }
        const nfsres::Result<Nfs4ClientState *> state = nfs4StateAcquire(kHost, Nfs4Minors::Automatic);
        ASSERT_TRUE(state.ok()) << std::hex << state.error();
        Nfs4ClientState &s = *state.value();
        const nfsres::Result<Nfs4OpenFile> opened = openScripted(s);
        ASSERT_TRUE(opened.ok()) << std::hex << opened.error();
        Nfs4OpenFile file = opened.value();
        Nfs4Handle fh{file.fh, file.stateid, &s, file.entry};
        const auto arm = [&] {
            const std::lock_guard held(v4_.lock);
            v4_.faults = c.faults;
            v4_.ops.clear();
            v4_.dataSlots.clear();
        };

        arm();
        fattr3 attr{};
        errnoSet(0);
        const NfsWriteResult wrote = nfs4FileWriteRun(kHost, &fh, 0, kBytes, bytes.data(), &attr);
        EXPECT_EQ(c.error == 0 ? static_cast<int>(kBytes) : -1, wrote.written);
        EXPECT_EQ(c.error, wrote.written < 0 ? errnoGet() : 0) << std::hex << errnoGet();
        if (c.error == 0) {
            const std::lock_guard held(v4_.lock);
            EXPECT_EQ(bytes, v4_.stored);
            EXPECT_TRUE(wrote.verdict.unstable);
            EXPECT_EQ(c.verfChanged, wrote.verdict.verfChanged);
            EXPECT_EQ(kBytes, attr.size);
            if (c.reads != 0) {
                EXPECT_EQ(static_cast<int>(kPieces), v4_.ops[OP_WRITE]);
            }
        }

        arm();
        {
            const std::lock_guard held(v4_.lock);
            v4_.stored = bytes;
        }
        attr.size = kBytes; // as the file's attributes say
        std::vector<char> back(kBytes + 10000, '\x55');
        errnoSet(0);
        const int read = nfs4FileRead(kHost, &fh, 0, static_cast<unsigned>(back.size()), back.data(), &attr);
        EXPECT_EQ(c.error == 0 ? static_cast<int>(kBytes) : -1, read);
        EXPECT_EQ(c.error, read < 0 ? errnoGet() : 0) << std::hex << errnoGet();
        if (read == static_cast<int>(kBytes)) {
            EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), back.begin()));
        }
        EXPECT_TRUE(nfs4Close(s, file).ok());
        nfs4StateRelease(state.value());
        const std::lock_guard held(v4_.lock);
        if (c.reads != 0) { // nothing past the size as known: the READ that reaches the end ends it
            EXPECT_EQ(c.reads, v4_.ops[OP_READ]);
        }
        // Several slots carried the data exactly when the window was wider than one.
        if (!c.faults.only40 && c.faults.refuseSlotsFrom == kSlots) {
            EXPECT_EQ(c.window > 1, v4_.dataSlots.size() > 1) << v4_.dataSlots.size();
        }
        EXPECT_EQ(0, v4_.outOfOrder);
        // The open reclaimed after each restart: over 4.1 one in the write and one in the read,
        // over 4.0 (a restart before a READ) one in the read.
        EXPECT_EQ(c.faults.restart * (c.faults.only40 ? 1 : 2), v4_.reclaims);
    }
}
