// Module-private: the figures of the file system holding a file, from GETATTR: space and file
// slots (what version 3's FSSTAT gives) and the limits on names and links (its PATHCONF).
#ifndef NFS_STATE_NFS4FSFIGURES_H
#define NFS_STATE_NFS4FSFIGURES_H

#include "state/nfs4FileAttrs.h"

#include <cstdint>

// Each figure the server leaves out is 0 (false for the flags).
struct Nfs4FsFigures {
    uint64_t spaceTotal = 0; // bytes
    uint64_t spaceFree = 0;
    uint64_t spaceAvail = 0; // free to this user
    uint64_t filesTotal = 0;
    uint64_t filesFree = 0;
    uint64_t filesAvail = 0;
    uint32_t maxLink = 0;
    uint32_t maxName = 0;
    bool noTrunc = false;
    bool chownRestricted = false;
};

// The attributes of one GETATTR on FH: a server that answers none of the space figures
// (space_total, space_free, space_avail) gives nothing to count by, and fails with K_EIO.
nfsres::Result<Nfs4FsFigures> nfs4FsFigures(Nfs4ClientState &state, const NfsFh &fh);

#endif
