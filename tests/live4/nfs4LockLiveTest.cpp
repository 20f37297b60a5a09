// Version 4 byte-range locks against a server of version 4 alone, over 4.1 and over 4.0 (asked
// for): two tasks of this program as two lock owners through one open file, and a 4.1 and a 4.0
// state of this program as two clients.
#include "live4/nfs4Live.h"

#include "state/nfs4Locks.h"
#include "state/nfs4MountWalk.h"

#include <kernel/kernelErrno.h>
#include <kernel/taskLib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>
#include <thread>

namespace {

uintptr_t thisTask()
{
    return taskIdCurrent()->taskId;
}

// The file NAME of the exported folder opened for reading and writing through STATE.
Nfs4OpenFile openFile(Nfs4ClientState &state, const std::string &name)
{
    const auto root = nfs4MountWalk(state, live::env("RT_NFS_V4_EXPORT").c_str());
    const auto opened = root.ok() ? nfs4Open(state, root.value().fh, name.c_str(), {OPEN4_SHARE_ACCESS_BOTH})
                                  : nfsres::Result<Nfs4OpenFile>{root.fail()};
    EXPECT_TRUE(opened.ok()) << std::hex << opened.error();
    return opened.ok() ? opened.value() : Nfs4OpenFile{};
}

// What a lock call answered: its error and the conflict it named.
struct Named {
    int error = 0;
    nfs_lock_type4 type = WRITE_LT;
    uint64_t offset = 0;
    uint64_t length = 0;
    uintptr_t task = 0;
    bool operator==(const Named &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Named &n)
{
    return out << "{0x" << std::hex << n.error << std::dec << " type " << n.type << " " << n.offset << "+"
               << n.length << " task " << n.task << "}";
}

// The files have names of their own: the server may still know an earlier file's by its name.
class Nfs4LockLive : public testing::TestWithParam<Nfs4Minors> {
protected:
    void SetUp() override
    {
        name_ = std::string("v4locks-") + testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name_.begin(), name_.end(), '/', '-');
        std::ofstream(live::exportDir() + "/" + name_) << "locks";
        ASSERT_TRUE(user_.ok());
        file_ = openFile(*user_, name_);
        ASSERT_FALSE(file_.fh.empty());
    }
    void TearDown() override
    {
        for (const uintptr_t task : {a_, b_})
            EXPECT_TRUE(nfs4LockReleaseTask(*user_, task).ok());
        (void)nfs4Close(*user_, file_).ok();
        std::filesystem::remove(live::exportDir() + "/" + name_);
    }
    Named set(uintptr_t task, nfs_lock_type4 type, uint64_t offset, uint64_t length)
    {
        Nfs4LockConflict c{};
        const nfsres::Status status = nfs4LockSet(*user_, file_, task, {type, offset, length}, &c);
        return status.ok() ? Named{} : Named{status.error(), c.type, c.offset, c.length, c.task};
    }
    Named test(uintptr_t task, nfs_lock_type4 type, uint64_t offset, uint64_t length)
    {
        const auto tested = nfs4LockTest(*user_, file_, task, {type, offset, length});
        if (!tested.ok() || !tested.value())
            return Named{tested.error()};
        const Nfs4LockConflict &c = *tested.value();
        return Named{0, c.type, c.offset, c.length, c.task};
    }
    Named unlock(uintptr_t task, uint64_t offset, uint64_t length)
    {
        return Named{nfs4LockUnlock(*user_, file_, task, {WRITE_LT, offset, length}).error()};
    }

    StateUser user_{GetParam()};
    const uintptr_t a_ = thisTask();
    const uintptr_t b_ = std::async(std::launch::async, thisTask).get(); // a task made for the test
    std::string name_;
    Nfs4OpenFile file_;
};

constexpr int kDenied = K_EAGAIN;
constexpr uint64_t kFar = uint64_t{1} << 40; // past 2^31 and 2^32 both

} // namespace

TEST_P(Nfs4LockLive, ReadLocksSharedWriteLocksExclusivePartsUnlocked)
{
    enum Call { Lock, Tell, Unlock };
    const uintptr_t a = a_;
    const uintptr_t b = b_;
    const struct {
        const char *what;
        Call call;
        uintptr_t task;
        nfs_lock_type4 type;
        uint64_t offset;
        uint64_t length;
        Named expected;
    } steps[] = {
        {"a reads", Lock, a, READ_LT, 0, 100, {}},
        {"b reads over it: shared", Lock, b, READ_LT, 50, 100, {}},
        {"b writes into a's read lock", Lock, b, WRITE_LT, 0, 10, {kDenied, READ_LT, 0, 100, a}},
        {"a writes to the end, far out", Lock, a, WRITE_LT, kFar, 0, {}},
        {"b reads past 2^40", Lock, b, READ_LT, kFar + 5, 1, {kDenied, WRITE_LT, kFar, 0, a}},
        {"a writes over its own read lock", Lock, a, WRITE_LT, 0, 40, {}},
        {"b tests a read", Tell, b, READ_LT, 0, 1000, {0, WRITE_LT, 0, 40, a}},
        {"b tests a write", Tell, b, WRITE_LT, 45, 1, {0, READ_LT, 40, 60, a}},
        {"b tests a read among reads", Tell, b, READ_LT, 45, 1, {}},
        {"a unlocks the middle", Unlock, a, WRITE_LT, 10, 20, {}},
        {"b writes in the hole", Lock, b, WRITE_LT, 10, 20, {}},
        {"b reads at the hole's end", Lock, b, READ_LT, 29, 2, {kDenied, WRITE_LT, 30, 10, a}},
        {"a unlocks all", Unlock, a, WRITE_LT, 0, 0, {}},
        {"a reads all", Lock, a, READ_LT, 0, 0, {kDenied, WRITE_LT, 10, 20, b}},
        {"b writes all", Lock, b, WRITE_LT, 0, 0, {}},
        {"a range past 2^64", Lock, a, WRITE_LT, UINT64_MAX - 1, 2, {NFS_ERRNO_INVAL}},
    };
    for (const auto &s : steps) {
        const Named got = s.call == Lock   ? set(s.task, s.type, s.offset, s.length)
                          : s.call == Tell ? test(s.task, s.type, s.offset, s.length)
                                           : unlock(s.task, s.offset, s.length);
        EXPECT_EQ(s.expected, got) << s.what;
    }
}

TEST_P(Nfs4LockLive, WaitingLockIsGrantedOnceTheHolderUnlocksAndEndsWhenInterrupted)
{
    ASSERT_EQ((Named{}), set(a_, WRITE_LT, 0, 0));
    auto waited = std::async(std::launch::async, [this] {
        return nfs4LockWait(*user_, file_, b_, {WRITE_LT, 10, 10}, [] { return false; }).error();
    });
    EXPECT_EQ(std::future_status::timeout, waited.wait_for(std::chrono::milliseconds(1500)));
    ASSERT_EQ((Named{}), unlock(a_, 0, 0));
    ASSERT_EQ(std::future_status::ready, waited.wait_for(std::chrono::seconds(10)));
    EXPECT_EQ(0, waited.get());
    EXPECT_EQ((Named{kDenied, WRITE_LT, 10, 10, b_}), set(a_, READ_LT, 15, 1));

    std::atomic<bool> stop{false};
    auto interrupted = std::async(std::launch::async, [&] {
        return nfs4LockWait(*user_, file_, a_, {READ_LT, 0, 20}, [&] { return stop.load(); }).error();
    });
    EXPECT_EQ(std::future_status::timeout, interrupted.wait_for(std::chrono::milliseconds(500)));
    stop = true;
    ASSERT_EQ(std::future_status::ready, interrupted.wait_for(std::chrono::seconds(3)));
    EXPECT_EQ(K_EINTR, interrupted.get());
}

TEST_P(Nfs4LockLive, CloseGoesThroughOnceEveryOwnerReleased)
{
    ASSERT_EQ((Named{}), set(a_, WRITE_LT, 0, 100));
    ASSERT_EQ((Named{}), set(b_, READ_LT, 1000, 0));
    EXPECT_EQ(nfs4Error(NFS4ERR_LOCKS_HELD), nfs4Close(*user_, file_).error());
    ASSERT_TRUE(nfs4LockReleaseFile(*user_, file_, a_).ok());
    EXPECT_EQ(nfs4Error(NFS4ERR_LOCKS_HELD), nfs4Close(*user_, file_).error()) << "b's lock";
    ASSERT_TRUE(nfs4LockReleaseTask(*user_, b_).ok()); // as at b's deletion
    EXPECT_TRUE(nfs4Close(*user_, file_).ok());
    // Over 4.0 the released owners were given back to the server: a new one takes their place.
    const std::size_t owners = (*user_).lockOwners.made();
    file_ = openFile(*user_, name_);
    EXPECT_EQ((Named{}), set(a_, WRITE_LT, 0, 0));
    EXPECT_EQ(owners + (GetParam() == Nfs4Minors::Only40 ? 1 : 0), (*user_).lockOwners.made());
}

INSTANTIATE_TEST_SUITE_P(Minors, Nfs4LockLive, testing::Values(Nfs4Minors::Automatic, Nfs4Minors::Only40),
                         [](const testing::TestParamInfo<Nfs4Minors> &minor) {
                             return minor.param == Nfs4Minors::Only40 ? "V40" : "V41";
                         });

TEST(Nfs4LockLeaseLive, LocksHeldAcrossThreeIdleLeasesStillExcludeTheOtherClient)
{
    StateUser v41;
    StateUser v40(Nfs4Minors::Only40);
    ASSERT_TRUE(v41.ok() && v40.ok());
    const std::string path = live::exportDir() + "/v4locks-lease";
    std::ofstream(path) << "lease";
    Nfs4OpenFile by41 = openFile(*v41, "v4locks-lease");
    Nfs4OpenFile by40 = openFile(*v40, "v4locks-lease");
    const uintptr_t me = thisTask();
    ASSERT_TRUE(nfs4LockSet(*v41, by41, me, {WRITE_LT, 0, 100}).ok());
    ASSERT_TRUE(nfs4LockSet(*v40, by40, me, {WRITE_LT, 200, 100}).ok());
    ASSERT_LE((*v41).leaseSec, 6U) << "run with RT_NFS_V4_LEASE=5";
    std::this_thread::sleep_for(std::chrono::seconds(3 * (*v41).leaseSec + 1));
    Nfs4LockConflict conflict{};
    EXPECT_EQ(K_EAGAIN, nfs4LockSet(*v40, by40, me, {READ_LT, 50, 1}, &conflict).error());
    EXPECT_EQ(0U, conflict.task) << "another client's owner";
    EXPECT_EQ(K_EAGAIN, nfs4LockSet(*v41, by41, me, {READ_LT, 250, 1}).error());
    for (StateUser *user : {&v41, &v40})
        EXPECT_TRUE(nfs4LockReleaseTask(**user, me).ok());
    EXPECT_TRUE(nfs4Close(*v41, by41).ok() && nfs4Close(*v40, by40).ok());
    std::filesystem::remove(path);
}
