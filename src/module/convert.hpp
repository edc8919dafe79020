// Conversions between Python objects and the plain values the operations take, with the
// exact refusal texts; shared by the argument binder and the recipe readers.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "core/result.hpp"
#include "core/text.hpp"
#include "module/ref.hpp"

namespace telbit {

// The qualified name of the object's type, as cast messages show it.
[[nodiscard]] std::string type_name(PyObject* object);
// TypeError "'{type}' object cannot be cast as '{target}'".
[[nodiscard]] Error cast_error(PyObject* object, std::string_view target);

[[nodiscard]] Result<ByteSpan> to_byte_string(PyObject* object);
// The str's UTF-8 form, valid while the str lives.
[[nodiscard]] Result<std::string_view> to_text(PyObject* object);
[[nodiscard]] Result<std::uint32_t> to_u32(PyObject* object);
[[nodiscard]] Result<std::uint64_t> to_u64(PyObject* object);
[[nodiscard]] Result<std::int64_t> to_i64(PyObject* object);

struct U128 {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
};
[[nodiscard]] Result<U128> to_u128(PyObject* object);
[[nodiscard]] Result<double> to_f64(PyObject* object);
[[nodiscard]] Result<float> to_f32(PyObject* object);
[[nodiscard]] Result<bool> to_flag(PyObject* object);
[[nodiscard]] Status check_dict(PyObject* object);
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
