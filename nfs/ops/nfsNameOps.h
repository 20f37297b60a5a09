// Module-private: the path walk, removal and rename of both protocol versions, over a
// version's traits (nfs2Protocol.h, nfs3Protocol.h).
#ifndef NFS_OPS_NFSNAMEOPS_H
#define NFS_OPS_NFSNAMEOPS_H

#include "core/nfsResult.h"
#include "ops/nfsOpsCall.h"
#include "ops/nfsPathRewrite.h"

#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/pathLib.h>

#include <cstring>

namespace nfsname {

using nfsops::ready;
using nfspath::PathText;
using nfsres::Fail;
using nfsres::Result;
using nfsres::Status;

// As many links as the I/O system follows for one path before giving up with K_ELOOP.
constexpr int kLinkRounds = K_IOS_MAX_RESTARTS;

// Cuts path into its directory part and last name; a failure with 26 when either does not fit.
inline Status split(const char *path, PathText *dirPart, PathText *name)
{
    return nfsres::statusOf(
        strnlen(path, NFS_MAX_PATH) < NFS_MAX_PATH &&
            pathSplit(path, dirPart->data(), dirPart->size(), name->data(), name->size()) == 0,
        K_ENAMETOOLONG);
}

// One LOOKUP per component from the export's root, the path rewritten at a symbolic link (-2).
// A regular file (or other non-directory) followed by further components ends the walk with
// the NOTDIR status (0x300014) instead of looking the next name up beside it. 0 or -2.
template <typename P>
Result<int> lookUpByName(const char *host, char *path, const typename P::Handle *mountFh,
                         typename P::LookupRes *res, typename P::Handle *dirFh, int noFollowLast)
{
    if (const Status given = ready(host, path, mountFh, res, dirFh); !given.ok())
        return given.fail();
    nfspath::PathNames parsed;
    if (const Status cut = nfspath::parse(path, &parsed); !cut.ok())
        return cut.fail();
    if (!P::handleCopy(*mountFh, dirFh))
        return Fail{NFS_ERRNO_BASE | NFS3ERR_BADHANDLE};
    const typename P::Handle *dir = mountFh;
    for (int i = 0; i < parsed.count; ++i) {
        const bool last = i + 1 == parsed.count;
        // The next LOOKUP is encoded from dir before its reply lands where dir may point.
        if (const Status step = P::lookUpStep(host, *dir, parsed.names[static_cast<std::size_t>(i)], res);
            !step.ok())
            return step.fail();
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
            if (const Status read = P::linkRead(host, object, linkText.data()); !read.ok())
                return read.fail();
            return nfspath::throughLink(parsed, i, linkText.data(), path);
        } else if (!last) {
            return Fail{NFS_ERRNO_BASE | NFS3ERR_NOTDIR}; // the same status in version 2
        }
    }
    return 0;
}

// A file, a symbolic link (not its target) or an empty directory. A path of NFS_MAX_PATH
// characters or more is refused with 26; the mount root is not removed. 0 or -2.
template <typename P> Result<int> fileRemove(const char *host, const typename P::Handle *mountFh, char *path)
{
    if (const Status given = ready(host, mountFh, path); !given.ok())
        return given.fail();
    PathText dirPart{};
    PathText name{};
    if (const Status cut = split(path, &dirPart, &name); !cut.ok())
        return cut.fail();
    typename P::Found found;
    const Result<int> looked = found.run(host, path, mountFh, true);
    if (!looked.ok() || looked.value() != 0)
        return looked;
    if (!P::isRemovable(found.attr()))
        return Fail{NFS_ERR_INAPPROPRIATE_FILE_TYPE};
    return nfsres::zeroOr(P::removeCall(host, P::removeProc(found.attr()), found.dir(), name.data()));
}

// The handle of the directory dirPath names, following its links, into target; a path without
// components names the mount root. A cycle of links ends with K_ELOOP.
template <typename P>
Status targetDirFind(const char *host, const typename P::Handle *mountFh, char *dirPath,
                     typename P::Handle *target)
{
    for (int round = 0; round <= kLinkRounds; ++round) {
        typename P::Found found;
        const Result<int> looked = found.run(host, dirPath, mountFh, false);
        if (!looked.ok())
            return looked.fail();
        if (looked.value() == 0)
            return nfsres::statusOf(P::handleCopy(found.walked() ? found.object() : *mountFh, target),
                                    NFS_ERRNO_BASE | NFS3ERR_BADHANDLE);
    }
    return Fail{K_ELOOP};
}

// The directory part of oldPath is not used: the source is oldDirFh. A directory part of
// newPath that names no component ("/") targets the mount root.
template <typename P>
Result<int> rename(const char *host, const typename P::Handle *mountFh, const char *oldPath,
                   const typename P::Handle *oldDirFh, const char *newPath)
{
    if (const Status given = ready(host, mountFh, oldPath, oldDirFh, newPath); !given.ok())
        return given.fail();
    PathText oldDir{};
    PathText oldName{};
    PathText newDir{};
    PathText newName{};
    if (const Status cut = split(oldPath, &oldDir, &oldName); !cut.ok())
        return cut.fail();
    if (const Status cut = split(newPath, &newDir, &newName); !cut.ok())
        return cut.fail();
    if (newDir[0] == '\0')
        return nfsres::zeroOr(P::renameCall(host, *oldDirFh, oldName.data(), *oldDirFh, newName.data()));
    PathText dirPath{};
    if (pathCat(newDir[0] == '/' ? "" : ".", newDir.data(), dirPath.data(), dirPath.size()) != 0)
        return Fail{K_ENAMETOOLONG};
    typename P::OwnHandle target;
    if (const Status found = targetDirFind<P>(host, mountFh, dirPath.data(), target.get()); !found.ok())
        return found.fail();
    return nfsres::zeroOr(P::renameCall(host, *oldDirFh, oldName.data(), *target.get(), newName.data()));
}

// path with its last name kept, rewritten to dirPart (a directory part that passed through a
// link) joined with name: -2, or a failure with 26 when the result does not fit.
inline Result<int> rejoined(const char *dirPart, const char *name, char *path)
{
    PathText joined{};
    if (std::strlen(dirPart) + std::strlen(name) + 1 >= NFS_MAX_PATH ||
        pathCat(dirPart, name, joined.data(), joined.size()) != 0)
        return Fail{K_ENAMETOOLONG};
    nfspath::replace(path, joined.data());
    return K_FOLLOW_LINK;
}

// A regular file, or a directory when mode has the directory bit, as the last component of
// path; its parent is looked up from the mount (-2 with path rewritten at a link on the way,
// the last name kept). On 0 res holds the new object; a created name that turned out to be a
// symbolic link rewrites path to its target, taken from the directory that holds it (-2).
template <typename P>
Result<int> thingCreate(const char *host, char *path, const typename P::Handle *mountFh,
                        typename P::CreateRes *res, typename P::Handle *dirFh, int mode,
                        bool exclusive = false)
{
    if (const Status given = ready(host, path, mountFh, res, dirFh); !given.ok())
        return given.fail();
    *res = typename P::CreateRes{};
    PathText dirPart{};
    PathText name{};
    if (const Status cut = split(path, &dirPart, &name); !cut.ok())
        return cut.fail();
    typename P::Parent parent(dirFh);
    const Result<int> found = parent.run(host, dirPart.data(), mountFh);
    if (!found.ok())
        return found;
    if (found.value() == K_FOLLOW_LINK)
        return rejoined(dirPart.data(), name.data(), path);
    if (const Status made = P::createCall(host, parent, name.data(), mode, res, exclusive); !made.ok())
        return made.fail();
    if (!P::isLink(P::createdAttr(*res)))
        return 0;
    const typename P::Handle *link = P::createdHandle(*res);
    PathText linkText{};
    if (link == nullptr)
        return Fail{0};
    if (const Status read = P::linkRead(host, *link, linkText.data()); !read.ok())
        return read.fail();
    return nfspath::createdLink(dirPart.data(), linkText.data(), path);
}

// The directory holding path's last name, looked up from the mount root, then act(directory,
// name): its result. -2 with path rewritten (the last name kept) when the directory part passed
// through a symbolic link.
template <typename P, typename Act>
Result<int> inParent(const char *host, const typename P::Handle *mountFh, char *path, Act act)
{
    PathText dirPart{};
    PathText name{};
    if (const Status cut = split(path, &dirPart, &name); !cut.ok())
        return cut.fail();
    if (name[0] == '\0')
        return Fail{K_ENOENT};
    typename P::Found found;
    const Result<int> looked = found.run(host, dirPart.data(), mountFh, false);
    if (!looked.ok())
        return looked;
    if (looked.value() == K_FOLLOW_LINK) {
        PathText joined{};
        if (pathCat(dirPart.data(), name.data(), joined.data(), joined.size()) != 0)
            return Fail{K_ENAMETOOLONG};
        nfspath::replace(path, joined.data());
        return K_FOLLOW_LINK;
    }
    if (found.walked() && !P::isDirectory(found.attr()))
        return Fail{NFS_ERRNO_BASE | NFS3ERR_NOTDIR}; // the same status in version 2
    return nfsres::zeroOr(act(found.walked() ? found.object() : *mountFh, name.data()));
}

// A further name, newPath, for the file fh. 0 or -2.
template <typename P>
Result<int> linkMake(const char *host, const typename P::Handle *mountFh, const typename P::Handle &fh,
                     char *newPath)
{
    if (const Status given = ready(host, mountFh, newPath); !given.ok())
        return given.fail();
    return inParent<P>(host, mountFh, newPath, [host, &fh](const typename P::Handle &dir, char *name) {
        return P::linkCall(host, fh, dir, name);
    });
}

// A symbolic link at path holding target as it stands. 0 or -2.
template <typename P>
Result<int> symlinkMake(const char *host, const typename P::Handle *mountFh, char *path, const char *target)
{
    if (const Status given = ready(host, mountFh, path, target); !given.ok())
        return given.fail();
    return inParent<P>(host, mountFh, path, [host, target](const typename P::Handle &dir, char *name) {
        return P::symlinkCall(host, dir, name, target);
    });
}

} // namespace nfsname

#endif
