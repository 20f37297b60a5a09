// Module-private: version 4 calls on links: a further name for a file (LINK), a symbolic link
// made (CREATE of type NF4LNK) and its text read (READLINK).
#ifndef NFS_STATE_NFS4LINKOPS_H
#define NFS_STATE_NFS4LINKOPS_H

#include "state/nfs4FileAttrs.h"

#include <string>

// The file FILE given the further name NAME in the folder DIR (SAVEFH of the file, then the
// folder current).
nfsres::Status nfs4Link(Nfs4ClientState &state, const NfsFh &file, const NfsFh &dir, const char *name);

// A symbolic link NAME made in the folder DIR holding TARGET as it stands (1 to NFS4_LINK_MAX
// bytes: K_ENOENT for none, K_ENAMETOOLONG beyond), with the mode 0777 links have.
nfsres::Status nfs4Symlink(Nfs4ClientState &state, const NfsFh &dir, const char *name, const char *target);

// The text of the symbolic link LINK as the server holds it, NUL bytes and all (at most
// NFS4_LINK_MAX bytes: the decoder refuses a longer one before reading it).
nfsres::Result<std::string> nfs4ReadLink(Nfs4ClientState &state, const NfsFh &link);

#endif
