// The version 3 driver's installation and mounting against the scripted server: the dispatch
// slots it fills, the transfer limits taken from FSINFO across several mounts, names that do
// not fit, the release of what a failed mount obtained, and removal of a host's devices.
#include "nfs/mountScriptedServer.h"

#include "core/nfsConfig.h"
#include "core/nfsDispatch.h"

#include <brisnel/nfs3Drv.h>
#include <brisnel/nfs3Ops.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsMountLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using mounttest::FsInfoLimits;
using mounttest::MountServer;
using mounttest::MountState;
using mounttest::nfs3DeviceNamed;

class MountDrv : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(nfs3Drv(), 0);
        nfs3CacheParamsSet(2, 1024, 0);
        savedMsgLen_ = nfs3MaxMsgLen;
        savedRddirSz_ = nfs3MaxRddirSz;
        nfs3MaxMsgLen = 8192;
        nfs3MaxRddirSz = 512;
    }
    void TearDown() override
    {
        for (const std::string &name : mounttest::nfs3DeviceNames(nfs3DrvNum))
            EXPECT_EQ(nfsUnmount(name.c_str()), 0) << name;
        nfs3MaxMsgLen = savedMsgLen_;
        nfs3MaxRddirSz = savedRddirSz_;
        nfsClientClose();
    }

    void mountWith(FsInfoLimits limits, const std::string &dev)
    {
        server_.set([limits](MountState &s) { s.fsInfo = limits; });
        ASSERT_EQ(nfs3Mount(server_.name(), "/export", dev.c_str()), 0) << std::hex << errnoGet();
    }

    MountServer server_{"127.0.0.53", "drv53"};
    uint32_t savedMsgLen_ = 0;
    int32_t savedRddirSz_ = 0;
};

TEST_F(MountDrv, InstallingTwiceInstallsOnceAndFillsTheVersion3Slots)
{
    const int32_t first = nfs3DrvNum;
    ASSERT_GT(first, 0);
    pFuncNfs3Mount = nullptr;
    EXPECT_EQ(nfs3Drv(), 0);
    EXPECT_EQ(nfs3DrvNum, first);
    EXPECT_EQ(nfs3DrvNumGet(), first);
    EXPECT_EQ(pFuncNfs3Mount, &nfs3Mount);
    EXPECT_EQ(pFuncNfs3Unmount, &nfs3DirUnmount);
    EXPECT_EQ(pFuncNfs3UnmountAll, &nfs3UnmountAll);
    EXPECT_EQ(pFuncNfs3ExportRead, &nfs3ExportRead);
    EXPECT_EQ(pFuncNfs3MntDump, &nfs3MntDump);
    EXPECT_EQ(pFuncNfs3DevInfoGet, &nfs3DevInfoGet);
    EXPECT_EQ(pFuncNfs3DrvNumGet, &nfs3DrvNumGet);
    EXPECT_EQ(pFuncNfs3FileRead, &nfs3FileRead);
    EXPECT_EQ(pFuncNfs3FileWrite, &nfs3FileWrite);
    EXPECT_EQ(pFuncNfs2Mount, nullptr);
}

TEST_F(MountDrv, BeforeInstallationNothingIsMountedOrAsked)
{
    ASSERT_TRUE(server_.up());
    const int32_t installed = nfs3DrvNum;
    nfs3DrvNum = -1;
    errnoSet(0);
    EXPECT_EQ(nfs3Mount(server_.name(), "/export", "/drv53/early"), -1);
    EXPECT_EQ(errnoGet(), K_ENXIO);
    errnoSet(0);
    EXPECT_EQ(nfs3DrvNumGet(), -1);
    EXPECT_EQ(errnoGet(), K_ENXIO);
    nfs3DrvNum = installed;
    EXPECT_EQ(server_.count(MOUNT_V3, MOUNTPROC3_MNT), 0u);
    EXPECT_EQ(nfs3DeviceNamed("/drv53/early"), nullptr);
}

TEST_F(MountDrv, WithoutADeviceNameTheDeviceIsNamedAfterThePath)
{
    ASSERT_TRUE(server_.up());
    ASSERT_EQ(nfs3Mount(server_.name(), "/drv53/export", nullptr), 0) << std::hex << errnoGet();
    NfsDevice *dev = nfs3DeviceNamed("/drv53/export");
    ASSERT_NE(dev, nullptr);
    EXPECT_STREQ(dev->fileSys, "/drv53/export");
    EXPECT_STREQ(dev->host, "drv53");
    EXPECT_EQ(dev->mountFh.data.data_len, 20u);

    char fileSys[NFS_MAX_PATH] = {};
    char name[K_IOS_DEV_NAME_MAX + 1] = {};
    NfsDevInfo info{};
    info.pFileSys = fileSys;
    info.pDevName = name;
    ASSERT_EQ(nfs3DevInfoGet(dev, &info), 0);
    EXPECT_STREQ(info.hostName, "drv53");
    EXPECT_STREQ(name, "/drv53/export");
    EXPECT_EQ(nfs3DevInfoGet(dev, nullptr), -1);
    NfsDevice stranger{};
    EXPECT_EQ(nfs3DevInfoGet(&stranger, &info), -1);
}

TEST_F(MountDrv, FsInfoLimitsAcrossSeveralMounts)
{
    ASSERT_TRUE(server_.up());
    mountWith({16384, 4096, 8192}, "/drv53/m1");
    EXPECT_EQ(nfs3MaxMsgLen, 4096u);
    EXPECT_EQ(nfs3MaxRddirSz, 8192);
    mountWith({65536, 65536, 1024}, "/drv53/m2");
    EXPECT_EQ(nfs3MaxMsgLen, 4096u) << "never raised";
    EXPECT_EQ(nfs3MaxRddirSz, 1024) << "replaced, also downwards";
    mountWith({65536, 65536, 0}, "/drv53/m3");
    EXPECT_EQ(nfs3MaxRddirSz, 1024);
    // One limit of 0 gives no limit in that direction: the other one rules.
    mountWith({0, 2048, 0}, "/drv53/m4");
    EXPECT_EQ(nfs3MaxMsgLen, 2048u);
    mountWith({1024, 0, 0}, "/drv53/m5");
    EXPECT_EQ(nfs3MaxMsgLen, 1024u);
    mountWith({0, 0, 0}, "/drv53/m6");
    EXPECT_EQ(nfs3MaxMsgLen, 1024u);
}

TEST_F(MountDrv, FsInfoFailureStillGivesADeviceAndKeepsTheLimits)
{
    ASSERT_TRUE(server_.up());
    server_.set([](MountState &s) {
        s.fsInfo = {512, 512, 4096};
        s.fsInfoStatus = NFS3ERR_SERVERFAULT;
    });
    ASSERT_EQ(nfs3Mount(server_.name(), "/export", "/drv53/refused"), 0);
    EXPECT_EQ(nfs3MaxMsgLen, 8192u);
    EXPECT_EQ(nfs3MaxRddirSz, 512);

    const int32_t timeout = nfsTimeoutSec;
    const int32_t retransmit = nfsReXmitSec;
    nfsTimeoutSec = 1;
    nfsReXmitSec = 1;
    server_.set([](MountState &s) { s.fsInfoSilent = true; });
    EXPECT_EQ(nfs3Mount(server_.name(), "/export", "/drv53/silent"), 0);
    nfsTimeoutSec = timeout;
    nfsReXmitSec = retransmit;
    EXPECT_NE(nfs3DeviceNamed("/drv53/silent"), nullptr);
    EXPECT_EQ(nfs3MaxMsgLen, 8192u);
    EXPECT_EQ(nfs3MaxRddirSz, 512);
}

TEST_F(MountDrv, NamesThatDoNotFitTheDeviceAreRefused)
{
    ASSERT_TRUE(server_.up());
    const std::string longestHost(NFS_HOST_NAME_LEN - 1, 'h');
    ASSERT_EQ(hostAdd(longestHost.c_str(), "127.0.0.53"), 0);
    const std::string longestPath = "/" + std::string(NFS_MAX_PATH - 2, 'p');
    ASSERT_EQ(nfs3Mount(longestHost.c_str(), longestPath.c_str(), "/drv53/long"), 0)
        << std::hex << errnoGet();
    EXPECT_STREQ(nfs3DeviceNamed("/drv53/long")->fileSys, longestPath.c_str());
    EXPECT_EQ(server_.mounted(), std::vector<std::string>{longestPath});

    errnoSet(0);
    EXPECT_EQ(nfs3Mount((longestHost + "h").c_str(), "/export", "/drv53/host"), -1);
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);
    errnoSet(0);
    EXPECT_EQ(nfs3Mount(server_.name(), (longestPath + "p").c_str(), "/drv53/path"), -1);
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);
    EXPECT_EQ(server_.count(MOUNT_V3, MOUNTPROC3_MNT), 1u);
}

// Each failure releases what the mount had obtained; the leak checker sees the rest.
TEST_F(MountDrv, FailedMountsLeaveNoDeviceAndTheCalleesErrorNumber)
{
    ASSERT_TRUE(server_.up());
    nfs3CacheParamsSet(0, 1024, 0);
    EXPECT_EQ(nfs3Mount(server_.name(), "/export", "/drv53/nocache"), -1);
    EXPECT_EQ(server_.count(MOUNT_V3, MOUNTPROC3_MNT), 0u);
    nfs3CacheParamsSet(2, 1024, 0);

    server_.set([](MountState &s) { s.refused["/denied"] = MNT3ERR_ACCES; });
    errnoSet(0);
    EXPECT_EQ(nfs3Mount(server_.name(), "/denied", "/drv53/denied"), -1);
    EXPECT_EQ(errnoGet(), MNT3ERR_ACCES);

    ASSERT_EQ(nfs3Mount(server_.name(), "/export", "/drv53/twice"), 0);
    errnoSet(0);
    EXPECT_EQ(nfs3Mount(server_.name(), "/export", "/drv53/twice"), -1);
    EXPECT_EQ(errnoGet(), K_IOS_DUPLICATE_DEVICE);
    EXPECT_EQ(mounttest::nfs3DeviceNames(nfs3DrvNum), std::vector<std::string>{"/drv53/twice"});
}

TEST_F(MountDrv, UnmountAllRemovesEveryDeviceOfTheHostAndNoOther)
{
    ASSERT_TRUE(server_.up());
    MountServer other("127.0.0.54", "drv54");
    ASSERT_TRUE(other.up());
    for (const char *name : {"/drv53/a", "/drv53/b", "/drv53/c"})
        ASSERT_EQ(nfs3Mount(server_.name(), "/export", name), 0) << name;
    ASSERT_EQ(nfs3Mount(other.name(), "/export", "/drv54/a"), 0);

    EXPECT_EQ(nfs3UnmountAll(server_.name()), 0);
    EXPECT_EQ(mounttest::nfs3DeviceNames(nfs3DrvNum), std::vector<std::string>{"/drv54/a"});
    EXPECT_EQ(server_.count(MOUNT_V3, MOUNTPROC3_UMNTALL), 1u);
    EXPECT_TRUE(server_.unmounted().empty()) << "one notice for all, none per device";

    other.server().handle(MOUNT_PROGRAM, MOUNT_V3, MOUNTPROC3_UMNTALL, [](const scripted::RpcCall &, XDR *) {
        return scripted::Reply::of(scripted::ReplyKind::systemErr);
    });
    EXPECT_EQ(nfs3UnmountAll(other.name()), -1);
    EXPECT_NE(nfs3DeviceNamed("/drv54/a"), nullptr);
    EXPECT_EQ(nfsUnmount("/drv54/a"), 0);
}

} // namespace
