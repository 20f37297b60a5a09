// Asks an SNTP server for the time and prints it beside the system clock, then shows a few
// values of the store. Loads the two modules by file name and finds their routines by name,
// as a shell would.
//
//   sntpStoreDemo SERVER PORT
//
// The modules are found beside the build's tools folder (../sntpc/libtovelle.so and
// ../store/libquenby.so), unless TOVELLE_MODULE or QUENBY_MODULE name other files.
#include <dlfcn.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

namespace {

using SntpcInit = int (*)(uint16_t, const char *);
using MSntpcTimeGet = int (*)(const char *, uint32_t, timespec *, const char *, unsigned char *);
using GetNIVal = int (*)(int);
using SetNIVal = void (*)(int, int);
using GetNDVal = double (*)(int);
using SetNDVal = void (*)(int, double);
using GetAVal = int (*)(int, char *, int);

constexpr uint32_t kTimeoutTicks = 300; // 5 s at the default 60 ticks per second
constexpr int kShownBytes = 12;

std::filesystem::path modulePath(const char *override, const char *relative)
{
    if (const char *chosen = std::getenv(override))
        return chosen;
    return std::filesystem::read_symlink("/proc/self/exe").parent_path() / ".." / relative;
}

// Modules stay loaded until the program ends, as on the target: nothing unloads them.
void *moduleLoad(const std::filesystem::path &path)
{
    void *module = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (module == nullptr)
        std::fprintf(stderr, "cannot load %s: %s\n", path.c_str(), dlerror());
    return module;
}

template <typename Routine> Routine routine(void *module, const char *name)
{
    void *address = dlsym(module, name);
    if (address == nullptr)
        std::fprintf(stderr, "no routine %s\n", name);
    return reinterpret_cast<Routine>(address);
}

void timePrint(const char *label, const timespec &time)
{
    std::tm broken{};
    gmtime_r(&time.tv_sec, &broken);
    std::array<char, 32> text{};
    std::strftime(text.data(), text.size(), "%Y-%m-%d %H:%M:%S", &broken);
    std::printf("%-14s %s.%09ld UTC\n", label, text.data(), time.tv_nsec);
}

bool portParse(const char *text, uint16_t &port)
{
    char *end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || value == 0 || value > UINT16_MAX)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

int sntpShow(const char *server, uint16_t port)
{
    void *tovelle = moduleLoad(modulePath("TOVELLE_MODULE", "sntpc/libtovelle.so"));
    if (tovelle == nullptr)
        return 1;
    const auto init = routine<SntpcInit>(tovelle, "sntpcInit");
    const auto timeGet = routine<MSntpcTimeGet>(tovelle, "mSntpcTimeGet");
    if (init == nullptr || timeGet == nullptr)
        return 1;

    init(port, nullptr);
    timespec serverTime{};
    std::array<unsigned char, 3> info{};
    const int status = timeGet(server, kTimeoutTicks, &serverTime, nullptr, info.data());
    const int error = errno; // the module's error number is this thread's errno
    timespec systemTime{};
    clock_gettime(CLOCK_REALTIME, &systemTime);
    if (status != 0) {
        std::printf("SNTP %s port %u: no time (error 0x%x)\n", server, port, static_cast<unsigned>(error));
        return 1;
    }
    std::printf("SNTP %s port %u: stratum %u, poll %u, precision %d\n", server, port, info[0], info[1],
                static_cast<signed char>(info[2]));
    timePrint("server time", serverTime);
    timePrint("system clock", systemTime);
    const double difference = static_cast<double>(serverTime.tv_sec - systemTime.tv_sec) +
                              static_cast<double>(serverTime.tv_nsec - systemTime.tv_nsec) / 1e9;
    std::printf("%-14s %+.6f s\n", "difference", difference);
    return 0;
}

int storeShow()
{
    void *quenby = moduleLoad(modulePath("QUENBY_MODULE", "store/libquenby.so"));
    if (quenby == nullptr)
        return 1;
    const auto icount = static_cast<const int *>(dlsym(quenby, "icount"));
    const auto dcount = static_cast<const int *>(dlsym(quenby, "dcount"));
    const auto acount = static_cast<const int *>(dlsym(quenby, "acount"));
    const auto alength = static_cast<const int *>(dlsym(quenby, "alength"));
    const auto getI = routine<GetNIVal>(quenby, "getNIVal");
    const auto setI = routine<SetNIVal>(quenby, "setNIVal");
    const auto getD = routine<GetNDVal>(quenby, "getNDVal");
    const auto setD = routine<SetNDVal>(quenby, "setNDVal");
    const auto getA = routine<GetAVal>(quenby, "getAVal");
    if (!icount || !dcount || !acount || !alength || !getI || !setI || !getD || !setD || !getA)
        return 1;

    std::printf("store: %d integers, %d doubles, %d arrays of %d bytes\n", *icount, *dcount, *acount,
                *alength);
    std::printf("  getNIVal(0) = %d, getNIVal(%d) = %d\n", getI(0), *icount, getI(*icount));
    setI(1, 42);
    setD(1999, 2.5);
    std::printf("  after setNIVal(1, 42): getNIVal(1) = %d\n", getI(1));
    std::printf("  after setNDVal(1999, 2.5): getNDVal(1999) = %g\n", getD(1999));
    std::array<char, kShownBytes + 1> bytes{};
    const int copied = getA(0, bytes.data(), kShownBytes);
    std::printf("  getAVal(0, buffer, %d) = %d: \"%s\"\n", kShownBytes, copied, bytes.data());
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    uint16_t port = 0;
    if (argc != 3 || !portParse(argv[2], port)) {
        std::fprintf(stderr, "usage: %s SERVER PORT\n", argv[0]);
        return 2;
    }
    const int sntp = sntpShow(argv[1], port);
    const int store = storeShow();
    return sntp != 0 || store != 0 ? 1 : 0;
}
