// The one argument binder for all module functions.
#include "module/binder.hpp"

#include <cstring>
#include <new>
#include <string>

#include "module/errors.hpp"

namespace telbit {
namespace {

bool keyword_matches(PyObject* keyword, PyObject* interned, const char* name) {
    if (keyword == interned) return true;
    // Keywords are str; compare the content when they are not the interned object.
    return PyUnicode_Check(keyword) && PyUnicode_CompareWithASCIIString(keyword, name) == 0;
}

PyObject* too_many_positional(const FunctionRow& row, Py_ssize_t given) {
    const char* verb = given == 1 ? "was" : "were";
    if (row.required == row.count) {
        return PyErr_Format(PyExc_TypeError, "%s() takes %d positional arguments but %zd %s given", row.name,
                            static_cast<int>(row.count), given, verb);
    }
    return PyErr_Format(PyExc_TypeError, "%s() takes from %d to %d positional arguments but %zd %s given", row.name,
                        static_cast<int>(row.required), static_cast<int>(row.count), given, verb);
}

PyObject* missing_arguments(const FunctionRow& row, const std::array<PyObject*, max_parameters>& slots) {
    std::array<const char*, max_parameters> missing{};
    std::size_t count = 0;
    for (std::size_t i = 0; i < row.required; ++i) {
        if (slots[i] == nullptr) missing[count++] = row.parameters[i].name;
    }
    std::string list;
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) list += count > 2 ? ", " : " ";
        if (i > 0 && i == count - 1) list += "and ";
        list += "'";
        list += missing[i];
        list += "'";
    }
    return PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional %s: %s", row.name, count,
                        count == 1 ? "argument" : "arguments", list.c_str());
}

// Convert one bound argument by its kind; false when the conversion failed (error raised).
bool convert(const Parameter& parameter, PyObject* object, Arguments& arguments, Arguments::Value& value) {
    value.object = object;
    Error failure{ErrorKind::raised, {}};
    switch (parameter.kind) {
        case Kind::byte_string: {
            Result<ByteSpan> r = to_byte_string(object);
            if (r) { value.bytes = *r; return true; }
            failure = std::move(r).error();
            break;
        }
        case Kind::text: {
            Result<std::string_view> r = to_text(object);
            if (r) { value.text = *r; return true; }
            failure = std::move(r).error();
            break;
        }
        case Kind::u32: {
            Result<std::uint32_t> r = to_u32(object);
            if (r) { value.u32 = *r; return true; }
            failure = std::move(r).error();
            break;
        }
        case Kind::u64: {
            Result<std::uint64_t> r = to_u64(object);
            if (r) { value.u64 = *r; return true; }
            failure = std::move(r).error();
            break;
        }
        case Kind::i64: {
            Result<std::int64_t> r = to_i64(object);
            if (r) { value.i64 = *r; return true; }
            failure = std::move(r).error();
            break;
        }
        case Kind::u128: {
            Result<U128> r = to_u128(object);
            if (r) { value.u128 = *r; return true; }
            failure = std::move(r).error();
            break;
        }
        case Kind::f32: {
            Result<float> r = to_f32(object);
            if (r) { value.f32 = *r; return true; }
            failure = std::move(r).error();
            break;
        }
        case Kind::f64: {
            Result<double> r = to_f64(object);
            if (r) { value.f64 = *r; return true; }
            failure = std::move(r).error();
            break;
        }
        case Kind::flag: {
            Result<bool> r = to_flag(object);
            if (r) { value.flag = *r; return true; }
            failure = std::move(r).error();
            break;
        }
        case Kind::dict: {
            Status r = check_dict(object);
            if (r) return true;
            failure = std::move(r).error();
            break;
        }
        case Kind::sequence: {
            Result<Ref> r = to_item_list(object);
            if (r) { arguments.items = std::move(*r); return true; }
            failure = std::move(r).error();
            break;
        }
    }
    raise_argument_error(failure, parameter.name);
    return false;
}

PyObject* bind_and_run(const FunctionRow& row, const InternedNames& interned, PyObject* const* args,
                       Py_ssize_t nargs, PyObject* kwnames) {
    if (nargs > row.count) return too_many_positional(row, nargs);
    std::array<PyObject*, max_parameters> slots{};
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[static_cast<std::size_t>(i)] = args[i];
    if (kwnames != nullptr) {
        const Py_ssize_t keyword_count = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < keyword_count; ++k) {
            PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
            std::size_t index = 0;
            while (index < row.count && !keyword_matches(keyword, interned[index], row.parameters[index].name)) ++index;
            if (index == row.count) {
                return PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", row.name,
                                    keyword);
            }
            if (slots[index] != nullptr) {
                return PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", row.name,
                                    row.parameters[index].name);
            }
            slots[index] = args[nargs + k];
        }
    }
    for (std::size_t i = 0; i < row.required; ++i) {
        if (slots[i] == nullptr) return missing_arguments(row, slots);
    }
    for (std::size_t i = row.required; i < row.count; ++i) {
        if (slots[i] == nullptr) slots[i] = Py_False;  // the only optional parameter is a flag
    }
    Arguments arguments;
    for (std::size_t i = 0; i < row.count; ++i) {
        if (!convert(row.parameters[i], slots[i], arguments, arguments.values[i])) return nullptr;
    }
    return row.operation(arguments);
}

}  // namespace

bool intern_parameter_names(const FunctionRow& row, InternedNames& interned) {
    for (std::size_t i = 0; i < row.count; ++i) {
        interned[i] = PyUnicode_InternFromString(row.parameters[i].name);
        if (interned[i] == nullptr) return false;
    }
    return true;
}

PyObject* call_function(const FunctionRow& row, const InternedNames& interned, PyObject* const* args,
                        Py_ssize_t nargs, PyObject* kwnames) {
    // No C++ exception may cross into the interpreter.
    try {
        return bind_and_run(row, interned, args, nargs, kwnames);
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "telbit: unexpected internal failure");
        return nullptr;
    }
}

}  // namespace telbit
