// Timing, medians and the JSON lines of the speed benchmarks.
#include "benchSupport.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace bench {

double now(int clock)
{
    timespec ts{};
    clock_gettime(clock == 1 ? CLOCK_MONOTONIC : CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

namespace {

std::string quoted(const std::string &text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

} // namespace

Record::Record(const std::string &figure, const std::string &what)
    : json_("{\"figure\": " + quoted(figure) + ", \"case\": " + quoted(what))
{
}

Record &Record::number(const std::string &key, double value)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.10g", std::isfinite(value) ? value : 0.0);
    json_ += ", " + quoted(key) + ": " + text;
    return *this;
}

Record &Record::text(const std::string &key, const std::string &value)
{
    json_ += ", " + quoted(key) + ": " + quoted(value);
    return *this;
}

Record &Record::flag(const std::string &key, bool value)
{
    json_ += ", " + quoted(key) + (value ? ": true" : ": false");
    return *this;
}

void Record::print() const
{
    std::printf("%s}\n", json_.c_str());
    std::fflush(stdout);
}

} // namespace bench
