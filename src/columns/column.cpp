// The numeric column type of telbit_columns.
#include "columns/column.hpp"

#include <bit>
#include <cstring>

#include "py/ref.hpp"

namespace telbit::columns {
namespace {

struct ColumnObject {
    PyObject_HEAD
    std::uint64_t* words;
    Py_ssize_t length;
    Py_ssize_t itemsize;  // 8; a field, so that a buffer's strides can point at it
    ValueKind kind;
    char format[2];
};

ColumnObject* as_column(PyObject* object) noexcept { return reinterpret_cast<ColumnObject*>(object); }

PyObject* item_object(const ColumnObject* column, Py_ssize_t i) {
    const std::uint64_t word = column->words[i];
    switch (column->kind) {
        case ValueKind::unsigned_integer: return PyLong_FromUnsignedLongLong(word);
        case ValueKind::signed_integer: return PyLong_FromLongLong(static_cast<long long>(word));
        default: return PyFloat_FromDouble(std::bit_cast<double>(word));
    }
}

void column_dealloc(PyObject* self) {
    PyMem_RawFree(as_column(self)->words);
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);  // a heap type: each of its objects holds it
}

Py_ssize_t column_length(PyObject* self) { return as_column(self)->length; }

PyObject* column_item(PyObject* self, Py_ssize_t i) {
    const ColumnObject* column = as_column(self);
    if (i < 0 || i >= column->length) {
        PyErr_SetString(PyExc_IndexError, "column index out of range");
        return nullptr;
    }
    return item_object(column, i);
}

int column_get_buffer(PyObject* self, Py_buffer* view, int flags) {
    ColumnObject* column = as_column(self);
    view->obj = Py_NewRef(self);
    static std::uint64_t nothing = 0;  // an empty column's buffer points somewhere all the same
    view->buf = column->words != nullptr ? column->words : &nothing;
    view->len = column->length * column->itemsize;
    view->readonly = 0;
    view->itemsize = column->itemsize;
    view->format = (flags & PyBUF_FORMAT) != 0 ? column->format : nullptr;
    view->ndim = 1;
    view->shape = (flags & PyBUF_ND) != 0 ? &column->length : nullptr;
    view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? &column->itemsize : nullptr;
    view->suboffsets = nullptr;
    view->internal = nullptr;
    return 0;
}

PyObject* column_tolist(PyObject* self, PyObject*) {
    const ColumnObject* column = as_column(self);
    Ref list = Ref::steal(PyList_New(column->length));
    if (!list) return nullptr;
    for (Py_ssize_t i = 0; i < column->length; ++i) {
        PyObject* item = item_object(column, i);
        if (item == nullptr) return nullptr;
        PyList_SET_ITEM(list.get(), i, item);
    }
    return list.release();
}

// Pickled as the array.array of the same type code and words.
PyObject* column_reduce(PyObject* self, PyObject*) {
    const ColumnObject* column = as_column(self);
    Ref array_module = Ref::steal(PyImport_ImportModule("array"));
    if (!array_module) return nullptr;
    Ref array_type = Ref::steal(PyObject_GetAttrString(array_module.get(), "array"));
    if (!array_type) return nullptr;
    Ref words = Ref::steal(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(column->words),
                                                     column->length * column->itemsize));
    if (!words) return nullptr;
    Ref code = Ref::steal(PyUnicode_FromString(column->format));
    if (!code) return nullptr;
    return Py_BuildValue("O(OO)", array_type.get(), code.get(), words.get());
}

// For NumPy (and so pandas), the words themselves as an array of the column's format: a view,
// not a copy, unless a copy or another dtype is asked for.
PyObject* column_array(PyObject* self, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"dtype", "copy", nullptr};
    PyObject* dtype = Py_None;
    PyObject* copy = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "|OO:__array__", const_cast<char**>(keywords), &dtype, &copy)) {
        return nullptr;
    }
    Ref numpy = Ref::steal(PyImport_ImportModule("numpy"));  // asked by NumPy, so it is loaded
    if (!numpy) return nullptr;
    Ref view = Ref::steal(PyMemoryView_FromObject(self));
    if (!view) return nullptr;
    Ref array = Ref::steal(PyObject_CallMethod(numpy.get(), "asarray", "OO", view.get(), dtype));
    if (!array || copy != Py_True) return array.release();
    return PyObject_CallMethod(array.get(), "copy", nullptr);
}

PyObject* column_repr(PyObject* self) {
    Ref items = Ref::steal(column_tolist(self, nullptr));
    if (!items) return nullptr;
    return PyUnicode_FromFormat("Column('%s', %R)", as_column(self)->format, items.get());
}

PyObject* column_typecode(PyObject* self, void*) { return PyUnicode_FromString(as_column(self)->format); }
PyObject* column_itemsize(PyObject* self, void*) { return PyLong_FromSsize_t(as_column(self)->itemsize); }

PyMethodDef column_methods[] = {
    {"tolist", column_tolist, METH_NOARGS, "tolist($self, /)\n--\n\nThe values, as a list of ints or floats."},
    {"__reduce__", column_reduce, METH_NOARGS, nullptr},
    {"__array__", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(column_array)), METH_VARARGS | METH_KEYWORDS,
     nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef column_getset[] = {
    {"typecode", column_typecode, nullptr, "The buffer format: 'Q', 'q' or 'd'.", nullptr},
    {"itemsize", column_itemsize, nullptr, "The size of one value in bytes: 8.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot column_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(column_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(column_repr)},
    {Py_sq_length, reinterpret_cast<void*>(column_length)},
    {Py_sq_item, reinterpret_cast<void*>(column_item)},
    {Py_tp_iter, reinterpret_cast<void*>(PySeqIter_New)},
    {Py_bf_getbuffer, reinterpret_cast<void*>(column_get_buffer)},
    {Py_tp_methods, column_methods},
    {Py_tp_getset, column_getset},
    {Py_tp_doc, const_cast<char*>("A column of 64-bit numbers: a sequence, and a buffer of format 'Q', 'q' or 'd'.")},
    {0, nullptr},
};

// Made only by unpack_columns: a Column made from Python would have no kind, and so no
// buffer format that a reader could take.
PyType_Spec column_spec = {"telbit_columns.Column", sizeof(ColumnObject), 0,
                           Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, column_slots};

PyTypeObject* column_type = nullptr;  // made once, kept for the life of the process

}  // namespace

bool init_column_type(PyObject* module) {
    column_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&column_spec));
    if (column_type == nullptr) return false;
    return PyModule_AddObjectRef(module, "Column", reinterpret_cast<PyObject*>(column_type)) == 0;
}

PyObject* new_column(ValueKind kind, Py_ssize_t count) {
    ColumnObject* column = PyObject_New(ColumnObject, column_type);
    if (column == nullptr) return nullptr;
    column->words = nullptr;
    column->length = count;
    column->itemsize = 8;
    column->kind = kind;
    column->format[0] = kind == ValueKind::unsigned_integer ? 'Q' : kind == ValueKind::signed_integer ? 'q' : 'd';
    column->format[1] = '\0';
    return reinterpret_cast<PyObject*>(column);
}

std::uint64_t* allocate(PyObject* object) noexcept {
    ColumnObject* column = as_column(object);
    if (column->length == 0) return nullptr;
    column->words = static_cast<std::uint64_t*>(PyMem_RawMalloc(static_cast<std::size_t>(column->length) * 8));
    return column->words;
}

}  // namespace telbit::columns
