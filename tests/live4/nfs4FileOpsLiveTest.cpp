// The version 4 file calls against a server of version 4 alone, over 4.1 and over 4.0 (asked
// for): every byte written checked in the exported folder, every byte read against it.
#include "live4/nfs4Live.h"

#include "state/nfs4FileData.h"
#include "state/nfs4MountWalk.h"
#include "state/nfs4NameOps.h"

#include <kernel/kernelErrno.h>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <map>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

namespace {

std::string pattern(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 17 + i / 4093) & 0xFF);
    return bytes;
}

// Compared without printing megabytes on a failure.
::testing::AssertionResult sameBytes(const std::string &expected, const std::string &actual)
{
    if (expected == actual)
        return ::testing::AssertionSuccess();
    std::size_t at = 0;
    while (at < expected.size() && at < actual.size() && expected[at] == actual[at])
        ++at;
    return ::testing::AssertionFailure() << expected.size() << " bytes expected, " << actual.size()
                                         << " found, the first difference at " << at;
}

std::string serverBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

const char *minorName(const testing::TestParamInfo<Nfs4Minors> &info)
{
    return info.param == Nfs4Minors::Only40 ? "V40" : "V41";
}

// Each test works in a folder of its own, made in the exported folder before the client sees it.
class Nfs4FileLive : public testing::TestWithParam<Nfs4Minors> {
protected:
    void SetUp() override
    {
        const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
        name_ = std::string("v4ops-") + test->name();
        for (char &c : name_)
            c = c == '/' ? '-' : c;
        dir_ = live::exportDir() + "/" + name_;
        std::filesystem::remove_all(dir_);
        ASSERT_TRUE(std::filesystem::create_directory(dir_));
        std::filesystem::permissions(dir_, std::filesystem::perms::all);
        ASSERT_TRUE(user_.ok());
        const auto root = nfs4MountWalk(*user_, live::env("RT_NFS_V4_EXPORT").c_str());
        ASSERT_TRUE(root.ok()) << std::hex << root.error();
        const auto folder = nfs4Lookup(*user_, root.value().fh, name_.c_str());
        ASSERT_TRUE(folder.ok()) << std::hex << folder.error();
        folder_ = folder.value().fh;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    Nfs4OpenFile open(const char *name, uint32_t access, Nfs4Create create = Nfs4Create::No)
    {
        const auto opened = nfs4Open(*user_, folder_, name, {access, create, 0640});
        EXPECT_TRUE(opened.ok()) << name << std::hex << " 0x" << opened.error();
        return opened.ok() ? opened.value() : Nfs4OpenFile{};
    }
    // BYTES written in pieces of PIECE, unstable, then committed: every write's verifier is the
    // commit's.
    void writeAll(const Nfs4OpenFile &file, const std::string &bytes, std::size_t piece)
    {
        std::set<Nfs4Verifier> verifiers;
        for (std::size_t at = 0; at < bytes.size();) {
            const auto count = static_cast<uint32_t>(std::min(piece, bytes.size() - at));
            const auto written = nfs4Write(*user_, file, at, bytes.data() + at, count, UNSTABLE4);
            ASSERT_TRUE(written.ok()) << std::hex << written.error();
            ASSERT_GT(written.value().count, 0U);
            verifiers.insert(written.value().verifier);
            at += written.value().count;
        }
        const auto committed = nfs4Commit(*user_, file.fh, 0, 0);
        ASSERT_TRUE(committed.ok()) << std::hex << committed.error();
        EXPECT_EQ(std::set<Nfs4Verifier>{committed.value()}, verifiers);
    }
    // The file read to its end in pieces of PIECE.
    std::string readAll(const Nfs4OpenFile &file, uint32_t piece)
    {
        std::string bytes;
        std::vector<char> buffer(piece);
        for (int calls = 0; calls < 10000; ++calls) {
            const auto read = nfs4Read(*user_, file, bytes.size(), buffer.data(), piece);
            EXPECT_TRUE(read.ok()) << std::hex << read.error();
            if (!read.ok())
                break;
            bytes.append(buffer.data(), read.value().count);
            if (read.value().eof)
                break;
        }
        return bytes;
    }
    std::string onServer(const std::string &name) const { return dir_ + "/" + name; }

    StateUser user_{GetParam()};
    std::string name_;
    std::string dir_;
    NfsFh folder_;
};

} // namespace

TEST_P(Nfs4FileLive, WrittenInPiecesCommittedAndReadBack)
{
    const std::string bytes = pattern(300 * 1024 + 7, 1);
    Nfs4OpenFile file = open("data.bin", OPEN4_SHARE_ACCESS_BOTH, Nfs4Create::Exclusive);
    EXPECT_EQ(NF4REG, file.attrs.type);
    writeAll(file, bytes, 64 * 1024 + 3);
    ASSERT_TRUE(nfs4Close(*user_, file).ok());
    EXPECT_TRUE(sameBytes(bytes, serverBytes(onServer("data.bin"))));
    struct stat st {};
    ASSERT_EQ(0, stat(onServer("data.bin").c_str(), &st));
    EXPECT_EQ(0640U, st.st_mode & 07777);

    // An unchecked create opens the file as it is.
    Nfs4OpenFile again = open("data.bin", OPEN4_SHARE_ACCESS_BOTH, Nfs4Create::Unchecked);
    EXPECT_EQ(bytes.size(), again.attrs.size);
    EXPECT_EQ(static_cast<uint64_t>(st.st_ino), again.attrs.fileid);
    EXPECT_TRUE(sameBytes(serverBytes(onServer("data.bin")), readAll(again, 50000)));
    const auto attrs = nfs4GetAttr(*user_, again.fh);
    ASSERT_TRUE(attrs.ok());
    EXPECT_EQ(bytes.size(), attrs.value().size);
    EXPECT_EQ(st.st_mtim.tv_sec, attrs.value().mtime.seconds);
    EXPECT_EQ(0640U, attrs.value().mode & 07777);
    EXPECT_TRUE(nfs4Close(*user_, again).ok());
}

TEST_P(Nfs4FileLive, RefusalsMapToTheirErrorNumbers)
{
    std::ofstream(onServer("there.txt")) << "x";
    const std::string tooLong(NFS4_NAME_MAX + 1, 'n');
    const struct {
        const char *what;
        int error;
        std::function<int()> call;
    } cases[] = {
        {"exclusive create of a name there", nfs4Error(NFS4ERR_EXIST),
         [&] {
             return nfs4Open(*user_, folder_, "there.txt",
                             {OPEN4_SHARE_ACCESS_WRITE, Nfs4Create::Exclusive, 0600})
                 .error();
         }},
        {"open of a missing name", nfs4Error(NFS4ERR_NOENT),
         [&] {
             return nfs4Open(*user_, folder_, "missing", {OPEN4_SHARE_ACCESS_READ, Nfs4Create::No, 0})
                 .error();
         }},
        {"lookup of a missing name", nfs4Error(NFS4ERR_NOENT),
         [&] { return nfs4Lookup(*user_, folder_, "missing").error(); }},
        {"remove of a missing name", nfs4Error(NFS4ERR_NOENT),
         [&] { return nfs4Remove(*user_, folder_, "missing").error(); }},
        {"folder made over a name there", nfs4Error(NFS4ERR_EXIST),
         [&] { return nfs4MkDir(*user_, folder_, "there.txt", 0755).error(); }},
        {"name too long", K_ENAMETOOLONG,
         [&] { return nfs4Lookup(*user_, folder_, tooLong.c_str()).error(); }},
        {"name with a slash", NFS_ERRNO_INVAL, [&] { return nfs4Remove(*user_, folder_, "a/b").error(); }},
        {"open without access", NFS_ERRNO_INVAL,
         [&] {
             return nfs4Open(*user_, folder_, "there.txt", {0, Nfs4Create::No, 0}).error();
         }},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.error, c.call()) << c.what;
    EXPECT_EQ(0x300002, nfs4Error(NFS4ERR_NOENT)); // the version 3 ENOENT's number
    EXPECT_EQ("x", serverBytes(onServer("there.txt")));
}

TEST_P(Nfs4FileLive, FolderMadeRenamedIntoAndRemoved)
{
    const auto sub = nfs4MkDir(*user_, folder_, "sub", 0750);
    ASSERT_TRUE(sub.ok()) << std::hex << sub.error();
    EXPECT_EQ(NF4DIR, sub.value().attrs.type);
    struct stat st {};
    ASSERT_EQ(0, stat(onServer("sub").c_str(), &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(0750U, st.st_mode & 07777);
    EXPECT_EQ(static_cast<uint64_t>(st.st_ino), sub.value().attrs.fileid);

    std::ofstream(onServer("moved.txt")) << "moved";
    ASSERT_TRUE(nfs4Rename(*user_, folder_, "moved.txt", sub.value().fh, "landed.txt").ok());
    EXPECT_FALSE(std::filesystem::exists(onServer("moved.txt")));
    EXPECT_EQ("moved", serverBytes(onServer("sub/landed.txt")));
    const auto found = nfs4Lookup(*user_, sub.value().fh, "landed.txt");
    ASSERT_TRUE(found.ok());
    EXPECT_EQ(5U, found.value().attrs.size);

    ASSERT_TRUE(nfs4Remove(*user_, sub.value().fh, "landed.txt").ok());
    EXPECT_FALSE(std::filesystem::exists(onServer("sub/landed.txt")));
    ASSERT_TRUE(nfs4Remove(*user_, folder_, "sub").ok());
    EXPECT_FALSE(std::filesystem::exists(onServer("sub")));
}

TEST_P(Nfs4FileLive, ReadDirListsExactlyTheFolderOverSeveralReplies)
{
    std::map<std::string, uint64_t> expected;
    for (int i = 0; i < 300; ++i) {
        const std::string name = "entry-with-a-long-enough-name-" + std::to_string(i);
        std::ofstream(onServer(name)) << i;
        struct stat st {};
        ASSERT_EQ(0, stat(onServer(name).c_str(), &st));
        expected[name] = st.st_ino;
    }
    std::map<std::string, uint64_t> listed;
    uint64_t cookie = 0;
    Nfs4Verifier verifier{};
    int pages = 0;
    for (bool eof = false; !eof && pages < 1000; ++pages) {
        const auto page = nfs4ReadDir(*user_, folder_, cookie, verifier, 4096);
        ASSERT_TRUE(page.ok()) << std::hex << page.error();
        for (const Nfs4DirEntry &listedEntry : page.value().entries) {
            EXPECT_TRUE(listed.emplace(listedEntry.name, listedEntry.fileid).second)
                << listedEntry.name << " twice";
            cookie = listedEntry.cookie;
        }
        verifier = page.value().verifier;
        eof = page.value().eof;
    }
    EXPECT_GT(pages, 1);
    EXPECT_EQ(expected, listed);
}

TEST_P(Nfs4FileLive, TwoTasksOpenAsOwnersOfTheirOwn)
{
    const std::size_t before = (*user_).openOwners.made();
    std::string results[2];
    std::thread tasks[2];
    for (int t = 0; t < 2; ++t) {
        tasks[t] = std::thread([&, t] {
            const std::string name = "task" + std::to_string(t);
            Nfs4OpenFile file = open(name.c_str(), OPEN4_SHARE_ACCESS_WRITE, Nfs4Create::Unchecked);
            for (int i = 0; i < 20; ++i) {
                const std::string piece = pattern(1000, static_cast<unsigned>(t * 100 + i));
                const auto written =
                    nfs4Write(*user_, file, static_cast<uint64_t>(i) * 1000, piece.data(), 1000, FILE_SYNC4);
                results[t] += written.ok() && written.value().count == 1000 ? piece : "?";
            }
            EXPECT_TRUE(nfs4Close(*user_, file).ok());
        });
    }
    for (std::thread &task : tasks)
        task.join();
    EXPECT_EQ(before + 2, (*user_).openOwners.made());
    EXPECT_TRUE(sameBytes(results[0], serverBytes(onServer("task0"))));
    EXPECT_TRUE(sameBytes(results[1], serverBytes(onServer("task1"))));
}

INSTANTIATE_TEST_SUITE_P(Minors, Nfs4FileLive, testing::Values(Nfs4Minors::Automatic, Nfs4Minors::Only40),
                         minorName);
