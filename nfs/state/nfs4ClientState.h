// Module-private: the version 4 state of this client at one server, shared by every task that
// uses that server: the client id (4.1: EXCHANGE_ID; 4.0: SETCLIENTID and its confirmation), the
// 4.1 session with its slot table, the lease and the task that renews it.
//
// Locks, in the order they are taken (after a lock-owner's and an open-owner's, nfs4LockOwner.h):
// - recovery: held by the one task that establishes or re-establishes the client id or session,
//   across those server calls; the others wait on it, then find the state usable;
// - the registry's semaphore (nfs4StateRegistry.cpp): the list of records and their user
//   counts; held across the teardown's two calls when the last user goes, so that a new user of
//   that server never meets a state half destroyed;
// - guard: every member below it and the registry's entries; never held across a server call;
// - a slot's semaphore (nfs4SlotTable.h).
#ifndef NFS_STATE_NFS4CLIENTSTATE_H
#define NFS_STATE_NFS4CLIENTSTATE_H

#include "state/nfs4Compound.h"
#include "state/nfs4LockOwner.h"
#include "state/nfs4OpenRegistry.h"
#include "state/nfs4OpenOwner.h"
#include "state/nfs4SlotTable.h"

#include <brisnel/nfsConfigLib.h>
#include <kernel/semLib.h>

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

// Which minor versions a state may use: 4.1, then 4.0 when the server refuses 4.1; or 4.0 alone;
// or 4.1 alone.
enum class Nfs4Minors { Automatic, Only40, Only41 };

// What a compound of one READ or WRITE takes besides its data: the call's header with its
// credential, SEQUENCE, PUTFH of the largest handle, the operation's own fields.
constexpr uint32_t kNfs4CompoundRoom = 2048;

struct Nfs4ClientState {
    using Clock = std::chrono::steady_clock;

    // Fixed at creation: the server, by address, and the minor versions asked for.
    in_addr_t address = 0;
    char host[NFS_HOST_NAME_LEN] = {};
    Nfs4Minors minors = Nfs4Minors::Automatic;
    Nfs4ClientState *next = nullptr; // the registry's list
    int users = 0;                   // the registry's semaphore guards it

    SEM_ID recovery = nullptr;
    SEM_ID guard = nullptr;
    // Under guard:
    bool clientUsable = false;  // the client id is established
    bool sessionUsable = false; // 4.1: the session is established
    uint32_t minor = 1;         // the minor version agreed
    clientid4 clientId = 0;
    uint32_t createSequence = 0; // 4.1: csa_sequence of the next CREATE_SESSION
    sessionid4 session = {};
    uint32_t generation = 0; // one more at each establishment of a session or 4.0 client id
    uint32_t clientIds = 0;  // client ids established, for the tests
    uint32_t epoch = 0;      // one more at each new client record the server made (a restart)
    bool reclaiming = false; // the recovery's holder is reclaiming the registered opens
    bool reclaimCompleteDue = false; // 4.1: RECLAIM_COMPLETE to follow the reclaims
    Nfs4OpenRegistry opens;
    uint32_t leaseSec = 90;
    uint32_t maxRequest = 0; // 4.1: the session's largest request and reply (0: no limit known)
    uint32_t maxResponse = 0;
    Clock::time_point renewed{}; // the lease's last renewal the server confirmed
    Nfs4SlotTable slots;
    Nfs4OpenOwners openOwners; // under their own locks
    Nfs4LockOwners lockOwners; // under their own locks

    // The renewal task: started with the first establishment, stopped by the last user.
    std::thread renewal;
    std::atomic<bool> stopRenewal{false};
};

// A user of HOST's state (made and established on first use, or found): the state, or the
// failure of its establishment. Every acquisition is released once.
nfsres::Result<Nfs4ClientState *> nfs4StateAcquire(const char *host, Nfs4Minors minors);
// The user goes; the last one stops the renewal, destroys the session and the client id on the
// server (4.1) and frees the record.
void nfs4StateRelease(Nfs4ClientState *state);

// WORK run on each state of the program in turn, each held by one more user meanwhile (the
// registry's semaphore is not held across it): a dying task's locks released wherever it has any.
void nfs4StatesEach(const std::function<void(Nfs4ClientState &)> &work);

// OPS[0..N) (at most NFS4_MAX_OPS - 1) as one compound of the state's minor version: 4.1 with a
// SEQUENCE in front on a free slot. The slot's and session's faults are handled here (the server
// busy, a slot or sequence id refused, a session or client id lost: re-established), within the
// call's time-out; the result is that of nfs4CompoundCall, REPLY counting from OPS[0].
nfsres::Status nfs4StateCall(Nfs4ClientState &state, const nfs_argop4 *ops, u_int n, Nfs4Reply &reply);

// One of the compounds nfs4StateCallsTogether sends: the caller's operations after the place of
// a SEQUENCE (ops[0]), where the data of its READ lands, and what became of it.
struct Nfs4Together {
    static constexpr u_int kMostOps = 3;
    enum class Outcome {
        Unsent, // no slot was free for it
        Done,   // its status in the replies is its answer
        Again,  // a slot, session or client id fault, settled: to be sent again
        Pause,  // the server was busy (NFS4ERR_DELAY): to be sent again after a pause
    };
    nfs_argop4 ops[1 + kMostOps]{};
    u_int n = 0; // the caller's operations, from ops[1]
    char *readBuffer = nullptr;
    u_int readCapacity = 0;
    Outcome outcome = Outcome::Unsent;
};

// CALLS[0..N) (at most Nfs4Compounds::kMost), operations that name neither a client id nor an
// open-owner's sequence id (PUTFH, READ, WRITE), sent together, their replies in REPLIES at
// their indexes, counted from the caller's first operation. Over 4.1 each goes on a slot of its
// own with its SEQUENCE: the first waits for a slot as nfs4StateCall's call does, the later ones
// take only the slots free now (the rest stay Unsent, at the end); over 4.0 all go. Each call
// sent settles its slot, session and client id as nfs4StateCall settles its one. Fails, with
// nothing sent, when the state cannot be made usable or no slot frees within the call's
// time-out.
nfsres::Status nfs4StateCallsTogether(Nfs4ClientState &state, Nfs4Together *calls, std::size_t n,
                                      Nfs4Compounds &replies);

// The state established, by this task or another, within the call's time-out.
nfsres::Status nfs4StateReady(Nfs4ClientState &state);

// Establishment (nfs4ClientId.cpp), called with recovery held and guard not: a new client id
// when the state has none, then a new session (4.1) when it has none; after a new client record
// at the server, the registered opens reclaimed (nfs4OpenRegistry.h) before recovery is given.
nfsres::Status nfs4StateEstablish(Nfs4ClientState &state);
// Teardown on the server: DESTROY_SESSION, DESTROY_CLIENTID (4.1; a 4.0 client id lapses with
// its lease). Neither semaphore held by the caller but the registry's.
void nfs4StateDestroy(Nfs4ClientState &state);

// The renewal task of a state (nfs4LeaseRenewal.cpp): started once the state is established,
// stopped by the last user.
void nfs4RenewalStart(Nfs4ClientState &state);
void nfs4RenewalStop(Nfs4ClientState &state);

// The state's semaphore wait in ticks for what is left until DEADLINE, at least one.
int nfs4TicksUntil(Nfs4ClientState::Clock::time_point deadline);

#endif
