// A lock for one-time steps that never deadlocks against the interpreter lock.
#pragma once

#include <Python.h>

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
