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

[[nodiscard]] inline Result<std::uint32_t> to_u32(PyObject* object) {
    if (long long small = 0; small_exact_int(object, small) && small >= 0) return static_cast<std::uint32_t>(small);
    return to_u32_slow(object);
}

[[nodiscard]] inline Result<std::uint64_t> to_u64(PyObject* object) {
    if (long long small = 0; small_exact_int(object, small) && small >= 0) return static_cast<std::uint64_t>(small);
    return to_u64_slow(object);
}

[[nodiscard]] inline Result<std::int64_t> to_i64(PyObject* object) {
    if (long long small = 0; small_exact_int(object, small)) return static_cast<std::int64_t>(small);
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
