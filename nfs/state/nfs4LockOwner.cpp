// The lock-owners of a state: one per task, made on its first lock, their lock states and
// their sequence ids.
#include "state/nfs4LockOwner.h"

#include "state/nfs4OpenOwner.h"

#include <kernel/semGuard.h>

#include <atomic>
#include <cstring>
#include <new>

namespace {

// Counted across every state of the program, as the open-owners' numbers are: an owner of a
// state made again never meets a sequence id the server still keeps for an earlier one.
std::atomic<uint32_t> ownerNumbers{0};

void putBig(char *at, uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i) {
        at[i] = static_cast<char>(value & 0xff);
        value >>= 8;
    }
}

uint64_t getBig(const char *at, int bytes)
{
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | static_cast<unsigned char>(at[i]);
    return value;
}

} // namespace

Nfs4LockState *Nfs4LockOwner::stateOf(const stateid4 &open)
{
    for (Nfs4LockState &state : states) {
        if (std::memcmp(state.open.data(), open.other, NFS4_OTHER_SIZE) == 0)
            return &state;
    }
    return nullptr;
}

Nfs4LockOwners::Nfs4LockOwners() : guard_(semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE)) {}

Nfs4LockOwners::~Nfs4LockOwners()
{
    for (Nfs4LockOwner &owner : list_) {
        semDelete(owner.inUse);
        semDelete(owner.guard);
    }
    if (guard_ != nullptr)
        semDelete(guard_);
}

Nfs4LockOwner *Nfs4LockOwners::currentOf(uintptr_t task)
{
    for (Nfs4LockOwner &owner : list_) {
        if (owner.task == task && !owner.retired)
            return &owner;
    }
    return nullptr;
}

Nfs4LockOwner *Nfs4LockOwners::find(uintptr_t task)
{
    if (guard_ == nullptr)
        return nullptr;
    const SemGuard guard(guard_);
    return currentOf(task);
}

Nfs4LockOwner *Nfs4LockOwners::ofTask(uintptr_t task)
{
    if (guard_ == nullptr)
        return nullptr;
    const SemGuard guard(guard_);
    if (Nfs4LockOwner *found = currentOf(task))
        return found;
    const SEM_ID inUse = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    const SEM_ID ownGuard = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    if (inUse == nullptr || ownGuard == nullptr) {
        if (inUse != nullptr)
            semDelete(inUse);
        if (ownGuard != nullptr)
            semDelete(ownGuard);
        return nullptr;
    }
    try {
        Nfs4LockOwner &owner = list_.emplace_back();
        owner.task = task;
        owner.inUse = inUse;
        owner.guard = ownGuard;
        putBig(owner.bytes, task, 8);
        putBig(owner.bytes + 8, ownerNumbers.fetch_add(1) + 1, 4);
        return &owner;
    } catch (const std::bad_alloc &) {
        semDelete(inUse);
        semDelete(ownGuard);
        return nullptr;
    }
}

void Nfs4LockOwners::retire(Nfs4LockOwner &owner)
{
    const SemGuard guard(guard_);
    owner.retired = true;
}

std::size_t Nfs4LockOwners::made()
{
    const SemGuard guard(guard_);
    return list_.size();
}

std::vector<uintptr_t> Nfs4LockOwners::tasks()
{
    std::vector<uintptr_t> found;
    const SemGuard guard(guard_);
    try {
        for (const Nfs4LockOwner &owner : list_) {
            if (!owner.retired)
                found.push_back(owner.task);
        }
    } catch (const std::bad_alloc &) {
        // the tasks found so far
    }
    return found;
}

std::vector<Nfs4LockOwner *> Nfs4LockOwners::current()
{
    std::vector<Nfs4LockOwner *> found;
    const SemGuard guard(guard_);
    try {
        for (Nfs4LockOwner &owner : list_) {
            if (!owner.retired)
                found.push_back(&owner);
        }
    } catch (const std::bad_alloc &) {
        // the owners found so far
    }
    return found;
}

state_owner4 nfs4LockOwnerOf(Nfs4LockOwner &owner, clientid4 client)
{
    return state_owner4{client, Nfs4Bytes{Nfs4LockOwner::kBytes, owner.bytes}};
}

uintptr_t nfs4LockOwnerTask(const state_owner4 &owner, clientid4 client)
{
    if (owner.clientid != client || owner.owner.len != Nfs4LockOwner::kBytes || owner.owner.val == nullptr)
        return 0;
    return static_cast<uintptr_t>(getBig(owner.owner.val, 8));
}

Nfs4LockSeqidUse::Nfs4LockSeqidUse(Nfs4LockOwner &owner, uint32_t minor, int ticks)
    : owner_(owner), minor_(minor), held_(semTake(owner.inUse, ticks) == 0)
{
    if (!held_)
        return;
    const SemGuard guard(owner.guard);
    for (auto held = owner.states.begin(); held != owner.states.end();) {
        const auto next = std::next(held);
        if (held->dropped) {
            owner.states.erase(held);
        } else if (held->reclaimed) {
            held->stateid = held->reclaimedId;
            held->open = held->reclaimedOpen;
            held->reclaimed = false;
        }
        held = next;
    }
}

Nfs4LockSeqidUse::~Nfs4LockSeqidUse()
{
    if (held_)
        semGive(owner_.inUse);
}

void Nfs4LockSeqidUse::settle(const Nfs4Reply &reply, u_int index, Nfs4LockOwners &owners)
{
    if (minor_ != 0)
        return;
    if (!reply.answered()) {
        owners.retire(owner_);
        return;
    }
    if (reply.count() <= index)
        return;
    const nfsstat4 status = reply[index].status;
    if (status == NFS4ERR_BAD_SEQID)
        owners.retire(owner_);
    else if (!nfs4LeavesSeqid(status))
        ++owner_.seqid;
}
