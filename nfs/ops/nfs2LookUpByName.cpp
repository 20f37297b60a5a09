// Path lookup on a version 2 mount: one LOOKUP per component from the export's root, the path
// rewritten at a symbolic link. Unlike version 3, every reply carries the attributes.
#include "ops/nfs2Call.h"
#include "ops/nfsOpsCall.h"
#include "ops/nfsPathRewrite.h"

#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <cstring>

namespace {

int lookUpStep(const char *host, const diropargs &args, diropres *res)
{
    const nfsrpc::Reply<diropres> reply(nfsops::nfs2Peer(host), NFSPROC_LOOKUP, xdr_diropargs, args,
                                        xdr_diropres, res);
    if (nfsops::failed(reply))
        return -1;
    return nfs2ops::statusOk(res->status) ? 0 : -1;
}

int pathRewrite(const char *host, const nfs_fh2 &link, nfspath::PathNames &parsed, int at, char *path)
{
    nfspath::PathText linkText{};
    if (nfs2LinkRead(host, &link, linkText.data()) != 0)
        return -1;
    return nfspath::throughLink(parsed, at, linkText.data(), path);
}

} // namespace

// A regular file (or other non-directory) followed by further components ends the walk with
// NFSERR_NOTDIR (0x300014), as in version 3.
int nfs2LookUpByName(const char *host, char *path, const nfs_fh2 *mountFh, diropres *res,
                     nfs_fh2 *dirFh, int noFollowLast)
{
    if (nfsInit() != 0)
        return -1;
    nfspath::PathNames parsed;
    if (!nfspath::parse(path, &parsed))
        return -1;
    diropargs args{};
    nfs2ops::handleCopy(*mountFh, &args.dir);
    nfs2ops::handleCopy(*mountFh, dirFh);
    const diropokres &ok = res->diropres_u.diropres;
    for (int i = 0; i < parsed.count; ++i) {
        const bool last = i + 1 == parsed.count;
        args.name = parsed.names[static_cast<std::size_t>(i)];
        if (lookUpStep(host, args, res) != 0)
            return -1;
        switch (ok.attributes.type) {
        case NFDIR:
            if (!last)
                nfs2ops::handleCopy(ok.file, dirFh);
            nfs2ops::handleCopy(ok.file, &args.dir);
            break;
        case NFLNK:
            if (last && noFollowLast != 0)
                return 0;
            return pathRewrite(host, ok.file, parsed, i, path);
        default:
            if (!last) {
                nfsErrnoSet(NFSERR_NOTDIR);
                return -1;
            }
            break;
        }
    }
    return 0;
}
