// The table of the module's 62 functions, in the order the module exposes them.
#pragma once

#include <Python.h>

#include <array>
#include <span>

#include "module/binder.hpp"

namespace telbit {

inline constexpr std::size_t function_count = 62;

[[nodiscard]] std::span<const FunctionRow, function_count> function_table() noexcept;

// The method definitions built from the table (static storage: a builtin keeps a pointer to
// its definition). Returns null with an exception set when they cannot be built.
[[nodiscard]] PyMethodDef* method_definitions();

}  // namespace telbit
