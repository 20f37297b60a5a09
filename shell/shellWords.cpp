#include "shellWords.h"

#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>

namespace shell {
namespace {

struct ShellVariable {
    Kind kind = Kind::S64;
    Slot slot{};
};

// The shell's variables and the strings that words were set to, which must outlive the
// assignment (a word keeps the pointer).
struct ShellState {
    std::mutex lock;
    std::map<std::string, ShellVariable> variables;
    std::deque<std::string> keptStrings;
};

ShellState &state()
{
    static ShellState instance;
    return instance;
}

Kind kindForSize(std::size_t size)
{
    switch (size) {
    case 1: return Kind::U8;
    case 2: return Kind::S16;
    case 4: return Kind::S32;
    case 8: return Kind::S64;
    default: return Kind::Unsupported;
    }
}

bool isCharKind(Kind kind)
{
    return kind == Kind::S8 || kind == Kind::U8;
}

} // namespace

const RoutineProto *routineProtoFind(const char *name)
{
    for (std::size_t i = 0; i < routineProtoCount; ++i)
        if (std::strcmp(routineProtos[i].name, name) == 0)
            return &routineProtos[i];
    return nullptr;
}

const WordProto *wordProtoFind(const char *name)
{
    for (std::size_t i = 0; i < wordProtoCount; ++i)
        if (std::strcmp(wordProtos[i].name, name) == 0)
            return &wordProtos[i];
    return nullptr;
}

const ConstantProto *constantProtoFind(const char *name)
{
    for (std::size_t i = 0; i < constantProtoCount; ++i)
        if (constantProtos[i].isInteger && std::strcmp(constantProtos[i].name, name) == 0)
            return &constantProtos[i];
    return nullptr;
}

const char *routineDescriptionFind(const char *name)
{
    for (std::size_t i = 0; i < routineDescriptionCount; ++i)
        if (std::strcmp(routineDescriptions[i].name, name) == 0)
            return routineDescriptions[i].text;
    return nullptr;
}

const char *routineDeclarationFind(const char *name)
{
    for (std::size_t i = 0; i < routineDeclarationCount; ++i)
        if (std::strcmp(routineDeclarations[i].name, name) == 0)
            return routineDeclarations[i].text;
    return nullptr;
}

NameInfo nameLookUp(const std::string &name)
{
    NameInfo info;
    {
        ShellState &st = state();
        const std::lock_guard guard(st.lock);
        auto found = st.variables.find(name);
        if (found != st.variables.end()) {
            info.what = NameInfo::What::ShellVariable;
            info.address = &found->second.slot; // stable: map nodes do not move
            info.kind = found->second.kind;
            info.size = kindSize(info.kind);
            return info;
        }
    }
    Symbol symbol;
    if (!symbolFind(name, symbol)) {
        if (const ConstantProto *constant = constantProtoFind(name.c_str())) {
            info.what = NameInfo::What::Constant;
            info.kind = Kind::S64;
            info.constant = constant->isSigned ? Value::integer(static_cast<int64_t>(constant->bits))
                                               : Value::unsignedInteger(constant->bits);
        }
        return info;
    }
    info.address = symbol.address;
    const RoutineProto *proto = routineProtoFind(name.c_str());
    const WordProto *word = wordProtoFind(name.c_str());
    if (proto != nullptr || (symbol.isRoutine && word == nullptr)) {
        info.what = NameInfo::What::Routine;
        info.proto = proto;
        return info;
    }
    info.what = NameInfo::What::Word;
    if (word != nullptr) {
        info.kind = word->kind;
        info.size = word->size;
        info.extent = word->extent;
    } else {
        // No declaration: a word as wide as its object, an int when its size is not known.
        info.size = symbol.size == 0 ? sizeof(int) : symbol.size;
        info.kind = kindForSize(info.size);
    }
    return info;
}

bool nameValue(const std::string &name, Value &value, std::string &error)
{
    const NameInfo info = nameLookUp(name);
    switch (info.what) {
    case NameInfo::What::Unknown: error = "unknown name: " + name; return false;
    case NameInfo::What::Routine: value = Value::pointer(info.address); return true;
    case NameInfo::What::Constant: value = info.constant; return true;
    case NameInfo::What::Word:
    case NameInfo::What::ShellVariable:
        if (info.extent > 0 || info.kind == Kind::Unsupported) {
            value = Value::pointer(info.address); // an array or record stands for its address
            return true;
        }
        value = valueLoad(info.address, info.kind);
        return true;
    }
    return false;
}

bool nameAddress(const std::string &name, Value &value, std::string &error)
{
    const NameInfo info = nameLookUp(name);
    if (info.what == NameInfo::What::Unknown || info.what == NameInfo::What::Constant) {
        error = info.what == NameInfo::What::Unknown ? "unknown name: " + name
                                                     : name + " is a constant: it has no address";
        return false;
    }
    value = Value::pointer(info.address);
    return true;
}

std::string wordText(const std::string &name, const NameInfo &info)
{
    if (info.what == NameInfo::What::Constant)
        return name + " (constant): " + valueText(info.constant, Kind::S64);
    std::array<char, 64> head{};
    std::snprintf(head.data(), head.size(), " = 0x%" PRIxPTR ": ", reinterpret_cast<uintptr_t>(info.address));
    std::string text = name;
    text += info.what == NameInfo::What::ShellVariable ? " (shell variable): " : head.data();
    if (info.extent > 0 && isCharKind(info.kind)) {
        const char *bytes = static_cast<const char *>(info.address);
        text += "\"" + std::string(bytes, strnlen(bytes, info.size)) + "\"";
        return text;
    }
    if (info.extent > 0 || info.kind == Kind::Unsupported) {
        std::array<char, 48> size{};
        std::snprintf(size.data(), size.size(), "%zu bytes", info.size);
        return text + size.data();
    }
    return text + valueText(valueLoad(info.address, info.kind), info.kind);
}

bool wordSet(const std::string &name, const Value &value, Kind valueKind, const std::string *text,
             std::string &error)
{
    NameInfo info = nameLookUp(name);
    if (info.what == NameInfo::What::Routine) {
        error = name + " is a routine, not a word";
        return false;
    }
    if (info.what == NameInfo::What::Constant) {
        error = name + " is a constant, not a word";
        return false;
    }
    if (info.what == NameInfo::What::Unknown || info.what == NameInfo::What::ShellVariable) {
        // A shell variable takes the kind of each value it is given: pointer-wide for integers.
        Kind kind = Kind::S64;
        if (value.cls == Value::Class::Floating)
            kind = Kind::Double;
        else if (value.cls == Value::Class::Address)
            kind = isPointerKind(valueKind) ? valueKind : Kind::Pointer;
        ShellState &st = state();
        const std::lock_guard guard(st.lock);
        ShellVariable variable;
        variable.kind = kind;
        if (!valueConvert(value, kind, variable.slot, error))
            return false;
        if (text != nullptr) {
            st.keptStrings.push_back(*text);
            variable.slot.p = st.keptStrings.back().data();
        }
        st.variables[name] = variable;
        return true;
    }
    if (info.extent > 0 && isCharKind(info.kind)) {
        if (text == nullptr) {
            error = name + " is a byte array: set it to a string";
            return false;
        }
        if (text->size() >= info.size) {
            error = name + " holds at most " + std::to_string(info.size - 1) + " characters";
            return false;
        }
        std::memcpy(info.address, text->c_str(), text->size() + 1);
        return true;
    }
    if (info.extent > 0 || info.kind == Kind::Unsupported) {
        error = name + " is an array or a record: set its parts through routines";
        return false;
    }
    Slot slot{};
    if (!valueConvert(value, info.kind, slot, error)) {
        error = name + ": " + error;
        return false;
    }
    if (text != nullptr && isPointerKind(info.kind)) {
        ShellState &st = state();
        const std::lock_guard guard(st.lock);
        st.keptStrings.push_back(*text);
        slot.p = st.keptStrings.back().data();
    }
    std::memcpy(info.address, &slot, kindSize(info.kind));
    return true;
}

} // namespace shell
