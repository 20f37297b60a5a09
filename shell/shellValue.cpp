#include "shellValue.h"

#include <array>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace shell {
namespace {

constexpr std::size_t kShownStringMax = 256;

int kindBits(Kind kind)
{
    switch (kind) {
    case Kind::S8:
    case Kind::U8: return 8;
    case Kind::S16:
    case Kind::U16: return 16;
    case Kind::S32:
    case Kind::U32: return 32;
    default: return 64;
    }
}

bool isSignedKind(Kind kind)
{
    return kind == Kind::S8 || kind == Kind::S16 || kind == Kind::S32 || kind == Kind::S64;
}

// A kind of N bits takes -2^(N-1) .. 2^N - 1, so that both the signed and the unsigned
// spelling of a bit pattern are accepted (0xffffffff for an int, -1 for an unsigned).
bool integerFits(const Value &v, int bits)
{
    if (bits >= 64)
        return !v.negative || v.magnitude <= (uint64_t{1} << 63);
    const uint64_t limit = uint64_t{1} << static_cast<unsigned>(bits);
    return v.negative ? v.magnitude <= limit / 2 : v.magnitude < limit;
}

uint64_t integerBits(const Value &v)
{
    return v.negative ? ~v.magnitude + 1 : v.magnitude;
}

std::string quoted(const char *text)
{
    std::string out = "\"";
    std::size_t n = 0;
    for (; n < kShownStringMax && text[n] != '\0'; ++n) {
        const auto c = static_cast<unsigned char>(text[n]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c >= 0x7f) {
            std::array<char, 8> esc{};
            std::snprintf(esc.data(), esc.size(), "\\x%02x", c);
            out += esc.data();
        } else {
            out += static_cast<char>(c);
        }
    }
    out += text[n] == '\0' ? "\"" : "\"...";
    return out;
}

} // namespace

Value Value::integer(int64_t v)
{
    Value out;
    out.negative = v < 0;
    out.magnitude = out.negative ? ~static_cast<uint64_t>(v) + 1 : static_cast<uint64_t>(v);
    return out;
}

Value Value::unsignedInteger(uint64_t v)
{
    Value out;
    out.magnitude = v;
    return out;
}

Value Value::pointer(void *p)
{
    Value out;
    out.cls = Class::Address;
    out.address = p;
    return out;
}

Value Value::real(double d)
{
    Value out;
    out.cls = Class::Floating;
    out.floating = d;
    return out;
}

bool isIntegerKind(Kind kind)
{
    switch (kind) {
    case Kind::S8:
    case Kind::U8:
    case Kind::S16:
    case Kind::U16:
    case Kind::S32:
    case Kind::U32:
    case Kind::S64:
    case Kind::U64: return true;
    default: return false;
    }
}

bool isPointerKind(Kind kind)
{
    return kind == Kind::Pointer || kind == Kind::ConstPointer || kind == Kind::String ||
           kind == Kind::ConstString;
}

std::size_t kindSize(Kind kind)
{
    if (isIntegerKind(kind))
        return static_cast<std::size_t>(kindBits(kind) / 8);
    if (kind == Kind::Float)
        return sizeof(float);
    if (kind == Kind::Double)
        return sizeof(double);
    if (isPointerKind(kind))
        return sizeof(void *);
    return 0;
}

const char *kindName(Kind kind)
{
    switch (kind) {
    case Kind::Void: return "void";
    case Kind::S8: return "8-bit int";
    case Kind::U8: return "8-bit unsigned";
    case Kind::S16: return "16-bit int";
    case Kind::U16: return "16-bit unsigned";
    case Kind::S32: return "int";
    case Kind::U32: return "unsigned";
    case Kind::S64: return "64-bit int";
    case Kind::U64: return "64-bit unsigned";
    case Kind::Float: return "float";
    case Kind::Double: return "double";
    case Kind::Pointer: return "pointer";
    case Kind::ConstPointer: return "const pointer";
    case Kind::String: return "char *";
    case Kind::ConstString: return "const char *";
    case Kind::Unsupported: break;
    }
    return "record";
}

bool valueConvert(const Value &v, Kind kind, Slot &out, std::string &error)
{
    out.u64 = 0;
    if (kind == Kind::Float || kind == Kind::Double) {
        double d = v.floating;
        if (v.cls == Value::Class::Integer)
            d = v.negative ? -static_cast<double>(v.magnitude) : static_cast<double>(v.magnitude);
        else if (v.cls == Value::Class::Address) {
            error = "an address where a " + std::string(kindName(kind)) + " is needed";
            return false;
        }
        if (kind == Kind::Float)
            out.f = static_cast<float>(d);
        else
            out.d = d;
        return true;
    }
    if (isPointerKind(kind)) {
        if (v.cls == Value::Class::Floating) {
            error = "a floating-point number where a pointer is needed";
            return false;
        }
        if (v.cls == Value::Class::Address) {
            out.p = v.address;
            return true;
        }
        if (!integerFits(v, 64)) {
            error = "number out of range for a pointer";
            return false;
        }
        out.p = reinterpret_cast<void *>(static_cast<uintptr_t>(integerBits(v)));
        return true;
    }
    if (!isIntegerKind(kind)) {
        error = "a record cannot be passed or set from the shell";
        return false;
    }
    if (v.cls == Value::Class::Floating) {
        error = "a floating-point number where an integer (" + std::string(kindName(kind)) + ") is needed";
        return false;
    }
    uint64_t bits = reinterpret_cast<uintptr_t>(v.address);
    if (v.cls == Value::Class::Integer) {
        if (!integerFits(v, kindBits(kind))) {
            error = "number out of range for " + std::string(kindName(kind));
            return false;
        }
        bits = integerBits(v);
    } else if (kindBits(kind) < 64) {
        error = "an address does not fit " + std::string(kindName(kind));
        return false;
    }
    switch (kind) {
    case Kind::S8:
    case Kind::U8: out.u8 = static_cast<uint8_t>(bits); break;
    case Kind::S16:
    case Kind::U16: out.u16 = static_cast<uint16_t>(bits); break;
    case Kind::S32:
    case Kind::U32: out.u32 = static_cast<uint32_t>(bits); break;
    default: out.u64 = bits; break;
    }
    return true;
}

Value valueLoad(const void *from, Kind kind)
{
    Slot slot{};
    const std::size_t size = kindSize(kind);
    if (size > 0)
        std::memcpy(&slot, from, size);
    switch (kind) {
    case Kind::S8: return Value::integer(slot.s8);
    case Kind::U8: return Value::unsignedInteger(slot.u8);
    case Kind::S16: return Value::integer(slot.s16);
    case Kind::U16: return Value::unsignedInteger(slot.u16);
    case Kind::S32: return Value::integer(slot.s32);
    case Kind::U32: return Value::unsignedInteger(slot.u32);
    case Kind::S64: return Value::integer(slot.s64);
    case Kind::U64: return Value::unsignedInteger(slot.u64);
    case Kind::Float: return Value::real(static_cast<double>(slot.f));
    case Kind::Double: return Value::real(slot.d);
    case Kind::Pointer:
    case Kind::ConstPointer:
    case Kind::String:
    case Kind::ConstString: return Value::pointer(slot.p);
    default: return Value{};
    }
}

std::string valueText(const Value &v, Kind kind)
{
    std::array<char, 96> buf{};
    if (v.cls == Value::Class::Floating || kind == Kind::Float || kind == Kind::Double) {
        const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size() - 1, v.floating);
        return ec == std::errc{} ? "value = " + std::string(buf.data(), end) : "value = ?";
    }
    if (v.cls == Value::Class::Address) {
        const auto address = reinterpret_cast<uintptr_t>(v.address);
        std::snprintf(buf.data(), buf.size(), "value = %" PRIuPTR " = 0x%" PRIxPTR, address, address);
        std::string text = buf.data();
        if ((kind == Kind::String || kind == Kind::ConstString) && v.address != nullptr)
            text += " = " + quoted(static_cast<const char *>(v.address));
        return text;
    }
    const int bits = kindBits(kind);
    const uint64_t mask = bits == 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
    const uint64_t pattern = integerBits(v) & mask;
    if (v.negative && isSignedKind(kind))
        std::snprintf(buf.data(), buf.size(), "value = -%" PRIu64 " = 0x%" PRIx64, v.magnitude, pattern);
    else
        std::snprintf(buf.data(), buf.size(), "value = %" PRIu64 " = 0x%" PRIx64, pattern, pattern);
    return buf.data();
}

} // namespace shell
