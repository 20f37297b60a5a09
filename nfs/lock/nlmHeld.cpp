// The held-lock list (nlmHeld.h) and the release of a dying task's locks.
#include "lock/nlmHeld.h"

#include "core/nfsCallSettings.h"

#include <kernel/semGuard.h>
#include <kernel/semLib.h>
#include <kernel/taskLib.h>

#include <algorithm>
#include <mutex>
#include <new>
#include <thread>

namespace {

// Guards the held list; taken last, never across a call.
SEM_ID heldSem()
{
    static const SEM_ID sem = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    return sem;
}

// Guarded by heldSem. Never destroyed: tasks may still end while the process runs its exit
// handlers, and their delete hook looks here.
std::vector<NlmHeldFile> &heldList()
{
    static auto *list = new std::vector<NlmHeldFile>;
    return *list;
}

template <typename Match> std::vector<NlmHeldFile> takeWhere(Match match)
{
    std::vector<NlmHeldFile> taken;
    const SemGuard guard(heldSem());
    if (!guard.held())
        return taken;
    std::vector<NlmHeldFile> &held = heldList();
    const auto split =
        std::stable_partition(held.begin(), held.end(), [&match](const NlmHeldFile &f) { return !match(f); });
    taken.assign(std::make_move_iterator(split), std::make_move_iterator(held.end()));
    held.erase(split, held.end());
    return taken;
}

// A dying task's call context is already gone: its locks are released by a helper task,
// which the dying one waits for.
void taskLocksRelease(TaskRecord *dying)
{
    std::vector<NlmHeldFile> files = nlmHeldTakeTask(dying->taskId);
    if (files.empty())
        return;
    std::thread helper([&files] { nlmHeldRelease(files); });
    helper.join();
}

} // namespace

bool nlmHeldNote(const NlmHeldFile &file)
{
    static std::once_flag hooked;
    std::call_once(hooked, [] { taskDeleteHookAdd(taskLocksRelease); });
    const SemGuard guard(heldSem());
    if (!guard.held())
        return false;
    std::vector<NlmHeldFile> &held = heldList();
    const bool known = std::any_of(held.begin(), held.end(), [&file](const NlmHeldFile &f) {
        return f.dev == file.dev && f.task == file.task && f.fh == file.fh;
    });
    if (known)
        return true;
    try {
        held.push_back(file);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

std::vector<NlmHeldFile> nlmHeldTakeFile(const void *dev, const std::string &fh, uintptr_t task)
{
    return takeWhere(
        [dev, &fh, task](const NlmHeldFile &f) { return f.dev == dev && f.task == task && f.fh == fh; });
}

std::vector<NlmHeldFile> nlmHeldTakeTask(uintptr_t task)
{
    return takeWhere([task](const NlmHeldFile &f) { return f.task == task; });
}

std::vector<NlmHeldFile> nlmHeldTakeDevice(const void *dev)
{
    return takeWhere([dev](const NlmHeldFile &f) { return f.dev == dev; });
}

void nlmHeldRelease(const std::vector<NlmHeldFile> &files)
{
    for (const NlmHeldFile &file : files) {
        const NfsCallScope scope(&file.options);
        static_cast<void>(nlmUnlock(file.target(), NlmRange{false, 0, 0}));
    }
}
