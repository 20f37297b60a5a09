// Module-private: what the version 4 file calls share: a file's attributes as this client keeps
// them, the attributes asked of the server, and a compound's operations as they are built.
#ifndef NFS_STATE_NFS4FILEATTRS_H
#define NFS_STATE_NFS4FILEATTRS_H

#include "core/nfsFileHandle.h"
#include "state/nfs4ClientState.h"

#include <array>
#include <cstddef>

using Nfs4Verifier = std::array<char, NFS4_VERIFIER_SIZE>;

// The id an owner or group this client cannot name as a number stands for: never 0, which would
// give a stranger's file to root.
constexpr uint32_t kNfs4Nobody = 65534;

// An owner or owner_group string as a number: "2001" and "2001@domain" are 2001; a name
// ("user@domain", "user") has no number this client can know, and is kNfs4Nobody, as is text
// that is empty, too long for an id or holds anything but digits before the '@'.
uint32_t nfs4IdOf(const char *text, std::size_t length);

struct Nfs4Attrs {
    nfs_ftype4 type = NF4REG;
    uint64_t change = 0;
    uint64_t size = 0;
    NfsFsid fsid;
    uint64_t fileid = 0;
    uint32_t mode = 0;
    uint32_t numlinks = 0;
    uint32_t uid = kNfs4Nobody; // the owner and group as numbers (nfs4IdOf)
    uint32_t gid = kNfs4Nobody;
    nfstime4 atime{};
    nfstime4 mtime{};
    nfstime4 ctime{};
};

// A file's handle and attributes.
struct Nfs4Object {
    NfsFh fh;
    Nfs4Attrs attrs;
};

// The attributes every GETATTR of a file call asks for.
bitmap4 nfs4FileAttrRequest();
// The attributes of a GETATTR result: type, change, size, file system id and file id must be
// there (K_EIO otherwise), the rest are 0 when the server has none.
nfsres::Result<Nfs4Attrs> nfs4AttrsOf(const fattr4 &attrs);
// The object from the results of GETFH and the GETATTR after it.
nfsres::Result<Nfs4Object> nfs4ObjectOf(const nfs_resop4 &getfh, const nfs_resop4 &getattr);

// A name of a call: 1 to NFS4_NAME_MAX bytes (K_ENAMETOOLONG beyond), no '/' (NFS_ERRNO_INVAL).
nfsres::Result<Nfs4Bytes> nfs4NameOf(const char *name);

// The operations of one compound as they are added: a file call has at most kMost (each
// operation takes about 1 KiB of the task's stack).
struct Nfs4Ops {
    static constexpr u_int kMost = 4;
    nfs_argop4 ops[kMost]{};
    u_int n = 0;

    nfs_argop4 &add(nfs_opnum4 number)
    {
        ops[n].argop = number;
        return ops[n++];
    }
    void putFh(const NfsFh &fh);
    // GETFH and GETATTR of the file attributes: the index of GETFH.
    u_int getFhAndAttrs();
    void getAttrs() { add(OP_GETATTR).nfs_argop4_u.opgetattr = nfs4FileAttrRequest(); }
};

// The minor version STATE agreed, and its client id.
struct Nfs4StateNow {
    uint32_t minor;
    clientid4 clientId;
};
Nfs4StateNow nfs4StateNow(Nfs4ClientState &state);

#endif
