// What the shell knows of the routines and words that the public headers declare: a table
// generated at build time from the headers (names only), whose types the compiler derives
// from the declarations themselves.
#ifndef SHELL_SHELLTABLES_H
#define SHELL_SHELLTABLES_H

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace shell {

// How a value is passed: the C type classes that a call or a word can have.
enum class Kind : uint8_t {
    Void,
    S8,
    U8,
    S16,
    U16,
    S32,
    U32,
    S64,
    U64,
    Float,
    Double,
    Pointer,      // any data or routine pointer
    ConstPointer, // a pointer to const data: an input the routine only reads
    String,       // char *
    ConstString,  // const char *
    Unsupported,  // a record passed by value, long double
};

inline constexpr int kMaxArgs = 10;

struct RoutineProto {
    const char *name;
    Kind result;
    uint8_t nArgs;
    bool variadic;
    bool tooManyArgs; // more parameters than the shell passes
    Kind args[kMaxArgs];
};

struct WordProto {
    const char *name;
    Kind kind;          // of the word itself, or of an array's elements
    std::size_t size;   // bytes of the whole word
    std::size_t extent; // elements of an array word; 0 for a plain word
};

struct ConstantProto {
    const char *name;
    bool isInteger; // macros with another value (a string) are not the shell's constants
    uint64_t bits;
    bool isSigned;
};

template <typename T> constexpr ConstantProto constantOf(const char *name, T value)
{
    if constexpr (std::is_integral_v<T> || std::is_enum_v<T>)
        return ConstantProto{name, true, static_cast<uint64_t>(value), std::is_signed_v<T> && value < 0};
    else
        return ConstantProto{name, false, 0, false};
}

struct RoutineDescription {
    const char *name;
    const char *text; // the first sentence of the comment above its declaration
};

struct ErrorName {
    int value;
    const char *name;
};

template <typename T> constexpr Kind integerKind()
{
    constexpr bool isSigned = std::is_signed_v<T>;
    switch (sizeof(T)) {
    case 1: return isSigned ? Kind::S8 : Kind::U8;
    case 2: return isSigned ? Kind::S16 : Kind::U16;
    case 4: return isSigned ? Kind::S32 : Kind::U32;
    case 8: return isSigned ? Kind::S64 : Kind::U64;
    default: return Kind::Unsupported;
    }
}

template <typename T> constexpr Kind kindOf()
{
    using U = std::remove_cv_t<T>;
    if constexpr (std::is_void_v<U>) {
        return Kind::Void;
    } else if constexpr (std::is_enum_v<U>) {
        return integerKind<std::underlying_type_t<U>>();
    } else if constexpr (std::is_integral_v<U>) {
        return integerKind<U>();
    } else if constexpr (std::is_same_v<U, float>) {
        return Kind::Float;
    } else if constexpr (std::is_same_v<U, double>) {
        return Kind::Double;
    } else if constexpr (std::is_pointer_v<U>) {
        using Pointee = std::remove_pointer_t<U>;
        constexpr bool isConst = std::is_const_v<Pointee>;
        if constexpr (std::is_same_v<std::remove_cv_t<Pointee>, char>)
            return isConst ? Kind::ConstString : Kind::String;
        else
            return isConst ? Kind::ConstPointer : Kind::Pointer;
    } else {
        return Kind::Unsupported;
    }
}

template <typename R, typename... A> constexpr RoutineProto protoFor(const char *name, bool variadic)
{
    RoutineProto proto{
        name, kindOf<R>(), static_cast<uint8_t>(sizeof...(A)), variadic, sizeof...(A) > kMaxArgs, {}};
    if constexpr (sizeof...(A) <= kMaxArgs) {
        const Kind kinds[] = {kindOf<A>()..., Kind::Void};
        for (std::size_t i = 0; i < sizeof...(A); ++i)
            proto.args[i] = kinds[i];
    }
    return proto;
}

template <typename R, typename... A> constexpr RoutineProto protoOf(const char *name, R (*)(A...))
{
    return protoFor<R, A...>(name, false);
}

template <typename R, typename... A> constexpr RoutineProto protoOf(const char *name, R (*)(A..., ...))
{
    return protoFor<R, A...>(name, true);
}

template <typename T> constexpr WordProto wordOf(const char *name)
{
    if constexpr (std::is_array_v<T>)
        return WordProto{name, kindOf<std::remove_extent_t<T>>(), sizeof(T), std::extent_v<T>};
    else
        return WordProto{name, kindOf<T>(), sizeof(T), 0};
}

extern const RoutineProto routineProtos[];
extern const std::size_t routineProtoCount;
extern const WordProto wordProtos[];
extern const std::size_t wordProtoCount;
extern const ConstantProto constantProtos[];
extern const std::size_t constantProtoCount;
extern const RoutineDescription routineDescriptions[];
extern const std::size_t routineDescriptionCount;
extern const ErrorName errorNames[];
extern const std::size_t errorNameCount;

const RoutineProto *routineProtoFind(const char *name);
const WordProto *wordProtoFind(const char *name);
const ConstantProto *constantProtoFind(const char *name);
const char *routineDescriptionFind(const char *name);
// A routine's declaration as its header writes it, or null.
extern const RoutineDescription routineDeclarations[];
extern const std::size_t routineDeclarationCount;
const char *routineDeclarationFind(const char *name);

} // namespace shell

#endif
