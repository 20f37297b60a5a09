// The parts of the version 3 driver that version 2 has no counterpart of: handle buffers of
// the records' own, CREATE replies without handle or attributes, COMMIT, the server's limits
// for path configuration and its transfer limits.
#include "drv/nfs3Driver.h"

#include "cache/nfsCacheFile.h"
#include "rpc/nfsRpcClient.h"
#include "drv/nfsDrvMount.h"
#include "drv/nfsDrvPathconf.h"
#include "drv/nfsDrvTransfer.h"

#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <optional>

namespace {

// A CREATE or MKDIR of the last component, given its own copy of the parent's handle: the
// create decodes the new object's handle into that buffer, and the parent is still needed.
class Creation {
public:
    explicit Creation(const nfs_fh3 &parent)
    {
        fh_.data.data_val = bytes_.data();
        nfs3path::handleCopy(parent, &fh_);
    }
    Creation(const Creation &) = delete;
    Creation &operator=(const Creation &) = delete;

    nfsres::Result<int> run(NfsDevice *dev, char *path, int mode, bool exclusive)
    {
        return nfsname::thingCreate<Nfs3Protocol>(dev->host, path, &dev->mountFh, &res_, &fh_, mode,
                                                  exclusive);
    }
    bool hasAttr() const { return res_.CREATE3res_u.resok.obj_attributes.attributes_follow == TRUE; }
    bool hasHandle() const { return res_.CREATE3res_u.resok.obj.handle_follows == TRUE; }
    const fattr3 &attr() const { return res_.CREATE3res_u.resok.obj_attributes.post_op_attr_u.attributes; }
    const nfs_fh3 &object() const { return res_.CREATE3res_u.resok.obj.post_op_fh3_u.handle; }

private:
    std::array<char, NFS3_FHSIZE> bytes_{};
    nfs_fh3 fh_{};
    CREATE3res res_{};
};

// What went out UNSTABLE made safe: a COMMIT, and the file's pinned lines sent again while a
// restarted server shows a new verifier (a bounded number of times).
int unstableCommit(NfsOpenFile *file)
{
    std::optional<nfscache::CacheLock> hold; // the fields evictions write (nfsDrvTransfer.h)
    if (nfscache::hasLines(file->pCache))
        hold.emplace(file->pCache);
    return nfscache::fileCommit(file, NFS_V3, nfscache::Caller::owner);
}

// The largest transfer both directions allow. A zero stands for "no limit given": with exactly
// one of the two zero the other one rules, so the limit can never become 0.
uint32_t transferLimit(uint32_t rtmax, uint32_t wtmax)
{
    if (rtmax == 0 || wtmax == 0)
        return std::max(rtmax, wtmax);
    return std::min(rtmax, wtmax);
}

} // namespace

Nfs3Driver::Lookup::Lookup()
{
    res_.LOOKUP3res_u.resok.object.data.data_val = objectBytes_.data();
    dirFh_.data.data_val = dirBytes_.data();
}

nfsres::Result<int> Nfs3Driver::Lookup::run(NfsDevice *dev, char *path, bool stopAtLink)
{
    return nfsname::lookUpByName<Nfs3Protocol>(dev->host, path, &dev->mountFh, &res_, &dirFh_,
                                               stopAtLink ? 1 : 0);
}

nfsres::Result<int> Nfs3Driver::Lookup::create(NfsDevice *dev, char *path, int mode, bool exclusive)
{
    Creation made(dir());
    const nfsres::Result<int> created = made.run(dev, path, mode, exclusive);
    if (!created.ok() || created.value() != 0)
        return created;
    if (!made.hasAttr())
        return nfsres::Fail{NFS_ERRNO_BASE | NFS3ERR_IO}; // the file stays created, without attributes
    if (!made.hasHandle())
        return run(dev, path);
    LOOKUP3resok &ok = res_.LOOKUP3res_u.resok;
    nfs3path::handleCopy(made.object(), &ok.object);
    ok.obj_attributes.post_op_attr_u.attributes = made.attr();
    return 0;
}

nfsres::Result<NfsOpenFile *> Nfs3Driver::recordBuild(NfsDevice *dev, const char *path, int accessMode,
                                                      const Lookup &found)
{
    HeapBlock<char> fhBytes = heapBlock<char>(NFS3_FHSIZE);
    HeapBlock<char> dirBytes = heapBlock<char>(NFS3_FHSIZE);
    HeapBlock<char> cookie;
    if (found.attr().type == NF3DIR)
        cookie = heapBlock<char>(NFS_COOKIE_SIZE);
    if (!fhBytes || !dirBytes || (found.attr().type == NF3DIR && !cookie))
        return nfsres::Fail{K_ENOMEM};
    nfs_fh3 fh{{0, fhBytes.get()}};
    nfs_fh3 dirFh{{0, dirBytes.get()}};
    if (!nfs3path::handleCopy(found.object(), &fh) || !nfs3path::handleCopy(found.dir(), &dirFh))
        return nfsres::Fail{NFS_ERRNO_BASE | NFS3ERR_BADHANDLE};
    NfsOpenFile *file = nfsdrv::recordNew<NfsOpenFile>(dev, path, accessMode);
    if (file == nullptr)
        return nfsres::Fail{K_ENOMEM};
    file->fh = fh;
    file->dirFh = dirFh;
    file->attr = found.attr();
    file->cookie = cookie.release();
    static_cast<void>(fhBytes.release());
    static_cast<void>(dirBytes.release());
    return file;
}

// Without an RPC client of its own, the task's batch is released by the XDR routine alone.
void Nfs3Driver::recordParts(NfsOpenFile *file)
{
    nfs3DirReplyRelease(file);
    std::free(file->fh.data.data_val);
    std::free(file->dirFh.data.data_val);
    std::free(file->cookie);
}

int Nfs3Driver::dataSafe(NfsOpenFile *file, int writeBackError)
{
    const int commitError = writeBackError == 0 ? unstableCommit(file) : 0;
    const int lost = nfsdrv::lossRecorded(file);
    if (lost != 0)
        return lost;
    return writeBackError != 0 ? writeBackError : commitError;
}

nfsres::Status Nfs3Driver::reachable(uint64_t pos, uint64_t count)
{
    return nfsres::statusOf(pos + count >= pos, NFS_ERRNO_BASE | NFS3ERR_FBIG);
}

// The server is asked first, for every selector; then the selector is replaced by its value.
nfsres::Result<int> Nfs3Driver::pathconf(NfsOpenFile *file, int *pSelector)
{
    Nfs3PathconfInfo pc{};
    if (const nfsres::Status asked = Nfs3Protocol::pathconfGet(file->pDev->host, file->fh, &pc); !asked.ok())
        return asked.fail();
    return nfsdrv::pathconfAnswer(pc, pSelector);
}

bool Nfs3Driver::deviceParts(NfsDevice *dev)
{
    dev->mountFh.data.data_val = static_cast<char *>(std::malloc(NFS3_FHSIZE));
    return dev->mountFh.data.data_val != nullptr;
}

// The device's own transfer sizes settled against the server's limits and preferred sizes and
// what one message carries over the transport the FSINFO call took (a datagram over UDP). Then,
// unless the device has sizes of its own in both directions, lowers the module's transfer size
// likewise; takes the server's preferred READDIR size. A server that does not answer FSINFO
// leaves the words as they are ("max" is then the word's size).
void Nfs3Driver::limitsTune(const char *host, NfsDevice *dev)
{
    Nfs3FsInfo info{};
    const bool answered = Nfs3Protocol::fsInfoGet(host, dev->mountFh, &info).ok();
    const uint32_t carried = nfsRpcTransferLimit(nfsRpcCurrentTransport());
    const auto within = [carried](uint32_t server) {
        return server != 0 ? std::min(server, carried) : carried;
    };
    const uint32_t word = nfsWordGet(nfs3MaxMsgLen);
    nfsdrv::sizesSettle(&dev->options, answered ? info.rtpref : word, answered ? info.wtpref : word,
                        within(answered ? info.rtmax : 0), within(answered ? info.wtmax : 0));
    constexpr uint32_t kBothSizes = NFS_OPT_RSIZE | NFS_OPT_WSIZE;
    if (!answered || (dev->options.given & kBothSizes) == kBothSizes)
        return;
    const uint32_t server = transferLimit(info.rtmax, info.wtmax);
    const uint32_t limit = server != 0 ? std::min(server, carried) : carried;
    if (limit != 0 && limit < nfsWordGet(nfs3MaxMsgLen))
        nfsWordSet(nfs3MaxMsgLen, limit);
    if (info.dtpref != 0)
        nfsWordSet(nfs3MaxRddirSz, static_cast<int32_t>(std::min<uint32_t>(info.dtpref, INT32_MAX)));
}

// A device already taken out of the I/O system, with its cache and handle buffer.
void Nfs3Driver::deviceRelease(NfsDevice *dev)
{
    nfsRpcDeviceRelease(dev);
    if (dev->cache.semId != nullptr) // a cache never allocated has nothing to free
        nfsCacheFree(&dev->cache);
    std::free(dev->mountFh.data.data_val);
    std::free(dev);
}
