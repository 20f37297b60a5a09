// What the speed benchmarks share: timing of a piece of work in wall and CPU time, medians,
// the JSON lines they print, and counters of heap allocations and remote calls.
#ifndef BENCH_BENCHSUPPORT_H
#define BENCH_BENCHSUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct Timing {
    double wall = 0; // seconds
    double cpu = 0;  // seconds of this process, every thread
};

template <typename Work> Timing timed(Work &&work);

double now(int clock);

template <typename Work> Timing timed(Work &&work)
{
    const double wall0 = now(1);
    const double cpu0 = now(2);
    work();
    return {now(1) - wall0, now(2) - cpu0};
}

double median(std::vector<double> values);

// One line of JSON: {"figure": ..., "case": ..., then the given fields}. Numbers as written.
class Record {
public:
    Record(const std::string &figure, const std::string &what);
    Record &number(const std::string &key, double value);
    Record &text(const std::string &key, const std::string &value);
    Record &flag(const std::string &key, bool value);
    void print() const;

private:
    std::string json_;
};

// Heap allocations made by the calling thread inside a scope (malloc, calloc, realloc and
// therefore operator new). available() is false where they cannot be counted.
bool allocationsCountable();
void allocationsStart();
std::size_t allocationsStop();

// Remote calls made through the RPC library's UDP handles, by program and procedure.
void rpcCountReset();
unsigned rpcCount(uint32_t prog, uint32_t proc);
unsigned rpcCountAll();
std::string rpcCountText(); // "LOOKUP 2, READ 2"

} // namespace bench

#endif
