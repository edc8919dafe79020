// Ref: the one owner of a Python reference. Move-only; releases in its destructor.
//
// The rules every reference in telbit follows:
// - A reference taken is owned by a Ref, which lets go of it on every path.
// - Letting go of a reference (a Ref destroyed or assigned over, Py_DECREF, Py_CLEAR) may drop
//   the last one, and every allocation of a garbage-collected object may start a collection.
//   Either is a call into arbitrary Python code: a __del__, a weakref callback, the finaliser
//   of something the object owned. That code may change any dict or list it can reach.
// - So a borrowed pointer (from PyDict_Next, PyDict_GetItemWithError, a list's item array) is
//   valid only until the next such point, or until the next call that may run Python code
//   (an __index__, an __eq__, iteration). Holding a strong reference is the default; a place
//   that borrows across such a point instead says, on its line, why nothing can free the object.
#pragma once

#include <Python.h>

#include <utility>

namespace telbit {

class Ref {
public:
    Ref() noexcept = default;
    // Take over a new reference (what most C-API calls return); null stays null.
    [[nodiscard]] static Ref steal(PyObject* object) noexcept { return Ref(object); }
    // Take a new reference to a borrowed object, so that Python code run later cannot free it.
    [[nodiscard]] static Ref borrow(PyObject* object) noexcept {
        Py_XINCREF(object);
        return Ref(object);
    }

    Ref(Ref&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            PyObject* old = std::exchange(object_, std::exchange(other.object_, nullptr));
            Py_XDECREF(old);
        }
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(object_); }

    [[nodiscard]] PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    // Hand the reference to the caller (for returning to the interpreter).
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }

private:
    explicit Ref(PyObject* object) noexcept : object_(object) {}
    PyObject* object_ = nullptr;
};

}  // namespace telbit
