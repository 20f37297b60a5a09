// The table of files open on the devices, with the hidden names they were given.
#include "drv/nfsDrvOpenNames.h"

#include <algorithm>
#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace nfsdrv::opennames {
namespace {

struct OpenFile {
    const void *dev;
    uint64_t fileId;
    int opens;
    std::vector<std::string> hidden;
};

struct Table {
    std::mutex lock;
    std::vector<OpenFile> files;

    std::vector<OpenFile>::iterator find(const void *dev, uint64_t fileId)
    {
        return std::find_if(files.begin(), files.end(),
                            [dev, fileId](const OpenFile &f) { return f.dev == dev && f.fileId == fileId; });
    }
};

// Never destroyed: a descriptor closed from an exit handler still finds it.
Table &table()
{
    static Table *const instance = new Table;
    return *instance;
}

} // namespace

void opened(const void *dev, uint64_t fileId)
{
    Table &t = table();
    const std::lock_guard guard(t.lock);
    const auto found = t.find(dev, fileId);
    if (found != t.files.end())
        ++found->opens;
    else
        t.files.push_back({dev, fileId, 1, {}});
}

std::vector<std::string> closed(const void *dev, uint64_t fileId)
{
    Table &t = table();
    const std::lock_guard guard(t.lock);
    const auto found = t.find(dev, fileId);
    if (found == t.files.end() || --found->opens > 0)
        return {};
    std::vector<std::string> hidden = std::move(found->hidden);
    t.files.erase(found);
    return hidden;
}

bool isOpen(const void *dev, uint64_t fileId)
{
    Table &t = table();
    const std::lock_guard guard(t.lock);
    return t.find(dev, fileId) != t.files.end();
}

std::string hiddenName(uint64_t fileId)
{
    // Seeded from the clock, so that another run of this client names the same file otherwise.
    static std::atomic<uint32_t> count{static_cast<uint32_t>(std::time(nullptr))};
    char name[64];
    std::snprintf(name, sizeof name, ".brisnel-open-%016" PRIx64 "-%08" PRIx32, fileId, ++count);
    return name;
}

void hiddenAdd(const void *dev, uint64_t fileId, std::string hiddenPath)
{
    Table &t = table();
    const std::lock_guard guard(t.lock);
    const auto found = t.find(dev, fileId);
    if (found != t.files.end())
        found->hidden.push_back(std::move(hiddenPath));
}

} // namespace nfsdrv::opennames
