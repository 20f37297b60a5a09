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

bool sameStateid(const stateid4 &a, const stateid4 &b)
{
    return a.seqid == b.seqid && std::memcmp(a.other, b.other, sizeof a.other) == 0;
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

void nfs4OpenRegister(Nfs4ClientState &state, Nfs4OpenFile &file, uint32_t access, uint32_t epoch)
{
    auto *record = new (std::nothrow) Nfs4OpenEntry;
    if (record == nullptr)
        return;
    record->fh = file.fh;
    record->access = access;
    record->owner = file.owner;
    record->stateid = file.stateid;
    record->epoch = epoch;
    const SemGuard guard(state.guard);
    try {
        state.opens.add(record);
    } catch (const std::bad_alloc &) {
        delete record;
        return;
    }
    file.entry = record;
}

void nfs4OpenUnregister(Nfs4ClientState &state, Nfs4OpenFile &file)
{
    if (file.entry == nullptr)
        return;
    const SemGuard guard(state.guard);
    state.opens.remove(file.entry);
    file.entry = nullptr;
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
    if (record == nullptr || !staleStateid(error))
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
