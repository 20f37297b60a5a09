// Module-private: the files open through a version 4 state, so that a server restart can give
// each its open back. An open is registered when the server grants it and leaves at its close;
// after a new client record at the server (its restart, or a lease it let lapse) every
// registered open is opened again with CLAIM_PREVIOUS during the grace period, its state id
// swapped for the new one under the state's guard. A call that failed with an open's state id
// the server no longer knows waits for that recovery and is sent again with the new one; an
// open the server would not give back fails every later call with the refusal's error number.
//
// Entries are under the state's guard (nfs4ClientState.h), never held across a server call;
// each is counted, so that a reclaim under way keeps one that its file closes meanwhile.
#ifndef NFS_STATE_NFS4OPENREGISTRY_H
#define NFS_STATE_NFS4OPENREGISTRY_H

#include "core/nfsFileHandle.h"
#include "core/nfsResult.h"
#include "xdr/nfs4Xdr.h"

#include <vector>

struct Nfs4ClientState;
struct Nfs4OpenFile;
struct Nfs4OpenOwner;

struct Nfs4OpenEntry {
    NfsFh fh;
    uint32_t access = 0; // the share access it was opened with
    // Under the state's guard:
    Nfs4OpenOwner *owner = nullptr; // the owner of the state id (a reclaim's own after one)
    stateid4 stateid{};
    uint32_t epoch = 0; // the client record (Nfs4ClientState::epoch) the state id belongs to
    int lost = 0;       // not 0: the server refused to give it back; every later call's error
    int refs = 0;       // the registry's and each reclaim pass's
    bool listed = false;
};

class Nfs4OpenRegistry {
public:
    Nfs4OpenRegistry() = default;
    ~Nfs4OpenRegistry();
    Nfs4OpenRegistry(const Nfs4OpenRegistry &) = delete;
    Nfs4OpenRegistry &operator=(const Nfs4OpenRegistry &) = delete;

    // All of these with the state's guard held.
    void add(Nfs4OpenEntry *record);
    void remove(Nfs4OpenEntry *record); // freed once no pass holds it
    // Every entry whose state id belongs to a client record before EPOCH and that is not
    // lost, each held for the caller until release().
    std::vector<Nfs4OpenEntry *> stale(uint32_t epoch);
    void release(Nfs4OpenEntry *record);
    bool empty() const { return entries_.empty(); }

private:
    std::vector<Nfs4OpenEntry *> entries_;
};

// FILE's open as granted by the client record EPOCH, registered: FILE.entry set (null where no
// memory was left: the open then goes unreclaimed, as before).
void nfs4OpenRegister(Nfs4ClientState &state, Nfs4OpenFile &file, uint32_t access, uint32_t epoch);
// FILE's open gone (closed, or never to be used again): out of the registry, FILE.entry cleared.
void nfs4OpenUnregister(Nfs4ClientState &state, Nfs4OpenFile &file);

// The state id and owner FILE's calls carry now: the registered ones (swapped by a reclaim),
// or FILE's own when it has no entry; the error of an open the server refused to give back.
struct Nfs4OpenNow {
    stateid4 stateid;
    Nfs4OpenOwner *owner;
};
nfsres::Result<Nfs4OpenNow> nfs4OpenNow(Nfs4ClientState &state, const Nfs4OpenFile &file);

// A call with FILE's state id SENT failed with ERROR: true when it is to be sent again, after
// the recovery it needed has run (waited for, or run here, within the call's time-out). Only
// NFS4ERR_STALE_STATEID, BAD_STATEID and EXPIRED are recovered from.
bool nfs4OpenRecovered(Nfs4ClientState &state, const Nfs4OpenFile &file, const stateid4 &sent, int error);

// The reclaim of every stale registered open (nfs4OpenReclaim.cpp), called with the recovery
// semaphore held once a new client record is established; then, over 4.1, RECLAIM_COMPLETE
// when the establishment left it due. Opens refused are marked lost.
void nfs4ReclaimOpens(Nfs4ClientState &state);

// One open's reclaim, with the recovery semaphore held: its new state id, or it marked lost.
void nfs4ReclaimOpen(Nfs4ClientState &state, Nfs4OpenEntry &record);

#endif
