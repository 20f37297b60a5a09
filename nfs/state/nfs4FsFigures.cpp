// The file system's figures from one GETATTR; the decoder has checked each value against the
// attribute list's length.
#include "state/nfs4FsFigures.h"

#include "state/nfs4Resend.h"

#include <kernel/kernelErrno.h>

using nfsres::Fail;
using nfsres::Result;

Result<Nfs4FsFigures> nfs4FsFigures(Nfs4ClientState &state, const NfsFh &fh)
{
    Nfs4Ops ops;
    ops.putFh(fh);
    bitmap4 &request = ops.add(OP_GETATTR).nfs_argop4_u.opgetattr;
    for (const u_int bit :
         {FATTR4_CHOWN_RESTRICTED, FATTR4_FILES_AVAIL, FATTR4_FILES_FREE, FATTR4_FILES_TOTAL, FATTR4_MAXLINK,
          FATTR4_MAXNAME, FATTR4_NO_TRUNC, FATTR4_SPACE_AVAIL, FATTR4_SPACE_FREE, FATTR4_SPACE_TOTAL})
        nfs4BitmapSet(&request, bit);
    Nfs4Reply reply;
    NFS_TRY(nfs4FileCall(state, ops.ops, ops.n, reply));
    const fattr4 &attrs = reply[1].nfs_resop4_u.opgetattr;
    const auto has = [&attrs](u_int bit) { return nfs4BitmapHas(attrs.attrmask, bit); };
    if (!has(FATTR4_SPACE_TOTAL) && !has(FATTR4_SPACE_FREE) && !has(FATTR4_SPACE_AVAIL))
        return Fail{K_EIO};
    Nfs4FsFigures figures;
    figures.spaceTotal = has(FATTR4_SPACE_TOTAL) ? attrs.space_total : 0;
    figures.spaceFree = has(FATTR4_SPACE_FREE) ? attrs.space_free : 0;
    figures.spaceAvail = has(FATTR4_SPACE_AVAIL) ? attrs.space_avail : 0;
    figures.filesTotal = has(FATTR4_FILES_TOTAL) ? attrs.files_total : 0;
    figures.filesFree = has(FATTR4_FILES_FREE) ? attrs.files_free : 0;
    figures.filesAvail = has(FATTR4_FILES_AVAIL) ? attrs.files_avail : 0;
    figures.maxLink = has(FATTR4_MAXLINK) ? attrs.maxlink : 0;
    figures.maxName = has(FATTR4_MAXNAME) ? attrs.maxname : 0;
    figures.noTrunc = has(FATTR4_NO_TRUNC) && attrs.no_trunc != 0;
    figures.chownRestricted = has(FATTR4_CHOWN_RESTRICTED) && attrs.chown_restricted != 0;
    return figures;
}
