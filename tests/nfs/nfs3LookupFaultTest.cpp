// Path lookup against the scripted server, for what no real server does: LOOKUP replies
// without attributes, link texts longer than the path buffer, replies cut short, and a failing
// GETATTR. A small tree of named handles stands in for the server's file system.
#include "ops/nfs3PathOps.h"
#include "server/scriptedServer.h"

#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/hostLib.h>
#include <kernel/kernelErrno.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace {

using scripted::DecodedArgs;
using scripted::Reply;
using scripted::RpcCall;

constexpr const char *kHost = "h8-lookup-faults";
constexpr const char *kAddress = "127.0.0.81";

struct Node {
    ftype3 type;
    uint64_t fileid;
    std::string linkText;
};

// Handles are the object's path; the root's is "/".
class LookupFault : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(hostAdd(kHost, kAddress), 0);
        std::string error;
        server_ = scripted::ScriptedServer::start({.address = kAddress}, &error);
        ASSERT_NE(server_, nullptr) << error;
        nfsClientClose();
        tree_["/"] = {NF3DIR, 1, ""};
        server_->handle(NFS_PROGRAM, NFS_V3, NFSPROC3_LOOKUP,
                        [this](const RpcCall &, XDR *args) { return lookUp(args); });
        server_->handle(NFS_PROGRAM, NFS_V3, NFSPROC3_GETATTR,
                        [this](const RpcCall &, XDR *args) { return getAttr(args); });
        server_->handle(NFS_PROGRAM, NFS_V3, NFSPROC3_READLINK,
                        [this](const RpcCall &, XDR *args) { return readLink(args); });
    }
    void TearDown() override
    {
        nfsClientClose();
        server_.reset();
    }

    static std::string handleText(const nfs_fh3 &fh)
    {
        return std::string(fh.data.data_val, fh.data.data_len);
    }

    fattr3 attributes(const Node &node) const
    {
        fattr3 attr{};
        attr.type = node.type;
        attr.mode = 0777;
        attr.fileid = node.fileid;
        attr.nlink = 1;
        return attr;
    }

    Reply lookUp(XDR *xdrs)
    {
        DecodedArgs<LOOKUP3args> args(xdrs, xdr_LOOKUP3args);
        if (!args.ok())
            return Reply::of(scripted::ReplyKind::garbageArgs);
        const std::string dir = handleText(args.value().what.dir);
        auto path = std::make_shared<std::string>((dir == "/" ? "" : dir) + "/" + args.value().what.name);
        const auto found = tree_.find(*path);
        auto res = std::make_shared<LOOKUP3res>();
        if (found == tree_.end()) {
            res->status = NFS3ERR_NOENT;
        } else {
            res->LOOKUP3res_u.resok.object.data = {static_cast<u_int>(path->size()), path->data()};
            res->LOOKUP3res_u.resok.obj_attributes.attributes_follow = withAttributes_ ? TRUE : FALSE;
            res->LOOKUP3res_u.resok.obj_attributes.post_op_attr_u.attributes = attributes(found->second);
        }
        const bool cut = cutLookUp_;
        return Reply::ok([res, path, cut](XDR *out) {
            if (cut) { // the status and half a handle
                nfsstat3 ok = NFS3_OK;
                u_int length = 32;
                return xdr_nfsstat(out, &ok) && xdr_u_int(out, &length) && xdr_u_int(out, &length);
            }
            return xdr_LOOKUP3res(out, res.get()) != 0;
        });
    }

    Reply getAttr(XDR *xdrs)
    {
        DecodedArgs<GETATTR3args> args(xdrs, xdr_GETATTR3args);
        GETATTR3res res{};
        const auto found = tree_.find(handleText(args.value().object));
        if (found == tree_.end() || getAttrStatus_ != NFS3_OK)
            res.status = found == tree_.end() ? NFS3ERR_STALE : getAttrStatus_.load();
        else
            res.GETATTR3res_u.resok.obj_attributes = attributes(found->second);
        return Reply::ok(xdr_GETATTR3res, res);
    }

    Reply readLink(XDR *xdrs)
    {
        DecodedArgs<READLINK3args> args(xdrs, xdr_READLINK3args);
        const auto found = tree_.find(handleText(args.value().symlink));
        auto text = std::make_shared<std::string>(found == tree_.end() ? "" : found->second.linkText);
        return Reply::ok([text](XDR *out) { // READLINK3res, the text as it is, NUL bytes and all
            nfsstat3 status = NFS3_OK;
            bool_t noAttributes = FALSE;
            char *bytes = text->data();
            auto length = static_cast<u_int>(text->size());
            return xdr_nfsstat(out, &status) && xdr_bool(out, &noAttributes) &&
                   xdr_bytes(out, &bytes, &length, UINT32_MAX);
        });
    }

    int lookUp(char *path, int noFollowLast = 0)
    {
        return nfs3LookUpByName(kHost, path, &root_, &res_, &dirFh_, noFollowLast);
    }
    uint64_t calls(uint32_t proc) const { return server_->callCount(NFS_PROGRAM, NFS_V3, proc); }
    const fattr3 &attr() const { return res_.LOOKUP3res_u.resok.obj_attributes.post_op_attr_u.attributes; }

    std::unique_ptr<scripted::ScriptedServer> server_;
    // Read by the server's thread while a call is out; written only between calls.
    std::map<std::string, Node> tree_;
    std::atomic<bool> withAttributes_{true};
    std::atomic<bool> cutLookUp_{false};
    std::atomic<nfsstat3> getAttrStatus_{NFS3_OK};

    char rootText_[2] = "/";
    nfs_fh3 root_{{1, rootText_}};
    std::array<char, NFS3_FHSIZE> objectBytes_{};
    std::array<char, NFS3_FHSIZE> dirBytes_{};
    LOOKUP3res res_ = [this] {
        LOOKUP3res res{};
        res.LOOKUP3res_u.resok.object.data.data_val = objectBytes_.data();
        return res;
    }();
    nfs_fh3 dirFh_{{0, dirBytes_.data()}};
};

TEST_F(LookupFault, RepliesWithoutAttributesAreCompletedByGetattr)
{
    tree_["/a"] = {NF3DIR, 2, ""};
    tree_["/a/b"] = {NF3DIR, 3, ""};
    tree_["/a/b/c"] = {NF3REG, 4, ""};
    withAttributes_ = false;
    char path[NFS_MAX_PATH] = "a/b/c";
    ASSERT_EQ(lookUp(path), 0) << std::hex << errnoGet();
    EXPECT_EQ(calls(NFSPROC3_LOOKUP), 3u);
    EXPECT_EQ(calls(NFSPROC3_GETATTR), 3u) << "one after each LOOKUP";
    EXPECT_EQ(attr().type, NF3REG);
    EXPECT_EQ(attr().fileid, 4u);
    EXPECT_EQ(res_.LOOKUP3res_u.resok.obj_attributes.attributes_follow, FALSE)
        << "still says what the server sent";
    EXPECT_EQ(handleText(dirFh_), "/a/b");

    server_->resetCounts();
    withAttributes_ = true;
    ASSERT_EQ(lookUp(path), 0);
    EXPECT_EQ(calls(NFSPROC3_GETATTR), 0u);
}

TEST_F(LookupFault, AFailingGetattrEndsTheWalk)
{
    tree_["/a"] = {NF3DIR, 2, ""};
    withAttributes_ = false;
    getAttrStatus_ = NFS3ERR_IO;
    char path[NFS_MAX_PATH] = "a/x";
    EXPECT_EQ(lookUp(path), -1);
    EXPECT_EQ(errnoGet(), 0x300005);
    EXPECT_EQ(calls(NFSPROC3_LOOKUP), 1u);
}

TEST_F(LookupFault, ALinkFoundWithoutAttributesIsStillFollowed)
{
    tree_["/l"] = {NF3LNK, 2, "t"};
    withAttributes_ = false;
    char path[NFS_MAX_PATH] = "l/x";
    ASSERT_EQ(lookUp(path), -2);
    EXPECT_STREQ(path, "/t/x");
}

TEST_F(LookupFault, LinkTextsLongerThanThePathBufferAreRefused)
{
    tree_["/l"] = {NF3LNK, 2, std::string(300, 'x')};
    char path[NFS_MAX_PATH] = "l/rest";
    EXPECT_EQ(lookUp(path), -1);
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);
    EXPECT_STREQ(path, "l/rest");

    char text[NFS_MAX_PATH + 64];
    std::memset(text, '#', sizeof text);
    const nfs_fh3 link{{2, const_cast<char *>("/l")}};
    EXPECT_EQ(nfs3LinkRead(kHost, &link, text), -1);
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);
    EXPECT_EQ(text[0], '#');
    EXPECT_EQ(text[NFS_MAX_PATH], '#');

    tree_["/l"].linkText = std::string(255, 'y');
    ASSERT_EQ(nfs3LinkRead(kHost, &link, text), 0);
    EXPECT_EQ(std::strlen(text), 255u);
    EXPECT_EQ(text[NFS_MAX_PATH], '#') << "the terminator is the last byte written";
}

// An empty text would name the mount's root, and one with a NUL byte would be read cut short.
TEST_F(LookupFault, LinkTextsThatAreEmptyOrHoldANulByteAreRefused)
{
    const struct {
        std::string text;
        int error;
    } cases[] = {{"", K_ENOENT}, {std::string("ab\0cd", 5), K_EIO}};
    const nfs_fh3 link{{2, const_cast<char *>("/l")}};
    for (const auto &c : cases) {
        tree_["/l"] = {NF3LNK, 2, c.text};
        char path[NFS_MAX_PATH] = "l";
        errnoSet(0);
        EXPECT_EQ(lookUp(path), -1) << c.error;
        EXPECT_EQ(errnoGet(), c.error);
        EXPECT_STREQ(path, "l");
        char text[NFS_MAX_PATH] = "#";
        EXPECT_EQ(nfs3LinkRead(kHost, &link, text), -1);
        EXPECT_EQ(errnoGet(), c.error);
        EXPECT_STREQ(text, "#");
    }
}

TEST_F(LookupFault, AReplyCutShortFailsAndLeavesTheCallersBufferInPlace)
{
    tree_["/a"] = {NF3DIR, 2, ""};
    cutLookUp_ = true;
    char path[NFS_MAX_PATH] = "a";
    EXPECT_EQ(lookUp(path), -1);
    EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | RPC_CANTDECODERES);
    EXPECT_EQ(res_.LOOKUP3res_u.resok.object.data.data_val, objectBytes_.data());

    cutLookUp_ = false;
    ASSERT_EQ(lookUp(path), 0) << "the next call builds a new handle and succeeds";
    EXPECT_EQ(handleText(res_.LOOKUP3res_u.resok.object), "/a");
}

TEST_F(LookupFault, TooManyComponentsForThePathBufferAreRefused)
{
    char path[NFS_MAX_PATH * 2];
    std::string many;
    for (int i = 0; i < 150; ++i)
        many += "a/";
    std::memcpy(path, many.c_str(), many.size() + 1);
    EXPECT_EQ(lookUp(path), -1);
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);
    EXPECT_EQ(calls(NFSPROC3_LOOKUP), 0u);
}

} // namespace
