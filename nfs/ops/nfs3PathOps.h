// Module-private: the NFS version 3 operations on names — path lookup with symbolic-link
// rewriting, link reading, the namespace changes (remove, rename, create) and directory
// reading one entry per call. Each makes its remote calls through nfsClientCall, takes no
// lock and allocates nothing that outlives the call, except the held directory batch.
//
// Results follow the kernel's convention: 0 on success, -1 with the error number set, and
// -2 when a symbolic link was met and the caller's path buffer (nfsMaxPath bytes) has been
// rewritten for the I/O system to resolve again. A rewritten path always begins with a
// separator, so that the device name followed by it is again a path under the device.
#ifndef NFS_OPS_NFS3PATHOPS_H
#define NFS_OPS_NFS3PATHOPS_H

#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsDrvLib.h>
#include <kernel/kernelStat.h>

#include <rpc/rpc.h>

#include <cstdint>

// Looks path up from mountFh one LOOKUP per component. On 0, res describes the last component
// (its handle in the 64-byte buffer the caller set in res's object handle) and dirFh (its own
// 64-byte buffer) holds the directory containing it; a path without components leaves res as
// prepared and copies mountFh into dirFh. On -1, dirFh holds the deepest directory reached.
// noFollowLast non-zero takes a link in the last component as the object itself.
int nfs3LookUpByName(const char *host, char *path, const nfs_fh3 *mountFh, LOOKUP3res *res,
                     nfs_fh3 *dirFh, int noFollowLast);

// Reads the text of the symbolic link fh into buf (nfsMaxPath bytes, terminated); 0 or -1.
int nfs3LinkRead(const char *host, const nfs_fh3 *fh, char *buf);

// Removes the file, link (not its target) or empty directory path names; 0, -1 or -2.
int nfs3FileRemove(const char *host, const nfs_fh3 *mountFh, char *path);

// Renames the last component of oldPath in the directory oldDirFh to newPath (relative to the
// mount; without a directory part it stays in oldDirFh). Links in newPath's directory part
// are followed here; 0 or -1.
int nfs3Rename(const char *host, const nfs_fh3 *mountFh, const char *oldPath,
               const nfs_fh3 *oldDirFh, const char *newPath);

// Creates the last component of path: a directory when mode has 0x4000, else a regular file
// (mode 0 gives 0640). On entry dirFh holds the parent found by the caller's failed lookup;
// its buffer receives the handles decoded here, and on 0 res's obj points into it. res is a
// CREATE3res (a MKDIR3res has the same form). 0, -1 or -2.
int nfs3ThingCreate(const char *host, char *path, const nfs_fh3 *mountFh, CREATE3res *res,
                    nfs_fh3 *dirFh, int mode);

// The next entry of the open directory pFile into pDir's entry name; 0 with dd_eof set to 1 at
// the end; -1 on failure. A dd_cookie of 0 starts at the beginning. Entry names longer than
// the entry's 255 characters are cut to 255.
int nfs3DirReadOne(NfsOpenFile *pFile, KDIR *pDir);

// Releases the directory batch pFile holds, if any, and clears dirReply. Also for a task
// without an RPC client of its own.
void nfs3DirReplyRelease(NfsOpenFile *pFile);

// What the name operations share: their one kind of remote call and the release of replies.
namespace nfs3path {

// One NFS version 3 call into out; 0 or -1 with the error number set. When it fails, the part
// of the reply that was decoded is released, leaving alone the caller's own buffer that
// *callerBuffer (if named) points to; that pointer has its value from before the call again.
int call(const char *host, uint32_t proc, xdrproc_t inproc, const void *in, xdrproc_t outproc,
         void *out, char **callerBuffer = nullptr);

// Releases a decoded reply when the scope ends, through the task's handle (or directly when
// the task has none). The pointer to a caller's own buffer inside the reply, if named, is
// cleared for the release and put back afterwards, so the reply can be decoded into again.
class Reply {
public:
    Reply(xdrproc_t proc, void *reply, char **callerBuffer = nullptr)
        : proc_(proc), reply_(reply), callerBuffer_(callerBuffer)
    {
    }
    Reply(const Reply &) = delete;
    Reply &operator=(const Reply &) = delete;
    ~Reply();

private:
    xdrproc_t proc_;
    void *reply_;
    char **callerBuffer_;
};

// Copies a handle's bytes into to's buffer (NFS3_FHSIZE bytes), then its length; a length
// above NFS3_FHSIZE, which no decoder lets through, copies nothing and gives false.
bool handleCopy(const nfs_fh3 &from, nfs_fh3 *to);

} // namespace nfs3path

#endif
