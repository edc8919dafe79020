// The once-only steps: a lock that never deadlocks against the interpreter lock, and a module
// made once per process.
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>
#include <mutex>

namespace telbit {

struct OnceGate {
    // Recursive: the step may run Python code (an import runs import hooks) that calls
    // telbit again on the same thread and reaches the same gate. A plain mutex would wait
    // for itself there for ever; the nested call instead finds the step not done yet and
    // runs it itself.
    std::recursive_mutex mutex;
};

// Holds the gate for a scope. While it waits for the gate the thread lets go of the
// interpreter lock, so that a thread running the one-time step (which may itself give up
// the interpreter lock, for example while importing) can always finish it.
class GateLock {
public:
    explicit GateLock(OnceGate& gate) : gate_(gate) {
        if (!gate_.mutex.try_lock()) {
            Py_BEGIN_ALLOW_THREADS
            gate_.mutex.lock();
            Py_END_ALLOW_THREADS
        }
    }
    ~GateLock() { gate_.mutex.unlock(); }
    GateLock(const GateLock&) = delete;
    GateLock& operator=(const GateLock&) = delete;

private:
    OnceGate& gate_;
};

}  // namespace telbit

namespace telbit {

// A single-phase module's one object per process: made once, by the first interpreter that
// imports the module, and handed to any later import in that interpreter. The objects it is
// made with (interned names, the layers' once-made state) belong to that interpreter, so an
// import from another one is refused.
class ModuleOnce {
public:
    explicit ModuleOnce(const char* refusal) noexcept : refusal_(refusal) {}

    // `make` returns the new module (a new reference) or null with an exception set.
    template <class Make>
    PyObject* get(Make make) {
        const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
        if (id < 0) return nullptr;
        std::int64_t expected = -1;
        if (!owner_interpreter_.compare_exchange_strong(expected, id) && expected != id) {
            PyErr_SetString(PyExc_ImportError, refusal_);
            return nullptr;
        }
        GateLock lock(gate_);
        if (module_ != nullptr) return Py_NewRef(module_);
        PyObject* made = make();
        if (made != nullptr) module_ = Py_NewRef(made);  // kept for the life of the process
        return made;
    }

private:
    const char* refusal_;
    std::atomic<std::int64_t> owner_interpreter_{-1};
    PyObject* module_ = nullptr;
    OnceGate gate_;
};

}  // namespace telbit
