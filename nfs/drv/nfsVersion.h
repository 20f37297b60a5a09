// Module-private: what a protocol version's type must give, named in one place. The shared
// driver (nfsDrvOpen.h, nfsDrvFile.h, nfsDrvMount.h) is written once over such a type, and its
// installation fills the version's dispatch words from the type's table. Nfs2Driver, Nfs3Driver
// and Nfs4Driver (nfs2Driver.h, nfs3Driver.h, nfs4Driver.h) are the three; each is checked where
// it is defined.
#ifndef NFS_DRV_NFSVERSION_H
#define NFS_DRV_NFSVERSION_H

#include "core/nfsDispatch.h"
#include "core/nfsFileHandle.h"
#include "core/nfsResult.h"
#include "ops/nfsAttrChange.h"
#include "ops/nfsProtocol.h"

#include <brisnel/nfsCacheLib.h>
#include <kernel/kernelStat.h>

#include <concepts>
#include <cstddef>
#include <cstdint>

// The formatter of this machine breaks requires-expressions apart: these are laid out by hand.
// clang-format off

// The version's protocol traits (what the cache needs of them, NfsProtocolRecords: version 4's
// calls go through its state layer rather than the shared name and data operations), records,
// attributes, handle and numbers, and
// the file identities the cache keeps (its handle and file system id as NfsFh and NfsFsid, the
// id lines are tagged with).
template <typename V>
concept NfsVersionIdentity = NfsProtocolRecords<typename V::Protocol> &&
    requires(const typename V::File &file, const typename V::Attr &attr) {
        typename V::Device;
        typename V::File;
        typename V::Attr;
        typename V::Handle;
        { V::version } -> std::convertible_to<int>;
        { V::drvNum() } -> std::same_as<int32_t &>;
        nfsDispatchFill(V::dispatch);
        { V::handleOf(file) } -> std::same_as<NfsFh>;
        { V::fsidOf(attr) } -> std::same_as<NfsFsid>;
        { V::cacheId(attr) } -> std::same_as<uint64_t>;
        { V::isDirectory(attr) } -> std::same_as<bool>;
        { V::isRegular(attr) } -> std::same_as<bool>;
    };

// Walking a path: one look-up's (or create's) result, and the open file's record built from it.
template <typename V>
concept NfsVersionLookup =
    requires(typename V::Lookup &lookup, const typename V::Lookup &found, typename V::Device *dev,
             typename V::File *file, char *path, int number) {
        { lookup.run(dev, path, true) } -> std::same_as<nfsres::Result<int>>;
        { lookup.create(dev, path, number, true) } -> std::same_as<nfsres::Result<int>>;
        { found.attr() } -> std::same_as<const typename V::Attr &>;
        { found.object() } -> std::same_as<const typename V::Handle &>;
        { found.dir() } -> std::same_as<const typename V::Handle &>;
        { found.walked() } -> std::same_as<bool>;
        { V::recordBuild(dev, path, number, found) } -> std::same_as<nfsres::Result<typename V::File *>>;
        V::recordParts(file);
    };

// Names, attributes, data and directories on the server.
template <typename V>
concept NfsVersionFiles =
    requires(typename V::Device *dev, typename V::File *file, const typename V::Handle &fh,
             typename V::Attr *pAttr, const NfsAttrChange &change, char *path, std::size_t size,
             uint64_t position, int number, struct kstat *pStat, struct kstatfs *pFsStat, KDIR *pDir,
             int *pSelector) {
        { V::remove(dev, path) } -> std::same_as<nfsres::Result<int>>;
        { V::rename(file, path) } -> std::same_as<nfsres::Result<int>>;
        { V::renameInPlace(dev, fh, path, path) } -> std::same_as<nfsres::Result<int>>;
        { V::sizeSet(dev, fh, position, pAttr) } -> std::same_as<nfsres::Result<int>>;
        { V::attrSet(file, change) } -> std::same_as<nfsres::Result<int>>;
        { V::attrFresh(file) } -> std::same_as<nfsres::Status>;
        { V::link(file, path) } -> std::same_as<nfsres::Result<int>>;
        { V::symlink(dev, path, path) } -> std::same_as<nfsres::Result<int>>;
        { V::linkText(file, path, size) } -> std::same_as<nfsres::Result<int>>;
        V::fileAttrGet(pAttr, pStat);
        { V::dataSafe(file, number) } -> std::same_as<int>;
        { V::reachable(position, position) } -> std::same_as<nfsres::Status>;
        V::sizeRaise(file);
        { V::dirReadOne(file, pDir) } -> std::same_as<nfsres::Result<int>>;
        { V::fsAttrGet(file, pFsStat) } -> std::same_as<nfsres::Result<int>>;
        { V::pathconf(file, pSelector) } -> std::same_as<nfsres::Result<int>>;
        { V::servesPaths } -> std::convertible_to<bool>;
    };

// Mounting and unmounting.
template <typename V>
concept NfsVersionMount = requires(typename V::Device *dev, NfsDataCache *cache, const char *host) {
    { V::cacheAlloc(cache) } -> std::same_as<nfsres::Result<int>>;
    { V::deviceParts(dev) } -> std::same_as<bool>;
    { V::dirMount(host, host, dev) } -> std::same_as<nfsres::Status>;
    V::limitsTune(host, dev);
    { V::mntUnmountAll(host) } -> std::same_as<nfsres::Status>;
    V::deviceRelease(dev);
};

template <typename V>
concept NfsVersion = NfsVersionIdentity<V> && NfsVersionLookup<V> && NfsVersionFiles<V> && NfsVersionMount<V>;

// clang-format on

#endif
