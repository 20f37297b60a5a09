// The version 4 driver's mount (the server's state, the export's root, the transfer sizes and
// the cache's lines that fit them), its release, and the reading of an open folder.
#include "drv/nfs4Driver.h"

#include "drv/nfsDrvMount.h"
#include "rpc/nfsRpcDeviceHolds.h"
#include "state/nfs4MountWalk.h"
#include "state/nfs4NameOps.h"
#include "state/nfs4Resend.h"

#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/semGuard.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

// The page of names an open folder reads from: the next entry to hand out, and how many the
// stream has had (its position word, never 0 once it started).
struct Nfs4DirListing {
    Nfs4DirPage page;
    std::size_t next = 0;
    intptr_t delivered = 0;
};

namespace {

using nfsres::Fail;
using nfsres::Result;
using nfsres::Status;

constexpr uint32_t kMostTransfer = NFS_TCP_MAX_TRANSFER;
constexpr uint32_t kLeastDirBytes = 8192;
constexpr uint32_t kMostDirBytes = 128 * 1024;
constexpr uint32_t kLeastLines = 8;

// The server's maxread and maxwrite (0 for one it does not give).
struct Nfs4Limits {
    uint64_t read = 0;
    uint64_t write = 0;
};

// A limit lowered to what the session carries (MESSAGE: its largest request or reply, 0 for
// none known) around a compound of one transfer.
uint64_t withinSession(uint64_t limit, uint32_t message)
{
    if (message == 0)
        return limit;
    const uint64_t carried = message > kNfs4CompoundRoom ? message - kNfs4CompoundRoom : 512;
    return limit == 0 ? carried : std::min(limit, carried);
}

Result<Nfs4Limits> limitsOf(Nfs4ClientState &state, const NfsFh &root)
{
    Nfs4Ops ops;
    ops.putFh(root);
    bitmap4 &asked = ops.add(OP_GETATTR).nfs_argop4_u.opgetattr;
    nfs4BitmapSet(&asked, FATTR4_MAXREAD);
    nfs4BitmapSet(&asked, FATTR4_MAXWRITE);
    Nfs4Reply reply;
    NFS_TRY(nfs4FileCall(state, ops.ops, ops.n, reply));
    const fattr4 &got = reply[1].nfs_resop4_u.opgetattr;
    Nfs4Limits limits;
    limits.read = nfs4BitmapHas(got.attrmask, FATTR4_MAXREAD) ? got.maxread : 0;
    limits.write = nfs4BitmapHas(got.attrmask, FATTR4_MAXWRITE) ? got.maxwrite : 0;
    return limits;
}

// A server's limit as a transfer size: at most 1 MiB, the word's size where it gives none.
uint32_t transferOf(uint64_t limit)
{
    if (limit == 0)
        return std::min(nfsWordGet(nfs3MaxMsgLen), kMostTransfer);
    return static_cast<uint32_t>(std::min<uint64_t>(limit, kMostTransfer));
}

uint32_t settled(const NfsMountOptions &options, uint32_t bit, uint32_t asked, uint32_t server)
{
    return (options.given & bit) != 0 ? nfsdrv::sizeSettled(asked, server, server) : server;
}

uint32_t powerOfTwoAtLeast(uint32_t size)
{
    uint32_t power = 1;
    while (power < size && power < kMostTransfer)
        power <<= 1;
    return power;
}

// Lines as large as a transfer (unless the mount gave its line size): as many as keep the
// cache's bytes, and at least kLeastLines. The cache as it was when the new one cannot be had.
void linesFit(Nfs4Device *dev)
{
    NfsDataCache &cache = dev->cache;
    const uint32_t transfer = std::max(dev->options.readSize, dev->options.writeSize);
    if ((dev->options.given & NFS_OPT_LINESIZE) != 0 || cache.lineSize >= transfer || cache.nLines == 0)
        return;
    const uint32_t size = powerOfTwoAtLeast(transfer);
    const uint64_t bytes = uint64_t{cache.nLines} * cache.lineSize;
    const uint32_t lines = (dev->options.given & NFS_OPT_LINES) != 0
                               ? cache.nLines
                               : std::max(static_cast<uint32_t>(bytes / size), kLeastLines);
    const uint32_t oldLines = cache.nLines;
    const uint32_t oldSize = cache.lineSize;
    const int options = static_cast<int>(cache.options);
    static_cast<void>(nfsCacheFree(&cache));
    if (nfsCacheAlloc(&cache, static_cast<int>(lines), static_cast<int>(size), options) != 0)
        static_cast<void>(
            nfsCacheAlloc(&cache, static_cast<int>(oldLines), static_cast<int>(oldSize), options));
}

Status pageFetch(Nfs4File *file, uint64_t cookie, const Nfs4Verifier &verifier)
{
    const auto word = static_cast<uint32_t>(std::max(nfsWordGet(nfs3MaxRddirSz), int32_t{0}));
    const uint32_t bytes = std::clamp(word, kLeastDirBytes, kMostDirBytes);
    const Result<Nfs4DirPage> page = nfs4ReadDir(*file->fh.state, file->fh.fh, cookie, verifier, bytes);
    if (!page.ok())
        return page.fail();
    file->listing->page = page.value();
    file->listing->next = 0;
    return {};
}

} // namespace

Status Nfs4Driver::dirMount(const char *host, const char *fileSys, Nfs4Device *dev)
{
    const Nfs4Minors minors = nfsCallVersion() == NFS_VERSION_40   ? Nfs4Minors::Only40
                              : nfsCallVersion() == NFS_VERSION_41 ? Nfs4Minors::Only41
                                                                   : Nfs4Minors::Automatic;
    const Result<Nfs4ClientState *> state = nfs4StateAcquire(host, minors);
    NFS_TRY(state);
    dev->mountFh.state = state.value(); // released with the device
    const Result<Nfs4ExportRoot> root = nfs4MountWalk(*state.value(), fileSys);
    NFS_TRY(root);
    dev->mountFh.fh = root.value().fh;
    dev->minor = nfs4StateNow(*state.value()).minor;
    return {};
}

void Nfs4Driver::limitsTune(const char * /*host*/, Nfs4Device *dev)
{
    const Result<Nfs4Limits> limits = limitsOf(*dev->mountFh.state, dev->mountFh.fh);
    Nfs4Limits server = limits.ok() ? limits.value() : Nfs4Limits{};
    {
        Nfs4ClientState &state = *dev->mountFh.state;
        const SemGuard guard(state.guard);
        server.read = withinSession(server.read, state.maxResponse);
        server.write = withinSession(server.write, state.maxRequest);
    }
    NfsMountOptions &options = dev->options;
    options.readSize = settled(options, NFS_OPT_RSIZE, options.readSize, transferOf(server.read));
    options.writeSize = settled(options, NFS_OPT_WSIZE, options.writeSize, transferOf(server.write));
    options.transport = NFS_TRANSPORT_TCP;
    options.given |= NFS_OPT_RSIZE | NFS_OPT_WSIZE | NFS_OPT_PROTO;
    linesFit(dev);
}

void Nfs4Driver::deviceRelease(Nfs4Device *dev)
{
    nfsRpcDeviceRelease(dev);
    if (dev->cache.semId != nullptr)
        nfsCacheFree(&dev->cache);
    if (dev->mountFh.state != nullptr)
        nfs4StateRelease(dev->mountFh.state);
    std::free(dev);
}

// Refused (16) while files are open on the device, also when one was opened while it was
// being taken out (it is put back).
int Nfs4Driver::deviceRemove(void *device)
{
    auto *dev = static_cast<Nfs4Device *>(device);
    const NfsCallScope scope(dev);
    const auto busy = [dev] { return nfsDeviceOpenFiles(&dev->openFiles) != 0; };
    if (busy())
        return nfsres::entry(Status{Fail{K_EBUSY}});
    const NfsWithdrawnDevice withdrawn(&dev->devHdr);
    if (busy()) {
        withdrawn.restore();
        return nfsres::entry(Status{Fail{K_EBUSY}});
    }
    deviceRelease(dev);
    return 0;
}

void Nfs4Driver::listingRelease(Nfs4File *file)
{
    delete file->listing;
    file->listing = nullptr;
}

// The next name of the folder into pDir, or dd_eof set at its end. A stream whose position word
// is 0 starts over.
Result<int> Nfs4Driver::dirReadOne(Nfs4File *file, KDIR *pDir)
{
    if (file->attr.type != NF3DIR)
        return Fail{nfs4Error(NFS4ERR_NOTDIR)};
    if (pDir->dd_cookie == 0 || file->listing == nullptr) {
        delete file->listing;
        file->listing = new (std::nothrow) Nfs4DirListing;
        if (file->listing == nullptr)
            return Fail{K_ENOMEM};
        NFS_TRY(pageFetch(file, 0, Nfs4Verifier{}));
    }
    Nfs4DirListing &listing = *file->listing;
    while (listing.next == listing.page.entries.size()) {
        if (listing.page.eof) {
            pDir->dd_eof = 1;
            return 0;
        }
        const Nfs4DirEntry &last = listing.page.entries.back();
        NFS_TRY(pageFetch(file, last.cookie, listing.page.verifier));
    }
    const std::string &name = listing.page.entries[listing.next++].name;
    const std::size_t length = std::min<std::size_t>(name.size(), K_NAME_MAX);
    std::memcpy(pDir->dd_dirent.d_name, name.data(), length);
    pDir->dd_dirent.d_name[length] = '\0';
    pDir->dd_cookie = ++listing.delivered;
    return 0;
}
