// Bringing one protocol version up: default credentials, the version's driver, and the
// default path pointed at the boot device.
#include "core/nfsConfig.h"

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfs3Drv.h>
#include <brisnel/nfs4Drv.h>
#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsDevLib.h>
#include <kernel/bootLib.h>
#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kDefaultUid = 2001;
constexpr int kDefaultGid = 100;

int driverInstall(int version)
{
    if (version == NFS_VERSION_4)
        return nfs4Drv();
    return version == NFS_V3 ? nfs3Drv() : nfs2Drv();
}

// The boot file's device prefix ("host:" of "host:/boot/kernel") becomes the default path;
// a boot file that no device prefixes leaves the default path as it is.
void defaultPathSet(std::array<char, NFS_MAX_PATH> &buffer)
{
    const char *bootFile = sysBootParams.bootFile;
    static_cast<void>(iosDevFind(bootFile, &pAddrString));
    if (pAddrString == nullptr || pAddrString == bootFile)
        return;
    const auto prefix = static_cast<std::size_t>(pAddrString - bootFile);
    buffer[0] = '\0';
    std::strncat(buffer.data(), bootFile, std::min(prefix, buffer.size() - 1));
    ioDefPathSet(buffer.data());
}

} // namespace

// The scratch buffer is on the stack, so the out-of-memory failure cannot happen here.
extern "C" int nfsVersionInit(int version)
{
    std::array<char, NFS_MAX_PATH> buffer{};
    nfsAuthUnixSet(sysBootParams.hostName, kDefaultUid, kDefaultGid, 0, nullptr);
    if (version != 2 && version != 3 && version != NFS_VERSION_4)
        return 0;
    if (driverInstall(version) == -1) {
        std::printf("Error initializing    NFS, errno = %#x\n", static_cast<unsigned>(errnoGet()));
        return 0;
    }
    defaultPathSet(buffer);
    return 0;
}
