// Module-private: version 4 READ, WRITE and COMMIT with an open's state id, and GETATTR.
#ifndef NFS_STATE_NFS4FILEDATA_H
#define NFS_STATE_NFS4FILEDATA_H

#include "ops/nfsAttrChange.h"
#include "state/nfs4FileOpen.h"

#include <kernel/kernelErrno.h>

#include <cstddef>

struct Nfs4ReadDone {
    uint32_t count = 0; // bytes placed at the start of the caller's buffer
    bool eof = false;
};

struct Nfs4WriteDone {
    uint32_t count = 0; // bytes the server took, from the start of the data
    stable_how4 committed = UNSTABLE4;
    Nfs4Verifier verifier{}; // to compare with a later COMMIT's
};

// READ, WRITE and SETATTR carry FILE's open state id of the moment: one the server no longer
// knows (its restart) is recovered from and the call sent again with the reclaimed one
// (nfs4OpenRegistry.h), within the call's time-out.
//
// Up to COUNT bytes (at most NFS4_MAXDATA_DECODED) of FILE from OFFSET into BUFFER, as many
// as one call carries: a reply carrying more than asked is refused before a byte lands.
nfsres::Result<Nfs4ReadDone> nfs4Read(Nfs4ClientState &state, const Nfs4OpenFile &file, uint64_t offset,
                                      char *buffer, uint32_t count);

// Up to COUNT bytes (at most NFS4_MAXDATA_DECODED) of DATA written to FILE at OFFSET, as many
// as one call carries, as stable as STABLE at least: a reply that says it took more than was sent, or
// committed less stably than asked, fails with K_EIO.
nfsres::Result<Nfs4WriteDone> nfs4Write(Nfs4ClientState &state, const Nfs4OpenFile &file, uint64_t offset,
                                        const char *data, uint32_t count, stable_how4 stable);

// Pieces of one file's data moved by calls in flight together (nfs4StateCallsTogether): as many
// at once as the window and the session's free slots allow, each compound as nfs4Read's or
// nfs4Write's one, each piece's outcome in its DONE. A piece whose compound met what one call
// waits out, recovers from or sends again (NFS4ERR_DELAY and GRACE, a slot, session or client
// id refused, a stale state id) goes again on its own through nfs4Read or nfs4Write, with every
// rule of that call.
struct Nfs4ReadPiece {
    uint64_t offset;
    char *buffer;
    uint32_t count; // at most NFS4_MAXDATA_DECODED
    nfsres::Result<Nfs4ReadDone> done = nfsres::Fail{K_EIO}; // until it is done
};
void nfs4ReadTogether(Nfs4ClientState &state, const Nfs4OpenFile &file, Nfs4ReadPiece *pieces, std::size_t n);

struct Nfs4WritePiece {
    uint64_t offset;
    const char *data;
    uint32_t count; // at most NFS4_MAXDATA_DECODED
    nfsres::Result<Nfs4WriteDone> done = nfsres::Fail{K_EIO};
};
void nfs4WriteTogether(Nfs4ClientState &state, const Nfs4OpenFile &file, Nfs4WritePiece *pieces, std::size_t n,
                       stable_how4 stable);

// The unstable writes of COUNT bytes from OFFSET (0, 0: the whole file) of the file FH made
// stable: the server's write verifier, to compare with those of the writes.
nfsres::Result<Nfs4Verifier> nfs4Commit(Nfs4ClientState &state, const NfsFh &fh, uint64_t offset,
                                        uint32_t count);

// The attributes of FILE changed as CHANGE says (SETATTR), a size with its open's state id (the
// anonymous all-zero one for a file not open: no entry, a zero state id): the attributes after it.
nfsres::Result<Nfs4Attrs> nfs4SetAttr(Nfs4ClientState &state, const Nfs4OpenFile &file,
                                      const NfsAttrChange &change);

// The attributes of the file FH.
nfsres::Result<Nfs4Attrs> nfs4GetAttr(Nfs4ClientState &state, const NfsFh &fh);

#endif
