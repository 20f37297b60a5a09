// The NFS devices of the I/O system: listed, handed out as handles, and their names.
#include "core/nfsArgs.h"
#include "core/nfsConfig.h"
#include "core/nfsDispatch.h"
#include "core/nfsMountOptions.h"
#include "ops/nfs4Protocol.h"

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfs4Drv.h>
#include <brisnel/nfsDevLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsMountLib.h>
#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>

#include <array>
#include <cstdio>

namespace {

enum class Kind { other, v2, v3, v4 };

Kind kindOf(const DEV_HDR *dev)
{
    if (dev->drvNum <= 0)
        return Kind::other;
    if (dev->drvNum == nfs3DrvNum)
        return Kind::v3;
    if (dev->drvNum == nfs2DrvNum)
        return Kind::v2;
    if (dev->drvNum == nfs4DrvNum)
        return Kind::v4;
    return Kind::other;
}

// The version a device speaks, as the listing shows it.
const char *versionText(DEV_HDR *dev, Kind kind)
{
    switch (kind) {
    case Kind::v2: return "2";
    case Kind::v3: return "3";
    case Kind::v4: return nfs4DevMinorGet(reinterpret_cast<Nfs4Device *>(dev)) == 0 ? "4.0" : "4.1";
    default: return "";
    }
}

// The version's number for the options' text: 2, 3, or NFS_VERSION_40 and NFS_VERSION_41.
int versionNumber(DEV_HDR *dev, Kind kind)
{
    if (kind != Kind::v4)
        return kind == Kind::v3 ? 3 : 2;
    return nfs4DevMinorGet(reinterpret_cast<Nfs4Device *>(dev)) == 0 ? NFS_VERSION_40 : NFS_VERSION_41;
}

// "host:path" in the buffer, cut to fit: a longer text is shown cut, never overrun. Every
// version's device record has host and fileSys.
template <typename Device> void hostAndPath(const DEV_HDR *dev, std::array<char, NFS_MAX_PATH> &buffer)
{
    const auto *nfs = reinterpret_cast<const Device *>(dev);
    // The length it would have had is of no use here: a cut text is what is wanted.
    if (std::snprintf(buffer.data(), buffer.size(), "%.*s:%.*s", NFS_HOST_NAME_LEN, nfs->host, NFS_MAX_PATH,
                      nfs->fileSys) < 0)
        buffer[0] = '\0';
}

void row(const char *name, const char *fileSystem, const char *version)
{
    std::printf("%-20.20s %-50.50s %s\n", name, fileSystem, version);
}

} // namespace

extern "C" {

void nfsDevShow(void)
{
    std::array<char, NFS_MAX_PATH> buffer{};
    row("device name", "file system", "version");
    row("-----------", "-----------", "-------");
    for (DEV_HDR *dev = iosNextDevGet(nullptr); dev != nullptr; dev = iosNextDevGet(dev)) {
        const Kind kind = kindOf(dev);
        if (kind == Kind::other)
            continue;
        if (kind == Kind::v4)
            hostAndPath<Nfs4Device>(dev, buffer);
        else
            kind == Kind::v3 ? hostAndPath<NfsDevice>(dev, buffer) : hostAndPath<Nfs2Device>(dev, buffer);
        row(dev->name, buffer.data(), versionText(dev, kind));
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
        if (!nfsMountOptionsText(dev, versionNumber(dev, kind), options.data(), options.size()))
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
    return nfsMountOptionsText(dev, versionNumber(dev, kind), buffer, static_cast<std::size_t>(size)) ? 0
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
    case Kind::v4: return nfs4DevInfoGet(reinterpret_cast<Nfs4Device *>(dev), pInfo);
    default: return -1;
    }
    errnoSet(NFS_ERR_DISPATCH_SLOT_EMPTY);
    return -1;
}

} // extern "C"
