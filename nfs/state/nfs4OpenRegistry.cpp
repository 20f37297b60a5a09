// The opens of a version 4 state as a restart finds them: registered, their state ids read and
// swapped under the state's guard, and a call whose state id the server no longer knows sent
// again once the recovery has given the open a new one.
#include "state/nfs4OpenRegistry.h"

#include "state/nfs4FileOpen.h"
#include "state/nfs4Resend.h"

#include <kernel/kernelErrno.h>
#include <kernel/semGuard.h>

#include <algorithm>
#include <cstring>
#include <new>

namespace {

using nfsres::Fail;
using nfsres::Result;

bool sameOpen(const stateid4 &a, const stateid4 &b)
{
    return std::memcmp(a.other, b.other, sizeof a.other) == 0;
}

bool sameStateid(const stateid4 &a, const stateid4 &b)
{
    return a.seqid == b.seqid && sameOpen(a, b);
}

// The newer of two state ids of one open: its sequence id only grows (and wraps past 0).
void takeNewer(stateid4 &held, const stateid4 &granted)
{
    if (static_cast<int32_t>(granted.seqid - held.seqid) > 0)
        held.seqid = granted.seqid;
}

// The statuses of a state id from before a restart, or of state the server let go.
bool staleStateid(int error)
{
    return error == nfs4Error(NFS4ERR_STALE_STATEID) || error == nfs4Error(NFS4ERR_BAD_STATEID) ||
           error == nfs4Error(NFS4ERR_EXPIRED);
}

} // namespace

Nfs4OpenRegistry::~Nfs4OpenRegistry()
{
    for (Nfs4OpenEntry *record : entries_)
        delete record;
}

void Nfs4OpenRegistry::add(Nfs4OpenEntry *record)
{
    entries_.push_back(record);
    record->listed = true;
    ++record->refs;
}

void Nfs4OpenRegistry::remove(Nfs4OpenEntry *record)
{
    const auto at = std::find(entries_.begin(), entries_.end(), record);
    if (at == entries_.end())
        return;
    entries_.erase(at);
    record->listed = false;
    release(record);
}

std::vector<Nfs4OpenEntry *> Nfs4OpenRegistry::stale(uint32_t epoch)
{
    std::vector<Nfs4OpenEntry *> out;
    out.reserve(entries_.size()); // the only allocation: no entry counted for a list not made
    for (Nfs4OpenEntry *record : entries_) {
        if (record->epoch != epoch && record->lost == 0) {
            out.push_back(record);
            ++record->refs;
        }
    }
    return out;
}

void Nfs4OpenRegistry::release(Nfs4OpenEntry *record)
{
    if (--record->refs == 0)
        delete record;
}

Nfs4OpenEntry *Nfs4OpenRegistry::sharedBy(const NfsFh &fh, const Nfs4OpenOwner *owner,
                                          const stateid4 &stateid, uint32_t epoch) const
{
    for (Nfs4OpenEntry *record : entries_) {
        if (record->owner == owner && record->epoch == epoch && record->lost == 0 && !record->closing &&
            sameOpen(record->stateid, stateid) && record->fh == fh)
            return record;
    }
    return nullptr;
}

bool nfs4OpenRegister(Nfs4ClientState &state, Nfs4OpenFile &file, uint32_t access, uint32_t epoch)
{
    {
        const SemGuard guard(state.guard);
        if (Nfs4OpenEntry *shared = state.opens.sharedBy(file.fh, file.owner, file.stateid, epoch)) {
            takeNewer(shared->stateid, file.stateid);
            shared->access |= access;
            ++shared->opens;
            file.stateid = shared->stateid;
            file.entry = shared;
            file.locksLostTold = shared->locksLostCount; // losses before it are not its own
            return true;
        }
    }
    auto *record = new (std::nothrow) Nfs4OpenEntry;
    if (record == nullptr)
        return false;
    record->fh = file.fh;
    record->access = access;
    record->owner = file.owner;
    record->stateid = file.stateid;
    record->epoch = epoch;
    record->opens = 1;
    const SemGuard guard(state.guard);
    try {
        state.opens.add(record);
    } catch (const std::bad_alloc &) {
        delete record;
        return false;
    }
    file.entry = record;
    return true;
}

bool nfs4OpenNoteShared(Nfs4ClientState &state, const Nfs4OpenFile &file, uint32_t access, uint32_t epoch)
{
    const SemGuard guard(state.guard);
    Nfs4OpenEntry *shared = state.opens.sharedBy(file.fh, file.owner, file.stateid, epoch);
    if (shared == nullptr)
        return false;
    takeNewer(shared->stateid, file.stateid);
    shared->access |= access;
    return true;
}

// No OPEN_DOWNGRADE goes out while other open files share the open: the server's open keeps
// the union of their access until the last CLOSE, which a reclaim asks for again.
Nfs4Leave nfs4OpenLeave(Nfs4ClientState &state, Nfs4OpenFile &file, const Nfs4OpenOwner &owner,
                        stateid4 *stateid)
{
    Nfs4OpenEntry *record = file.entry;
    if (record == nullptr) {
        *stateid = file.stateid;
        return Nfs4Leave::last;
    }
    const SemGuard guard(state.guard);
    if (record->opens > 1) {
        --record->opens;
        file.entry = nullptr;
        return Nfs4Leave::kept;
    }
    if (record->owner != &owner)
        return Nfs4Leave::moved;
    record->closing = true;
    *stateid = record->stateid;
    return Nfs4Leave::last;
}

void nfs4OpenUnregister(Nfs4ClientState &state, Nfs4OpenFile &file)
{
    if (file.entry == nullptr)
        return;
    const SemGuard guard(state.guard);
    if (--file.entry->opens <= 0)
        state.opens.remove(file.entry);
    file.entry = nullptr;
}

int nfs4OpenLocksLostTold(Nfs4ClientState &state, Nfs4OpenFile &file)
{
    if (file.entry == nullptr)
        return 0;
    const SemGuard guard(state.guard);
    if (file.locksLostTold == file.entry->locksLostCount)
        return 0;
    file.locksLostTold = file.entry->locksLostCount;
    return file.entry->locksLost;
}

Result<Nfs4OpenNow> nfs4OpenNow(Nfs4ClientState &state, const Nfs4OpenFile &file)
{
    if (file.entry == nullptr)
        return Nfs4OpenNow{file.stateid, file.owner};
    const SemGuard guard(state.guard);
    if (file.entry->lost != 0)
        return Fail{file.entry->lost};
    return Nfs4OpenNow{file.entry->stateid, file.entry->owner};
}

bool nfs4OpenRecovered(Nfs4ClientState &state, const Nfs4OpenFile &file, const stateid4 &sent, int error)
{
    Nfs4OpenEntry *record = file.entry;
    if (record == nullptr)
        return false;
    if (error == nfs4Error(NFS4ERR_OLD_STATEID)) {
        const SemGuard guard(state.guard);
        return sameOpen(record->stateid, sent) && record->stateid.seqid != sent.seqid;
    }
    if (!staleStateid(error))
        return false;
    // A recovery under way holds this: its end is waited for.
    const SemGuard recovery(state.recovery, nfs4CallTicks());
    if (!recovery.held())
        return false;
    bool unnoticed = false; // the state id is of the client record of now: no recovery ran
    {
        const SemGuard guard(state.guard);
        if (record->lost != 0 || !sameStateid(record->stateid, sent))
            return true; // the next try meets the new state id, or the open's error
        if (record->epoch == state.epoch) {
            if (error == nfs4Error(NFS4ERR_BAD_STATEID))
                return false; // a state id the server never gave: nothing to recover
            // The server has let this client's state go, or restarted without the client
            // having seen it yet (4.0): a new client record, and every open reclaimed.
            state.clientUsable = state.sessionUsable = false;
            unnoticed = true;
        }
    }
    if (unnoticed)
        return nfs4StateEstablish(state).ok();
    // An open the recovery's pass missed (registered as it ran): reclaimed now.
    nfs4ReclaimOpen(state, *record);
    return true;
}
