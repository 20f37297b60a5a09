// Runs one statement of the syntax tree: a built-in command, an assignment, a word shown, a
// routine called.
#ifndef SHELL_SHELLEXEC_H
#define SHELL_SHELLEXEC_H

#include "shellLang.h"
#include "shellValue.h"

#include <string>
#include <vector>

namespace shell {

struct Session {
    bool exitRequested = false;
    int exitStatus = 0;
};

// False when the statement failed: it could not be run, a command failed, or a routine with
// an integer result returned -1 (the kernel's ERROR).
bool execute(const Statement &statement, Session &session);

// Whether a name is a routine of the system, for the parser.
bool isRoutineName(const std::string &name);

// Prints a failure on standard error, after what standard output holds.
void reportError(const std::string &message);

using Words = std::vector<std::string>;
using Values = std::vector<Value>;

// The file commands, in shellFiles.cpp.
bool cmdLs(const Words &words, Session &session);
bool cmdLl(const Words &words, Session &session);
bool cmdCd(const Words &words, Session &session);
bool cmdPwd(const Words &words, Session &session);
bool cmdCat(const Words &words, Session &session);
bool cmdCopy(const Words &words, Session &session);
bool cmdMkdir(const Words &words, Session &session);
bool cmdRmdir(const Words &words, Session &session);
bool cmdRm(const Words &words, Session &session);
bool cmdMv(const Words &words, Session &session);
bool cmdDevs(const Words &words, Session &session);
bool cmdStat(const Words &words, Session &session);
bool cmdDf(const Words &words, Session &session);
bool cmdTouch(const Words &words, Session &session);
bool cmdChmod(const Words &words, Session &session);
bool cmdLn(const Words &words, Session &session);
bool cmdReadlink(const Words &words, Session &session);
bool cmdLock(const Words &words, Session &session);
// The commands about the system, in shellInfo.cpp.
bool cmdHelp(const Words &words, Session &session);
bool cmdLkup(const Words &words, Session &session);
bool cmdVersion(const Words &words, Session &session);
bool cmdTasks(const Words &words, Session &session);
bool cmdHistory(const Words &words, Session &session);
bool cmdDate(const Words &words, Session &session);
bool cmdPrintErrno(const Values &values, Session &session);
// The NFS mount commands, in shellMount.cpp.
bool cmdMount(const Words &words, Session &session);
bool cmdUmount(const Words &words, Session &session);

// A path the user typed, made absolute against the default directory and condensed after
// its device name ("host:/a/../b" becomes "host:/b"); "/x" on no device of that name is
// taken on the default directory's device.
std::string resolvePath(const std::string &typed);

// The working directory that cd starts from when the kernel's default path is empty.
void workingDirectoryInit();

// The history of the session's lines, for h; kept by the line sources.
void historyAdd(const std::string &line);

} // namespace shell

#endif
