// Module initialisation: one module object per process, holding the 62 functions.
#include <Python.h>

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

ModuleOnce module_once("telbit does not support sub-interpreters");

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
    return module_once.get([]() -> PyObject* {
        Ref module = Ref::steal(PyModule_Create2(&module_definition, PYTHON_API_VERSION));
        if (!module || !add_functions(module.get())) return nullptr;
        return module.release();
    });
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
