// Module-private: NFS version 2 as the shared name operations (nfsNameOps.h) see it. Handles
// are 32 bytes held inline; every LOOKUP reply carries the attributes; REMOVE, RMDIR and
// RENAME answer a bare status.
#ifndef NFS_OPS_NFS2PROTOCOL_H
#define NFS_OPS_NFS2PROTOCOL_H

#include "ops/nfs2Call.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfs2Ops.h>
#include <brisnel/nfs2Xdr.h>

struct Nfs2Protocol {
    using Handle = nfs_fh2;
    using Attr = fattr;
    using LookupRes = diropres;
    static constexpr nfsstat kNotDir = NFSERR_NOTDIR;

    static bool isDirectory(const fattr &attr) { return attr.type == NFDIR; }
    static bool isLink(const fattr &attr) { return attr.type == NFLNK; }
    static bool isRemovable(const fattr &attr) { return attr.type == NFREG || attr.type == NFLNK; }
    static uint32_t removeProc(const fattr &attr) { return isDirectory(attr) ? NFSPROC_RMDIR : NFSPROC_REMOVE; }

    class OwnHandle {
    public:
        nfs_fh2 *get() { return &fh_; }

    private:
        nfs_fh2 fh_{};
    };

    class Found {
    public:
        int run(const char *host, char *path, const nfs_fh2 *mountFh, bool stopAtLink)
        {
            return nfs2LookUpByName(host, path, mountFh, &res_, dir_.get(), stopAtLink ? 1 : 0);
        }
        const fattr &attr() const { return res_.diropres_u.diropres.attributes; }
        const nfs_fh2 &object() const { return res_.diropres_u.diropres.file; }
        const nfs_fh2 &dir() { return *dir_.get(); }
        bool walked() const { return attr().type != NFNON; }

    private:
        diropres res_{};
        OwnHandle dir_;
    };

    static bool handleCopy(const nfs_fh2 &from, nfs_fh2 *to)
    {
        nfs2ops::handleCopy(from, to);
        return true;
    }
    static int linkRead(const char *host, const nfs_fh2 &link, char *buf) { return nfs2LinkRead(host, &link, buf); }

    static int lookUpStep(const char *host, const nfs_fh2 &dir, char *name, diropres *res);
    static const fattr &attrOf(const diropres &res) { return res.diropres_u.diropres.attributes; }
    static const nfs_fh2 &objectOf(const diropres &res) { return res.diropres_u.diropres.file; }

    static int removeCall(const char *host, uint32_t proc, const nfs_fh2 &dir, char *name);
    static int renameCall(const char *host, const nfs_fh2 &fromDir, char *fromName, const nfs_fh2 &toDir,
                          char *toName);
};

#endif
