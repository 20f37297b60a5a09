// Directory reading on a version 2 mount (nfsDirRead.h): the position is the 4-byte cookie
// itself, kept in the stream's cookie word, so a zero cookie would restart the listing; a
// batch asks for 512 bytes, and there is no verifier.
#include "ops/nfs2Call.h"
#include "ops/nfs2Protocol.h"
#include "ops/nfsDirRead.h"

namespace {

struct Dir2 {
    // The call, its result and the result's entries.
    static constexpr auto encoder = xdr_readdirargs;
    static constexpr uint32_t kProc = NFSPROC_READDIR;
    static constexpr u_int kBatchCount = 512;
    using Res = readdirres;
    static constexpr auto decoder = xdr_readdirres;
    using Entry = entry;
    // The open directory and its position.
    using File = Nfs2OpenFile;
    using Cookie = uint32_t;

    static nfsrpc::Peer peer(const Nfs2OpenFile *pFile) { return nfsops::nfs2Peer(pFile->pDev->host); }
    static bool isDirectory(const Nfs2OpenFile *pFile) { return pFile->attr.type == NFDIR; }
    static const entry *entries(const readdirres &res) { return res.readdirres_u.reply.entries; }
    static bool_t eof(const readdirres &res) { return res.readdirres_u.reply.eof; }
    static uint32_t cookieOf(const entry &found)
    {
        uint32_t word = 0;
        std::memcpy(&word, found.cookie, sizeof word);
        return word;
    }
    static bool usable(uint32_t cookie) { return cookie != 0; }
    static uint32_t position(const Nfs2OpenFile * /*pFile*/, const KDIR *pDir)
    {
        return static_cast<uint32_t>(pDir->dd_cookie);
    }
    static void cookieHandOut(Nfs2OpenFile * /*pFile*/, KDIR *pDir, const entry &found)
    {
        pDir->dd_cookie = static_cast<intptr_t>(cookieOf(found));
    }
    static readdirargs args(const Nfs2OpenFile *pFile, uint32_t cookie)
    {
        readdirargs args{};
        nfs2ops::handleCopy(pFile->fh, &args.dir);
        std::memcpy(args.cookie, &cookie, sizeof cookie);
        args.count = kBatchCount;
        return args;
    }
    static void batchTaken(Nfs2OpenFile * /*pFile*/, const readdirres & /*res*/) {}
};

} // namespace

nfsres::Status Nfs2Protocol::dirReadOne(Nfs2OpenFile *pFile, KDIR *pDir)
{
    return nfsdir::readOne<Dir2>(pFile, pDir);
}

int nfs2DirReadOne(Nfs2OpenFile *pFile, KDIR *pDir)
{
    return nfsres::entry(Nfs2Protocol::dirReadOne(pFile, pDir));
}

void nfs2DirReplyRelease(Nfs2OpenFile *pFile)
{
    nfsdir::listingRelease<Dir2>(pFile);
}
