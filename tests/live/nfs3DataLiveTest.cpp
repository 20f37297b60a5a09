// The version 3 data and attribute operations against nfs-ganesha: reads and writes checked
// against the exported folder, offsets above 4 GiB, the stability levels, attributes as the
// kernel's status record, and the file-system queries compared with the host's view.
#include "live/nfs3DataLive.h"

#include "core/nfsConfig.h"

#include <brisnel/nfs3Lib.h>
#include <kernel/errnoLib.h>

#include <sys/statvfs.h>

namespace {

class Nfs3DataLive : public datalive::DataLive {
protected:
    void TearDown() override
    {
        nfs3StableWriteSet(0);
        datalive::DataLive::TearDown();
    }

    NfsOpenFile *create(const std::string &name)
    {
        NfsOpenFile *file = device_.create(&root_, name);
        EXPECT_NE(file, nullptr) << name;
        return file;
    }
};

TEST_F(Nfs3DataLive, ReadReturnsTheServersBytesAcrossPiecesAndStopsAtTheEnd)
{
    NfsOpenFile *file = create("data-read");
    ASSERT_NE(file, nullptr);
    std::mt19937 random(7);
    const std::vector<char> content = randomBytes(20000, random);
    putOnServer("data-read", content);

    std::vector<char> buf(30000, '\x55');
    ASSERT_EQ(nfs3FileRead(live::host().c_str(), &file->fh, 0, 20000, buf.data(), &file->attr), 20000);
    EXPECT_TRUE(std::equal(content.begin(), content.end(), buf.begin()));

    std::fill(buf.begin(), buf.end(), '\x55');
    ASSERT_EQ(nfs3FileRead(live::host().c_str(), &file->fh, 19900, 8192, buf.data(), &file->attr), 100);
    EXPECT_TRUE(std::equal(content.end() - 100, content.end(), buf.begin()));
    EXPECT_EQ(buf[100], '\x55') << "nothing past the bytes received";
    EXPECT_EQ(nfs3FileRead(live::host().c_str(), &file->fh, 20000, 10, buf.data(), &file->attr), 0);
    EXPECT_EQ(nfs3FileRead(live::host().c_str(), &file->fh, 1u << 30, 10, buf.data(), &file->attr), 0);
}

TEST_F(Nfs3DataLive, WriteLandsOnTheServerAtOffsetsAboveFourGibibytes)
{
    NfsOpenFile *file = create("data-write");
    ASSERT_NE(file, nullptr);
    std::mt19937 random(8);
    const std::vector<char> data = randomBytes(20000, random);
    const uint64_t high = (1ULL << 32) + 10;
    ASSERT_EQ(nfs3FileWrite(live::host().c_str(), &file->fh, high, 20000, data.data(), &file->attr), 20000);
    EXPECT_EQ(file->attr.size, high + 20000) << "attributes from the last reply";

    const int fd = ::open(hostPath("data-write").c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    std::vector<char> hosted(20000);
    EXPECT_EQ(::pread(fd, hosted.data(), hosted.size(), static_cast<off_t>(high)), 20000);
    ::close(fd);
    EXPECT_TRUE(hosted == data);

    std::vector<char> back(20000);
    ASSERT_EQ(nfs3FileRead(live::host().c_str(), &file->fh, high, 20000, back.data(), &file->attr), 20000);
    EXPECT_TRUE(back == data);
    EXPECT_EQ(nfs3FileWrite(live::host().c_str(), &file->fh, 0, 0, data.data(), &file->attr), 0);
}

TEST_F(Nfs3DataLive, EveryStabilityLevelIsAcceptedByTheServer)
{
    NfsOpenFile *file = create("data-stable");
    ASSERT_NE(file, nullptr);
    for (int how = 0; how <= 2; ++how) {
        ASSERT_EQ(nfs3StableWriteSet(how), 0);
        EXPECT_EQ(nfs3StableWriteGet(), how);
        const std::string text = "level " + std::to_string(how);
        ASSERT_EQ(nfs3FileWrite(live::host().c_str(), &file->fh, static_cast<uint64_t>(how) * 8, 7,
                                text.data(), &file->attr),
                  7)
            << "level " << how;
    }
    const std::vector<char> hosted = onServer("data-stable");
    EXPECT_EQ(std::string(hosted.begin(), hosted.end()), std::string("level 0\0level 1\0level 2", 23));
}

TEST_F(Nfs3DataLive, AHandleTheServerDoesNotKnowFailsWithTheServersStatus)
{
    NfsOpenFile *file = create("data-bad-handle");
    ASSERT_NE(file, nullptr);
    for (u_int i = 0; i < file->fh.data.data_len; ++i)
        file->fh.data.data_val[i] = static_cast<char>(~file->fh.data.data_val[i]);
    const auto isHandleStatus = [](int error) {
        return error == (NFS_ERRNO_BASE | NFS3ERR_BADHANDLE) || error == (NFS_ERRNO_BASE | NFS3ERR_STALE);
    };
    std::array<char, 16> buf{};
    EXPECT_EQ(nfs3FileRead(live::host().c_str(), &file->fh, 0, 16, buf.data(), &file->attr), -1);
    EXPECT_TRUE(isHandleStatus(errnoGet())) << std::hex << errnoGet();
    EXPECT_EQ(nfs3FileWrite(live::host().c_str(), &file->fh, 0, 16, buf.data(), &file->attr), -1);
    EXPECT_TRUE(isHandleStatus(errnoGet())) << std::hex << errnoGet();
    nfs_fh3 root = root_.fh();
    struct kstatfs fs {};
    EXPECT_EQ(nfs3FsAttrGet(live::host().c_str(), &file->fh, &fs), -1);
    Nfs3FsInfo info{};
    EXPECT_EQ(nfs3FsInfoGet(live::host().c_str(), &file->fh, &info), -1);
    Nfs3PathconfInfo conf{};
    EXPECT_EQ(nfs3PathconfGet(live::host().c_str(), &file->fh, &conf), -1);
    EXPECT_TRUE(isHandleStatus(errnoGet())) << std::hex << errnoGet();
    EXPECT_EQ(conf.name_max, 0u) << "the record stays as it was";
    EXPECT_EQ(nfs3PathconfGet(live::host().c_str(), &root, &conf), 0);
}

TEST_F(Nfs3DataLive, AttributesBecomeTheKernelsStatusRecord)
{
    NfsOpenFile *file = create("data-stat");
    ASSERT_NE(file, nullptr);
    const std::vector<char> data(1234, 'x');
    ASSERT_EQ(nfs3FileWrite(live::host().c_str(), &file->fh, 0, 1234, data.data(), &file->attr), 1234);
    struct stat host {};
    ASSERT_EQ(::stat(hostPath("data-stat").c_str(), &host), 0);
    struct kstat st {};
    st.st_dev = 77;
    nfs3FileAttrGet(&file->attr, &st);
    EXPECT_EQ(st.st_dev, 77) << "left for the caller";
    EXPECT_EQ(st.st_ino, static_cast<uint32_t>(host.st_ino));
    EXPECT_EQ(st.st_mode, static_cast<uint32_t>(host.st_mode));
    EXPECT_EQ(st.st_nlink, 1u);
    EXPECT_EQ(st.st_uid, static_cast<uint16_t>(host.st_uid));
    EXPECT_EQ(st.st_gid, static_cast<uint16_t>(host.st_gid));
    EXPECT_EQ(st.st_size, 1234u);
    EXPECT_EQ(st.st_mtime, static_cast<uint32_t>(host.st_mtim.tv_sec));
}

TEST_F(Nfs3DataLive, FileSystemQueriesAgreeWithTheHost)
{
    nfs_fh3 fh = root_.fh();
    struct kstatfs fs {};
    ASSERT_EQ(nfs3FsAttrGet(live::host().c_str(), &fh, &fs), 0);
    struct statvfs host {};
    ASSERT_EQ(::statvfs(live::exportDir().c_str(), &host), 0);
    EXPECT_EQ(fs.f_type, 0);
    EXPECT_EQ(fs.f_bsize, 1024);
    EXPECT_EQ(fs.f_blocks,
              static_cast<uint32_t>((static_cast<uint64_t>(host.f_blocks) * host.f_frsize) >> 10));
    EXPECT_LE(fs.f_bavail, fs.f_blocks);
    EXPECT_EQ(fs.f_files, static_cast<uint32_t>(host.f_files));

    Nfs3FsInfo info{};
    ASSERT_EQ(nfs3FsInfoGet(live::host().c_str(), &fh, &info), 0);
    EXPECT_GE(info.rtmax, 8192u);
    EXPECT_GE(info.wtmax, 8192u);
    EXPECT_LE(info.rtpref, info.rtmax);
    EXPECT_NE(info.dtpref, 0u);
    EXPECT_NE(info.maxfilesize, 0u);

    Nfs3PathconfInfo conf{};
    ASSERT_EQ(nfs3PathconfGet(live::host().c_str(), &fh, &conf), 0);
    EXPECT_GE(conf.name_max, 255u);
    EXPECT_GE(conf.linkmax, 1u);
    EXPECT_LE(conf.case_insensitive, 1u);
    EXPECT_EQ(conf.case_preserving, 1u);
}

} // namespace
