// The one argument binder: matches fast-call arguments to a function's parameters, converts
// each by the C++ type its operation takes, and turns the operation's result into a Python
// object or exception, with the interpreter's own wording for binding errors.
#pragma once

#include <Python.h>

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "core/platform.hpp"
#include "core/text.hpp"
#include "py/errors.hpp"
#include "py/convert.hpp"
#include "py/ref.hpp"

namespace telbit {

inline constexpr std::size_t max_parameters = 3;

// The argument types that are not plain values: a dict taken as it is (borrowed from the
// caller for the call), and a recipe collected into a list or tuple that the call holds.
struct DictArgument {
    PyObject* object;
};
struct SequenceArgument {
    PyObject* list_or_tuple;
};

struct FunctionRow;
using Operation = PyObject* (*)(PyObject* const* bound, const FunctionRow& row);

struct FunctionRow {
    const char* name;
    std::array<const char*, max_parameters> parameters;
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

[[nodiscard]] PyObject* raise_unexpected_exception();

// One converted argument of C++ type T. `keep` holds what the value points into when the
// conversion made it (the recipe's list).
template <class T>
struct Converted {
    T value;
    Ref keep;
};

// The general conversion of one bound argument, for whatever the plain cases below leave,
// every refusal included.
template <class T>
TELBIT_NOINLINE bool convert_general(const char* name, PyObject* object, Converted<T>& out) {
    const auto failed = [name](const Error& error) {
        raise_argument_error(error, name);
        return false;
    };
    if constexpr (std::is_same_v<T, ByteSpan>) {
        Result<ByteSpan> r = to_byte_string(object);
        if (!r) return failed(r.error());
        // Copied member by member: a whole-struct copy makes the compiler reload the pair with
        // one wide load from two narrow stores, which stalls.
        out.value = ByteSpan(r->data(), r->size());
    } else if constexpr (std::is_same_v<T, std::string_view>) {
        Result<std::string_view> r = to_text(object);
        if (!r) return failed(r.error());
        out.value = std::string_view(r->data(), r->size());
    } else if constexpr (std::is_same_v<T, std::uint32_t>) {
        Result<std::uint32_t> r = to_u32(object);
        if (!r) return failed(r.error());
        out.value = *r;
    } else if constexpr (std::is_same_v<T, std::uint64_t>) {
        Result<std::uint64_t> r = to_u64(object);
        if (!r) return failed(r.error());
        out.value = *r;
    } else if constexpr (std::is_same_v<T, std::int64_t>) {
        Result<std::int64_t> r = to_i64(object);
        if (!r) return failed(r.error());
        out.value = *r;
    } else if constexpr (std::is_same_v<T, U128>) {
        Result<U128> r = to_u128(object);
        if (!r) return failed(r.error());
        out.value = *r;
    } else if constexpr (std::is_same_v<T, float>) {
        Result<float> r = to_f32(object);
        if (!r) return failed(r.error());
        out.value = *r;
    } else if constexpr (std::is_same_v<T, double>) {
        Result<double> r = to_f64(object);
        if (!r) return failed(r.error());
        out.value = *r;
    } else if constexpr (std::is_same_v<T, bool>) {
        Result<bool> r = to_flag(object);
        if (!r) return failed(r.error());
        out.value = *r;
    } else if constexpr (std::is_same_v<T, DictArgument>) {
        Status r = check_dict(object);
        if (!r) return failed(r.error());
        out.value = DictArgument{object};
    } else {
        static_assert(std::is_same_v<T, SequenceArgument>, "no conversion for this parameter type");
        Result<Ref> r = to_item_list(object);
        if (!r) return failed(r.error());
        out.keep = std::move(*r);
        out.value = SequenceArgument{out.keep.get()};
    }
    return true;
}

// Convert one bound argument to T; false when it failed, with the error raised. The objects a
// call usually passes are converted here in registers; everything else goes to the general
// conversion.
template <class T>
TELBIT_ALWAYS_INLINE bool convert_argument(const char* name, PyObject* object, Converted<T>& out) {
    if constexpr (std::is_same_v<T, ByteSpan>) {
        if (PyBytes_Check(object)) {
            out.value = ByteSpan(reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(object)),
                                 static_cast<std::size_t>(PyBytes_GET_SIZE(object)));
            return true;
        }
    } else if constexpr (std::is_same_v<T, std::string_view>) {
        if (PyUnicode_Check(object) && PyUnicode_IS_COMPACT_ASCII(object)) {
            out.value = std::string_view(static_cast<const char*>(PyUnicode_DATA(object)),
                                         static_cast<std::size_t>(PyUnicode_GET_LENGTH(object)));
            return true;
        }
    } else if constexpr (std::is_same_v<T, std::uint32_t>) {
        if (plain_u32(object, out.value)) return true;
    } else if constexpr (std::is_same_v<T, std::uint64_t>) {
        if (plain_u64(object, out.value)) return true;
    } else if constexpr (std::is_same_v<T, std::int64_t>) {
        if (plain_i64(object, out.value)) return true;
    } else if constexpr (std::is_same_v<T, float>) {
        if (PyFloat_CheckExact(object)) {
            out.value = round_to_binary32(PyFloat_AS_DOUBLE(object));
            return true;
        }
    } else if constexpr (std::is_same_v<T, double>) {
        if (PyFloat_CheckExact(object)) {
            out.value = PyFloat_AS_DOUBLE(object);
            return true;
        }
    } else if constexpr (std::is_same_v<T, bool>) {
        if (object == Py_True || object == Py_False) {
            out.value = object == Py_True;
            return true;
        }
    } else if constexpr (std::is_same_v<T, DictArgument>) {
        if (PyDict_Check(object)) {
            out.value = DictArgument{object};
            return true;
        }
    }
    return convert_general(name, object, out);
}

// The results operations give, as Python objects; an error is raised as its own class.
inline PyObject* to_python(PyObject* object) noexcept { return object; }  // already made, or raised
inline PyObject* to_python(std::int64_t value) { return PyLong_FromLongLong(value); }
inline PyObject* to_python(std::uint64_t value) {
    // The signed constructor has the interpreter's fast path for small values.
    return value <= 0x7FFFFFFFFFFFFFFFULL ? PyLong_FromLongLong(static_cast<long long>(value))
                                          : PyLong_FromUnsignedLongLong(value);
}
inline PyObject* to_python(double value) { return PyFloat_FromDouble(value); }
inline PyObject* to_python(const DecodedText& text) { return new_text(text); }
inline PyObject* to_python(const std::string& bytes) { return new_bytes(bytes); }
inline PyObject* to_python(const EncodedText& text) { return new_bytes(text.bytes()); }
inline PyObject* to_python(const Error& error) { return raise_error(error); }
template <class T>
PyObject* to_python(const Result<T>& result) {
    return result ? to_python(*result) : raise_error(result.error());
}

// The parameter types of an operation, read off its function type.
template <class F>
struct Signature;
template <class R, class... P>
struct Signature<R (*)(P...)> {
    using Parameters = std::tuple<std::remove_cvref_t<P>...>;
    static constexpr std::size_t arity = sizeof...(P);
};
template <class R, class... P>
struct Signature<R (*)(P...) noexcept> : Signature<R (*)(P...)> {};

// The operation of a row: converts the bound arguments to the types the function takes,
// calls it, and converts its result. The conversions follow from the function itself, so a
// row and its function cannot read different argument slots.
template <auto Function>
PyObject* thunk(PyObject* const* bound, const FunctionRow& row) {
    using Parameters = typename Signature<decltype(Function)>::Parameters;
    return [&]<std::size_t... I>(std::index_sequence<I...>) -> PyObject* {
        std::tuple<Converted<std::tuple_element_t<I, Parameters>>...> arguments;
        if (!(convert_argument(row.parameters[I], bound[I], std::get<I>(arguments)) && ...)) return nullptr;
        return to_python(Function(std::move(std::get<I>(arguments).value)...));
    }(std::make_index_sequence<std::tuple_size_v<Parameters>>{});
}

// A row for `Function`, whose parameters are named by `names`; a third parameter, when there
// is one beyond `required`, is an optional flag that defaults to False.
template <auto Function, std::size_t N>
consteval FunctionRow row(const char* name, const char* const (&names)[N], std::size_t required = N) {
    using Parameters = typename Signature<decltype(Function)>::Parameters;
    static_assert(N == std::tuple_size_v<Parameters>, "a name for each parameter");
    static_assert(N <= max_parameters);
    // bind_slots fills an omitted optional parameter with False, so only a flag may be one.
    if (required < N && !std::is_same_v<std::tuple_element_t<N - 1, Parameters>, bool>) {
        throw "an optional parameter must be a flag";  // not a constant expression: does not compile
    }
    FunctionRow made{name, {}, static_cast<std::uint8_t>(N), static_cast<std::uint8_t>(required), thunk<Function>};
    for (std::size_t i = 0; i < N; ++i) made.parameters[i] = names[i];
    return made;
}

}  // namespace telbit
