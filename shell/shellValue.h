// Values as the shell passes them: integers with their sign kept apart (so that a range check
// can tell 0xffffffff from -1), floating-point numbers and addresses; and their conversion to
// a parameter or word of a given kind.
#ifndef SHELL_SHELLVALUE_H
#define SHELL_SHELLVALUE_H

#include "shellTables.h"

#include <cstdint>
#include <string>

namespace shell {

struct Value {
    enum class Class { Integer, Floating, Address };
    Class cls = Class::Integer;
    uint64_t magnitude = 0; // integers
    bool negative = false;
    double floating = 0;
    void *address = nullptr;

    static Value integer(int64_t v);
    static Value unsignedInteger(uint64_t v);
    static Value pointer(void *p);
    static Value real(double d);
};

// The bytes of a value converted to kind, in the machine's own layout for that kind.
union Slot {
    int8_t s8;
    uint8_t u8;
    int16_t s16;
    uint16_t u16;
    int32_t s32;
    uint32_t u32;
    int64_t s64;
    uint64_t u64;
    float f;
    double d;
    void *p;
};

// Converts v for a parameter or word of kind; false with error set when it does not fit
// (an integer out of the kind's range, a floating-point number for an integer or pointer).
bool valueConvert(const Value &v, Kind kind, Slot &out, std::string &error);
// Reads a value of kind from memory.
Value valueLoad(const void *from, Kind kind);

bool isIntegerKind(Kind kind);
bool isPointerKind(Kind kind);
std::size_t kindSize(Kind kind);
const char *kindName(Kind kind);

// "value = N = 0xN", with the text of a string and the shortest exact form of a double.
std::string valueText(const Value &v, Kind kind);

} // namespace shell

#endif
