// Every difference between the interpreter versions telbit builds for, in one place. Each
// helper uses the public call where the interpreter has one.
#pragma once

#include <Python.h>

#include <cstdint>

#include "core/platform.hpp"

namespace telbit::py {

// A dict with room for `count` items, so that filling it never resizes. 3.13 keeps the
// presized constructor to itself; there a dict grows as it is filled.
[[nodiscard]] inline PyObject* new_presized_dict(Py_ssize_t count) noexcept {
#if PY_VERSION_HEX < 0x030D0000
    return _PyDict_NewPresized(count);
#else
    (void)count;
    return PyDict_New();
#endif
}

// The value of an exact int that the interpreter holds in its compact form (|value| < 2^30
// on 3.11, where that is one internal digit); false for anything else. 3.12 made the digit
// layout private and gave the compact form a (provisional) public reading.
[[nodiscard]] TELBIT_ALWAYS_INLINE bool compact_int_value(PyObject* object, long long& value) noexcept {
    if (!PyLong_CheckExact(object)) return false;
#if PY_VERSION_HEX >= 0x030C0000
    const auto* number = reinterpret_cast<PyLongObject*>(object);
    if (!PyUnstable_Long_IsCompact(number)) return false;
    value = static_cast<long long>(PyUnstable_Long_CompactValue(number));
#else
    const Py_ssize_t size = Py_SIZE(object);
    if (size > 1 || size < -1) return false;
    value = static_cast<long long>(size) * static_cast<long long>(reinterpret_cast<PyLongObject*>(object)->ob_digit[0]);
#endif
    return true;
}

#if PY_VERSION_HEX < 0x030C0000
// The rest of small_int_magnitude, for ints of more than one digit: apart, so that the usual
// case stays small enough to be inlined everywhere.
[[nodiscard]] TELBIT_NOINLINE inline bool multi_digit_magnitude(PyObject* object, std::uint64_t& magnitude, bool& negative) noexcept {
    const Py_ssize_t size = Py_SIZE(object);
    negative = size < 0;
    const Py_ssize_t count = negative ? -size : size;
    constexpr Py_ssize_t most_digits = (64 + PyLong_SHIFT - 1) / PyLong_SHIFT;
    if (count > most_digits) return false;
    const digit* digits = reinterpret_cast<PyLongObject*>(object)->ob_digit;
    std::uint64_t value = 0;
    for (Py_ssize_t i = count; i-- > 0;) {
        if ((value >> (64 - PyLong_SHIFT)) != 0) return false;  // the next digit would not fit
        value = (value << PyLong_SHIFT) | digits[i];
    }
    magnitude = value;
    return true;
}
#endif

// The magnitude and sign of an exact int below 2^64 in magnitude, read without the general
// conversion (which, for ints of more than one digit, goes through a byte-array routine that
// costs several times as much); false for anything else. From 3.12 only the compact form can
// be read, and the rest goes to the general conversion.
[[nodiscard]] TELBIT_ALWAYS_INLINE bool small_int_magnitude(PyObject* object, std::uint64_t& magnitude, bool& negative) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    long long value = 0;
    if (!compact_int_value(object, value)) return false;
    negative = value < 0;
    magnitude = negative ? std::uint64_t{0} - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    return true;
#else
    if (!PyLong_CheckExact(object)) return false;
    const Py_ssize_t size = Py_SIZE(object);
    const digit* digits = reinterpret_cast<PyLongObject*>(object)->ob_digit;
    if (size == 0 || size == 1 || size == -1) {  // the usual case: one digit, or zero
        negative = size < 0;
        magnitude = size == 0 ? 0 : digits[0];
        return true;
    }
    return multi_digit_magnitude(object, magnitude, negative);
#endif
}

// The 16 bytes of an int in 0..2^128-1, most significant first; -1 with OverflowError set,
// in the words of the interpreter's conversions to unsigned types, for anything outside.
// 3.13 has a public call for the copy; it takes a negative value without complaint and
// reports a value that needs more room by the size it needs, so both are checked here.
[[nodiscard]] inline int unsigned_128_bytes(PyObject* integer, unsigned char (&buffer)[16]) noexcept {
#if PY_VERSION_HEX >= 0x030D0000
    PyObject* zero = PyLong_FromLong(0);
    if (zero == nullptr) return -1;
    const int negative = PyObject_RichCompareBool(integer, zero, Py_LT);  // an exact int: runs no Python code
    Py_DECREF(zero);  // an int: letting go runs no Python code either
    if (negative < 0) return -1;
    if (negative == 1) {
        PyErr_SetString(PyExc_OverflowError, "can't convert negative int to unsigned");
        return -1;
    }
    const Py_ssize_t needed =
        PyLong_AsNativeBytes(integer, buffer, sizeof buffer, Py_ASNATIVEBYTES_BIG_ENDIAN | Py_ASNATIVEBYTES_UNSIGNED_BUFFER);
    if (needed < 0) return -1;
    if (needed > static_cast<Py_ssize_t>(sizeof buffer)) {
        PyErr_SetString(PyExc_OverflowError, "int too big to convert");
        return -1;
    }
    return 0;
#else
    return _PyLong_AsByteArray(reinterpret_cast<PyLongObject*>(integer), buffer, sizeof buffer,
                               /*little_endian=*/0, /*is_signed=*/0);
#endif
}

// Take the exception being raised off the error indicator, as a new reference (null when
// none is set). 3.12 replaced the type-value-traceback triple with the exception itself.
[[nodiscard]] inline PyObject* take_raised_exception() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) return nullptr;
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr && traceback != nullptr) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return value;
#endif
}

// Raise `exception` again (consumes the reference), as take_raised_exception found it.
inline void restore_raised_exception(PyObject* exception) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exception);
#else
    PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exception))), exception,
                  PyException_GetTraceback(exception));
#endif
}

}  // namespace telbit::py
