// The pass-through device "host:" onto the host's own file system, installed when the kernel
// library is loaded. A tail "/tmp/x" is the host path /tmp/x; a relative tail is relative to
// the host's working directory, and the empty tail is that directory.
#include "hostFsPrivate.h"

#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace hostFs {
namespace {

constexpr mode_t kDefaultFilePerms = 0666;
constexpr mode_t kDefaultDirPerms = 0777;

int fail(int error)
{
    errnoSet(error);
    return -1;
}

int hostAccessFlags(int flags)
{
    switch (flags & K_O_ACCMODE) {
    case K_O_RDONLY: return O_RDONLY;
    case K_O_WRONLY: return O_WRONLY;
    case K_O_RDWR: return O_RDWR;
    default: return -1;
    }
}

mode_t permsOr(int mode, mode_t fallback)
{
    const auto perms = static_cast<mode_t>(mode) & 07777;
    return perms != 0 ? perms : fallback;
}

bool wantsDirectory(int flags, int mode)
{
    return (flags & K_O_CREAT) != 0 && (mode & K_S_IFMT) == K_S_IFDIR;
}

// Opens (and, when asked, first makes) the host object; the host descriptor or -1.
int hostOpen(const char *path, int flags, int mode)
{
    if ((flags & K_O_PATH) != 0) {
        const int follow = (flags & K_O_NOFOLLOW) != 0 ? O_NOFOLLOW : 0;
        return ::open(path, O_PATH | follow | O_CLOEXEC);
    }
    if (wantsDirectory(flags, mode)) {
        const bool exclusive = (flags & K_O_EXCL) != 0;
        if (::mkdir(path, permsOr(mode, kDefaultDirPerms)) != 0 && (errno != EEXIST || exclusive)) {
            return -1;
        }
        return ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    int hostFlags = hostAccessFlags(flags) | O_CLOEXEC;
    hostFlags |= (flags & K_O_CREAT) != 0 ? O_CREAT : 0;
    hostFlags |= (flags & K_O_TRUNC) != 0 ? O_TRUNC : 0;
    hostFlags |= (flags & K_O_EXCL) != 0 ? O_EXCL : 0;
    hostFlags |= (flags & K_O_APPEND) != 0 ? O_APPEND : 0;
    return ::open(path, hostFlags, permsOr(mode, kDefaultFilePerms));
}

intptr_t hostFsOpen(DEV_HDR *pDev, char *tail, int flags, int mode)
{
    if (hostAccessFlags(flags) < 0) {
        return fail(K_EINVAL);
    }
    std::array<char, PATH_MAX> path{};
    if (!hostPath(tail, path)) {
        return -1;
    }
    const int fd = hostOpen(path.data(), flags, mode);
    if (fd < 0) {
        return failFromHost();
    }
    HostFile *file = new (std::nothrow) HostFile;
    if (file == nullptr) {
        ::close(fd);
        return fail(K_ENOMEM);
    }
    file->pDev = pDev;
    file->fd = fd;
    file->flags = wantsDirectory(flags, mode) ? K_O_RDONLY : flags;
    file->path = path;
    return reinterpret_cast<intptr_t>(file);
}

intptr_t hostFsCreate(DEV_HDR *pDev, char *tail, int mode)
{
    const int flags =
        (mode & K_S_IFMT) == K_S_IFDIR ? K_O_RDONLY | K_O_CREAT : K_O_RDWR | K_O_CREAT | K_O_TRUNC;
    return hostFsOpen(pDev, tail, flags, mode);
}

int hostFsDelete(DEV_HDR *, char *tail)
{
    std::array<char, PATH_MAX> path{};
    if (!hostPath(tail, path)) {
        return -1;
    }
    struct stat st {};
    if (::lstat(path.data(), &st) != 0) {
        return failFromHost();
    }
    const int rc = S_ISDIR(st.st_mode) ? ::rmdir(path.data()) : ::unlink(path.data());
    return rc != 0 ? failFromHost() : 0;
}

int hostFsClose(intptr_t value)
{
    auto *file = reinterpret_cast<HostFile *>(value);
    locksOfTaskRelease(*file);
    int rc = 0;
    if (file->dir != nullptr) {
        rc = ::closedir(file->dir);
    }
    rc |= ::close(file->fd);
    const int saved = errno;
    delete file;
    errno = saved;
    return rc != 0 ? failFromHost() : 0;
}

int hostFsRead(intptr_t value, char *buffer, int nBytes)
{
    const auto *file = reinterpret_cast<const HostFile *>(value);
    if (nBytes < 0) {
        return fail(K_EINVAL);
    }
    ssize_t got = 0;
    do {
        got = ::read(file->fd, buffer, static_cast<std::size_t>(nBytes));
    } while (got < 0 && errno == EINTR);
    return got < 0 ? failFromHost() : static_cast<int>(got);
}

int hostFsWrite(intptr_t value, const char *buffer, int nBytes)
{
    const auto *file = reinterpret_cast<const HostFile *>(value);
    if (nBytes < 0) {
        return fail(K_EINVAL);
    }
    ssize_t put = 0;
    do {
        put = ::write(file->fd, buffer, static_cast<std::size_t>(nBytes));
    } while (put < 0 && errno == EINTR);
    return put < 0 ? failFromHost() : static_cast<int>(put);
}

DEV_HDR &hostDevice()
{
    static DEV_HDR device{};
    return device;
}

__attribute__((constructor)) void hostFsInstall()
{
    const int drvNum = iosDrvInstall(hostFsCreate, hostFsDelete, hostFsOpen, hostFsClose, hostFsRead,
                                     hostFsWrite, hostFsIoctl);
    if (drvNum > 0) {
        iosDevAdd(&hostDevice(), "host:", drvNum);
    }
}

} // namespace

bool hostPath(const char *tail, std::array<char, PATH_MAX> &out)
{
    const char *source = (tail == nullptr || tail[0] == '\0') ? "." : tail;
    const std::size_t len = strnlen(source, out.size());
    if (len >= out.size()) {
        errnoSet(K_ENAMETOOLONG);
        return false;
    }
    std::memcpy(out.data(), source, len + 1);
    return true;
}

} // namespace hostFs
