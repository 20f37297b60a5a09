// The module as a fresh load leaves it (a version 3 and a version 2 device listed): this binary links the
// start-up, so it ran before any test. Credentials, drivers, dispatch slots, default path and cache geometry;
// bringing a version up again; the device listing and the help.
#include "nfs/consoleCapture.h"
#include "nfs/mountScriptedServer.h"

#include "core/nfsAuthUnix.h"
#include "core/nfsConfig.h"
#include "core/nfsDispatch.h"

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfs3Drv.h>
#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsDevLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsMountLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/bootLib.h>
#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> linesOf(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

std::string defaultPath()
{
    char path[K_IOS_TAIL_ROOM] = {};
    ioDefPathGet(path, sizeof path);
    return path;
}

std::string defaultCredentials()
{
    return std::string("machine name = ") + sysBootParams.hostName +
           "\nuser ID      = 2001\ngroup ID     = 100\n";
}

TEST(StartUp, LeavesBothVersionsReadyToMount)
{
    EXPECT_EQ(capturedStdout(nfsAuthUnixShow), defaultCredentials());
    EXPECT_GE(nfsAuthCount, 1);
    EXPECT_GT(nfs3DrvNum, 0);
    EXPECT_GT(nfs2DrvNum, 0);
    EXPECT_NE(nfs2DrvNum, nfs3DrvNum);
    EXPECT_EQ(nfsDrvNumGet(3), nfs3DrvNum);
    EXPECT_EQ(nfsDrvNumGet(2), nfs2DrvNum);
    const std::vector<const void *> slots = {
        reinterpret_cast<const void *>(pFuncNfs3Mount),
        reinterpret_cast<const void *>(pFuncNfs3Unmount),
        reinterpret_cast<const void *>(pFuncNfs3UnmountAll),
        reinterpret_cast<const void *>(pFuncNfs3DevInfoGet),
        reinterpret_cast<const void *>(pFuncNfs3DrvNumGet),
        reinterpret_cast<const void *>(pFuncNfs3MntDump),
        reinterpret_cast<const void *>(pFuncNfs3ExportRead),
        reinterpret_cast<const void *>(pFuncNfs3FileRead),
        reinterpret_cast<const void *>(pFuncNfs3FileWrite),
        reinterpret_cast<const void *>(pFuncNfs2Mount),
        reinterpret_cast<const void *>(pFuncNfs2Unmount),
        reinterpret_cast<const void *>(pFuncNfs2UnmountAll),
        reinterpret_cast<const void *>(pFuncNfs2DevInfoGet),
        reinterpret_cast<const void *>(pFuncNfs2DrvNumGet),
        reinterpret_cast<const void *>(pFuncNfs2MntDump),
        reinterpret_cast<const void *>(pFuncNfs2ExportRead),
        reinterpret_cast<const void *>(pFuncNfs2FileRead),
        reinterpret_cast<const void *>(pFuncNfs2FileWrite),
    };
    ASSERT_EQ(slots.size(), 18u);
    for (std::size_t i = 0; i < slots.size(); ++i)
        EXPECT_NE(slots[i], nullptr) << "slot " << i;
    // The boot file "host:/boot/kernel" is on the host device.
    EXPECT_EQ(defaultPath(), "host:");
    EXPECT_EQ(nfs3MaxCacheLines, 16);
    EXPECT_EQ(nfs3BytesPerCacheLine, 16384);
    EXPECT_EQ(nfs3CacheOptions, 0);
    EXPECT_EQ(nfs2MaxCacheLines, 16);
    EXPECT_EQ(nfs2BytesPerCacheLine, 16384);
    EXPECT_EQ(nfs2CacheOptions, 0);
    EXPECT_EQ(nfs3WriteStable, 0);
}

TEST(StartUp, BringingAVersionUpAgainResetsTheCredentialsAndKeepsTheDriver)
{
    const int32_t driver = nfs3DrvNum;
    const int32_t driver2 = nfs2DrvNum;
    for (const int version : {3, 2, 7}) {
        const int groups[] = {5, 6};
        nfsAuthUnixSet("someone", 1, 2, 2, groups);
        const int32_t generation = nfsAuthCount;
        EXPECT_EQ(nfsVersionInit(version), 0) << version;
        EXPECT_EQ(capturedStdout(nfsAuthUnixShow), defaultCredentials()) << version;
        EXPECT_EQ(nfsAuthCount, generation + 1);
        EXPECT_EQ(nfs3DrvNum, driver);
        EXPECT_EQ(nfs2DrvNum, driver2);
    }
    // A boot file that no device prefixes leaves the default path alone.
    const BootParams saved = sysBootParams;
    ASSERT_EQ(ioDefPathSet("/elsewhere"), 0);
    std::snprintf(sysBootParams.bootFile, sizeof sysBootParams.bootFile, "%s", "nodevice/kernel");
    EXPECT_EQ(nfsVersionInit(3), 0);
    EXPECT_EQ(defaultPath(), "/elsewhere");
    sysBootParams = saved;
    EXPECT_EQ(nfsVersionInit(3), 0);
    EXPECT_EQ(defaultPath(), "host:");
}

TEST(Help, PrintsTheSummaryAndAnEmptyLine)
{
    const std::vector<std::string> lines = linesOf(capturedStdout(nfsHelp));
    ASSERT_EQ(lines.size(), 23u);
    EXPECT_EQ(lines[0], "nfsHelp                       Print this list");
    EXPECT_EQ(lines[2], "nfsMount \"host\",\"filesystem\"[,\"devname\"]  Create device with");
    EXPECT_EQ(lines[13], "");
    EXPECT_EQ(lines[14].rfind("EXAMPLE:  -> hostAdd \"", 0), 0u);
    EXPECT_EQ(lines[15].rfind("          -> nfsMount \"", 0), 0u);
    EXPECT_EQ(lines[21], "          -> nfsUnmount \"/mydir/\"  /* remove NFS device /mydir/ *");
    EXPECT_EQ(lines[22], "");
}

const std::string kHeading =
    "device name          file system                                        version\n"
    "-----------          -----------                                        -------\n";

class DevList : public testing::Test {
protected:
    void TearDown() override
    {
        for (const char *name : {"/short", "/a-device-name-longer-than-twenty"})
            nfsUnmount(name);
        nfsClientClose();
    }
    mounttest::MountServer server_{"127.0.0.61", "startup61"};
};

TEST_F(DevList, ListsNfsDevicesCutToTheirColumns)
{
    EXPECT_EQ(capturedStdout(nfsDevShow), kHeading);
    ASSERT_TRUE(server_.up());
    // Host and path together overflow the listing's buffer of NFS_MAX_PATH bytes.
    const std::string longPath = "/exported/path/deep/enough/to/pass/fifty/" + std::string(200, 'x');
    ASSERT_EQ(nfs3Mount(server_.name(), "/e", "/short"), 0) << std::hex << errnoGet();
    ASSERT_EQ(nfs2Mount(server_.name(), longPath.c_str(), "/a-device-name-longer-than-twenty"), 0);
    const std::string hostPath = "startup61:" + longPath;
    EXPECT_EQ(capturedStdout(nfsDevShow), kHeading + "/short               startup61:/e" +
                                              std::string(38, ' ') + " 3\n" + "/a-device-name-longe " +
                                              hostPath.substr(0, 50) + " 2\n");

    void *handles[4] = {};
    EXPECT_EQ(nfsDevListGet(handles, 0), 0);
    ASSERT_EQ(nfsDevListGet(handles, 1), 1);
    EXPECT_STREQ(static_cast<DEV_HDR *>(handles[0])->name, "/short");
    ASSERT_EQ(nfsDevListGet(handles, 4), 2);
    char fileSys[NFS_MAX_PATH] = {};
    char name[K_IOS_DEV_NAME_MAX + 1] = {};
    NfsDevInfo info{{}, fileSys, name};
    ASSERT_EQ(nfsDevInfoGet(handles[1], &info), 0);
    EXPECT_STREQ(info.hostName, "startup61");
    EXPECT_EQ(fileSys, longPath);
    EXPECT_STREQ(name, "/a-device-name-longer-than-twenty");

    // The host device is no NFS device; a missing routine is reported.
    const char *tail = nullptr;
    errnoSet(0x1234);
    EXPECT_EQ(nfsDevInfoGet(iosDevFind("host:", &tail), &info), -1);
    EXPECT_EQ(errnoGet(), 0x1234);
    const NfsDevInfoGet3Fn routine = pFuncNfs3DevInfoGet;
    pFuncNfs3DevInfoGet = nullptr;
    EXPECT_EQ(nfsDevInfoGet(handles[0], &info), -1);
    EXPECT_EQ(errnoGet(), NFS_ERR_DISPATCH_SLOT_EMPTY);
    pFuncNfs3DevInfoGet = routine;

    // Removing the host's version 2 devices leaves its version 3 one.
    EXPECT_EQ(nfs2UnmountAll(server_.name()), 0) << std::hex << errnoGet();
    EXPECT_EQ(nfsDevListGet(handles, 4), 1);
    EXPECT_STREQ(static_cast<DEV_HDR *>(handles[0])->name, "/short");
    EXPECT_EQ(nfs2DevFind(server_.name()), nullptr);
}

} // namespace
