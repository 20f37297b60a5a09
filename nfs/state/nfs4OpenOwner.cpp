// The open-owners of a state: one per task, made on its first open, and their sequence ids.
#include "state/nfs4OpenOwner.h"

#include <kernel/semGuard.h>
#include <kernel/taskLib.h>

#include <atomic>
#include <new>

namespace {

// The owners' numbers count up across every state of the program: a state made again for a
// server gets the same 4.0 client id back (same client owner, same verifier), and an owner name
// of the earlier state would meet the sequence id the server still keeps for it.
std::atomic<uint32_t> ownerNumbers{0};

void putBig(char *at, uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i) {
        at[i] = static_cast<char>(value & 0xff);
        value >>= 8;
    }
}

} // namespace

bool nfs4LeavesSeqid(nfsstat4 status)
{
    switch (status) {
    case NFS4ERR_STALE_CLIENTID:
    case NFS4ERR_STALE_STATEID:
    case NFS4ERR_BAD_STATEID:
    case NFS4ERR_BAD_SEQID:
    case NFS4ERR_BADXDR:
    case NFS4ERR_RESOURCE:
    case NFS4ERR_NOFILEHANDLE:
    case NFS4ERR_MOVED: return true;
    default: return false;
    }
}

Nfs4OpenOwners::Nfs4OpenOwners() : guard_(semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE)) {}

Nfs4OpenOwners::~Nfs4OpenOwners()
{
    for (Nfs4OpenOwner &owner : list_)
        semDelete(owner.inUse);
    if (guard_ != nullptr)
        semDelete(guard_);
}

Nfs4OpenOwner *Nfs4OpenOwners::ofTask()
{
    const TaskRecord *task = taskIdCurrent();
    if (guard_ == nullptr || task == nullptr)
        return nullptr;
    const SemGuard guard(guard_);
    for (Nfs4OpenOwner &owner : list_) {
        if (owner.task == task->taskId && !owner.retired)
            return &owner;
    }
    return append(task->taskId, false);
}

Nfs4OpenOwner *Nfs4OpenOwners::spare()
{
    if (guard_ == nullptr)
        return nullptr;
    const SemGuard guard(guard_);
    return append(0, true);
}

// A new owner in the list for TASK (the caller holds the guard); a retired one is never a
// task's current owner.
Nfs4OpenOwner *Nfs4OpenOwners::append(uintptr_t task, bool retired)
{
    const SEM_ID inUse = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    if (inUse == nullptr)
        return nullptr;
    try {
        Nfs4OpenOwner &owner = list_.emplace_back();
        owner.task = task;
        owner.retired = retired;
        owner.inUse = inUse;
        putBig(owner.bytes, task, 8);
        putBig(owner.bytes + 8, ownerNumbers.fetch_add(1) + 1, 4);
        return &owner;
    } catch (const std::bad_alloc &) {
        semDelete(inUse);
        return nullptr;
    }
}

void Nfs4OpenOwners::retire(Nfs4OpenOwner &owner)
{
    const SemGuard guard(guard_);
    owner.retired = true;
}

std::size_t Nfs4OpenOwners::made()
{
    const SemGuard guard(guard_);
    return list_.size();
}

Nfs4SeqidUse::Nfs4SeqidUse(Nfs4OpenOwner &owner, uint32_t minor, int ticks)
    : owner_(owner), minor_(minor), held_(semTake(owner.inUse, ticks) == 0)
{
}

Nfs4SeqidUse::~Nfs4SeqidUse()
{
    if (held_)
        semGive(owner_.inUse);
}

void Nfs4SeqidUse::settle(const Nfs4Reply &reply, u_int index, Nfs4OpenOwners &owners)
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

state_owner4 nfs4OwnerOf(Nfs4OpenOwner &owner, clientid4 client)
{
    return state_owner4{client, Nfs4Bytes{Nfs4OpenOwner::kBytes, owner.bytes}};
}
