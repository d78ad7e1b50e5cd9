#ifndef VORNIK_BINDINGS_STOPONSIGNAL_H
#define VORNIK_BINDINGS_STOPONSIGNAL_H

#include <pybind11/pybind11.h>

#include <functional>

namespace vornik {

/// A stop callback for the search that runs the interpreter's pending signal handlers
/// (the call holds the interpreter lock throughout). When a handler raises, for
/// example KeyboardInterrupt on Ctrl-C, the exception stays set and the search stops;
/// RaiseIfInterrupted then throws it into Python.
inline std::function<bool()> StopOnPythonSignal() {
    return [] { return PyErr_CheckSignals() != 0; };
}

/// Re-raises the exception a signal handler set during an interrupted search.
inline void RaiseIfInterrupted(bool interrupted) {
    if (interrupted && PyErr_Occurred() != nullptr) throw pybind11::error_already_set();
}

}  // namespace vornik

#endif  // VORNIK_BINDINGS_STOPONSIGNAL_H
