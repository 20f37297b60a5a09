// Directory reading against the scripted server, for what no real server does: a refused
// cookie, a reply with neither entries nor the end, names longer than the entry holds, replies
// cut short; and what the second READDIR of a listing carries.
#include "core/nfsConfig.h"
#include "ops/nfs3PathOps.h"
#include "server/scriptedServer.h"

#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/hostLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/memLib.h>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using scripted::DecodedArgs;
using scripted::Reply;
using scripted::RpcCall;

constexpr const char *kHost = "h8-readdir-faults";
constexpr const char *kAddress = "127.0.0.82";

struct Batch {
    std::vector<std::string> names; // cookies are 100 + the entry's place in the listing
    bool eof = false;
    nfsstat3 status = NFS3_OK;
    bool cut = false;        // the entries end in the middle of a name
    bool cookieOnce = false; // every entry after the first repeats the first one's cookie
    bool doubled = false;    // every entry comes twice, with the same cookie
    bool replayed = false;   // the cookies of the first batch again, whatever was asked
};

class DirReadFault : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(hostAdd(kHost, kAddress), 0);
        std::string error;
        server_ = scripted::ScriptedServer::start({.address = kAddress}, &error);
        ASSERT_NE(server_, nullptr) << error;
        nfsClientClose();
        server_->handle(NFS_PROGRAM, NFS_V3, NFSPROC3_READDIR,
                        [this](const RpcCall &, XDR *args) { return readDir(args); });
        std::snprintf(dev_.host, sizeof dev_.host, "%s", kHost);
        file_.pDev = &dev_;
        file_.fh.data = {3, handleText_};
        file_.cookie = static_cast<char *>(std::calloc(1, NFS_COOKIE_SIZE));
    }
    void TearDown() override
    {
        nfs3DirReplyRelease(&file_);
        std::free(file_.cookie);
        nfsClientClose();
        server_.reset();
    }

    // Serves batches_ in turn, from the first entry whose cookie follows the one asked for.
    Reply readDir(XDR *xdrs)
    {
        DecodedArgs<READDIR3args> args(xdrs, xdr_READDIR3args);
        const std::lock_guard lock(mutex_);
        seenCookies_.push_back(args.value().cookie);
        seenVerifiers_.emplace_back(args.value().cookieverf, NFS3_COOKIEVERFSIZE);
        const Batch batch = batches_.at(std::min(next_++, batches_.size() - 1));
        const uint64_t first = batch.replayed ? 0 : firstCookie_;
        firstCookie_ += batch.replayed ? 0 : batch.names.size();
        return Reply::ok([batch, first](XDR *out) {
            READDIR3res res{};
            res.status = batch.status;
            if (batch.status != NFS3_OK)
                return xdr_READDIR3res(out, &res) != 0;
            std::memcpy(res.READDIR3res_u.resok.cookieverf, "verifier", NFS3_COOKIEVERFSIZE);
            const std::size_t copies = batch.doubled ? 2 : 1;
            std::vector<entry3> entries(batch.names.size() * copies);
            for (std::size_t i = 0; i < entries.size(); ++i) {
                const std::size_t at = i / copies;
                entries[i].fileid = first + at;
                entries[i].name = const_cast<char *>(batch.names[at].c_str());
                entries[i].cookie = 100 + first + (batch.cookieOnce ? 0 : at);
                entries[i].nextentry = i + 1 < entries.size() ? &entries[i + 1] : nullptr;
            }
            res.READDIR3res_u.resok.reply.entries = entries.empty() ? nullptr : entries.data();
            res.READDIR3res_u.resok.reply.eof = batch.eof ? TRUE : FALSE;
            if (!batch.cut)
                return xdr_READDIR3res(out, &res) != 0;
            nfsstat3 ok = NFS3_OK;
            bool_t none = FALSE;
            bool_t more = TRUE;
            uint64_t id = 1;
            u_int length = 40;
            return xdr_nfsstat(out, &ok) && xdr_bool(out, &none) &&
                   xdr_opaque(out, res.READDIR3res_u.resok.cookieverf, NFS3_COOKIEVERFSIZE) &&
                   xdr_bool(out, &more) && xdr_uint64(out, &id) && xdr_u_int(out, &length);
        });
    }

    void serve(std::vector<Batch> batches)
    {
        const std::lock_guard lock(mutex_);
        batches_ = std::move(batches);
        next_ = 0;
        firstCookie_ = 0;
        seenCookies_.clear();
        seenVerifiers_.clear();
    }
    int next() { return nfs3DirReadOne(&file_, &dir_); }
    std::string name() const { return dir_.dd_dirent.d_name; }
    std::vector<uint64_t> cookiesSeen()
    {
        const std::lock_guard lock(mutex_);
        return seenCookies_;
    }

    std::unique_ptr<scripted::ScriptedServer> server_;
    std::mutex mutex_; // guards the five members below, shared with the server's thread
    std::vector<Batch> batches_;
    std::size_t next_ = 0;
    uint64_t firstCookie_ = 0;
    std::vector<uint64_t> seenCookies_;
    std::vector<std::string> seenVerifiers_;

    char handleText_[4] = "dir";
    NfsDevice dev_{};
    NfsOpenFile file_{};
    KDIR dir_{};
};

TEST_F(DirReadFault, TheNextBatchAsksAfterTheLastEntryWithTheVerifier)
{
    serve({{{"a", "b"}, false}, {{"c"}, true}});
    for (const char *expected : {"a", "b", "c"}) {
        ASSERT_EQ(next(), 0) << std::hex << errnoGet();
        EXPECT_EQ(name(), expected);
    }
    ASSERT_EQ(next(), 0);
    EXPECT_EQ(dir_.dd_eof, 1);
    EXPECT_EQ(cookiesSeen(), (std::vector<uint64_t>{0, 101}));
    const std::lock_guard lock(mutex_);
    EXPECT_EQ(seenVerifiers_.at(0), std::string(NFS3_COOKIEVERFSIZE, '\0'));
    EXPECT_EQ(seenVerifiers_.at(1), "verifier");
}

// "Try again later" is no answer: the READDIR goes again until the server answers.
TEST_F(DirReadFault, AListingToldToTryLaterAsksAgain)
{
    serve({{{"a", "b"}, true}});
    server_->setRetryLater(2);
    ASSERT_EQ(next(), 0) << std::hex << errnoGet();
    EXPECT_EQ(name(), "a");
    EXPECT_EQ(server_->callCount(NFS_PROGRAM, NFS_V3, NFSPROC3_READDIR), 3u);
    EXPECT_EQ(cookiesSeen(), (std::vector<uint64_t>{0}));
}

TEST_F(DirReadFault, ARefusedCookieGivesItsStatusAndHoldsNoBatch)
{
    serve({{{"a", "b"}, false}, {{}, false, NFS3ERR_BAD_COOKIE}});
    ASSERT_EQ(next(), 0);
    ASSERT_EQ(next(), 0);
    EXPECT_EQ(next(), -1);
    EXPECT_EQ(errnoGet(), 0x302713);
    EXPECT_EQ(file_.dirReply, nullptr);
    EXPECT_EQ(dir_.dd_eof, 0);
}

TEST_F(DirReadFault, NeitherEntriesNorTheEndIsAFailureWithTheErrorNumberUnchanged)
{
    serve({{{"a"}, false}, {{}, false}});
    ASSERT_EQ(next(), 0);
    errnoSet(0x1234);
    EXPECT_EQ(next(), -1);
    EXPECT_EQ(errnoGet(), 0x1234);
    EXPECT_EQ(file_.dirReply, nullptr);
    EXPECT_EQ(dir_.dd_eof, 0);

    serve({{{}, true}});
    ASSERT_EQ(next(), 0);
    EXPECT_EQ(dir_.dd_eof, 1) << "an empty final batch is the end";
}

// No file system makes names over 255 bytes: a batch carrying one is a forged reply.
TEST_F(DirReadFault, ABatchWithANameOverTheLimitIsRefusedWhole)
{
    serve({{{"before", std::string(256, 'n'), "after"}, true}});
    EXPECT_EQ(next(), -1);
    EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | RPC_CANTDECODERES);
    EXPECT_EQ(file_.dirReply, nullptr);
}

// Entries a listing delivered (cookie and name) are not delivered again: each name once, and a
// listing that brings nothing new ends (at the server's end) or fails, instead of going on
// forever. Distinct names sharing a cookie are each listed.
TEST_F(DirReadFault, RepeatedCookiesDeliverEachNameOnceAndTheListingEnds)
{
    const struct {
        const char *what;
        std::vector<Batch> batches;
        std::vector<std::string> listed;
        int endError; // 0: the listing ends with the end flag
    } cases[] = {
        {"one cookie for a batch", {{{"a", "b", "c"}, true, NFS3_OK, false, true}}, {"a", "b", "c"}, 0},
        {"one cookie, then the same again",
         {{{"a", "b", "c"}, false, NFS3_OK, false, true},
          {{"a", "b", "c"}, false, NFS3_OK, false, true, false, true}},
         {"a", "b", "c"},
         K_EIO},
        {"one cookie, each name twice", {{{"a", "b"}, true, NFS3_OK, false, true, true}}, {"a", "b"}, 0},
        {"every name twice",
         {{{"a", "b"}, false, NFS3_OK, false, false, true}, {{"c"}, true, NFS3_OK, false, false, true}},
         {"a", "b", "c"},
         0},
        {"the first batch again",
         {{{"a", "b"}, false}, {{"a", "b"}, false, NFS3_OK, false, false, false, true}},
         {"a", "b"},
         K_EIO},
    };
    for (const auto &c : cases) {
        serve(c.batches);
        dir_ = KDIR{};
        std::vector<std::string> listed;
        int result = 0;
        for (int calls = 0; calls < 20; ++calls) {
            errnoSet(0);
            result = next();
            if (result != 0 || dir_.dd_eof != 0)
                break;
            listed.push_back(name());
        }
        EXPECT_EQ(listed, c.listed) << c.what;
        EXPECT_EQ(result, c.endError == 0 ? 0 : -1) << c.what;
        EXPECT_EQ(dir_.dd_eof, c.endError == 0 ? 1 : 0) << c.what;
        if (c.endError != 0) {
            EXPECT_EQ(errnoGet(), c.endError) << c.what;
        }
        EXPECT_EQ(file_.dirReply, nullptr) << c.what;
    }
}

TEST_F(DirReadFault, ARestartReleasesTheHeldBatchAndAsksFromTheStart)
{
    serve({{{"a", "b", "c"}, true}, {{"a", "b", "c"}, true}});
    ASSERT_EQ(next(), 0);
    ASSERT_EQ(next(), 0);
    EXPECT_EQ(name(), "b");
    dir_.dd_cookie = 0;
    ASSERT_EQ(next(), 0);
    EXPECT_EQ(name(), "a");
    EXPECT_EQ(cookiesSeen(), (std::vector<uint64_t>{0, 0}));
}

TEST_F(DirReadFault, AReplyCutShortOrNoMemoryFailsWithoutABatch)
{
    serve({{{"a", "b"}, false, NFS3_OK, true}, {{"a"}, true}});
    EXPECT_EQ(next(), -1);
    EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | RPC_CANTDECODERES);
    EXPECT_EQ(file_.dirReply, nullptr);
    ASSERT_EQ(next(), 0) << "the next call asks again";
    EXPECT_EQ(name(), "a");

    nfs3DirReplyRelease(&file_);
    dir_ = KDIR{};
    server_->resetCounts();
    memPartFailNext(1);
    EXPECT_EQ(next(), -1);
    EXPECT_EQ(errnoGet(), K_ENOMEM);
    EXPECT_EQ(server_->callCount(NFS_PROGRAM, NFS_V3, NFSPROC3_READDIR), 0u);
}

TEST_F(DirReadFault, ASilentServerFailsTheCallAndTheRetryKeepsTheCookie)
{
    const int32_t timeout = nfsTimeoutSec;
    const int32_t retransmit = nfsReXmitSec;
    nfsTimeoutSec = 1;
    nfsReXmitSec = 1;
    serve({{{"a", "b"}, false}, {{"c"}, true}});
    ASSERT_EQ(next(), 0);
    ASSERT_EQ(next(), 0);
    server_->setProgramBehaviour(NFS_PROGRAM, scripted::Behaviour::silent());
    EXPECT_EQ(next(), -1);
    EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT);
    EXPECT_EQ(file_.dirReply, nullptr);
    server_->setProgramBehaviour(NFS_PROGRAM, scripted::Behaviour::answer());
    ASSERT_EQ(next(), 0);
    EXPECT_EQ(name(), "c");
    EXPECT_EQ(cookiesSeen().back(), 101u);
    nfsTimeoutSec = timeout;
    nfsReXmitSec = retransmit;
}

} // namespace
