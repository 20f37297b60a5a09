// NFS version 2 over TCP: the folder-backed version 2 server also serving its programs over
// TCP with record marking. A mount and a data round trip through the file calls, every byte
// checked in the folder, with the word asking for TCP and with a portmapper that registers TCP
// alone under the default word.
#include "server/nfs2FolderServer.h"

#include "core/nfsConfig.h"

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfs3Drv.h>
#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsMountLib.h>
#include <brisnel/nfsRpcLib.h>
#include <brisnel/nfsStatLib.h>
#include <kernel/errnoLib.h>
#include <kernel/hostLib.h>
#include <kernel/ioLib.h>
#include <kernel/iosLib.h>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr const char *kDev = "/v2tcp";
constexpr const char *kHost = "v2server73";
constexpr uint32_t kNfs = 100003;
constexpr uint32_t kMount = 100005;
constexpr uint32_t kProcWrite = 8;

class Nfs2Tcp : public testing::Test {
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/nfs2TcpXXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        std::string error;
        server_ = scripted::ScriptedServer::start({.address = "127.0.0.73", .tcp = true}, &error);
        ASSERT_NE(server_, nullptr) << error;
        files_ = std::make_unique<scripted::Nfs2FolderServer>(*server_, folder_, "/v2export");
        ASSERT_EQ(hostAdd(kHost, "127.0.0.73"), 0);
        nfsAuthUnixSet("tester", static_cast<int>(geteuid()), static_cast<int>(getegid()), 0, nullptr);
        ASSERT_EQ(nfs2Drv(), 0);
        ASSERT_EQ(nfs3Drv(), 0);
        nfs2CacheParamsSet(16, 16384, 0);
    }
    void TearDown() override
    {
        nfsTransport = NFS_TRANSPORT_UDP_WHERE_OFFERED;
        nfsClientClose();
        fs::remove_all(folder_);
    }

    std::vector<char> inFolder(const std::string &name) const
    {
        std::ifstream in(fs::path(folder_) / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::string folder_;
    std::unique_ptr<scripted::ScriptedServer> server_;
    std::unique_ptr<scripted::Nfs2FolderServer> files_;
};

TEST_F(Nfs2Tcp, MountAndDataRoundTripOverTcp)
{
    const struct {
        const char *name;
        int32_t word;
        bool tcpOnly; // the portmapper registers MOUNT and NFS over TCP alone
    } cases[] = {{"asked for TCP", NFS_TRANSPORT_TCP, false},
                 {"offered TCP alone", NFS_TRANSPORT_UDP_WHERE_OFFERED, true}};
    std::mt19937 random(21);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.tcpOnly) {
            const uint16_t port = server_->programPort();
            server_->setRegistrations(
                {{scripted::portmapperProgram, scripted::portmapperVersion, scripted::ipprotoUdp, 111},
                 {kMount, 1, scripted::ipprotoTcp, port},
                 {kNfs, 2, scripted::ipprotoTcp, port}});
        }
        nfsTransport = c.word;
        nfsClientClose();
        server_->resetCounts();
        NfsStatCounts before{};
        ASSERT_EQ(nfsStatGet(IPPROTO_TCP, &before), 0);
        ASSERT_EQ(nfsMount(kHost, "/v2export", kDev), 0) << std::hex << errnoGet();
        const char *tail = nullptr;
        ASSERT_EQ(iosDevFind(kDev, &tail)->drvNum, nfs2DrvNum);

        std::vector<char> data(300000);
        for (char &byte : data)
            byte = static_cast<char>(random());
        const std::string path = std::string(kDev) + "/data.bin";
        int fd = kOpen(path.c_str(), K_O_RDWR | K_O_CREAT | K_O_TRUNC, 0644);
        ASSERT_GE(fd, 0) << std::hex << errnoGet();
        for (std::size_t at = 0; at < data.size(); at += 7000) {
            const int n = static_cast<int>(std::min<std::size_t>(7000, data.size() - at));
            ASSERT_EQ(kWrite(fd, data.data() + at, n), n) << at << std::hex << " " << errnoGet();
        }
        ASSERT_EQ(kClose(fd), 0) << std::hex << errnoGet();
        EXPECT_TRUE(inFolder("data.bin") == data) << "the server's copy";

        fd = kOpen(path.c_str(), K_O_RDONLY, 0);
        ASSERT_GE(fd, 0) << std::hex << errnoGet();
        std::vector<char> back(data.size() + 100);
        std::size_t got = 0;
        for (int n; (n = kRead(fd, back.data() + got, 5000)) > 0;)
            got += static_cast<std::size_t>(n);
        back.resize(got);
        EXPECT_TRUE(back == data) << "read back " << got;
        EXPECT_EQ(kClose(fd), 0);

        EXPECT_EQ(nfsRpcClientCurrent()->transport, IPPROTO_TCP);
        NfsStatCounts after{};
        ASSERT_EQ(nfsStatGet(IPPROTO_TCP, &after), 0);
        EXPECT_GE(after.calls - before.calls, server_->callCount(kNfs, 2, kProcWrite))
            << "every call over TCP";
        EXPECT_GT(server_->callCount(kNfs, 2, kProcWrite), 30u);
        EXPECT_EQ(nfsUnmount(kDev), 0) << std::hex << errnoGet();
    }
}

} // namespace
