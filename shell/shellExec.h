// Runs one statement: a built-in command, an assignment, a word shown, a routine called.
#ifndef SHELL_SHELLEXEC_H
#define SHELL_SHELLEXEC_H

#include <string>
#include <vector>

namespace shell {

struct Session {
    bool exitRequested = false;
    int exitStatus = 0;
};

// False when the statement failed: it could not be parsed or run, a command failed, or a
// routine with an integer result returned -1 (the kernel's ERROR).
bool execute(const std::string &statement, Session &session);

// Prints a failure on standard error, after what standard output holds.
void reportError(const std::string &message);

struct Builtin {
    const char *name;
    bool (*run)(const std::vector<std::string> &words, Session &session);
    const char *usage;
    bool pathWords = true; // unquoted names of strings stand for the strings
};

const Builtin *builtinFind(const std::string &name);
const std::vector<Builtin> &builtinList();

// The file commands, in shellFiles.cpp.
bool cmdLs(const std::vector<std::string> &words, Session &session);
bool cmdLl(const std::vector<std::string> &words, Session &session);
bool cmdCd(const std::vector<std::string> &words, Session &session);
bool cmdPwd(const std::vector<std::string> &words, Session &session);
bool cmdCat(const std::vector<std::string> &words, Session &session);
bool cmdCopy(const std::vector<std::string> &words, Session &session);
bool cmdMkdir(const std::vector<std::string> &words, Session &session);
bool cmdRmdir(const std::vector<std::string> &words, Session &session);
bool cmdRm(const std::vector<std::string> &words, Session &session);
bool cmdMv(const std::vector<std::string> &words, Session &session);
bool cmdDevs(const std::vector<std::string> &words, Session &session);

// A path the user typed, made absolute against the default directory and condensed after
// its device name ("host:/a/../b" becomes "host:/b").
std::string resolvePath(const std::string &typed);

// The working directory that cd starts from when the kernel's default path is empty.
void workingDirectoryInit();

} // namespace shell

#endif
