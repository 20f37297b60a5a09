// A small in-memory driver for the I/O system tests. Each MemDevice holds its files and its
// links; a path entry that meets a link rewrites the tail in place and returns K_FOLLOW_LINK.
#ifndef TESTS_KERNEL_IOSTESTDRIVER_H
#define TESTS_KERNEL_IOSTESTDRIVER_H

#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace memdrv {

struct MemDevice {
    DEV_HDR hdr{};                            // first, so a DEV_HDR * is a MemDevice *
    std::map<std::string, std::string> files; // tail -> contents
    std::map<std::string, std::string> links; // tail -> tail written back on a hit
    std::set<std::string> dirs;               // tails whose status is a directory's
    std::vector<int> openFlags;               // the flags of every open entry call
    // Called instead of the link table when set: may rewrite the tail and return -2.
    std::function<intptr_t(char *tail)> rewrite;
    std::vector<std::string> tails;                  // every tail a path entry received
    std::vector<std::string> ioctlPaths;             // path arguments of rename and rmdir
    std::map<std::string, std::string> symlinkTexts; // tail -> what K_FIOREADLINK reads
    // The file calls' codes as they arrived: code, the file's name, the argument as text.
    struct CodeCall {
        int function;
        std::string file;
        std::string arg;
        bool operator==(const CodeCall &) const = default;
    };
    std::vector<CodeCall> codeCalls;
    std::set<int> unserved; // codes answered with K_ENOSYS, as a driver without them would
    int liveFiles = 0;
    int pathCalls = 0;
    std::mutex mutex; // guards the records above for tests that open from several threads
};

struct MemFile {
    MemDevice *dev;
    std::string name;
    int flags = 0;
    uint64_t pos = 0;
};

inline MemDevice *deviceOf(DEV_HDR *pDev)
{
    return reinterpret_cast<MemDevice *>(pDev);
}
inline MemFile *fileOf(intptr_t value)
{
    return reinterpret_cast<MemFile *>(value);
}

inline intptr_t fail(int error)
{
    errnoSet(error);
    return -1;
}

// Records the call and follows a link when the tail names one.
inline bool followed(MemDevice *dev, char *tail, intptr_t &result)
{
    const std::lock_guard lock(dev->mutex);
    ++dev->pathCalls;
    dev->tails.emplace_back(tail);
    if (dev->rewrite) {
        result = dev->rewrite(tail);
        return result == K_FOLLOW_LINK;
    }
    const auto link = dev->links.find(tail);
    if (link == dev->links.end()) {
        return false;
    }
    std::memcpy(tail, link->second.c_str(), link->second.size() + 1);
    result = K_FOLLOW_LINK;
    return true;
}

inline intptr_t memOpen(DEV_HDR *pDev, char *tail, int flags, int)
{
    MemDevice *dev = deviceOf(pDev);
    intptr_t result = 0;
    if (followed(dev, tail, result) || result != 0) {
        return result;
    }
    const std::lock_guard lock(dev->mutex);
    dev->openFlags.push_back(flags);
    if (dev->files.count(tail) == 0 && dev->dirs.count(tail) == 0) {
        if ((flags & K_O_CREAT) == 0 && tail[0] != '\0') {
            return fail(K_ENOENT);
        }
        if (tail[0] != '\0') {
            dev->files[tail];
        }
    }
    if ((flags & K_O_TRUNC) != 0) {
        dev->files[tail].clear();
    }
    ++dev->liveFiles;
    return reinterpret_cast<intptr_t>(new MemFile{dev, tail, flags});
}

inline intptr_t memCreate(DEV_HDR *pDev, char *tail, int mode)
{
    return memOpen(pDev, tail, K_O_RDWR | K_O_CREAT | K_O_TRUNC, mode);
}

inline int memDelete(DEV_HDR *pDev, char *tail)
{
    MemDevice *dev = deviceOf(pDev);
    intptr_t result = 0;
    if (followed(dev, tail, result) || result != 0) {
        return static_cast<int>(result);
    }
    return dev->files.erase(tail) == 1 ? 0 : static_cast<int>(fail(K_ENOENT));
}

inline int memClose(intptr_t value)
{
    --fileOf(value)->dev->liveFiles;
    delete fileOf(value);
    return 0;
}

// Reads at most 7 bytes per call, so callers see a short count passed on as is.
inline int memRead(intptr_t value, char *buffer, int nBytes)
{
    MemFile *file = fileOf(value);
    const std::string &data = file->dev->files[file->name];
    if (file->pos >= data.size()) {
        return 0;
    }
    const auto pos = static_cast<std::size_t>(file->pos); // below the size, so it fits
    const auto n = std::min<std::size_t>({static_cast<std::size_t>(nBytes), 7, data.size() - pos});
    std::memcpy(buffer, data.data() + pos, n);
    file->pos += n;
    return static_cast<int>(n);
}

inline int memWrite(intptr_t value, const char *buffer, int nBytes)
{
    MemFile *file = fileOf(value);
    std::string &data = file->dev->files[file->name];
    const auto n = static_cast<std::size_t>(nBytes);
    if ((file->flags & K_O_APPEND) != 0) {
        file->pos = data.size();
    }
    const auto pos = static_cast<std::size_t>(file->pos); // the tests keep files small
    if (data.size() < pos + n) {
        data.resize(pos + n);
    }
    data.replace(pos, n, buffer, n);
    file->pos += n;
    return nBytes;
}

// Directory entries are the device's file names in order; dd_cookie counts those handed out.
inline int memReadDir(MemFile *file, KDIR *pDir)
{
    const auto &files = file->dev->files;
    const auto index = static_cast<std::size_t>(pDir->dd_cookie);
    if (index >= files.size()) {
        pDir->dd_eof = 1;
        return 0;
    }
    const std::string &name = std::next(files.begin(), static_cast<long>(index))->first;
    std::snprintf(pDir->dd_dirent.d_name, sizeof pDir->dd_dirent.d_name, "%s", name.c_str());
    pDir->dd_cookie = static_cast<intptr_t>(index + 1);
    return 0;
}

// The file calls' codes: each records its argument; path arguments follow links first.
inline int memFileCallCode(MemFile *file, int function, intptr_t arg)
{
    MemDevice *dev = file->dev;
    auto record = [&](const std::string &text) {
        dev->codeCalls.push_back({function, file->name, text});
        return 0;
    };
    intptr_t result = 0;
    switch (function) {
    case K_FIOTRUNC:
    case K_FIOCHMOD: return record(std::to_string(arg));
    case K_FIOTRUNC64: return record(std::to_string(*reinterpret_cast<const uint64_t *>(arg)));
    case K_FIOTIMESET: {
        const auto *pTimes = reinterpret_cast<const kutimbuf *>(arg);
        return record(pTimes == nullptr
                          ? "now"
                          : std::to_string(pTimes->actime) + " " + std::to_string(pTimes->modtime));
    }
    case K_FIOLINK: {
        char *path = reinterpret_cast<char *>(arg);
        return followed(dev, path, result) || result != 0 ? static_cast<int>(result) : record(path);
    }
    case K_FIOSYMLINK: {
        const auto *pArg = reinterpret_cast<const ksymlinkarg *>(arg);
        if (followed(dev, pArg->path, result) || result != 0) {
            return static_cast<int>(result);
        }
        return record(std::string(pArg->path) + " -> " + pArg->target);
    }
    case K_FIOREADLINK: {
        const auto *pArg = reinterpret_cast<const kreadlinkarg *>(arg);
        const auto text = dev->symlinkTexts.find(file->name);
        if (text == dev->symlinkTexts.end()) {
            return static_cast<int>(fail(K_EINVAL));
        }
        const std::size_t n = std::min(pArg->size, text->second.size());
        std::memcpy(pArg->buffer, text->second.data(), n);
        record(std::to_string(pArg->size));
        return static_cast<int>(n);
    }
    default: return static_cast<int>(fail(K_ENOSYS));
    }
}

inline int memIoctl(intptr_t value, int function, intptr_t arg)
{
    MemFile *file = fileOf(value);
    if (file->dev->unserved.count(function) != 0) {
        return static_cast<int>(fail(K_ENOSYS));
    }
    switch (function) {
    case K_FIOGETFL: *reinterpret_cast<int *>(arg) = file->flags; return 0;
    case K_FIOSEEK64: file->pos = *reinterpret_cast<uint64_t *>(arg); return 0;
    case K_FIOWHERE64: *reinterpret_cast<uint64_t *>(arg) = file->pos; return 0;
    case K_FIOFSTATGET:
        *reinterpret_cast<kstat *>(arg) = kstat{};
        reinterpret_cast<kstat *>(arg)->st_size = file->dev->files[file->name].size();
        reinterpret_cast<kstat *>(arg)->st_mode =
            file->dev->dirs.count(file->name) != 0 ? K_S_IFDIR : K_S_IFREG;
        return 0;
    case K_FIOREADDIR: return memReadDir(file, reinterpret_cast<KDIR *>(arg));
    case K_FIORENAME:
    case K_FIORMDIR: {
        char *path = reinterpret_cast<char *>(arg);
        intptr_t result = 0;
        if (followed(file->dev, path, result) || result != 0) {
            return static_cast<int>(result);
        }
        file->dev->ioctlPaths.emplace_back(path);
        return 0;
    }
    default: return memFileCallCode(file, function, arg);
    }
}

// Installs the driver for the test's lifetime and removes its devices and itself after.
class MemDriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        drvNum = iosDrvInstall(memCreate, memDelete, memOpen, memClose, memRead, memWrite, memIoctl);
        ASSERT_GT(drvNum, 0);
    }
    void TearDown() override
    {
        for (MemDevice *dev : devices_) {
            iosDevDelete(&dev->hdr);
            delete dev;
        }
        EXPECT_EQ(iosDrvRemove(drvNum), 0);
    }
    MemDevice &addDevice(const char *name)
    {
        auto *dev = new MemDevice;
        devices_.push_back(dev);
        EXPECT_EQ(iosDevAdd(&dev->hdr, name, drvNum), 0) << name;
        return *dev;
    }

    int drvNum = -1;

private:
    std::vector<MemDevice *> devices_;
};

} // namespace memdrv

#endif
