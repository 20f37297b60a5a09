// Path resolution: a caller's path, or the default path in front of it, mapped to a device
// and the tail its driver sees. Also the default path itself.
#include "iosPrivate.h"

#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>

#include <array>
#include <cstring>
#include <mutex>

namespace ios {
namespace {

// Guarded by tableMutex().
std::array<char, kPathMax> &defaultPath()
{
    static std::array<char, kPathMax> path{};
    return path;
}

// Writes prefix, a separator when neither side supplies one, and path into out. False when
// the result would not fit in kPathMax bytes.
bool joinDefault(const char *prefix, const char *path, std::array<char, kPathMax> &out)
{
    const std::size_t prefixLen = std::strlen(prefix);
    const std::size_t pathLen = strnlen(path, kPathMax);
    const bool needSep =
        prefixLen > 0 && prefix[prefixLen - 1] != '/' && prefix[prefixLen - 1] != ':' && path[0] != '/';
    const std::size_t total = prefixLen + (needSep ? 1 : 0) + pathLen;
    if (total >= out.size()) {
        return false;
    }
    std::memcpy(out.data(), prefix, prefixLen);
    std::size_t at = prefixLen;
    if (needSep) {
        out[at++] = '/';
    }
    std::memcpy(out.data() + at, path, pathLen);
    out[total] = '\0';
    return true;
}

bool settle(PathBuffer &buf, DEV_HDR *pDev, const char *tail, Resolved &where)
{
    deviceUseLocked(pDev);
    where.pDev = pDev;
    where.drvNum = pDev->drvNum;
    where.tail = buf.text.data() + (tail - buf.text.data());
    return true;
}

} // namespace

bool pathLoad(PathBuffer &buf, const char *path)
{
    if (path == nullptr) {
        errnoSet(K_EINVAL);
        return false;
    }
    const std::size_t len = strnlen(path, kPathMax);
    if (len >= kPathMax) {
        errnoSet(K_ENAMETOOLONG);
        return false;
    }
    std::memcpy(buf.text.data(), path, len + 1);
    return true;
}

bool pathResolve(PathBuffer &buf, Resolved &where)
{
    const std::lock_guard lock(tableMutex());
    const char *tail = nullptr;
    if (DEV_HDR *pDev = devFindLocked(buf.text.data(), &tail)) {
        return settle(buf, pDev, tail, where);
    }
    std::array<char, kPathMax> joined{};
    if (!joinDefault(defaultPath().data(), buf.text.data(), joined)) {
        errnoSet(K_ENAMETOOLONG);
        return false;
    }
    std::memcpy(buf.text.data(), joined.data(), joined.size());
    if (DEV_HDR *pDev = devFindLocked(buf.text.data(), &tail)) {
        return settle(buf, pDev, tail, where);
    }
    errnoSet(K_IOS_NO_DEVICE);
    return false;
}

bool pathRewriteValid(PathBuffer &buf, const Resolved &where)
{
    const bool terminated = std::memchr(where.tail, '\0', K_IOS_TAIL_ROOM) != nullptr;
    buf.text.back() = '\0';
    if (!terminated || strnlen(buf.text.data(), kPathMax) >= kPathMax) {
        errnoSet(K_ENAMETOOLONG);
        return false;
    }
    return true;
}

} // namespace ios

extern "C" {

int ioDefPathSet(const char *name)
{
    if (name == nullptr) {
        errnoSet(K_EINVAL);
        return -1;
    }
    const std::size_t len = strnlen(name, ios::kPathMax);
    if (len >= ios::kPathMax) {
        errnoSet(K_ENAMETOOLONG);
        return -1;
    }
    const std::lock_guard lock(ios::tableMutex());
    std::memcpy(ios::defaultPath().data(), name, len + 1);
    return 0;
}

void ioDefPathGet(char *name, size_t size)
{
    if (name == nullptr || size == 0) {
        return;
    }
    const std::lock_guard lock(ios::tableMutex());
    const std::size_t len = strnlen(ios::defaultPath().data(), size - 1);
    std::memcpy(name, ios::defaultPath().data(), len);
    name[len] = '\0';
}

} // extern "C"
