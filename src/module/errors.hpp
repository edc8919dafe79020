// The only place where operation errors become Python exceptions.
#pragma once

#include <Python.h>

#include "core/result.hpp"
#include "recipe/walk.hpp"

namespace telbit {

// Raise the error as its own exception class; returns nullptr for the caller to return.
PyObject* raise_error(const Error& error);

// Raise the error of a recipe walk as ValueError "{type}: {text}", where {type} is the
// inner exception's class name and {text} its str(). The inner exception is its __cause__,
// and a note names the entry where the walk failed.
PyObject* raise_wrapped(const Error& error, const FailurePlace& place);

// Raise an argument-conversion error: a TypeError gets the "argument '{name}': " prefix,
// every other class is raised as it is.
PyObject* raise_argument_error(const Error& error, const char* parameter);

}  // namespace telbit
