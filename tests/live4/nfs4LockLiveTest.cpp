// Version 4 byte-range locks against a server of version 4 alone, over 4.1 and over 4.0 (asked
// for): two tasks of this program as two lock owners, each through an open of its own, and two
// states (a 4.1 and a 4.0 client) as two clients.
#include "live4/nfs4Live.h"

#include "state/nfs4FileData.h"
#include "state/nfs4Locks.h"
#include "state/nfs4MountWalk.h"
#include "state/nfs4NameOps.h"

#include <kernel/kernelErrno.h>
#include <kernel/taskLib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

namespace {

// A task of its own that runs the jobs it is given one after another: the second lock owner.
class Task {
public:
    Task() : thread_([this] { loop(); }) {}
    ~Task()
    {
        post({});
        thread_.join();
    }
    Task(const Task &) = delete;
    Task &operator=(const Task &) = delete;

    // JOB started on the task: its result, when it comes.
    template <typename Job> auto start(Job job)
    {
        auto packaged = std::make_shared<std::packaged_task<decltype(job())()>>(std::move(job));
        auto result = packaged->get_future();
        post([packaged] { (*packaged)(); });
        return result;
    }
    template <typename Job> auto run(Job job) { return start(std::move(job)).get(); }
    uintptr_t id() { return run([] { return taskIdCurrent()->taskId; }); }

private:
    void post(std::function<void()> job)
    {
        const std::lock_guard held(lock_);
        jobs_.push_back(std::move(job));
        ready_.notify_one();
    }
    void loop()
    {
        for (;;) {
            std::unique_lock held(lock_);
            ready_.wait(held, [this] { return !jobs_.empty(); });
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            held.unlock();
            if (!job)
                return;
            job();
        }
    }
    std::mutex lock_;
    std::condition_variable ready_;
    std::deque<std::function<void()>> jobs_;
    std::thread thread_; // last: started once the rest is there
};

uintptr_t thisTask()
{
    return taskIdCurrent()->taskId;
}

std::string minorName(const testing::TestParamInfo<Nfs4Minors> &info)
{
    return info.param == Nfs4Minors::Only40 ? "V40" : "V41";
}

// A file made in the exported folder for the test, opened through the states' walks.
class LockFile {
public:
    explicit LockFile(const std::string &name) : name_(name), path_(live::exportDir() + "/" + name)
    {
        std::ofstream(path_) << std::string(4096, 'l');
        std::filesystem::permissions(path_, std::filesystem::perms::all);
    }
    ~LockFile() { std::filesystem::remove(path_); }
    LockFile(const LockFile &) = delete;
    LockFile &operator=(const LockFile &) = delete;

    // The file opened for reading and writing through STATE by the calling task's open-owner.
    Nfs4OpenFile open(Nfs4ClientState &state) const
    {
        const auto root = nfs4MountWalk(state, live::env("RT_NFS_V4_EXPORT").c_str());
        EXPECT_TRUE(root.ok()) << std::hex << root.error();
        if (!root.ok())
            return {};
        const auto opened =
            nfs4Open(state, root.value().fh, name_.c_str(), {OPEN4_SHARE_ACCESS_BOTH, Nfs4Create::No, 0});
        EXPECT_TRUE(opened.ok()) << std::hex << opened.error();
        return opened.ok() ? opened.value() : Nfs4OpenFile{};
    }

private:
    std::string name_;
    std::string path_;
};

// What a refused lock or a test named, compared whole.
struct Named {
    int error;
    nfs_lock_type4 type;
    uint64_t offset;
    uint64_t length;
    uintptr_t task;
    bool operator==(const Named &) const = default;
};

std::ostream &operator<<(std::ostream &out, const Named &n)
{
    return out << "{error " << std::hex << n.error << std::dec << ", type " << n.type << ", " << n.offset << "+"
               << n.length << ", task " << n.task << "}";
}

class Nfs4LockLive : public testing::TestWithParam<Nfs4Minors> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(user_.ok());
        // A name of its own for each test: the server may still know an earlier file's by name.
        std::string name = std::string("v4locks-") + testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        file_ = std::make_unique<LockFile>(name);
        mine_ = file_->open(*user_);
        theirs_ = other_.run([this] { return file_->open(*user_); });
        ASSERT_FALSE(mine_.fh.empty() || theirs_.fh.empty());
    }
    void TearDown() override
    {
        EXPECT_TRUE(nfs4LockReleaseTask(*user_, thisTask()).ok());
        EXPECT_TRUE(other_.run([this] { return nfs4LockReleaseTask(*user_, thisTask()); }).ok());
        (void)nfs4Close(*user_, mine_).ok();
        (void)other_.run([this] { return nfs4Close(*user_, theirs_); }).ok();
        file_.reset();
    }

    // A lock set by this task (MINE) or the other one: its error and the conflict it named.
    Named set(bool mine, nfs_lock_type4 type, uint64_t offset, uint64_t length)
    {
        auto call = [&, mine] {
            Nfs4LockConflict conflict{};
            const auto status =
                nfs4LockSet(*user_, mine ? mine_ : theirs_, thisTask(), {type, offset, length}, &conflict);
            return status.ok() ? Named{} : Named{status.error(), conflict.type, conflict.offset, conflict.length,
                                                 conflict.task};
        };
        return mine ? call() : other_.run(call);
    }
    // LOCKT by the other task: the conflict it names (error 0), or none (type 0).
    Named test(nfs_lock_type4 type, uint64_t offset, uint64_t length)
    {
        return other_.run([&] {
            const auto tested = nfs4LockTest(*user_, theirs_, thisTask(), {type, offset, length});
            if (!tested.ok() || !tested.value())
                return Named{tested.error(), nfs_lock_type4{}, 0, 0, 0};
            const Nfs4LockConflict &c = *tested.value();
            return Named{0, c.type, c.offset, c.length, c.task};
        });
    }
    int unlock(uint64_t offset, uint64_t length)
    {
        return nfs4LockUnlock(*user_, mine_, thisTask(), {WRITE_LT, offset, length}).error();
    }

    StateUser user_{GetParam()};
    Task other_;
    std::unique_ptr<LockFile> file_;
    Nfs4OpenFile mine_;
    Nfs4OpenFile theirs_;
};

constexpr int kDenied = K_EAGAIN;
constexpr uint64_t kFar = uint64_t{1} << 40; // past 2^32 and 2^31 both

} // namespace

TEST_P(Nfs4LockLive, ReadLocksSharedWriteLocksExclusiveAndTestNamesTheHolder)
{
    const uintptr_t me = thisTask();
    const struct {
        const char *what;
        bool mine;
        nfs_lock_type4 type;
        uint64_t offset;
        uint64_t length;
        Named expected;
    } steps[] = {
        {"my read lock", true, READ_LT, 0, 100, {}},
        {"their read lock over it: shared", false, READ_LT, 50, 100, {}},
        {"their write lock into my read lock", false, WRITE_LT, 0, 10, {kDenied, READ_LT, 0, 100, me}},
        {"my write lock to the end, far out", true, WRITE_LT, kFar, 0, {}},
        {"their read lock past 2^40", false, READ_LT, kFar + 5, 1, {kDenied, WRITE_LT, kFar, 0, me}},
        {"my write lock over my own read lock", true, WRITE_LT, 0, 40, {}},
    };
    for (const auto &s : steps)
        EXPECT_EQ(s.expected, set(s.mine, s.type, s.offset, s.length)) << s.what;
    EXPECT_EQ(NFS_ERRNO_INVAL, set(true, WRITE_LT, UINT64_MAX - 1, 2).error) << "a range past 2^64";
    EXPECT_EQ((Named{0, WRITE_LT, 0, 40, me}), test(READ_LT, 0, 1000));
    EXPECT_EQ((Named{0, READ_LT, 40, 60, me}), test(WRITE_LT, 45, 1));
    EXPECT_EQ((Named{}), test(READ_LT, 45, 1)) << "read locks do not conflict";
    EXPECT_EQ((Named{}), test(WRITE_LT, 100, 1000)) << "their own read lock";
}

TEST_P(Nfs4LockLive, UnlockingPartOfARangeFreesThatPartAlone)
{
    ASSERT_EQ((Named{}), set(true, WRITE_LT, 0, 1000));
    ASSERT_EQ(0, unlock(200, 300));
    ASSERT_EQ(0, unlock(5000, 10)) << "a range not held";
    const uintptr_t me = thisTask();
    EXPECT_EQ((Named{}), set(false, WRITE_LT, 200, 300));
    EXPECT_EQ((Named{kDenied, WRITE_LT, 0, 200, me}), set(false, READ_LT, 199, 2));
    EXPECT_EQ((Named{kDenied, WRITE_LT, 500, 500, me}), set(false, READ_LT, 500, 1));
    // The holder's unlock of the whole file leaves the other's locks alone.
    ASSERT_EQ(0, unlock(0, 0));
    EXPECT_EQ((Named{kDenied, WRITE_LT, 200, 300, other_.id()}), set(true, READ_LT, 0, 0));
    EXPECT_EQ((Named{}), set(false, WRITE_LT, 0, 0));
}

TEST_P(Nfs4LockLive, WaitingLockIsGrantedOnceTheHolderUnlocksAndEndsWhenInterrupted)
{
    ASSERT_EQ((Named{}), set(true, WRITE_LT, 0, 0));
    auto waited = other_.start([this] {
        return nfs4LockWait(*user_, theirs_, thisTask(), {WRITE_LT, 10, 10}, [] { return false; });
    });
    EXPECT_EQ(std::future_status::timeout, waited.wait_for(std::chrono::milliseconds(1500)));
    ASSERT_EQ(0, unlock(0, 0));
    ASSERT_EQ(std::future_status::ready, waited.wait_for(std::chrono::seconds(10)));
    EXPECT_TRUE(waited.get().ok());
    EXPECT_EQ((Named{kDenied, WRITE_LT, 10, 10, other_.id()}), set(true, READ_LT, 15, 1));

    std::atomic<bool> stop{false};
    auto interrupted = std::async(std::launch::async, [&] {
        return nfs4LockWait(*user_, mine_, thisTask(), {READ_LT, 0, 20}, [&] { return stop.load(); }).error();
    });
    EXPECT_EQ(std::future_status::timeout, interrupted.wait_for(std::chrono::milliseconds(500)));
    stop = true;
    ASSERT_EQ(std::future_status::ready, interrupted.wait_for(std::chrono::seconds(3)));
    EXPECT_EQ(K_EINTR, interrupted.get());
}

TEST_P(Nfs4LockLive, ReleaseBeforeCloseLetsTheCloseThroughAndFreesTheFile)
{
    ASSERT_EQ((Named{}), set(true, WRITE_LT, 0, 100));
    ASSERT_EQ((Named{}), set(true, READ_LT, 1000, 0));
    ASSERT_TRUE(nfs4LockReleaseFile(*user_, mine_, thisTask()).ok());
    EXPECT_TRUE(nfs4Close(*user_, mine_).ok());
    EXPECT_EQ((Named{}), set(false, WRITE_LT, 0, 0));
    const std::size_t owners = (*user_).lockOwners.made();
    // The released owner (4.0: given back to the server) makes way for a new one.
    mine_ = file_->open(*user_);
    EXPECT_EQ((Named{kDenied, WRITE_LT, 0, 0, other_.id()}), set(true, READ_LT, 7, 1));
    EXPECT_EQ(owners + (GetParam() == Nfs4Minors::Only40 ? 1 : 0), (*user_).lockOwners.made());
    // The task's deletion releases its locks on every file.
    EXPECT_TRUE(other_.run([this] { return nfs4LockReleaseTask(*user_, thisTask()); }).ok());
    EXPECT_EQ((Named{}), set(true, WRITE_LT, 0, 0));
}

INSTANTIATE_TEST_SUITE_P(Minors, Nfs4LockLive, testing::Values(Nfs4Minors::Automatic, Nfs4Minors::Only40),
                         minorName);

TEST(Nfs4LockLeaseLive, LocksHeldAcrossThreeIdleLeasesStillExcludeTheOtherClient)
{
    // A 4.1 client and a 4.0 client of this program: each holds a lock the other must meet.
    StateUser v41;
    StateUser v40(Nfs4Minors::Only40);
    ASSERT_TRUE(v41.ok() && v40.ok());
    const LockFile file("v4locks-lease");
    Nfs4OpenFile by41 = file.open(*v41);
    Nfs4OpenFile by40 = file.open(*v40);
    const uintptr_t me = thisTask();
    ASSERT_TRUE(nfs4LockSet(*v41, by41, me, {WRITE_LT, 0, 100}).ok());
    ASSERT_TRUE(nfs4LockSet(*v40, by40, me, {WRITE_LT, 200, 100}).ok());
    const uint32_t lease = (*v41).leaseSec;
    ASSERT_LE(lease, 6U) << "run with RT_NFS_V4_LEASE=5";
    std::this_thread::sleep_for(std::chrono::seconds(3 * lease + 1));
    Nfs4LockConflict conflict{};
    EXPECT_EQ(K_EAGAIN, nfs4LockSet(*v40, by40, me, {READ_LT, 50, 1}, &conflict).error());
    EXPECT_EQ(0U, conflict.task) << "another client's owner";
    EXPECT_EQ(WRITE_LT, conflict.type);
    EXPECT_EQ(K_EAGAIN, nfs4LockSet(*v41, by41, me, {READ_LT, 250, 1}).error());
    EXPECT_TRUE(nfs4LockReleaseTask(*v41, me).ok());
    EXPECT_TRUE(nfs4LockReleaseTask(*v40, me).ok());
    EXPECT_TRUE(nfs4Close(*v41, by41).ok());
    EXPECT_TRUE(nfs4Close(*v40, by40).ok());
}
