// Module-private: an internal routine's result, a value or an error number, so that errors
// travel inside the module as values and the task's error number is set once, at the exported
// entry (or the driver entry the I/O system calls). No exceptions: a failure is a Fail{error}
// returned like any value, and passed up with fail(), or with NFS_TRY where nothing else is to
// be done with it.
//
// An error number of 0 in a failure means "failed without an error number of its own": the
// entry then leaves the task's error number as the caller had it.
#ifndef NFS_CORE_NFSRESULT_H
#define NFS_CORE_NFSRESULT_H

#include <kernel/errnoLib.h>

#include <type_traits>
#include <utility>

namespace nfsres {

// A failure with its error number, convertible into any Result.
struct Fail {
    int error;
};

template <typename T> class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {} // NOLINT(google-explicit-constructor): a value is a result
    Result(Fail fail) : error_(fail.error), ok_(false) {} // NOLINT(google-explicit-constructor)

    bool ok() const { return ok_; }
    // The error number of a failure (0 when it has none of its own).
    int error() const { return error_; }
    Fail fail() const { return Fail{error_}; }
    const T &value() const { return value_; }

private:
    T value_{};
    int error_ = 0;
    bool ok_ = true;
};

// Success without a value, or a failure.
template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Fail fail) : error_(fail.error), ok_(false) {} // NOLINT(google-explicit-constructor)

    bool ok() const { return ok_; }
    int error() const { return error_; }
    Fail fail() const { return Fail{error_}; }

private:
    int error_ = 0;
    bool ok_ = true;
};

using Status = Result<void>;

// A status as a count-or-failure result: 0 for success.
inline Result<int> zeroOr(const Status &status)
{
    if (status.ok())
        return 0;
    return status.fail();
}

// A result's outcome without its value.
template <typename T> Status statusOf(const Result<T> &result)
{
    if (result.ok())
        return {};
    return result.fail();
}

// A condition as a status: a failure with the error number given when it does not hold.
inline Status statusOf(bool good, int error)
{
    if (good)
        return {};
    return Fail{error};
}

// At an exported entry: the value, or `failed` with the task's error number set from the
// failure (left as it was for a failure without an error number of its own).
template <typename T, typename R> R entry(const Result<T> &result, R failed)
{
    if (result.ok()) {
        if constexpr (std::is_void_v<T>)
            return R{};
        else
            return static_cast<R>(result.value());
    }
    if (result.error() != 0)
        errnoSet(result.error());
    return failed;
}
inline int entry(const Status &status)
{
    return entry(status, -1);
}
template <typename T> T entry(const Result<T> &result)
{
    return entry(result, static_cast<T>(-1));
}

// The one bridge to a routine still on the C convention (the cache, a dispatch slot, the
// kernel layer): call() returns -1 on failure with the error number set. Its result, or the
// error it set (0 when it set none); the task's error number stays as the caller had it,
// whatever the call did to it.
template <typename Call> auto viaErrno(Call call) -> Result<decltype(call())>
{
    const int callerErrno = errnoGet();
    errnoSet(0);
    const auto result = call();
    const int error = errnoGet();
    errnoSet(callerErrno);
    if (result == -1)
        return Fail{error};
    return result;
}

} // namespace nfsres

// Returns the failure of a Status or Result from the enclosing routine (which returns a Status
// or a Result of any type), and goes on after a success:   NFS_TRY(lineOut(line));
#define NFS_TRY(expression)                                                                                  \
    do {                                                                                                     \
        if (const auto nfsTried_ = (expression); !nfsTried_.ok())                                            \
            return nfsTried_.fail();                                                                         \
    } while (false)

#endif
