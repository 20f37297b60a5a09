// The file calls that change a file's size, mode, times and names on a version 3 device of the
// real server, each checked in the exported folder: exclusive create, appended writes, size
// changes through the cache, mode and time changes, hard and symbolic links and link text, and
// removal of a file still open.
#include "live/nfs3FileLive.h"

#include <brisnel/nfs3Drv.h>
#include <brisnel/nfsErrors.h>
#include <kernel/iosLib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <ctime>

namespace {

using filelive::FileLive;

class FileCallsLive : public FileLive {
protected:
    struct stat hostStat(const std::string &name) const
    {
        struct stat st {};
        EXPECT_EQ(::lstat(host(name).c_str(), &st), 0) << name;
        return st;
    }
    NfsDevice *device() const
    {
        const char *rest = nullptr;
        return reinterpret_cast<NfsDevice *>(iosDevFind(filelive::kDev, &rest));
    }
};

// EXCLUSIVE with a verifier, then the mode: the driver's own create, as the kernel layer's
// look-first would hide a driver that ignores the flag.
TEST_F(FileCallsLive, ExclusiveCreateMakesTheFileWithItsModeOrFailsWhenItExists)
{
    std::string name = tail("excl");
    std::array<char, K_IOS_TAIL_ROOM> path{};
    name.copy(path.data(), name.size());
    const intptr_t made = nfs3Open(device(), path.data(), K_O_RDWR | K_O_CREAT | K_O_EXCL, 0604);
    ASSERT_NE(made, -1) << std::hex << errnoGet();
    auto *file = reinterpret_cast<NfsOpenFile *>(made);
    ASSERT_EQ(nfs3Write(file, "x", 1), 1);
    EXPECT_EQ(nfs3Close(file), 0);
    EXPECT_EQ(hostStat("excl").st_mode & 07777, 0604u) << "set after the create";
    // The verifier the server kept in the times is replaced by its clock.
    EXPECT_LT(std::llabs(static_cast<long long>(hostStat("excl").st_mtim.tv_sec) -
                         static_cast<long long>(std::time(nullptr))),
              60);
    EXPECT_EQ(onServer("excl"), std::vector<char>{'x'});
    EXPECT_EQ(nfs3Open(device(), path.data(), K_O_RDWR | K_O_CREAT | K_O_EXCL, 0604), -1);
    EXPECT_EQ(errnoGet(), K_EEXIST);

    putOnServer("there", {'t'});
    EXPECT_EQ(kOpen(dev("there").c_str(), K_O_WRONLY | K_O_CREAT | K_O_EXCL, 0644), -1);
    EXPECT_EQ(errnoGet(), K_EEXIST);
    EXPECT_EQ(onServer("there"), std::vector<char>{'t'});
}

// Every write lands at the end as the server has it, also after a seek and after the file grew
// through another descriptor.
TEST_F(FileCallsLive, AppendedWritesLandAtTheEnd)
{
    putOnServer("log", {'a'});
    const int fd = kOpen(dev("log").c_str(), K_O_WRONLY | K_O_APPEND, 0);
    ASSERT_GE(fd, 0) << std::hex << errnoGet();
    int flags = 0;
    ASSERT_EQ(kIoctl(fd, K_FIOGETFL, reinterpret_cast<intptr_t>(&flags)), 0);
    EXPECT_EQ(flags, K_O_WRONLY | K_O_APPEND);
    ASSERT_EQ(kWrite(fd, "b", 1), 1);
    ASSERT_EQ(kLseek(fd, 0, K_SEEK_SET), 0);
    ASSERT_EQ(kWrite(fd, "c", 1), 1);
    EXPECT_GE(kIoctl(fd, K_FIOSYNC, 0), 0);
    const int other = kOpen(dev("log").c_str(), K_O_WRONLY, 0);
    ASSERT_GE(other, 0);
    ASSERT_EQ(kLseek(other, 3, K_SEEK_SET), 3);
    ASSERT_EQ(kWrite(other, "S", 1), 1); // in the cache only, until the appended write
    ASSERT_EQ(kWrite(fd, "d", 1), 1);
    EXPECT_EQ(kClose(other), 0);
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(onServer("log"), (std::vector<char>{'a', 'b', 'c', 'S', 'd'}));
}

// A size change writes the cache's bytes of the file back first, so none of them lands past
// the new end later; growing fills with zeros; a read-only descriptor cannot change it.
TEST_F(FileCallsLive, SizeChangesGoThroughTheCache)
{
    putOnServer("sized", std::vector<char>(10, 's'));
    const int fd = kOpen(dev("sized").c_str(), K_O_RDWR, 0);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(kWrite(fd, "0123456789ABCDEF", 16), 16);
    ASSERT_EQ(kFtruncate(fd, 4), 0) << std::hex << errnoGet();
    EXPECT_EQ(onServer("sized"), (std::vector<char>{'0', '1', '2', '3'}));
    struct kstat st {};
    ASSERT_EQ(kFstat(fd, &st), 0);
    EXPECT_EQ(st.st_size, 4u);
    ASSERT_EQ(kFtruncate(fd, 70000), 0);
    std::vector<char> grown{'0', '1', '2', '3'};
    grown.resize(70000, '\0');
    EXPECT_EQ(onServer("sized"), grown);
    ASSERT_EQ(kLseek(fd, 0, K_SEEK_SET), 0);
    EXPECT_EQ(readAll(fd, 5000), grown);
    EXPECT_EQ(kClose(fd), 0);

    const int reader = kOpen(dev("sized").c_str(), K_O_RDONLY, 0);
    ASSERT_GE(reader, 0);
    EXPECT_EQ(kFtruncate(reader, 0), -1);
    EXPECT_EQ(errnoGet(), NFS_DRV_ERR_WRITE_READ_ONLY);
    EXPECT_EQ(kClose(reader), 0);
    EXPECT_EQ(onServer("sized").size(), 70000u);
}

TEST_F(FileCallsLive, ModeTimesLinksAndLinkText)
{
    putOnServer("f", {'f', 'i', 'l', 'e'});
    ASSERT_EQ(::chown(host("f").c_str(), 2001, 100), 0); // only the owner changes mode and times
    ASSERT_EQ(kChmod(dev("f").c_str(), 0640), 0) << std::hex << errnoGet();
    EXPECT_EQ(hostStat("f").st_mode & 07777, 0640u);

    const kutimbuf times{1000000000, 1200000000};
    ASSERT_EQ(kUtime(dev("f").c_str(), &times), 0) << std::hex << errnoGet();
    EXPECT_EQ(hostStat("f").st_atim.tv_sec, 1000000000);
    EXPECT_EQ(hostStat("f").st_mtim.tv_sec, 1200000000);
    const std::time_t before = std::time(nullptr);
    ASSERT_EQ(kUtime(dev("f").c_str(), nullptr), 0);
    EXPECT_GE(hostStat("f").st_mtim.tv_sec, before - 1) << "the server's clock";

    ASSERT_EQ(kLink(dev("f").c_str(), dev("hard").c_str()), 0) << std::hex << errnoGet();
    EXPECT_EQ(hostStat("hard").st_ino, hostStat("f").st_ino);
    EXPECT_EQ(hostStat("f").st_nlink, 2u);
    EXPECT_EQ(kLink(dev("f").c_str(), dev("hard").c_str()), -1);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_BASE | NFS3ERR_EXIST);

    ASSERT_EQ(kSymlink("f", dev("soft").c_str()), 0) << std::hex << errnoGet();
    std::array<char, 64> text{};
    const ssize_t stored = ::readlink(host("soft").c_str(), text.data(), text.size());
    EXPECT_EQ(std::string(text.data(), static_cast<std::size_t>(std::max<ssize_t>(stored, 0))), "f");
    ASSERT_EQ(kSymlink("../nowhere/at/all", dev("dangling").c_str()), 0);
    EXPECT_EQ(kSymlink("g", dev("soft").c_str()), -1);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_BASE | NFS3ERR_EXIST);

    // Through a link in the directory part: the path is rewritten and made again.
    std::filesystem::create_directory(host("d"));
    std::filesystem::permissions(host("d"), std::filesystem::perms::all);
    std::filesystem::create_directory_symlink("d", host("dl"));
    ASSERT_EQ(kSymlink("target", dev("dl/in").c_str()), 0) << std::hex << errnoGet();
    EXPECT_TRUE(std::filesystem::is_symlink(host("d/in")));

    const struct {
        const char *name;
        std::size_t size;
        std::string expected;
    } reads[] = {{"soft", 64, "f"}, {"dangling", 64, "../nowhere/at/all"}, {"dangling", 5, "../no"}};
    for (const auto &r : reads) {
        std::array<char, 64> buf{};
        buf.fill('#');
        const int n = kReadlink(dev(r.name).c_str(), buf.data(), r.size);
        ASSERT_EQ(n, static_cast<int>(r.expected.size())) << r.name << std::hex << " " << errnoGet();
        EXPECT_EQ(std::string(buf.data(), r.expected.size()), r.expected);
        EXPECT_EQ(buf[r.expected.size()], '#') << "no terminator";
    }
    std::array<char, 8> buf{};
    EXPECT_EQ(kReadlink(dev("f").c_str(), buf.data(), buf.size()), -1) << "not a link";
}

// A file removed, or renamed over, while open keeps working through its descriptors: it goes to
// a hidden name, which its last close removes.
TEST_F(FileCallsLive, AnOpenFileRemovedOrRenamedOverLivesUntilItsLastClose)
{
    const auto hidden = [this] {
        std::vector<std::string> found;
        for (const auto &e : std::filesystem::directory_iterator(host(""))) {
            const std::string name = e.path().filename().string();
            if (name.rfind(".brisnel-open-", 0) == 0)
                found.push_back(name);
        }
        return found;
    };
    putOnServer("u", {'o', 'p', 'e', 'n'});
    const int fd = kOpen(dev("u").c_str(), K_O_RDWR, 0);
    const int second = kOpen(dev("u").c_str(), K_O_RDONLY, 0);
    ASSERT_GE(fd, 0);
    ASSERT_GE(second, 0);
    ASSERT_EQ(kRemove(dev("u").c_str()), 0) << std::hex << errnoGet();
    EXPECT_FALSE(std::filesystem::exists(host("u")));
    ASSERT_EQ(hidden().size(), 1u);
    ASSERT_EQ(kLseek(fd, 4, K_SEEK_SET), 4);
    ASSERT_EQ(kWrite(fd, "+more", 5), 5);
    EXPECT_EQ(kClose(fd), 0) << std::hex << errnoGet();
    EXPECT_EQ(onServer(hidden().at(0)), (std::vector<char>{'o', 'p', 'e', 'n', '+', 'm', 'o', 'r', 'e'}));
    std::array<char, 16> back{};
    EXPECT_EQ(kRead(second, back.data(), static_cast<int>(back.size())), 9);
    EXPECT_EQ(std::string(back.data()), "open+more");
    EXPECT_EQ(kClose(second), 0);
    EXPECT_TRUE(hidden().empty()) << "removed at the last close";

    putOnServer("target", {'o', 'l', 'd'});
    putOnServer("source", {'n', 'e', 'w'});
    const int onTarget = kOpen(dev("target").c_str(), K_O_RDONLY, 0);
    ASSERT_GE(onTarget, 0);
    ASSERT_EQ(kRename(dev("source").c_str(), dev("target").c_str()), 0) << std::hex << errnoGet();
    EXPECT_EQ(onServer("target"), (std::vector<char>{'n', 'e', 'w'}));
    EXPECT_EQ(hidden().size(), 1u);
    back.fill('\0');
    EXPECT_EQ(kRead(onTarget, back.data(), static_cast<int>(back.size())), 3);
    EXPECT_EQ(std::string(back.data()), "old");
    EXPECT_EQ(kClose(onTarget), 0);
    EXPECT_TRUE(hidden().empty());
}

} // namespace
