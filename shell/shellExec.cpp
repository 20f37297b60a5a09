#include "shellExec.h"

#include "shellCall.h"
#include "shellErrno.h"
#include "shellParse.h"
#include "shellSymbols.h"
#include "shellWords.h"

#include <kernel/hostLib.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <sys/uio.h>
#include <unistd.h>
#include <cstring>
#include <deque>
#include <cstdio>
#include <cstdlib>

namespace shell {
namespace {

constexpr long kDisplayMax = 4096;
constexpr std::size_t kDisplayLine = 16;

bool cmdLd(const std::vector<std::string> &words, Session &)
{
    // ld < module, ld module, ld("module")
    std::size_t first = !words.empty() && words[0] == "<" ? 1 : 0;
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

bool cmdHelp(const std::vector<std::string> &, Session &)
{
    std::printf("Commands of the shell (routines and words of the kernel layer and of loaded\n"
                "modules are called or read by name: name arg, ... or name(arg, ...)):\n\n");
    for (const Builtin &builtin : builtinList())
        std::printf("  %s\n", builtin.usage);
    std::printf("\n  name                           show a word, or call a routine\n"
                "  name = value                   set a word (or a shell variable)\n"
                "  name = routine arg, ...        keep a routine's result\n\n"
                "Arguments: 42, -1, 0x2a, 052, 'c', 2.5, \"text\\n\", word, &word.\n"
                "nfsHelp lists the NFS client's commands once brisnel is loaded.\n");
    return true;
}

bool cmdLkup(const std::vector<std::string> &words, Session &)
{
    const std::string text = words.empty() ? "" : words[0];
    for (const SymbolEntry &entry : symbolList()) {
        if (entry.name.find(text) == std::string::npos)
            continue;
        const std::size_t slash = entry.file.rfind('/');
        std::printf("%-32s 0x%016" PRIxPTR " %-5s %s\n", entry.name.c_str(),
                    reinterpret_cast<uintptr_t>(entry.address), entry.isRoutine ? "text" : "data",
                    entry.file.substr(slash == std::string::npos ? 0 : slash + 1).c_str());
    }
    return true;
}

bool cmdHostShow(const std::vector<std::string> &, Session &)
{
    hostShow();
    return true;
}

bool cmdExit(const std::vector<std::string> &words, Session &session)
{
    session.exitRequested = true;
    session.exitStatus = words.empty() ? 0 : std::atoi(words[0].c_str());
    return true;
}

// d address[, count[, width]]: count units of width bytes (1, 2, 4 or 8) from address, in hex,
// 16 bytes to a line with their characters beside them.
bool cmdDisplay(const std::vector<std::string> &words, Session &)
{
    if (words.empty() || words.size() > 3) {
        reportError("usage: d address[, count[, width]]");
        return false;
    }
    Value start;
    std::string error;
    std::deque<std::string> strings;
    const ParseResult parsed = parseCommand("d " + words[0]);
    if (!parsed.ok || parsed.command.args.size() != 1 || !argValue(parsed.command.args[0], start, strings, error)) {
        reportError("d: " + (parsed.ok ? error : parsed.error));
        return false;
    }
    Slot address{};
    const long count = words.size() > 1 ? std::strtol(words[1].c_str(), nullptr, 0) : 16;
    const long width = words.size() > 2 ? std::strtol(words[2].c_str(), nullptr, 0) : 4;
    if (!valueConvert(start, Kind::Pointer, address, error) || address.p == nullptr || count <= 0 ||
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

bool cmdEcho(const std::vector<std::string> &words, Session &)
{
    std::string line;
    for (const std::string &word : words)
        line += (line.empty() ? "" : " ") + word;
    std::printf("%s\n", line.c_str());
    return true;
}

const std::vector<Builtin> builtins = {
    {"cat", cmdCat, "cat \"file\" ...                 print files"},
    {"cd", cmdCd, "cd \"path\"                      change the default directory"},
    {"copy", cmdCopy, "copy \"src\",\"dst\"  copy < src    copy a file (to standard output)"},
    {"d", cmdDisplay, "d address[, count[, width]]    display memory in hex", false},
    {"devs", cmdDevs, "devs                           list the I/O system's devices"},
    {"echo", cmdEcho, "echo text ...                  print the text"},
    {"exit", cmdExit, "exit [status]                  leave the shell"},
    {"help", cmdHelp, "help                           print this list"},
    {"hostShow", cmdHostShow, "hostShow                       list the host table"},
    {"ld", cmdLd, "ld < module                    load a module (libname.so or name)"},
    {"lkup", cmdLkup, "lkup \"text\"                    list loaded symbols containing text"},
    {"ll", cmdLl, "ll [\"path\"]                    list a directory in long form"},
    {"ls", cmdLs, "ls [-l] [\"path\"]               list a directory"},
    {"mkdir", cmdMkdir, "mkdir \"path\"                   make a directory"},
    {"mv", cmdMv, "mv \"old\",\"new\"                 rename"},
    {"pwd", cmdPwd, "pwd                            print the default directory"},
    {"rm", cmdRm, "rm \"file\" ...                  remove files"},
    {"rmdir", cmdRmdir, "rmdir \"path\"                   remove a directory"},
};

// The value a routine call or a name stands for on the right of an assignment.
bool evaluate(const Command &command, Value &value, Kind &kind, const std::string *&text,
              std::deque<std::string> &strings)
{
    std::string error;
    if (command.name.empty()) {
        if (!argValue(command.args[0], value, strings, error)) {
            reportError(error);
            return false;
        }
        kind = command.args[0].type == Arg::Type::String ? Kind::ConstString : Kind::S64;
        text = command.args[0].type == Arg::Type::String ? &command.args[0].text : nullptr;
        return true;
    }
    const NameInfo info = nameLookUp(command.name);
    if (info.what == NameInfo::What::Routine) {
        CallResult result;
        if (!routineCall(command.name, info, command.args, result, error)) {
            reportError(error);
            return false;
        }
        value = result.value;
        kind = result.kind;
        if (result.returnedError) {
            reportError(command.name + ": errno = " + errnoText(result.errorNumber));
            return false;
        }
        return true;
    }
    if (!command.args.empty()) {
        reportError(info.what == NameInfo::What::Unknown ? "unknown name: " + command.name
                                                          : command.name + " is a word, not a routine");
        return false;
    }
    if (!nameValue(command.name, value, error)) {
        reportError(error);
        return false;
    }
    kind = info.kind;
    return true;
}

bool runAssignment(const Command &command)
{
    Command value;
    value.args = command.args;
    value.name = command.valueName;
    Value v;
    Kind kind = Kind::S64;
    const std::string *text = nullptr;
    std::deque<std::string> strings;
    if (!evaluate(value, v, kind, text, strings))
        return false;
    std::string error;
    if (!wordSet(command.name, v, kind, text, error)) {
        reportError(error);
        return false;
    }
    std::printf("%s\n", wordText(command.name, nameLookUp(command.name)).c_str());
    return true;
}

bool runNamed(const Command &command)
{
    const NameInfo info = nameLookUp(command.name);
    switch (info.what) {
    case NameInfo::What::Unknown:
        reportError("unknown name: " + command.name);
        return false;
    case NameInfo::What::Word:
    case NameInfo::What::ShellVariable:
        if (!command.args.empty()) {
            reportError(command.name + " is a word, not a routine");
            return false;
        }
        std::printf("%s\n", wordText(command.name, info).c_str());
        return true;
    case NameInfo::What::Routine:
        break;
    }
    CallResult result;
    std::string error;
    if (!routineCall(command.name, info, command.args, result, error)) {
        reportError(error);
        return false;
    }
    std::printf("%s\n", valueText(result.value, result.kind).c_str());
    if (result.returnedError) {
        std::printf("errno = %s\n", errnoText(result.errorNumber).c_str());
        return false;
    }
    return true;
}

// An unquoted word of a path command that names a string (a char * word or shell variable)
// stands for that string, as an argument of a call would; any other word is itself.
std::string stringOfName(const std::string &word)
{
    std::string name;
    std::string rest;
    if (!splitName(word, name, rest) || !rest.empty())
        return word;
    const NameInfo info = nameLookUp(name);
    if ((info.what != NameInfo::What::ShellVariable && info.what != NameInfo::What::Word) ||
        (info.kind != Kind::String && info.kind != Kind::ConstString) || info.extent > 0)
        return word;
    const Value value = valueLoad(info.address, info.kind);
    return value.address == nullptr ? word : std::string(static_cast<const char *>(value.address));
}

} // namespace

void reportError(const std::string &message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "%s\n", message.c_str());
    std::fflush(stderr);
}

const Builtin *builtinFind(const std::string &name)
{
    for (const Builtin &builtin : builtins)
        if (name == builtin.name)
            return &builtin;
    return nullptr;
}

const std::vector<Builtin> &builtinList() { return builtins; }

bool execute(const std::string &statement, Session &session)
{
    std::string name;
    std::string rest;
    if (!splitName(statement, name, rest)) {
        reportError("a command starts with a name: " + statement);
        return false;
    }
    const std::size_t next = rest.find_first_not_of(" \t");
    const bool assignment = next != std::string::npos && rest[next] == '=';
    if (const Builtin *builtin = builtinFind(name); builtin != nullptr && !assignment) {
        std::vector<std::string> words;
        std::vector<bool> quoted;
        std::string error;
        if (!splitWords(rest, words, error, &quoted)) {
            reportError(name + ": " + error);
            return false;
        }
        for (std::size_t i = 0; i < words.size(); ++i)
            if (builtin->pathWords && !quoted[i])
                words[i] = stringOfName(words[i]);
        const bool ok = builtin->run(words, session);
        std::fflush(stdout);
        return ok;
    }
    const ParseResult parsed = parseCommand(statement);
    if (!parsed.ok) {
        reportError(parsed.error);
        return false;
    }
    const bool ok = parsed.command.assignment ? runAssignment(parsed.command) : runNamed(parsed.command);
    std::fflush(stdout);
    return ok;
}

} // namespace shell
