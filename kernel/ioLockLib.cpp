// kFcntl: record locks on an open file, carried to its driver by the lock codes with the range
// made absolute and the calling task as owner.
#include "ioPrivate.h"

#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>
#include <kernel/taskLib.h>

#include <cstdint>
#include <limits>

namespace io {
namespace {

int fail(int error)
{
    errnoSet(error);
    return -1;
}

int codeOf(int cmd)
{
    switch (cmd) {
    case K_F_GETLK: return K_FIOGETLK;
    case K_F_SETLK: return K_FIOSETLK;
    case K_F_SETLKW: return K_FIOSETLKW;
    default: return 0;
    }
}

// A test asks about a read or a write lock; a set may also unlock.
bool typeValid(int cmd, int type)
{
    return type == K_F_RDLCK || type == K_F_WRLCK || (type == K_F_UNLCK && cmd != K_F_GETLK);
}

// A read lock needs the file open for reading, a write lock open for writing; a driver that
// does not report its open flags is left to judge for itself.
bool openModeAllows(const OpenFile &of, int cmd, int type)
{
    if (cmd == K_F_GETLK || type == K_F_UNLCK) {
        return true;
    }
    int flags = 0;
    if (ioctlOn(of, K_FIOGETFL, reinterpret_cast<intptr_t>(&flags)) < 0) {
        return errnoGet() == K_ENOSYS;
    }
    const int access = flags & K_O_ACCMODE;
    if (type == K_F_RDLCK ? access == K_O_WRONLY : access == K_O_RDONLY) {
        errnoSet(K_EBADF);
        return false;
    }
    return true;
}

// The offset l_start counts from: the start, the descriptor's position or the file's end.
bool baseOf(const OpenFile &of, int whence, int64_t &base)
{
    base = 0;
    uint64_t where = 0;
    if (whence == K_SEEK_CUR) {
        if (!positionGet(of, &where)) {
            return false;
        }
    } else if (whence == K_SEEK_END) {
        struct kstat st {};
        if (ioctlOn(of, K_FIOFSTATGET, reinterpret_cast<intptr_t>(&st)) < 0) {
            return false;
        }
        where = st.st_size;
    } else if (whence != K_SEEK_SET) {
        errnoSet(K_EINVAL);
        return false;
    }
    if (where > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
        errnoSet(K_EINVAL);
        return false;
    }
    base = static_cast<int64_t>(where);
    return true;
}

// The absolute range: a negative length covers the bytes before l_start. False (K_EINVAL)
// when it begins before 0 or ends past the largest offset.
bool rangeOf(int64_t base, const kflock &lock, klockarg &arg)
{
    int64_t first = 0;
    if (__builtin_add_overflow(base, lock.l_start, &first)) {
        errnoSet(K_EINVAL);
        return false;
    }
    int64_t from = first;
    if (lock.l_len < 0 && __builtin_add_overflow(first, lock.l_len, &from)) {
        from = -1;
    }
    int64_t last = 0;
    if (from < 0 || (lock.l_len > 0 && __builtin_add_overflow(first, lock.l_len - 1, &last))) {
        errnoSet(K_EINVAL);
        return false;
    }
    arg.start = static_cast<uint64_t>(from);
    arg.len = lock.l_len < 0 ? static_cast<uint64_t>(first - from) : static_cast<uint64_t>(lock.l_len);
    return true;
}

// The driver's answer: a driver that keeps no locks answers with a lock error of its own.
int lockCall(const OpenFile &of, int cmd, klockarg &arg)
{
    if (ioctlOn(of, codeOf(cmd), reinterpret_cast<intptr_t>(&arg)) >= 0) {
        return 0;
    }
    const int error = errnoGet();
    return fail(error == K_ENOSYS || error == K_ENOTSUP ? K_ENOLCK : error);
}

int fcntlLock(int fd, int cmd, kflock *lock)
{
    if (lock == nullptr || codeOf(cmd) == 0) {
        return fail(K_EINVAL);
    }
    const OpenFile of(fd);
    if (!of.valid()) {
        return -1;
    }
    if (!typeValid(cmd, lock->l_type)) {
        return fail(K_EINVAL);
    }
    const TaskRecord *task = taskIdCurrent();
    if (task == nullptr) {
        return fail(K_ENOMEM);
    }
    int64_t base = 0;
    klockarg arg{lock->l_type, 0, 0, task->taskId};
    if (!baseOf(of, lock->l_whence, base) || !rangeOf(base, *lock, arg) || !openModeAllows(of, cmd, lock->l_type) ||
        lockCall(of, cmd, arg) < 0) {
        return -1;
    }
    if (cmd == K_F_GETLK) {
        lock->l_type = static_cast<int16_t>(arg.type);
        if (arg.type != K_F_UNLCK) {
            lock->l_whence = K_SEEK_SET;
            lock->l_start = static_cast<int64_t>(arg.start);
            lock->l_len = static_cast<int64_t>(arg.len);
            lock->l_pid = static_cast<intptr_t>(arg.owner);
        }
    }
    return 0;
}

} // namespace
} // namespace io

extern "C" int kFcntl(int fd, int cmd, struct kflock *lock)
{
    return io::fcntlLock(fd, cmd, lock);
}
