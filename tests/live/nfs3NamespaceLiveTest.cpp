// Remove, rename and create against the real server, each result checked in the exported
// folder with the host's own calls.
#include "live/nfs3LookupLiveTest.h"

#include <brisnel/nfsErrors.h>
#include <kernel/kernelErrno.h>

#include <string>

namespace {

using live::Looked;
using live::PathBuffer;

class NamespaceLive : public live::NameOpsLive {
protected:
    int remove(PathBuffer &path) { return nfs3FileRemove(live::host().c_str(), &mountFh(), path.data()); }

    // Renames rel(from) to newPath, with the directory handle that a lookup of from leaves.
    int rename(const std::string &from, const std::string &newPath)
    {
        Looked looked;
        PathBuffer path(rel(from));
        EXPECT_EQ(lookUp(path, looked, 1), 0) << from;
        return nfs3Rename(live::host().c_str(), &mountFh(), rel(from).c_str(), &looked.dirFh,
                          newPath.c_str());
    }

    // Creates the last component of path in the parent that a failed lookup of it leaves.
    struct Created {
        std::array<char, NFS3_FHSIZE> dirBytes{};
        nfs_fh3 dirFh{{0, dirBytes.data()}};
        CREATE3res res{};
        const fattr3 &attr() const { return res.CREATE3res_u.resok.obj_attributes.post_op_attr_u.attributes; }
    };
    int create(PathBuffer &path, int mode, Created &created)
    {
        Looked looked;
        PathBuffer probe(path.str());
        EXPECT_NE(lookUp(probe, looked), 0);
        nfs3path::handleCopy(looked.dirFh, &created.dirFh);
        return nfs3ThingCreate(live::host().c_str(), path.data(), &mountFh(), &created.res, &created.dirFh,
                               mode);
    }
};

TEST_F(NamespaceLive, RemoveTakesFilesAndLinksButNotTheLinksTarget)
{
    makeFile("file", "gone soon");
    makeFile("target", "stays");
    makeLink("link", "target");
    PathBuffer file(rel("file"));
    ASSERT_EQ(remove(file), 0) << std::hex << errnoGet();
    EXPECT_FALSE(exists("file"));

    PathBuffer link(rel("link"));
    ASSERT_EQ(remove(link), 0);
    EXPECT_FALSE(exists("link"));
    ASSERT_TRUE(exists("target"));
    EXPECT_EQ(contentOf("target"), "stays");

    PathBuffer missing(rel("file"));
    EXPECT_EQ(remove(missing), -1);
    EXPECT_EQ(errnoGet(), 0x300002);
}

TEST_F(NamespaceLive, RemoveThroughALinkInTheMiddleRewritesThePath)
{
    makeDir("real");
    makeFile("real/f", "x");
    makeLink("via", "real");
    PathBuffer path(rel("via/f"));
    ASSERT_EQ(remove(path), -2);
    EXPECT_EQ(path.str(), "/" + rel("real/f"));
    EXPECT_TRUE(exists("real/f"));
    ASSERT_EQ(remove(path), 0);
    EXPECT_FALSE(exists("real/f"));
}

TEST_F(NamespaceLive, DirectoriesGoOnlyWhenEmpty)
{
    makeDir("full/inner");
    makeDir("empty");
    PathBuffer full(rel("full"));
    EXPECT_EQ(remove(full), -1);
    EXPECT_EQ(errnoGet(), 0x300042);
    EXPECT_TRUE(exists("full/inner"));
    PathBuffer empty(rel("empty"));
    ASSERT_EQ(remove(empty), 0);
    EXPECT_FALSE(exists("empty"));

    PathBuffer root("/");
    EXPECT_EQ(remove(root), -1) << "the mount root is never removed";
    EXPECT_EQ(errnoGet(), NFS_ERR_INAPPROPRIATE_FILE_TYPE);
}

TEST_F(NamespaceLive, RemoveRefusesOtherKindsOfObjectAndOverlongPaths)
{
    ASSERT_EQ(::mkfifo(onServer("fifo").c_str(), 0644), 0);
    PathBuffer fifo(rel("fifo"));
    EXPECT_EQ(remove(fifo), -1);
    EXPECT_EQ(errnoGet(), NFS_ERR_INAPPROPRIATE_FILE_TYPE);
    EXPECT_TRUE(exists("fifo"));

    std::array<char, NFS_MAX_PATH + 1> overlong{};
    overlong.fill('a');
    overlong.back() = '\0';
    EXPECT_EQ(nfs3FileRemove(live::host().c_str(), &mountFh(), overlong.data()), -1);
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);
}

TEST_F(NamespaceLive, RenameWithinADirectoryKeepsTheObject)
{
    makeDir("d");
    makeFile("d/old", "same bytes");
    const uint64_t id = inode("d/old");
    ASSERT_EQ(rename("d/old", "new"), 0) << std::hex << errnoGet();
    EXPECT_FALSE(exists("d/old"));
    ASSERT_TRUE(exists("d/new"));
    EXPECT_EQ(inode("d/new"), id);
    EXPECT_EQ(contentOf("d/new"), "same bytes");
}

TEST_F(NamespaceLive, RenameAcrossDirectoriesLooksTheNewDirectoryUpFromTheRoot)
{
    makeDir("from");
    makeDir("to/deeper");
    makeFile("from/f", "moving");
    ASSERT_EQ(rename("from/f", rel("to/deeper/g")), 0) << std::hex << errnoGet();
    EXPECT_FALSE(exists("from/f"));
    EXPECT_EQ(contentOf("to/deeper/g"), "moving");

    ASSERT_EQ(rename("to/deeper/g", "/" + rel("h")), 0) << "an absolute new path";
    EXPECT_EQ(contentOf("h"), "moving");

    EXPECT_EQ(rename("h", rel("nowhere/h")), -1);
    EXPECT_EQ(errnoGet(), 0x300002);
    EXPECT_TRUE(exists("h"));
}

TEST_F(NamespaceLive, RenameFollowsLinksInTheNewDirectoryAndEndsACycle)
{
    makeDir("real");
    makeLink("alias", "real");
    makeLink("alias2", "alias");
    makeFile("f", "via a link");
    ASSERT_EQ(rename("f", rel("alias2/g")), 0) << std::hex << errnoGet();
    EXPECT_EQ(contentOf("real/g"), "via a link");
    EXPECT_TRUE(std::filesystem::is_symlink(onServer("alias")));

    makeLink("loop1", "loop2");
    makeLink("loop2", "loop1");
    EXPECT_EQ(rename("real/g", rel("loop1/g")), -1);
    EXPECT_EQ(errnoGet(), K_ELOOP);
    EXPECT_TRUE(exists("real/g"));
}

TEST_F(NamespaceLive, RenameToTheRootAndOverlongPaths)
{
    makeFile("f", "to the top");
    const std::string top = "h8-renamed-" + folder_;
    ASSERT_EQ(rename("f", "/" + top), 0);
    EXPECT_TRUE(std::filesystem::exists(live::exportDir() + "/" + top));
    std::filesystem::remove(live::exportDir() + "/" + top);

    makeFile("g");
    EXPECT_EQ(rename("g", std::string(NFS_MAX_PATH, 'n')), -1);
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);
    EXPECT_EQ(rename("g", std::string(NFS_MAX_PATH - 2, 'n') + "/"), -1) << "\"./\" in front no longer fits";
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);
    EXPECT_TRUE(exists("g"));
}

TEST_F(NamespaceLive, CreateMakesAFileOfTheDefaultModeWithItsHandle)
{
    PathBuffer path(rel("new"));
    Created created;
    ASSERT_EQ(create(path, 0, created), 0) << std::hex << errnoGet();
    const struct stat st = statOf("new");
    EXPECT_EQ(st.st_mode, 0100640u);
    EXPECT_EQ(st.st_size, 0);
    const post_op_fh3 &obj = created.res.CREATE3res_u.resok.obj;
    ASSERT_EQ(obj.handle_follows, TRUE);
    EXPECT_EQ(obj.post_op_fh3_u.handle.data.data_val, created.dirBytes.data())
        << "the new handle is decoded into the directory handle's buffer";
    EXPECT_EQ(fileIdOf(obj.post_op_fh3_u.handle), inode("new"));
    EXPECT_EQ(created.attr().type, NF3REG);

    PathBuffer explicitMode(rel("mode600"));
    Created other;
    ASSERT_EQ(create(explicitMode, 0600, other), 0);
    EXPECT_EQ(statOf("mode600").st_mode & 07777, 0600u);
}

TEST_F(NamespaceLive, CreateOfAnExistingFileKeepsItsContent)
{
    makeFile("there", "kept");
    PathBuffer path(rel("there"));
    Created created;
    created.dirFh.data.data_len = 0;
    Looked looked;
    PathBuffer probe(rel("there"));
    ASSERT_EQ(lookUp(probe, looked), 0);
    nfs3path::handleCopy(looked.dirFh, &created.dirFh);
    ASSERT_EQ(nfs3ThingCreate(live::host().c_str(), path.data(), &mountFh(), &created.res, &created.dirFh, 0),
              0);
    EXPECT_EQ(contentOf("there"), "kept");
    EXPECT_EQ(created.attr().fileid, inode("there"));
}

TEST_F(NamespaceLive, CreateADirectoryWithTheParentsOwner)
{
    makeDir("parent");
    ASSERT_EQ(::chown(onServer("parent").c_str(), 1234, 567), 0);
    PathBuffer path(rel("parent/sub"));
    Created created;
    ASSERT_EQ(create(path, 0x41ED, created), 0) << std::hex << errnoGet();
    const struct stat st = statOf("parent/sub");
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0755u);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 567u);
    EXPECT_EQ(created.attr().type, NF3DIR);
}

TEST_F(NamespaceLive, CreateInADirectoryReachedThroughALinkRewritesThePath)
{
    makeDir("real");
    makeLink("alias", "real");
    PathBuffer path(rel("alias/new"));
    Created created;
    created.dirFh.data.data_len = root_.length;
    std::memcpy(created.dirBytes.data(), root_.bytes.data(), root_.length);
    ASSERT_EQ(nfs3ThingCreate(live::host().c_str(), path.data(), &mountFh(), &created.res, &created.dirFh, 0),
              -2);
    EXPECT_EQ(path.str(), "/" + rel("real/new"));
    EXPECT_FALSE(exists("real/new"));
    EXPECT_FALSE(exists("alias/new"));

    PathBuffer missing(rel("nowhere/new"));
    EXPECT_EQ(
        nfs3ThingCreate(live::host().c_str(), missing.data(), &mountFh(), &created.res, &created.dirFh, 0),
        -1);
    EXPECT_EQ(errnoGet(), 0x300002);
}

} // namespace
