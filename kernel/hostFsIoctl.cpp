// The ioctl entry of the pass-through device: one handler per function code.
#include "hostFsPrivate.h"

#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <sys/ioctl.h>
#include <type_traits>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <ctime>
#include <unistd.h>

namespace hostFs {
namespace {

int fail(int error)
{
    errnoSet(error);
    return -1;
}

template <typename T> T *argAs(intptr_t arg)
{
    return reinterpret_cast<T *>(arg);
}

template <typename T, typename V> T clampTo(V value)
{
    if constexpr (std::is_signed_v<V>) {
        if (value < 0) {
            return 0;
        }
    }
    using Wide = std::common_type_t<std::make_unsigned_t<V>, T>;
    const auto wide = static_cast<Wide>(static_cast<std::make_unsigned_t<V>>(value));
    return static_cast<T>(std::min<Wide>(wide, std::numeric_limits<T>::max()));
}

uint32_t kernelFileType(mode_t mode)
{
    if (S_ISDIR(mode)) {
        return K_S_IFDIR;
    }
    if (S_ISLNK(mode)) {
        return K_S_IFLNK;
    }
    if (S_ISCHR(mode)) {
        return K_S_IFCHR;
    }
    if (S_ISBLK(mode)) {
        return K_S_IFBLK;
    }
    if (S_ISFIFO(mode)) {
        return K_S_IFIFO;
    }
    if (S_ISSOCK(mode)) {
        return K_S_IFSOCK;
    }
    return K_S_IFREG;
}

int seekTo(HostFile &file, uint64_t position)
{
    if (position > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
        return fail(K_EINVAL);
    }
    return ::lseek(file.fd, static_cast<off_t>(position), SEEK_SET) < 0 ? failFromHost() : 0;
}

int unreadBytes(HostFile &file, intptr_t arg)
{
    int *pCount = argAs<int>(arg);
    if (pCount == nullptr) {
        return fail(K_EINVAL);
    }
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) {
        return failFromHost();
    }
    if (!S_ISREG(st.st_mode)) {
        return ::ioctl(file.fd, FIONREAD, pCount) < 0 ? failFromHost() : 0;
    }
    const off_t position = ::lseek(file.fd, 0, SEEK_CUR);
    if (position < 0) {
        return failFromHost();
    }
    *pCount = clampTo<int>(st.st_size - position);
    return 0;
}

int seek(HostFile &file, intptr_t arg)
{
    return arg < 0 ? fail(K_EINVAL) : seekTo(file, static_cast<uint64_t>(arg));
}

int where(HostFile &file, intptr_t)
{
    const off_t position = ::lseek(file.fd, 0, SEEK_CUR);
    if (position < 0) {
        return failFromHost();
    }
    return position > INT_MAX ? fail(K_EINVAL) : static_cast<int>(position);
}

int renameTo(HostFile &file, intptr_t arg)
{
    std::array<char, PATH_MAX> newPath{};
    if (arg == 0) {
        return fail(K_EINVAL);
    }
    if (!hostPath(argAs<const char>(arg), newPath)) {
        return -1;
    }
    if (::rename(file.path.data(), newPath.data()) != 0) {
        return failFromHost();
    }
    file.path = newPath;
    return 0;
}

int sync(HostFile &file, intptr_t)
{
    return ::fsync(file.fd) != 0 ? failFromHost() : 0;
}

int makeDir(HostFile &, intptr_t arg)
{
    std::array<char, PATH_MAX> path{};
    if (arg == 0) {
        return fail(K_EINVAL);
    }
    if (!hostPath(argAs<const char>(arg), path)) {
        return -1;
    }
    return ::mkdir(path.data(), 0777) != 0 ? failFromHost() : 0;
}

int removeDir(HostFile &, intptr_t arg)
{
    std::array<char, PATH_MAX> path{};
    if (arg == 0) {
        return fail(K_EINVAL);
    }
    if (!hostPath(argAs<const char>(arg), path)) {
        return -1;
    }
    return ::rmdir(path.data()) != 0 ? failFromHost() : 0;
}

// dd_cookie 0 rewinds the stream; otherwise it counts the entries handed out.
int readDir(HostFile &file, intptr_t arg)
{
    KDIR *pDir = argAs<KDIR>(arg);
    if (pDir == nullptr) {
        return fail(K_EINVAL);
    }
    if (file.dir == nullptr) {
        const int dirFd = ::dup(file.fd);
        if (dirFd < 0) {
            return failFromHost();
        }
        file.dir = ::fdopendir(dirFd);
        if (file.dir == nullptr) {
            const int saved = errno;
            ::close(dirFd);
            errno = saved;
            return failFromHost();
        }
        file.entriesRead = 0;
    } else if (pDir->dd_cookie == 0) {
        ::rewinddir(file.dir);
        file.entriesRead = 0;
    }
    errno = 0;
    const dirent *entry = ::readdir(file.dir);
    if (entry == nullptr) {
        if (errno != 0) {
            return failFromHost();
        }
        pDir->dd_eof = 1;
        return 0;
    }
    const std::size_t len = strnlen(entry->d_name, K_NAME_MAX);
    std::memcpy(pDir->dd_dirent.d_name, entry->d_name, len);
    pDir->dd_dirent.d_name[len] = '\0';
    pDir->dd_cookie = ++file.entriesRead;
    return 0;
}

// cppcheck-suppress constParameter ; every handler has the same signature
int getFlags(HostFile &file, intptr_t arg)
{
    int *pFlags = argAs<int>(arg);
    if (pFlags == nullptr) {
        return fail(K_EINVAL);
    }
    *pFlags = file.flags;
    return 0;
}

int fsStatus(HostFile &file, intptr_t arg)
{
    auto *pStatfs = argAs<struct kstatfs>(arg);
    if (pStatfs == nullptr) {
        return fail(K_EINVAL);
    }
    struct statfs host {};
    if (::fstatfs(file.fd, &host) != 0) {
        return failFromHost();
    }
    pStatfs->f_type = static_cast<int32_t>(host.f_type);
    pStatfs->f_bsize = clampTo<int32_t>(host.f_bsize);
    pStatfs->f_blocks = clampTo<uint32_t>(host.f_blocks);
    pStatfs->f_bfree = clampTo<uint32_t>(host.f_bfree);
    pStatfs->f_bavail = clampTo<uint32_t>(host.f_bavail);
    pStatfs->f_files = clampTo<uint32_t>(host.f_files);
    pStatfs->f_ffree = clampTo<uint32_t>(host.f_ffree);
    return 0;
}

int seek64(HostFile &file, intptr_t arg)
{
    const uint64_t *pPosition = argAs<uint64_t>(arg);
    return pPosition == nullptr ? fail(K_EINVAL) : seekTo(file, *pPosition);
}

int where64(HostFile &file, intptr_t arg)
{
    uint64_t *pPosition = argAs<uint64_t>(arg);
    if (pPosition == nullptr) {
        return fail(K_EINVAL);
    }
    const off_t position = ::lseek(file.fd, 0, SEEK_CUR);
    if (position < 0) {
        return failFromHost();
    }
    *pPosition = static_cast<uint64_t>(position);
    return 0;
}

// The host's name for what a descriptor refers to, also for a name-only descriptor, on which
// fchmod and futimens are refused: the calls through it change that very object, a link
// opened without following included.
std::array<char, 32> descriptorPath(const HostFile &file)
{
    std::array<char, 32> path{};
    std::snprintf(path.data(), path.size(), "/proc/self/fd/%d", file.fd);
    return path;
}

int truncateTo(HostFile &file, uint64_t size)
{
    if (size > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) {
        return fail(K_EINVAL);
    }
    return ::ftruncate(file.fd, static_cast<off_t>(size)) != 0 ? failFromHost() : 0;
}

int truncate32(HostFile &file, intptr_t arg)
{
    return arg < 0 ? fail(K_EINVAL) : truncateTo(file, static_cast<uint64_t>(arg));
}

int truncate64(HostFile &file, intptr_t arg)
{
    const uint64_t *pSize = argAs<uint64_t>(arg);
    return pSize == nullptr ? fail(K_EINVAL) : truncateTo(file, *pSize);
}

// cppcheck-suppress constParameter ; every handler has the same signature
int changeMode(HostFile &file, intptr_t arg)
{
    if (arg < 0 || arg > 07777) {
        return fail(K_EINVAL);
    }
    const auto path = descriptorPath(file);
    return ::chmod(path.data(), static_cast<mode_t>(arg)) != 0 ? failFromHost() : 0;
}

// A null argument sets both times to now.
// cppcheck-suppress constParameter ; every handler has the same signature
int setTimes(HostFile &file, intptr_t arg)
{
    const auto *pTimes = argAs<const kutimbuf>(arg);
    std::array<timespec, 2> times{};
    if (pTimes != nullptr) {
        for (const int64_t seconds : {pTimes->actime, pTimes->modtime}) {
            if (seconds < std::numeric_limits<time_t>::min() ||
                seconds > std::numeric_limits<time_t>::max()) {
                return fail(K_EINVAL);
            }
        }
        times[0].tv_sec = static_cast<time_t>(pTimes->actime);
        times[1].tv_sec = static_cast<time_t>(pTimes->modtime);
    }
    const auto path = descriptorPath(file);
    const timespec *pHost = pTimes != nullptr ? times.data() : nullptr;
    return ::utimensat(AT_FDCWD, path.data(), pHost, 0) != 0 ? failFromHost() : 0;
}

// cppcheck-suppress constParameter ; every handler has the same signature
int linkTo(HostFile &file, intptr_t arg)
{
    std::array<char, PATH_MAX> newPath{};
    if (arg == 0) {
        return fail(K_EINVAL);
    }
    if (!hostPath(argAs<const char>(arg), newPath)) {
        return -1;
    }
    const auto path = descriptorPath(file);
    return ::linkat(AT_FDCWD, path.data(), AT_FDCWD, newPath.data(), AT_SYMLINK_FOLLOW) != 0 ? failFromHost()
                                                                                             : 0;
}

int makeSymlink(HostFile &, intptr_t arg)
{
    const auto *pArg = argAs<const ksymlinkarg>(arg);
    std::array<char, PATH_MAX> path{};
    if (pArg == nullptr || pArg->path == nullptr || pArg->target == nullptr) {
        return fail(K_EINVAL);
    }
    if (!hostPath(pArg->path, path)) {
        return -1;
    }
    return ::symlink(pArg->target, path.data()) != 0 ? failFromHost() : 0;
}

// cppcheck-suppress constParameter ; every handler has the same signature
int readLink(HostFile &file, intptr_t arg)
{
    const auto *pArg = argAs<const kreadlinkarg>(arg);
    if (pArg == nullptr || pArg->buffer == nullptr || pArg->size == 0) {
        return fail(K_EINVAL);
    }
    struct stat st {};
    if (::fstat(file.fd, &st) != 0) {
        return failFromHost();
    }
    if (!S_ISLNK(st.st_mode)) {
        return fail(K_EINVAL);
    }
    const std::size_t size = std::min<std::size_t>(pArg->size, INT_MAX);
    const ssize_t stored = ::readlinkat(file.fd, "", pArg->buffer, size);
    return stored < 0 ? failFromHost() : static_cast<int>(stored);
}

int fileStatus(HostFile &file, intptr_t arg)
{
    auto *pStat = argAs<struct kstat>(arg);
    if (pStat == nullptr) {
        return fail(K_EINVAL);
    }
    struct stat host {};
    if (::fstat(file.fd, &host) != 0) {
        return failFromHost();
    }
    *pStat = kstat{};
    pStat->st_dev = static_cast<intptr_t>(host.st_dev);
    pStat->st_ino = static_cast<uint32_t>(host.st_ino);
    pStat->st_mode = kernelFileType(host.st_mode) | (host.st_mode & 07777);
    pStat->st_nlink = clampTo<uint32_t>(host.st_nlink);
    pStat->st_uid = static_cast<uint16_t>(host.st_uid);
    pStat->st_gid = static_cast<uint16_t>(host.st_gid);
    pStat->st_rdev = static_cast<uint32_t>(host.st_rdev);
    pStat->st_size = clampTo<uint64_t>(host.st_size);
    pStat->st_atime = clampTo<uint32_t>(host.st_atim.tv_sec);
    pStat->st_mtime = clampTo<uint32_t>(host.st_mtim.tv_sec);
    pStat->st_ctime = clampTo<uint32_t>(host.st_ctim.tv_sec);
    pStat->st_blksize = clampTo<uint32_t>(host.st_blksize);
    pStat->st_blocks = clampTo<uint32_t>(host.st_blocks);
    return 0;
}

using Handler = int (*)(HostFile &, intptr_t);

struct IoctlCode {
    int function;
    Handler handler;
};

constexpr std::array kIoctlCodes{
    IoctlCode{K_FIONREAD, unreadBytes},   IoctlCode{K_FIOSEEK, seek},
    IoctlCode{K_FIOWHERE, where},         IoctlCode{K_FIORENAME, renameTo},
    IoctlCode{K_FIOSYNC, sync},           IoctlCode{K_FIOMKDIR, makeDir},
    IoctlCode{K_FIORMDIR, removeDir},     IoctlCode{K_FIOREADDIR, readDir},
    IoctlCode{K_FIOGETFL, getFlags},      IoctlCode{K_FIOFSTATFSGET, fsStatus},
    IoctlCode{K_FIOSEEK64, seek64},       IoctlCode{K_FIOWHERE64, where64},
    IoctlCode{K_FIOFSTATGET, fileStatus}, IoctlCode{K_FIOTRUNC, truncate32},
    IoctlCode{K_FIOTRUNC64, truncate64},  IoctlCode{K_FIOCHMOD, changeMode},
    IoctlCode{K_FIOTIMESET, setTimes},    IoctlCode{K_FIOLINK, linkTo},
    IoctlCode{K_FIOSYMLINK, makeSymlink}, IoctlCode{K_FIOREADLINK, readLink},
    IoctlCode{K_FIOGETLK, lockGet},       IoctlCode{K_FIOSETLK, lockSet},
    IoctlCode{K_FIOSETLKW, lockSetWait},
};

} // namespace

int hostFsIoctl(intptr_t file, int function, intptr_t arg)
{
    const IoctlCode *code = std::find_if(kIoctlCodes.begin(), kIoctlCodes.end(),
                                         [function](const IoctlCode &c) { return c.function == function; });
    if (code == kIoctlCodes.end()) {
        return fail(K_ENOSYS);
    }
    return code->handler(*reinterpret_cast<HostFile *>(file), arg);
}

} // namespace hostFs
