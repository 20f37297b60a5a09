// Support for the tests of the version 3 name operations against the real server: a folder of
// the test's own in the export, made and inspected with the host's calls, and lookups through
// the module with their buffers.
#ifndef TESTS_LIVE_NFS3LOOKUPLIVETEST_H
#define TESTS_LIVE_NFS3LOOKUPLIVETEST_H

#include "live/liveServer.h"
#include "ops/nfs3PathOps.h"

#include <brisnel/nfsAuthLib.h>
#include <kernel/bootLib.h>
#include <kernel/errnoLib.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace live {

// One lookup's result record and directory handle, each with its own handle buffer.
struct Looked {
    std::array<char, NFS3_FHSIZE> objectBytes{};
    std::array<char, NFS3_FHSIZE> dirBytes{};
    LOOKUP3res res{};
    nfs_fh3 dirFh{{0, dirBytes.data()}};
    Looked() { res.LOOKUP3res_u.resok.object.data.data_val = objectBytes.data(); }
    Looked(const Looked &) = delete;
    Looked &operator=(const Looked &) = delete;
    const nfs_fh3 &object() const { return res.LOOKUP3res_u.resok.object; }
    const fattr3 &attr() const { return res.LOOKUP3res_u.resok.obj_attributes.post_op_attr_u.attributes; }
};

// A path in a buffer of the size the operations expect, for them to rewrite.
struct PathBuffer {
    std::array<char, NFS_MAX_PATH> text{};
    explicit PathBuffer(const std::string &path)
    {
        EXPECT_LT(path.size(), text.size());
        std::memcpy(text.data(), path.c_str(), std::min(path.size() + 1, text.size() - 1));
    }
    char *data() { return text.data(); }
    std::string str() const { return text.data(); }
};

// The test's own folder T in the export (made afresh, removed at the end), calls as uid 0.
class NameOpsLive : public testing::Test {
protected:
    void SetUp() override
    {
        nfsAuthUnixSet(sysBootParams.hostName, 0, 0, 0, nullptr);
        ASSERT_TRUE(mountRoot(&root_));
        const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::string("h8-") + info->test_suite_name() + "-" + info->name();
        std::filesystem::remove_all(onServer(""));
        std::filesystem::create_directory(onServer(""));
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(onServer(""), ignored);
        nfsClientClose();
        nfsAuthUnixSet(sysBootParams.hostName, 2001, 100, 0, nullptr);
    }

    // rel inside the test's folder, as the client names it and as the host sees it.
    std::string rel(const std::string &name) const { return name.empty() ? folder_ : folder_ + "/" + name; }
    std::string onServer(const std::string &name) const { return exportDir() + "/" + rel(name); }

    void makeDir(const std::string &name) const
    {
        ASSERT_TRUE(std::filesystem::create_directories(onServer(name)));
    }
    void makeFile(const std::string &name, const std::string &content = "") const
    {
        std::ofstream(onServer(name), std::ios::binary) << content;
    }
    void makeLink(const std::string &name, const std::string &text) const
    {
        ASSERT_EQ(::symlink(text.c_str(), onServer(name).c_str()), 0) << name;
    }
    std::string contentOf(const std::string &name) const
    {
        std::ifstream in(onServer(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    bool exists(const std::string &name) const
    {
        struct stat st {};
        return ::lstat(onServer(name).c_str(), &st) == 0;
    }
    uint64_t inode(const std::string &name) const
    {
        struct stat st {};
        EXPECT_EQ(::lstat(onServer(name).c_str(), &st), 0) << name;
        return st.st_ino;
    }
    struct stat statOf(const std::string &name) const
    {
        struct stat st {};
        EXPECT_EQ(::lstat(onServer(name).c_str(), &st), 0) << name;
        return st;
    }

    int lookUp(PathBuffer &path, Looked &looked, int noFollowLast = 0)
    {
        return nfs3LookUpByName(host().c_str(), path.data(), &mountFh(), &looked.res, &looked.dirFh,
                                noFollowLast);
    }
    // Follows rewrites as the I/O system does, at most `rounds` times; the final result.
    int lookUpFollowing(PathBuffer &path, Looked &looked, int rounds, int *rewrites)
    {
        int result = -2;
        for (*rewrites = 0; result == -2 && *rewrites <= rounds;) {
            result = lookUp(path, looked);
            *rewrites += result == -2 ? 1 : 0;
        }
        return result;
    }

    // The file id of what a handle names, by GETATTR.
    uint64_t fileIdOf(const nfs_fh3 &fh)
    {
        GETATTR3args args{.object = fh};
        GETATTR3res res{};
        EXPECT_EQ(nfsClientCall(host().c_str(), NFS_PROGRAM, NFS_V3, NFSPROC3_GETATTR,
                                nfsXdrProc(xdr_GETATTR3args), &args, nfsXdrProc(xdr_GETATTR3res), &res),
                  0);
        EXPECT_EQ(res.status, NFS3_OK);
        return res.GETATTR3res_u.resok.obj_attributes.fileid;
    }

    nfs_fh3 &mountFh()
    {
        mountFh_ = root_.fh();
        return mountFh_;
    }

    RootHandle root_;
    nfs_fh3 mountFh_{};
    std::string folder_;
};

} // namespace live

#endif
