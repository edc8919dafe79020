// The numeric column: n 64-bit words in memory of its own, seen by Python as a sequence and
// as a buffer (format "Q", "q" or "d"), so that NumPy and pandas take it without a copy.
#pragma once

#include <Python.h>

#include <cstdint>

#include "core/codecs.hpp"

namespace telbit::columns {

// Makes the type ready; once, at module initialisation.
[[nodiscard]] bool init_column_type(PyObject* module);

// A new column of `count` words of the kind's layout, with no memory yet: allocate() gives it.
[[nodiscard]] PyObject* new_column(ValueKind kind, Py_ssize_t count);

// The column's words, allocated here (uninitialised). Needs no interpreter lock: the words are
// the raw allocator's, so this may run with the lock let go, on a column nothing else can
// reach yet. Null when the memory cannot be had (or the column is empty).
[[nodiscard]] std::uint64_t* allocate(PyObject* column) noexcept;

}  // namespace telbit::columns
