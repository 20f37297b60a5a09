// The version 3 data and attribute operations against the scripted server: how a range is
// cut into READs and WRITEs, the replies no real server sends (more data than asked, counts
// that disagree, zero-byte progress, commitment below the level asked), weak cache
// consistency, error statuses, and the conversions into the kernel's records.
#include "nfs/allocationCount.h"
#include "nfs/nfs3DataScripted.h"

#include "core/nfsConfig.h"
#include "ops/nfs3Data.h"

#include <brisnel/nfs3Drv.h>
#include <brisnel/nfs3Lib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <numeric>
#include <type_traits>
#include <vector>

namespace {

constexpr int kSentinel = 0x4242;

std::vector<char> pattern(std::size_t n)
{
    std::vector<char> bytes(n);
    for (std::size_t i = 0; i < n; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xff);
    return bytes;
}

class Nfs3Data : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server_.ok());
        savedMaxMsgLen_ = nfs3MaxMsgLen;
        nfs3MaxMsgLen = 8192;
        handle_.fill('\x33');
        fh_ = nfs_fh3{{20, handle_.data()}};
        attr_.fileid = 99;
    }
    void TearDown() override
    {
        nfs3MaxMsgLen = savedMaxMsgLen_;
        nfs3StableWriteSet(0);
        nfsClientClose();
    }

    data3::State &state() { return server_.state(); }
    int read(uint64_t offset, unsigned count, char *buf)
    {
        return nfs3FileRead(server_.host(), &fh_, offset, count, buf, &attr_);
    }
    int write(uint64_t offset, unsigned count, const char *buf)
    {
        return nfs3FileWrite(server_.host(), &fh_, offset, count, buf, &attr_);
    }
    std::vector<std::pair<uint64_t, uint32_t>> reads()
    {
        std::lock_guard guard(state().lock);
        std::vector<std::pair<uint64_t, uint32_t>> seen;
        for (const data3::Transfer &t : state().reads)
            seen.emplace_back(t.offset, t.count);
        return seen;
    }
    std::vector<std::pair<uint64_t, uint32_t>> writes()
    {
        std::lock_guard guard(state().lock);
        std::vector<std::pair<uint64_t, uint32_t>> seen;
        for (const data3::Transfer &t : state().writes)
            seen.emplace_back(t.offset, t.count);
        return seen;
    }

    data3::Server server_{"127.0.0.20", "data3-scripted"};
    std::array<char, NFS3_FHSIZE> handle_{};
    nfs_fh3 fh_{};
    fattr3 attr_{};

private:
    uint32_t savedMaxMsgLen_ = 0;
};

using Pieces = std::vector<std::pair<uint64_t, uint32_t>>;

class Nfs3Read : public Nfs3Data {};

TEST_F(Nfs3Read, ARangeIsCutIntoPiecesOfTheTransferLimit)
{
    state().file = pattern(30000);
    state().attributes.size = 30000;
    std::vector<char> buf(20000);
    ASSERT_EQ(read(0, 20000, buf.data()), 20000);
    EXPECT_EQ(reads(), (Pieces{{0, 8192}, {8192, 8192}, {16384, 3616}}));
    EXPECT_EQ(server_.calls(NFSPROC3_READ), 3u);
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), state().file.begin()));
    EXPECT_EQ(attr_.size, 30000u) << "attributes from the replies";
}

TEST_F(Nfs3Read, TheEndOfTheFileCostsOneReadMore)
{
    state().file = pattern(20000);
    std::vector<char> buf(8192, '\x55');
    ASSERT_EQ(read(19900, 8192, buf.data()), 100);
    EXPECT_EQ(reads(), (Pieces{{19900, 8192}, {20000, 8092}}));
    EXPECT_TRUE(std::equal(buf.begin(), buf.begin() + 100, state().file.end() - 100));
    EXPECT_EQ(buf[100], '\x55');

    state().reads.clear();
    EXPECT_EQ(read(20000, 10, buf.data()), 0);
    EXPECT_EQ(read(1ULL << 33, 10, buf.data()), 0);
    EXPECT_EQ(reads(), (Pieces{{20000, 10}, {1ULL << 33, 10}}));
}

TEST_F(Nfs3Read, AShortReplyWithoutEndOfFileIsFollowedByTheRest)
{
    state().file = pattern(50000);
    state().readLimit = 5000;
    std::vector<char> buf(8192);
    ASSERT_EQ(read(100, 8192, buf.data()), 8192);
    EXPECT_EQ(reads(), (Pieces{{100, 8192}, {5100, 3192}}));
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), state().file.begin() + 100));
}

TEST_F(Nfs3Read, MoreDataThanAskedIsRefusedWithoutTouchingTheBuffer)
{
    state().file = pattern(50000);
    state().readExtra = 16;
    std::vector<char> buf(200, '\x55');
    errnoSet(0);
    EXPECT_EQ(read(0, 100, buf.data()), -1);
    EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | RPC_CANTDECODERES);
    EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](char c) { return c == '\x55'; }));

    // A count that disagrees with the data carried is refused too.
    state().readExtra = 0;
    state().readCountDisagrees = true;
    EXPECT_EQ(read(0, 100, buf.data()), -1);
    EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | RPC_CANTDECODERES);

    state().readCountDisagrees = false;
    EXPECT_EQ(read(0, 100, buf.data()), 100) << "the next call builds a new handle and works";
}

TEST_F(Nfs3Read, AnErrorStatusBecomesTheErrorNumberAndKeepsTheAttributesSent)
{
    state().readStatus = NFS3ERR_ACCES;
    state().attributes.size = 777;
    state().attributes.fileid = 99;
    std::array<char, 10> buf{};
    EXPECT_EQ(read(0, 10, buf.data()), -1);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_BASE | NFS3ERR_ACCES);
    EXPECT_EQ(attr_.size, 777u);

    state().readAttributes = false;
    state().attributes.size = 1;
    EXPECT_EQ(read(0, 10, buf.data()), -1);
    EXPECT_EQ(attr_.size, 777u) << "no attributes in the reply: unchanged";
}

TEST_F(Nfs3Read, ATransferLimitOfZeroEndsTheReadWithoutACall)
{
    nfs3MaxMsgLen = 0;
    std::array<char, 10> buf{};
    EXPECT_EQ(read(0, 10, buf.data()), 0);
    EXPECT_EQ(write(0, 10, buf.data()), -1);
    EXPECT_EQ(errnoGet(), K_EINVAL);
    EXPECT_EQ(server_.calls(NFSPROC3_READ) + server_.calls(NFSPROC3_WRITE), 0u);
}

TEST_F(Nfs3Read, DataGoesStraightBetweenTheCallersBufferAndTheWire)
{
    if (!alloccount::available())
        GTEST_SKIP() << "needs the address sanitizer's allocator hooks";
    state().file = pattern(40000);
    std::vector<char> buf(20000);
    // The first transfer builds the task's handle and the channel's buffers for as many answers.
    ASSERT_EQ(read(0, 20000, buf.data()), 20000);
    ASSERT_EQ(write(100, 20000, buf.data()), 20000);
    std::size_t allocated = 0;
    {
        const alloccount::Scope scope;
        EXPECT_EQ(read(0, 20000, buf.data()), 20000);
        EXPECT_EQ(write(100, 20000, buf.data()), 20000);
        allocated = scope.count();
    }
    EXPECT_EQ(allocated, 0u) << "no staging copy, no decoded data";
}

class Nfs3Write : public Nfs3Data {};

TEST_F(Nfs3Write, ARangeIsCutIntoPiecesAndTheLastReplysAttributesStay)
{
    const std::vector<char> data = pattern(20000);
    ASSERT_EQ(write(1000, 20000, data.data()), 20000);
    EXPECT_EQ(writes(), (Pieces{{1000, 8192}, {9192, 8192}, {17384, 3616}}));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), state().file.begin() + 1000));
    EXPECT_EQ(attr_.size, 21000u);
    for (const data3::Transfer &t : state().writes)
        EXPECT_EQ(t.stable, UNSTABLE);
}

// A WRITE's data of any length (padding included), over either transport: the server takes
// the bytes given.
TEST_F(Nfs3Write, DataArrivesWholeWhateverItsLengthAndTransport)
{
    data3::Server both("127.0.0.21", "data3-both", true);
    ASSERT_TRUE(both.ok());
    const int32_t savedTransport = nfsTransport;
    for (const int32_t transport : {NFS_TRANSPORT_UDP, NFS_TRANSPORT_TCP}) {
        nfsTransport = transport;
        for (const unsigned length : {5U, 4095U, 4096U, 4097U, 4099U, 8191U, 12289U}) {
            SCOPED_TRACE(std::to_string(transport) + ": " + std::to_string(length));
            both.state().file.clear();
            const std::vector<char> data = pattern(length);
            ASSERT_EQ(nfs3FileWrite(both.host(), &fh_, 3, length, data.data(), &attr_), static_cast<int>(length));
            ASSERT_EQ(both.state().file.size(), length + 3u);
            EXPECT_TRUE(std::equal(data.begin(), data.end(), both.state().file.begin() + 3));
        }
        nfsClientClose();
    }
    nfsTransport = savedTransport;
}

// With several calls in flight the second piece went out with the first; what follows the
// short reply is sent as the one-at-a-time loop sends it.
TEST_F(Nfs3Write, APartWrittenPieceIsFollowedByTheRest)
{
    const struct {
        int32_t window;
        Pieces sent;
    } windows[] = {
        {1, {{0, 8192}, {3000, 5292}, {6000, 2292}}},
        {4, {{0, 8192}, {8192, 100}, {3000, 5292}, {6000, 2292}}},
    };
    for (const auto &w : windows) {
        SCOPED_TRACE(w.window);
        nfsMaxInFlight = w.window;
        state().writes.clear();
        state().file.clear();
        state().writeLimit = 3000;
        const std::vector<char> data = pattern(8192 + 100);
        ASSERT_EQ(write(0, 8292, data.data()), 8292);
        EXPECT_EQ(writes(), w.sent) << "each call starts where the server stopped";
        EXPECT_TRUE(std::equal(data.begin(), data.end(), state().file.begin()));
    }
    nfsMaxInFlight = 4;
}

TEST_F(Nfs3Write, AReplyThatTakesNothingFailsInsteadOfBeingSentAgain)
{
    state().writeLimit = 0;
    const std::vector<char> data = pattern(100);
    EXPECT_EQ(write(0, 100, data.data()), -1);
    EXPECT_EQ(errnoGet(), K_EIO);
    EXPECT_EQ(server_.calls(NFSPROC3_WRITE), 1u);
    EXPECT_EQ(write(0, 0, data.data()), 0);
    EXPECT_EQ(server_.calls(NFSPROC3_WRITE), 1u) << "nothing to send";
}

TEST_F(Nfs3Write, CommitmentAboveTheLevelAskedIsAcceptedAndBelowItRefused)
{
    const std::vector<char> data = pattern(100);
    state().committed = FILE_SYNC;
    EXPECT_EQ(write(0, 100, data.data()), 100);

    ASSERT_EQ(nfs3StableWriteSet(FILE_SYNC), 0);
    state().committed = UNSTABLE;
    state().attributes.size = 5555;
    const fattr3 before = attr_;
    errnoSet(kSentinel);
    EXPECT_EQ(write(0, 100, data.data()), -1);
    EXPECT_EQ(errnoGet(), kSentinel) << "the error number stays";
    EXPECT_EQ(attr_.size, before.size) << "the attributes stay";
    EXPECT_EQ(state().writes.back().stable, FILE_SYNC) << "the level asked goes on the wire";

    state().committed = DATA_SYNC;
    ASSERT_EQ(nfs3StableWriteSet(DATA_SYNC), 0);
    EXPECT_EQ(write(0, 100, data.data()), 100);
}

TEST_F(Nfs3Write, OnlyPreOperationAttributesGiveTheValuesFromBeforeTheWrite)
{
    attr_.mode = 0640;
    attr_.size = 1;
    state().wccAfter = false;
    state().before = wcc_attr{.size = 4096, .mtime = {11, 12}, .ctime = {21, 22}};
    const std::vector<char> data = pattern(10);
    ASSERT_EQ(write(0, 10, data.data()), 10);
    EXPECT_EQ(attr_.size, 4096u);
    EXPECT_EQ(attr_.mtime.seconds, 11u);
    EXPECT_EQ(attr_.mtime.nseconds, 12u);
    EXPECT_EQ(attr_.ctime.seconds, 21u);
    EXPECT_EQ(attr_.mode, 0640u) << "the rest stays";

    state().wccBefore = false;
    attr_.size = 3;
    ASSERT_EQ(write(0, 10, data.data()), 10);
    EXPECT_EQ(attr_.size, 3u) << "no attributes at all: unchanged";
}

TEST_F(Nfs3Write, AnErrorStatusFoldsTheFailureArmsAttributesIn)
{
    state().writeStatus = NFS3ERR_NOSPC;
    state().attributes.size = 31337;
    const std::vector<char> data = pattern(10);
    EXPECT_EQ(write(0, 10, data.data()), -1);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_BASE | NFS3ERR_NOSPC);
    EXPECT_EQ(attr_.size, 31337u);
}

TEST(Nfs3StableWrite, OnlyTheThreeLevelsAreStored)
{
    ASSERT_EQ(nfs3StableWriteSet(2), 0);
    errnoSet(kSentinel);
    EXPECT_EQ(nfs3StableWriteSet(3), -1);
    EXPECT_EQ(nfs3StableWriteSet(-1), -1);
    EXPECT_EQ(errnoGet(), kSentinel);
    EXPECT_EQ(nfs3StableWriteGet(), 2);
    EXPECT_EQ(nfs3StableWriteSet(0), 0);
    EXPECT_EQ(nfs3StableWriteGet(), 0);
}

TEST(Nfs3FileAttr, TypeAndModeMakeTheKernelsModeAndSizesKeepSixtyFourBits)
{
    fattr3 attr{};
    struct kstat st {};
    attr.type = NF3DIR;
    attr.mode = 0755;
    nfs3FileAttrGet(&attr, &st);
    EXPECT_EQ(st.st_mode, 0x41EDu);
    attr.type = NF3LNK;
    attr.mode = 0777 | 0xF000; // type bits in the mode give way to the type's
    nfs3FileAttrGet(&attr, &st);
    EXPECT_EQ(st.st_mode, 0xA1FFu);
    attr.type = static_cast<ftype3>(9);
    attr.mode = 0644;
    nfs3FileAttrGet(&attr, &st);
    EXPECT_EQ(st.st_mode, 0644u) << "an unknown type contributes nothing";

    attr = fattr3{.type = NF3REG,
                  .mode = 0600,
                  .nlink = 3,
                  .uid = 0x12345,
                  .gid = 0x10064,
                  .size = 5368709120ULL,
                  .used = 1,
                  .rdev = {4, 5},
                  .fsid = 6,
                  .fileid = 0x1'0000'0007ULL,
                  .atime = {100, 1},
                  .mtime = {200, 2},
                  .ctime = {300, 3}};
    st.st_dev = 42;
    st.st_rdev = 9;
    st.st_blksize = 9;
    st.st_blocks = 9;
    nfs3FileAttrGet(&attr, &st);
    EXPECT_EQ(st.st_dev, 42);
    EXPECT_EQ(st.st_ino, 7u);
    EXPECT_EQ(st.st_mode, 0x8180u);
    EXPECT_EQ(st.st_nlink, 3u);
    EXPECT_EQ(st.st_uid, 0x2345u);
    EXPECT_EQ(st.st_gid, 0x0064u);
    EXPECT_EQ(st.st_rdev, 0u);
    EXPECT_EQ(st.st_size, 5368709120ULL);
    EXPECT_EQ(st.st_atime, 100u);
    EXPECT_EQ(st.st_mtime, 200u);
    EXPECT_EQ(st.st_ctime, 300u);
    EXPECT_EQ(st.st_blksize, 0u);
    EXPECT_EQ(st.st_blocks, 0u);
}

class Nfs3FsQueries : public Nfs3Data {};

TEST_F(Nfs3FsQueries, FsStatCountsKibibyteBlocksAndLowWordsOfFileSlots)
{
    state().fsStat = FSSTAT3resok{.obj_attributes = {},
                                  .tbytes = 1ULL << 40,
                                  .fbytes = (1ULL << 20) + 1023,
                                  .abytes = 5 << 10,
                                  .tfiles = 0x1'0000'0010ULL,
                                  .ffiles = 7,
                                  .afiles = 6,
                                  .invarsec = 0};
    struct kstatfs fs {};
    ASSERT_EQ(nfs3FsAttrGet(server_.host(), &fh_, &fs), 0);
    EXPECT_EQ(fs.f_type, 0);
    EXPECT_EQ(fs.f_bsize, 1024);
    EXPECT_EQ(fs.f_blocks, 1u << 30);
    EXPECT_EQ(fs.f_bfree, 1024u);
    EXPECT_EQ(fs.f_bavail, 5u);
    EXPECT_EQ(fs.f_files, 0x10u);
    EXPECT_EQ(fs.f_ffree, 7u);
}

TEST_F(Nfs3FsQueries, FsInfoAndPathconfCopyTheirMembersInTheirOwnOrder)
{
    state().fsInfo = FSINFO3resok{.obj_attributes = {},
                                  .rtmax = 1,
                                  .rtpref = 2,
                                  .rtmult = 3,
                                  .wtmax = 4,
                                  .wtpref = 5,
                                  .wtmult = 6,
                                  .dtpref = 7,
                                  .maxfilesize = 1ULL << 40,
                                  .time_delta = {8, 9},
                                  .properties = FSF3_LINK | FSF3_CANSETTIME};
    Nfs3FsInfo info{};
    ASSERT_EQ(nfs3FsInfoGet(server_.host(), &fh_, &info), 0);
    EXPECT_EQ(info.rtmax, 1u);
    EXPECT_EQ(info.rtpref, 2u);
    EXPECT_EQ(info.rtmult, 3u);
    EXPECT_EQ(info.wtmax, 4u);
    EXPECT_EQ(info.wtpref, 5u);
    EXPECT_EQ(info.wtmult, 6u);
    EXPECT_EQ(info.dtpref, 7u);
    EXPECT_EQ(info.maxfilesize, 1ULL << 40);
    EXPECT_EQ(info.time_delta.seconds, 8u);
    EXPECT_EQ(info.time_delta.nseconds, 9u);
    EXPECT_EQ(info.properties, static_cast<uint32_t>(FSF3_LINK | FSF3_CANSETTIME));

    state().pathconf = PATHCONF3resok{.obj_attributes = {},
                                      .linkmax = 32000,
                                      .name_max = 255,
                                      .no_trunc = 1,
                                      .chown_restricted = 0,
                                      .case_insensitive = 0,
                                      .case_preserving = 1};
    Nfs3PathconfInfo conf{};
    ASSERT_EQ(nfs3PathconfGet(server_.host(), &fh_, &conf), 0);
    const std::array<uint32_t, 6> words{conf.name_max,         conf.linkmax,          conf.no_trunc,
                                        conf.chown_restricted, conf.case_insensitive, conf.case_preserving};
    EXPECT_EQ(words, (std::array<uint32_t, 6>{255, 32000, 1, 0, 0, 1})) << "name_max first";
}

TEST_F(Nfs3FsQueries, AnErrorStatusLeavesEveryRecordAsItWas)
{
    state().fsStatus = NFS3ERR_STALE;
    struct kstatfs fs {};
    fs.f_blocks = 5;
    EXPECT_EQ(nfs3FsAttrGet(server_.host(), &fh_, &fs), -1);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_BASE | NFS3ERR_STALE);
    EXPECT_EQ(fs.f_blocks, 5u);
    Nfs3FsInfo info{};
    info.rtmax = 5;
    errnoSet(0);
    EXPECT_EQ(nfs3FsInfoGet(server_.host(), &fh_, &info), -1);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_BASE | NFS3ERR_STALE);
    EXPECT_EQ(info.rtmax, 5u);
    Nfs3PathconfInfo conf{};
    conf.name_max = 5;
    errnoSet(0);
    EXPECT_EQ(nfs3PathconfGet(server_.host(), &fh_, &conf), -1);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_BASE | NFS3ERR_STALE);
    EXPECT_EQ(conf.name_max, 5u);
}

} // namespace

namespace {

// The answers to a window of READs or WRITEs come back last first: each is matched to its own
// call by its transaction id, every byte lands where its call asked, and each call is sent once.
TEST_F(Nfs3Data, AWindowsAnswersInReverseOrderLandWhereTheirCallsAsked)
{
    nfsMaxInFlight = 4;
    server_.server().setProgramBehaviour(NFS_PROGRAM,
                                         scripted::Behaviour::reversed(4, std::chrono::milliseconds(30)));
    state().file = pattern(40000);
    std::vector<char> buf(4 * 8192, '\x55');
    ASSERT_EQ(read(100, 4 * 8192, buf.data()), 4 * 8192);
    EXPECT_EQ(reads(), (Pieces{{100, 8192}, {8292, 8192}, {16484, 8192}, {24676, 8192}}));
    EXPECT_TRUE(std::equal(buf.begin(), buf.end(), state().file.begin() + 100));

    std::vector<char> data = pattern(4 * 8192 + 7);
    std::reverse(data.begin(), data.end());
    const std::vector<char> before = state().file;
    ASSERT_EQ(write(39000, 4 * 8192, data.data()), 4 * 8192);
    EXPECT_EQ(writes(), (Pieces{{39000, 8192}, {47192, 8192}, {55384, 8192}, {63576, 8192}}));
    ASSERT_EQ(state().file.size(), 39000u + 4 * 8192);
    EXPECT_TRUE(std::equal(data.begin(), data.begin() + 4 * 8192, state().file.begin() + 39000));
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 39000, state().file.begin()))
        << "bytes before stay";
    server_.server().setProgramBehaviour(NFS_PROGRAM, scripted::Behaviour::answer());
    nfsMaxInFlight = 4;
}

} // namespace

namespace {

// "Try again later" (NFS3ERR_JUKEBOX): the calls answered so are sent again after a pause,
// alone (the others of a window are not), until answered; a server that keeps saying it fails
// the transfer with that status by the call's time-out. One call at a time and a window alike.
TEST_F(Nfs3Data, CallsToldToTryLaterAreSentAgainAloneUntilAnsweredOrTheTimeOut)
{
    const int32_t savedWindow = nfsMaxInFlight;
    const int32_t savedTimeout = nfsTimeoutSec;
    state().file = pattern(40000);
    const Pieces pieces{{100, 8192}, {8292, 8192}, {16484, 8192}, {24676, 8192}};
    for (const int32_t window : {1, 4}) {
        nfsMaxInFlight = window;
        state().reads.clear();
        state().writes.clear();
        server_.server().resetCounts();
        server_.server().setRetryLater(2);
        std::vector<char> buf(4 * 8192, '\x55');
        ASSERT_EQ(read(100, 4 * 8192, buf.data()), 4 * 8192) << std::hex << errnoGet();
        Pieces seen = reads();
        std::sort(seen.begin(), seen.end()); // those told to try later come last
        EXPECT_EQ(seen, pieces) << "each piece answered once, window " << window;
        EXPECT_EQ(server_.calls(NFSPROC3_READ), 6u) << "window " << window;
        EXPECT_TRUE(std::equal(buf.begin(), buf.end(), state().file.begin() + 100));

        const std::vector<char> data(4 * 8192, static_cast<char>('0' + window));
        server_.server().setRetryLater(2);
        ASSERT_EQ(write(100, 4 * 8192, data.data()), 4 * 8192) << std::hex << errnoGet();
        seen = writes();
        std::sort(seen.begin(), seen.end());
        EXPECT_EQ(seen, pieces) << "window " << window;
        EXPECT_EQ(server_.calls(NFSPROC3_WRITE), 6u) << "window " << window;
        EXPECT_TRUE(std::equal(data.begin(), data.end(), state().file.begin() + 100));

        nfsTimeoutSec = 0;
        nfsTimeoutUSec = 400000;
        server_.server().setRetryLater(-1);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(read(0, 4 * 8192, buf.data()), -1);
        EXPECT_EQ(errnoGet(), NFS_ERRNO_BASE | NFS3ERR_JUKEBOX) << "window " << window;
        EXPECT_EQ(write(0, 4 * 8192, data.data()), -1);
        EXPECT_EQ(errnoGet(), NFS_ERRNO_BASE | NFS3ERR_JUKEBOX) << "window " << window;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3))
            << "ends by the time-out";
        EXPECT_GT(server_.calls(NFSPROC3_READ), 6u + 2u) << "sent again while the time-out lasts";
        server_.server().setRetryLater(0);
        nfsTimeoutSec = savedTimeout;
        nfsTimeoutUSec = 0;
    }
    EXPECT_EQ(state().file.size(), 40000u);
    nfsMaxInFlight = savedWindow;
}

} // namespace

namespace {

// The data words hold routines of their described types, so a caller that knows only those
// (the bytes moved or -1, an int) reads and writes through them.
TEST_F(Nfs3Data, TheDataWordsHoldRoutinesOfTheirDescribedTypes)
{
    using Read = int (*)(const char *, nfs_fh3 *, uint64_t, unsigned, char *, fattr3 *);
    using Write = int (*)(const char *, nfs_fh3 *, uint64_t, unsigned, const char *, fattr3 *);
    static_assert(std::is_same_v<decltype(pFuncNfs3FileRead), Read>);
    static_assert(std::is_same_v<decltype(pFuncNfs3FileWrite), Write>);
    static_assert(std::is_same_v<decltype(pFuncNfs2FileRead),
                                 int (*)(const char *, nfs_fh2 *, uint64_t, unsigned, char *, fattr *)>);
    static_assert(std::is_same_v<decltype(pFuncNfs2FileWrite), int (*)(const char *, nfs_fh2 *, uint64_t,
                                                                       unsigned, const char *, fattr *)>);
    ASSERT_EQ(nfs3Drv(), 0);
    state().file = pattern(1000);
    const std::vector<char> data = pattern(20000);
    const Write described = pFuncNfs3FileWrite;
    ASSERT_EQ(described(server_.host(), &fh_, 500, 20000, data.data(), &attr_), 20000)
        << std::hex << errnoGet();
    ASSERT_EQ(state().file.size(), 20500u);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), state().file.begin() + 500));
    std::vector<char> back(20000);
    const Read reader = pFuncNfs3FileRead;
    EXPECT_EQ(reader(server_.host(), &fh_, 500, 20000, back.data(), &attr_), 20000);
    EXPECT_EQ(back, data);
}

} // namespace
