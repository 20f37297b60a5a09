// The version 4 driver's file system status record and path configuration, from the figures
// of one GETATTR (state/nfs4FsFigures.h), in the units version 3's FSSTAT and PATHCONF give.
#include "drv/nfs4Driver.h"

#include "drv/nfsDrvPathconf.h"
#include "state/nfs4FsFigures.h"

#include <cstdint>

namespace {

constexpr int32_t kBlockSize = 1024;
constexpr unsigned kBlockShift = 10;

// A count for a 32-bit field: a larger one is shown as the most the field holds, never as the
// low bits of the count.
uint32_t saturated(uint64_t count)
{
    return count > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(count);
}

} // namespace

nfsres::Result<int> Nfs4Driver::fsAttrGet(Nfs4File *file, struct kstatfs *pFsStat)
{
    const nfsres::Result<Nfs4FsFigures> figures = nfs4FsFigures(*file->fh.state, file->fh.fh);
    NFS_TRY(figures);
    const Nfs4FsFigures &fs = figures.value();
    pFsStat->f_type = 0;
    pFsStat->f_bsize = kBlockSize;
    pFsStat->f_blocks = saturated(fs.spaceTotal >> kBlockShift);
    pFsStat->f_bfree = saturated(fs.spaceFree >> kBlockShift);
    pFsStat->f_bavail = saturated(fs.spaceAvail >> kBlockShift);
    pFsStat->f_files = saturated(fs.filesTotal);
    pFsStat->f_ffree = saturated(fs.filesFree);
    return 0;
}

// The server is asked first, for every selector, as over version 3.
nfsres::Result<int> Nfs4Driver::pathconf(Nfs4File *file, int *pSelector)
{
    const nfsres::Result<Nfs4FsFigures> figures = nfs4FsFigures(*file->fh.state, file->fh.fh);
    NFS_TRY(figures);
    Nfs3PathconfInfo pc{};
    pc.name_max = figures.value().maxName;
    pc.linkmax = figures.value().maxLink;
    pc.no_trunc = figures.value().noTrunc ? 1U : 0U;
    pc.chown_restricted = figures.value().chownRestricted ? 1U : 0U;
    return nfsdrv::pathconfAnswer(pc, pSelector);
}
