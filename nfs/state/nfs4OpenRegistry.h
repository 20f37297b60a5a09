// Module-private: the files open through a version 4 state, so that a server restart can give
// each its open back. An open is registered when the server grants it and leaves at its close;
// after a new client record at the server (its restart, or a lease it let lapse) every
// registered open is opened again with CLAIM_PREVIOUS during the grace period, its state id
// swapped for the new one under the state's guard. A call that failed with an open's state id
// the server no longer knows waits for that recovery and is sent again with the new one; an
// open the server would not give back fails every later call with the refusal's error number.
//
// One entry stands for one open at the server: the opens of one file by one open-owner, which
// the server answers with one open state (RFC 7530 section 9.1.4, RFC 8881 section 9.1.4.2),
// share it, counted, with the union of the access they asked; its CLOSE goes with the last.
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
    // Under the state's guard:
    uint32_t access = 0;            // the share access the server's open holds: every sharer's, joined
    Nfs4OpenOwner *owner = nullptr; // the owner of the state id (a reclaim's own after one)
    stateid4 stateid{};
    uint32_t epoch = 0;   // the client record (Nfs4ClientState::epoch) the state id belongs to
    int lost = 0;         // not 0: the server refused to give it back; every later call's error
    // A lock held through it that a restart's reclaim did not get back: the error each open
    // file sharing it is told once (nfs4OpenLocksLostTold), counted so that each tells it.
    int locksLost = 0;
    uint32_t locksLostCount = 0;
    int refs = 0;         // the registry's and each reclaim pass's
    int opens = 0;        // the open files sharing it
    bool closing = false; // its last open file is giving it back: no new open joins it
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
    // The entry a new open of FH by OWNER, granted STATEID by the client record EPOCH, shares:
    // the one of the same open at the server (same owner and file, same "other"); null for none.
    Nfs4OpenEntry *sharedBy(const NfsFh &fh, const Nfs4OpenOwner *owner, const stateid4 &stateid,
                            uint32_t epoch) const;

private:
    std::vector<Nfs4OpenEntry *> entries_;
};

// FILE's open with ACCESS as granted by the client record EPOCH, registered, with its owner's
// sequence id held (so that no CLOSE of that owner goes out meanwhile): it joins the entry of
// the same server open when there is one (the newer state id kept, the access joined), or
// makes one. FILE.entry and FILE.stateid are set; false where no memory was left.
bool nfs4OpenRegister(Nfs4ClientState &state, Nfs4OpenFile &file, uint32_t access, uint32_t epoch);
// An OPEN by FILE's owner that was granted but is not kept (its file unusable): the entry it
// would share learns the newer state id and the access the server now holds; true when there
// was one, and the server's open is not to be closed.
bool nfs4OpenNoteShared(Nfs4ClientState &state, const Nfs4OpenFile &file, uint32_t access, uint32_t epoch);
// How FILE's close goes, decided with OWNER's sequence id held (OWNER the entry's owner as
// read before): other open files keep the open (FILE is out of it, nothing to send); FILE is
// the last (the state id for the CLOSE in *STATEID, the newest); or a reclaim gave the entry
// another owner meanwhile (to be read again).
enum class Nfs4Leave { kept, last, moved };
Nfs4Leave nfs4OpenLeave(Nfs4ClientState &state, Nfs4OpenFile &file, const Nfs4OpenOwner &owner,
                        stateid4 *stateid);
// FILE's part in its open gone (closed, or never to be used again): the entry's count down,
// out of the registry with the last, FILE.entry cleared.
void nfs4OpenUnregister(Nfs4ClientState &state, Nfs4OpenFile &file);

// The error of a lock lost through FILE's open since FILE was last told (K_ENOLCK), once; 0
// when there is none. With FILE's own lock held (it notes what it was told).
int nfs4OpenLocksLostTold(Nfs4ClientState &state, Nfs4OpenFile &file);

// The state id and owner FILE's calls carry now: the registered ones (swapped by a reclaim),
// or FILE's own when it has no entry; the error of an open the server refused to give back.
struct Nfs4OpenNow {
    stateid4 stateid;
    Nfs4OpenOwner *owner;
};
nfsres::Result<Nfs4OpenNow> nfs4OpenNow(Nfs4ClientState &state, const Nfs4OpenFile &file);

// A call with FILE's state id SENT failed with ERROR: true when it is to be sent again, after
// the recovery it needed has run (waited for, or run here, within the call's time-out). Only
// NFS4ERR_STALE_STATEID, BAD_STATEID and EXPIRED are recovered from; NFS4ERR_OLD_STATEID is
// sent again when another open of the same server open has given the entry a newer state id.
bool nfs4OpenRecovered(Nfs4ClientState &state, const Nfs4OpenFile &file, const stateid4 &sent, int error);

// The reclaim of every stale registered open (nfs4OpenReclaim.cpp), called with the recovery
// semaphore held once a new client record is established; then, over 4.1, RECLAIM_COMPLETE
// when the establishment left it due. Opens refused are marked lost.
void nfs4ReclaimOpens(Nfs4ClientState &state);

// One open's reclaim, with the recovery semaphore held: its new state id, or it marked lost.
void nfs4ReclaimOpen(Nfs4ClientState &state, Nfs4OpenEntry &record);

#endif
