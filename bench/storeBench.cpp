// The value store's costs: whole-slot copies in and out, and re-creating the array table.
#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <filesystem>
#include <vector>

namespace {

using SetAVal = void (*)(int, const char *, int);
using GetAVal = int (*)(int, char *, int);
using InitializeA = void (*)(int, int);
using GetNIVal = int (*)(int);

// The module stays loaded for the whole run, as on the target.
void *quenby()
{
    static void *module = dlopen(
        (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "../store/libquenby.so").c_str(),
        RTLD_NOW);
    return module;
}

template <typename Routine> Routine routine(const char *name)
{
    return reinterpret_cast<Routine>(dlsym(quenby(), name));
}

constexpr int kSlotBytes = 10000;

void arraySlotCopy(benchmark::State &state)
{
    const auto set = routine<SetAVal>("setAVal");
    const auto get = routine<GetAVal>("getAVal");
    const auto initialize = routine<InitializeA>("initializeA");
    if (set == nullptr || get == nullptr || initialize == nullptr) {
        state.SkipWithError("module not loaded");
        return;
    }
    initialize(1000, kSlotBytes);
    std::vector<char> buffer(kSlotBytes, 'q');
    for (auto _ : state) {
        set(7, buffer.data(), kSlotBytes);
        benchmark::DoNotOptimize(get(7, buffer.data(), kSlotBytes));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 2 * kSlotBytes);
}
BENCHMARK(arraySlotCopy);

void arrayTableCreate(benchmark::State &state)
{
    const auto initialize = routine<InitializeA>("initializeA");
    if (initialize == nullptr) {
        state.SkipWithError("module not loaded");
        return;
    }
    for (auto _ : state)
        initialize(1000, kSlotBytes);
}
BENCHMARK(arrayTableCreate)->Unit(benchmark::kMillisecond);

void integerGet(benchmark::State &state)
{
    const auto get = routine<GetNIVal>("getNIVal");
    if (get == nullptr) {
        state.SkipWithError("module not loaded");
        return;
    }
    int index = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(get(index));
        index = (index + 1) % 2000;
    }
}
BENCHMARK(integerGet);

} // namespace

BENCHMARK_MAIN();
