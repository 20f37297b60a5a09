// The version 4 driver's own parts (nfs4Driver.h): path walks over LOOKUP, creation by OPEN or
// CREATE, the open state of a file open for data, names, sizes and attributes over the state
// layer (nfs/state).
#include "drv/nfs4Driver.h"

#include "cache/nfsCacheFile.h"
#include "drv/nfsDrvOpen.h"
#include "drv/nfsDrvTransfer.h"
#include "state/nfs4NameOps.h"

#include <brisnel/nfsErrors.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using nfsres::Fail;
using nfsres::Result;
using nfsres::Status;

constexpr uint32_t kDefaultFileMode = 0640;

// A path's components, "." and empty ones left out; ".." takes the one before it back.
std::vector<std::string> componentsOf(const char *path)
{
    std::vector<std::string> parts;
    const char *at = path;
    while (*at != '\0') {
        const std::size_t length = std::strcspn(at, "/");
        const std::string part(at, length);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at += length;
        at += std::strspn(at, "/");
    }
    return parts;
}

// The last component of a path, "" for none.
std::string lastOf(const char *path)
{
    const std::vector<std::string> parts = componentsOf(path);
    return parts.empty() ? std::string() : parts.back();
}

Nfs4Handle handleIn(Nfs4ClientState *state, const NfsFh &fh)
{
    return Nfs4Handle{fh, stateid4{}, state};
}

// The folder that holds the last component of PATH, and that component.
struct Parent {
    Nfs4Handle dir;
    std::string name;
};

Result<Parent> parentOf(Nfs4Device *dev, const char *path)
{
    std::vector<std::string> parts = componentsOf(path);
    if (parts.empty())
        return Fail{NFS_ERRNO_INVAL};
    Parent parent{dev->mountFh, parts.back()};
    parts.pop_back();
    for (const std::string &part : parts) {
        const Result<Nfs4Object> step = nfs4Lookup(*dev->mountFh.state, parent.dir.fh, part.c_str());
        NFS_TRY(step);
        if (step.value().attrs.type != NF4DIR)
            return Fail{nfs4Error(step.value().attrs.type == NF4LNK ? NFS4ERR_SYMLINK : NFS4ERR_NOTDIR)};
        parent.dir = handleIn(dev->mountFh.state, step.value().fh);
    }
    return parent;
}

// The share access an open of the mode needs.
uint32_t accessOf(int accessMode)
{
    switch (accessMode) {
    case K_O_RDONLY: return OPEN4_SHARE_ACCESS_READ;
    case K_O_WRONLY: return OPEN4_SHARE_ACCESS_WRITE;
    default: return OPEN4_SHARE_ACCESS_BOTH;
    }
}

} // namespace

// A result that goes with a file it made and no record: the open is given back.
Nfs4Driver::Lookup::~Lookup()
{
    if (created_.has_value() && object_.state != nullptr)
        static_cast<void>(nfs4Close(*object_.state, *created_));
}

std::optional<Nfs4OpenFile> Nfs4Driver::Lookup::takeOpen() const
{
    std::optional<Nfs4OpenFile> open = created_;
    created_.reset();
    return open;
}

// A link as the last component is the object found only where the caller stops at links: it
// is not followed (NFS4ERR_SYMLINK), so that no data call goes to a link.
Result<int> Nfs4Driver::Lookup::run(Nfs4Device *dev, char *path, bool stopAtLink)
{
    Nfs4ClientState *state = dev->mountFh.state;
    const std::vector<std::string> parts = componentsOf(path);
    dir_ = dev->mountFh;
    object_ = Nfs4Handle{};
    dirFound_ = false;
    if (parts.empty()) {
        const Result<Nfs4Attrs> root = nfs4GetAttr(*state, dev->mountFh.fh);
        NFS_TRY(root);
        object_ = dev->mountFh;
        attr_ = nfs4Fattr3Of(root.value());
        return 0;
    }
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        dirFound_ = last;
        const Result<Nfs4Object> step = nfs4Lookup(*state, dir_.fh, parts[i].c_str());
        NFS_TRY(step);
        if (last && step.value().attrs.type == NF4LNK && !stopAtLink)
            return Fail{nfs4Error(NFS4ERR_SYMLINK)};
        if (last) {
            object_ = handleIn(state, step.value().fh);
            attr_ = nfs4Fattr3Of(step.value().attrs);
            return 0;
        }
        if (step.value().attrs.type != NF4DIR)
            return Fail{nfs4Error(step.value().attrs.type == NF4LNK ? NFS4ERR_SYMLINK : NFS4ERR_NOTDIR)};
        dir_ = handleIn(state, step.value().fh);
    }
    return 0;
}

Result<int> Nfs4Driver::Lookup::create(Nfs4Device *dev, char *path, int mode, bool exclusive)
{
    if (!dirFound_)
        return Fail{nfs4Error(NFS4ERR_NOENT)};
    Nfs4ClientState *state = dev->mountFh.state;
    const std::string name = lastOf(path);
    const auto bits = static_cast<uint32_t>(mode);
    if ((bits & K_S_IFDIR) != 0) {
        const Result<Nfs4Object> made = nfs4MkDir(*state, dir_.fh, name.c_str(), bits & 07777);
        NFS_TRY(made);
        object_ = handleIn(state, made.value().fh);
        attr_ = nfs4Fattr3Of(made.value().attrs);
        return 0;
    }
    Nfs4OpenHow how;
    how.access = OPEN4_SHARE_ACCESS_BOTH;
    how.create = exclusive ? Nfs4Create::Exclusive : Nfs4Create::Unchecked;
    how.mode = (bits & 07777) != 0 ? bits & 07777 : kDefaultFileMode;
    const Result<Nfs4OpenFile> opened = nfs4Open(*state, dir_.fh, name.c_str(), how);
    NFS_TRY(opened);
    created_ = opened.value();
    object_ = Nfs4Handle{opened.value().fh, opened.value().stateid, state};
    attr_ = nfs4Fattr3Of(opened.value().attrs);
    return 0;
}

Result<Nfs4File *> Nfs4Driver::recordBuild(Nfs4Device *dev, const char *path, int accessMode,
                                           const Lookup &found)
{
    Nfs4File *file = nfsdrv::recordNew<Nfs4File>(dev, path, accessMode);
    if (file == nullptr)
        return Fail{K_ENOMEM};
    file->fh = found.object();
    file->dirFh = found.dir();
    file->attr = found.attr();
    if (std::optional<Nfs4OpenFile> open = found.takeOpen(); open.has_value()) {
        file->open = *open;
        file->fh.stateid = open->stateid;
    }
    return file;
}

// A file opened for writing alone is opened for reading too where the caller may read it: the
// cache reads the rest of a line that a write fills in part, and a server may refuse a READ with
// the state id of a write-only open.
Status Nfs4Driver::dataOpen(Nfs4File *file)
{
    if (file->open.owner != nullptr || file->attr.type != NF3REG)
        return {};
    Nfs4OpenHow how;
    how.access = accessOf(file->accessMode);
    const std::string name = lastOf(file->name);
    const bool widened =
        how.access == OPEN4_SHARE_ACCESS_WRITE && nfsdrv::allowed(file->attr, nfsdrv::kWantRead);
    if (widened)
        how.access = OPEN4_SHARE_ACCESS_BOTH;
    Result<Nfs4OpenFile> opened = nfs4Open(*file->fh.state, file->dirFh.fh, name.c_str(), how);
    if (!opened.ok() && widened && opened.error() == nfs4Error(NFS4ERR_ACCESS)) {
        how.access = OPEN4_SHARE_ACCESS_WRITE;
        opened = nfs4Open(*file->fh.state, file->dirFh.fh, name.c_str(), how);
    }
    NFS_TRY(opened);
    file->open = opened.value();
    file->fh.stateid = opened.value().stateid;
    return {};
}

// The open given back once the data is safe (the close's write-back and COMMIT came first) and
// its locks released; a refused CLOSE loses no data, and the record goes all the same.
void Nfs4Driver::recordParts(Nfs4File *file)
{
    locksRelease(file);
    if (file->open.owner != nullptr)
        static_cast<void>(nfs4Close(*file->fh.state, file->open));
    listingRelease(file);
}

Result<int> Nfs4Driver::remove(Nfs4Device *dev, char *path)
{
    const Result<Parent> parent = parentOf(dev, path);
    if (!parent.ok())
        return parent.fail();
    return nfsres::zeroOr(
        nfs4Remove(*dev->mountFh.state, parent.value().dir.fh, parent.value().name.c_str()));
}

Result<int> Nfs4Driver::rename(Nfs4File *file, const char *newPath)
{
    Nfs4Device *dev = file->pDev;
    const Result<Parent> target = parentOf(dev, newPath);
    if (!target.ok())
        return target.fail();
    return nfsres::zeroOr(nfs4Rename(*dev->mountFh.state, file->dirFh.fh, lastOf(file->name).c_str(),
                                     target.value().dir.fh, target.value().name.c_str()));
}

Result<int> Nfs4Driver::renameInPlace(Nfs4Device *dev, const Nfs4Handle &dir, const char *oldPath,
                                      const char *newName)
{
    return nfsres::zeroOr(nfs4Rename(*dev->mountFh.state, dir.fh, lastOf(oldPath).c_str(), dir.fh, newName));
}

// As version 3's: the cache's bytes of the file go out, are committed and dropped first.
Result<int> Nfs4Driver::sizeSet(Nfs4Device *dev, const Nfs4Handle &fh, uint64_t size, fattr3 *attr)
{
    const Result<int> settled = nfsres::viaErrno(
        [dev, attr] { return nfscache::fileSettle(&dev->cache, attr->fileid, version, true); });
    NFS_TRY(settled);
    NfsAttrChange change;
    change.size = size;
    const Result<Nfs4Attrs> set = nfs4SetAttr(*dev->mountFh.state, fh.fh, fh.stateid, change);
    NFS_TRY(set);
    *attr = nfs4Fattr3Of(set.value());
    return 0;
}

Result<int> Nfs4Driver::attrSet(Nfs4File *file, const NfsAttrChange &change)
{
    const Result<Nfs4Attrs> set = nfs4SetAttr(*file->fh.state, file->fh.fh, file->fh.stateid, change);
    NFS_TRY(set);
    file->attr = nfs4Fattr3Of(set.value());
    return 0;
}

Status Nfs4Driver::attrFresh(Nfs4File *file)
{
    const Result<int> settled = nfsres::viaErrno(
        [file] { return nfscache::fileSettle(file->pCache, file->attr.fileid, version, false); });
    NFS_TRY(settled);
    const Result<Nfs4Attrs> fresh = nfs4GetAttr(*file->fh.state, file->fh.fh);
    NFS_TRY(fresh);
    file->attr = nfs4Fattr3Of(fresh.value());
    return {};
}

int Nfs4Driver::dataSafe(Nfs4File *file, int writeBackError)
{
    int commitError = 0;
    if (writeBackError == 0) {
        std::optional<nfscache::CacheLock> hold; // the fields evictions write (nfsDrvTransfer.h)
        if (nfscache::hasLines(file->pCache))
            hold.emplace(file->pCache);
        commitError = nfscache::fileCommit(file, version, nfscache::Caller::owner);
    }
    const int lost = nfsdrv::lossRecorded(file);
    if (lost != 0)
        return lost;
    return writeBackError != 0 ? writeBackError : commitError;
}
