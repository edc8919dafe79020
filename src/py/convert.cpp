// Conversions between Python objects and plain values.
#include "py/convert.hpp"

#include <atomic>
#include <cstring>
#include <mutex>

#include "core/ieee754.hpp"
#include "py/once.hpp"

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
    if (py::unsigned_128_bytes(index.get(), buffer) < 0) return already_raised();
    U128 value;
    for (int i = 0; i < 8; ++i) value.high = (value.high << 8) | buffer[i];
    for (int i = 8; i < 16; ++i) value.low = (value.low << 8) | buffer[i];
    return value;
}

Result<std::uint64_t> to_word(ValueKind kind, PyObject* object) {
    switch (kind) {
        case ValueKind::unsigned_integer: return to_u64(object);
        case ValueKind::signed_integer: {
            Result<std::int64_t> value = to_i64(object);
            if (!value) return std::move(value).error();
            return static_cast<std::uint64_t>(*value);  // modular: the word is the two's complement
        }
        case ValueKind::binary32: {
            Result<float> value = to_f32(object);
            if (!value) return std::move(value).error();
            return std::bit_cast<std::uint32_t>(*value);
        }
        case ValueKind::binary64: {
            Result<double> value = to_f64(object);
            if (!value) return std::move(value).error();
            return std::bit_cast<std::uint64_t>(*value);
        }
        case ValueKind::none:
        case ValueKind::text: break;
    }
    return value_error("internal error: not a number kind");
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
    // Exact lists and tuples give up their items without running Python code; the walks read
    // them in place (see RecipeItems).
    if (PyTuple_CheckExact(object) || PyList_CheckExact(object)) return Ref::borrow(object);
    if (!PyList_Check(object) && !PyTuple_Check(object)) {
        PyObject* abc = sequence_abc();
        if (abc == nullptr) return already_raised();
        const int is_sequence = PyObject_IsInstance(object, abc);
        if (is_sequence < 0) return already_raised();
        if (is_sequence == 0) return cast_error(object, "Sequence");
    }
    // Iterate without asking for a length: a failing __len__ must not fail the conversion.
    // The walk reads the new list while Python code of the entries' own runs, so no such code
    // may reach it: the garbage collector would hand it out (gc.get_referrers of an entry).
    Ref list = Ref::steal(PyList_New(0));
    if (!list) return already_raised();
    PyObject_GC_UnTrack(list.get());
    Ref iterator = Ref::steal(PyObject_GetIter(object));
    if (!iterator) return already_raised();
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
        if (PyList_Append(list.get(), item.get()) < 0) return already_raised();
    }
    if (PyErr_Occurred()) return already_raised();
    return list;
}

RecipeItems::RecipeItems(PyObject* list_or_tuple) noexcept {
    if (PyTuple_Check(list_or_tuple)) {
        items_ = &PyTuple_GET_ITEM(list_or_tuple, 0);
        count_ = PyTuple_GET_SIZE(list_or_tuple);
        changeable_ = false;
    } else {
        items_ = PyList_GET_SIZE(list_or_tuple) == 0 ? nullptr : &PyList_GET_ITEM(list_or_tuple, 0);
        count_ = PyList_GET_SIZE(list_or_tuple);
        // A list made by to_item_list is out of everyone's reach, but telling it from the
        // caller's own costs more than the rare copy.
        changeable_ = count_ > 0;
    }
}

RecipeItems::~RecipeItems() {
    for (PyObject* item : copy_) Py_DECREF(item);
}

void RecipeItems::snapshot() {
    if (!changeable_) return;
    copy_.assign(items_, items_ + count_);
    for (PyObject* item : copy_) Py_INCREF(item);
    items_ = copy_.data();
    changeable_ = false;
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
