// Module-private: the lock-owners of a version 4 state. Each task locks as an owner of its own
// (the kernel layer's lock owner is the task), named like an open-owner by the task's id and a
// number counted up across the program; the client id tells this program from others. An owner
// keeps one lock state per open file it locked through (the server's lock state id for the
// open and the owner). Over 4.0 an owner's lock sequence id orders its LOCK and LOCKU as an
// open-owner's does its OPEN and CLOSE (RFC 7530 section 9.1.7); over 4.1 it is sent as 0.
//
// Locks, in the order they are taken (before an open-owner's, nfs4OpenOwner.h):
// - an owner's inUse: its sequence id and its lock states, held across each call about them;
// - the owners' guard: the list and each owner's retired flag; never held across a call;
// - an owner's guard: the ranges its lock states hold and what a reclaim left for them, and
//   the list of its states as it grows and shrinks (changed with inUse held as well); never
//   held across a call. A server restart's reclaim runs under the state's recovery semaphore,
//   which a task may wait for while it holds its owner's inUse: the reclaim reads and writes
//   the owner under this guard alone.
#ifndef NFS_STATE_NFS4LOCKOWNER_H
#define NFS_STATE_NFS4LOCKOWNER_H

#include "core/nfsFileHandle.h"
#include "state/nfs4Compound.h"
#include "state/nfs4LockRanges.h"

#include <kernel/semLib.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <list>
#include <vector>

using Nfs4StateOther = std::array<char, NFS4_OTHER_SIZE>;

// The locks of one owner through one open file.
struct Nfs4LockState {
    NfsFh fh;
    Nfs4StateOther open{}; // the open state's "other": which open the locks go with
    stateid4 stateid{};    // the lock state id the server gave, its seqid the latest
    // Under the owner's guard:
    Nfs4LockRanges ranges; // what the owner holds through it, as granted and released
    // A server restart's reclaim (nfs4LockReclaim.cpp) done: the new lock state id and open,
    // or, when nothing came back, the state to be forgotten; taken up by the owner's next call.
    bool reclaimed = false;
    bool dropped = false;
    stateid4 reclaimedId{};
    Nfs4StateOther reclaimedOpen{};
};

struct Nfs4LockOwner {
    static constexpr u_int kBytes = 16; // task id (8 bytes) and number (4), big-endian, padded
    uintptr_t task = 0;
    bool retired = false;            // under the owners' guard: no new lock takes this owner
    SEM_ID inUse = nullptr;          // held across each call that carries the sequence id
    SEM_ID guard = nullptr;          // short: ranges and reclaims (above)
    // The next lock sequence id to send (4.0): advanced under inUse, or by a reclaim, which
    // cannot take inUse (the server takes what a new owner sends, and no call of the owner's
    // gets through with a lock state of before the restart).
    std::atomic<uint32_t> seqid{0};
    std::list<Nfs4LockState> states; // under inUse; changed under guard as well
    char bytes[kBytes] = {};

    // Under inUse: the lock state of the open OPEN, null when there is none.
    Nfs4LockState *stateOf(const stateid4 &open);
};

class Nfs4LockOwners {
public:
    Nfs4LockOwners();
    ~Nfs4LockOwners();
    Nfs4LockOwners(const Nfs4LockOwners &) = delete;
    Nfs4LockOwners &operator=(const Nfs4LockOwners &) = delete;

    // TASK's owner: its current one, or a new one (null when none can be made). Owners live as
    // long as the state, so that a lock state keeps the owner that holds it.
    Nfs4LockOwner *ofTask(uintptr_t task);
    // TASK's current owner, null when it has none.
    Nfs4LockOwner *find(uintptr_t task);
    // OWNER is given up (released at the server, or its sequence id in doubt): the task's next
    // lock takes a new owner.
    void retire(Nfs4LockOwner &owner);
    // The owners made so far, retired ones included.
    std::size_t made();
    // The tasks that have a current owner.
    std::vector<uintptr_t> tasks();
    // The current owners (the reclaim's list; owners live as long as the state).
    std::vector<Nfs4LockOwner *> current();

private:
    Nfs4LockOwner *currentOf(uintptr_t task); // under guard_
    SEM_ID guard_ = nullptr;
    std::list<Nfs4LockOwner> list_;
};

// The lock_owner4 of OWNER under CLIENT.
state_owner4 nfs4LockOwnerOf(Nfs4LockOwner &owner, clientid4 client);
// The task of a lock_owner4 this program made under CLIENT; 0 for another's.
uintptr_t nfs4LockOwnerTask(const state_owner4 &owner, clientid4 client);

// One call that carries OWNER's lock sequence id: the owner held for it (and its lock states);
// the id to send (0 over 4.1), and after the answer the id advanced as the answer says.
class Nfs4LockSeqidUse {
public:
    // Once held, what a reclaim left for the owner's lock states is taken up.
    Nfs4LockSeqidUse(Nfs4LockOwner &owner, uint32_t minor, int ticks);
    ~Nfs4LockSeqidUse();
    Nfs4LockSeqidUse(const Nfs4LockSeqidUse &) = delete;
    Nfs4LockSeqidUse &operator=(const Nfs4LockSeqidUse &) = delete;

    bool held() const { return held_; }
    uint32_t minor() const { return minor_; }
    uint32_t seqid() const { return minor_ == 0 ? owner_.seqid.load() : 0; }
    Nfs4LockOwner &owner() const { return owner_; }
    // After the call: the result at INDEX of REPLY, where the LOCK or LOCKU stands, advances
    // the id as nfs4LeavesSeqid says; an operation not reached leaves it; no answer, or
    // NFS4ERR_BAD_SEQID, puts it in doubt and OWNERS retire the owner.
    void settle(const Nfs4Reply &reply, u_int index, Nfs4LockOwners &owners);

private:
    Nfs4LockOwner &owner_;
    uint32_t minor_;
    bool held_;
};

#endif
