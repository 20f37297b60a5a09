#include "shellExec.h"

#include "shellCall.h"
#include "shellErrno.h"
#include "shellSymbols.h"
#include "shellTask.h"
#include "shellWords.h"

#include <kernel/hostLib.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <sys/uio.h>
#include <unistd.h>

namespace shell {
namespace {

constexpr long kDisplayMax = 4096;
constexpr std::size_t kDisplayLine = 16;

bool cmdLd(const Words &words, Session &)
{
    // ld < module, ld module, ld("module")
    const std::size_t first = !words.empty() && words[0] == "<" ? 1 : 0;
    if (words.size() != first + 1) {
        reportError("usage: ld < module");
        return false;
    }
    std::string error;
    std::string path;
    if (!moduleLoad(words[first], error, path)) {
        reportError("ld: " + error);
        return false;
    }
    std::printf("ld: loaded %s\n", path.c_str());
    return true;
}

bool cmdHostShow(const Words &words, Session &)
{
    if (!words.empty()) {
        reportError("usage: hostShow");
        return false;
    }
    hostShow();
    return true;
}

bool integerOf(const Value &value, const char *what, int64_t &out)
{
    Slot slot{};
    std::string error;
    if (!valueConvert(value, Kind::S64, slot, error)) {
        reportError(std::string(what) + ": " + error);
        return false;
    }
    out = slot.s64;
    return true;
}

bool cmdExit(const Values &values, Session &session)
{
    int64_t status = 0;
    if (values.size() > 1 || (values.size() == 1 && !integerOf(values[0], "exit", status))) {
        reportError("usage: exit [status]");
        return false;
    }
    session.exitRequested = true;
    session.exitStatus = static_cast<int>(status & 0xff);
    return true;
}

// d address[, count[, width]]: count units of width bytes (1, 2, 4 or 8) from address, in hex,
// 16 bytes to a line with their characters beside them.
bool cmdDisplay(const Values &values, Session &)
{
    if (values.empty() || values.size() > 3) {
        reportError("usage: d address[, count[, width]]");
        return false;
    }
    Slot address{};
    std::string error;
    int64_t count = 16;
    int64_t width = 4;
    if ((values.size() > 1 && !integerOf(values[1], "d", count)) ||
        (values.size() > 2 && !integerOf(values[2], "d", width)))
        return false;
    if (!valueConvert(values[0], Kind::Pointer, address, error) || address.p == nullptr || count <= 0 ||
        count > kDisplayMax || (width != 1 && width != 2 && width != 4 && width != 8)) {
        reportError("d: a non-null address, a count of 1 to 4096 and a width of 1, 2, 4 or 8");
        return false;
    }
    const auto total = static_cast<std::size_t>(count * width);
    const auto unit = static_cast<std::size_t>(width);
    // Read through the kernel, so that an address that is not mapped is refused, not a crash.
    std::vector<unsigned char> copy(total);
    iovec local{copy.data(), total};
    iovec remote{address.p, total};
    if (process_vm_readv(getpid(), &local, 1, &remote, 1, 0) != static_cast<ssize_t>(total)) {
        reportError("d: the memory at that address cannot be read");
        return false;
    }
    const auto first = reinterpret_cast<uintptr_t>(address.p);
    const unsigned char *bytes = copy.data();
    for (std::size_t line = 0; line < total; line += kDisplayLine) {
        std::printf("%016" PRIxPTR ": ", first + line);
        const std::size_t end = std::min(total, line + kDisplayLine);
        for (std::size_t at = line; at < end; at += unit) {
            uint64_t value = 0;
            std::memcpy(&value, bytes + at, unit);
            std::printf(" %0*" PRIx64, static_cast<int>(unit * 2), value);
        }
        std::printf("  *");
        for (std::size_t at = line; at < end; ++at)
            std::printf("%c", std::isprint(bytes[at]) != 0 ? bytes[at] : '.');
        std::printf("*\n");
    }
    return true;
}

bool cmdEcho(const Words &words, Session &)
{
    std::string line;
    for (const std::string &word : words)
        line += (line.empty() ? "" : " ") + word;
    std::printf("%s\n", line.c_str());
    return true;
}

struct Runner {
    std::string_view name;
    bool (*words)(const Words &, Session &);
    bool (*values)(const Values &, Session &);
};

constexpr Runner words(std::string_view name, bool (*run)(const Words &, Session &))
{
    return {name, run, nullptr};
}
constexpr Runner values(std::string_view name, bool (*run)(const Values &, Session &))
{
    return {name, nullptr, run};
}

// In the order of kBuiltinSpecs, which the parser reads.
constexpr Runner kRunners[] = {
    words("cat", cmdCat),
    words("cd", cmdCd),
    words("chmod", cmdChmod),
    words("copy", cmdCopy),
    values("d", cmdDisplay),
    words("date", cmdDate),
    words("devs", cmdDevs),
    words("df", cmdDf),
    words("echo", cmdEcho),
    values("exit", cmdExit),
    words("h", cmdHistory),
    words("help", cmdHelp),
    words("hostShow", cmdHostShow),
    words("i", cmdTasks),
    words("ld", cmdLd),
    words("lkup", cmdLkup),
    words("ll", cmdLl),
    words("ln", cmdLn),
    words("lock", cmdLock),
    words("ls", cmdLs),
    words("mkdir", cmdMkdir),
    words("mount", cmdMount),
    words("mv", cmdMv),
    values("printErrno", cmdPrintErrno),
    words("pwd", cmdPwd),
    words("readlink", cmdReadlink),
    words("rm", cmdRm),
    words("rmdir", cmdRmdir),
    words("stat", cmdStat),
    words("touch", cmdTouch),
    words("umount", cmdUmount),
    words("version", cmdVersion),
};

constexpr bool runnersMatchSpecs()
{
    if (std::size(kRunners) != std::size(kBuiltinSpecs))
        return false;
    for (std::size_t i = 0; i < std::size(kRunners); ++i)
        if (kRunners[i].name != kBuiltinSpecs[i].name)
            return false;
    return true;
}
static_assert(runnersMatchSpecs(), "every built-in has its runner, in the same order");

const Runner *runnerFind(const std::string &name)
{
    for (const Runner &runner : kRunners)
        if (runner.name == name)
            return &runner;
    return nullptr;
}

// What an expression evaluated to: its value, the kind it has, and for a string literal
// its text (a word set to it keeps a copy).
struct Evaluated {
    Value value;
    Kind kind = Kind::S64;
    const std::string *text = nullptr;
};

bool integerBitsOf(const Value &v, uint64_t &bits, std::string &error)
{
    if (v.cls == Value::Class::Floating) {
        error = "an integer operator needs integers, not a floating-point number";
        return false;
    }
    if (v.cls == Value::Class::Address) {
        bits = reinterpret_cast<uintptr_t>(v.address);
        return true;
    }
    if (v.negative && v.magnitude > (uint64_t{1} << 63)) {
        error = "number out of range";
        return false;
    }
    bits = v.negative ? ~v.magnitude + 1 : v.magnitude;
    return true;
}

double doubleOf(const Value &v)
{
    if (v.cls == Value::Class::Floating)
        return v.floating;
    return v.negative ? -static_cast<double>(v.magnitude) : static_cast<double>(v.magnitude);
}

std::string at(const Expr &expr)
{
    return std::to_string(expr.at.line) + ":" + std::to_string(expr.at.column) + ": ";
}

bool evaluate(const Expr &expr, Evaluated &out, std::deque<std::string> &strings, std::string &error);

bool unary(const Expr &expr, Evaluated &out, std::deque<std::string> &strings, std::string &error)
{
    if (!evaluate(*expr.left, out, strings, error))
        return false;
    Value &v = out.value;
    out.text = nullptr;
    if (expr.text == "+")
        return true;
    if (expr.text == "-" && v.cls != Value::Class::Address) {
        out.kind = v.cls == Value::Class::Floating ? Kind::Double : Kind::S64;
        v.floating = -v.floating;
        v.negative = !v.negative && v.magnitude != 0;
        return true;
    }
    uint64_t bits = 0;
    if (!integerBitsOf(v, bits, error)) {
        error = at(expr) + error;
        return false;
    }
    const uint64_t result = expr.text == "-"   ? ~bits + 1
                            : expr.text == "~" ? ~bits
                                               : static_cast<uint64_t>(bits == 0);
    v = Value::integer(static_cast<int64_t>(result));
    out.kind = Kind::S64;
    return true;
}

bool binary(const Expr &expr, Evaluated &out, std::deque<std::string> &strings, std::string &error)
{
    Evaluated left;
    Evaluated right;
    if (!evaluate(*expr.left, left, strings, error) || !evaluate(*expr.right, right, strings, error))
        return false;
    const std::string &op = expr.text;
    const bool floating =
        left.value.cls == Value::Class::Floating || right.value.cls == Value::Class::Floating;
    if (floating && (op == "+" || op == "-" || op == "*" || op == "/")) {
        const double a = doubleOf(left.value);
        const double b = doubleOf(right.value);
        out.value = Value::real(op == "+" ? a + b : op == "-" ? a - b : op == "*" ? a * b : a / b);
        out.kind = Kind::Double;
        return true;
    }
    uint64_t a = 0;
    uint64_t b = 0;
    if (!integerBitsOf(left.value, a, error) || !integerBitsOf(right.value, b, error)) {
        error = at(expr) + error;
        return false;
    }
    const bool isSigned = left.value.negative || right.value.negative;
    uint64_t result = 0;
    if (op == "|") {
        result = a | b;
    } else if (op == "&") {
        result = a & b;
    } else if (op == "^") {
        result = a ^ b;
    } else if (op == "<<" || op == ">>") {
        if (b >= 64) {
            error = at(expr) + "shift count out of range: " + std::to_string(b);
            return false;
        }
        result = op == "<<" ? a << b
                 : isSigned ? static_cast<uint64_t>(static_cast<int64_t>(a) >> b)
                            : a >> b;
    } else if (op == "+") {
        result = a + b;
    } else if (op == "-") {
        result = a - b;
    } else if (op == "*") {
        result = a * b;
    } else {
        if (b == 0) {
            error = at(expr) + "division by zero";
            return false;
        }
        result = isSigned ? static_cast<uint64_t>(static_cast<int64_t>(a) / static_cast<int64_t>(b)) : a / b;
    }
    // An address moved by a number stays an address (a pointer into a word, say).
    const bool address = (op == "+" || op == "-") && (left.value.cls == Value::Class::Address) !=
                                                         (right.value.cls == Value::Class::Address);
    // The result is a 64-bit int, as C's long long: 1 - 2 is -1, and the bits stay the same.
    out.value = address ? Value::pointer(reinterpret_cast<void *>(static_cast<uintptr_t>(result)))
                        : Value::integer(static_cast<int64_t>(result));
    out.kind = address ? Kind::Pointer : Kind::S64;
    out.text = nullptr;
    return true;
}

bool evaluate(const Expr &expr, Evaluated &out, std::deque<std::string> &strings, std::string &error)
{
    out = Evaluated{};
    switch (expr.type) {
    case Expr::Type::Integer: out.value = Value::unsignedInteger(expr.integer); return true;
    case Expr::Type::Floating:
        out.value = Value::real(expr.floating);
        out.kind = Kind::Double;
        return true;
    case Expr::Type::String:
        // A deque keeps each string where it is while more are added.
        strings.push_back(expr.text);
        out.value = Value::pointer(strings.back().data());
        out.kind = Kind::ConstString;
        out.text = &expr.text;
        return true;
    case Expr::Type::Name: {
        if (!nameValue(expr.text, out.value, error)) {
            error = at(expr) + error;
            return false;
        }
        const NameInfo info = nameLookUp(expr.text);
        out.kind = info.what == NameInfo::What::Routine || info.extent > 0 ? Kind::Pointer : info.kind;
        return true;
    }
    case Expr::Type::AddressOf:
        if (!nameAddress(expr.text, out.value, error)) {
            error = at(expr) + error;
            return false;
        }
        out.kind = Kind::Pointer;
        return true;
    case Expr::Type::Unary: return unary(expr, out, strings, error);
    case Expr::Type::Binary: return binary(expr, out, strings, error);
    }
    return false;
}

bool evaluateArgs(const std::vector<std::unique_ptr<Expr>> &args, Values &values,
                  std::deque<std::string> &strings)
{
    for (const auto &arg : args) {
        Evaluated evaluated;
        std::string error;
        if (!evaluate(*arg, evaluated, strings, error)) {
            reportError(error);
            return false;
        }
        values.push_back(evaluated.value);
    }
    return true;
}

// Calls a routine; false when it could not be called.
bool call(const std::string &name, const NameInfo &info, const std::vector<std::unique_ptr<Expr>> &args,
          CallResult &result)
{
    // The task's own, so that a routine that faults, whose frames are left behind, does not
    // lose them: they go with the task.
    thread_local std::deque<std::string> strings;
    thread_local Values values;
    strings.clear();
    values.clear();
    if (!evaluateArgs(args, values, strings))
        return false;
    std::string error;
    if (!routineCall(name, info, values, result, error)) {
        reportError(error);
        return false;
    }
    return true;
}

std::string notRoutine(const std::string &name, const NameInfo &info)
{
    return info.what == NameInfo::What::Unknown ? "unknown name: " + name
                                                : name + " is a word, not a routine";
}

bool runAssign(const Statement &statement)
{
    Evaluated value;
    std::deque<std::string> strings;
    if (statement.value == nullptr) {
        const NameInfo info = nameLookUp(statement.routine);
        CallResult result;
        if (!call(statement.routine, info, statement.args, result))
            return false;
        if (result.returnedError) {
            reportError(statement.routine + ": errno = " + errnoText(result.errorNumber));
            const std::string hint = errnoHint(statement.routine, result.errorNumber);
            if (!hint.empty())
                reportError("hint: " + hint);
            return false;
        }
        value.value = result.value;
        value.kind = result.kind;
    } else {
        std::string error;
        if (!evaluate(*statement.value, value, strings, error)) {
            reportError(error);
            return false;
        }
    }
    std::string error;
    if (!wordSet(statement.name, value.value, value.kind, value.text, error)) {
        reportError(error);
        return false;
    }
    std::printf("%s\n", wordText(statement.name, nameLookUp(statement.name)).c_str());
    return true;
}

bool runCall(const Statement &statement)
{
    const NameInfo info = nameLookUp(statement.name);
    if (info.what != NameInfo::What::Routine) {
        reportError(notRoutine(statement.name, info));
        return false;
    }
    CallResult result;
    if (!call(statement.name, info, statement.args, result))
        return false;
    std::printf("%s\n", valueText(result.value, result.kind).c_str());
    if (result.returnedError) {
        std::printf("errno = %s\n", errnoText(result.errorNumber).c_str());
        const std::string hint = errnoHint(statement.name, result.errorNumber);
        if (!hint.empty())
            std::printf("hint: %s\n", hint.c_str());
        return false;
    }
    return true;
}

bool runShow(const Statement &statement)
{
    const NameInfo info = nameLookUp(statement.name);
    if (info.what == NameInfo::What::Routine)
        return runCall(statement);
    if (info.what == NameInfo::What::Unknown) {
        reportError("unknown name: " + statement.name);
        return false;
    }
    std::printf("%s\n", wordText(statement.name, info).c_str());
    return true;
}

// An unquoted word of a command that names a string (a char * word or shell variable)
// stands for that string, as an argument of a call would; any other word is itself.
std::string stringOfName(const Word &word)
{
    if (word.quoted || word.text.empty() ||
        word.text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ_0123456789") !=
            std::string::npos ||
        (word.text[0] >= '0' && word.text[0] <= '9'))
        return word.text;
    const NameInfo info = nameLookUp(word.text);
    if ((info.what != NameInfo::What::ShellVariable && info.what != NameInfo::What::Word) ||
        (info.kind != Kind::String && info.kind != Kind::ConstString) || info.extent > 0)
        return word.text;
    const Value value = valueLoad(info.address, info.kind);
    return value.address == nullptr ? word.text : std::string(static_cast<const char *>(value.address));
}

bool runCommand(const Statement &statement, Session &session)
{
    const Runner *runner = runnerFind(statement.name);
    if (runner == nullptr) {
        reportError("unknown command: " + statement.name);
        return false;
    }
    // A fault in the command (in a driver it calls, say) is reported as the command's.
    currentRoutineSet(statement.name.c_str());
    bool ok = false;
    const auto *builtin = builtinSpecFind(statement.name);
    if (builtin != nullptr && builtin->style == ArgStyle::Words) {
        Words words;
        for (const Word &word : statement.words)
            words.push_back(stringOfName(word));
        ok = runner->words(words, session);
    } else {
        std::deque<std::string> strings;
        Values values;
        ok = evaluateArgs(statement.args, values, strings) && runner->values(values, session);
    }
    currentRoutineSet(nullptr);
    return ok;
}

} // namespace

void reportError(const std::string &message)
{
    std::fflush(stdout);
    if (!message.empty())
        std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
}

bool isRoutineName(const std::string &name)
{
    return nameLookUp(name).what == NameInfo::What::Routine;
}

bool execute(const Statement &statement, Session &session)
{
    bool ok = false;
    switch (statement.type) {
    case Statement::Type::Command: ok = runCommand(statement, session); break;
    case Statement::Type::Assign: ok = runAssign(statement); break;
    case Statement::Type::Show: ok = runShow(statement); break;
    case Statement::Type::Call: ok = runCall(statement); break;
    }
    std::fflush(stdout);
    return ok;
}

} // namespace shell
