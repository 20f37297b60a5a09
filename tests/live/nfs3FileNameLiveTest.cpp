// Names through the kernel layer's file calls on a version 3 device of the real server:
// directory listing, symbolic links followed by the I/O system's restarts, rename, mkdir and
// rmdir, removal, permissions, the device's root and names that do not fit.
#include "live/nfs3FileLive.h"

#include "core/nfsConfig.h"
#include "drv/nfs3Driver.h"

#include <brisnel/nfsErrors.h>

#include <map>
#include <set>

namespace {

using filelive::FileLive;

class FileNameLive : public FileLive {
protected:
    std::string contentOf(const std::string &path)
    {
        const int fd = kOpen(path.c_str(), K_O_RDONLY, 0);
        if (fd < 0)
            return "<" + std::to_string(errnoGet()) + ">";
        const std::vector<char> all = readAll(fd, 512);
        EXPECT_EQ(kClose(fd), 0);
        return {all.begin(), all.end()};
    }
    void link(const std::string &text, const std::string &name)
    {
        std::filesystem::create_symlink(text, host(name));
    }
    std::multiset<std::string> listing(const std::string &path)
    {
        std::multiset<std::string> names;
        KDIR *dir = kOpendir(path.c_str());
        EXPECT_NE(dir, nullptr) << std::hex << errnoGet();
        if (dir == nullptr)
            return names;
        while (struct kdirent *entry = kReaddir(dir))
            names.insert(entry->d_name);
        EXPECT_EQ(dir->dd_eof, 1) << std::hex << errnoGet() << std::dec << " READDIR count "
                                  << nfs3MaxRddirSz;
        EXPECT_EQ(kClosedir(dir), 0);
        return names;
    }
};

TEST_F(FileNameLive, ThreeThousandEntriesListExactlyOnceAndARewindStartsOver)
{
    std::filesystem::create_directory(host("many"));
    std::multiset<std::string> expected{".", ".."};
    for (int i = 0; i < 3000; ++i) {
        const std::string name =
            "entry-" + std::to_string(i) + std::string(static_cast<std::size_t>(i % 40), 'x');
        std::ofstream(host("many/" + name)).put('e');
        expected.insert(name);
    }
    EXPECT_EQ(listing(dev("many")), expected);

    KDIR *dir = kOpendir(dev("many").c_str());
    ASSERT_NE(dir, nullptr);
    std::multiset<std::string> firstPart;
    for (int i = 0; i < 100; ++i)
        firstPart.insert(kReaddir(dir)->d_name);
    kRewinddir(dir);
    std::multiset<std::string> again;
    while (struct kdirent *entry = kReaddir(dir))
        again.insert(entry->d_name);
    EXPECT_EQ(again, expected) << "a zero cookie starts over";
    EXPECT_EQ(kClosedir(dir), 0);
}

TEST_F(FileNameLive, ClosingADirectoryWithAHeldBatchFromATaskWithoutAClient)
{
    std::filesystem::create_directory(host("held"));
    for (int i = 0; i < 20; ++i)
        std::ofstream(host("held/f" + std::to_string(i))).put('h');
    KDIR *dir = kOpendir(dev("held").c_str());
    ASSERT_NE(dir, nullptr);
    ASSERT_NE(kReaddir(dir), nullptr);
    nfsClientClose(); // the batch now outlives the client that decoded it
    EXPECT_EQ(kClosedir(dir), 0);
    // The leak checker reports a batch that was not released.
}

TEST_F(FileNameLive, LinksRelativeAbsoluteInTheMiddleAndAtTheEndAndChains)
{
    std::filesystem::create_directories(host("real/deep"));
    std::ofstream(host("real/deep/target")) << "found";
    link("real/deep/target", "relEnd");
    link("/" + folder_ + "/real", "absMid");
    link("real", "relMid");
    link("relEnd", "chain1");
    link("chain1", "chain2");
    link("../real/deep/target", "real/deep2");
    EXPECT_EQ(contentOf(dev("relEnd")), "found");
    EXPECT_EQ(contentOf(dev("absMid/deep/target")), "found");
    EXPECT_EQ(contentOf(dev("relMid/deep/target")), "found");
    EXPECT_EQ(contentOf(dev("chain2")), "found");
    EXPECT_EQ(contentOf(dev("real/deep2")), "found") << "relative to the link's own folder";

    struct kstat st {};
    ASSERT_EQ(kStat(dev("chain2").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & K_S_IFMT, static_cast<uint32_t>(K_S_IFREG)) << "the target's status";
    EXPECT_EQ(st.st_size, 5u);

    // Remove takes the link itself, not what it names.
    EXPECT_EQ(kRemove(dev("chain2").c_str()), 0) << std::hex << errnoGet();
    EXPECT_FALSE(std::filesystem::is_symlink(host("chain2")));
    EXPECT_TRUE(std::filesystem::is_symlink(host("chain1")));
    EXPECT_TRUE(std::filesystem::exists(host("real/deep/target")));
}

TEST_F(FileNameLive, ACycleOfLinksEndsWithAnErrorEverywhere)
{
    link("loopB", "loopA");
    link("loopA", "loopB");
    std::filesystem::create_directory(host("dir"));
    std::ofstream(host("dir/file")) << "x";
    EXPECT_EQ(kOpen(dev("loopA").c_str(), K_O_RDONLY, 0), -1);
    EXPECT_EQ(errnoGet(), K_ELOOP);
    EXPECT_EQ(kOpen(dev("loopA/below").c_str(), K_O_RDWR | K_O_CREAT, 0644), -1);
    EXPECT_EQ(errnoGet(), K_ELOOP);
    struct kstat st {};
    EXPECT_EQ(kStat(dev("loopB").c_str(), &st), -1);
    EXPECT_EQ(kRename(dev("dir/file").c_str(), dev("loopA/moved").c_str()), -1);
    EXPECT_EQ(errnoGet(), K_ELOOP) << "the rename's own lookup is bounded too";
    EXPECT_TRUE(std::filesystem::exists(host("dir/file")));
}

TEST_F(FileNameLive, TextsAndPathsThatDoNotFitAreRefused)
{
    link(std::string(300, 'l'), "longText");
    EXPECT_EQ(kOpen(dev("longText").c_str(), K_O_RDONLY, 0), -1);
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);
    // A text that fits, but not with the rest of the path after the link.
    std::filesystem::create_directory(host("d"));
    link(std::string(200, 'm'), "d/mid");
    const std::string rest(80, 'r');
    EXPECT_EQ(kOpen(dev("d/mid/" + rest).c_str(), K_O_RDONLY, 0), -1);
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);

    // A tail of 255 characters is opened; one of 256 is refused before the server is asked.
    const std::string name255(255 - tail("").size(), 'n');
    std::ofstream(host(name255)) << "fits";
    EXPECT_EQ(tail(name255).size(), 255u);
    EXPECT_EQ(contentOf(dev(name255)), "fits");
    EXPECT_EQ(kOpen(dev(name255 + "n").c_str(), K_O_RDONLY, 0), -1);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_NAMETOOLONG);

    // The longest entry names list whole.
    const std::string longest(255, 'e');
    std::filesystem::create_directory(host("names"));
    std::ofstream(host("names/" + longest)).put('x');
    EXPECT_EQ(listing(dev("names")), (std::multiset<std::string>{".", "..", longest}));
}

TEST_F(FileNameLive, RenameMkdirRmdirAndRemove)
{
    ASSERT_EQ(kMkdir(dev("a").c_str(), 0755), 0) << std::hex << errnoGet();
    ASSERT_EQ(kMkdir(dev("b").c_str(), 0700), 0);
    EXPECT_TRUE(std::filesystem::is_directory(host("a")));
    EXPECT_EQ(std::filesystem::status(host("b")).permissions(), std::filesystem::perms(0700));
    EXPECT_EQ(kMkdir(dev("a").c_str(), 0755), -1);
    EXPECT_EQ(errnoGet(), K_EEXIST);

    std::ofstream(host("a/f")) << "moving";
    ASSERT_EQ(kRename(dev("a/f").c_str(), dev("a/g").c_str()), 0) << std::hex << errnoGet();
    EXPECT_FALSE(std::filesystem::exists(host("a/f")));
    ASSERT_EQ(kRename(dev("a/g").c_str(), dev("b/h").c_str()), 0) << std::hex << errnoGet();
    EXPECT_EQ(contentOf(dev("b/h")), "moving");
    EXPECT_FALSE(std::filesystem::exists(host("a/g")));

    EXPECT_EQ(kRmdir(dev("b").c_str()), -1);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_BASE | 0x42) << "not empty";
    EXPECT_EQ(kRemove(dev("b/h").c_str()), 0);
    EXPECT_EQ(kRmdir(dev("b").c_str()), 0) << std::hex << errnoGet();
    EXPECT_FALSE(std::filesystem::exists(host("b")));
    EXPECT_EQ(kRemove(dev("missing").c_str()), -1);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_BASE | 0x02);
    EXPECT_EQ(kRmdir(dev("a").c_str()), 0);
}

TEST_F(FileNameLive, RenameTakesALinkItselfAndRmdirOnlyDirectories)
{
    std::ofstream(host("target")) << "aimed at";
    std::filesystem::create_directory(host("dir"));
    link("target", "ln");
    link("dir", "dirLink");
    ASSERT_EQ(kRename(dev("ln").c_str(), dev("ln2").c_str()), 0) << std::hex << errnoGet();
    EXPECT_EQ(std::filesystem::read_symlink(host("ln2")), "target");
    EXPECT_FALSE(std::filesystem::is_symlink(host("ln")));
    for (const char *notADir : {"target", "ln2", "dirLink"}) {
        EXPECT_EQ(kRmdir(dev(notADir).c_str()), -1) << notADir;
        EXPECT_EQ(errnoGet(), K_ENOTDIR) << notADir;
    }
    EXPECT_EQ(contentOf(dev("ln2")), "aimed at") << "the target stays where it was";
    EXPECT_EQ(onServer("target"), (std::vector<char>{'a', 'i', 'm', 'e', 'd', ' ', 'a', 't'}));
    EXPECT_TRUE(std::filesystem::is_symlink(host("dirLink")));
    EXPECT_TRUE(std::filesystem::is_directory(host("dir")));
}

TEST_F(FileNameLive, StatusAndRenameNeedNoRightToTheData)
{
    std::ofstream(host("secret")) << "hidden"; // root's, mode 0600
    std::filesystem::permissions(host("secret"), std::filesystem::perms(0600));
    struct kstat st {};
    ASSERT_EQ(kStat(dev("secret").c_str(), &st), 0) << std::hex << errnoGet();
    EXPECT_EQ(st.st_mode, static_cast<uint32_t>(K_S_IFREG | 0600));
    ASSERT_EQ(kRename(dev("secret").c_str(), dev("moved").c_str()), 0) << std::hex << errnoGet();
    EXPECT_FALSE(std::filesystem::exists(host("secret")));
    EXPECT_EQ(onServer("moved"), (std::vector<char>{'h', 'i', 'd', 'd', 'e', 'n'}));
    EXPECT_EQ(kOpen(dev("moved").c_str(), K_O_RDONLY, 0), -1) << "opens for data are still checked";
    EXPECT_EQ(errnoGet(), NFS_DRV_ERR_PERMISSION_DENIED);
}

// Truncation sets the size of the file itself: in a folder the module's uid cannot write, the
// file keeps its id, owner (root here) and mode, and a descriptor opened before goes on
// writing into it, with data of the cache written back before the truncation.
TEST_F(FileNameLive, TruncationKeepsTheFileAndItsOtherDescriptors)
{
    std::filesystem::create_directory(host("ro"));
    putOnServer("ro/old", {'o', 'l', 'd', '-', 'd', 'a', 't', 'a'});
    std::filesystem::permissions(host("ro"), std::filesystem::perms(0555));
    struct stat before {};
    ASSERT_EQ(::stat(host("ro/old").c_str(), &before), 0);
    const int earlier = kOpen(dev("ro/old").c_str(), K_O_RDWR, 0);
    ASSERT_GE(earlier, 0) << std::hex << errnoGet();
    ASSERT_EQ(kWrite(earlier, "OLD", 3), 3); // still in a dirty line of the cache
    for (const int flags : {K_O_WRONLY | K_O_CREAT | K_O_TRUNC, K_O_RDWR | K_O_TRUNC}) {
        const int fd = kOpen(dev("ro/old").c_str(), flags, 0600);
        ASSERT_GE(fd, 0) << std::hex << flags << " " << errnoGet();
        EXPECT_TRUE(onServer("ro/old").empty()) << std::hex << flags;
        struct stat after {};
        ASSERT_EQ(::stat(host("ro/old").c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_uid, 0u);
        EXPECT_EQ(after.st_mode & 07777, 0666u);
        ASSERT_EQ(kWrite(fd, "new", 3), 3);
        EXPECT_EQ(kClose(fd), 0);
    }
    ASSERT_EQ(kLseek(earlier, 3, K_SEEK_SET), 3);
    ASSERT_EQ(kWrite(earlier, "+later", 6), 6);
    EXPECT_EQ(kClose(earlier), 0) << std::hex << errnoGet();
    EXPECT_EQ(onServer("ro/old"), (std::vector<char>{'n', 'e', 'w', '+', 'l', 'a', 't', 'e', 'r'}));
}

TEST_F(FileNameLive, PermissionsOfOtherUsersAndTheCreateEntrysDefault)
{
    // The create entry with mode 0 gives a 0640 file that the descriptor cannot write.
    const int fd = kCreat(dev("made").c_str(), 0);
    ASSERT_GE(fd, 0) << std::hex << errnoGet();
    EXPECT_EQ(std::filesystem::status(host("made")).permissions(), std::filesystem::perms(0640));
    EXPECT_EQ(live::ownerOnServer(folder_ + "/made"), 2001);
    EXPECT_EQ(kWrite(fd, "x", 1), -1);
    EXPECT_EQ(errnoGet(), NFS_DRV_ERR_WRITE_READ_ONLY);
    EXPECT_EQ(kClose(fd), 0);

    const int own = kOpen(dev("private").c_str(), K_O_WRONLY | K_O_CREAT, 0600);
    ASSERT_GE(own, 0);
    ASSERT_EQ(kWrite(own, "mine", 4), 4);
    EXPECT_EQ(kClose(own), 0);

    nfsAuthUnixSet(sysBootParams.hostName, 3003, 300, 0, nullptr);
    EXPECT_EQ(kOpen(dev("private").c_str(), K_O_RDONLY, 0), -1);
    EXPECT_EQ(errnoGet(), NFS_DRV_ERR_PERMISSION_DENIED);
    EXPECT_EQ(kOpen(dev("private").c_str(), K_O_RDWR | K_O_TRUNC, 0644), -1);
    EXPECT_EQ(errnoGet(), NFS_DRV_ERR_PERMISSION_DENIED);
    EXPECT_EQ(onServer("private"), (std::vector<char>{'m', 'i', 'n', 'e'})) << "left intact";
}

TEST_F(FileNameLive, TheDevicesRootUnderEveryNameWithoutComponents)
{
    std::ofstream(host("seen")).put('s');
    for (const std::string &path : {std::string(filelive::kDev), std::string(filelive::kDev) + "/",
                                    std::string(filelive::kDev) + "///"}) {
        const int fd = kOpen(path.c_str(), K_O_RDONLY, 0);
        ASSERT_GE(fd, 0) << path << std::hex << " " << errnoGet();
        struct kstat st {};
        ASSERT_EQ(kFstat(fd, &st), 0);
        EXPECT_EQ(st.st_mode & K_S_IFMT, static_cast<uint32_t>(K_S_IFDIR)) << path;
        EXPECT_EQ(kClose(fd), 0);
        EXPECT_EQ(kOpen(path.c_str(), K_O_RDWR | K_O_CREAT, 0644), -1);
        EXPECT_EQ(errnoGet(), NFS_DRV_ERR_CREATE_EMPTY_NAME) << path;
    }
    EXPECT_EQ(listing(std::string(filelive::kDev) + "/").count(folder_), 1u);
    EXPECT_EQ(listing(dev("")).count("seen"), 1u);
}

TEST_F(FileNameLive, UnmountRefusesADeviceWithAnOpenFile)
{
    const int fd = kOpen(dev("busy").c_str(), K_O_WRONLY | K_O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(kWrite(fd, "kept", 4), 4);
    EXPECT_EQ(nfsUnmount(filelive::kDev), -1);
    EXPECT_EQ(errnoGet(), K_EBUSY);
    EXPECT_EQ(kClose(fd), 0) << "the device and its cache are still there";
    EXPECT_EQ(onServer("busy"), (std::vector<char>{'k', 'e', 'p', 't'}));
}

} // namespace
