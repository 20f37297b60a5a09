// Tasks are host threads. A thread's task record is made on first use and lives in a
// thread-local slot; when the thread ends, the delete hooks run with the record, then the
// record and its RPC context are freed.
#include <kernel/rpcLib.h>
#include <kernel/taskLib.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>
#include <thread>

namespace {

constexpr std::size_t kMaxDeleteHooks = 16;

// Guards the hook table; taken only to copy or change it, never while a hook runs.
struct DeleteHookTable {
    std::mutex lock;
    std::array<TaskDeleteHook, kMaxDeleteHooks> hooks{};
    std::size_t count = 0;
};

// Never destroyed: threads may still end while the process runs its exit handlers.
DeleteHookTable &deleteHookTable()
{
    static auto *table = new DeleteHookTable;
    return *table;
}

void runDeleteHooks(TaskRecord *dying)
{
    std::array<TaskDeleteHook, kMaxDeleteHooks> hooks{};
    std::size_t count = 0;
    {
        DeleteHookTable &table = deleteHookTable();
        std::lock_guard guard(table.lock);
        hooks = table.hooks;
        count = table.count;
    }
    for (std::size_t i = 0; i < count; ++i)
        hooks[i](dying);
}

struct CurrentTaskSlot {
    TaskRecord *record = nullptr;

    CurrentTaskSlot() = default;
    CurrentTaskSlot(const CurrentTaskSlot &) = delete;
    CurrentTaskSlot &operator=(const CurrentTaskSlot &) = delete;
    ~CurrentTaskSlot();
};

// The running task's record, read on every semaphore call; the slot beside it owns the record
// and ends the task with its thread. Both use the default TLS model: an initial-exec word in
// this library was seen cleared on one thread when another was created (qemu-ppc, glibc), and
// the thread then took a second task id, so that semaphores it held could never be given.
thread_local TaskRecord *currentRecord = nullptr;
thread_local CurrentTaskSlot currentTask;

CurrentTaskSlot::~CurrentTaskSlot()
{
    if (record == nullptr)
        return;
    runDeleteHooks(record);
    std::free(record->pRpcContext);
    delete record;
    record = nullptr;
    currentRecord = nullptr;
}
std::atomic<uintptr_t> nextTaskId{1};

// The task lock: one recursive lock for the whole process, with its holder tracked so that
// an unlock by a task that does not hold it fails instead of corrupting the lock.
struct TaskLockState {
    std::recursive_mutex lock;
    std::atomic<std::thread::id> holder{};
    int depth = 0;
};

TaskLockState &taskLockState()
{
    static auto *state = new TaskLockState;
    return *state;
}

std::atomic<TaskInterruptHook> interruptHook{nullptr};

} // namespace

extern "C" {

int (*_func_rtpIdVerify)(uintptr_t, int) = nullptr;
int (*_func_pthread_setcanceltype)(int, int *) = nullptr;
int (*_func_rtpPthreadSetCancelType)(int, int *) = nullptr;
uintptr_t kernelId = 1;

int iosRtpFdUnmap2(uintptr_t, int, int)
{
    return 0;
}

TaskRecord *taskIdCurrent(void)
{
    if (currentRecord != nullptr)
        return currentRecord;
    // A thread keeps one record for its life: never replace the slot's record.
    if (currentTask.record == nullptr)
        currentTask.record = new (std::nothrow) TaskRecord{nextTaskId.fetch_add(1), nullptr};
    currentRecord = currentTask.record;
    return currentRecord;
}

int taskDeleteHookAdd(TaskDeleteHook hook)
{
    if (hook == nullptr)
        return -1;
    DeleteHookTable &table = deleteHookTable();
    std::lock_guard guard(table.lock);
    if (table.count == table.hooks.size())
        return -1;
    table.hooks[table.count++] = hook;
    return 0;
}

int taskDeleteHookDelete(TaskDeleteHook hook)
{
    DeleteHookTable &table = deleteHookTable();
    std::lock_guard guard(table.lock);
    for (std::size_t i = 0; i < table.count; ++i) {
        if (table.hooks[i] != hook)
            continue;
        for (std::size_t j = i + 1; j < table.count; ++j)
            table.hooks[j - 1] = table.hooks[j];
        table.hooks[--table.count] = nullptr;
        return 0;
    }
    return -1;
}

int taskLock(void)
{
    TaskLockState &state = taskLockState();
    state.lock.lock();
    state.holder.store(std::this_thread::get_id());
    ++state.depth;
    return 0;
}

void taskInterruptHookSet(TaskInterruptHook hook)
{
    interruptHook.store(hook);
}

int taskInterrupted(void)
{
    const TaskInterruptHook hook = interruptHook.load();
    return hook != nullptr ? hook() : 0;
}

int taskUnlock(void)
{
    TaskLockState &state = taskLockState();
    if (state.holder.load() != std::this_thread::get_id())
        return -1;
    if (--state.depth == 0)
        state.holder.store(std::thread::id{});
    state.lock.unlock();
    return 0;
}
}
