// Conversions between Python objects and the plain values the operations take, with the
// exact refusal texts, and the objects made from their results; shared by the argument
// binder and the recipe walks.
#pragma once

#include <Python.h>

#include <bit>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/codecs.hpp"
#include "core/ieee754.hpp"
#include "core/result.hpp"
#include "core/text.hpp"
#include "py/compat.hpp"
#include "py/ref.hpp"

namespace telbit {

// The qualified name of the object's type, as cast messages show it.
[[nodiscard]] std::string type_name(PyObject* object);
// TypeError "'{type}' object cannot be cast as '{target}'".
[[nodiscard]] Error cast_error(PyObject* object, std::string_view target);

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
[[nodiscard]] TELBIT_ALWAYS_INLINE bool plain_u64(PyObject* object, std::uint64_t& value) noexcept {
    std::uint64_t magnitude = 0;
    bool negative = false;
    if (!py::small_int_magnitude(object, magnitude, negative) || negative) return false;
    value = magnitude;
    return true;
}

[[nodiscard]] TELBIT_ALWAYS_INLINE bool plain_u32(PyObject* object, std::uint32_t& value) noexcept {
    std::uint64_t wide = 0;
    if (!plain_u64(object, wide) || wide > 0xFFFFFFFFU) return false;
    value = static_cast<std::uint32_t>(wide);
    return true;
}

[[nodiscard]] TELBIT_ALWAYS_INLINE bool plain_i64(PyObject* object, std::int64_t& value) noexcept {
    std::uint64_t magnitude = 0;
    bool negative = false;
    if (!py::small_int_magnitude(object, magnitude, negative)) return false;
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
// A list or tuple holding the sequence's items in iteration order. An exact list or tuple is
// the caller's own object; anything else is collected into a new list that nothing else can
// reach.
[[nodiscard]] Result<Ref> to_item_list(PyObject* object);

// The items of a recipe as the call was given them, for a walk to read by index.
//
// The list or tuple is read in place. A list can change only while Python code runs, so a walk
// calls snapshot() before any point at which code may run (an __index__, a key's __eq__, a
// finaliser): it copies the item pointers, held, into memory that no Python code can reach
// (the garbage collector's referrer lists included), and the walk reads that copy from then on.
// Most walks run no code, and so copy nothing. The items are taken when this is made: a walk
// makes it after whatever it allocates up front that the garbage collector tracks (whose
// collection may run finalisers), or snapshots it before.
class RecipeItems {
public:
    explicit RecipeItems(PyObject* list_or_tuple) noexcept;
    RecipeItems(const RecipeItems&) = delete;
    RecipeItems& operator=(const RecipeItems&) = delete;
    ~RecipeItems();  // lets go of the copy: may run Python code, once the walk is done

    [[nodiscard]] Py_ssize_t size() const noexcept { return count_; }
    // Borrowed: the recipe, or the copy, holds it.
    [[nodiscard]] PyObject* operator[](Py_ssize_t i) const noexcept { return items_[i]; }

    // Runs no Python code itself: it makes no Python object. Throws std::bad_alloc.
    void snapshot();

private:
    PyObject* const* items_;
    Py_ssize_t count_;
    bool changeable_;  // a list, until copied
    std::vector<PyObject*> copy_;  // strong references
};

// A value of one of the codec table's kinds, as the word the conversions take (to_word) or
// the object they give (new_number). Neither is used for the text kind.
[[nodiscard]] Result<std::uint64_t> to_word(ValueKind kind, PyObject* object);

// The word of a plain object (an exact int or float that converts in place), without the
// general conversion; false leaves the object to to_word, which gives every refusal its text.
[[nodiscard]] TELBIT_ALWAYS_INLINE bool plain_word(ValueKind kind, PyObject* object, std::uint64_t& word) noexcept {
    switch (kind) {
        case ValueKind::unsigned_integer: return plain_u64(object, word);
        case ValueKind::signed_integer: {
            std::int64_t value = 0;
            if (!plain_i64(object, value)) return false;
            word = static_cast<std::uint64_t>(value);  // modular: the word is the two's complement
            return true;
        }
        case ValueKind::binary32:
            if (!PyFloat_CheckExact(object)) return false;
            word = std::bit_cast<std::uint32_t>(round_to_binary32(PyFloat_AS_DOUBLE(object)));
            return true;
        case ValueKind::binary64:
            if (!PyFloat_CheckExact(object)) return false;
            word = std::bit_cast<std::uint64_t>(PyFloat_AS_DOUBLE(object));
            return true;
        case ValueKind::none:
        case ValueKind::text: break;
    }
    return false;
}

// Whether converting `object` to the kind runs no Python code: exact ints, floats and strs
// are read in place, calling none of their methods.
[[nodiscard]] inline bool converts_without_code(ValueKind kind, PyObject* object) noexcept {
    switch (kind) {
        case ValueKind::unsigned_integer:
        case ValueKind::signed_integer: return PyLong_CheckExact(object);
        case ValueKind::binary32:
        case ValueKind::binary64: return PyFloat_CheckExact(object);
        case ValueKind::text: return PyUnicode_Check(object);  // a subclass's methods are not called either
        case ValueKind::none: break;
    }
    return false;
}

// The object for a number's word; null with the interpreter's error set when it cannot be made.
[[nodiscard]] inline PyObject* new_number(ValueKind kind, std::uint64_t word) {
    switch (kind) {
        case ValueKind::unsigned_integer: return PyLong_FromUnsignedLongLong(word);
        case ValueKind::signed_integer: return PyLong_FromLongLong(static_cast<std::int64_t>(word));
        case ValueKind::binary32: return PyFloat_FromDouble(std::bit_cast<float>(static_cast<std::uint32_t>(word)));
        case ValueKind::binary64: return PyFloat_FromDouble(std::bit_cast<double>(word));
        case ValueKind::none:
        case ValueKind::text: break;
    }
    PyErr_SetString(PyExc_SystemError, "telbit: not a number kind");
    return nullptr;
}

[[nodiscard]] PyObject* new_text(const DecodedText& text);
[[nodiscard]] PyObject* new_bytes(std::string_view bytes);

}  // namespace telbit
