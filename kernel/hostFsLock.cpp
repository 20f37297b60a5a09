// The record-lock codes of the pass-through device. The locks are the kernel layer's, named by
// the host file's device and inode numbers: two descriptors of one file, from two tasks,
// conflict as two processes' would. They are not the host's own locks, which other host
// processes would see.
#include "hostFsPrivate.h"

#include <kernel/fileLockLib.h>
#include <kernel/kernelStat.h>
#include <kernel/taskLib.h>

#include <sys/stat.h>

namespace hostFs {
namespace {

// The file's name in the lock table, or false with the error number set.
bool keyOf(const HostFile &file, FileLockKey &key)
{
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) {
        failFromHost();
        return false;
    }
    key = FileLockKey{file.pDev, static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return true;
}

} // namespace

// cppcheck-suppress constParameter ; every handler has the same signature
int lockGet(HostFile &file, intptr_t arg)
{
    FileLockKey key{};
    return keyOf(file, key) ? fileLockGet(&key, reinterpret_cast<klockarg *>(arg)) : -1;
}

// cppcheck-suppress constParameter ; every handler has the same signature
int lockSet(HostFile &file, intptr_t arg)
{
    FileLockKey key{};
    return keyOf(file, key) ? fileLockSet(&key, reinterpret_cast<const klockarg *>(arg), 0) : -1;
}

// cppcheck-suppress constParameter ; every handler has the same signature
int lockSetWait(HostFile &file, intptr_t arg)
{
    FileLockKey key{};
    return keyOf(file, key) ? fileLockSet(&key, reinterpret_cast<const klockarg *>(arg), 1) : -1;
}

// A name-only descriptor holds no locks and releases none, as on the host.
void locksOfTaskRelease(const HostFile &file)
{
    const TaskRecord *task = taskIdCurrent();
    FileLockKey key{};
    if ((file.flags & K_O_PATH) != 0 || task == nullptr || !keyOf(file, key)) {
        return;
    }
    fileLockOwnerRelease(&key, task->taskId);
}

} // namespace hostFs
