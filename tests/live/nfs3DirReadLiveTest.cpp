// Directory reading against the real server, with the directory's open-file record built by
// hand as the open entry builds it: every entry exactly once through many batches, the end,
// a restart with a zero cookie, and the release of the held batch.
#include "live/nfs3LookupLiveTest.h"

#include "core/nfsConfig.h"

#include <kernel/kernelStat.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>

namespace {

using live::Looked;
using live::PathBuffer;

class DirReadLive : public live::NameOpsLive {
protected:
    // The record the open entry makes for a directory: handle, zeroed cookie buffer and
    // verifier, no batch.
    struct OpenDir {
        NfsDevice dev{};
        std::array<char, NFS3_FHSIZE> fhBytes{};
        NfsOpenFile file{};
        KDIR dir{};
        OpenDir()
        {
            file.pDev = &dev;
            file.fh.data.data_val = fhBytes.data();
            file.cookie = static_cast<char *>(std::calloc(1, NFS_COOKIE_SIZE));
        }
        OpenDir(const OpenDir &) = delete;
        OpenDir &operator=(const OpenDir &) = delete;
        ~OpenDir()
        {
            nfs3DirReplyRelease(&file);
            std::free(file.cookie);
        }
        int next() { return nfs3DirReadOne(&file, &dir); }
        std::string name() const { return dir.dd_dirent.d_name; }
    };

    void open(const std::string &name, OpenDir &open)
    {
        std::snprintf(open.dev.host, sizeof open.dev.host, "%s", live::host().c_str());
        Looked looked;
        PathBuffer path(rel(name));
        ASSERT_EQ(lookUp(path, looked), 0);
        ASSERT_EQ(looked.attr().type, NF3DIR);
        nfs3path::handleCopy(looked.object(), &open.file.fh);
    }

    // Reads to the end: how often each name came and how many batches were held.
    static void readAll(OpenDir &open, std::map<std::string, int> *seen, int *batches)
    {
        *batches = 0;
        for (int calls = 0; calls < 100000; ++calls) {
            ASSERT_EQ(open.next(), 0) << std::hex << errnoGet();
            if (open.dir.dd_eof == 1)
                return;
            ++(*seen)[open.name()];
            // A batch begins where the entry handed out is the first of the batch held; the
            // batch's address says nothing, as the allocator may give a new one the old place.
            const READDIR3res *held = open.file.dirReply;
            const entry3 *first = held == nullptr ? nullptr : held->READDIR3res_u.resok.reply.entries;
            if (first != nullptr && open.name() == first->name)
                ++*batches;
        }
        FAIL() << "no end of directory";
    }
};

TEST_F(DirReadLive, ThreeThousandEntriesComeExactlyOnceThroughManyBatches)
{
    makeDir("big");
    std::set<std::string> names = {".", ".."};
    for (int i = 0; i < 3000; ++i) {
        const std::string name = "entry-" + std::to_string(i);
        makeFile("big/" + name);
        names.insert(name);
    }
    const int32_t savedCount = nfs3MaxRddirSz;
    std::map<std::string, int> seen;
    int batches = 0;
    int smallBatches = 0;
    // 4 KiB, and the server's preferred 16 KiB, which no longer fits the RPC library's
    // default receive buffer: the handle is sized for it.
    for (const int32_t count : {4096, 16384}) {
        nfs3MaxRddirSz = count;
        OpenDir each;
        open("big", each);
        seen.clear();
        readAll(each, &seen, &batches);
        EXPECT_EQ(seen.size(), names.size()) << "READDIR count " << count;
        for (const auto &[name, times] : seen) {
            EXPECT_EQ(times, 1) << name;
            EXPECT_TRUE(names.count(name) == 1) << "not in the folder: " << name;
        }
        EXPECT_EQ(each.file.dirReply, nullptr) << "the final batch is released at the end";
        if (count == 4096)
            smallBatches = batches;
    }
    nfs3MaxRddirSz = savedCount;
    EXPECT_GT(smallBatches, 10);
    EXPECT_LT(batches, smallBatches / 2) << "16 KiB batches carry more than twice as many entries";

    OpenDir dir;
    open("big", dir);

    // Part way through the second listing, a zero cookie starts over.
    dir.dir = KDIR{};
    for (int i = 0; i < 700; ++i)
        ASSERT_EQ(dir.next(), 0);
    ASSERT_NE(dir.file.dirReply, nullptr);
    dir.dir.dd_cookie = 0;
    std::map<std::string, int> again;
    readAll(dir, &again, &batches);
    EXPECT_EQ(again, seen) << "the whole directory again after the restart";
}

TEST_F(DirReadLive, ASmallDirectoryEndsAndStaysEnded)
{
    makeDir("small");
    makeFile("small/a");
    OpenDir dir;
    open("small", dir);
    std::set<std::string> got;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(dir.next(), 0);
        EXPECT_EQ(dir.dir.dd_eof, 0);
        got.insert(dir.name());
        EXPECT_EQ(dir.dir.dd_cookie, reinterpret_cast<intptr_t>(dir.file.cookie))
            << "the cookie word is the address of the cookie buffer";
    }
    EXPECT_EQ(got, (std::set<std::string>{".", "..", "a"}));
    ASSERT_NE(dir.file.dirReply, nullptr);
    ASSERT_EQ(dir.next(), 0);
    EXPECT_EQ(dir.dir.dd_eof, 1);
    EXPECT_EQ(dir.file.dirReply, nullptr);
    dir.dir.dd_eof = 0;
    ASSERT_EQ(dir.next(), 0) << "asked once more with the last cookie";
    EXPECT_EQ(dir.dir.dd_eof, 1);

    // At the end, a restart lists the directory again, now with an entry made through the
    // server (it does not see changes made behind its back at once).
    std::array<char, NFS3_FHSIZE> parentBytes{};
    nfs_fh3 parent{{0, parentBytes.data()}};
    nfs3path::handleCopy(dir.file.fh, &parent);
    CREATE3res res{};
    PathBuffer b(rel("small/b"));
    ASSERT_EQ(nfs3ThingCreate(live::host().c_str(), b.data(), &mountFh(), &res, &parent, 0), 0);
    EXPECT_TRUE(exists("small/b"));
    dir.dir = KDIR{};
    got.clear();
    while (dir.next() == 0 && dir.dir.dd_eof == 0)
        got.insert(dir.name());
    EXPECT_EQ(got, (std::set<std::string>{".", "..", "a", "b"}));
}

TEST_F(DirReadLive, LongestNamesComeWhole)
{
    makeDir("names");
    const std::string longest(255, 'n');
    makeFile("names/" + longest);
    OpenDir dir;
    open("names", dir);
    bool found = false;
    while (dir.next() == 0 && dir.dir.dd_eof == 0)
        found |= dir.name() == longest;
    EXPECT_TRUE(found);
}

TEST_F(DirReadLive, AFileIsNotReadAsADirectory)
{
    makeFile("plain");
    OpenDir dir;
    std::snprintf(dir.dev.host, sizeof dir.dev.host, "%s", live::host().c_str());
    Looked looked;
    PathBuffer path(rel("plain"));
    ASSERT_EQ(lookUp(path, looked), 0);
    nfs3path::handleCopy(looked.object(), &dir.file.fh);
    EXPECT_EQ(dir.next(), -1);
    EXPECT_EQ(errnoGet(), 0x300014) << "the server refuses READDIR on a file";
    EXPECT_EQ(dir.file.dirReply, nullptr);

    std::free(dir.file.cookie);
    dir.file.cookie = nullptr; // a record opened as a file has no cookie buffer
    EXPECT_EQ(dir.next(), -1);
    EXPECT_EQ(errnoGet(), 0x300014);
}

} // namespace
