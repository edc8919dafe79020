// The one argument binder: matches fast-call arguments to a function's parameters and
// converts each by its kind, with the interpreter's own wording for binding errors.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <string_view>

#include "core/text.hpp"
#include "module/convert.hpp"
#include "module/ref.hpp"

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
        PyObject* object;  // borrowed from the caller for the duration of the call
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

// Bind, convert and run: the body of every module function.
[[nodiscard]] PyObject* call_function(const FunctionRow& row, const InternedNames& interned, PyObject* const* args,
                                      Py_ssize_t nargs, PyObject* kwnames);

}  // namespace telbit
