// Module-private: the open-owners of a version 4 state. Each task opens files as an owner of
// its own, named by the task's id and a number counted up across the program, so that an owner
// given up (its sequence id in doubt), or one of a state made again, is one the server has
// never seen. Over 4.0 an owner's
// sequence id orders its OPEN, OPEN_CONFIRM and CLOSE (RFC 7530 section 9.1.7); over 4.1 the
// session orders every call and the sequence id sent is 0.
//
// Locks, in the order they are taken (before every lock of nfs4ClientState.h):
// - an owner's inUse: its sequence id, held across the one call that carries it;
// - the owners' guard: the list and each owner's retired flag; never held across a call.
#ifndef NFS_STATE_NFS4OPENOWNER_H
#define NFS_STATE_NFS4OPENOWNER_H

#include "state/nfs4Compound.h"

#include <kernel/semLib.h>

#include <cstdint>
#include <list>

struct Nfs4OpenOwner {
    static constexpr u_int kBytes = 16; // "task" id (8 bytes) and number (4), big-endian, padded
    uintptr_t task = 0;
    bool retired = false;   // under the owners' guard: no new open takes this owner
    SEM_ID inUse = nullptr; // held across each call that carries the sequence id
    uint32_t seqid = 0;     // under inUse: the next sequence id to send (4.0)
    char bytes[kBytes] = {};
};

class Nfs4OpenOwners {
public:
    Nfs4OpenOwners();
    ~Nfs4OpenOwners();
    Nfs4OpenOwners(const Nfs4OpenOwners &) = delete;
    Nfs4OpenOwners &operator=(const Nfs4OpenOwners &) = delete;

    // The calling task's owner: its current one, or a new one (null when none can be made).
    // Owners live as long as the state, so that an open file keeps the one that opened it.
    Nfs4OpenOwner *ofTask();
    // A new owner of no task, for the reclaims of a recovery (whose task must not wait on an
    // owner that a task waiting for the recovery holds); null when none can be made.
    Nfs4OpenOwner *spare();
    // OWNER's sequence id is in doubt: the task's next open takes a new owner.
    void retire(Nfs4OpenOwner &owner);
    // The owners made so far, retired ones included.
    std::size_t made();

private:
    Nfs4OpenOwner *append(uintptr_t task, bool retired);
    SEM_ID guard_ = nullptr;
    std::list<Nfs4OpenOwner> list_;
};

// One call that carries OWNER's sequence id: the owner held for it; the id to send (0 over
// 4.1), and after the answer the id advanced as the answer says.
class Nfs4SeqidUse {
public:
    Nfs4SeqidUse(Nfs4OpenOwner &owner, uint32_t minor, int ticks);
    ~Nfs4SeqidUse();
    Nfs4SeqidUse(const Nfs4SeqidUse &) = delete;
    Nfs4SeqidUse &operator=(const Nfs4SeqidUse &) = delete;

    bool held() const { return held_; }
    uint32_t seqid() const { return minor_ == 0 ? owner_.seqid : 0; }
    // After the call: the result at INDEX of REPLY, where the operation that carried the id
    // stands. A result advances the id unless its status is one of those RFC 7530 section 9.1.7
    // leaves it alone on; an operation not reached leaves it; no answer at all puts it in doubt,
    // and OWNERS retire the owner.
    void settle(const Nfs4Reply &reply, u_int index, Nfs4OpenOwners &owners);

private:
    Nfs4OpenOwner &owner_;
    uint32_t minor_;
    bool held_;
};

// RFC 7530 section 9.1.7: the statuses after which the server leaves a 4.0 owner's sequence id
// as it was (an open-owner's and a lock-owner's alike).
bool nfs4LeavesSeqid(nfsstat4 status);

// The open-owner of state_owner4 for OWNER under CLIENT.
state_owner4 nfs4OwnerOf(Nfs4OpenOwner &owner, clientid4 client);

#endif
