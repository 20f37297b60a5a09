// Calls a routine by address through libffi, passing each argument with the type its
// prototype gives it, or as pointer-wide integers when no prototype is known.
#ifndef SHELL_SHELLCALL_H
#define SHELL_SHELLCALL_H

#include "shellParse.h"
#include "shellValue.h"
#include "shellWords.h"

#include <deque>
#include <string>
#include <vector>

namespace shell {

struct CallResult {
    Value value;
    Kind kind = Kind::Void;
    bool returnedError = false; // -1 from a routine with an integer result
    int errorNumber = 0;        // the task's error number after the call
};

// Evaluates an argument: a literal, a name's value or address; strings are stored in
// `strings`, which must outlive the call.
bool argValue(const Arg &arg, Value &value, std::deque<std::string> &strings, std::string &error);

// False with error set, and nothing called, when the arguments do not suit the prototype.
bool routineCall(const std::string &name, const NameInfo &routine, const std::vector<Arg> &args,
                 CallResult &result, std::string &error);

} // namespace shell

#endif
