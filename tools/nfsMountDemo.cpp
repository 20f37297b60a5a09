// The main job's look at mounting: loads the NFS client module as a shell would, finds its
// routines by name, mounts an export, prints the server's export list and mount table, moves a
// file's data through the device's cache by handle, checks it in the exported folder, and
// unmounts.
#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>

#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsDrvLib.h>
#include <brisnel/nfsRpcLib.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using HostFn = int (*)(const char *);
using MountFn = int (*)(const char *, const char *, const char *);
using ClientCallFn = int (*)(const char *, uint32_t, uint32_t, uint32_t, xdrproc_t, void *, xdrproc_t,
                             void *);
using LineReadFn = int (*)(void *, uint64_t, char *, int, int);
using LineWriteFn = int (*)(void *, uint64_t, const char *, int, int);
using FileFlushFn = int (*)(void *, int, int);
using InvalidateFn = void (*)(NfsDataCache *, uint64_t);
using XdrFn = bool_t (*)(XDR *, void *);

constexpr const char *kDevice = "/nfs";
constexpr const char *kFileName = "nfsMountDemo.dat";
constexpr int kFileSize = 100000;
constexpr int kVersion = 3;

void *module = nullptr;

template <typename Fn> Fn find(const char *name)
{
    void *symbol = dlsym(module, name);
    if (symbol == nullptr) {
        std::fprintf(stderr, "nfsMountDemo: %s not found: %s\n", name, dlerror());
        std::exit(1);
    }
    return reinterpret_cast<Fn>(symbol);
}

xdrproc_t xdrRoutine(const char *name)
{
    return reinterpret_cast<xdrproc_t>(find<XdrFn>(name));
}

bool report(const char *what, int result)
{
    if (result == -1)
        std::printf("%s failed, errno = %#x\n", what, errnoGet());
    return result != -1;
}

NfsDevice *deviceNamed(const char *name)
{
    const char *tail = nullptr;
    DEV_HDR *dev = iosDevFind(name, &tail);
    return dev != nullptr && std::strcmp(dev->name, name) == 0 ? reinterpret_cast<NfsDevice *>(dev) : nullptr;
}

// An open-file record for a new file in the export's root, made from a CREATE reply as the
// driver's open entry would.
struct DemoFile {
    NfsOpenFile record{};
    std::array<char, NFS3_FHSIZE> handle{};
};

bool createFile(NfsDevice *dev, DemoFile *file)
{
    CREATE3args args{};
    args.where.dir = dev->mountFh;
    args.where.name = const_cast<char *>(kFileName);
    args.how.mode = UNCHECKED;
    args.how.createhow3_u.obj_attributes.mode.set_it = 1;
    args.how.createhow3_u.obj_attributes.mode.set_mode3_u.mode = 0644;
    args.how.createhow3_u.obj_attributes.size.set_it = 1; // start empty, also when it exists
    CREATE3res res{};
    res.CREATE3res_u.resok.obj.post_op_fh3_u.handle.data.data_val = file->handle.data();
    const xdrproc_t resProc = xdrRoutine("xdr_CREATE3res");
    if (!report("CREATE", find<ClientCallFn>("nfsClientCall")(dev->host, NFS_PROGRAM, NFS_V3, NFSPROC3_CREATE,
                                                             xdrRoutine("xdr_CREATE3args"), &args, resProc,
                                                             &res)))
        return false;
    const CREATE3resok &ok = res.CREATE3res_u.resok;
    const bool usable = res.status == NFS3_OK && ok.obj.handle_follows && ok.obj_attributes.attributes_follow;
    if (usable) {
        NfsOpenFile &f = file->record;
        f.pDev = dev;
        f.pCache = &dev->cache;
        std::snprintf(f.name, sizeof f.name, "%s", kFileName);
        f.accessMode = 2;
        f.fh.data = {ok.obj.post_op_fh3_u.handle.data.data_len, file->handle.data()};
        f.dirFh = dev->mountFh;
        f.attr = ok.obj_attributes.post_op_attr_u.attributes;
    } else {
        std::printf("CREATE answered status %d without handle or attributes\n", static_cast<int>(res.status));
    }
    res.CREATE3res_u.resok.obj.post_op_fh3_u.handle.data.data_val = nullptr;
    xdr_free(resProc, reinterpret_cast<char *>(&res));
    return usable;
}

// Moves buf through the cache in pieces that never cross a line, as the driver's entries do.
template <typename Step> bool eachLinePiece(const NfsDataCache &cache, int total, Step step)
{
    for (int done = 0; done < total;) {
        const int inLine = done & static_cast<int>(cache.lineSize - 1);
        const int piece = std::min(total - done, static_cast<int>(cache.lineSize) - inLine);
        const int moved = step(done, piece);
        if (moved <= 0)
            return false;
        done += moved;
    }
    return true;
}

std::vector<char> pattern()
{
    std::vector<char> data(kFileSize);
    uint32_t x = 2463534242u;
    for (char &byte : data) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<char>(x);
    }
    return data;
}

bool fileRoundTrip(NfsDevice *dev, const std::string &exportDir)
{
    DemoFile file;
    std::printf("-> CREATE \"%s\" in the export's root\n", kFileName);
    if (!createFile(dev, &file))
        return false;
    void *f = &file.record;
    const std::vector<char> data = pattern();
    std::printf("-> nfsCacheLineWrite %d bytes in line pieces, then nfsCacheFileFlush\n", kFileSize);
    auto lineWrite = find<LineWriteFn>("nfsCacheLineWrite");
    const bool written = eachLinePiece(dev->cache, kFileSize, [&](int at, int n) {
        return lineWrite(f, static_cast<uint64_t>(at), data.data() + at, n, kVersion);
    });
    if (!written || !report("nfsCacheFileFlush", find<FileFlushFn>("nfsCacheFileFlush")(f, 0, kVersion)))
        return report("nfsCacheLineWrite", -1);

    std::ifstream onServer(exportDir + "/" + kFileName, std::ios::binary);
    const std::vector<char> held((std::istreambuf_iterator<char>(onServer)), std::istreambuf_iterator<char>());
    std::printf("the exported folder holds %zu bytes: %s\n", held.size(), held == data ? "identical" : "DIFFERENT");

    find<InvalidateFn>("nfsCacheFileInvalidate")(&dev->cache, file.record.attr.fileid);
    std::vector<char> back(kFileSize);
    std::printf("-> nfsCacheLineRead %d bytes after dropping the file's lines\n", kFileSize);
    auto lineRead = find<LineReadFn>("nfsCacheLineRead");
    const bool read = eachLinePiece(dev->cache, kFileSize, [&](int at, int n) {
        return lineRead(f, static_cast<uint64_t>(at), back.data() + at, n, kVersion);
    });
    std::printf("read back: %s\n", read && back == data ? "identical" : "DIFFERENT");
    find<FileFlushFn>("nfsCacheFileFlush")(f, 1, kVersion); // no line keeps the record
    std::remove((exportDir + "/" + kFileName).c_str());
    return held == data && read && back == data;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: nfsMountDemo HOST EXPORT EXPORT_DIR MODULE\n");
        return 2;
    }
    const char *host = argv[1];
    const char *exportPath = argv[2];
    const std::string exportDir = argv[3];
    module = dlopen(argv[4], RTLD_NOW | RTLD_GLOBAL);
    if (module == nullptr) {
        std::fprintf(stderr, "nfsMountDemo: cannot load %s: %s\n", argv[4], dlerror());
        return 1;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // Loading ran the module's start-up: both drivers are installed, nothing else is set up.
    std::printf("-> nfsHelp\n");
    find<void (*)()>("nfsHelp")();
    std::printf("-> nfsMount \"%s\", \"%s\", \"%s\"\n", host, exportPath, kDevice);
    if (!report("nfsMount", find<MountFn>("nfsMount")(host, exportPath, kDevice)))
        return 1;
    NfsDevice *dev = deviceNamed(kDevice);
    std::printf("device %s: host %s, file system %s, root handle of %u bytes, cache of %u lines of %u bytes\n",
                kDevice, dev->host, dev->fileSys, dev->mountFh.data.data_len, dev->cache.nLines,
                dev->cache.lineSize);
    std::printf("-> nfsDevShow\n");
    find<void (*)()>("nfsDevShow")();

    std::printf("-> nfsExportShow \"%s\"\n", host);
    int failures = !report("nfsExportShow", find<HostFn>("nfsExportShow")(host));
    std::printf("-> nfsMntDump \"%s\"\n", host);
    failures += !report("nfsMntDump", find<HostFn>("nfsMntDump")(host));
    std::printf("(end of the server's mount table)\n");

    failures += !fileRoundTrip(dev, exportDir);

    std::printf("-> nfsUnmount \"%s\"\n", kDevice);
    failures += !report("nfsUnmount", find<HostFn>("nfsUnmount")(kDevice));
    std::printf("device %s %s\n", kDevice, deviceNamed(kDevice) == nullptr ? "removed" : "STILL LISTED");
    find<void (*)()>("nfsClientClose")();
    return failures == 0 ? 0 : 1;
}
