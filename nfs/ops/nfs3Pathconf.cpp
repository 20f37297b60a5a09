// PATHCONF: the server's limits on names and links for a file.
#include "ops/nfs3Data.h"

#include <brisnel/nfsRpcLib.h>

namespace {

uint32_t flag(bool_t value) { return value ? 1U : 0U; }

} // namespace

int nfs3PathconfGet(const char *host, nfs_fh3 *fh, Nfs3PathconfInfo *pInfo)
{
    PATHCONF3args args{.object = *fh};
    PATHCONF3res res{};
    if (nfsClientCall(host, NFS_PROGRAM, NFS_V3, NFSPROC3_PATHCONF,
                      nfsXdrProc(xdr_PATHCONF3args), &args, nfsXdrProc(xdr_PATHCONF3res),
                      &res) != 0)
        return -1;
    if (res.status != NFS3_OK) {
        nfsErrnoSet(res.status);
        return -1;
    }
    // The reply holds nothing allocated: no release needed.
    const PATHCONF3resok &ok = res.PATHCONF3res_u.resok;
    *pInfo = Nfs3PathconfInfo{
        .name_max = ok.name_max,
        .linkmax = ok.linkmax,
        .no_trunc = flag(ok.no_trunc),
        .chown_restricted = flag(ok.chown_restricted),
        .case_insensitive = flag(ok.case_insensitive),
        .case_preserving = flag(ok.case_preserving),
    };
    return 0;
}
