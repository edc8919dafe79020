// The only place where operation errors become Python exceptions.
#pragma once

#include <Python.h>

#include <functional>
#include <string>
#include <vector>

#include "core/result.hpp"

namespace telbit {

// Raise the error as its own exception class; returns nullptr for the caller to return.
PyObject* raise_error(const Error& error);

// Raise the error of a recipe walk as ValueError "{type}: {text}", where {type} is the
// inner exception's class name and {text} its str(). The inner exception is its __cause__,
// and the notes (PEP 678) say where the walk failed. `notes` is called once the inner
// exception is out of the error indicator, so it may run Python code.
PyObject* raise_wrapped(const Error& error, const std::function<std::vector<std::string>()>& notes);

// Raise an argument-conversion error: a TypeError gets the "argument '{name}': " prefix,
// every other class is raised as it is.
PyObject* raise_argument_error(const Error& error, const char* parameter);

// Counts a walk that runs Python code of the caller's (which may call the walk again) against
// the interpreter's recursion limit: each round costs C stack that the interpreter cannot see,
// and runaway re-entry then ends in RecursionError rather than a stack overflow.
class RecursionGuard {
public:
    explicit RecursionGuard(const char* where) noexcept : entered_(Py_EnterRecursiveCall(where) == 0) {}
    ~RecursionGuard() {
        if (entered_) Py_LeaveRecursiveCall();
    }
    RecursionGuard(const RecursionGuard&) = delete;
    RecursionGuard& operator=(const RecursionGuard&) = delete;
    [[nodiscard]] bool entered() const noexcept { return entered_; }

private:
    bool entered_;
};

}  // namespace telbit
