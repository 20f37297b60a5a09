// The mount commands and the version 3 driver's mounting against rpcbind and nfs-ganesha: the
// MOUNT version chosen, the printed export list and mount table compared with what the server
// answers to raw calls, the transfer limits taken from FSINFO, and unmounting seen from the
// server's side.
#include "live/liveServer.h"

#include "core/nfsConfig.h"
#include "core/nfsMountVersion.h"
#include "nfs/consoleCapture.h"

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfs3Drv.h>
#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsMountLib.h>
#include <brisnel/nfsStatLib.h>
#include <kernel/bootLib.h>
#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>
#include <kernel/iosLib.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace {

std::vector<std::string> rawMountTable()
{
    mountlist list = nullptr;
    std::vector<std::string> table;
    if (nfsClientCall(live::host().c_str(), MOUNT_PROGRAM, MOUNT_V3, MOUNTPROC3_DUMP, nfsXdrProc(xdr_void),
                      nullptr, nfsXdrProc(xdr_mountlist), &list) != 0) {
        ADD_FAILURE() << "DUMP failed: " << std::hex << errnoGet();
        return table;
    }
    for (const mountbody *node = list; node != nullptr; node = node->ml_next)
        table.push_back(std::string(node->ml_hostname) + ":" + node->ml_directory);
    xdr_free(nfsXdrProc(xdr_mountlist), reinterpret_cast<char *>(&list));
    return table;
}

// The export list as nfsExportShow must print it, built from a raw EXPORT call.
std::string rawExportLines(int *count)
{
    exports list = nullptr;
    *count = 0;
    if (nfsClientCall(live::host().c_str(), MOUNT_PROGRAM, MOUNT_V3, MOUNTPROC3_EXPORT, nfsXdrProc(xdr_void),
                      nullptr, nfsXdrProc(xdr_exports), &list) != 0) {
        ADD_FAILURE() << "EXPORT failed: " << std::hex << errnoGet();
        return "";
    }
    std::string lines;
    for (const exportnode *node = list; node != nullptr; node = node->ex_next) {
        std::string dir = node->ex_dir;
        dir.resize(std::max<std::size_t>(dir.size(), 25), ' ');
        lines += dir + " ";
        for (const groupnode *group = node->ex_groups; group != nullptr; group = group->gr_next)
            lines += std::string(group->gr_name) + " ";
        lines += "\n";
        ++*count;
    }
    xdr_free(nfsXdrProc(xdr_exports), reinterpret_cast<char *>(&list));
    return lines;
}

struct FsInfoLimits {
    uint32_t rtmax = 0;
    uint32_t wtmax = 0;
    uint32_t dtpref = 0;
    uint32_t rtpref = 0;
    uint32_t wtpref = 0;
};

FsInfoLimits rawFsInfo(live::RootHandle *root)
{
    FSINFO3args args{};
    args.fsroot = root->fh();
    FSINFO3res res{};
    FsInfoLimits limits;
    if (nfsClientCall(live::host().c_str(), NFS_PROGRAM, NFS_V3, NFSPROC3_FSINFO, nfsXdrProc(xdr_FSINFO3args),
                      &args, nfsXdrProc(xdr_FSINFO3res), &res) != 0) {
        ADD_FAILURE() << "FSINFO failed: " << std::hex << errnoGet();
        return limits;
    }
    EXPECT_EQ(res.status, NFS3_OK);
    const FSINFO3resok &ok = res.FSINFO3res_u.resok;
    limits = {ok.rtmax, ok.wtmax, ok.dtpref, ok.rtpref, ok.wtpref};
    xdr_free(nfsXdrProc(xdr_FSINFO3res), reinterpret_cast<char *>(&res));
    return limits;
}

bool tableHolds(const std::vector<std::string> &table, const std::string &dir)
{
    return std::any_of(table.begin(), table.end(), [&dir](const std::string &entry) {
        return entry.size() > dir.size() && entry.compare(entry.size() - dir.size(), dir.size(), dir) == 0 &&
               entry[entry.size() - dir.size() - 1] == ':';
    });
}

// Sees the MOUNT calls this process sends over loopback, as the server receives them: a
// packet socket on the loopback interface (the tests run as root in their own network
// namespace). The server keeps no mount table to look at, so this is how a test knows that
// it was told.
class MountCallWatch {
public:
    MountCallWatch()
    {
        fd_ = socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK, htons(ETH_P_IP));
        EXPECT_GE(fd_, 0) << "packet socket: " << std::strerror(errno);
        if (fd_ < 0)
            return;
        sockaddr_ll where{};
        where.sll_family = AF_PACKET;
        where.sll_protocol = htons(ETH_P_IP);
        where.sll_ifindex = static_cast<int>(if_nametoindex("lo"));
        EXPECT_EQ(bind(fd_, reinterpret_cast<sockaddr *>(&where), sizeof where), 0);
    }
    MountCallWatch(const MountCallWatch &) = delete;
    MountCallWatch &operator=(const MountCallWatch &) = delete;
    ~MountCallWatch()
    {
        if (fd_ >= 0)
            close(fd_);
    }

    // The MOUNT version 3 calls seen so far, over UDP or TCP: "proc" or "proc path" for MNT
    // and UMNT.
    std::vector<std::string> calls() { return callsOver(0); }
    // Only those over TRANSPORT (0: either).
    std::vector<std::string> callsOver(int transport)
    {
        std::array<uint8_t, 65536> packet{};
        for (;;) {
            const ssize_t length = recv(fd_, packet.data(), packet.size(), 0);
            if (length <= 0)
                break;
            record(std::span<const uint8_t>(packet.data(), static_cast<std::size_t>(length)));
        }
        std::vector<std::string> chosen;
        for (std::size_t i = 0; i < calls_.size(); ++i) {
            if (transport == 0 || transports_[i] == transport)
                chosen.push_back(calls_[i]);
        }
        return chosen;
    }

private:
    static uint32_t word(std::span<const uint8_t> bytes, std::size_t at)
    {
        return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) |
               (uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
    }

    // The RPC message in a UDP datagram, or at the start of a TCP segment after its record mark
    // (a call goes out in one send, so its first segment starts the record).
    static std::span<const uint8_t> rpcOf(std::span<const uint8_t> ip)
    {
        const std::size_t header = std::size_t{ip[0] & 0x0fu} * 4;
        if (ip[9] == IPPROTO_UDP && ip.size() >= header + 8)
            return ip.subspan(header + 8);
        if (ip[9] != IPPROTO_TCP || ip.size() < header + 20)
            return {};
        const std::size_t payload = header + (std::size_t{ip[header + 12]} >> 4) * 4;
        return ip.size() >= payload + 4 ? ip.subspan(payload + 4) : std::span<const uint8_t>();
    }

    void record(std::span<const uint8_t> ip)
    {
        if (ip.size() < 20 || (ip[0] >> 4) != 4)
            return;
        std::span<const uint8_t> rpc = rpcOf(ip);
        // xid, CALL, rpcvers 2, prog, vers, proc, then credential and verifier.
        if (rpc.size() < 32 || word(rpc, 4) != 0 || word(rpc, 8) != 2 || word(rpc, 12) != MOUNT_PROGRAM ||
            word(rpc, 16) != MOUNT_V3)
            return;
        const uint32_t proc = word(rpc, 20);
        std::size_t at = 24;
        for (int part = 0; part < 2; ++part) {
            if (rpc.size() < at + 8)
                return;
            at += 8 + ((std::size_t{word(rpc, at + 4)} + 3) & ~std::size_t{3});
        }
        std::string entry = std::to_string(proc);
        if ((proc == MOUNTPROC3_MNT || proc == MOUNTPROC3_UMNT) && rpc.size() >= at + 4) {
            const std::size_t length = word(rpc, at);
            if (rpc.size() >= at + 4 + length)
                entry += " " + std::string(reinterpret_cast<const char *>(rpc.data() + at + 4), length);
        }
        calls_.push_back(entry);
        transports_.push_back(ip[9]);
    }

    int fd_ = -1;
    std::vector<std::string> calls_;
    std::vector<int> transports_;
};

bool sawCall(MountCallWatch *watch, const std::string &call, int transport = 0)
{
    const std::vector<std::string> calls = watch->callsOver(transport);
    return std::find(calls.begin(), calls.end(), call) != calls.end();
}

NfsDevice *deviceNamed(const std::string &name)
{
    const char *tail = nullptr;
    DEV_HDR *dev = iosDevFind(name.c_str(), &tail);
    if (dev == nullptr || name != dev->name)
        return nullptr;
    return reinterpret_cast<NfsDevice *>(dev);
}

class MountLive : public testing::Test {
protected:
    void SetUp() override
    {
        nfsAuthUnixSet(sysBootParams.hostName, 2001, 100, 0, nullptr);
        // Both drivers, as after loading: the server's MOUNT version 3 wins over version 1.
        ASSERT_EQ(nfs2Drv(), 0);
        ASSERT_EQ(nfs3Drv(), 0);
        nfs3CacheParamsSet(4, 4096, 0);
        savedMsgLen_ = nfs3MaxMsgLen;
        savedRddirSz_ = nfs3MaxRddirSz;
    }
    void TearDown() override
    {
        const std::vector<std::string> names{kDevA, kDevB, kDevOther, live::exportPath()};
        for (const std::string &name : names) {
            if (deviceNamed(name) != nullptr) {
                EXPECT_EQ(nfsUnmount(name.c_str()), 0) << name;
            }
        }
        nfs3MaxMsgLen = savedMsgLen_;
        nfs3MaxRddirSz = savedRddirSz_;
        nfsTransport = NFS_TRANSPORT_UDP_WHERE_OFFERED;
        nfsClientClose();
    }

    static constexpr const char *kDevA = "/live70a";
    static constexpr const char *kDevB = "/live70b";
    static constexpr const char *kDevOther = "/live70other";

private:
    uint32_t savedMsgLen_ = 0;
    int32_t savedRddirSz_ = 0;
};

TEST_F(MountLive, ServerOfferingMountVersionsOneAndThreeIsSpokenToInThree)
{
    uint16_t version = 0;
    ASSERT_EQ(nfsRemoteVersionGet(live::host().c_str(), &version), 0) << std::hex << errnoGet();
    EXPECT_EQ(version, MOUNT_V3);
}

TEST_F(MountLive, MountAddsADeviceHoldingTheExportsRootUnderTheNameAsked)
{
    const std::string path = live::exportPath();
    ASSERT_EQ(nfsMount(live::host().c_str(), path.c_str(), kDevA), 0) << std::hex << errnoGet();
    NfsDevice *dev = deviceNamed(kDevA);
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(dev->devHdr.drvNum, nfs3DrvNum);
    EXPECT_STREQ(dev->host, live::host().c_str());
    EXPECT_STREQ(dev->fileSys, path.c_str());
    EXPECT_EQ(dev->cache.nLines, 4u);
    EXPECT_EQ(dev->cache.lineSize, 4096u);

    live::RootHandle root;
    ASSERT_TRUE(live::mountRoot(&root));
    ASSERT_EQ(dev->mountFh.data.data_len, root.length);
    EXPECT_EQ(std::memcmp(dev->mountFh.data.data_val, root.bytes.data(), root.length), 0);

    char fileSys[NFS_MAX_PATH] = {};
    char devName[K_IOS_DEV_NAME_MAX + 1] = {};
    NfsDevInfo info{};
    info.pFileSys = fileSys;
    info.pDevName = devName;
    ASSERT_EQ(nfs3DevInfoGet(dev, &info), 0);
    EXPECT_STREQ(info.hostName, live::host().c_str());
    EXPECT_STREQ(fileSys, path.c_str());
    EXPECT_STREQ(devName, kDevA);
}

TEST_F(MountLive, UnmountRemovesTheDeviceAndTellsTheServer)
{
    const std::string path = live::exportPath();
    MountCallWatch watch;
    ASSERT_EQ(nfsMount(live::host().c_str(), path.c_str(), kDevA), 0) << std::hex << errnoGet();
    EXPECT_TRUE(sawCall(&watch, "1 " + path));
    ASSERT_EQ(nfsUnmount(kDevA), 0) << std::hex << errnoGet();
    EXPECT_TRUE(sawCall(&watch, "3 " + path));
    EXPECT_EQ(deviceNamed(kDevA), nullptr);
    EXPECT_FALSE(tableHolds(rawMountTable(), path));
    errnoSet(0);
    EXPECT_EQ(nfsUnmount(kDevA), -1);
    EXPECT_EQ(errnoGet(), NFS_DRV_ERR_NOT_NFS_DEVICE);
}

TEST_F(MountLive, ExportShowPrintsTheServersExportList)
{
    int count = 0;
    const std::string expected = rawExportLines(&count);
    ASSERT_GE(count, 1);
    std::string padded = live::exportPath();
    padded.resize(std::max<std::size_t>(padded.size(), 25), ' ');
    EXPECT_NE(expected.find(padded + " "), std::string::npos) << expected;

    int result = -1;
    EXPECT_EQ(capturedStdout([&] { result = nfsExportShow(live::host().c_str()); }), expected);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(capturedStdout([&] { result = nfs3ExportShow(live::host().c_str()); }), expected);
    EXPECT_EQ(result, 0);
}

TEST_F(MountLive, MntDumpPrintsTheServersMountTable)
{
    const std::string path = live::exportPath();
    ASSERT_EQ(nfsMount(live::host().c_str(), path.c_str(), kDevA), 0) << std::hex << errnoGet();
    std::string expected;
    // This server keeps no table and answers DUMP with an empty list.
    for (const std::string &entry : rawMountTable())
        expected += entry + "\n";
    int result = -1;
    EXPECT_EQ(capturedStdout([&] { result = nfsMntDump(live::host().c_str()); }), expected);
    EXPECT_EQ(result, 0);
}

TEST_F(MountLive, FsInfoLowersTheTransferSizeAndNeverRaisesIt)
{
    live::RootHandle root;
    ASSERT_TRUE(live::mountRoot(&root));
    const FsInfoLimits limits = rawFsInfo(&root);
    ASSERT_NE(limits.rtmax, 0u);
    ASSERT_NE(limits.wtmax, 0u);

    nfs3MaxMsgLen = UINT32_MAX;
    nfs3MaxRddirSz = 1;
    const std::string path = live::exportPath();
    ASSERT_EQ(nfsMount(live::host().c_str(), path.c_str(), kDevA), 0) << std::hex << errnoGet();
    // Nor beyond what one message carries: a datagram less the room for headers over UDP.
    const bool tcp = nfsRpcClientCurrent()->transport == IPPROTO_TCP;
    const uint32_t carried = tcp ? NFS_TCP_MAX_TRANSFER : 65507u - 1024u;
    EXPECT_EQ(nfs3MaxMsgLen, std::min({limits.rtmax, limits.wtmax, carried}));
    if (limits.dtpref != 0) {
        EXPECT_EQ(nfs3MaxRddirSz, static_cast<int32_t>(limits.dtpref));
    }

    nfs3MaxMsgLen = 512;
    ASSERT_EQ(nfsMount(live::host().c_str(), path.c_str(), kDevB), 0) << std::hex << errnoGet();
    EXPECT_EQ(nfs3MaxMsgLen, 512u);
}

TEST_F(MountLive, UnMountAllTellsTheServerAndRemovesThatHostsDevicesOnly)
{
    const std::string path = live::exportPath();
    ASSERT_EQ(nfsMount(live::host().c_str(), path.c_str(), kDevA), 0) << std::hex << errnoGet();
    ASSERT_EQ(nfsMount(live::host().c_str(), path.c_str(), kDevB), 0) << std::hex << errnoGet();
    // The same server under another name counts as another host.
    ASSERT_EQ(nfsMount("localhost", path.c_str(), kDevOther), 0) << std::hex << errnoGet();

    MountCallWatch watch;
    ASSERT_EQ(nfsUnMountAll(live::host().c_str()), 0) << std::hex << errnoGet();
    EXPECT_TRUE(sawCall(&watch, std::to_string(MOUNTPROC3_UMNTALL)));
    EXPECT_EQ(deviceNamed(kDevA), nullptr);
    EXPECT_EQ(deviceNamed(kDevB), nullptr);
    ASSERT_NE(deviceNamed(kDevOther), nullptr);
    EXPECT_STREQ(deviceNamed(kDevOther)->host, "localhost");
    EXPECT_FALSE(tableHolds(rawMountTable(), path));
}

TEST_F(MountLive, MountAllMountsEachExportUnderItsOwnPath)
{
    int count = 0;
    rawExportLines(&count);
    ASSERT_EQ(count, 1) << "the peer script exports one folder";
    int result = -1;
    const std::string printed =
        capturedStdout([&] { result = nfsMountAll(live::host().c_str(), nullptr, 0); });
    EXPECT_EQ(result, 0) << std::hex << errnoGet();
    EXPECT_EQ(printed, live::host() + ":" + live::exportPath() + "\n");
    NfsDevice *dev = deviceNamed(live::exportPath());
    ASSERT_NE(dev, nullptr);
    EXPECT_STREQ(dev->fileSys, live::exportPath().c_str());
}

TEST_F(MountLive, RefusedMountLeavesTheServersStatusAndNoDevice)
{
    const std::string missing = live::exportPath() + "-missing";
    errnoSet(0);
    EXPECT_EQ(nfsMount(live::host().c_str(), missing.c_str(), kDevA), -1);
    const int error = errnoGet();
    EXPECT_GT(error, 0);
    EXPECT_LT(error, 0x10000) << "a MOUNT status, not an RPC failure: " << std::hex << error;
    EXPECT_EQ(deviceNamed(kDevA), nullptr);
    EXPECT_FALSE(tableHolds(rawMountTable(), missing));
}

// The transport a mount takes, seen on the wire and in the counters: UDP where the server
// offers it unless the word says TCP, TCP where it offers only TCP; the word at UDP only
// against a server without UDP says so before any MOUNT call.
TEST_F(MountLive, TheTransportFollowsTheServersOfferAndTheWord)
{
    const bool udp = live::serverOffersUdp();
    const std::string path = live::exportPath();
    struct Case {
        int32_t word;
        int transport; // 0: refused, no MOUNT version usable over UDP (NFS_ERRNO_NOTSUPP)
    };
    const Case cases[] = {
        {NFS_TRANSPORT_UDP_WHERE_OFFERED, udp ? IPPROTO_UDP : IPPROTO_TCP},
        {NFS_TRANSPORT_TCP, IPPROTO_TCP},
        {NFS_TRANSPORT_UDP, udp ? IPPROTO_UDP : 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.word);
        nfsTransport = c.word;
        nfsClientClose();
        nfsStatZero();
        MountCallWatch watch;
        const int mounted = nfsMount(live::host().c_str(), path.c_str(), kDevA);
        if (c.transport == 0) {
            EXPECT_EQ(mounted, -1);
            EXPECT_EQ(errnoGet(), NFS_ERRNO_NOTSUPP);
            EXPECT_TRUE(watch.calls().empty());
            continue;
        }
        ASSERT_EQ(mounted, 0) << std::hex << errnoGet();
        const int other = c.transport == IPPROTO_UDP ? IPPROTO_TCP : IPPROTO_UDP;
        EXPECT_TRUE(sawCall(&watch, "1 " + path, c.transport));
        EXPECT_FALSE(sawCall(&watch, "1 " + path, other));
        EXPECT_EQ(nfsRpcClientCurrent()->transport, c.transport) << "FSINFO, the mount's last call";
        // From a reserved port, as the tests run as root (secure exports want one).
        sockaddr_in local{};
        socklen_t length = sizeof local;
        ASSERT_EQ(getsockname(nfsRpcClientCurrent()->socket, reinterpret_cast<sockaddr *>(&local), &length),
                  0);
        if (geteuid() == 0) {
            EXPECT_LT(ntohs(local.sin_port), 1024);
        }
        NfsStatCounts used{};
        NfsStatCounts unused{};
        ASSERT_EQ(nfsStatGet(c.transport, &used), 0);
        ASSERT_EQ(nfsStatGet(other, &unused), 0);
        EXPECT_GE(used.calls, 2u) << "at least MNT and FSINFO";
        EXPECT_GT(used.bytesSent, 0u);
        EXPECT_GT(used.bytesReceived, 0u);
        if (c.transport == IPPROTO_UDP) {
            EXPECT_EQ(unused.calls, 0u);
        }
        EXPECT_EQ(nfsUnmount(kDevA), 0);
    }
}

// The options of a device in nfsDevOptGet's words.
std::string optionsOf(const char *devName)
{
    std::array<char, NFS_MAX_PATH> text{};
    NfsDevice *dev = deviceNamed(devName);
    if (dev == nullptr || nfsDevOptGet(dev, text.data(), static_cast<int>(text.size())) != 0)
        return "";
    return text.data();
}

// Each option string mounts, and the device shows what its calls use: the options given as
// given (sizes settled against the server: "max" is its preferred size, within what a message
// carries), the rest from the words.
TEST_F(MountLive, EachOptionIsTakenAndShownInTheSameWords)
{
    live::RootHandle root;
    ASSERT_TRUE(live::mountRoot(&root));
    const FsInfoLimits limits = rawFsInfo(&root);
    const bool udp = live::serverOffersUdp();
    const std::string preferred = "rsize=" + std::to_string(std::min(limits.rtpref, NFS_TCP_MAX_TRANSFER)) +
                                  ",wsize=" + std::to_string(std::min(limits.wtpref, NFS_TCP_MAX_TRANSFER));
    const std::string native = udp ? "udp" : "tcp";
    const std::string path = live::exportPath();
    const struct {
        std::string options;
        std::string shown;
    } cases[] = {
        {"", "vers=3,proto=" + native +
                 ",rsize=8192,wsize=8192,timeo=50,retrans=4,lines=4,linesize=4096,window=4,sec=sys"},
        {"vers=3,proto=tcp,rsize=65536,wsize=32768,timeo=15,retrans=3,lines=8,linesize=8192,window=2,sec=sys",
         "vers=3,proto=tcp,rsize=65536,wsize=32768,timeo=15,retrans=3,lines=8,linesize=8192,window=2,sec="
         "sys"},
        {"proto=tcp,rsize=max,wsize=max",
         "vers=3,proto=tcp," + preferred + ",timeo=50,retrans=4,lines=4,linesize=4096,window=4,sec=sys"},
        {"proto=tcp,port=2049,mountport=20048,timeo=20",
         "vers=3,proto=tcp,port=2049,mountport=20048,rsize=8192,wsize=8192,timeo=20,retrans=4,lines=4,"
         "linesize=4096,"
         "window=4,sec=sys"},
        {"retrans=0,linesize=5000,rsize=2048,rsize=4096",
         "vers=3,proto=" + native +
             ",rsize=4096,wsize=8192,timeo=50,retrans=0,lines=4,linesize=8192,window=4,sec=sys"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.options);
        ASSERT_EQ(nfsMountOpt(live::host().c_str(), path.c_str(), kDevA, c.options.c_str()), 0)
            << std::hex << errnoGet();
        EXPECT_EQ(optionsOf(kDevA), c.shown);
        EXPECT_EQ(nfsUnmount(kDevA), 0);
    }
    if (udp) {
        ASSERT_EQ(nfsMountOpt(live::host().c_str(), path.c_str(), kDevA, "proto=udp,rsize=max"), 0);
        const std::string most = std::to_string(std::min(limits.rtpref, 65507u - 1024u));
        EXPECT_EQ(optionsOf(kDevA).rfind("vers=3,proto=udp,rsize=" + most + ",", 0), 0u) << optionsOf(kDevA);
        EXPECT_EQ(nfsUnmount(kDevA), 0);
    }
    // The MOUNT port given is the one called: nothing answers on port 1.
    EXPECT_EQ(nfsMountOpt(live::host().c_str(), path.c_str(), kDevA, "proto=tcp,mountport=1"), -1);
    EXPECT_EQ(errnoGet(), ECONNREFUSED);
    EXPECT_EQ(deviceNamed(kDevA), nullptr);
    std::array<char, 8> small{};
    ASSERT_EQ(nfsMountOpt(live::host().c_str(), path.c_str(), kDevA, "window=1"), 0);
    EXPECT_EQ(nfsDevOptGet(deviceNamed(kDevA), small.data(), static_cast<int>(small.size())), -1);
}

// Two mounts of one server at once, each with its own transport, transfer sizes and cache
// lines: the bytes written through each reach the server whole and read back through the
// other; each device's calls go over its own transport in pieces of its own size (the
// counters); the listing shows each device's options; the configuration words stay as they
// were.
TEST_F(MountLive, TwoMountsOfOneServerEachKeepTheirOwnOptions)
{
    if (!live::serverOffersUdp())
        GTEST_SKIP() << "the server offers no UDP";
    const std::string folder = live::exportDir() + "/opts70";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directory(folder);
    ASSERT_EQ(::chown(folder.c_str(), 2001, 100), 0);
    const uint32_t msgLen = nfs3MaxMsgLen;
    const int32_t transport = nfsTransport;
    const int32_t window = nfsMaxInFlight;
    const std::string path = live::exportPath();
    ASSERT_EQ(nfsMountOpt(live::host().c_str(), path.c_str(), kDevA,
                          "proto=udp,rsize=4096,wsize=2048,linesize=4096"),
              0)
        << std::hex << errnoGet();
    ASSERT_EQ(nfsMountOpt(live::host().c_str(), path.c_str(), kDevB,
                          "proto=tcp,rsize=131072,wsize=131072,lines=2,linesize=262144,window=1"),
              0)
        << std::hex << errnoGet();

    std::mt19937 random(70);
    std::vector<char> bytesA(96 * 1024);
    std::vector<char> bytesB(512 * 1024);
    for (char &c : bytesA)
        c = static_cast<char>(random());
    for (char &c : bytesB)
        c = static_cast<char>(random());
    const struct {
        const char *dev;
        const char *other;
        const char *name;
        const std::vector<char> &bytes;
        int transport;
        uint64_t fewestCalls; // WRITEs of the device's size, and the READs back
        uint64_t mostCalls;
    } sides[] = {
        {kDevA, kDevB, "a.bin", bytesA, IPPROTO_UDP, 96 / 2, 1000},
        {kDevB, kDevA, "b.bin", bytesB, IPPROTO_TCP, 4, 40},
    };
    for (const auto &side : sides) {
        SCOPED_TRACE(side.dev);
        nfsStatZero();
        const std::string file = std::string(side.dev) + "/opts70/" + side.name;
        const int fd = kOpen(file.c_str(), K_O_CREAT | K_O_RDWR | K_O_TRUNC, 0644);
        ASSERT_GE(fd, 0) << std::hex << errnoGet();
        EXPECT_EQ(kWrite(fd, side.bytes.data(), static_cast<int>(side.bytes.size())),
                  static_cast<int>(side.bytes.size()));
        EXPECT_EQ(kClose(fd), 0);
        NfsStatCounts used{};
        NfsStatCounts unused{};
        ASSERT_EQ(nfsStatGet(side.transport, &used), 0);
        ASSERT_EQ(nfsStatGet(side.transport == IPPROTO_UDP ? IPPROTO_TCP : IPPROTO_UDP, &unused), 0);
        EXPECT_GE(used.calls, side.fewestCalls);
        EXPECT_LE(used.calls, side.mostCalls);
        EXPECT_EQ(unused.calls, 0u);

        std::ifstream onServer(folder + "/" + side.name, std::ios::binary);
        const std::vector<char> held{std::istreambuf_iterator<char>(onServer), {}};
        EXPECT_TRUE(held == side.bytes) << held.size();
        std::vector<char> back(side.bytes.size() + 1);
        const std::string viaOther = std::string(side.other) + "/opts70/" + side.name;
        const int in = kOpen(viaOther.c_str(), K_O_RDONLY, 0);
        ASSERT_GE(in, 0) << std::hex << errnoGet();
        int total = 0;
        for (int n = 1; n > 0 && total < static_cast<int>(back.size()); total += std::max(n, 0))
            n = kRead(in, back.data() + total, static_cast<int>(back.size()) - total);
        EXPECT_EQ(kClose(in), 0);
        back.resize(static_cast<std::size_t>(total));
        EXPECT_TRUE(back == side.bytes) << total;
    }

    const std::string listing = capturedStdout([] { nfsDevOptShow(); });
    EXPECT_NE(listing.find(std::string(kDevA).append(21 - std::strlen(kDevA), ' ') +
                           "vers=3,proto=udp,rsize=4096,wsize=2048,timeo=50,retrans=4,lines=4,linesize=4096,"
                           "window=4,sec=sys\n"),
              std::string::npos)
        << listing;
    EXPECT_NE(listing.find(std::string(kDevB).append(21 - std::strlen(kDevB), ' ') +
                           "vers=3,proto=tcp,rsize=131072,wsize=131072,timeo=50,retrans=4,lines=2,linesize="
                           "262144,window=1,sec=sys\n"),
              std::string::npos)
        << listing;
    EXPECT_EQ(nfs3MaxMsgLen, msgLen);
    EXPECT_EQ(nfsTransport, transport);
    EXPECT_EQ(nfsMaxInFlight, window);
    std::filesystem::remove_all(folder);
}

} // namespace
