// Module-private: NFS version 3 as the shared name operations (nfsNameOps.h) see it. Handles
// are a length and a buffer their holder owns (64 bytes at most); a LOOKUP reply may leave
// the attributes out, and a GETATTR then fetches them.
#ifndef NFS_OPS_NFS3PROTOCOL_H
#define NFS_OPS_NFS3PROTOCOL_H

#include "ops/nfs3PathOps.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfs3Ops.h>
#include <brisnel/nfs3Xdr.h>

#include <array>

struct Nfs3Protocol {
    using Handle = nfs_fh3;
    using Attr = fattr3;
    using LookupRes = LOOKUP3res;
    static constexpr nfsstat kNotDir = NFS3ERR_NOTDIR;

    static bool isDirectory(const fattr3 &attr) { return attr.type == NF3DIR; }
    static bool isLink(const fattr3 &attr) { return attr.type == NF3LNK; }
    static bool isRemovable(const fattr3 &attr) { return attr.type == NF3REG || attr.type == NF3LNK; }
    static uint32_t removeProc(const fattr3 &attr) { return isDirectory(attr) ? NFSPROC3_RMDIR : NFSPROC3_REMOVE; }

    // A handle with a buffer of its own.
    class OwnHandle {
    public:
        OwnHandle() : fh_{{0, bytes_.data()}} {}
        OwnHandle(const OwnHandle &) = delete;
        OwnHandle &operator=(const OwnHandle &) = delete;
        nfs_fh3 *get() { return &fh_; }

    private:
        std::array<char, NFS3_FHSIZE> bytes_{};
        nfs_fh3 fh_;
    };

    // One look-up's result: the object and the directory that holds it, in buffers of its own.
    class Found {
    public:
        Found() { res_.LOOKUP3res_u.resok.object.data.data_val = objectBytes_.data(); }
        Found(const Found &) = delete;
        Found &operator=(const Found &) = delete;
        int run(const char *host, char *path, const nfs_fh3 *mountFh, bool stopAtLink)
        {
            return nfs3LookUpByName(host, path, mountFh, &res_, dir_.get(), stopAtLink ? 1 : 0);
        }
        const fattr3 &attr() const { return res_.LOOKUP3res_u.resok.obj_attributes.post_op_attr_u.attributes; }
        const nfs_fh3 &object() const { return res_.LOOKUP3res_u.resok.object; }
        const nfs_fh3 &dir() { return *dir_.get(); }
        // A path without components leaves the result empty.
        bool walked() const { return object().data.data_len != 0; }

    private:
        std::array<char, NFS3_FHSIZE> objectBytes_{};
        LOOKUP3res res_{};
        OwnHandle dir_;
    };

    static bool handleCopy(const nfs_fh3 &from, nfs_fh3 *to) { return nfs3path::handleCopy(from, to); }
    static int linkRead(const char *host, const nfs_fh3 &link, char *buf) { return nfs3LinkRead(host, &link, buf); }

    // The LOOKUP of one name in dir into res, with a GETATTR for attributes the reply left out.
    static int lookUpStep(const char *host, const nfs_fh3 &dir, char *name, LOOKUP3res *res);
    static const fattr3 &attrOf(const LOOKUP3res &res)
    {
        return res.LOOKUP3res_u.resok.obj_attributes.post_op_attr_u.attributes;
    }
    static const nfs_fh3 &objectOf(const LOOKUP3res &res) { return res.LOOKUP3res_u.resok.object; }

    static int removeCall(const char *host, uint32_t proc, const nfs_fh3 &dir, char *name);
    static int renameCall(const char *host, const nfs_fh3 &fromDir, char *fromName, const nfs_fh3 &toDir,
                          char *toName);
};

#endif
