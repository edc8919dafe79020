// The one argument binder for all module functions.
#include "module/binder.hpp"

#include <cstring>
#include <new>
#include <string>

#include "py/errors.hpp"

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
        if (slots[i] == nullptr) missing[count++] = row.parameters[i];
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

}  // namespace

bool intern_parameter_names(const FunctionRow& row, InternedNames& interned) {
    for (std::size_t i = 0; i < row.count; ++i) {
        interned[i] = PyUnicode_InternFromString(row.parameters[i]);
        if (interned[i] == nullptr) return false;
    }
    return true;
}

bool bind_slots(const FunctionRow& row, const InternedNames& interned, PyObject* const* args, Py_ssize_t nargs,
                PyObject* kwnames, std::array<PyObject*, max_parameters>& slots) {
    if (nargs > row.count) {
        too_many_positional(row, nargs);
        return false;
    }
    slots.fill(nullptr);
    for (Py_ssize_t i = 0; i < nargs; ++i) slots[static_cast<std::size_t>(i)] = args[i];
    if (kwnames != nullptr) {
        const Py_ssize_t keyword_count = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < keyword_count; ++k) {
            PyObject* keyword = PyTuple_GET_ITEM(kwnames, k);
            std::size_t index = 0;
            while (index < row.count && !keyword_matches(keyword, interned[index], row.parameters[index])) {
                ++index;
            }
            if (index == row.count) {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%S'", row.name, keyword);
                return false;
            }
            if (slots[index] != nullptr) {
                PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", row.name,
                             row.parameters[index]);
                return false;
            }
            slots[index] = args[nargs + k];
        }
    }
    for (std::size_t i = 0; i < row.required; ++i) {
        if (slots[i] == nullptr) {
            missing_arguments(row, slots);
            return false;
        }
    }
    for (std::size_t i = row.required; i < row.count; ++i) {
        if (slots[i] == nullptr) slots[i] = Py_False;  // the only optional parameter is a flag
    }
    return true;
}

PyObject* raise_unexpected_exception() {
    PyErr_SetString(PyExc_SystemError, "telbit: unexpected internal failure");
    return nullptr;
}

}  // namespace telbit
