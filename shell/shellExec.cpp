#include "shellExec.h"

#include "shellCall.h"
#include "shellErrno.h"
#include "shellParse.h"
#include "shellSymbols.h"
#include "shellWords.h"

#include <kernel/hostLib.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace shell {
namespace {

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
        std::string error;
        if (!splitWords(rest, words, error)) {
            reportError(name + ": " + error);
            return false;
        }
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
