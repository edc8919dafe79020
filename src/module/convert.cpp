// Conversions between Python objects and plain values.
#include "module/convert.hpp"

#include <atomic>
#include <cstring>
#include <mutex>

#include "core/ieee754.hpp"
#include "module/once.hpp"

namespace telbit {

std::string type_name(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    Ref qualified = Ref::steal(PyType_GetQualName(type));
    if (qualified) {
        Py_ssize_t size = 0;
        if (const char* text = PyUnicode_AsUTF8AndSize(qualified.get(), &size)) {
            return std::string(text, static_cast<std::size_t>(size));
        }
    }
    PyErr_Clear();  // fall back to the C-level name rather than lose the real error
    return type->tp_name;
}

Error cast_error(PyObject* object, std::string_view target) {
    std::string message = "'";
    message += type_name(object);
    message += "' object cannot be cast as '";
    message += target;
    message += "'";
    return type_error(std::move(message));
}

Result<std::string_view> to_text_slow(PyObject* object) {
    if (!PyUnicode_Check(object)) return cast_error(object, "str");
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(object, &size);
    if (text == nullptr) return already_raised();
    return std::string_view(text, static_cast<std::size_t>(size));
}

Result<std::int64_t> to_i64_slow(PyObject* object) {
    const long long value = PyLong_AsLongLong(object);
    if (value == -1 && PyErr_Occurred()) return already_raised();
    return static_cast<std::int64_t>(value);
}

Result<std::uint32_t> to_u32_slow(PyObject* object) {
    const long long value = PyLong_AsLongLong(object);
    if (value == -1 && PyErr_Occurred()) return already_raised();
    if (value < 0 || value > 0xFFFFFFFFLL) return overflow_error("out of range integral type conversion attempted");
    return static_cast<std::uint32_t>(value);
}

Result<std::uint64_t> to_u64_slow(PyObject* object) {
    if (PyLong_Check(object)) {
        const unsigned long long value = PyLong_AsUnsignedLongLong(object);
        if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return already_raised();
        return static_cast<std::uint64_t>(value);
    }
    Ref index = Ref::steal(PyNumber_Index(object));
    if (!index) return already_raised();
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return already_raised();
    return static_cast<std::uint64_t>(value);
}

Result<U128> to_u128(PyObject* object) {
    Ref index = Ref::steal(PyNumber_Index(object));
    if (!index) return already_raised();
    unsigned char buffer[16];
#if PY_VERSION_HEX < 0x030D0000
    if (_PyLong_AsByteArray(reinterpret_cast<PyLongObject*>(index.get()), buffer, sizeof buffer,
                            /*little_endian=*/0, /*is_signed=*/0) < 0) {
        return already_raised();
    }
#else
    // Later interpreters take a further argument: raise rather than just report failure.
    if (_PyLong_AsByteArray(reinterpret_cast<PyLongObject*>(index.get()), buffer, sizeof buffer,
                            /*little_endian=*/0, /*is_signed=*/0, /*with_exceptions=*/1) < 0) {
        return already_raised();
    }
#endif
    U128 value;
    for (int i = 0; i < 8; ++i) value.high = (value.high << 8) | buffer[i];
    for (int i = 8; i < 16; ++i) value.low = (value.low << 8) | buffer[i];
    return value;
}

Result<double> to_f64_slow(PyObject* object) {
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return already_raised();
    return value;
}

namespace {

// NumPy's boolean scalar, recognised by name so that NumPy never becomes a dependency.
bool is_numpy_bool(PyObject* object) {
    const char* name = Py_TYPE(object)->tp_name;
    return std::strcmp(name, "numpy.bool") == 0 || std::strcmp(name, "numpy.bool_") == 0;
}

}  // namespace

Result<bool> to_flag_slow(PyObject* object) {
    if (is_numpy_bool(object)) {
        const int truth = PyObject_IsTrue(object);
        if (truth < 0) return already_raised();
        return truth != 0;
    }
    return cast_error(object, "bool");
}


namespace {

// collections.abc.Sequence, looked up once per process and kept.
PyObject* sequence_abc() {
    static std::atomic<PyObject*> cached{nullptr};
    if (PyObject* known = cached.load(std::memory_order_acquire)) return known;
    static OnceGate gate;
    GateLock lock(gate);
    if (PyObject* known = cached.load(std::memory_order_acquire)) return known;
    Ref module = Ref::steal(PyImport_ImportModule("collections.abc"));
    if (!module) return nullptr;
    PyObject* sequence = PyObject_GetAttrString(module.get(), "Sequence");
    if (sequence == nullptr) return nullptr;
    cached.store(sequence, std::memory_order_release);  // kept for the life of the process
    return sequence;
}

}  // namespace

Result<Ref> to_item_list(PyObject* object) {
    if (PyUnicode_Check(object)) return type_error("Can't extract `str` to `Vec`");
    // Exact lists and tuples cannot run Python code while their items are taken; a tuple
    // is immutable and is used as it is, a list is copied so the caller may change it later.
    // The walk reads the copy's item array in place while Python code of the entries' own
    // runs, so no such code may reach the copy: the garbage collector would hand it out
    // (gc.get_referrers of an entry), and emptying it would free the items being walked.
    if (PyTuple_CheckExact(object)) return Ref::borrow(object);
    if (PyList_CheckExact(object)) {
        Ref copy = Ref::steal(PyList_GetSlice(object, 0, PyList_GET_SIZE(object)));
        if (!copy) return already_raised();
        PyObject_GC_UnTrack(copy.get());
        return copy;
    }
    if (!PyList_Check(object) && !PyTuple_Check(object)) {
        PyObject* abc = sequence_abc();
        if (abc == nullptr) return already_raised();
        const int is_sequence = PyObject_IsInstance(object, abc);
        if (is_sequence < 0) return already_raised();
        if (is_sequence == 0) return cast_error(object, "Sequence");
    }
    // Iterate without asking for a length: a failing __len__ must not fail the conversion.
    Ref list = Ref::steal(PyList_New(0));
    if (!list) return already_raised();
    PyObject_GC_UnTrack(list.get());  // out of reach of the iterator's code, as above
    Ref iterator = Ref::steal(PyObject_GetIter(object));
    if (!iterator) return already_raised();
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
        if (PyList_Append(list.get(), item.get()) < 0) return already_raised();
    }
    if (PyErr_Occurred()) return already_raised();
    return list;
}

ItemView items_of(PyObject* list_or_tuple) noexcept {
    if (PyTuple_Check(list_or_tuple)) {
        return {&PyTuple_GET_ITEM(list_or_tuple, 0), PyTuple_GET_SIZE(list_or_tuple)};
    }
    return {PyList_GET_SIZE(list_or_tuple) == 0 ? nullptr : &PyList_GET_ITEM(list_or_tuple, 0),
            PyList_GET_SIZE(list_or_tuple)};
}

PyObject* new_text(const DecodedText& text) {
    const auto* data = reinterpret_cast<const char*>(text.bytes.data());
    const auto size = static_cast<Py_ssize_t>(text.bytes.size());
    switch (text.form) {
        case TextForm::ascii: {
            PyObject* result = PyUnicode_New(size, 127);
            if (result != nullptr && size > 0) std::memcpy(PyUnicode_DATA(result), data, text.bytes.size());
            return result;
        }
        case TextForm::latin1:
            return PyUnicode_DecodeLatin1(data, size, nullptr);
        case TextForm::utf8:
            return PyUnicode_DecodeUTF8(data, size, nullptr);
        case TextForm::utf32:
            return PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, text.code_points.data(),
                                             static_cast<Py_ssize_t>(text.code_points.size()));
    }
    return nullptr;
}

PyObject* new_bytes(std::string_view bytes) {
    return PyBytes_FromStringAndSize(bytes.data(), static_cast<Py_ssize_t>(bytes.size()));
}

}  // namespace telbit
