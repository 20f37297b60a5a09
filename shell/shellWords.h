// Names as values: the words of the kernel layer and the modules (read and set with their
// declared types), routines as addresses, and the shell's own variables, which an assignment
// to a name that nothing defines creates.
#ifndef SHELL_SHELLWORDS_H
#define SHELL_SHELLWORDS_H

#include "shellSymbols.h"
#include "shellValue.h"

#include <string>

namespace shell {

// A name as it appears in a command: a routine, a word of the system, a shell variable.
struct NameInfo {
    enum class What { Unknown, Routine, Word, ShellVariable, Constant };
    What what = What::Unknown;
    void *address = nullptr;
    const RoutineProto *proto = nullptr; // routines with a known prototype
    Kind kind = Kind::S32;               // words: the word's kind, or its elements'
    std::size_t size = 0;                // words: bytes
    std::size_t extent = 0;              // array words: elements
    Value constant;                      // constants of the public headers (K_O_RDWR)
};

NameInfo nameLookUp(const std::string &name);

// The value a name stands for as an argument: a word's value (an array's address), a
// routine's address, a shell variable's value.
bool nameValue(const std::string &name, Value &value, std::string &error);
// The address of a word, routine or shell variable (&name).
bool nameAddress(const std::string &name, Value &value, std::string &error);

// "name = 0xADDR: value = N = 0xN", or the text of a byte array.
std::string wordText(const std::string &name, const NameInfo &info);
// Sets a word of the system, or a shell variable (created when nothing has the name).
bool wordSet(const std::string &name, const Value &value, Kind valueKind, const std::string *text,
             std::string &error);

} // namespace shell

#endif
