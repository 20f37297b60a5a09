// The version 4 states of this program, one per server address and choice of minor versions,
// each with its count of users: found or made by the first user, destroyed by the last.
#include "state/nfs4ClientState.h"

#include <kernel/hostLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/semGuard.h>

#include <cstring>
#include <new>
#include <vector>

namespace {

using nfsres::Fail;
using nfsres::Result;

// Guards the list and every record's user count; the lock order is in nfs4ClientState.h.
SEM_ID registrySem()
{
    static const SEM_ID sem = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    return sem;
}

Nfs4ClientState *states = nullptr; // the registry's semaphore guards it

Nfs4ClientState *find(in_addr_t address, Nfs4Minors minors)
{
    for (Nfs4ClientState *state = states; state != nullptr; state = state->next) {
        if (state->address == address && state->minors == minors)
            return state;
    }
    return nullptr;
}

void freeRecord(Nfs4ClientState *state)
{
    if (state->guard != nullptr)
        semDelete(state->guard);
    if (state->recovery != nullptr)
        semDelete(state->recovery);
    delete state;
}

// A new record in the list, nothing established yet.
Result<Nfs4ClientState *> create(const char *host, in_addr_t address, Nfs4Minors minors)
{
    auto *state = new (std::nothrow) Nfs4ClientState;
    if (state == nullptr)
        return Fail{K_ENOMEM};
    state->address = address;
    state->minors = minors;
    std::strcpy(state->host, host); // length checked by the caller
    state->guard = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    state->recovery = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    if (state->guard == nullptr || state->recovery == nullptr || !state->slots.init()) {
        freeRecord(state);
        return Fail{K_ENOMEM};
    }
    state->next = states;
    states = state;
    return state;
}

void unlink(Nfs4ClientState *gone)
{
    for (Nfs4ClientState **at = &states; *at != nullptr; at = &(*at)->next) {
        if (*at == gone) {
            *at = gone->next;
            return;
        }
    }
}

// The record for HOST, made when there is none, with one more user.
Result<Nfs4ClientState *> join(const char *host, Nfs4Minors minors)
{
    if (host == nullptr)
        return Fail{K_HOST_UNKNOWN};
    if (std::strlen(host) >= NFS_HOST_NAME_LEN)
        return Fail{K_ENAMETOOLONG};
    const Result<int> address = nfsres::viaErrno([host] { return hostGetByName(host); });
    NFS_TRY(address);
    const auto in = static_cast<in_addr_t>(address.value());
    const SemGuard registry(registrySem());
    Nfs4ClientState *state = find(in, minors);
    if (state == nullptr) {
        const Result<Nfs4ClientState *> made = create(host, in, minors);
        NFS_TRY(made);
        state = made.value();
    }
    ++state->users;
    return state;
}

} // namespace

Result<Nfs4ClientState *> nfs4StateAcquire(const char *host, Nfs4Minors minors)
{
    const Result<Nfs4ClientState *> joined = join(host, minors);
    NFS_TRY(joined);
    Nfs4ClientState *state = joined.value();
    const nfsres::Status ready = nfs4StateReady(*state);
    if (!ready.ok()) {
        nfs4StateRelease(state);
        return ready.fail();
    }
    const SemGuard registry(registrySem());
    nfs4RenewalStart(*state);
    return state;
}

void nfs4StateRelease(Nfs4ClientState *state)
{
    if (state == nullptr)
        return;
    const SemGuard registry(registrySem());
    if (--state->users > 0)
        return;
    nfs4RenewalStop(*state);
    nfs4StateDestroy(*state);
    unlink(state);
    freeRecord(state);
}

void nfs4StatesEach(const std::function<void(Nfs4ClientState &)> &work)
{
    std::vector<Nfs4ClientState *> held;
    {
        const SemGuard registry(registrySem());
        try {
            for (Nfs4ClientState *state = states; state != nullptr; state = state->next) {
                held.push_back(state);
                ++state->users;
            }
        } catch (const std::bad_alloc &) {
            // the states held so far
        }
    }
    for (Nfs4ClientState *state : held) {
        work(*state);
        nfs4StateRelease(state);
    }
}
