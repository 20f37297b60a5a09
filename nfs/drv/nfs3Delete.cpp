// The version 3 driver's delete entry: a file, symbolic link or empty directory removed by
// path, its cache lines dropped first.
#include "drv/nfs3DrvEntries.h"

#include "ops/nfs3PathOps.h"

#include <brisnel/nfsCacheLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <array>

extern "C" int nfs3Delete(NfsDevice *dev, char *name)
{
    if (name[0] == '\0') {
        errnoSet(K_ENOENT);
        return -1;
    }
    std::array<char, NFS3_FHSIZE> objectBytes{};
    std::array<char, NFS3_FHSIZE> dirBytes{};
    LOOKUP3res look{};
    look.LOOKUP3res_u.resok.object.data.data_val = objectBytes.data();
    nfs_fh3 dirFh{{0, dirBytes.data()}};
    // A link in the last component is the object removed, not its target; links before it
    // rewrite the caller's path.
    const int found = nfs3LookUpByName(dev->host, name, &dev->mountFh, &look, &dirFh, 1);
    if (found != 0)
        return found;
    // The lookup fetches attributes a reply left out, so the file id is known even when not
    // marked present; servers reuse ids, so a removed file's lines must not outlive it. A
    // path without components leaves the result zeroed and names nothing to drop.
    const bool walked = look.LOOKUP3res_u.resok.object.data.data_len != 0;
    nfsCacheFileInvalidate(&dev->cache,
                           walked ? look.LOOKUP3res_u.resok.obj_attributes.post_op_attr_u.attributes.fileid
                                  : NFS_CACHE_NO_FILE);
    return nfs3FileRemove(dev->host, &dev->mountFh, name);
}
