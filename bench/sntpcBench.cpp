// The SNTP client's costs: the fraction conversion, and one server-mode exchange with a server
// on loopback (run through tests/peers/with-chrony.sh, which names its port).
#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>

namespace {

using FractionToNsec = uint32_t (*)(uint32_t);
using SntpcInit = int (*)(uint16_t, const char *);
using SntpcTimeGet = int (*)(const char *, uint32_t, timespec *);

// The module stays loaded for the whole run, as on the target.
void *tovelle()
{
    static void *module = dlopen(
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "../sntpc/libtovelle.so").c_str(),
        RTLD_NOW);
    return module;
}

template <typename Routine> Routine routine(const char *name)
{
    return reinterpret_cast<Routine>(dlsym(tovelle(), name));
}

void fractionToNsec(benchmark::State &state)
{
    const auto convert = routine<FractionToNsec>("sntpcFractionToNsec");
    if (convert == nullptr) {
        state.SkipWithError("module not loaded");
        return;
    }
    uint32_t fraction = 0x9E3779B9u;
    for (auto _ : state) {
        benchmark::DoNotOptimize(convert(fraction));
        fraction += 0x9E3779B9u;
    }
}
BENCHMARK(fractionToNsec);

void serverExchange(benchmark::State &state)
{
    const char *port = std::getenv("SNTPC_CHRONY_PORT");
    const auto init = routine<SntpcInit>("sntpcInit");
    const auto timeGet = routine<SntpcTimeGet>("sntpcTimeGet");
    if (port == nullptr || init == nullptr || timeGet == nullptr) {
        state.SkipWithError("no server: run through tests/peers/with-chrony.sh");
        return;
    }
    init(static_cast<uint16_t>(std::stoul(port)), nullptr);
    timespec now{};
    for (auto _ : state) {
        if (timeGet("127.0.0.1", 60, &now) != 0) {
            state.SkipWithError("exchange failed");
            return;
        }
    }
}
BENCHMARK(serverExchange)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
