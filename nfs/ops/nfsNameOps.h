// Module-private: the path walk, removal and rename of both protocol versions, over a
// version's traits (nfs2Protocol.h, nfs3Protocol.h).
#ifndef NFS_OPS_NFSNAMEOPS_H
#define NFS_OPS_NFSNAMEOPS_H

#include "core/nfsArgs.h"
#include "ops/nfsPathRewrite.h"

#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/pathLib.h>

#include <cstring>

namespace nfsname {

using nfspath::PathText;

// As many links as the I/O system follows for one path before giving up with K_ELOOP.
constexpr int kLinkRounds = K_IOS_MAX_RESTARTS;

// Cuts path into its directory part and last name; false with 26 when either does not fit.
inline bool split(const char *path, PathText *dirPart, PathText *name)
{
    if (strnlen(path, NFS_MAX_PATH) < NFS_MAX_PATH &&
        pathSplit(path, dirPart->data(), dirPart->size(), name->data(), name->size()) == 0)
        return true;
    errnoSet(K_ENAMETOOLONG);
    return false;
}

// One LOOKUP per component from the export's root, the path rewritten at a symbolic link (-2).
// A regular file (or other non-directory) followed by further components ends the walk with
// the NOTDIR status (0x300014) instead of looking the next name up beside it.
template <typename P>
int lookUpByName(const char *host, char *path, const typename P::Handle *mountFh, typename P::LookupRes *res,
                 typename P::Handle *dirFh, int noFollowLast)
{
    if (!nfsArgsGiven(host, path, mountFh, res, dirFh) || nfsInit() != 0)
        return -1;
    nfspath::PathNames parsed;
    if (!nfspath::parse(path, &parsed))
        return -1;
    if (!P::handleCopy(*mountFh, dirFh)) {
        errnoSet(NFS_ERRNO_BASE | NFS3ERR_BADHANDLE);
        return -1;
    }
    const typename P::Handle *dir = mountFh;
    for (int i = 0; i < parsed.count; ++i) {
        const bool last = i + 1 == parsed.count;
        // The next LOOKUP is encoded from dir before its reply lands where dir may point.
        if (P::lookUpStep(host, *dir, parsed.names[static_cast<std::size_t>(i)], res) != 0)
            return -1;
        const typename P::Attr &attr = P::attrOf(*res);
        const typename P::Handle &object = P::objectOf(*res);
        if (P::isDirectory(attr)) {
            if (!last)
                P::handleCopy(object, dirFh);
            dir = &object;
        } else if (P::isLink(attr)) {
            if (last && noFollowLast != 0)
                return 0;
            PathText linkText{};
            if (P::linkRead(host, object, linkText.data()) != 0)
                return -1;
            return nfspath::throughLink(parsed, i, linkText.data(), path);
        } else if (!last) {
            nfsErrnoSet(NFS3ERR_NOTDIR); // the same status in version 2
            return -1;
        }
    }
    return 0;
}

// A file, a symbolic link (not its target) or an empty directory. A path of NFS_MAX_PATH
// characters or more is refused with 26; the mount root is not removed.
template <typename P> int fileRemove(const char *host, const typename P::Handle *mountFh, char *path)
{
    if (!nfsArgsGiven(host, mountFh, path) || nfsInit() != 0)
        return -1;
    PathText dirPart{};
    PathText name{};
    if (!split(path, &dirPart, &name))
        return -1;
    typename P::Found found;
    const int looked = found.run(host, path, mountFh, true);
    if (looked != 0)
        return looked;
    if (!P::isRemovable(found.attr())) {
        errnoSet(NFS_ERR_INAPPROPRIATE_FILE_TYPE);
        return -1;
    }
    return P::removeCall(host, P::removeProc(found.attr()), found.dir(), name.data());
}

// The handle of the directory dirPath names, following its links, into target; a path without
// components names the mount root. 0 or -1; a cycle of links ends with K_ELOOP.
template <typename P>
int targetDirFind(const char *host, const typename P::Handle *mountFh, char *dirPath,
                  typename P::Handle *target)
{
    for (int round = 0; round <= kLinkRounds; ++round) {
        typename P::Found found;
        const int looked = found.run(host, dirPath, mountFh, false);
        if (looked == -1)
            return -1;
        if (looked == 0)
            return P::handleCopy(found.walked() ? found.object() : *mountFh, target) ? 0 : -1;
    }
    errnoSet(K_ELOOP);
    return -1;
}

// The directory part of oldPath is not used: the source is oldDirFh. A directory part of
// newPath that names no component ("/") targets the mount root.
template <typename P>
int rename(const char *host, const typename P::Handle *mountFh, const char *oldPath,
           const typename P::Handle *oldDirFh, const char *newPath)
{
    if (!nfsArgsGiven(host, mountFh, oldPath, oldDirFh, newPath) || nfsInit() != 0)
        return -1;
    PathText oldDir{};
    PathText oldName{};
    PathText newDir{};
    PathText newName{};
    if (!split(oldPath, &oldDir, &oldName) || !split(newPath, &newDir, &newName))
        return -1;
    if (newDir[0] == '\0')
        return P::renameCall(host, *oldDirFh, oldName.data(), *oldDirFh, newName.data());
    PathText dirPath{};
    if (pathCat(newDir[0] == '/' ? "" : ".", newDir.data(), dirPath.data(), dirPath.size()) != 0) {
        errnoSet(K_ENAMETOOLONG);
        return -1;
    }
    typename P::OwnHandle target;
    if (targetDirFind<P>(host, mountFh, dirPath.data(), target.get()) != 0)
        return -1;
    return P::renameCall(host, *oldDirFh, oldName.data(), *target.get(), newName.data());
}

// A regular file, or a directory when mode has the directory bit, as the last component of
// path; its parent is looked up from the mount (-2 with path rewritten at a link on the way,
// the last name kept). On 0 res holds the new object; a created name that turned out to be a
// symbolic link rewrites path to its target, taken from the directory that holds it (-2).
template <typename P>
int thingCreate(const char *host, char *path, const typename P::Handle *mountFh, typename P::CreateRes *res,
                typename P::Handle *dirFh, int mode, bool exclusive = false)
{
    if (!nfsArgsGiven(host, path, mountFh, res, dirFh) || nfsInit() != 0)
        return -1;
    *res = typename P::CreateRes{};
    PathText dirPart{};
    PathText name{};
    if (!split(path, &dirPart, &name))
        return -1;
    typename P::Parent parent(dirFh);
    const int found = parent.run(host, dirPart.data(), mountFh);
    if (found == K_FOLLOW_LINK) {
        PathText joined{};
        if (std::strlen(dirPart.data()) + std::strlen(name.data()) + 1 >= NFS_MAX_PATH ||
            pathCat(dirPart.data(), name.data(), joined.data(), joined.size()) != 0) {
            errnoSet(K_ENAMETOOLONG);
            return -1;
        }
        nfspath::replace(path, joined.data());
        return K_FOLLOW_LINK;
    }
    if (found != 0 || P::createCall(host, parent, name.data(), mode, res, exclusive) != 0)
        return -1;
    if (!P::isLink(P::createdAttr(*res)))
        return 0;
    const typename P::Handle *link = P::createdHandle(*res);
    PathText linkText{};
    if (link == nullptr || P::linkRead(host, *link, linkText.data()) != 0)
        return -1;
    return nfspath::createdLink(dirPart.data(), linkText.data(), path);
}

// The directory holding path's last name, looked up from the mount root, then act(directory,
// name): its result. -2 with path rewritten (the last name kept) when the directory part passed
// through a symbolic link.
template <typename P, typename Act>
int inParent(const char *host, const typename P::Handle *mountFh, char *path, Act act)
{
    PathText dirPart{};
    PathText name{};
    if (!split(path, &dirPart, &name))
        return -1;
    if (name[0] == '\0') {
        errnoSet(K_ENOENT);
        return -1;
    }
    typename P::Found found;
    const int looked = found.run(host, dirPart.data(), mountFh, false);
    if (looked == K_FOLLOW_LINK) {
        PathText joined{};
        if (pathCat(dirPart.data(), name.data(), joined.data(), joined.size()) != 0) {
            errnoSet(K_ENAMETOOLONG);
            return -1;
        }
        nfspath::replace(path, joined.data());
        return K_FOLLOW_LINK;
    }
    if (looked != 0)
        return -1;
    if (found.walked() && !P::isDirectory(found.attr())) {
        nfsErrnoSet(NFS3ERR_NOTDIR); // the same status in version 2
        return -1;
    }
    return act(found.walked() ? found.object() : *mountFh, name.data());
}

// A further name, newPath, for the file fh. 0, -1 or -2.
template <typename P>
int linkMake(const char *host, const typename P::Handle *mountFh, const typename P::Handle &fh, char *newPath)
{
    if (!nfsArgsGiven(host, mountFh, newPath) || nfsInit() != 0)
        return -1;
    return inParent<P>(host, mountFh, newPath, [host, &fh](const typename P::Handle &dir, char *name) {
        return P::linkCall(host, fh, dir, name);
    });
}

// A symbolic link at path holding target as it stands. 0, -1 or -2.
template <typename P>
int symlinkMake(const char *host, const typename P::Handle *mountFh, char *path, const char *target)
{
    if (!nfsArgsGiven(host, mountFh, path, target) || nfsInit() != 0)
        return -1;
    return inParent<P>(host, mountFh, path, [host, target](const typename P::Handle &dir, char *name) {
        return P::symlinkCall(host, dir, name, target);
    });
}

} // namespace nfsname

#endif
