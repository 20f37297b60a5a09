// The MOUNT client operations against the scripted server: handles copied with their own
// length, refusals kept as the error number, the requests that reach the server, the printed
// forms of the export list and mount table, and replies that do not decode.
#include "nfs/consoleCapture.h"
#include "nfs/mountScriptedServer.h"

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfs3Drv.h>
#include <brisnel/nfsDevLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsMountLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>

namespace {

using mounttest::MountServer;
using mounttest::MountState;

class MountOps : public testing::Test {
protected:
    void TearDown() override { nfsClientClose(); }

    MountServer server_{"127.0.0.40", "mountops40"};
};

TEST_F(MountOps, Version3HandleIsCopiedWithItsOwnLengthOnly)
{
    ASSERT_TRUE(server_.up());
    for (const std::size_t length : {std::size_t{0}, std::size_t{20}, std::size_t{FHSIZE3}}) {
        std::string handle(length, '\0');
        for (std::size_t i = 0; i < length; ++i)
            handle[i] = static_cast<char>(i + 1);
        server_.set([&handle](MountState &s) { s.handle = handle; });
        std::array<char, FHSIZE3 + 8> buffer{};
        buffer.fill('\x77');
        nfs_fh3 fh{{999, buffer.data()}};
        ASSERT_EQ(nfs3DirMount(server_.name(), "/export/a", &fh), 0) << length;
        EXPECT_EQ(fh.data.data_len, length);
        EXPECT_EQ(std::string(buffer.data(), length), handle);
        for (std::size_t i = length; i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], '\x77') << "byte " << i << " of a " << length << "-byte handle";
    }
    EXPECT_EQ(server_.mounted().back(), "/export/a");
}

TEST_F(MountOps, Version3HandleLongerThan64BytesFailsAndLeavesTheBufferAlone)
{
    ASSERT_TRUE(server_.up());
    server_.set([](MountState &s) { s.handle = std::string(FHSIZE3 + 1, 'h'); });
    std::array<char, FHSIZE3> buffer{};
    nfs_fh3 fh{{7, buffer.data()}};
    errnoSet(0);
    EXPECT_EQ(nfs3DirMount(server_.name(), "/export/a", &fh), -1);
    EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | RPC_CANTDECODERES);
    EXPECT_EQ(fh.data.data_len, 7u);
    EXPECT_EQ(buffer, (std::array<char, FHSIZE3>{}));
}

TEST_F(MountOps, RefusedMountKeepsTheMountStatusAsTheErrorNumber)
{
    ASSERT_TRUE(server_.up());
    server_.set([](MountState &s) { s.refused["/secret"] = MNT3ERR_ACCES; });
    std::array<char, FHSIZE3> buffer{};
    nfs_fh3 fh{{5, buffer.data()}};
    errnoSet(0);
    EXPECT_EQ(nfs3DirMount(server_.name(), "/secret", &fh), -1);
    EXPECT_EQ(errnoGet(), 13);
    EXPECT_EQ(fh.data.data_len, 5u);

    std::array<unsigned char, FHSIZE> v2{};
    errnoSet(0);
    EXPECT_EQ(nfs2DirMount(server_.name(), "/secret", v2.data()), -1);
    EXPECT_EQ(errnoGet(), 13);
    EXPECT_EQ(v2, (std::array<unsigned char, FHSIZE>{}));
    EXPECT_EQ(server_.count(MOUNT_V1, MOUNTPROC_MNT), 1u);
    EXPECT_EQ(server_.count(MOUNT_V3, MOUNTPROC3_MNT), 1u);
}

TEST_F(MountOps, Version1HandleIsThe32BytesSent)
{
    ASSERT_TRUE(server_.up());
    server_.set([](MountState &s) { s.handle = "0123456789abcdefghijklmnopqrstuv"; });
    std::array<unsigned char, FHSIZE> fh{};
    ASSERT_EQ(nfs2DirMount(server_.name(), "/v2", fh.data()), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(fh.data()), fh.size()),
              "0123456789abcdefghijklmnopqrstuv");
}

TEST_F(MountOps, UnmountNoticesReachTheServerInTheirVersion)
{
    ASSERT_TRUE(server_.up());
    EXPECT_EQ(nfs3DirUnmount(server_.name(), "/export/three"), 0);
    EXPECT_EQ(nfs2DirUnmount(server_.name(), "/export/one"), 0);
    EXPECT_EQ(server_.unmounted(), (std::vector<std::string>{"/export/three", "/export/one"}));
    EXPECT_EQ(server_.count(MOUNT_V3, MOUNTPROC3_UMNT), 1u);
    EXPECT_EQ(server_.count(MOUNT_V1, MOUNTPROC_UMNT), 1u);

    EXPECT_EQ(nfs3MntUnmountAll(server_.name()), 0);
    EXPECT_EQ(nfs2MntUnmountAll(server_.name()), 0);
    EXPECT_EQ(server_.count(MOUNT_V3, MOUNTPROC3_UMNTALL), 1u);
    EXPECT_EQ(server_.count(MOUNT_V1, MOUNTPROC_UMNTALL), 1u);
}

TEST_F(MountOps, ExportShowPadsDirectoriesTo25ColumnsAndListsGroups)
{
    ASSERT_TRUE(server_.up());
    server_.set([](MountState &s) {
        s.exports = {{"/a", {}}, {"/b", {"g1", "g2"}}, {"/a/directory/longer/than/25", {"everyone"}}};
    });
    const std::string expected = "/a                        \n"
                                 "/b                        g1 g2 \n"
                                 "/a/directory/longer/than/25 everyone \n";
    int result = -1;
    EXPECT_EQ(capturedStdout([&] { result = nfs3ExportShow(server_.name()); }), expected);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(capturedStdout([&] { result = nfs2ExportShow(server_.name()); }), expected);
    EXPECT_EQ(result, 0);

    exports list = nullptr;
    ASSERT_EQ(nfs3ExportRead(server_.name(), &list), 0);
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list->ex_dir, "/a");
    ASSERT_NE(list->ex_next, nullptr);
    EXPECT_STREQ(list->ex_next->ex_groups->gr_next->gr_name, "g2");
    clnt_freeres(nfsRpcClientCurrent()->pClient, nfsXdrProc(xdr_exports), reinterpret_cast<char *>(&list));
}

TEST_F(MountOps, MntDumpPrintsHostColonDirectoryPerEntry)
{
    ASSERT_TRUE(server_.up());
    server_.set([](MountState &s) { s.mountTable = {{"client1", "/export/a"}, {"client2", "/b"}}; });
    int result = -1;
    EXPECT_EQ(capturedStdout([&] { result = nfs3MntDump(server_.name()); }),
              "client1:/export/a\nclient2:/b\n");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(capturedStdout([&] { result = nfs2MntDump(server_.name()); }),
              "client1:/export/a\nclient2:/b\n");
    EXPECT_EQ(result, 0);
}

TEST_F(MountOps, EmptyListsPrintNothing)
{
    ASSERT_TRUE(server_.up());
    int result = -1;
    EXPECT_EQ(capturedStdout([&] { result = nfs3MntDump(server_.name()); }), "");
    EXPECT_EQ(result, 0);
    EXPECT_EQ(capturedStdout([&] { result = nfs3ExportShow(server_.name()); }), "");
    EXPECT_EQ(result, 0);
}

// An export list cut short in its second node: the part decoded is released (the leak checker
// would report it otherwise), nothing is printed and the caller's head stays null.
TEST_F(MountOps, ExportListCutShortIsReleasedAndNothingIsPrinted)
{
    ASSERT_TRUE(server_.up());
    server_.server().handle(MOUNT_PROGRAM, MOUNT_V3, MOUNTPROC3_EXPORT, [](const scripted::RpcCall &, XDR *) {
        return scripted::Reply::ok([](XDR *xdrs) {
            return mounttest::encodeMore(xdrs, true) && mounttest::encodeString(xdrs, "/first") &&
                   mounttest::encodeMore(xdrs, true) && mounttest::encodeString(xdrs, "group") &&
                   mounttest::encodeMore(xdrs, false) && mounttest::encodeMore(xdrs, true);
        });
    });
    exports list = nullptr;
    EXPECT_EQ(nfs3ExportRead(server_.name(), &list), -1);
    EXPECT_EQ(list, nullptr);
    int result = 0;
    EXPECT_EQ(capturedStdout([&] { result = nfs3ExportShow(server_.name()); }), "");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | RPC_CANTDECODERES);
}

TEST_F(MountOps, UnknownHostFailsWithoutPrinting)
{
    int result = 0;
    EXPECT_EQ(capturedStdout([&] { result = nfs3MntDump("no-such-host-anywhere.invalid"); }), "");
    EXPECT_EQ(result, -1);
    EXPECT_EQ(errnoGet(), K_HOST_UNKNOWN);
}

// Exported routines given a null pointer refuse it with 0x300016 before anything is sent.
TEST_F(MountOps, NullArgumentsAreRefusedWithTheMissingArgumentError)
{
    const char *host = server_.name();
    unsigned char fh2[32] = {};
    char fh3Bytes[64] = {};
    nfs_fh3 fh3{{0, fh3Bytes}};
    void *handles[2] = {};
    const struct {
        const char *call;
        std::function<int()> run;
    } cases[] = {
        {"nfs3DirUnmount", [&] { return nfs3DirUnmount(host, nullptr); }},
        {"nfs2DirUnmount", [&] { return nfs2DirUnmount(host, nullptr); }},
        {"nfs3DirUnmount host", [&] { return nfs3DirUnmount(nullptr, "/x"); }},
        {"nfs3DirMount", [&] { return nfs3DirMount(host, nullptr, &fh3); }},
        {"nfs2DirMount", [&] { return nfs2DirMount(nullptr, "/x", fh2); }},
        {"nfs3UnmountAll", [&] { return nfs3UnmountAll(nullptr); }},
        {"nfs2UnmountAll", [&] { return nfs2UnmountAll(nullptr); }},
        {"nfs3MntUnmountAll", [&] { return nfs3MntUnmountAll(nullptr); }},
        {"nfs2MntDump", [&] { return nfs2MntDump(nullptr); }},
        {"nfs3ExportShow", [&] { return nfs3ExportShow(nullptr); }},
        {"nfs2ExportRead", [&] { return nfs2ExportRead(nullptr, nullptr); }},
        {"nfsDevListGet", [&] { return nfsDevListGet(nullptr, 5); }},
        {"nfsDevInfoGet", [&] { return nfsDevInfoGet(handles[0], nullptr); }},
    };
    for (const auto &c : cases) {
        errnoSet(0);
        EXPECT_EQ(c.run(), -1) << c.call;
        EXPECT_EQ(errnoGet(), NFS_ERRNO_INVAL) << c.call;
    }
    EXPECT_EQ(nfsDevListGet(nullptr, 0), 0) << "no room asked for, none needed";
    EXPECT_EQ(server_.server().callCount(100005), 0u);
}

} // namespace
