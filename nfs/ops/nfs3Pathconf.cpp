// PATHCONF: the server's limits on names and links for a file.
#include "ops/nfs3Data.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfsRpcLib.h>

namespace {

uint32_t flag(bool_t value) { return value ? 1U : 0U; }

} // namespace

int nfs3PathconfGet(const char *host, nfs_fh3 *fh, Nfs3PathconfInfo *pInfo)
{
    PATHCONF3args args{.object = *fh};
    const nfsrpc::Reply<PATHCONF3res> reply(nfsops::nfs3Peer(host), NFSPROC3_PATHCONF, xdr_PATHCONF3args, args,
                                            xdr_PATHCONF3res);
    if (nfsops::failed(reply) || !nfsops::statusOk(reply->status))
        return -1;
    const PATHCONF3resok &ok = reply->PATHCONF3res_u.resok;
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
