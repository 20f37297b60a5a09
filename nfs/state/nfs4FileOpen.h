// Module-private: version 4 OPEN and CLOSE. A file is opened by name in its folder (CLAIM_NULL,
// denying nothing to others) by the calling task's open-owner, and closed by that same owner,
// whichever task closes it.
#ifndef NFS_STATE_NFS4FILEOPEN_H
#define NFS_STATE_NFS4FILEOPEN_H

#include "state/nfs4FileAttrs.h"

enum class Nfs4Create {
    No,        // the file must exist
    Unchecked, // made with the mode when missing, opened as it is when there
    Exclusive, // made with the mode; a name already there fails with NFS4ERR_EXIST's number
};

struct Nfs4OpenHow {
    uint32_t access = OPEN4_SHARE_ACCESS_READ; // OPEN4_SHARE_ACCESS_READ, _WRITE or _BOTH
    Nfs4Create create = Nfs4Create::No;
    uint32_t mode = 0644; // of a file made
};

struct Nfs4OpenFile {
    NfsFh fh;
    stateid4 stateid{};
    Nfs4OpenOwner *owner = nullptr; // the state's: lives as long as it
    Nfs4Attrs attrs;
    Nfs4OpenEntry *entry = nullptr; // its registration (nfs4OpenRegistry.h): the state id of now
    uint32_t locksLostTold = 0;     // the entry's count of lost locks this file has reported
};

// NAME in the folder DIR, opened as HOW says: its handle, open state id and attributes. An
// exclusive create is EXCLUSIVE4_1 over 4.1 (its verifier makes a resent create idempotent)
// and GUARDED4 over 4.0, both with the mode. Over 4.0 an open the server asks to confirm is
// confirmed (OPEN_CONFIRM) before it is returned. An open of a file the task's owner has open
// already is the same open at the server: it shares that one's registration (nfs4OpenRegistry.h).
nfsres::Result<Nfs4OpenFile> nfs4Open(Nfs4ClientState &state, const NfsFh &dir, const char *name,
                                      const Nfs4OpenHow &how);

// FILE's open state given back and out of the registry: CLOSE, with the newest state id, goes
// with the last open file sharing the server's open; its state id is cleared once the server
// has it. An open the server refused to give back after its restart is only forgotten.
nfsres::Status nfs4Close(Nfs4ClientState &state, Nfs4OpenFile &file);

// Over 4.0: the open OPEN of the file FH confirmed (OPEN_CONFIRM) by the owner USE holds; the
// confirmed state id.
nfsres::Result<stateid4> nfs4OpenConfirm(Nfs4ClientState &state, Nfs4SeqidUse &use, const NfsFh &fh,
                                         const stateid4 &open);

#endif
