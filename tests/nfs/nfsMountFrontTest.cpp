// The mount front end against the scripted server: the MOUNT version chosen from the
// portmapper's list, the dispatch to each version's slots (empty ones included), the printed
// lines of nfsMountAll, and single and whole-host unmounting with their failures.
#include "nfs/consoleCapture.h"
#include "nfs/mountScriptedServer.h"

#include "core/nfsConfig.h"
#include "core/nfsMountVersion.h"

#include <brisnel/nfs3Drv.h>
#include <brisnel/nfs4Drv.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsHintLib.h>
#include <brisnel/nfsMountLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using mounttest::MountServer;
using mounttest::MountState;
using scripted::Mapping;

// A driver number that no installed driver has, standing in for the version 2 driver.
constexpr int32_t kFakeVersion2Driver = 19;

class MountFront : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(nfs3Drv(), 0);
        nfs3CacheParamsSet(2, 1024, 0);
        saved2_ = nfs2DrvNum;
        saved3_ = nfs3DrvNum;
    }
    void TearDown() override
    {
        nfs2DrvNum = saved2_;
        nfs3DrvNum = saved3_;
        for (const std::string &name : mounttest::nfs3DeviceNames(nfs3DrvNum))
            EXPECT_EQ(nfsUnmount(name.c_str()), 0) << name;
        nfsClientClose();
    }

    std::vector<Mapping> mountRegistrations(std::vector<uint32_t> versions, uint32_t prot)
    {
        std::vector<Mapping> list{{100000, 2, scripted::ipprotoUdp, 111}};
        for (const uint32_t version : versions)
            list.push_back({MOUNT_PROGRAM, version, prot, server_.server().programPort()});
        list.push_back({NFS_PROGRAM, NFS_V3, scripted::ipprotoUdp, server_.server().programPort()});
        return list;
    }

    uint16_t chosenVersion()
    {
        uint16_t version = 99;
        errnoSet(0);
        if (nfsRemoteVersionGet(server_.name(), &version) != 0) {
            EXPECT_EQ(version, 0);
        }
        return version;
    }

    MountServer server_{"127.0.0.45", "front45"};
    int32_t saved2_ = -1;
    int32_t saved3_ = -1;
};

TEST_F(MountFront, HighestVersionBothSidesSupportIsChosen)
{
    ASSERT_TRUE(server_.up());
    server_.server().setRegistrations(mountRegistrations({1, 2, 3}, scripted::ipprotoUdp));
    nfs2DrvNum = kFakeVersion2Driver;
    EXPECT_EQ(chosenVersion(), MOUNT_V3);

    nfs3DrvNum = -1;
    EXPECT_EQ(chosenVersion(), MOUNT_V1);
    // The version 2 half of the table is empty: every dispatching command says so.
    EXPECT_EQ(nfsMount(server_.name(), "/export", "/front45/v1"), -1);
    EXPECT_EQ(errnoGet(), NFS_ERR_DISPATCH_SLOT_EMPTY);
    EXPECT_EQ(nfsExportShow(server_.name()), -1);
    EXPECT_EQ(errnoGet(), NFS_ERR_DISPATCH_SLOT_EMPTY);
    EXPECT_EQ(nfsMntDump(server_.name()), -1);
    EXPECT_EQ(errnoGet(), NFS_ERR_DISPATCH_SLOT_EMPTY);
    EXPECT_EQ(nfsUnMountAll(server_.name()), -1);
    EXPECT_EQ(errnoGet(), NFS_ERR_DISPATCH_SLOT_EMPTY);
    EXPECT_EQ(server_.count(MOUNT_V1, MOUNTPROC_MNT), 0u);
}

// vers= picks the MOUNT version of that NFS version among those offered, not the highest: with
// the version 2 half of the table empty, vers=2 reaches it where the plain mount takes 3; a
// version the server does not offer is refused as unusable.
TEST_F(MountFront, VersOptionChoosesTheVersionAmongThoseOffered)
{
    ASSERT_TRUE(server_.up());
    server_.server().setRegistrations(mountRegistrations({1, 3}, scripted::ipprotoUdp));
    nfs2DrvNum = kFakeVersion2Driver;
    EXPECT_EQ(nfsMountOpt(server_.name(), "/export", "/front45/v2", "vers=2"), -1);
    EXPECT_EQ(errnoGet(), NFS_ERR_DISPATCH_SLOT_EMPTY);
    EXPECT_EQ(chosenVersion(), MOUNT_V3) << "the option is the mount's alone";

    server_.server().setRegistrations(mountRegistrations({1}, scripted::ipprotoUdp));
    EXPECT_EQ(nfsMountOpt(server_.name(), "/export", "/front45/v3", "vers=3"), -1);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_NOTSUPP);
    EXPECT_EQ(server_.count(MOUNT_V1, MOUNTPROC_MNT), 0u);
    EXPECT_EQ(server_.count(MOUNT_V3, MOUNTPROC3_MNT), 0u);
}

// The registrations that count, by the word nfsTransport: TCP ones when none is over UDP
// (or the word says TCP), never with the word at UDP only, which says why instead; a list
// without MOUNT says that, not that versions differ.
TEST_F(MountFront, TcpRegistrationsCountByTheTransportWord)
{
    ASSERT_TRUE(server_.up());
    const uint32_t port = server_.server().programPort();
    const std::vector<Mapping> tcpMount = mountRegistrations({1, 3}, scripted::ipprotoTcp);
    std::vector<Mapping> tcpNfs = mountRegistrations({3}, scripted::ipprotoUdp);
    tcpNfs.back().prot = scripted::ipprotoTcp; // NFS 3 over TCP only, as a current Linux server
    const std::vector<Mapping> noMount{{100000, 2, scripted::ipprotoUdp, 111},
                                       {NFS_PROGRAM, NFS_V3, scripted::ipprotoUdp, port}};
    struct Case {
        const char *what;
        const std::vector<Mapping> &registrations;
        int32_t word;
        uint16_t version;
        int error; // 0: the error number stays as it was
    };
    const Case cases[] = {
        {"MOUNT over TCP only, default word", tcpMount, NFS_TRANSPORT_UDP_WHERE_OFFERED, MOUNT_V3, 0},
        {"MOUNT over TCP only, UDP only", tcpMount, NFS_TRANSPORT_UDP, 0, NFS_ERRNO_NOTSUPP},
        {"NFS over TCP only, default word", tcpNfs, NFS_TRANSPORT_UDP_WHERE_OFFERED, MOUNT_V3, 0},
        {"NFS over TCP only, UDP only", tcpNfs, NFS_TRANSPORT_UDP, 0, NFS_ERR_ONLY_OVER_TCP},
        {"no MOUNT at all", noMount, NFS_TRANSPORT_UDP_WHERE_OFFERED, 0, NFS_ERR_NOT_REGISTERED},
    };
    for (const Case &c : cases) {
        server_.server().setRegistrations(c.registrations);
        nfsTransport = c.word;
        EXPECT_EQ(chosenVersion(), c.version) << c.what;
        EXPECT_EQ(errnoGet(), c.error) << c.what;
    }
    // Refused before any MOUNT call goes out.
    server_.server().setRegistrations(tcpMount);
    nfsTransport = NFS_TRANSPORT_UDP;
    EXPECT_EQ(nfsMount(server_.name(), "/export", "/front45/tcp"), -1);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_NOTSUPP);
    EXPECT_EQ(server_.count(MOUNT_V3, MOUNTPROC3_MNT), 0u);
    nfsTransport = NFS_TRANSPORT_UDP_WHERE_OFFERED;
}

// Each common way a mount fails sets a number whose hint names the likely cause and the
// remedy: a refused export, a silent portmapper, credentials the server rejects, a server
// without MOUNT, MOUNT over TCP alone with the word at UDP only; and a write refused to the
// default credentials.
TEST_F(MountFront, EachCommonMountFailureHasAHintThatSaysWhatToDo)
{
    nfsTimeoutSec = 1;
    struct Case {
        const char *what;
        std::function<void(MountServer &)> arrange;
        const char *hint; // a part of the sentence
    };
    const auto authError = [](const scripted::RpcCall &, XDR *) {
        scripted::Reply reply = scripted::Reply::of(scripted::ReplyKind::authError);
        reply.authStat = AUTH_TOOWEAK;
        return reply;
    };
    const Case cases[] = {
        {"export refused",
         [](MountServer &s) { s.set([](MountState &m) { m.refused["/export"] = MNT3ERR_ACCES; }); },
         "not exported to this client, or the export needs a reserved port"},
        {"portmapper silent",
         [](MountServer &s) { s.server().setPortmapperBehaviour(scripted::Behaviour::silent()); },
         "did not answer within 1 s (nfsTimeoutSec)"},
        {"credentials rejected",
         [&](MountServer &s) { s.server().handle(MOUNT_PROGRAM, MOUNT_V3, MOUNTPROC3_MNT, authError); },
         "rejected the credentials"},
        {"no MOUNT",
         [](MountServer &s) {
             s.server().setRegistrations(
                 {{NFS_PROGRAM, NFS_V3, scripted::ipprotoUdp, s.server().programPort()}});
         },
         "version 4 alone has neither"},
        {"MOUNT over TCP only, UDP only",
         [](MountServer &s) {
             s.server().setRegistrations(
                 {{100000, 2, scripted::ipprotoUdp, 111},
                  {MOUNT_PROGRAM, MOUNT_V3, scripted::ipprotoTcp, s.server().programPort()}});
             nfsTransport = NFS_TRANSPORT_UDP;
         },
         "set nfsTransport to 0 or 1"},
    };
    for (const Case &c : cases) {
        MountServer server{"127.0.0.46", "front46"};
        ASSERT_TRUE(server.up());
        c.arrange(server);
        EXPECT_EQ(nfsMount(server.name(), "/export", "/front46/hint"), -1) << c.what;
        const int error = errnoGet();
        const char *hint = nfsErrorHint(error);
        ASSERT_NE(hint, nullptr) << c.what << std::hex << " " << error;
        EXPECT_NE(std::string(hint).find(c.hint), std::string::npos) << c.what << ": " << hint;
        nfsTransport = NFS_TRANSPORT_UDP_WHERE_OFFERED;
        nfsClientClose();
    }
    nfsTimeoutSec = 25;
    // A write refused to the default credentials: as root, the hint names nfsIdSet.
    nfsAuthUnixSet("front", 2001, 100, 0, nullptr);
    const std::string refused = nfsErrorHint(NFS_ERRNO_BASE | NFS3ERR_ACCES);
    EXPECT_NE(refused.find(geteuid() == 0 ? "nfsIdSet 0" : "uid 2001, gid 100"), std::string::npos)
        << refused;
    EXPECT_EQ(nfsErrorHint(0), nullptr);
}

// Where the portmapper gives no MOUNT version, the automatic choice tries version 4 (here the
// scripted server has no NFS on TCP port 2049: the mount fails as the portmapper found it). A
// silent portmapper is asked for nfsPortmapWaitSec, a send each second, not the call's time-out;
// a version asked for is kept to.
TEST_F(MountFront, NoMountVersionLeadsToVersion4AfterThePortmappersOwnWait)
{
    ASSERT_EQ(nfs4Drv(), 0);
    ASSERT_TRUE(server_.up());
    nfsPortmapWaitSec = 2;
    server_.server().setPortmapperBehaviour(scripted::Behaviour::silent());
    EXPECT_EQ(nfsMount(server_.name(), "/export", "/front45v4"), -1);
    EXPECT_EQ(errnoGet() & ~0xFFFF, K_RPC_CLNT_ERRNO_BASE) << std::hex << errnoGet() << ": the portmapper's";
    const uint64_t sends = server_.server().portmapperCallCount(scripted::pmapProcGetPort) +
                           server_.server().portmapperCallCount(scripted::pmapProcDump);
    EXPECT_GE(sends, 1u);
    EXPECT_LE(sends, 3u) << "a send each second for 2 s; the call's 25 s would send 5 and more";

    server_.server().setPortmapperBehaviour(scripted::Behaviour::answer());
    server_.server().setRegistrations(
        {{100000, 2, scripted::ipprotoUdp, 111}, {NFS_PROGRAM, 4, scripted::ipprotoTcp, scripted::nfsPort}});
    for (const int32_t version : {0, 3}) {
        nfsVersion = version;
        EXPECT_EQ(nfsMount(server_.name(), "/export", "/front45v4"), -1) << version;
        EXPECT_EQ(errnoGet(), NFS_ERR_NOT_REGISTERED) << version << ": NFS 4 alone listed";
    }
    nfsVersion = 0;
    nfsPortmapWaitSec = 3;
    pFuncNfs4Mount = nullptr; // the other tests meet no version 4 driver
}

TEST_F(MountFront, WithoutAnyDriverThePortmapperIsNotAsked)
{
    ASSERT_TRUE(server_.up());
    nfs3DrvNum = -1;
    nfs2DrvNum = -1;
    EXPECT_EQ(chosenVersion(), 0);
    EXPECT_EQ(errnoGet(), K_ENXIO);
    EXPECT_EQ(server_.server().portmapperCallCount(scripted::pmapProcDump), 0u);
}

// Only four versions are collected. Repeated registrations of one version take one place, so
// five of version 1 do not hide a later version 3; four other versions before it do.
TEST_F(MountFront, MoreThanFourUdpMountRegistrationsAreCollectedSafely)
{
    ASSERT_TRUE(server_.up());
    server_.server().setRegistrations(mountRegistrations({1, 1, 1, 1, 1, 3}, scripted::ipprotoUdp));
    EXPECT_EQ(chosenVersion(), MOUNT_V3);
    server_.server().setRegistrations(mountRegistrations({5, 6, 7, 8, 3}, scripted::ipprotoUdp));
    EXPECT_EQ(chosenVersion(), 0);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_NOTSUPP);
    server_.server().setRegistrations(mountRegistrations({5, 6, 3, 7, 8, 9, 10}, scripted::ipprotoUdp));
    EXPECT_EQ(chosenVersion(), MOUNT_V3);
}

TEST_F(MountFront, MissingArgumentsAreRefusedBeforeAnyCall)
{
    ASSERT_TRUE(server_.up());
    const std::vector<std::pair<const char *, int>> results{
        {"nfsMount", nfsMount(server_.name(), "/export", nullptr)},
        {"nfsMount host", nfsMount(nullptr, "/export", "/dev")},
        {"nfsMountAll", nfsMountAll(nullptr, nullptr, 0)},
        {"nfsUnmount", nfsUnmount(nullptr)},
        {"nfsUnMountAll", nfsUnMountAll(nullptr)},
        {"nfsMntDump", nfsMntDump(nullptr)},
    };
    for (const auto &[what, result] : results)
        EXPECT_EQ(result, -1) << what;
    errnoSet(0);
    nfsMntDump(nullptr);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_INVAL);
    EXPECT_EQ(nfsExportShow(nullptr), -1);
    EXPECT_EQ(errnoGet(), NFS_ERR_NO_HOST);
    EXPECT_EQ(server_.server().portmapperCallCount(scripted::pmapProcDump), 0u);
}

// Each unknown or malformed option refuses the mount before the server is asked anything, with
// the option named in the hint; version 4 is understood and refused for now.
TEST_F(MountFront, MountOptionsThatCannotBeUsedAreRefusedByName)
{
    ASSERT_TRUE(server_.up());
    const struct {
        const char *options;
        const char *refused; // named in the hint; null for the version 4 refusal
    } cases[] = {
        {"speed=fast", "speed=fast"},
        {"vers=3,rsize", "rsize"},
        {"rsize=4096,", ""},
        {",rsize=4096", ""},
        {"vers=5", "vers=5"},
        {"vers=3.0", "vers=3.0"},
        {"proto=sctp", "proto=sctp"},
        {"proto=TCP", "proto=TCP"},
        {"port=0", "port=0"},
        {"port=65536", "port=65536"},
        {"mountport=-1", "mountport=-1"},
        {"rsize=511", "rsize=511"},
        {"wsize=1048577", "wsize=1048577"},
        {"rsize=+4096", "rsize=+4096"},
        {"wsize=4k", "wsize=4k"},
        {"rsize=99999999999999999999", "rsize=99999999999999999999"},
        {"timeo=0", "timeo=0"},
        {"timeo=6001", "timeo=6001"},
        {"retrans=101", "retrans=101"},
        {"lines=0", "lines=0"},
        {"linesize=256", "linesize=256"},
        {"window=17", "window=17"},
        {"window=", "window="},
        {"sec=krb5", "sec=krb5"},
        {"proto=tcp,sec=sys,sec=none", "sec=none"},
        {"vers=4.2", "vers=4.2"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.options);
        errnoSet(0);
        EXPECT_EQ(nfsMountOpt(server_.name(), "/export", "/front45opt", c.options), -1);
        const int error = errnoGet();
        EXPECT_EQ(error, NFS_ERR_BAD_OPTION);
        const char *hint = nfsErrorHint(error);
        ASSERT_NE(hint, nullptr);
        EXPECT_NE(std::string(hint).find(std::string("\"") + c.refused + "\""), std::string::npos) << hint;
    }
    // Version 4 is asked of its own driver, without the portmapper: here none is installed.
    for (const char *options : {"vers=4", "vers=4.0", "proto=tcp,vers=4.1"}) {
        EXPECT_EQ(nfsMountOpt(server_.name(), "/export", "/front45opt", options), -1) << options;
        EXPECT_EQ(errnoGet(), NFS_ERR_DISPATCH_SLOT_EMPTY) << options;
    }
    EXPECT_EQ(nfsMountOpt(server_.name(), "/export", nullptr, ""), -1);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_INVAL);
    EXPECT_TRUE(mounttest::nfs3DeviceNames(nfs3DrvNum).empty());
    EXPECT_EQ(server_.server().portmapperCallCount(scripted::pmapProcDump), 0u);
}

TEST_F(MountFront, DriverNumberQuery)
{
    errnoSet(1234);
    EXPECT_EQ(nfsDrvNumGet(4), -1);
    EXPECT_EQ(errnoGet(), 1234);
    EXPECT_EQ(nfsDrvNumGet(3), nfs3DrvNum);
    EXPECT_EQ(nfsDrvNumGet(2), -1);
    EXPECT_EQ(errnoGet(), NFS_ERR_DISPATCH_SLOT_EMPTY);
}

TEST_F(MountFront, MountAllTriesEveryExportAndReportsEachInOrder)
{
    ASSERT_TRUE(server_.up());
    server_.set([](MountState &s) {
        s.exports = {{"/front45/e1", {"g"}}, {"/front45/e2", {}}, {"/front45/e3", {}}};
        s.refused["/front45/e2"] = MNT3ERR_ACCES;
    });
    int result = 0;
    EXPECT_EQ(capturedStdout([&] { result = nfsMountAll(server_.name(), "ignored", 0); }),
              "front45:/front45/e1\nfront45:/front45/e2 - FAILED\nfront45:/front45/e3\n");
    EXPECT_EQ(result, -1);
    ASSERT_NE(mounttest::nfs3DeviceNamed("/front45/e1"), nullptr);
    EXPECT_STREQ(mounttest::nfs3DeviceNamed("/front45/e1")->fileSys, "/front45/e1");
    EXPECT_NE(mounttest::nfs3DeviceNamed("/front45/e3"), nullptr);
    EXPECT_EQ(mounttest::nfs3DeviceNamed("/front45/e2"), nullptr);
    ASSERT_EQ(nfsUnmount("/front45/e1"), 0);
    ASSERT_EQ(nfsUnmount("/front45/e3"), 0);

    EXPECT_EQ(capturedStdout([&] { result = nfsMountAll(server_.name(), nullptr, 1); }), "");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(server_.count(MOUNT_V3, MOUNTPROC3_MNT), 6u);
}

TEST_F(MountFront, MountAllWithoutAnAnswerFromThePortmapperSaysSo)
{
    ASSERT_TRUE(server_.up());
    server_.server().handlePortmapper(scripted::pmapProcDump, [](const scripted::RpcCall &, XDR *) {
        return scripted::Reply::of(scripted::ReplyKind::systemErr);
    });
    int result = 0;
    EXPECT_EQ(capturedStdout([&] { result = nfsMountAll(server_.name(), nullptr, 0); }),
              "nfsMountAll can't find remote version details\n");
    EXPECT_EQ(result, -1);
}

TEST_F(MountFront, UnmountNeedsTheExactNameOfAnNfsDevice)
{
    ASSERT_TRUE(server_.up());
    ASSERT_EQ(nfsMount(server_.name(), "/export", "/front45/dev"), 0) << std::hex << errnoGet();
    errnoSet(0);
    EXPECT_EQ(nfsUnmount("/front45/devX"), -1);
    EXPECT_EQ(errnoGet(), NFS_DRV_ERR_NOT_NFS_DEVICE);
    EXPECT_EQ(nfsUnmount("/front45/dev/sub"), -1);
    EXPECT_EQ(errnoGet(), NFS_DRV_ERR_NOT_NFS_DEVICE);
    EXPECT_NE(mounttest::nfs3DeviceNamed("/front45/dev"), nullptr);
    EXPECT_TRUE(server_.unmounted().empty());

    static const int otherDriver =
        iosDrvInstall(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_GT(otherDriver, 0);
    DEV_HDR other{};
    ASSERT_EQ(iosDevAdd(&other, "/front45/other", otherDriver), 0);
    EXPECT_EQ(nfsUnmount("/front45/other"), -1);
    EXPECT_EQ(errnoGet(), NFS_DRV_ERR_NOT_NFS_DEVICE);
    iosDevDelete(&other);

    ASSERT_EQ(nfsUnmount("/front45/dev"), 0);
    EXPECT_EQ(server_.unmounted(), std::vector<std::string>{"/export"});
    EXPECT_EQ(mounttest::nfs3DeviceNamed("/front45/dev"), nullptr);
}

// A refused notice leaves the device as it was, cache and place in the device list included;
// a later attempt can remove it, and so can the force routine without asking the server.
TEST_F(MountFront, FailedUnmountLeavesTheDeviceWholeAndTheForceRoutineRemovesIt)
{
    ASSERT_TRUE(server_.up());
    ASSERT_EQ(nfsMount(server_.name(), "/export", "/front45/keep"), 0) << std::hex << errnoGet();
    ASSERT_EQ(nfsMount(server_.name(), "/export", "/front45/next"), 0) << std::hex << errnoGet();
    server_.server().handle(MOUNT_PROGRAM, MOUNT_V3, MOUNTPROC3_UMNT, [](const scripted::RpcCall &, XDR *) {
        return scripted::Reply::of(scripted::ReplyKind::systemErr);
    });
    NfsDevice *dev = mounttest::nfs3DeviceNamed("/front45/keep");
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(nfsUnmount("/front45/keep"), -1);
    EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | RPC_SYSTEMERROR);
    EXPECT_EQ(mounttest::nfs3DeviceNamed("/front45/keep"), dev);
    EXPECT_EQ(iosNextDevGet(&dev->devHdr), &mounttest::nfs3DeviceNamed("/front45/next")->devHdr)
        << "still before the device mounted after it";
    EXPECT_NE(dev->cache.pLines, nullptr);
    EXPECT_EQ(dev->cache.nLines, 2u);

    server_.server().handle(MOUNT_PROGRAM, MOUNT_V3, MOUNTPROC3_UMNT,
                            [](const scripted::RpcCall &, XDR *) { return scripted::Reply::ok(); });
    EXPECT_EQ(nfsUnmount("/front45/keep"), 0);
    EXPECT_EQ(mounttest::nfs3DeviceNamed("/front45/keep"), nullptr);

    const uint64_t umntCalls = server_.server().callCount(MOUNT_PROGRAM, MOUNT_V3, MOUNTPROC3_UMNT);
    server_.server().setProgramBehaviour(MOUNT_PROGRAM, scripted::Behaviour::silent());
    EXPECT_EQ(nfsUnmountForce("/front45/next"), 0);
    EXPECT_EQ(mounttest::nfs3DeviceNamed("/front45/next"), nullptr);
    EXPECT_EQ(server_.server().callCount(MOUNT_PROGRAM, MOUNT_V3, MOUNTPROC3_UMNT), umntCalls);
    EXPECT_EQ(nfsUnmountForce("/front45/next"), -1);
    EXPECT_EQ(errnoGet(), NFS_DRV_ERR_NOT_NFS_DEVICE);
    server_.server().setProgramBehaviour(MOUNT_PROGRAM, scripted::Behaviour::answer());
}

// Two tasks unmounting one device: the second waits for the first and then finds no device,
// instead of releasing the same record a second time.
TEST_F(MountFront, ConcurrentUnmountsOfOneDeviceReleaseItOnce)
{
    ASSERT_TRUE(server_.up());
    ASSERT_EQ(nfsMount(server_.name(), "/export", "/front45/twice"), 0) << std::hex << errnoGet();
    server_.server().handle(MOUNT_PROGRAM, MOUNT_V3, MOUNTPROC3_UMNT,
                            [this](const scripted::RpcCall &, XDR *args) {
                                const std::string path = mounttest::decodePath(args);
                                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                                server_.set([&path](MountState &s) { s.unmounted.push_back(path); });
                                return scripted::Reply::ok();
                            });
    int first = 1;
    int second = 1;
    int secondErrno = 0;
    std::thread one([&first] {
        first = nfsUnmount("/front45/twice");
        nfsClientClose();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::thread two([&second, &secondErrno] {
        second = nfsUnmount("/front45/twice");
        secondErrno = errnoGet();
        nfsClientClose();
    });
    one.join();
    two.join();
    EXPECT_EQ(first, 0);
    EXPECT_EQ(second, -1);
    EXPECT_EQ(secondErrno, NFS_DRV_ERR_NOT_NFS_DEVICE);
    EXPECT_EQ(server_.unmounted(), std::vector<std::string>{"/export"});
    EXPECT_EQ(mounttest::nfs3DeviceNamed("/front45/twice"), nullptr);
}

TEST_F(MountFront, UnMountAllRemovesOnlyTheDevicesOfThatHost)
{
    ASSERT_TRUE(server_.up());
    MountServer other("127.0.0.46", "front46");
    ASSERT_TRUE(other.up());
    ASSERT_EQ(nfsMount(server_.name(), "/export/a", "/front45/a"), 0);
    ASSERT_EQ(nfsMount(server_.name(), "/export/b", "/front45/b"), 0);
    ASSERT_EQ(nfsMount(other.name(), "/export/a", "/front46/a"), 0);

    server_.server().handle(
        MOUNT_PROGRAM, MOUNT_V3, MOUNTPROC3_UMNTALL,
        [](const scripted::RpcCall &, XDR *) { return scripted::Reply::of(scripted::ReplyKind::systemErr); });
    EXPECT_EQ(nfsUnMountAll(server_.name()), -1);
    EXPECT_NE(mounttest::nfs3DeviceNamed("/front45/a"), nullptr);
    EXPECT_NE(mounttest::nfs3DeviceNamed("/front45/b"), nullptr);

    server_.server().handle(MOUNT_PROGRAM, MOUNT_V3, MOUNTPROC3_UMNTALL,
                            [](const scripted::RpcCall &, XDR *) { return scripted::Reply::ok(); });
    EXPECT_EQ(nfsUnMountAll(server_.name()), 0);
    EXPECT_EQ(server_.count(MOUNT_V3, MOUNTPROC3_UMNTALL), 2u);
    EXPECT_EQ(mounttest::nfs3DeviceNamed("/front45/a"), nullptr);
    EXPECT_EQ(mounttest::nfs3DeviceNamed("/front45/b"), nullptr);
    EXPECT_NE(mounttest::nfs3DeviceNamed("/front46/a"), nullptr);
    EXPECT_EQ(other.count(MOUNT_V3, MOUNTPROC3_UMNTALL), 0u);
    EXPECT_EQ(nfsUnmount("/front46/a"), 0);
}

TEST_F(MountFront, ShowAndDumpGoThroughTheChosenVersion)
{
    ASSERT_TRUE(server_.up());
    server_.set([](MountState &s) {
        s.exports = {{"/export", {"trusted"}}};
        s.mountTable = {{"front-client", "/export"}};
    });
    int result = -1;
    EXPECT_EQ(capturedStdout([&] { result = nfsExportShow(server_.name()); }),
              "/export                   trusted \n");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(capturedStdout([&] { result = nfsMntDump(server_.name()); }), "front-client:/export\n");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(server_.count(MOUNT_V3, MOUNTPROC3_EXPORT), 1u);
    EXPECT_EQ(server_.count(MOUNT_V1, MOUNTPROC_EXPORT), 0u);
}

} // namespace
