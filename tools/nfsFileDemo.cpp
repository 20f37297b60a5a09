// The main job's look at file access: loads the NFS client module as a shell would, finds its
// routines by name, installs the version 3 driver, mounts an export and, through the kernel
// layer's ordinary file calls, lists a directory, creates, writes, reads back, renames and
// removes a file, and reads through a symbolic link; each step is checked in the exported
// folder with the host's own calls. Then it unmounts.
#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>
#include <kernel/kernelStat.h>

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using MountFn = int (*)(const char *, const char *, const char *);
using UnmountFn = int (*)(const char *);

constexpr const char *kDevice = "/nfsdemo";
constexpr const char *kFile = "nfsFileDemo.dat";
constexpr const char *kRenamed = "nfsFileDemo-renamed.dat";
constexpr const char *kLink = "nfsFileDemo.link";
constexpr const char *kTarget = "nfsFileDemo-target.txt";
constexpr std::size_t kFileSize = 100000;

void *module = nullptr;

template <typename Fn> Fn find(const char *name)
{
    void *symbol = dlsym(module, name);
    if (symbol == nullptr) {
        std::fprintf(stderr, "nfsFileDemo: %s not found: %s\n", name, dlerror());
        std::exit(1);
    }
    return reinterpret_cast<Fn>(symbol);
}

bool check(const char *what, bool ok)
{
    if (ok)
        std::printf("%-44s ok\n", what);
    else
        std::printf("%-44s FAILED, errno = %#x\n", what, errnoGet());
    return ok;
}

std::string onDevice(const char *name)
{
    return std::string(kDevice) + "/" + name;
}

std::vector<char> hostBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool hostHas(const std::string &path)
{
    return access(path.c_str(), F_OK) == 0;
}

bool listRoot()
{
    KDIR *dir = kOpendir(kDevice);
    if (dir == nullptr)
        return false;
    std::vector<std::string> names;
    while (struct kdirent *entry = kReaddir(dir))
        names.emplace_back(entry->d_name);
    const bool ended = dir->dd_eof == 1;
    kClosedir(dir);
    std::sort(names.begin(), names.end());
    std::printf("%s holds %zu entries:", kDevice, names.size());
    for (const std::string &name : names)
        std::printf(" %s", name.c_str());
    std::printf("\n");
    return ended;
}

bool writeFile(const std::vector<char> &data)
{
    const int fd = kOpen(onDevice(kFile).c_str(), K_O_WRONLY | K_O_CREAT, 0644);
    if (fd < 0)
        return false;
    bool ok = true;
    // Requests of assorted sizes, crossing the cache's line boundaries.
    for (std::size_t at = 0, piece = 1; ok && at < data.size(); piece = piece * 7 % 30011 + 1) {
        const std::size_t n = std::min(piece, data.size() - at);
        ok = kWrite(fd, data.data() + at, static_cast<int>(n)) == static_cast<int>(n);
        at += n;
    }
    return kClose(fd) == 0 && ok;
}

std::vector<char> readFile(const std::string &path)
{
    std::vector<char> all;
    const int fd = kOpen(path.c_str(), K_O_RDONLY, 0);
    if (fd < 0)
        return all;
    std::vector<char> buf(10000);
    for (int got; (got = kRead(fd, buf.data(), static_cast<int>(buf.size()))) > 0;)
        all.insert(all.end(), buf.begin(), buf.begin() + got);
    kClose(fd);
    return all;
}

bool demo(const std::string &exportDir)
{
    bool ok = check("listing the device's root", listRoot());

    std::vector<char> data(kFileSize);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 131 + i / 977) & 0xff);
    ok &= check("creating and writing 100000 bytes", writeFile(data));
    ok &= check("the server's folder holds them exactly", hostBytes(exportDir + "/" + kFile) == data);
    ok &= check("reading them back", readFile(onDevice(kFile)) == data);

    struct kstat st {};
    ok &= check("status of the file", kStat(onDevice(kFile).c_str(), &st) == 0 && st.st_size == kFileSize);
    ok &= check("renaming it", kRename(onDevice(kFile).c_str(), onDevice(kRenamed).c_str()) == 0 &&
                                   !hostHas(exportDir + "/" + kFile) &&
                                   hostBytes(exportDir + "/" + kRenamed) == data);
    ok &= check("removing it", kRemove(onDevice(kRenamed).c_str()) == 0 && !hostHas(exportDir + "/" + kRenamed));

    const std::string text = "reached through a symbolic link\n";
    {
        std::ofstream(exportDir + "/" + kTarget) << text;
    }
    unlink((exportDir + "/" + kLink).c_str());
    const bool linked = symlink(kTarget, (exportDir + "/" + kLink).c_str()) == 0;
    const std::vector<char> through = readFile(onDevice(kLink));
    ok &= check("reading a symbolic link's target", linked && std::string(through.begin(), through.end()) == text);
    std::printf("%s -> %s: %.*s", kLink, kTarget, static_cast<int>(through.size()), through.data());
    ok &= check("removing the link leaves its target",
                kRemove(onDevice(kLink).c_str()) == 0 && !hostHas(exportDir + "/" + kLink) &&
                    hostHas(exportDir + "/" + kTarget));
    unlink((exportDir + "/" + kTarget).c_str());
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s HOST EXPORT EXPORT_DIR LIBBRISNEL\n", argv[0]);
        return 2;
    }
    const std::string host = argv[1];
    const std::string exportPath = argv[2];
    const std::string exportDir = argv[3];
    module = dlopen(argv[4], RTLD_NOW | RTLD_GLOBAL);
    if (module == nullptr) {
        std::fprintf(stderr, "nfsFileDemo: %s\n", dlerror());
        return 1;
    }
    // Loading ran the module's start-up: the drivers, cache geometry and credentials are set.
    if (!check("mounting the export", find<MountFn>("nfsMount")(host.c_str(), exportPath.c_str(), kDevice) == 0))
        return 1;
    const bool ok = demo(exportDir);
    const bool unmounted = check("unmounting", find<UnmountFn>("nfsUnmount")(kDevice) == 0);
    return ok && unmounted ? 0 : 1;
}
