// The byte-range locks of the scripted version 4 server (nfs4StateFaultTest.cpp): LOCK, LOCKT,
// LOCKU and RELEASE_LOCKOWNER with conflicts between owners, lock state ids, and over 4.0 each
// lock-owner's sequence ids checked as RFC 7530 section 9.1.7 has it (a replay answered with the
// last answer). An unlock takes away every lock of the owner it touches; what else a server
// does with ranges the live tests meet. The caller serialises the calls.
#ifndef TESTS_NFS_NFS4LOCKSCRIPTED_H
#define TESTS_NFS_NFS4LOCKSCRIPTED_H

#include "xdr/nfs4Xdr.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

class ScriptedLocks {
public:
    struct Held {
        std::string owner; // client id ":" owner bytes
        nfs_lock_type4 type;
        uint64_t offset;
        uint64_t length; // UINT64_MAX: to the end
    };
    std::vector<Held> held;
    int dropAnswers = 0; // LOCKs and LOCKUs taken, their answers then left unsent
    int replays = 0;     // 4.0 lock sequence ids that repeated the last
    int badSeqids = 0;   // 4.0 lock sequence ids neither the next nor the last
    int released = 0;    // RELEASE_LOCKOWNERs of owners holding nothing

    static std::string ownerOf(const state_owner4 &owner)
    {
        return std::to_string(owner.clientid) + ":" + std::string(owner.owner.val, owner.owner.len);
    }

    // OP's answer, R filled; MINOR is the compound's.
    nfsstat4 answer(const nfs_argop4 &op, nfs_resop4 &r, uint32_t minor)
    {
        minor_ = minor;
        const auto &a = op.nfs_argop4_u;
        switch (op.argop) {
        case OP_LOCK: return lock(a.oplock, r);
        case OP_LOCKT: return deniedBy(ownerOf(a.oplockt.owner), a.oplockt.locktype, a.oplockt.offset,
                                       a.oplockt.length, r);
        case OP_LOCKU: return unlock(a.oplocku, r);
        default: return releaseOwner(ownerOf(a.oprelease_lockowner));
        }
    }
    // The compound just answered is to go unanswered.
    bool takeDrop()
    {
        const bool drop = dropNext_;
        dropNext_ = false;
        return drop;
    }

private:
    struct Owner {
        uint32_t last = 0;
        nfsstat4 answer = NFS4_OK;
        stateid4 stateid{}; // of the last answer
    };
    std::map<std::string, Owner> owners_;
    std::map<std::string, std::string> states_; // lock state id's other: its owner
    std::string deniedOwner_;                   // the last conflict's owner, encoded after the answer
    uint32_t minor_ = 1;
    bool dropNext_ = false;

    static uint64_t endOf(uint64_t offset, uint64_t length)
    {
        return length == UINT64_MAX || length > UINT64_MAX - offset ? UINT64_MAX : offset + length;
    }
    static bool writes(nfs_lock_type4 type) { return type == WRITE_LT || type == WRITEW_LT; }

    nfsstat4 deniedBy(const std::string &owner, nfs_lock_type4 type, uint64_t offset, uint64_t length,
                      nfs_resop4 &r)
    {
        for (const Held &h : held) {
            const bool overlaps = offset < endOf(h.offset, h.length) && h.offset < endOf(offset, length);
            if (h.owner != owner && overlaps && (writes(type) || writes(h.type))) {
                deniedOwner_ = h.owner.substr(h.owner.find(':') + 1);
                r.nfs_resop4_u.opdenied = {h.offset, h.length, h.type,
                                           {std::stoull(h.owner.substr(0, h.owner.find(':'))),
                                            {static_cast<u_int>(deniedOwner_.size()), deniedOwner_.data()}}};
                return NFS4ERR_DENIED;
            }
        }
        return NFS4_OK;
    }
    // Over 4.0, the answer to OWNER's SEQID when it is not the next one (a new owner starts
    // anywhere): the last answer again for a replay, NFS4ERR_BAD_SEQID otherwise.
    std::optional<nfsstat4> refusal(const std::string &owner, uint32_t seqid, nfs_resop4 &r)
    {
        const auto known = owners_.find(owner);
        if (minor_ != 0 || known == owners_.end() || seqid == known->second.last + 1)
            return std::nullopt;
        if (seqid != known->second.last) {
            ++badSeqids;
            return NFS4ERR_BAD_SEQID;
        }
        ++replays;
        r.nfs_resop4_u.opstateid = known->second.stateid;
        return known->second.answer;
    }
    nfsstat4 taken(const std::string &owner, uint32_t seqid, nfsstat4 answer, const nfs_resop4 &r)
    {
        if (minor_ == 0)
            owners_[owner] = Owner{seqid, answer, r.nfs_resop4_u.opstateid};
        if (dropAnswers > 0 && answer == NFS4_OK) {
            --dropAnswers;
            dropNext_ = true;
        }
        return answer;
    }
    stateid4 stateOf(const std::string &owner)
    {
        for (const auto &[other, holder] : states_) {
            if (holder == owner)
                return stateid4{1, {other[0], other[1], other[2], other[3]}};
        }
        const std::string other = std::to_string(1000 + states_.size()).substr(0, 4);
        states_[other] = owner;
        return stateid4{1, {other[0], other[1], other[2], other[3]}};
    }
    std::optional<std::string> ownerOfState(const stateid4 &stateid)
    {
        const auto found = states_.find(std::string(stateid.other, 4));
        return found == states_.end() ? std::nullopt : std::optional(found->second);
    }

    nfsstat4 lock(const LOCK4args &lock, nfs_resop4 &r)
    {
        const bool fresh = lock.locker.new_lock_owner != 0;
        const auto &first = lock.locker.locker4_u.open_owner;
        const auto &later = lock.locker.locker4_u.lock_owner;
        const std::optional<std::string> owner = fresh ? ownerOf(first.lock_owner) : ownerOfState(later.lock_stateid);
        if (!owner)
            return NFS4ERR_BAD_STATEID;
        const uint32_t seqid = fresh ? first.lock_seqid : later.lock_seqid;
        if (const auto refused = refusal(*owner, seqid, r))
            return *refused;
        nfsstat4 answer = deniedBy(*owner, lock.locktype, lock.offset, lock.length, r);
        if (answer == NFS4_OK) {
            held.push_back(Held{*owner, lock.locktype == READW_LT   ? READ_LT
                                        : lock.locktype == WRITEW_LT ? WRITE_LT
                                                                     : lock.locktype,
                                lock.offset, lock.length});
            r.nfs_resop4_u.opstateid = stateOf(*owner);
        }
        return taken(*owner, seqid, answer, r);
    }
    nfsstat4 unlock(const LOCKU4args &unlock, nfs_resop4 &r)
    {
        const std::optional<std::string> owner = ownerOfState(unlock.lock_stateid);
        if (!owner)
            return NFS4ERR_BAD_STATEID;
        if (const auto refused = refusal(*owner, unlock.seqid, r))
            return *refused;
        std::erase_if(held, [&](const Held &h) {
            return h.owner == *owner && unlock.offset < endOf(h.offset, h.length) &&
                   h.offset < endOf(unlock.offset, unlock.length);
        });
        r.nfs_resop4_u.opstateid = stateOf(*owner);
        return taken(*owner, unlock.seqid, NFS4_OK, r);
    }
    nfsstat4 releaseOwner(const std::string &owner)
    {
        if (std::any_of(held.begin(), held.end(), [&](const Held &h) { return h.owner == owner; }))
            return NFS4ERR_LOCKS_HELD;
        ++released;
        owners_.erase(owner);
        std::erase_if(states_, [&](const auto &state) { return state.second == owner; });
        return NFS4_OK;
    }
};

#endif
