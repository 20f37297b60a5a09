// The version 4 driver's own parts (nfs4Driver.h): path walks over LOOKUP, creation by OPEN or
// CREATE, the open state of a file open for data, names, links, sizes and attributes over the
// state layer (nfs/state).
#include "drv/nfs4Driver.h"

#include "cache/nfsCacheFile.h"
#include "drv/nfsDrvOpen.h"
#include "drv/nfsDrvTransfer.h"
#include "ops/nfsPathRewrite.h"
#include "state/nfs4LinkOps.h"
#include "state/nfs4NameOps.h"

#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/iosLib.h>
#include <kernel/pathLib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
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
    return Nfs4Handle{fh, stateid4{}, state, nullptr};
}

// The path through the link at parts[at] whose text is TEXT: the components before it, the
// text taken relative to them (to the mount's root when it starts with '/'), then the
// components after it, condensed. Rooted at the mount, so that ".." never climbs above it.
// An empty text names nothing (K_ENOENT), one with a NUL byte cannot be told from its cut form
// (K_EIO); a result of NFS_MAX_PATH bytes or more fails with K_ENAMETOOLONG.
Result<std::string> throughLink(const std::vector<std::string> &parts, std::size_t at,
                                const std::string &text)
{
    if (text.empty())
        return Fail{K_ENOENT};
    if (text.find('\0') != std::string::npos)
        return Fail{K_EIO};
    std::string rewritten;
    if (text[0] != '/') {
        for (std::size_t i = 0; i < at; ++i)
            rewritten += "/" + parts[i];
    }
    rewritten += "/" + text;
    for (std::size_t i = at + 1; i < parts.size(); ++i)
        rewritten += "/" + parts[i];
    if (rewritten.size() >= NFS_MAX_PATH)
        return Fail{K_ENAMETOOLONG};
    nfspath::PathText condensed{};
    rewritten.copy(condensed.data(), rewritten.size());
    pathCondense(condensed.data());
    return std::string(condensed.data());
}

// The path through the link LINK met at parts[at], as throughLink has it.
Result<std::string> linkFollowed(Nfs4ClientState &state, const NfsFh &link,
                                 const std::vector<std::string> &parts, std::size_t at)
{
    const Result<std::string> text = nfs4ReadLink(state, link);
    if (!text.ok())
        return text.fail();
    return throughLink(parts, at, text.value());
}

// The folder that holds the last component of PATH, and that component.
struct Parent {
    Nfs4Handle dir;
    std::string name;
};

// Links in the folder part are followed, as many as the I/O system follows for one path
// (then K_ELOOP); the last component is not looked at.
Result<Parent> parentOf(Nfs4Device *dev, const char *path)
{
    std::vector<std::string> parts = componentsOf(path);
    if (parts.empty())
        return Fail{NFS_ERRNO_INVAL};
    Nfs4ClientState &state = *dev->mountFh.state;
    for (int round = 0; round <= K_IOS_MAX_RESTARTS; ++round) {
        Parent parent{dev->mountFh, parts.back()};
        std::optional<Nfs4Object> link;
        std::size_t i = 0;
        for (; i + 1 < parts.size() && !link.has_value(); ++i) {
            const Result<Nfs4Object> step = nfs4Lookup(state, parent.dir.fh, parts[i].c_str());
            NFS_TRY(step);
            if (step.value().attrs.type == NF4LNK)
                link = step.value();
            else if (step.value().attrs.type != NF4DIR)
                return Fail{nfs4Error(NFS4ERR_NOTDIR)};
            else
                parent.dir = handleIn(dev->mountFh.state, step.value().fh);
        }
        if (!link.has_value())
            return parent;
        const Result<std::string> through = linkFollowed(state, link->fh, parts, i - 1);
        if (!through.ok())
            return through.fail();
        parts = componentsOf(through.value().c_str());
        if (parts.empty())
            return Fail{NFS_ERRNO_INVAL};
    }
    return Fail{K_ELOOP};
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

// A link met on the way, or as the last component where the caller does not stop at links,
// rewrites the path through it (K_FOLLOW_LINK), as over version 3: the I/O system walks the
// new path, so that no data call goes to a link.
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
        if (step.value().attrs.type == NF4LNK && !(last && stopAtLink)) {
            const Result<std::string> through = linkFollowed(*state, step.value().fh, parts, i);
            if (!through.ok())
                return through.fail();
            nfspath::replace(path, through.value().c_str());
            return K_FOLLOW_LINK;
        }
        if (last) {
            object_ = handleIn(state, step.value().fh);
            attr_ = nfs4Fattr3Of(step.value().attrs);
            return 0;
        }
        if (step.value().attrs.type != NF4DIR)
            return Fail{nfs4Error(NFS4ERR_NOTDIR)};
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
    object_ = Nfs4Handle{opened.value().fh, opened.value().stateid, state, opened.value().entry};
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
        file->fh.open = open->entry;
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
    file->fh.open = opened.value().entry;
    return {};
}

// The open given back once the data is safe (the close's write-back and COMMIT came first) and
// its locks released; a refused CLOSE loses no data, and the record goes all the same.
void Nfs4Driver::recordParts(Nfs4File *file)
{
    locksRelease(file);
    if (file->open.owner != nullptr)
        static_cast<void>(nfs4Close(*file->fh.state, file->open));
    file->fh.open = nullptr;
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

Result<int> Nfs4Driver::link(Nfs4File *file, char *newPath)
{
    Nfs4Device *dev = file->pDev;
    const Result<Parent> target = parentOf(dev, newPath);
    if (!target.ok())
        return target.fail();
    return nfsres::zeroOr(
        nfs4Link(*dev->mountFh.state, file->fh.fh, target.value().dir.fh, target.value().name.c_str()));
}

Result<int> Nfs4Driver::symlink(Nfs4Device *dev, char *path, const char *target)
{
    const Result<Parent> where = parentOf(dev, path);
    if (!where.ok())
        return where.fail();
    return nfsres::zeroOr(
        nfs4Symlink(*dev->mountFh.state, where.value().dir.fh, where.value().name.c_str(), target));
}

// As version 3's: the server's text as it stands, NUL bytes and all, cut at the buffer's size.
Result<int> Nfs4Driver::linkText(Nfs4File *file, char *buffer, std::size_t size)
{
    const Result<std::string> text = nfs4ReadLink(*file->fh.state, file->fh.fh);
    if (!text.ok())
        return text.fail();
    const std::size_t stored = std::min(size, text.value().size());
    text.value().copy(buffer, stored);
    return static_cast<int>(stored); // at most NFS4_LINK_MAX
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
    const Result<Nfs4Attrs> set = nfs4SetAttr(*dev->mountFh.state, nfs4OpenOf(fh), change);
    NFS_TRY(set);
    *attr = nfs4Fattr3Of(set.value());
    return 0;
}

Result<int> Nfs4Driver::attrSet(Nfs4File *file, const NfsAttrChange &change)
{
    const Result<Nfs4Attrs> set = nfs4SetAttr(*file->fh.state, nfs4OpenOf(file->fh), change);
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
