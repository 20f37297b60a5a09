// The NFS devices of the I/O system: listed, handed out as handles, and their names.
#include "core/nfsArgs.h"
#include "core/nfsConfig.h"
#include "core/nfsDispatch.h"
#include "core/nfsMountOptions.h"

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfsDevLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsMountLib.h>
#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>

#include <array>
#include <cstdio>

namespace {

enum class Kind { other, v2, v3 };

Kind kindOf(const DEV_HDR *dev)
{
    if (dev->drvNum <= 0)
        return Kind::other;
    if (dev->drvNum == nfs3DrvNum)
        return Kind::v3;
    if (dev->drvNum == nfs2DrvNum)
        return Kind::v2;
    return Kind::other;
}

// "host:path" in the buffer, cut to fit: a longer text is shown cut, never overrun. Both
// versions' device records have host and fileSys.
template <typename Device> void hostAndPath(const DEV_HDR *dev, std::array<char, NFS_MAX_PATH> &buffer)
{
    const auto *nfs = reinterpret_cast<const Device *>(dev);
    // The length it would have had is of no use here: a cut text is what is wanted.
    if (std::snprintf(buffer.data(), buffer.size(), "%.*s:%.*s", NFS_HOST_NAME_LEN, nfs->host, NFS_MAX_PATH,
                      nfs->fileSys) < 0)
        buffer[0] = '\0';
}

void row(const char *name, const char *fileSystem)
{
    std::printf("%-20.20s %-50.50s\n", name, fileSystem);
}

} // namespace

extern "C" {

void nfsDevShow(void)
{
    std::array<char, NFS_MAX_PATH> buffer{};
    row("device name", "file system");
    row("-----------", "-----------");
    for (DEV_HDR *dev = iosNextDevGet(nullptr); dev != nullptr; dev = iosNextDevGet(dev)) {
        const Kind kind = kindOf(dev);
        if (kind == Kind::other)
            continue;
        kind == Kind::v3 ? hostAndPath<NfsDevice>(dev, buffer) : hostAndPath<Nfs2Device>(dev, buffer);
        row(dev->name, buffer.data());
    }
}

// The options' text is cut to the column's width only where it does not fit the buffer.
void nfsDevOptShow(void)
{
    std::array<char, NFS_MAX_PATH> options{};
    std::printf("%-20.20s %s\n", "device name", "options");
    std::printf("%-20.20s %s\n", "-----------", "-------");
    for (DEV_HDR *dev = iosNextDevGet(nullptr); dev != nullptr; dev = iosNextDevGet(dev)) {
        const Kind kind = kindOf(dev);
        if (kind == Kind::other)
            continue;
        if (!nfsMountOptionsText(dev, kind == Kind::v3 ? 3 : 2, options.data(), options.size()))
            options.back() = '\0';
        std::printf("%-20.20s %s\n", dev->name, options.data());
    }
}

int nfsDevOptGet(void *handle, char *buffer, int size)
{
    if (!nfsArgsGiven(handle, buffer))
        return -1;
    auto *dev = static_cast<DEV_HDR *>(handle);
    const Kind kind = kindOf(dev);
    if (kind == Kind::other || size <= 0)
        return -1;
    return nfsMountOptionsText(dev, kind == Kind::v3 ? 3 : 2, buffer, static_cast<std::size_t>(size)) ? 0
                                                                                                      : -1;
}

int nfsDevListGet(void *handles[], int max)
{
    if (max > 0 && !nfsArgsGiven(handles))
        return -1;
    int count = 0;
    for (DEV_HDR *dev = iosNextDevGet(nullptr); count < max && dev != nullptr; dev = iosNextDevGet(dev)) {
        if (kindOf(dev) != Kind::other)
            handles[count++] = dev;
    }
    return count;
}

int nfsDevInfoGet(void *handle, NfsDevInfo *pInfo)
{
    if (!nfsArgsGiven(handle, pInfo))
        return -1;
    auto *dev = static_cast<DEV_HDR *>(handle);
    switch (kindOf(dev)) {
    case Kind::v3:
        if (pFuncNfs3DevInfoGet == nullptr)
            break;
        return pFuncNfs3DevInfoGet(reinterpret_cast<NfsDevice *>(dev), pInfo);
    case Kind::v2:
        if (pFuncNfs2DevInfoGet == nullptr)
            break;
        return pFuncNfs2DevInfoGet(reinterpret_cast<Nfs2Device *>(dev), pInfo);
    default: return -1;
    }
    errnoSet(NFS_ERR_DISPATCH_SLOT_EMPTY);
    return -1;
}

} // extern "C"
