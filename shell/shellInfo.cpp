// The commands that tell about the system: help, lkup, version, i, h, printErrno and date.
#include "shellCall.h"
#include "shellErrno.h"
#include "shellExec.h"
#include "shellSymbols.h"
#include "shellWords.h"

#include <kernel/sysLib.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <string>

namespace shell {
namespace {

constexpr int kDateTimeoutSeconds = 3;

struct History {
    std::mutex lock;
    std::vector<std::string> lines;
};

History &history()
{
    static History instance;
    return instance;
}

std::string lowered(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The C type a kind stands for, as a prototype spells it.
const char *cTypeName(Kind kind)
{
    switch (kind) {
    case Kind::S8: return "int8_t";
    case Kind::U8: return "uint8_t";
    case Kind::S16: return "int16_t";
    case Kind::U16: return "uint16_t";
    case Kind::S64: return "int64_t";
    case Kind::U64: return "uint64_t";
    case Kind::Pointer: return "void *";
    case Kind::ConstPointer: return "const void *";
    default: return kindName(kind);
    }
}

// The header's own declaration where there is one, else one made from the call table's kinds.
std::string prototypeText(const std::string &name, const RoutineProto &proto)
{
    if (const char *declared = routineDeclarationFind(name.c_str()))
        return declared;
    std::string text = std::string(cTypeName(proto.result)) + " " + name + "(";
    for (std::size_t i = 0; i < proto.nArgs && i < kMaxArgs; ++i)
        text += std::string(i == 0 ? "" : ", ") + cTypeName(proto.args[i]);
    if (proto.variadic)
        text += proto.nArgs == 0 ? "..." : ", ...";
    else if (proto.nArgs == 0)
        text += "void";
    return text + ")";
}

// Calls a routine of a loaded module by name, when it is there: the shell does not depend on
// the modules it can call.
bool callByName(const std::string &name, const Values &values, CallResult &result)
{
    const NameInfo info = nameLookUp(name);
    std::string error;
    return info.what == NameInfo::What::Routine && routineCall(name, info, values, result, error);
}

} // namespace

void historyAdd(const std::string &line)
{
    History &h = history();
    const std::lock_guard guard(h.lock);
    h.lines.push_back(line);
}

bool cmdHistory(const Words &words, Session &)
{
    if (!words.empty()) {
        reportError("usage: h");
        return false;
    }
    History &h = history();
    const std::lock_guard guard(h.lock);
    for (std::size_t i = 0; i < h.lines.size(); ++i)
        std::printf("%4zu  %s\n", i + 1, h.lines[i].c_str());
    return true;
}

bool cmdHelp(const Words &words, Session &)
{
    if (words.size() > 1) {
        reportError("usage: help [name]");
        return false;
    }
    if (words.size() == 1) {
        const std::string &name = words[0];
        if (const BuiltinSpec *builtin = builtinSpecFind(name)) {
            std::printf("%.*s\n", static_cast<int>(builtin->usage.size()), builtin->usage.data());
            return true;
        }
        const NameInfo info = nameLookUp(name);
        switch (info.what) {
        case NameInfo::What::Unknown: reportError("help: unknown name: " + name); return false;
        case NameInfo::What::Routine:
            if (info.proto == nullptr)
                std::printf("%s: a routine without a prototype (takes and returns pointer-wide integers)\n",
                            name.c_str());
            else
                std::printf("%s\n", prototypeText(name, *info.proto).c_str());
            if (const char *description = routineDescriptionFind(name.c_str()))
                std::printf("    %s\n", description);
            return true;
        default: std::printf("%s\n", wordText(name, info).c_str()); return true;
        }
    }
    std::printf("Commands of the shell (routines and words of the kernel layer and of loaded\n"
                "modules are called or read by name: name arg, ... or name(arg, ...)):\n\n");
    for (const BuiltinSpec &builtin : kBuiltinSpecs)
        std::printf("  %.*s\n", static_cast<int>(builtin.usage.size()), builtin.usage.data());
    std::printf("\n  name                           show a word, or call a routine\n"
                "  name = value                   set a word (or a shell variable)\n"
                "  name = routine arg, ...        keep a routine's result\n\n"
                "Arguments: 42, -1, 0x2a, 052, 'c', 2.5, \"text\\n\", word, &word, K_O_RDWR, and C\n"
                "integer expressions of them: | & ^ << >> + - * / ~ ! ( ).\n"
                "Ctrl-C stops the running command. nfsHelp lists the NFS client's commands once\n"
                "brisnel is loaded.\n");
    return true;
}

bool cmdLkup(const Words &words, Session &)
{
    if (words.size() > 1) {
        reportError("usage: lkup [text]");
        return false;
    }
    const std::string text = lowered(words.empty() ? "" : words[0]);
    for (const SymbolEntry &entry : symbolList()) {
        if (lowered(entry.name).find(text) == std::string::npos)
            continue;
        const std::size_t slash = entry.file.rfind('/');
        std::printf("%-32s 0x%016" PRIxPTR " %-5s %s\n", entry.name.c_str(),
                    reinterpret_cast<uintptr_t>(entry.address), entry.isRoutine ? "text" : "data",
                    entry.file.substr(slash == std::string::npos ? 0 : slash + 1).c_str());
    }
    for (const BuiltinSpec &builtin : kBuiltinSpecs)
        if (lowered(std::string(builtin.name)).find(text) != std::string::npos)
            std::printf("%-32.*s %-18s %-5s rtsh\n", static_cast<int>(builtin.name.size()),
                        builtin.name.data(), "", "cmd");
    return true;
}

bool cmdVersion(const Words &words, Session &)
{
    if (!words.empty()) {
        reportError("usage: version");
        return false;
    }
    std::printf("rtsh %s, kernel layer %s\n", RTSH_VERSION, RTSH_VERSION);
    for (const std::string &module : moduleList())
        std::printf("  module %s\n", module.c_str());
    return true;
}

// The kernel's tasks are the process's threads: the shell's, its call task, and any a
// routine started.
bool cmdTasks(const Words &words, Session &)
{
    if (!words.empty()) {
        reportError("usage: i");
        return false;
    }
    DIR *tasks = opendir("/proc/self/task");
    if (tasks == nullptr) {
        reportError("i: the task list cannot be read");
        return false;
    }
    std::vector<long> ids;
    while (const dirent *entry = readdir(tasks))
        if (std::isdigit(static_cast<unsigned char>(entry->d_name[0])) != 0)
            ids.push_back(std::strtol(entry->d_name, nullptr, 10));
    closedir(tasks);
    std::sort(ids.begin(), ids.end());
    std::printf("  %-16s %8s %s\n", "NAME", "TID", "STATUS");
    for (const long id : ids) {
        const std::string dir = "/proc/self/task/" + std::to_string(id);
        std::string name;
        std::getline(std::ifstream(dir + "/comm"), name);
        std::string stat;
        std::getline(std::ifstream(dir + "/stat"), stat);
        const std::size_t close = stat.rfind(')');
        const char state = close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : '?';
        const char *status = state == 'R' ? "READY" : state == 'S' || state == 'D' ? "PEND" : "SUSPEND";
        std::printf("  %-16s %8ld %s\n", name.c_str(), id, status);
    }
    return true;
}

bool cmdPrintErrno(const Values &values, Session &)
{
    if (values.size() > 1) {
        reportError("usage: printErrno [number]");
        return false;
    }
    Slot slot{};
    std::string error;
    if (values.empty()) {
        slot.s32 = lastErrno();
    } else if (!valueConvert(values[0], Kind::S32, slot, error)) {
        reportError("printErrno: " + error);
        return false;
    }
    std::printf("errno = %s\n", errnoText(slot.s32).c_str());
    return true;
}

// date server: asks the server for the time (sntpcTimeGet of tovelle, found by name) and
// prints it in UTC, ISO 8601, with the host clock's offset from it and, where tovelle keeps
// it, the round trip of the query.
bool cmdDate(const Words &words, Session &)
{
    if (words.size() != 1) {
        reportError("usage: date server");
        return false;
    }
    timespec answer{};
    CallResult result;
    const std::string &server = words[0];
    const Values args{Value::pointer(const_cast<char *>(server.c_str())),
                      Value::integer(int64_t{sysClkRateGet()} * kDateTimeoutSeconds),
                      Value::pointer(&answer)};
    if (nameLookUp("sntpcTimeGet").what != NameInfo::What::Routine) {
        reportError("date: sntpcTimeGet is not loaded (ld < tovelle)");
        return false;
    }
    timespec host{};
    if (!callByName("sntpcTimeGet", args, result))
        return false;
    clock_gettime(CLOCK_REALTIME, &host);
    if (result.returnedError) {
        std::string kiss;
        std::array<char, 5> code{};
        CallResult kissResult;
        if (callByName("sntpcKissCodeGet", {Value::pointer(code.data())}, kissResult) &&
            !kissResult.returnedError && code[0] != '\0')
            kiss = std::string(" (kiss code ") + std::string(code.data(), strnlen(code.data(), 4)) + ")";
        reportError("date: " + server + ": errno = " + errnoText(result.errorNumber) + kiss);
        return false;
    }
    // The answer's seconds are 32 bits wide, as on the target: read them as unsigned.
    const auto seconds = static_cast<time_t>(static_cast<uint32_t>(answer.tv_sec));
    tm parts{};
    std::array<char, 32> when{};
    gmtime_r(&seconds, &parts);
    std::strftime(when.data(), when.size(), "%Y-%m-%dT%H:%M:%S", &parts);
    const double offset =
        static_cast<double>(host.tv_sec - seconds) + static_cast<double>(host.tv_nsec - answer.tv_nsec) / 1e9;
    std::printf("%s.%06ldZ %+.6f s (host clock minus server)", when.data(), answer.tv_nsec / 1000, offset);
    timespec trip{};
    CallResult tripResult;
    if (callByName("sntpcRoundTripGet", {Value::pointer(&trip)}, tripResult) && !tripResult.returnedError)
        std::printf(" +/- %.6f s",
                    (static_cast<double>(trip.tv_sec) + static_cast<double>(trip.tv_nsec) / 1e9) / 2);
    std::printf(" %s\n", server.c_str());
    return true;
}

} // namespace shell
