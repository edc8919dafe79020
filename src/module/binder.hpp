// The one argument binder: matches fast-call arguments to a function's parameters and
// converts each by its kind, with the interpreter's own wording for binding errors.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <string_view>

#include "core/text.hpp"
#include "py/convert.hpp"
#include "py/ref.hpp"

namespace telbit {

enum class Kind : std::uint8_t { byte_string, text, u32, u64, i64, u128, f32, f64, flag, dict, sequence };

struct Parameter {
    const char* name = nullptr;
    Kind kind = Kind::u64;
};

inline constexpr std::size_t max_parameters = 3;

// The converted arguments of one call; only the member of each parameter's kind is set.
struct Arguments {
    struct Value {
        // Only the member of the parameter's kind is ever set (by assignment, which begins its
        // lifetime); nothing is initialised up front, since every call pays for it.
        Value() {}  // NOLINT: deliberately leaves the union uninitialised
        PyObject* object;  // borrowed from the caller for the duration of the call
        union {
            ByteSpan bytes;
            std::string_view text;
            std::uint64_t u64;
            std::int64_t i64;
            std::uint32_t u32;
            U128 u128;
            double f64;
            float f32;
            bool flag;
        };
    };
    std::array<Value, max_parameters> values;
    Ref items;  // the recipe, collected into a list or tuple this call owns

    [[nodiscard]] const Value& operator[](std::size_t i) const { return values[i]; }
};

using Operation = PyObject* (*)(Arguments&);

struct FunctionRow {
    const char* name;
    std::array<Parameter, max_parameters> parameters;
    std::uint8_t count;     // number of parameters
    std::uint8_t required;  // the rest are optional flags defaulting to False
    Operation operation;
};

// A row's parameter names as interned str objects, so keywords usually match by pointer.
using InternedNames = std::array<PyObject*, max_parameters>;
[[nodiscard]] bool intern_parameter_names(const FunctionRow& row, InternedNames& interned);

// Match the arguments of a call that is not simply every parameter given by position:
// keywords, omitted optional parameters, and every binding error. False with the TypeError
// raised.
[[nodiscard]] bool bind_slots(const FunctionRow& row, const InternedNames& interned, PyObject* const* args,
                              Py_ssize_t nargs, PyObject* kwnames, std::array<PyObject*, max_parameters>& slots);

void raise_conversion_error(const Error& error, const char* parameter);
[[nodiscard]] PyObject* raise_unexpected_exception();

// The general conversion of one bound argument, for whatever the plain cases below leave.
template <Kind K>
[[gnu::noinline]] bool convert_argument_general(const char* name, PyObject* object, Arguments& arguments,
                                                Arguments::Value& value) {
    const auto failed = [name](const Error& error) {
        raise_conversion_error(error, name);
        return false;
    };
    if constexpr (K == Kind::byte_string) {
        Result<ByteSpan> r = to_byte_string(object);
        if (!r) return failed(r.error());
        // Copied member by member: a whole-struct copy makes the compiler reload the pair with
        // one wide load from two narrow stores, which stalls.
        value.bytes = ByteSpan(r->data(), r->size());
    } else if constexpr (K == Kind::text) {
        Result<std::string_view> r = to_text(object);
        if (!r) return failed(r.error());
        value.text = std::string_view(r->data(), r->size());
    } else if constexpr (K == Kind::u32) {
        Result<std::uint32_t> r = to_u32(object);
        if (!r) return failed(r.error());
        value.u32 = *r;
    } else if constexpr (K == Kind::u64) {
        Result<std::uint64_t> r = to_u64(object);
        if (!r) return failed(r.error());
        value.u64 = *r;
    } else if constexpr (K == Kind::i64) {
        Result<std::int64_t> r = to_i64(object);
        if (!r) return failed(r.error());
        value.i64 = *r;
    } else if constexpr (K == Kind::u128) {
        Result<U128> r = to_u128(object);
        if (!r) return failed(r.error());
        value.u128 = *r;
    } else if constexpr (K == Kind::f32) {
        Result<float> r = to_f32(object);
        if (!r) return failed(r.error());
        value.f32 = *r;
    } else if constexpr (K == Kind::f64) {
        Result<double> r = to_f64(object);
        if (!r) return failed(r.error());
        value.f64 = *r;
    } else if constexpr (K == Kind::flag) {
        Result<bool> r = to_flag(object);
        if (!r) return failed(r.error());
        value.flag = *r;
    } else if constexpr (K == Kind::dict) {
        Status r = check_dict(object);
        if (!r) return failed(r.error());
    } else {
        Result<Ref> r = to_item_list(object);
        if (!r) return failed(r.error());
        arguments.items = std::move(*r);
    }
    return true;
}

// Convert one bound argument by its kind (a template parameter, so each function's
// conversions compile to straight-line code); false when it failed, with the error raised.
// The objects a call usually passes are converted here in registers; everything else, and
// every refusal, goes to the general conversion.
template <Kind K>
bool convert_argument(const char* name, PyObject* object, Arguments& arguments, Arguments::Value& value) {
    value.object = object;
    if constexpr (K == Kind::byte_string) {
        if (PyBytes_Check(object)) {
            value.bytes = ByteSpan(reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(object)),
                                   static_cast<std::size_t>(PyBytes_GET_SIZE(object)));
            return true;
        }
    } else if constexpr (K == Kind::text) {
        if (PyUnicode_Check(object) && PyUnicode_IS_COMPACT_ASCII(object)) {
            value.text = std::string_view(static_cast<const char*>(PyUnicode_DATA(object)),
                                          static_cast<std::size_t>(PyUnicode_GET_LENGTH(object)));
            return true;
        }
    } else if constexpr (K == Kind::u32) {
        // The integers go through a local: a union member begins its life only by assignment.
        if (std::uint32_t number = 0; plain_u32(object, number)) {
            value.u32 = number;
            return true;
        }
    } else if constexpr (K == Kind::u64) {
        if (std::uint64_t number = 0; plain_u64(object, number)) {
            value.u64 = number;
            return true;
        }
    } else if constexpr (K == Kind::i64) {
        if (std::int64_t number = 0; plain_i64(object, number)) {
            value.i64 = number;
            return true;
        }
    } else if constexpr (K == Kind::f32) {
        if (PyFloat_CheckExact(object)) {
            value.f32 = round_to_binary32(PyFloat_AS_DOUBLE(object));
            return true;
        }
    } else if constexpr (K == Kind::f64) {
        if (PyFloat_CheckExact(object)) {
            value.f64 = PyFloat_AS_DOUBLE(object);
            return true;
        }
    } else if constexpr (K == Kind::flag) {
        if (object == Py_True || object == Py_False) {
            value.flag = object == Py_True;
            return true;
        }
    } else if constexpr (K == Kind::dict) {
        if (PyDict_Check(object)) return true;
    }
    return convert_argument_general<K>(name, object, arguments, value);
}

}  // namespace telbit
