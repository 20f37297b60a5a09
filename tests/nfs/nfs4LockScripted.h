// The lock calls of the scripted version 4 server (nfs4StateFaultTest.cpp): LOCK and LOCKU
// granted, or refused with a lock of another client's owner from 100 to the end; over 4.0 each
// lock-owner's sequence ids checked as RFC 7530 section 9.1.7 has it (a replay answered with the
// last answer). Conflicts between owners are the live tests' (tests/live4). The caller
// serialises the calls.
#ifndef TESTS_NFS_NFS4LOCKSCRIPTED_H
#define TESTS_NFS_NFS4LOCKSCRIPTED_H

#include "xdr/nfs4Xdr.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

class ScriptedLocks {
public:
    int deny = 0;         // LOCKs refused with NFS4ERR_DENIED
    int dropAnswers = 0;  // LOCKs and LOCKUs granted, their compounds then left unanswered
    bool dropNow = false; // the compound just answered is left unanswered
    int replays = 0;      // 4.0 lock sequence ids that repeated the last
    int badSeqids = 0;    // 4.0 lock sequence ids neither the next nor the last
    int released = 0;     // RELEASE_LOCKOWNERs
    nfsstat4 reclaimStatus = NFS4_OK; // the answer to a LOCK with reclaim set
    std::vector<std::string> reclaimed; // "W 0+5" for each LOCK with reclaim set, as asked
    int newOwners = 0;                  // LOCKs with open_to_lock_owner4

    nfsstat4 answer(const nfs_argop4 &op, nfs_resop4 &r, uint32_t minor)
    {
        const auto &a = op.nfs_argop4_u;
        const locker4 &locker = a.oplock.locker;
        switch (op.argop) {
        case OP_LOCK: {
            nfsstat4 refusal = NFS4_OK;
            if (a.oplock.reclaim) {
                reclaimed.push_back(std::string(a.oplock.locktype == READ_LT ? "R " : "W ") +
                                    std::to_string(a.oplock.offset) + "+" + std::to_string(a.oplock.length));
                refusal = reclaimStatus;
            }
            newOwners += locker.new_lock_owner ? 1 : 0;
            if (locker.new_lock_owner) {
                const state_owner4 &owner = locker.locker4_u.open_owner.lock_owner;
                return take(std::string(owner.owner.val, owner.owner.len),
                            locker.locker4_u.open_owner.lock_seqid, minor, r, true, refusal);
            }
            return take(ownerOf(locker.locker4_u.lock_owner.lock_stateid),
                        locker.locker4_u.lock_owner.lock_seqid, minor, r, true, refusal);
        }
        case OP_LOCKU: return take(ownerOf(a.oplocku.lock_stateid), a.oplocku.seqid, minor, r, false);
        case OP_RELEASE_LOCKOWNER: ++released; return NFS4_OK;
        default: return NFS4_OK; // LOCKT
        }
    }

private:
    struct Last {
        uint32_t seqid;
        nfsstat4 answer;
    };
    std::map<std::string, Last> last_; // 4.0, by owner
    std::vector<std::string> owners_;  // a lock state id's "other" starts with its index here
    char someone_[7] = {'s', 'o', 'm', 'e', 'o', 'n', 'e'};

    std::string ownerOf(const stateid4 &stateid) const
    {
        const auto index = static_cast<unsigned char>(stateid.other[0]);
        return index < owners_.size() ? owners_[index] : std::string();
    }
    stateid4 stateOf(const std::string &owner)
    {
        auto at = std::find(owners_.begin(), owners_.end(), owner);
        if (at == owners_.end())
            at = owners_.insert(at, owner);
        return stateid4{1, {static_cast<char>(at - owners_.begin())}};
    }
    // OWNER's call with SEQID: a replay answered as the last, a sequence id out of step refused,
    // else refused with REFUSAL, or granted or refused as armed; the lock state id is the owner's.
    nfsstat4 take(const std::string &owner, uint32_t seqid, uint32_t minor, nfs_resop4 &r,
                  bool locking = true, nfsstat4 refusal = NFS4_OK)
    {
        if (owner.empty())
            return NFS4ERR_BAD_STATEID;
        r.nfs_resop4_u.opstateid = stateOf(owner);
        const auto known = last_.find(owner);
        if (minor == 0 && known != last_.end() && seqid != known->second.seqid + 1) {
            ++(seqid == known->second.seqid ? replays : badSeqids);
            return seqid == known->second.seqid ? known->second.answer : NFS4ERR_BAD_SEQID;
        }
        nfsstat4 answer = refusal;
        if (refusal == NFS4_OK && locking && deny > 0 && deny-- > 0) {
            r.nfs_resop4_u.opdenied = {100, UINT64_MAX, WRITE_LT, {7, {sizeof someone_, someone_}}};
            answer = NFS4ERR_DENIED;
        }
        if (minor == 0)
            last_[owner] = Last{seqid, answer};
        dropNow = answer == NFS4_OK && dropAnswers > 0 && dropAnswers-- > 0;
        return answer;
    }
};

#endif
