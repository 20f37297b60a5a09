// Module-private: version 4 calls on names in a folder: LOOKUP, REMOVE, RENAME, CREATE of a
// folder, and READDIR.
#ifndef NFS_STATE_NFS4NAMEOPS_H
#define NFS_STATE_NFS4NAMEOPS_H

#include "state/nfs4FileAttrs.h"

#include <string>
#include <vector>

// NAME in the folder DIR: its handle and attributes (a missing name fails with NFS4ERR_NOENT's
// number).
nfsres::Result<Nfs4Object> nfs4Lookup(Nfs4ClientState &state, const NfsFh &dir, const char *name);

// NAME removed from the folder DIR.
nfsres::Status nfs4Remove(Nfs4ClientState &state, const NfsFh &dir, const char *name);

// FROM in the folder FROMDIR renamed TO in the folder TODIR (SAVEFH, RESTOREFH's order: the
// source folder saved, the target current).
nfsres::Status nfs4Rename(Nfs4ClientState &state, const NfsFh &fromDir, const char *from, const NfsFh &toDir,
                          const char *to);

// A folder NAME made in the folder DIR with MODE: its handle and attributes.
nfsres::Result<Nfs4Object> nfs4MkDir(Nfs4ClientState &state, const NfsFh &dir, const char *name,
                                     uint32_t mode);

struct Nfs4DirEntry {
    uint64_t cookie = 0;
    uint64_t fileid = 0;
    std::string name;
};

// One reply's part of a folder's names.
struct Nfs4DirPage {
    std::vector<Nfs4DirEntry> entries;
    Nfs4Verifier verifier{}; // to send with the next page's cookie
    bool eof = false;
};

// The names of the folder DIR after COOKIE (0: from the start; VERIFIER as the last page gave
// it), in a reply of at most MAXBYTES (512 to 128 KiB). An entry without a file id, a name that
// is empty, "." or "..", or holds a '/', and a page that is neither the last nor holds an entry
// fail with K_EIO.
nfsres::Result<Nfs4DirPage> nfs4ReadDir(Nfs4ClientState &state, const NfsFh &dir, uint64_t cookie,
                                        const Nfs4Verifier &verifier, uint32_t maxBytes);

#endif
