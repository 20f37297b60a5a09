// Calls a routine by address through libffi, passing each argument with the type its
// prototype gives it, or as pointer-wide integers when no prototype is known.
#ifndef SHELL_SHELLCALL_H
#define SHELL_SHELLCALL_H

#include "shellValue.h"
#include "shellWords.h"

#include <string>
#include <vector>

namespace shell {

struct CallResult {
    Value value;
    Kind kind = Kind::Void;
    bool returnedError = false; // -1 from a routine with an integer result
    int errorNumber = 0;        // the task's error number after the call
};

// False with error set, and nothing called, when the arguments do not suit the prototype.
bool routineCall(const std::string &name, const NameInfo &routine, const std::vector<Value> &values,
                 CallResult &result, std::string &error);

// The task's error number as the last routine called left it.
int lastErrno();

} // namespace shell

#endif
