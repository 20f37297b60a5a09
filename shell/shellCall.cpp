#include "shellCall.h"

#include "shellTask.h"

#include <kernel/errnoLib.h>

#include <ffi.h>

#include <array>
#include <cstdio>
#include <deque>

namespace shell {
namespace {

thread_local int taskErrno = 0;

ffi_type *ffiTypeOf(Kind kind)
{
    switch (kind) {
    case Kind::Void: return &ffi_type_void;
    case Kind::S8: return &ffi_type_sint8;
    case Kind::U8: return &ffi_type_uint8;
    case Kind::S16: return &ffi_type_sint16;
    case Kind::U16: return &ffi_type_uint16;
    case Kind::S32: return &ffi_type_sint32;
    case Kind::U32: return &ffi_type_uint32;
    case Kind::S64: return &ffi_type_sint64;
    case Kind::U64: return &ffi_type_uint64;
    case Kind::Float: return &ffi_type_float;
    case Kind::Double: return &ffi_type_double;
    case Kind::Pointer:
    case Kind::ConstPointer:
    case Kind::String:
    case Kind::ConstString: return &ffi_type_pointer;
    case Kind::Unsupported: break;
    }
    return nullptr;
}

std::string argLabel(std::size_t index, Kind kind)
{
    return "argument " + std::to_string(index + 1) + " (" + kindName(kind) + ")";
}

// Kinds of a variadic routine's extra arguments, by the C promotions.
Kind promotedKind(const Value &value)
{
    if (value.cls == Value::Class::Floating)
        return Kind::Double;
    if (value.cls == Value::Class::Address)
        return Kind::Pointer;
    return Kind::S64;
}

// The parameter kinds the call is made with. A routine without a prototype takes ten
// pointer-wide integers and returns one, so that an address it returns is kept whole.
bool parameterKinds(const std::string &name, const RoutineProto *proto, const std::vector<Value> &values,
                    std::vector<Kind> &kinds, Kind &resultKind, std::string &error)
{
    if (proto == nullptr) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (values[i].cls == Value::Class::Floating) {
                error = name + " has no known prototype: " + argLabel(i, kindOf<intptr_t>()) +
                        " cannot be a floating-point number";
                return false;
            }
        }
        kinds.assign(kMaxArgs, kindOf<intptr_t>());
        resultKind = kindOf<intptr_t>();
        return true;
    }
    resultKind = proto->result;
    if (proto->tooManyArgs || proto->result == Kind::Unsupported) {
        error = name + " cannot be called from the shell (its prototype has more than ten "
                       "parameters or returns a record)";
        return false;
    }
    if (values.size() > proto->nArgs && !proto->variadic) {
        error = name + " takes " + std::to_string(proto->nArgs) + " argument" +
                (proto->nArgs == 1 ? "" : "s") + ", not " + std::to_string(values.size());
        return false;
    }
    for (std::size_t i = 0; i < proto->nArgs; ++i) {
        const Kind kind = proto->args[i];
        if (kind == Kind::Unsupported) {
            error = name + ": " + argLabel(i, kind) + " is a record passed by value";
            return false;
        }
        // A missing output (a pointer to what the routine writes) would be written through as
        // a null; a missing input name or a missing number is passed as 0, as on the target.
        if (i >= values.size() && (kind == Kind::Pointer || kind == Kind::String)) {
            error = name + ": " + argLabel(i, kind) +
                    " is missing; the routine writes through it (give 0 to pass a null)";
            return false;
        }
        kinds.push_back(kind);
    }
    for (std::size_t i = proto->nArgs; i < values.size(); ++i)
        kinds.push_back(promotedKind(values[i]));
    return true;
}

} // namespace

int lastErrno()
{
    return taskErrno;
}

bool routineCall(const std::string &name, const NameInfo &routine, const std::vector<Value> &values,
                 CallResult &result, std::string &error)
{
    std::vector<Kind> kinds;
    Kind resultKind = Kind::Void;
    if (!parameterKinds(name, routine.proto, values, kinds, resultKind, error))
        return false;

    std::array<Slot, kMaxArgs> slots{};
    std::array<void *, kMaxArgs> slotAddresses{};
    std::array<ffi_type *, kMaxArgs> types{};
    if (kinds.size() > kMaxArgs) {
        error = "too many arguments (at most 10)";
        return false;
    }
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        types[i] = ffiTypeOf(kinds[i]);
        slotAddresses[i] = &slots[i];
        if (i < values.size() && !valueConvert(values[i], kinds[i], slots[i], error)) {
            error.insert(0, name + ": " + argLabel(i, kinds[i]) + ": ");
            return false;
        }
    }
    ffi_cif cif{};
    const auto nArgs = static_cast<unsigned>(kinds.size());
    const ffi_status prepared =
        routine.proto != nullptr && routine.proto->variadic
            ? ffi_prep_cif_var(&cif, FFI_DEFAULT_ABI, routine.proto->nArgs, nArgs, ffiTypeOf(resultKind),
                               types.data())
            : ffi_prep_cif(&cif, FFI_DEFAULT_ABI, nArgs, ffiTypeOf(resultKind), types.data());
    if (prepared != FFI_OK) {
        error = name + ": the call cannot be prepared";
        return false;
    }
    // Nothing of the shell's own heap is held across the call: a routine that faults leaves
    // this frame behind for good.
    std::vector<Kind>().swap(kinds);
    union {
        ffi_arg integer;
        double d;
        float f;
        void *p;
    } returned{};
    std::fflush(stdout);
    // The task's error number is the C library's errno, which the shell's own work changes:
    // each call finds the number that the previous call left, as errnoGet would on the target.
    errnoSet(taskErrno);
    currentRoutineSet(name.c_str());
    ffi_call(&cif, FFI_FN(routine.address), &returned, slotAddresses.data());
    currentRoutineSet(nullptr);
    taskErrno = errnoGet();
    result.errorNumber = taskErrno;
    std::fflush(stdout);

    result.kind = resultKind;
    Slot narrowed{};
    switch (resultKind) {
    case Kind::Void: result.value = Value::integer(0); return true;
    case Kind::Float: result.value = Value::real(static_cast<double>(returned.f)); return true;
    case Kind::Double: result.value = Value::real(returned.d); return true;
    case Kind::S8: narrowed.s8 = static_cast<int8_t>(returned.integer); break;
    case Kind::U8: narrowed.u8 = static_cast<uint8_t>(returned.integer); break;
    case Kind::S16: narrowed.s16 = static_cast<int16_t>(returned.integer); break;
    case Kind::U16: narrowed.u16 = static_cast<uint16_t>(returned.integer); break;
    case Kind::S32: narrowed.s32 = static_cast<int32_t>(returned.integer); break;
    case Kind::U32: narrowed.u32 = static_cast<uint32_t>(returned.integer); break;
    case Kind::S64:
    case Kind::U64: narrowed.u64 = returned.integer; break;
    default: narrowed.p = returned.p; break;
    }
    result.value = valueLoad(&narrowed, resultKind);
    const bool signedInteger = resultKind == Kind::S8 || resultKind == Kind::S16 || resultKind == Kind::S32 ||
                               resultKind == Kind::S64;
    result.returnedError = signedInteger && result.value.negative && result.value.magnitude == 1;
    return true;
}

} // namespace shell
