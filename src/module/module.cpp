// Module initialisation: one module object per process, holding the 62 functions.
#include <Python.h>

#include <atomic>
#include <cstdint>
#include <new>

#include "module/functions.hpp"
#include "py/once.hpp"
#include "py/ref.hpp"
#include "recipe/walk.hpp"

namespace telbit {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "telbit",  // m_name
    "",        // m_doc
    0,         // m_size
    nullptr,   // m_methods: the functions are added after creation, from the table
    nullptr,   // m_slots
    nullptr,   // m_traverse
    nullptr,   // m_clear
    nullptr,   // m_free
};

// The interpreter that first imported the module, and the module object it got.
std::atomic<std::int64_t> owner_interpreter{-1};
PyObject* module_object = nullptr;
OnceGate module_gate;

bool add_functions(PyObject* module) {
    if (!init_recipe_layer()) return false;
    PyMethodDef* definitions = method_definitions();
    if (definitions == nullptr) return false;
    Ref module_name = Ref::steal(PyUnicode_FromString(module_definition.m_name));
    if (!module_name) return false;
    Ref all = Ref::steal(PyList_New(0));
    if (!all) return false;
    if (PyModule_AddObjectRef(module, "__all__", all.get()) < 0) return false;
    for (std::size_t i = 0; i < function_count; ++i) {
        Ref function = Ref::steal(PyCFunction_NewEx(&definitions[i], module, module_name.get()));
        if (!function) return false;
        Ref name = Ref::steal(PyObject_GetAttrString(function.get(), "__name__"));
        if (!name) return false;
        if (PyList_Append(all.get(), name.get()) < 0) return false;
        if (PyObject_SetAttr(module, name.get(), function.get()) < 0) return false;
    }
    return true;
}

PyObject* initialise() {
    PyInterpreterState* interpreter = PyInterpreterState_Get();
    const std::int64_t id = PyInterpreterState_GetID(interpreter);
    if (id < 0) return nullptr;
    std::int64_t expected = -1;
    if (!owner_interpreter.compare_exchange_strong(expected, id) && expected != id) {
        PyErr_SetString(PyExc_ImportError, "telbit does not support sub-interpreters");
        return nullptr;
    }
    GateLock lock(module_gate);
    if (module_object != nullptr) return Py_NewRef(module_object);
    Ref module = Ref::steal(PyModule_Create2(&module_definition, PYTHON_API_VERSION));
    if (!module) return nullptr;
    if (!add_functions(module.get())) return nullptr;
    module_object = Py_NewRef(module.get());  // kept for the life of the process
    return module.release();
}

}  // namespace
}  // namespace telbit

PyMODINIT_FUNC PyInit_telbit() {
    try {
        return telbit::initialise();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (...) {
        PyErr_SetString(PyExc_ImportError, "telbit: initialisation failed");
        return nullptr;
    }
}
