// Create against the scripted server, where the arguments on the wire can be read back: the
// modes sent, the parent's owner only when the LOOKUP reply carried it, and a CREATE that
// reaches an existing symbolic link.
#include "ops/nfs3PathOps.h"
#include "server/scriptedServer.h"

#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/hostLib.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

namespace {

using scripted::DecodedArgs;
using scripted::Reply;
using scripted::RpcCall;

constexpr const char *kHost = "h8-namespace-faults";
constexpr const char *kAddress = "127.0.0.83";

fattr3 parentAttributes()
{
    fattr3 attr{};
    attr.type = NF3DIR;
    attr.mode = 0755;
    attr.uid = 1234;
    attr.gid = 567;
    return attr;
}

// One directory "d" (uid 1234, gid 567) below the root; CREATE and MKDIR record their sattr3.
class NamespaceFault : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(hostAdd(kHost, kAddress), 0);
        std::string error;
        server_ = scripted::ScriptedServer::start({.address = kAddress}, &error);
        ASSERT_NE(server_, nullptr) << error;
        nfsClientClose();
        server_->handle(NFS_PROGRAM, NFS_V3, NFSPROC3_LOOKUP, [this](const RpcCall &, XDR *args) {
            DecodedArgs<LOOKUP3args> decoded(args, xdr_LOOKUP3args);
            LOOKUP3res res{};
            res.LOOKUP3res_u.resok.object.data = {1, const_cast<char *>("d")};
            res.LOOKUP3res_u.resok.obj_attributes.attributes_follow = withAttributes_ ? TRUE : FALSE;
            fattr3 &attr = res.LOOKUP3res_u.resok.obj_attributes.post_op_attr_u.attributes;
            attr = parentAttributes();
            return Reply::ok(xdr_LOOKUP3res, res);
        });
        server_->handle(NFS_PROGRAM, NFS_V3, NFSPROC3_GETATTR, [](const RpcCall &, XDR *args) {
            DecodedArgs<GETATTR3args> decoded(args, xdr_GETATTR3args);
            GETATTR3res res{};
            res.GETATTR3res_u.resok.obj_attributes = parentAttributes();
            return Reply::ok(xdr_GETATTR3res, res);
        });
        server_->handle(NFS_PROGRAM, NFS_V3, NFSPROC3_CREATE, [this](const RpcCall &, XDR *args) {
            DecodedArgs<CREATE3args> decoded(args, xdr_CREATE3args);
            record(decoded.value().where, decoded.value().how.createhow3_u.obj_attributes);
            return made(answerLink_ ? NF3LNK : NF3REG);
        });
        server_->handle(NFS_PROGRAM, NFS_V3, NFSPROC3_MKDIR, [this](const RpcCall &, XDR *args) {
            DecodedArgs<MKDIR3args> decoded(args, xdr_MKDIR3args);
            record(decoded.value().where, decoded.value().attributes);
            return made(NF3DIR);
        });
        server_->handle(NFS_PROGRAM, NFS_V3, NFSPROC3_READLINK, [](const RpcCall &, XDR *args) {
            DecodedArgs<READLINK3args> decoded(args, xdr_READLINK3args);
            READLINK3res res{};
            res.READLINK3res_u.resok.data = const_cast<char *>("../elsewhere/t");
            return Reply::ok(xdr_READLINK3res, res);
        });
    }
    void TearDown() override
    {
        nfsClientClose();
        server_.reset();
    }

    void record(const diropargs3 &where, const sattr3 &attr)
    {
        const std::lock_guard lock(mutex_);
        dir_ = std::string(where.dir.data.data_val, where.dir.data.data_len);
        name_ = where.name;
        sent_ = attr;
    }
    static Reply made(ftype3 type)
    {
        CREATE3res res{};
        res.CREATE3res_u.resok.obj = {.handle_follows = TRUE,
                                      .post_op_fh3_u = {.handle = {{3, const_cast<char *>("new")}}}};
        res.CREATE3res_u.resok.obj_attributes.attributes_follow = TRUE;
        res.CREATE3res_u.resok.obj_attributes.post_op_attr_u.attributes.type = type;
        return Reply::ok(xdr_CREATE3res, res);
    }

    int create(const char *path, int mode)
    {
        std::memcpy(path_.data(), path, std::strlen(path) + 1);
        parentBytes_.fill('\0');
        nfs_fh3 parent{{1, parentBytes_.data()}};
        parentBytes_[0] = '/';
        return nfs3ThingCreate(kHost, path_.data(), &root_, &res_, &parent, mode);
    }
    sattr3 sent()
    {
        const std::lock_guard lock(mutex_);
        return sent_;
    }

    std::unique_ptr<scripted::ScriptedServer> server_;
    std::atomic<bool> withAttributes_{true};
    std::atomic<bool> answerLink_{false};
    std::mutex mutex_; // guards the three below, written by the server's thread
    std::string dir_;
    std::string name_;
    sattr3 sent_{};

    nfs_fh3 root_{{1, const_cast<char *>("/")}};
    std::array<char, NFS3_FHSIZE> parentBytes_{};
    std::array<char, NFS_MAX_PATH> path_{};
    CREATE3res res_{};
};

TEST_F(NamespaceFault, AFileGetsTheModeAskedOrTheDefaultAndNoOwner)
{
    ASSERT_EQ(create("d/f", 0), 0) << std::hex << errnoGet();
    sattr3 attr = sent();
    EXPECT_EQ(attr.mode.set_it, TRUE);
    EXPECT_EQ(attr.mode.set_mode3_u.mode, 0x81A0u);
    EXPECT_EQ(attr.uid.set_it, FALSE);
    EXPECT_EQ(attr.size.set_it, FALSE) << "an existing file keeps its content";
    {
        const std::lock_guard lock(mutex_);
        EXPECT_EQ(dir_, "d");
        EXPECT_EQ(name_, "f");
    }
    EXPECT_EQ(std::string(parentBytes_.data(), 3), "new") << "the new handle lands in dirFh's buffer";
    EXPECT_EQ(res_.CREATE3res_u.resok.obj.post_op_fh3_u.handle.data.data_val, parentBytes_.data());

    ASSERT_EQ(create("d/g", 0604), 0);
    EXPECT_EQ(sent().mode.set_mode3_u.mode, 0604u);
}

TEST_F(NamespaceFault, ADirectoryTakesTheParentsOwnerOnlyFromTheLookupReply)
{
    ASSERT_EQ(create("d/sub", 0x41ED), 0);
    sattr3 attr = sent();
    EXPECT_EQ(attr.mode.set_mode3_u.mode, 0x41EDu);
    EXPECT_EQ(attr.uid.set_it, TRUE);
    EXPECT_EQ(attr.uid.set_uid3_u.uid, 1234u);
    EXPECT_EQ(attr.gid.set_it, TRUE);
    EXPECT_EQ(attr.gid.set_gid3_u.gid, 567u);
    EXPECT_EQ(server_->callCount(NFS_PROGRAM, NFS_V3, NFSPROC3_MKDIR), 1u);

    withAttributes_ = false;
    ASSERT_EQ(create("d/sub2", 0x41ED), 0);
    attr = sent();
    EXPECT_EQ(attr.uid.set_it, FALSE) << "attributes fetched by GETATTR do not count";
    EXPECT_EQ(attr.gid.set_it, FALSE);

    ASSERT_EQ(create("top", 0x41C0), 0);
    attr = sent();
    EXPECT_EQ(attr.uid.set_it, FALSE) << "no lookup reply for a parent that is the caller's";
    {
        const std::lock_guard lock(mutex_);
        EXPECT_EQ(dir_, "/") << "the caller's directory handle";
    }
}

TEST_F(NamespaceFault, ACreateThatReachesALinkRewritesToItsTarget)
{
    answerLink_ = true;
    ASSERT_EQ(create("d/f", 0), -2);
    EXPECT_STREQ(path_.data(), "/elsewhere/t") << "taken from the link's directory, rooted";
}

} // namespace
