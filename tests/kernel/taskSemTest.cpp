// Tasks, delete hooks, the task lock and mutex semaphores.
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/rpcLib.h>
#include <kernel/semLib.h>
#include <kernel/sysLib.h>
#include <kernel/taskLib.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

std::atomic<uintptr_t> lastDyingTask{0};
std::atomic<bool> contextSeenByHook{false};

void recordDeath(TaskRecord *dying)
{
    lastDyingTask = dying->taskId;
    contextSeenByHook = rpcTaskContext(dying) != nullptr && rpcTaskContext(dying)->pNfsClient != nullptr;
}

TEST(TaskLib, RecordIsPerThreadAndStable)
{
    TaskRecord *mine = taskIdCurrent();
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(taskIdCurrent(), mine);
    uintptr_t otherId = 0;
    std::thread([&] { otherId = taskIdCurrent()->taskId; }).join();
    EXPECT_NE(otherId, 0u);
    EXPECT_NE(otherId, mine->taskId);
}

TEST(TaskLib, DeleteHookRunsWithDyingTaskBeforeItsContextGoes)
{
    ASSERT_EQ(taskDeleteHookAdd(recordDeath), 0);
    uintptr_t id = 0;
    static int slotValue = 0;
    std::thread([&] {
        id = taskIdCurrent()->taskId;
        ASSERT_EQ(rpcTaskInit(), 0);
        rpcTaskContext(taskIdCurrent())->pNfsClient = &slotValue;
    }).join();
    EXPECT_EQ(lastDyingTask.load(), id);
    EXPECT_TRUE(contextSeenByHook.load());
    EXPECT_EQ(taskDeleteHookDelete(recordDeath), 0);
    EXPECT_EQ(taskDeleteHookDelete(recordDeath), -1);
}

TEST(TaskLib, HookTableIsBounded)
{
    std::vector<TaskDeleteHook> added;
    static constexpr TaskDeleteHook hooks[] = {[](TaskRecord *) {}, [](TaskRecord *) {}, [](TaskRecord *) {},
                                               [](TaskRecord *) {}, [](TaskRecord *) {}, [](TaskRecord *) {},
                                               [](TaskRecord *) {}, [](TaskRecord *) {}, [](TaskRecord *) {},
                                               [](TaskRecord *) {}, [](TaskRecord *) {}, [](TaskRecord *) {},
                                               [](TaskRecord *) {}, [](TaskRecord *) {}, [](TaskRecord *) {},
                                               [](TaskRecord *) {}, [](TaskRecord *) {}};
    int failures = 0;
    for (TaskDeleteHook hook : hooks) {
        if (taskDeleteHookAdd(hook) == 0)
            added.push_back(hook);
        else
            ++failures;
    }
    EXPECT_GE(failures, 1);
    for (TaskDeleteHook hook : added)
        taskDeleteHookDelete(hook);
    EXPECT_EQ(taskDeleteHookAdd(nullptr), -1);
}

TEST(TaskLib, TaskLockExcludesOtherTasksAndIsRecursive)
{
    ASSERT_EQ(taskLock(), 0);
    ASSERT_EQ(taskLock(), 0);
    std::atomic<bool> otherGotIt{false};
    std::thread other([&] {
        taskLock();
        otherGotIt = true;
        taskUnlock();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(otherGotIt.load());
    EXPECT_EQ(taskUnlock(), 0);
    EXPECT_FALSE(otherGotIt.load());
    EXPECT_EQ(taskUnlock(), 0);
    other.join();
    EXPECT_TRUE(otherGotIt.load());
    EXPECT_EQ(taskUnlock(), -1) << "unlock without holding must fail";
}

TEST(SemLib, RecursiveForOwnerAndRefusedToOthers)
{
    SEM_ID sem = semMCreate(SEM_Q_PRIORITY | SEM_DELETE_SAFE | SEM_INVERSION_SAFE);
    ASSERT_NE(sem, nullptr);
    ASSERT_EQ(semTake(sem, K_WAIT_FOREVER), 0);
    ASSERT_EQ(semTake(sem, K_NO_WAIT), 0);
    int otherResult = 0;
    int otherErrno = 0;
    std::thread([&] {
        otherResult = semTake(sem, K_NO_WAIT);
        otherErrno = errnoGet();
        EXPECT_EQ(semGive(sem), -1);
    }).join();
    EXPECT_EQ(otherResult, -1);
    EXPECT_EQ(otherErrno, K_OBJ_UNAVAILABLE);
    EXPECT_EQ(semGive(sem), 0);
    EXPECT_EQ(semGive(sem), 0);
    EXPECT_EQ(semGive(sem), -1) << "no longer held";
    EXPECT_EQ(semDelete(sem), 0);
}

// A binary semaphore latches one give from any task for one take; gives while full are one.
TEST(SemLib, BinaryLatchesOneGiveFromAnyTask)
{
    SEM_ID sem = semBCreate(SEM_Q_PRIORITY, SEM_EMPTY);
    ASSERT_NE(sem, nullptr);
    EXPECT_EQ(semTake(sem, K_NO_WAIT), -1);
    EXPECT_EQ(errnoGet(), K_OBJ_UNAVAILABLE);
    std::thread([sem] {
        EXPECT_EQ(semGive(sem), 0);
        EXPECT_EQ(semGive(sem), 0);
    }).join();
    EXPECT_EQ(semTake(sem, K_NO_WAIT), 0);
    EXPECT_EQ(semTake(sem, 1), -1) << "two gives while full are one";
    EXPECT_EQ(errnoGet(), K_OBJ_TIMEOUT);
    int woken = -1;
    std::thread waiter([&] { woken = semTake(sem, K_WAIT_FOREVER); });
    EXPECT_EQ(semGive(sem), 0);
    waiter.join();
    EXPECT_EQ(woken, 0);
    SEM_ID full = semBCreate(0, SEM_FULL);
    EXPECT_EQ(semTake(full, K_NO_WAIT), 0);
    EXPECT_EQ(semDelete(full), 0);
    EXPECT_EQ(semDelete(sem), 0);
}

TEST(SemLib, TimeoutInTicksExpires)
{
    SEM_ID sem = semMCreate(0);
    ASSERT_EQ(semTake(sem, K_WAIT_FOREVER), 0);
    int result = 0;
    int error = 0;
    std::thread([&] {
        result = semTake(sem, sysClkRateGet() / 10);
        error = errnoGet();
    }).join();
    EXPECT_EQ(result, -1);
    EXPECT_EQ(error, K_OBJ_TIMEOUT);
    semGive(sem);
    semDelete(sem);
}

TEST(SemLib, WaiterGetsItWhenGiven)
{
    SEM_ID sem = semMCreate(0);
    ASSERT_EQ(semTake(sem, K_WAIT_FOREVER), 0);
    std::atomic<int> result{1};
    std::thread waiter([&] {
        result = semTake(sem, K_WAIT_FOREVER);
        semGive(sem);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(result.load(), 1);
    semGive(sem);
    waiter.join();
    EXPECT_EQ(result.load(), 0);
    semDelete(sem);
}

TEST(SemLib, DeletingWakesEveryWaiterWithAFailure)
{
    SEM_ID sem = semMCreate(0);
    ASSERT_EQ(semTake(sem, K_WAIT_FOREVER), 0);
    constexpr int kWaiters = 4;
    std::atomic<int> failed{0};
    std::atomic<int> deletedErrors{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i) {
        waiters.emplace_back([&] {
            if (semTake(sem, K_WAIT_FOREVER) == -1) {
                ++failed;
                if (errnoGet() == K_OBJ_DELETED)
                    ++deletedErrors;
            }
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // The owner deletes it while holding it, as a closing file does.
    EXPECT_EQ(semDelete(sem), 0);
    for (std::thread &t : waiters)
        t.join();
    EXPECT_EQ(failed.load(), kWaiters);
    EXPECT_EQ(deletedErrors.load(), kWaiters);
}

TEST(SemLib, NullIdIsRefused)
{
    EXPECT_EQ(semTake(nullptr, K_NO_WAIT), -1);
    EXPECT_EQ(errnoGet(), K_OBJ_ID_ERROR);
    EXPECT_EQ(semGive(nullptr), -1);
    EXPECT_EQ(semDelete(nullptr), -1);
}

} // namespace
