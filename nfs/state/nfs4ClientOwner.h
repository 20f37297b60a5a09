// Module-private: who this program is to a version 4 server. The owner names the host and the
// program (two programs on one host are two clients: sharing an owner would let one's start
// revoke the other's state) and stays the same across reconnects; the verifier tells this run
// of the program from an earlier one that had the same owner.
#ifndef NFS_STATE_NFS4CLIENTOWNER_H
#define NFS_STATE_NFS4CLIENTOWNER_H

#include "xdr/nfs4Xdr.h"

#include <string>

// The owner for state of minor version MINOR ("brisnel:HOST:PROGRAM-ID:4.MINOR"), at most
// NFS4_OPAQUE_LIMIT bytes: the minor version keeps a 4.0 and a 4.1 client of one program apart.
std::string nfs4ClientOwner(uint32_t minor);

// This run's verifier: fixed at its first use, from the clock.
void nfs4ClientVerifier(verifier4 out);

#endif
