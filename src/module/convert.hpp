// Conversions between Python objects and the plain values the operations take, with the
// exact refusal texts; shared by the argument binder and the recipe readers.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "core/ieee754.hpp"
#include "core/result.hpp"
#include "core/text.hpp"
#include "module/ref.hpp"

namespace telbit {

// The qualified name of the object's type, as cast messages show it.
[[nodiscard]] std::string type_name(PyObject* object);
// TypeError "'{type}' object cannot be cast as '{target}'".
[[nodiscard]] Error cast_error(PyObject* object, std::string_view target);

// The value of an exact int that fits one internal digit (|value| < 2^30), read without the
// general conversion; false for anything else.
[[nodiscard]] inline bool small_exact_int(PyObject* object, long long& value) noexcept {
    if (!PyLong_CheckExact(object)) return false;
#if PY_VERSION_HEX >= 0x030C0000
    if (!PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(object))) return false;
    value = static_cast<long long>(PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(object)));
#else
    const Py_ssize_t size = Py_SIZE(object);
    if (size > 1 || size < -1) return false;
    value = static_cast<long long>(size) * static_cast<long long>(reinterpret_cast<PyLongObject*>(object)->ob_digit[0]);
#endif
    return true;
}

// The magnitude and sign of an exact int below 2^64 in magnitude, read from its digits; false
// for anything else. The interpreter's own conversions of ints of more than one digit go
// through a general byte-array routine that costs several times as much.
[[nodiscard]] inline bool exact_int_magnitude(PyObject* object, std::uint64_t& magnitude, bool& negative) noexcept {
    if (!PyLong_CheckExact(object)) return false;
#if PY_VERSION_HEX >= 0x030C0000
    // Later interpreters keep the digit layout private; only their compact form is read here.
    if (!PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(object))) return false;
    const auto value = static_cast<long long>(PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(object)));
    negative = value < 0;
    magnitude = negative ? std::uint64_t{0} - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    return true;
#else
    const Py_ssize_t size = Py_SIZE(object);
    negative = size < 0;
    const Py_ssize_t count = negative ? -size : size;
    constexpr Py_ssize_t most_digits = (64 + PyLong_SHIFT - 1) / PyLong_SHIFT;
    if (count > most_digits) return false;
    const digit* digits = reinterpret_cast<PyLongObject*>(object)->ob_digit;
    std::uint64_t value = 0;
    for (Py_ssize_t i = count; i-- > 0;) {
        if ((value >> (64 - PyLong_SHIFT)) != 0) return false;  // the next digit would not fit
        value = (value << PyLong_SHIFT) | digits[i];
    }
    magnitude = value;
    return true;
#endif
}

// The general conversions, out of line; the inline forms below handle the common objects
// in registers and fall back to these.
[[nodiscard]] Result<std::string_view> to_text_slow(PyObject* object);
[[nodiscard]] Result<std::uint32_t> to_u32_slow(PyObject* object);
[[nodiscard]] Result<std::uint64_t> to_u64_slow(PyObject* object);
[[nodiscard]] Result<std::int64_t> to_i64_slow(PyObject* object);
[[nodiscard]] Result<double> to_f64_slow(PyObject* object);
[[nodiscard]] Result<bool> to_flag_slow(PyObject* object);

[[nodiscard]] inline Result<ByteSpan> to_byte_string(PyObject* object) {
    if (!PyBytes_Check(object)) return cast_error(object, "bytes");
    return ByteSpan(reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(object)),
                    static_cast<std::size_t>(PyBytes_GET_SIZE(object)));
}

// The str's UTF-8 form, valid while the str lives. An ASCII str is its own UTF-8 form.
[[nodiscard]] inline Result<std::string_view> to_text(PyObject* object) {
    if (PyUnicode_Check(object) && PyUnicode_IS_COMPACT_ASCII(object)) {
        return std::string_view(static_cast<const char*>(PyUnicode_DATA(object)),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(object)));
    }
    return to_text_slow(object);
}

// The plain cases of the integer conversions, without building a Result: false leaves the
// object to the general conversion, which also gives every refusal its exact message.
[[nodiscard]] inline bool plain_u64(PyObject* object, std::uint64_t& value) noexcept {
    std::uint64_t magnitude = 0;
    bool negative = false;
    if (!exact_int_magnitude(object, magnitude, negative) || negative) return false;
    value = magnitude;
    return true;
}

[[nodiscard]] inline bool plain_u32(PyObject* object, std::uint32_t& value) noexcept {
    std::uint64_t wide = 0;
    if (!plain_u64(object, wide) || wide > 0xFFFFFFFFU) return false;
    value = static_cast<std::uint32_t>(wide);
    return true;
}

[[nodiscard]] inline bool plain_i64(PyObject* object, std::int64_t& value) noexcept {
    std::uint64_t magnitude = 0;
    bool negative = false;
    if (!exact_int_magnitude(object, magnitude, negative)) return false;
    constexpr std::uint64_t largest = 0x7FFFFFFFFFFFFFFFULL;
    if (magnitude > largest + (negative ? 1 : 0)) return false;
    // Negated in unsigned arithmetic and converted modularly: -2^63 has no positive twin.
    value = static_cast<std::int64_t>(negative ? std::uint64_t{0} - magnitude : magnitude);
    return true;
}

[[nodiscard]] inline Result<std::uint32_t> to_u32(PyObject* object) {
    if (std::uint32_t value = 0; plain_u32(object, value)) return value;
    return to_u32_slow(object);
}

[[nodiscard]] inline Result<std::uint64_t> to_u64(PyObject* object) {
    if (std::uint64_t value = 0; plain_u64(object, value)) return value;
    return to_u64_slow(object);
}

[[nodiscard]] inline Result<std::int64_t> to_i64(PyObject* object) {
    if (std::int64_t value = 0; plain_i64(object, value)) return value;
    return to_i64_slow(object);
}

struct U128 {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
};
[[nodiscard]] Result<U128> to_u128(PyObject* object);
[[nodiscard]] inline Result<double> to_f64(PyObject* object) {
    if (PyFloat_CheckExact(object)) return PyFloat_AS_DOUBLE(object);
    return to_f64_slow(object);
}

[[nodiscard]] inline Result<float> to_f32(PyObject* object) {
    Result<double> value = to_f64(object);
    if (!value) return std::move(value).error();
    return round_to_binary32(*value);
}

[[nodiscard]] inline Result<bool> to_flag(PyObject* object) {
    if (object == Py_True) return true;
    if (object == Py_False) return false;
    return to_flag_slow(object);
}
[[nodiscard]] inline Status check_dict(PyObject* object) {
    if (PyDict_Check(object)) return ok_status;
    return cast_error(object, "dict");
}
// A list or tuple holding the sequence's items in iteration order; the caller owns it and
// nothing else can reach it.
[[nodiscard]] Result<Ref> to_item_list(PyObject* object);

// Items of a list or tuple returned by to_item_list.
struct ItemView {
    PyObject* const* items;
    Py_ssize_t count;
};
[[nodiscard]] ItemView items_of(PyObject* list_or_tuple) noexcept;

// Results.
[[nodiscard]] PyObject* new_text(const DecodedText& text);
[[nodiscard]] PyObject* new_bytes(std::string_view bytes);

}  // namespace telbit
