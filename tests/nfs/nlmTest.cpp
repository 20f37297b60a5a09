// The lock manager's XDR routines (both versions) and its calls against a scripted manager.
#include "xdrTestWire.h"

#include "server/scriptedServer.h"

#include "core/nfsConfig.h"
#include "lock/nlmCall.h"
#include "lock/nlmHeld.h"
#include "lock/nlmOwner.h"
#include "lock/nlmReclaim.h"
#include "lock/nlmRestart.h"
#include "lock/nlmXdr.h"

#include <brisnel/nfsRpcLib.h>
#include <kernel/hostLib.h>
#include <kernel/kernelErrno.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

using xdrtest::Bytes;
using xdrtest::decode;
using xdrtest::encode;
using xdrtest::Wire;

namespace {

const std::string kFh = std::string("\x01\x02\x03\x04\x05", 5);
const std::string kOwner = "1234.7@client";
const std::string kCookie = "ck";

NlmLock lockOf(uint64_t offset, uint64_t length)
{
    return NlmLock{const_cast<char *>("client"),
                   NlmObject{static_cast<u_int>(kFh.size()), const_cast<char *>(kFh.data())},
                   NlmObject{static_cast<u_int>(kOwner.size()), const_cast<char *>(kOwner.data())},
                   -7,
                   offset,
                   length};
}

NlmObject cookie()
{
    return NlmObject{static_cast<u_int>(kCookie.size()), const_cast<char *>(kCookie.data())};
}

// The lock record on the wire, with 64-bit (version 4) or 32-bit (version 1) offsets.
Wire lockWire(uint64_t offset, uint64_t length, bool narrow)
{
    Wire wire = Wire().var("client").var(kFh).var(kOwner).u32(0xFFFFFFF9);
    return narrow ? wire.u32(static_cast<uint32_t>(offset)).u32(static_cast<uint32_t>(length))
                  : wire.u64(offset).u64(length);
}

} // namespace

TEST(XdrNlm, ArgumentsOfEachCall)
{
    constexpr uint64_t kHigh = 0x123456789AULL;
    for (const bool narrow : {false, true}) {
        const uint64_t offset = narrow ? 0x10 : kHigh;
        NlmLockArgs lock{narrow, cookie(), FALSE, TRUE, lockOf(offset, 0), TRUE, 3};
        EXPECT_EQ(encode(XDRPROC(xdrNlmLockArgs), &lock),
                  Wire().var(kCookie).u32(0).u32(1).append(lockWire(offset, 0, narrow)).u32(1).u32(3).bytes())
            << narrow;
        NlmUnlockArgs unlock{narrow, cookie(), lockOf(offset, 9)};
        EXPECT_EQ(encode(XDRPROC(xdrNlmUnlockArgs), &unlock),
                  Wire().var(kCookie).append(lockWire(offset, 9, narrow)).bytes());
    }
    // Version 1 cannot name an offset or a length past 32 bits.
    bool ok = true;
    NlmLockArgs far{true, cookie(), FALSE, TRUE, lockOf(kHigh, 0), FALSE, 0};
    encode(XDRPROC(xdrNlmLockArgs), &far, &ok);
    EXPECT_FALSE(ok);
    NlmUnlockArgs longer{true, cookie(), lockOf(0, uint64_t{1} << 32)};
    encode(XDRPROC(xdrNlmUnlockArgs), &longer, &ok);
    EXPECT_FALSE(ok);
}

TEST(XdrNlm, TestResultHolderOnlyWhenDenied)
{
    struct Case {
        bool narrow;
        Wire wire;
        uint32_t stat;
        bool exclusive;
        int32_t svid;
        uint64_t offset;
        uint64_t length;
    };
    const Case cases[] = {
        {false, Wire().var(kCookie).u32(NLM4_GRANTED), NLM4_GRANTED, false, 0, 0, 0},
        {false, Wire().var(kCookie).u32(NLM4_DENIED).u32(1).u32(42).var(kOwner).u64(0x100000000ULL).u64(0),
         NLM4_DENIED, true, 42, 0x100000000ULL, 0},
        {true, Wire().var(kCookie).u32(NLM4_DENIED).u32(0).u32(5).var(kOwner).u32(7).u32(9), NLM4_DENIED,
         false, 5, 7, 9},
        {false, Wire().var("").u32(NLM4_DENIED_GRACE_PERIOD), NLM4_DENIED_GRACE_PERIOD, false, 0, 0, 0},
    };
    for (const Case &c : cases) {
        NlmTestRes res{};
        res.narrow = c.narrow;
        u_int consumed = 0;
        ASSERT_TRUE(decode(XDRPROC(xdrNlmTestRes), c.wire.bytes(), &res, &consumed)) << c.stat;
        EXPECT_EQ(consumed, c.wire.bytes().size());
        EXPECT_EQ(res.stat, c.stat);
        EXPECT_EQ(res.holder.exclusive != 0, c.exclusive);
        EXPECT_EQ(res.holder.svid, c.svid);
        EXPECT_EQ(res.holder.l_offset, c.offset);
        EXPECT_EQ(res.holder.l_len, c.length);
        if (c.stat == NLM4_DENIED) {
            EXPECT_EQ(std::string(res.holder.oh.n_bytes, res.holder.oh.n_len), kOwner);
        }
        xdrtest::release(XDRPROC(xdrNlmTestRes), &res);
    }
    const Bytes denied = cases[1].wire.bytes();
    EXPECT_EQ(xdrtest::failuresOverEveryCut<NlmTestRes>(XDRPROC(xdrNlmTestRes), denied, [](NlmTestRes &) {}),
              denied.size());
}

TEST(XdrNlm, NetobjsBounded)
{
    xdrtest::expectBounded({"cookie", xdrtest::decoderOf<NlmRes>(XDRPROC(xdrNlmRes)),
                            [](u_int) { return Wire(); }, Wire().u32(NLM4_GRANTED), NLM_NETOBJ_MAX});
    xdrtest::expectBounded({"holder's owner", xdrtest::decoderOf<NlmTestRes>(XDRPROC(xdrNlmTestRes)),
                            [](u_int) { return Wire().var(kCookie).u32(NLM4_DENIED).u32(1).u32(1); },
                            Wire().u64(0).u64(0), NLM_NETOBJ_MAX});
}


namespace {

constexpr const char *kHost = "scripted-nlm";

// The lock manager's calls against a scripted manager.
class NlmScripted : public testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        server_ = scripted::ScriptedServer::start({}, &error);
        ASSERT_NE(server_, nullptr) << error;
        ASSERT_EQ(hostAdd(kHost, server_->address().c_str()), 0);
    }
    void TearDown() override
    {
        nfsClientClose();
        hostDelete(kHost, server_->address().c_str());
        nfsTimeoutSec = savedTimeout_;
    }
    // LOCK of version 4 answered with STATS in turn (the last one again and again); each call's
    // arguments kept.
    void lockAnswers(std::vector<uint32_t> stats)
    {
        server_->handle(
            NLM_PROGRAM, NLM_V4, NLMPROC_LOCK, [this, stats](const scripted::RpcCall &, XDR *args) {
                NlmLockArgs got{};
                const bool decoded = xdrNlmLockArgs(args, &got) != 0;
                const std::lock_guard<std::mutex> guard(lock_);
                if (decoded)
                    owners_.emplace_back(got.alock.oh.n_bytes, got.alock.oh.n_len);
                xdr_free(reinterpret_cast<xdrproc_t>(xdrNlmLockArgs), reinterpret_cast<char *>(&got));
                const uint32_t stat = stats[std::min(owners_.size() - 1, stats.size() - 1)];
                return scripted::Reply::ok(xdrNlmRes, NlmRes{{0, nullptr}, stat});
            });
    }

    std::unique_ptr<scripted::ScriptedServer> server_;
    std::mutex lock_;
    std::vector<std::string> owners_; // lock_ guards it
    int32_t savedTimeout_ = nfsTimeoutSec;
};

const NlmTarget kTarget{kHost, NLM_V4, kFh.data(), static_cast<u_int>(kFh.size()), 9};

} // namespace

// A server in its grace period is asked again, as the same owner, until it grants or the
// call's time-out passes; its last answer then stands.
TEST_F(NlmScripted, GracePeriodAskedAgainWithinTimeout)
{
    lockAnswers({NLM4_DENIED_GRACE_PERIOD, NLM4_DENIED_GRACE_PERIOD, NLM4_GRANTED});
    const nfsres::Result<uint32_t> granted = nlmLock(kTarget, NlmRange{true, 0, 0});
    ASSERT_TRUE(granted.ok()) << granted.error();
    EXPECT_EQ(granted.value(), NLM4_GRANTED);
    ASSERT_EQ(owners_.size(), 3u);
    EXPECT_EQ(owners_[2], nlmOwnerOf(9).handle);

    nfsTimeoutSec = 1;
    lockAnswers({NLM4_DENIED_GRACE_PERIOD});
    const nfsres::Result<uint32_t> graced = nlmLock(kTarget, NlmRange{true, 0, 0});
    ASSERT_TRUE(graced.ok()) << graced.error();
    EXPECT_EQ(nlmStatError(graced.value()), K_ENOLCK);
}


// A server whose portmapper points at no lock manager has no locks to give.
TEST_F(NlmScripted, NoLockManagerNoLocks)
{
    server_->setRegistrations({{NLM_PROGRAM, NLM_V4, scripted::ipprotoUdp, server_->programPort()}});
    EXPECT_EQ(nlmLock(kTarget, NlmRange{true, 0, 0}).error(), K_ENOLCK);
    EXPECT_EQ(nlmTest(kTarget, NlmRange{true, 0, 0}).error(), K_ENOLCK);
}

namespace {

// One LOCK as the scripted manager got it.
struct LockSeen {
    bool reclaim;
    bool exclusive;
    int32_t svid;
    uint64_t offset;
    uint64_t length;
    bool operator==(const LockSeen &) const = default;
};

std::ostream &operator<<(std::ostream &out, const LockSeen &l)
{
    return out << (l.reclaim ? "reclaim " : "lock ") << (l.exclusive ? "W " : "R ") << l.svid << " " << l.offset
               << "+" << l.length;
}

} // namespace

// A restart, seen as a grace answer while locks are held or as a device's new write verifier,
// has every held range (per task, merged and split as the held list keeps them) asked for
// again with reclaim set, before the call that met it is asked again; a range refused,
// failed or unanswered within the time-out is lost: out of the held list, and counted against
// its file once per restart.
TEST_F(NlmScripted, RestartReclaimsEveryHeldRangeFirst)
{
    constexpr uint64_t kSilentAt = 700; // the manager never answers its reclaim in time
    const std::string fhB = "other-file";
    int device = 0;
    struct Case {
        const char *name;
        bool byVerifier;
        uint32_t refusal; // the answer to the reclaim at 500
    };
    const Case cases[] = {{"grace answer, denied", false, NLM4_DENIED},
                          {"new verifier, failed", true, NLM4_FAILED}};
    nfsTimeoutSec = 1;
    for (const Case &c : cases) {
        std::vector<LockSeen> seen;
        bool graceSent = false;
        server_->handle(NLM_PROGRAM, NLM_V4, NLMPROC_LOCK, [&](const scripted::RpcCall &, XDR *args) {
            NlmLockArgs got{};
            const bool decoded = xdrNlmLockArgs(args, &got) != 0;
            const LockSeen lock{got.reclaim != 0, got.exclusive != 0, got.alock.svid, got.alock.l_offset,
                                got.alock.l_len};
            xdr_free(reinterpret_cast<xdrproc_t>(xdrNlmLockArgs), reinterpret_cast<char *>(&got));
            uint32_t stat = NLM4_GRANTED;
            {
                const std::lock_guard<std::mutex> guard(lock_);
                if (decoded)
                    seen.push_back(lock);
                if (!lock.reclaim && !graceSent && !c.byVerifier)
                    stat = NLM4_DENIED_GRACE_PERIOD;
                graceSent = graceSent || stat == NLM4_DENIED_GRACE_PERIOD;
            }
            if (lock.reclaim && lock.offset == 500)
                stat = c.refusal;
            if (lock.reclaim && lock.offset == kSilentAt)
                return scripted::Reply::of(scripted::ReplyKind::silent);
            return scripted::Reply::ok(xdrNlmRes, NlmRes{{0, nullptr}, stat});
        });
        const auto held = [&](uintptr_t task, const std::string &fh) {
            return NlmHeldFile{&device, kHost, NfsMountOptions{}, NLM_V4, fh, task, {}};
        };
        // Task 9: [0, 150) written, [100, 150) let go, [200, 210) read; task 10: one range
        // refused, one unanswered, on another file.
        const NlmRange ranges[] = {{true, 0, 150}, {false, 200, 10}};
        for (const NlmRange &range : ranges)
            ASSERT_TRUE(nlmHeldNote(held(9, kFh), &range));
        nlmHeldCut(held(9, kFh), NlmRange{true, 100, 50});
        const NlmRange lost[] = {{true, 500, 10}, {true, kSilentAt, 0}};
        for (const NlmRange &range : lost)
            ASSERT_TRUE(nlmHeldNote(held(10, fhB), &range));
        if (c.byVerifier) {
            nlmVerifierSeen(&device, kHost, "verfier1", 8);
            nlmVerifierSeen(&device, kHost, "verfier1", 8); // the same server: nothing due
            ASSERT_EQ(nlmReclaimIfDue(kHost), 0);
            EXPECT_TRUE(seen.empty()) << c.name;
            nlmVerifierSeen(&device, kHost, "verfier2", 8);
        }
        const nfsres::Result<uint32_t> granted = nlmLock(kTarget, NlmRange{true, 300, 10});
        ASSERT_TRUE(granted.ok()) << c.name << ": " << granted.error();
        EXPECT_EQ(granted.value(), NLM4_GRANTED) << c.name;
        const int32_t svid9 = nlmOwnerOf(9).svid;
        const int32_t svid10 = nlmOwnerOf(10).svid;
        std::vector<LockSeen> expected;
        if (!c.byVerifier)
            expected.push_back({false, true, svid9, 300, 10}); // met the grace period
        const std::vector<LockSeen> reclaims = {{true, true, svid9, 0, 100},
                                                {true, false, svid9, 200, 10},
                                                {true, true, svid10, 500, 10},
                                                {true, true, svid10, kSilentAt, 0}};
        expected.insert(expected.end(), reclaims.begin(), reclaims.end());
        expected.push_back({false, true, svid9, 300, 10});
        {
            const std::lock_guard<std::mutex> guard(lock_);
            // An unanswered reclaim is sent again within its time-out: counted once here.
            seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
            EXPECT_EQ(seen, expected) << c.name;
        }
        EXPECT_EQ(nlmHeldLosses(&device, kFh), 0U) << c.name;
        EXPECT_EQ(nlmHeldLosses(&device, fhB), 1U) << c.name;
        EXPECT_TRUE(nlmHeldAnyOn(kHost)) << c.name;
        std::vector<NlmHeldFile> left = nlmHeldOn(kHost);
        ASSERT_EQ(left.size(), 1U) << c.name; // task 10's file holds nothing any more
        EXPECT_EQ(left[0].task, 9U);
        EXPECT_EQ(left[0].ranges.held().size(), 2U);
        // A restart's pass is made once: the next call goes straight out.
        {
            const std::lock_guard<std::mutex> guard(lock_);
            seen.clear();
        }
        EXPECT_TRUE(nlmLock(kTarget, NlmRange{true, 400, 10}).ok());
        EXPECT_EQ(seen.size(), 1U) << c.name;
        nlmHeldTakeDevice(&device); // the unmount's: losses forgotten
        nlmVerifierForget(&device);
        EXPECT_EQ(nlmHeldLosses(&device, fhB), 0U);
    }
}
