// Directory reading on a version 3 mount (nfsDirRead.h): 8-byte cookies kept in the record's
// cookie buffer, to which the stream's cookie word points, a cookie verifier handed back with
// each READDIR, and batches as large as a message of the client's may hold.
#include "ops/nfs3PathOps.h"
#include "ops/nfs3Protocol.h"
#include "ops/nfsDirRead.h"

#include "core/nfsConfig.h"
#include "rpc/nfsRpcClient.h"

#include <algorithm>

namespace {

struct Dir3 {
    using File = NfsOpenFile;
    using Res = READDIR3res;
    using Entry = entry3;
    using Cookie = cookie3;
    static constexpr uint32_t kProc = NFSPROC3_READDIR;
    static constexpr auto encoder = xdr_READDIR3args;
    static constexpr auto decoder = xdr_READDIR3res;

    static nfsrpc::Peer peer(const NfsOpenFile *pFile) { return nfsops::nfs3Peer(pFile->pDev->host); }
    // Opened as other than a directory: no cookie buffer.
    static bool isDirectory(const NfsOpenFile *pFile) { return pFile->cookie != nullptr; }
    static const entry3 *entries(const READDIR3res &res) { return res.READDIR3res_u.resok.reply.entries; }
    static bool_t eof(const READDIR3res &res) { return res.READDIR3res_u.resok.reply.eof; }
    static cookie3 cookieOf(const entry3 &entry) { return entry.cookie; }
    static bool usable(cookie3 /*cookie*/) { return true; }
    static cookie3 position(const NfsOpenFile *pFile, const KDIR * /*pDir*/)
    {
        cookie3 cookie = 0;
        std::memcpy(&cookie, pFile->cookie, sizeof cookie);
        return cookie;
    }
    static void cookieHandOut(NfsOpenFile *pFile, KDIR *pDir, const entry3 &entry)
    {
        std::memcpy(pFile->cookie, &entry.cookie, sizeof entry.cookie);
        pDir->dd_cookie = reinterpret_cast<intptr_t>(pFile->cookie);
    }
    // A batch must come in one message of the client's receive buffer, which holds the largest
    // transfer the words allow over the task's transport; a size of 0 or less asks for all of that.
    static READDIR3args args(const NfsOpenFile *pFile, cookie3 cookie)
    {
        const count3 largest = nfsRpcLargestTransfer(nfsRpcCurrentTransport());
        const int32_t wanted = nfsWordGet(nfs3MaxRddirSz);
        READDIR3args args{.dir = pFile->fh, .cookie = cookie, .cookieverf = {}, .count = largest};
        std::memcpy(args.cookieverf, pFile->cookieVerf, sizeof args.cookieverf);
        if (wanted > 0)
            args.count = std::min(static_cast<count3>(wanted), largest);
        return args;
    }
    static void batchTaken(NfsOpenFile *pFile, const READDIR3res &res)
    {
        std::memcpy(pFile->cookieVerf, res.READDIR3res_u.resok.cookieverf, sizeof pFile->cookieVerf);
    }
};

} // namespace

// Also for a task without an RPC client of its own.
void nfs3DirReplyRelease(NfsOpenFile *pFile)
{
    nfsdir::listingRelease<Dir3>(pFile);
}

nfsres::Status Nfs3Protocol::dirReadOne(NfsOpenFile *pFile, KDIR *pDir)
{
    return nfsdir::readOne<Dir3>(pFile, pDir);
}

int nfs3DirReadOne(NfsOpenFile *pFile, KDIR *pDir)
{
    return nfsres::entry(Nfs3Protocol::dirReadOne(pFile, pDir));
}
