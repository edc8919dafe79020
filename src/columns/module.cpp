// telbit_columns: whole archives of packets decoded into columns through the same recipes.
#include <Python.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "columns/column.hpp"
#include "columns/columns.hpp"
#include "py/convert.hpp"
#include "py/errors.hpp"
#include "py/once.hpp"
#include "py/ref.hpp"
#include "recipe/walk.hpp"

namespace telbit::columns {
namespace {

// A buffer held for the length of the call.
class Buffer {
public:
    Buffer() = default;
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { release(); }
    [[nodiscard]] bool take(PyObject* object, int flags) {
        held_ = PyObject_GetBuffer(object, &view_, flags) == 0;
        return held_;
    }
    void release() noexcept {
        if (held_) PyBuffer_Release(&view_);
        held_ = false;
    }
    [[nodiscard]] const Py_buffer& view() const noexcept { return view_; }

private:
    Py_buffer view_{};
    bool held_ = false;
};

PyObject* argument_error(const char* name, PyObject* object, const char* target) {
    return raise_argument_error(cast_error(object, target), name);
}

// The value of one item of an integer buffer, by its struct format; false for other formats.
bool integer_item(const Py_buffer& view, const char* item, std::int64_t& value, bool& is_signed) {
    const char* format = view.format == nullptr ? "B" : view.format;
    if (*format == '@' || *format == '=') ++format;
    const char code = format[0];
    if (code == '\0' || format[1] != '\0') return false;
    const auto read = [&]<class T>(T) {
        T number;
        std::memcpy(&number, item, sizeof number);
        value = static_cast<std::int64_t>(number);
        is_signed = static_cast<T>(-1) < T{0};
        return sizeof(T) == static_cast<std::size_t>(view.itemsize);
    };
    switch (code) {
        case 'b': return read(static_cast<signed char>(0));
        case 'B': return read(static_cast<unsigned char>(0));
        case 'h': return read(short{});
        case 'H': return read(static_cast<unsigned short>(0));
        case 'i': return read(int{});
        case 'I': return read(0U);
        case 'l': return read(0L);
        case 'L': return read(0UL);
        case 'q': return read(0LL);
        case 'Q': return read(0ULL);
        case 'n': return read(Py_ssize_t{});
        case 'N': return read(std::size_t{});
        default: return false;
    }
}

// The packet starts: an integer buffer, or a sequence of ints; each within the data and none
// below the one before.
bool read_starts(PyObject* object, std::size_t size, std::vector<std::uint64_t>& starts) {
    const auto refuse = [](const std::string& message) {
        PyErr_SetString(PyExc_ValueError, message.c_str());
        return false;
    };
    const auto check = [&](std::size_t i, std::uint64_t start) {
        if (start > size) {
            return refuse("starts[" + std::to_string(i) + "] = " + std::to_string(start) +
                          " is past the end of data (" + std::to_string(size) + " bytes)");
        }
        if (i > 0 && start < starts.back()) {
            return refuse("starts must be ascending: starts[" + std::to_string(i) + "] = " + std::to_string(start) +
                          " is below starts[" + std::to_string(i - 1) + "] = " + std::to_string(starts.back()));
        }
        starts.push_back(start);
        return true;
    };
    Buffer buffer;
    // Strided buffers too: a NumPy slice such as starts[::2] is one.
    if (PyObject_CheckBuffer(object) && !PyBytes_Check(object) && !PyByteArray_Check(object) &&
        buffer.take(object, PyBUF_RECORDS_RO)) {
        const Py_buffer& view = buffer.view();
        if (view.ndim > 1) return refuse("starts must be one-dimensional");
        const Py_ssize_t count = view.itemsize > 0 ? view.len / view.itemsize : 0;
        const Py_ssize_t step = view.ndim == 1 && view.strides != nullptr ? view.strides[0] : view.itemsize;
        starts.reserve(static_cast<std::size_t>(count));
        for (Py_ssize_t i = 0; i < count; ++i) {
            std::int64_t value = 0;
            bool is_signed = false;
            if (!integer_item(view, static_cast<const char*>(view.buf) + i * step, value, is_signed)) {
                PyErr_SetString(PyExc_TypeError, "argument 'starts': a buffer of integers is required");
                return false;
            }
            if (is_signed && value < 0) {
                return refuse("starts[" + std::to_string(i) + "] = " + std::to_string(value) + " is negative");
            }
            if (!check(static_cast<std::size_t>(i), static_cast<std::uint64_t>(value))) return false;
        }
        return true;
    }
    PyErr_Clear();
    Result<Ref> items = to_item_list(object);
    if (!items) {
        raise_argument_error(items.error(), "starts");
        return false;
    }
    RecipeItems list(items->get());
    list.snapshot();  // converting the items runs their __index__
    starts.reserve(static_cast<std::size_t>(list.size()));
    for (Py_ssize_t i = 0; i < list.size(); ++i) {
        // A negative int is refused as a negative item of a buffer is, by its place.
        if (PyLong_CheckExact(list[i])) {
            int overflow = 0;
            const long long value = PyLong_AsLongLongAndOverflow(list[i], &overflow);  // cannot fail on an int
            if (overflow < 0) return refuse("starts[" + std::to_string(i) + "] is negative");
            if (overflow == 0 && value < 0) {
                return refuse("starts[" + std::to_string(i) + "] = " + std::to_string(value) + " is negative");
            }
        }
        Result<std::uint64_t> start = to_u64(list[i]);
        if (!start) {
            raise_argument_error(start.error(), "starts");
            return false;
        }
        if (!check(static_cast<std::size_t>(i), *start)) return false;
    }
    return true;
}

// Decode every packet into the columns; the result dict, or null with the error raised.
PyObject* decode(RecipeItems& recipe, const Packets& packets, std::uint64_t offset_bits) {
    FailurePlace place;
    Result<Plan> read = read_plan(recipe, offset_bits, packets.length, place);
    if (!read) return raise_wrapped(read.error(), notes_for(place));
    const Plan& plan = *read;
    const std::size_t count = packets.count();

    std::vector<Ref> columns;
    std::vector<std::uint64_t*> words(plan.columns.size(), nullptr);
    std::vector<PyObject*> lists(plan.columns.size(), nullptr);
    for (std::size_t c = 0; c < plan.columns.size(); ++c) {
        const ValueKind kind = plan.columns[c].kind;
        const auto length = static_cast<Py_ssize_t>(count);
        Ref column = Ref::steal(kind == ValueKind::text ? PyList_New(length) : new_column(kind, length));
        if (!column) return nullptr;
        if (kind == ValueKind::text) lists[c] = column.get();
        columns.push_back(std::move(column));
    }

    std::size_t first_failure = count;
    bool allocated = true;
    // The numbers are filled without the interpreter lock: the plan holds plain values only, the
    // data is held as a buffer, and the columns' words come from the raw allocator on columns
    // that nothing else can reach yet. So threads that decode parts of an archive run at once,
    // the first writes to the columns' memory included.
    Py_BEGIN_ALLOW_THREADS
    for (std::size_t c = 0; c < plan.columns.size() && allocated; ++c) {
        if (lists[c] != nullptr || count == 0) continue;
        words[c] = allocate(columns[c].get());
        allocated = words[c] != nullptr;
    }
    if (allocated) fill_numbers(plan, packets, words, first_failure);
    Py_END_ALLOW_THREADS
    if (!allocated) {
        return raise_wrapped(memory_error("cannot allocate the columns of " + std::to_string(count) + " packets"),
                             [] { return std::vector<std::string>{}; });
    }
    if (!fill_texts(plan, packets, lists, first_failure)) return nullptr;

    if (first_failure < count) {
        const Error error = packet_error(plan, packets, first_failure, place);
        const ByteSpan packet = packets.packet(first_failure);
        const auto start = static_cast<std::uint64_t>(packet.data() - packets.data);
        return raise_wrapped(error, [&] {
            std::vector<std::string> notes = notes_for(place)();
            notes.push_back("packet " + std::to_string(first_failure) + ", bytes " + std::to_string(start) + " to " +
                            std::to_string(start + packet.size()) + " of the data");
            return notes;
        });
    }

    Ref result = Ref::steal(PyDict_New());
    if (!result) return nullptr;
    for (std::size_t c = 0; c < plan.columns.size(); ++c) {
        if (PyDict_SetItem(result.get(), plan.columns[c].name.get(), columns[c].get()) < 0) return nullptr;
    }
    return result.release();
}

PyObject* unpack_columns(PyObject*, PyObject* args, PyObject* kwargs) {
    static const char* keywords[] = {"data", "recipe", "packet_length", "offset_bits", "starts", nullptr};
    PyObject* data = nullptr;
    PyObject* recipe_object = nullptr;
    PyObject* length_object = Py_None;
    PyObject* offset_object = nullptr;
    PyObject* starts_object = Py_None;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|OO$O:unpack_columns", const_cast<char**>(keywords), &data,
                                     &recipe_object, &length_object, &offset_object, &starts_object)) {
        return nullptr;
    }
    // No C++ exception may cross into the interpreter.
    try {
        Result<Ref> items = to_item_list(recipe_object);
        if (!items) return raise_argument_error(items.error(), "recipe");

        if (!PyObject_CheckBuffer(data)) return argument_error("data", data, "buffer");
        Buffer buffer;
        if (!buffer.take(data, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT)) return nullptr;
        const Py_buffer& view = buffer.view();
        if (view.itemsize != 1) {
            PyErr_Format(PyExc_TypeError, "argument 'data': a buffer of bytes is required, not of %zd-byte items",
                         view.itemsize);
            return nullptr;
        }
        Packets packets;
        packets.data = static_cast<const std::uint8_t*>(view.buf);
        packets.size = static_cast<std::size_t>(view.len);

        std::uint64_t offset_bits = 0;
        if (offset_object != nullptr) {
            Result<std::uint64_t> offset = to_u64(offset_object);
            if (!offset) return raise_argument_error(offset.error(), "offset_bits");
            offset_bits = *offset;
        }

        if ((length_object == Py_None) == (starts_object == Py_None)) {
            PyErr_SetString(PyExc_TypeError, length_object == Py_None
                                                 ? "unpack_columns() needs packet_length or starts"
                                                 : "unpack_columns() takes packet_length or starts, not both");
            return nullptr;
        }
        std::vector<std::uint64_t> starts;
        if (length_object != Py_None) {
            Result<std::int64_t> length = to_i64(length_object);
            if (!length) return raise_argument_error(length.error(), "packet_length");
            if (*length < 1) {
                PyErr_Format(PyExc_ValueError, "packet_length must be at least 1, not %lld",
                             static_cast<long long>(*length));
                return nullptr;
            }
            if (packets.size % static_cast<std::uint64_t>(*length) != 0) {
                PyErr_Format(PyExc_ValueError, "data holds %zu bytes, not a whole number of packets of %lld bytes",
                             packets.size, static_cast<long long>(*length));
                return nullptr;
            }
            packets.length = static_cast<std::size_t>(*length);
        } else {
            if (!read_starts(starts_object, packets.size, starts)) return nullptr;
            packets.starts = starts;
        }

        const RecursionGuard guard(" in unpack_columns");
        if (!guard.entered()) return nullptr;
        try {
            RecipeItems recipe(items->get());
            return decode(recipe, packets, offset_bits);
        } catch (const std::bad_alloc&) {
            return raise_wrapped(memory_error(""), [] { return std::vector<std::string>{}; });
        }
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (...) {
        PyErr_SetString(PyExc_SystemError, "telbit_columns: unexpected internal failure");
        return nullptr;
    }
}

PyMethodDef methods[] = {
    {"unpack_columns", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(unpack_columns)),
     METH_VARARGS | METH_KEYWORDS,
     "unpack_columns(data, recipe, packet_length=None, offset_bits=0, *, starts=None)\n--\n\n"
     "Decode every packet of `data` with the recipe, into one column per name."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "telbit_columns", "Whole archives of packets into columns, through telbit's recipes.",
    0, methods, nullptr, nullptr, nullptr, nullptr,
};

ModuleOnce module_once("telbit_columns does not support sub-interpreters");

PyObject* initialise() {
    return module_once.get([]() -> PyObject* {
        if (!init_recipe_layer()) return nullptr;  // this module's own copy of the recipe layer
        Ref module = Ref::steal(PyModule_Create2(&module_definition, PYTHON_API_VERSION));
        if (!module || !init_column_type(module.get())) return nullptr;
        return module.release();
    });
}

}  // namespace
}  // namespace telbit::columns

PyMODINIT_FUNC PyInit_telbit_columns() {
    try {
        return telbit::columns::initialise();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (...) {
        PyErr_SetString(PyExc_ImportError, "telbit_columns: initialisation failed");
        return nullptr;
    }
}
