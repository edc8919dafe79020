// The only place where operation errors become Python exceptions.
#include "py/errors.hpp"

#include <string>

#include "py/compat.hpp"
#include "py/convert.hpp"
#include "py/ref.hpp"

namespace telbit {
namespace {

PyObject* exception_class(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::value_error: return PyExc_ValueError;
        case ErrorKind::key_error: return PyExc_KeyError;
        case ErrorKind::not_implemented: return PyExc_NotImplementedError;
        case ErrorKind::type_error: return PyExc_TypeError;
        case ErrorKind::overflow_error: return PyExc_OverflowError;
        case ErrorKind::memory_error: return PyExc_MemoryError;
        case ErrorKind::raised: break;
    }
    return nullptr;
}

Ref new_str(const std::string& text) {
    return Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

// Raise `exception_class` with "{prefix}{text}", where text is the str() of the exception
// object, or a fixed text when str() itself fails: the exception's own code (a __str__, the
// repr() of an argument) must not replace the error being reported.
PyObject* raise_with_text_of(PyObject* exception_class, const std::string& prefix, PyObject* object) {
    Ref text = Ref::steal(PyObject_Str(object));
    if (!text) {
        PyErr_Clear();
        text = Ref::steal(PyUnicode_FromString("<exception str() failed>"));
        if (!text) return nullptr;
    }
    Ref head = new_str(prefix);
    if (!head) return nullptr;
    Ref message = Ref::steal(PyUnicode_Concat(head.get(), text.get()));
    if (!message) return nullptr;
    PyErr_SetObject(exception_class, message.get());
    return nullptr;
}

}  // namespace

PyObject* raise_error(const Error& error) {
    if (error.kind == ErrorKind::raised) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "telbit: error lost on its way to the caller");
        return nullptr;
    }
    Ref message = new_str(error.message);
    if (!message) return nullptr;
    PyErr_SetObject(exception_class(error.kind), message.get());
    return nullptr;
}

PyObject* raise_wrapped(const Error& error, const std::function<std::vector<std::string>()>& notes) {
    // The inner exception as an object: the very one raised, or one of the error's class
    // made with its text.
    Ref inner;
    if (error.kind == ErrorKind::raised) {
        inner = Ref::steal(py::take_raised_exception());
        if (!inner) {
            PyErr_SetString(PyExc_SystemError, "telbit: error lost on its way to the caller");
            return nullptr;
        }
    } else {
        Ref message = new_str(error.message);
        if (!message) return nullptr;
        inner = Ref::steal(PyObject_CallOneArg(exception_class(error.kind), message.get()));
        if (!inner) return nullptr;
    }
    // The text is the str() of the inner exception (for a KeyError, the repr() of its
    // message), or a fixed text when str() itself fails: the exception's own code must not
    // replace the error being reported.
    Ref text = Ref::steal(PyObject_Str(inner.get()));
    if (!text) {
        PyErr_Clear();
        text = Ref::steal(PyUnicode_FromString("<exception str() failed>"));
        if (!text) return nullptr;
    }
    Ref head = new_str(type_name(inner.get()) + ": ");
    if (!head) return nullptr;
    Ref message = Ref::steal(PyUnicode_Concat(head.get(), text.get()));
    if (!message) return nullptr;
    Ref wrapped = Ref::steal(PyObject_CallOneArg(PyExc_ValueError, message.get()));
    if (!wrapped) return nullptr;
    PyException_SetCause(wrapped.get(), inner.release());  // takes the reference
    // The notes are a help, not the error: ones that cannot be made are left out. A fresh
    // ValueError has no notes, so its __notes__ is set to the list that add_note() would
    // build, without add_note()'s failed lookup of the attribute first.
    const std::vector<std::string> texts = notes();
    if (!texts.empty()) {
        Ref list = Ref::steal(PyList_New(0));
        for (const std::string& note : texts) {
            Ref note_text = list ? new_str(note) : Ref();
            if (!note_text || PyList_Append(list.get(), note_text.get()) < 0) {
                list = Ref();
                break;
            }
        }
        if (!list || PyObject_SetAttrString(wrapped.get(), "__notes__", list.get()) < 0) PyErr_Clear();
    }
    PyErr_SetObject(PyExc_ValueError, wrapped.get());
    return nullptr;
}

PyObject* raise_argument_error(const Error& error, const char* parameter) {
    std::string prefix = "argument '";
    prefix += parameter;
    prefix += "': ";
    if (error.kind == ErrorKind::type_error) {
        Ref message = new_str(prefix + error.message);
        if (!message) return nullptr;
        PyErr_SetObject(PyExc_TypeError, message.get());
        return nullptr;
    }
    if (error.kind != ErrorKind::raised) return raise_error(error);
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return nullptr;
    Ref value = Ref::steal(py::take_raised_exception());
    if (!value) return nullptr;
    if (Py_TYPE(value.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        // A subclass of TypeError keeps its class and text.
        py::restore_raised_exception(value.release());
        return nullptr;
    }
    return raise_with_text_of(PyExc_TypeError, prefix, value.get());
}

}  // namespace telbit
