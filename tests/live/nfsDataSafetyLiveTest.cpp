// Acknowledged data against the real server made unreachable for a while: a write-back that
// fails on a full line or on a seek keeps its bytes, and a sync after the server is back sends
// them; UNSTABLE writes are committed at sync and close, and a server killed and restarted in
// the middle of a write loses nothing. Every byte is checked in the export.
#include "live/nfs3FileLive.h"

#include "core/nfsConfig.h"
#include "rpc/nfsRpcStats.h"
#include "drv/nfs3Driver.h"

#include <brisnel/nfs3Lib.h>
#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/iosLib.h>

#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

namespace {

using filelive::FileLive;
using filelive::randomBytes;

constexpr int kFirst = 10000;

class DataSafetyLive : public FileLive {
protected:
    void SetUp() override
    {
        FileLive::SetUp();
        savedTimeout_ = nfsTimeoutSec;
        nfsTimeoutSec = 2;
    }
    void TearDown() override
    {
        nfsTimeoutSec = savedTimeout_;
        FileLive::TearDown();
    }
    // The driver's record behind a descriptor's path, opened directly.
    NfsOpenFile *openRecord(const std::string &name, int flags)
    {
        const char *rest = nullptr;
        auto *device = reinterpret_cast<NfsDevice *>(iosDevFind(filelive::kDev, &rest));
        std::array<char, K_IOS_TAIL_ROOM> path{};
        std::strcpy(path.data(), tail(name).c_str());
        const intptr_t file = nfs3Open(device, path.data(), flags, 0644);
        // Only -1 is a failure: on 32-bit hosts the record's address may have its top bit set.
        EXPECT_NE(file, -1) << std::hex << errnoGet();
        return file != -1 ? reinterpret_cast<NfsOpenFile *>(file) : nullptr;
    }

private:
    int32_t savedTimeout_ = 0;
};

enum class Failing { fullLine, seek };

class LostDataLive : public DataSafetyLive {
protected:
    void failedWriteBackIsSentByTheNextSync(Failing how);
};

void LostDataLive::failedWriteBackIsSentByTheNextSync(Failing how)
{
    std::mt19937 random(7);
    const std::vector<char> first = randomBytes(kFirst, random);
    const std::vector<char> second = randomBytes(kFirst, random);
    const int fd = kOpen(dev("kept").c_str(), K_O_RDWR | K_O_CREAT, 0644);
    ASSERT_GE(fd, 0) << std::hex << errnoGet();
    ASSERT_EQ(kWrite(fd, first.data(), kFirst), kFirst);
    int error = 0;
    {
        live::PeerPaused paused("RT_GANESHA_PID");
        if (how == Failing::fullLine) {
            EXPECT_EQ(kWrite(fd, second.data(), kFirst), -1) << "the line filled and could not go out";
        } else {
            EXPECT_EQ(kIoctl(fd, K_FIOSEEK, 3 * 16384), -1);
            EXPECT_EQ(kIoctl(fd, K_FIOWHERE, 0), kFirst) << "the position stays";
        }
        error = errnoGet();
    }
    EXPECT_EQ(error, K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT) << std::hex << error;
    EXPECT_GE(kIoctl(fd, K_FIOSYNC, 0), 0) << std::hex << errnoGet();
    EXPECT_EQ(kClose(fd), 0) << std::hex << errnoGet();

    std::vector<char> expected = first;
    if (how == Failing::fullLine) // the failed write's piece went out with its line
        expected.insert(expected.end(), second.begin(), second.begin() + (16384 - kFirst));
    EXPECT_TRUE(onServer("kept") == expected) << "size " << onServer("kept").size();
}

TEST_F(LostDataLive, AFullLineThatCouldNotGoOutIsSentByTheNextSync)
{
    failedWriteBackIsSentByTheNextSync(Failing::fullLine);
}

TEST_F(LostDataLive, ASeeksFailedWriteBackIsSentByTheNextSync)
{
    failedWriteBackIsSentByTheNextSync(Failing::seek);
}

TEST_F(DataSafetyLive, UnstableWritesAreCommittedAtSyncAndCloseAndFileSyncNeedsNoCommit)
{
    std::mt19937 random(8);
    const std::vector<char> bytes = randomBytes(40000, random);
    NfsOpenFile *file = openRecord("committed", K_O_RDWR | K_O_CREAT);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(nfs3Write(file, bytes.data(), 40000), 40000);
    EXPECT_EQ(file->uncommitted, 1) << "two full lines went out UNSTABLE";
    EXPECT_GE(nfs3Ioctl(file, K_FIOSYNC, 0), 0) << std::hex << errnoGet();
    EXPECT_EQ(file->uncommitted, 0) << "committed, with the same verifier";
    EXPECT_EQ(file->lostErrno, 0);
    EXPECT_TRUE(onServer("committed") == bytes);
    ASSERT_EQ(nfs3Write(file, bytes.data(), 100), 100);
    EXPECT_EQ(nfs3Close(file), 0) << std::hex << errnoGet();

    const int saved = nfs3StableWriteGet();
    ASSERT_EQ(nfs3StableWriteSet(2), 0);
    NfsOpenFile *stable = openRecord("committed", K_O_RDWR);
    ASSERT_NE(stable, nullptr);
    ASSERT_EQ(nfs3Write(stable, bytes.data(), 40000), 40000);
    EXPECT_EQ(stable->uncommitted, 0) << "FILE_SYNC: nothing to commit";
    EXPECT_EQ(nfs3Close(stable), 0);
    nfs3StableWriteSet(saved);
    std::vector<char> expected = bytes;
    expected.insert(expected.end(), bytes.begin(), bytes.begin() + 100);
    EXPECT_TRUE(onServer("committed") == expected);
}

// A program that ends without closing its file: nfsSyncAll puts its bytes on the server, the
// UNSTABLE ones committed.
TEST_F(DataSafetyLive, SyncAllPutsAnOpenFilesBytesOnTheServer)
{
    const int fd = kOpen(dev("unclosed").c_str(), K_O_RDWR | K_O_CREAT, 0644);
    ASSERT_GE(fd, 0) << std::hex << errnoGet();
    ASSERT_EQ(kWrite(fd, "twelve bytes", 12), 12);
    EXPECT_TRUE(onServer("unclosed").empty()) << "still in the cache";
    EXPECT_EQ(nfsSyncAll(), 0) << std::hex << errnoGet();
    EXPECT_EQ(onServer("unclosed"),
              std::vector<char>({'t', 'w', 'e', 'l', 'v', 'e', ' ', 'b', 'y', 't', 'e', 's'}));
    EXPECT_EQ(kClose(fd), 0);

    std::mt19937 random(10);
    const std::vector<char> bytes = randomBytes(50000, random);
    NfsOpenFile *file = openRecord("unclosed", K_O_RDWR);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(nfs3Write(file, bytes.data(), 50000), 50000);
    EXPECT_EQ(nfsSyncAll(), 0) << std::hex << errnoGet();
    EXPECT_EQ(file->uncommitted, 0) << "committed";
    EXPECT_TRUE(onServer("unclosed") == bytes);
    EXPECT_EQ(nfs3Close(file), 0);
}

// 32 MiB written in 64 KiB calls while the server is killed and restarted halfway (lines sent
// UNSTABLE wait for their COMMIT, others are still dirty, a call may be under way): sync and
// close succeed, and the file is byte-exact. A call that meets no server fails with a transport
// error and is made again, as a program would; what it had taken stays for the write-back. In
// UNSTABLE mode the new write verifier sends the pinned lines again; FILE_SYNC pins nothing.
TEST_F(DataSafetyLive, AServerRestartInTheMiddleOfAWriteLosesNothing)
{
    constexpr std::size_t kSize = 32U << 20;
    constexpr int kPiece = 65536;
    std::mt19937 random(9);
    const std::vector<char> bytes = randomBytes(kSize, random);
    const int savedStable = nfs3StableWriteGet();
    // Lines of one and two transfers go out behind, two at a time or more; lines of sixteen alone.
    for (const int lineBytes : {4096, 16384, 131072}) {
        for (const int stable : {0, 2}) {
            const std::string name = "restart-" + std::to_string(lineBytes) + "-" + std::to_string(stable);
            SCOPED_TRACE(name);
            ASSERT_EQ(nfsUnmount(filelive::kDev), 0) << std::hex << errnoGet();
            nfs3CacheParamsSet(16, lineBytes, 0);
            ASSERT_EQ(nfsMount(live::host().c_str(), live::exportPath().c_str(), filelive::kDev), 0)
                << std::hex << errnoGet();
            ASSERT_EQ(nfs3StableWriteSet(stable), 0);
            const int fd = kOpen(dev(name).c_str(), K_O_RDWR | K_O_CREAT, 0644);
            ASSERT_GE(fd, 0) << std::hex << errnoGet();
            std::thread restarter;
            std::string newPid;
            int failedCalls = 0;
            for (std::size_t at = 0; at < kSize;) {
                if (at == kSize / 2 && !restarter.joinable())
                    restarter = std::thread([&newPid] { newPid = live::serverRestarted(); });
                const int written = kWrite(fd, bytes.data() + at,
                                           static_cast<int>(std::min<std::size_t>(kPiece, kSize - at)));
                if (written > 0) {
                    at += static_cast<std::size_t>(written);
                    continue;
                }
                // A transport failure: the call's own, or the dead server's host refusing.
                const int error = errnoGet();
                EXPECT_TRUE((static_cast<uint32_t>(error) & 0xffff0000U) ==
                                static_cast<uint32_t>(K_RPC_CLNT_ERRNO_BASE) ||
                            error == ECONNREFUSED)
                    << at << " " << std::hex << error;
                ASSERT_LT(++failedCalls, 400) << "the server did not come back";
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            restarter.join();
            EXPECT_GT(std::atoi(newPid.c_str()), 0) << "the server did not come back";
            EXPECT_GE(kIoctl(fd, K_FIOSYNC, 0), 0) << std::hex << errnoGet();
            EXPECT_EQ(kClose(fd), 0) << std::hex << errnoGet();
            const std::vector<char> held = onServer(name);
            EXPECT_TRUE(held == bytes) << "size " << held.size();
        }
    }
    nfs3StableWriteSet(savedStable);
}

// The start of a block of `file` that the cache keeps in line `index`.
uint64_t blockOnLine(NfsOpenFile *file, uint32_t index)
{
    NfsDataCache *cache = file->pCache;
    for (uint64_t start = 0; start < uint64_t{cache->nLines} * cache->lineSize; start += cache->lineSize)
        if (nfsWhichCacheLine(cache, file->attr.fileid, start) == index)
            return start;
    return 0;
}

// Two tasks whose writes each need a line that holds a block of a third file, sent UNSTABLE
// before the server restarted: both COMMIT that file (the server paused meanwhile, so that the
// two calls overlap), both learn of the new verifier, and both send the file's pinned lines
// again, each holding its own line, which is among them. Neither waits for the other's line
// until the time-out: both writes succeed, nothing of the third file counts as lost, and all
// three files are byte-exact on the server.
TEST_F(DataSafetyLive, TwoTasksSendingAgainTheLinesOfAFilePinnedBeforeARestartDoNotWaitForEachOther)
{
    std::mt19937 random(13);
    const std::vector<char> bytes = randomBytes(8 * 16384, random);
    NfsOpenFile *pinned = openRecord("pinned", K_O_RDWR | K_O_CREAT);
    ASSERT_NE(pinned, nullptr);
    ASSERT_EQ(nfs3Write(pinned, bytes.data(), static_cast<int>(bytes.size())),
              static_cast<int>(bytes.size()));
    ASSERT_GE(nfsCacheFileFlush(pinned, 0, NFS_V3), 0) << std::hex << errnoGet();
    NfsDataCache *cache = pinned->pCache;
    std::vector<uint32_t> lines;
    for (uint32_t i = 0; i < cache->nLines; ++i)
        if (cache->pLines[i].pOwner == pinned && (cache->pLines[i].flags & NFS_CACHE_PINNED) != 0)
            lines.push_back(i);
    ASSERT_GE(lines.size(), 2u) << "lines sent UNSTABLE wait for their COMMIT";
    // The tasks' lines: the last two of the pinned file, so that each would wait for the other.
    const std::array<uint32_t, 2> taken{lines.back(), lines[lines.size() - 2]};
    std::array<NfsOpenFile *, 2> writers{openRecord("a", K_O_RDWR | K_O_CREAT),
                                         openRecord("c", K_O_RDWR | K_O_CREAT)};
    ASSERT_TRUE(writers[0] != nullptr && writers[1] != nullptr);
    std::array<uint64_t, 2> at{};
    for (std::size_t w = 0; w < 2; ++w) {
        at[w] = blockOnLine(writers[w], taken[w]) + 100;
        ASSERT_EQ(nfs3Ioctl(writers[w], K_FIOSEEK, static_cast<intptr_t>(at[w])), 0);
    }
    // The server's write verifier changes with its start time in seconds: a restart in the
    // second the server started would keep it.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    ASSERT_GT(std::atoi(live::serverRestarted().c_str()), 0) << "the server did not come back";
    std::array<int, 2> written{};
    std::array<std::thread, 2> tasks;
    {
        live::PeerPaused paused("RT_GANESHA_PID");
        for (std::size_t w = 0; w < 2; ++w)
            tasks[w] = std::thread([&, w] { written[w] = nfs3Write(writers[w], bytes.data(), 1000); });
        // Both tasks hold their lines in their COMMIT calls before the server answers them.
        const auto bothHeld = [&] {
            return cache->pState->lines[taken[0]].claimant != 0 &&
                   cache->pState->lines[taken[1]].claimant != 0;
        };
        for (int wait = 0; wait < 200 && !bothHeld(); ++wait)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_TRUE(bothHeld()) << "each task waits for its COMMIT holding its line";
    }
    for (std::size_t w = 0; w < 2; ++w) {
        tasks[w].join();
        EXPECT_EQ(written[w], 1000) << w;
        EXPECT_EQ(nfs3Close(writers[w]), 0) << std::hex << errnoGet();
        std::vector<char> expected(static_cast<std::size_t>(at[w]), '\0');
        expected.insert(expected.end(), bytes.begin(), bytes.begin() + 1000);
        EXPECT_TRUE(onServer(w == 0 ? "a" : "c") == expected) << w;
    }
    EXPECT_EQ(pinned->lostErrno, 0) << std::hex << pinned->lostErrno;
    EXPECT_EQ(nfs3Close(pinned), 0) << std::hex << errnoGet();
    EXPECT_TRUE(onServer("pinned") == bytes);
}

} // namespace

namespace {

// A file written UNSTABLE far beyond the cache (4 MiB through 16 lines of 16 KiB): its lines
// stay pinned until a COMMIT covers them, so the cache commits the file as it reuses them,
// about once per cache's worth of lines, and what those COMMITs covered is on the server
// before the close: what waits for a COMMIT never exceeds the cache.
TEST_F(DataSafetyLive, AFileFarLargerThanTheCacheIsCommittedAsItsLinesAreReused)
{
    const auto commits = [] {
        return nfsStatSlot(IPPROTO_UDP, NFS_PROGRAM, NFS_V3, NFSPROC3_COMMIT).calls.value() +
               nfsStatSlot(IPPROTO_TCP, NFS_PROGRAM, NFS_V3, NFSPROC3_COMMIT).calls.value();
    };
    constexpr std::size_t kSize = 4U << 20;
    constexpr int kPiece = 65536;
    std::mt19937 random(12);
    const std::vector<char> bytes = randomBytes(kSize, random);
    NfsOpenFile *file = openRecord("far", K_O_RDWR | K_O_CREAT);
    ASSERT_NE(file, nullptr);
    const NfsDataCache &cache = *file->pCache;
    const uint64_t before = commits();
    for (std::size_t at = 0; at < kSize; at += kPiece)
        ASSERT_EQ(nfs3Write(file, bytes.data() + at, kPiece), kPiece) << at << std::hex << " " << errnoGet();
    const uint64_t lines = kSize / cache.lineSize;
    EXPECT_GE(commits() - before, lines / cache.nLines / 2) << "committed as the lines were reused";
    EXPECT_LE(commits() - before, 2 * lines / cache.nLines) << "not a COMMIT per line";
    const std::vector<char> held = onServer("far");
    const std::size_t covered = kSize - std::size_t{cache.nLines} * cache.lineSize;
    EXPECT_TRUE(held.size() >= covered &&
                std::equal(bytes.begin(), bytes.begin() + static_cast<long>(covered), held.begin()))
        << "all but the last cache's worth is on the server";
    EXPECT_EQ(nfs3Close(file), 0) << std::hex << errnoGet();
    EXPECT_TRUE(onServer("far") == bytes);
}

} // namespace

namespace {

// A device remounted with its lines of lineBytes and a window of calls in flight, for one case.
class SizeLive : public DataSafetyLive {
protected:
    void remount(int lineBytes, int32_t window)
    {
        ASSERT_EQ(nfsUnmount(filelive::kDev), 0) << std::hex << errnoGet();
        nfs3CacheParamsSet(16, lineBytes, 0);
        nfsMaxInFlight = window;
        ASSERT_EQ(nfsMount(live::host().c_str(), live::exportPath().c_str(), filelive::kDev), 0)
            << std::hex << errnoGet();
    }
    void TearDown() override
    {
        nfsMaxInFlight = savedWindow_;
        DataSafetyLive::TearDown();
    }
    static int64_t sizeOf(int fd)
    {
        struct kstat st {};
        EXPECT_EQ(kFstat(fd, &st), 0) << std::hex << errnoGet();
        return static_cast<int64_t>(st.st_size);
    }

private:
    int32_t savedWindow_ = nfsMaxInFlight;
};

// A write longer than the cache (its lines sent behind at the seek, their replies showing the
// server's size without the last cached bytes), a seek to the start, then an append at the end
// the file shows: the append lands after every byte written, never over the last one.
TEST_F(SizeLive, AnAppendAfterASeekLandsAfterEveryByteWritten)
{
    struct Case {
        int lineBytes;
        std::size_t size;
        bool tcpOnly; // 2 MiB lines take TCP's transfers
    };
    const Case cases[] = {{16384, 262145, false}, {65536, 1048577, false}, {2 << 20, (32U << 20) + 1, true}};
    std::mt19937 random(21);
    for (const Case &c : cases) {
        if (c.tcpOnly && live::serverOffersUdp())
            continue;
        const std::vector<char> bytes = randomBytes(c.size + 10, random);
        for (const int32_t window : {4, 16}) {
            const std::string name = "append-" + std::to_string(c.lineBytes) + "-" + std::to_string(window);
            SCOPED_TRACE(name);
            remount(c.lineBytes, window);
            const int fd = kOpen(dev(name).c_str(), K_O_RDWR | K_O_CREAT | K_O_TRUNC, 0644);
            ASSERT_GE(fd, 0) << std::hex << errnoGet();
            const int first = static_cast<int>(c.size % 2); // the longer files start one byte in
            ASSERT_EQ(kWrite(fd, bytes.data(), first), first);
            ASSERT_EQ(kWrite(fd, bytes.data() + first, static_cast<int>(c.size) - first),
                      static_cast<int>(c.size) - first);
            ASSERT_EQ(kLseek(fd, 0, K_SEEK_SET), 0);
            EXPECT_EQ(sizeOf(fd), static_cast<int64_t>(c.size));
            EXPECT_EQ(kLseek(fd, 0, K_SEEK_END), static_cast<int64_t>(c.size));
            EXPECT_EQ(kWrite(fd, bytes.data() + c.size, 10), 10);
            EXPECT_EQ(kClose(fd), 0) << std::hex << errnoGet();
            const std::vector<char> held = onServer(name);
            EXPECT_TRUE(held == bytes) << "size " << held.size();
        }
    }
}

// Bytes that one descriptor appended and another then wrote into stay unsent in their line,
// now the other's. A descriptor that takes the server's size afterwards (a READ's reply or a
// mode change through the first, the open of a third) still shows them, and an append there
// lands after them.
TEST_F(SizeLive, AnAppendLandsAfterBytesAnotherDescriptorHoldsUnsent)
{
    constexpr int kLine = 16384;
    constexpr int kHeld = 4 * kLine;
    enum class Taking { read, modeChange, thirdOpen };
    std::mt19937 random(23);
    for (const Taking taking : {Taking::read, Taking::modeChange, Taking::thirdOpen}) {
        const bool thirdOpen = taking == Taking::thirdOpen;
        const std::string name = "held-" + std::to_string(static_cast<int>(taking));
        SCOPED_TRACE(name);
        remount(kLine, 1);
        std::vector<char> model = randomBytes(kHeld, random);
        const int fill = kOpen(dev(name).c_str(), K_O_RDWR | K_O_CREAT | K_O_TRUNC, 0644);
        ASSERT_GE(fill, 0) << std::hex << errnoGet();
        ASSERT_EQ(kWrite(fill, model.data(), kHeld), kHeld);
        ASSERT_EQ(kClose(fill), 0) << std::hex << errnoGet();
        const int first = kOpen(dev(name).c_str(), K_O_RDWR, 0);
        ASSERT_GE(first, 0) << std::hex << errnoGet();
        const std::vector<char> appended = randomBytes(100, random);
        ASSERT_EQ(kLseek(first, 0, K_SEEK_END), kHeld);
        ASSERT_EQ(kWrite(first, appended.data(), 100), 100);
        model.insert(model.end(), appended.begin(), appended.end());
        const int second = kOpen(dev(name).c_str(), K_O_RDWR, 0);
        ASSERT_GE(second, 0) << std::hex << errnoGet();
        EXPECT_EQ(sizeOf(second), kHeld + 100);
        const std::vector<char> patch = randomBytes(10, random);
        ASSERT_EQ(kLseek(second, kHeld + 4, K_SEEK_SET), kHeld + 4);
        ASSERT_EQ(kWrite(second, patch.data(), 10), 10);
        std::copy(patch.begin(), patch.end(), model.begin() + kHeld + 4);
        int appender = first;
        if (thirdOpen) {
            appender = kOpen(dev(name).c_str(), K_O_RDWR, 0);
            ASSERT_GE(appender, 0) << std::hex << errnoGet();
        } else if (taking == Taking::modeChange) {
            ASSERT_EQ(kIoctl(first, K_FIOCHMOD, 0600), 0) << std::hex << errnoGet();
        } else {
            std::vector<char> got(100);
            ASSERT_EQ(kLseek(first, 0, K_SEEK_SET), 0);
            ASSERT_EQ(kRead(first, got.data(), 100), 100);
            EXPECT_TRUE(std::equal(got.begin(), got.end(), model.begin()));
        }
        EXPECT_EQ(sizeOf(appender), kHeld + 100);
        const std::vector<char> tail = randomBytes(10, random);
        ASSERT_EQ(kLseek(appender, 0, K_SEEK_END), kHeld + 100);
        ASSERT_EQ(kWrite(appender, tail.data(), 10), 10);
        model.insert(model.end(), tail.begin(), tail.end());
        EXPECT_EQ(kClose(first), 0) << std::hex << errnoGet();
        EXPECT_EQ(kClose(second), 0) << std::hex << errnoGet();
        if (thirdOpen) {
            EXPECT_EQ(kClose(appender), 0) << std::hex << errnoGet();
        }
        EXPECT_TRUE(onServer(name) == model) << "size " << onServer(name).size();
    }
}

// Random writes, truncations, seeks with appends and reads, checked against a model of the file
// after every step (the size the descriptor shows, the bytes read) and against the export at
// the end, at windows 1, 4 and 16.
TEST_F(SizeLive, RandomWritesTruncationsAndAppendsKeepTheFilesSizeAndBytes)
{
    constexpr int kLine = 16384;
    constexpr int kSteps = 300;
    std::mt19937 random(22);
    std::uniform_int_distribution<int> kind(0, 9);
    std::uniform_int_distribution<int> length(1, 3 * kLine);
    for (const int32_t window : {1, 4, 16}) {
        const std::string name = "fsx-" + std::to_string(window);
        SCOPED_TRACE(name);
        remount(kLine, window);
        const int fd = kOpen(dev(name).c_str(), K_O_RDWR | K_O_CREAT | K_O_TRUNC, 0644);
        ASSERT_GE(fd, 0) << std::hex << errnoGet();
        std::vector<char> model;
        for (int step = 0; step < kSteps; ++step) {
            const int k = kind(random);
            const int n = length(random);
            const std::size_t at =
                std::uniform_int_distribution<std::size_t>(0, model.size() + kLine)(random);
            if (k < 5) { // a write at a random place, or after a seek to the end (an append)
                const std::vector<char> data = randomBytes(static_cast<std::size_t>(n), random);
                const std::size_t to = k == 4 ? model.size() : at;
                ASSERT_EQ(k == 4 ? kLseek(fd, 0, K_SEEK_END)
                                 : kLseek(fd, static_cast<int64_t>(to), K_SEEK_SET),
                          static_cast<int64_t>(to))
                    << "step " << step;
                ASSERT_EQ(kWrite(fd, data.data(), n), n) << "step " << step << std::hex << " " << errnoGet();
                model.resize(std::max(model.size(), to + data.size()));
                std::copy(data.begin(), data.end(), model.begin() + static_cast<long>(to));
            } else if (k < 7) { // a new size, shorter or longer
                const std::size_t size = k == 5 ? at / 2 : at;
                ASSERT_EQ(kFtruncate(fd, static_cast<int64_t>(size)), 0) << "step " << step;
                model.resize(size);
            } else { // a read at a random place up to the end
                const std::size_t from = std::min(at, model.size());
                std::vector<char> got(static_cast<std::size_t>(n));
                ASSERT_EQ(kLseek(fd, static_cast<int64_t>(from), K_SEEK_SET), static_cast<int64_t>(from));
                const int read = kRead(fd, got.data(), n);
                const std::size_t expected =
                    std::min<std::size_t>(static_cast<std::size_t>(n), model.size() - from);
                ASSERT_EQ(read, static_cast<int>(expected)) << "step " << step;
                ASSERT_TRUE(
                    std::equal(got.begin(), got.begin() + read, model.begin() + static_cast<long>(from)))
                    << "step " << step;
            }
            ASSERT_EQ(sizeOf(fd), static_cast<int64_t>(model.size())) << "step " << step << " kind " << k;
        }
        EXPECT_EQ(kClose(fd), 0) << std::hex << errnoGet();
        EXPECT_TRUE(onServer(name) == model) << "size " << onServer(name).size();
    }
}

} // namespace
