#ifndef VORNIK_BINDINGS_SOLVECALLBACKS_H
#define VORNIK_BINDINGS_SOLVECALLBACKS_H

#include <pybind11/pybind11.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "search/ImprovingSolve.h"

namespace vornik {

/// The Python side of one solve: the caller's on_solution and should_stop callables,
/// the first exception either raised, and whether a signal handler raised. A Python
/// exception must not unwind the C++ search, so the search is asked to stop instead and
/// Finish() raises it afterwards.
///
/// The hooks it hands out capture only a shared pointer, never a Python object, so the
/// C++ side may copy them with the interpreter lock released. With `release_gil` the
/// hooks take the lock around every call into Python.
class SolveCallbacks {
public:
    SolveCallbacks(std::optional<pybind11::function> on_solution,
                   std::optional<pybind11::function> should_stop, bool release_gil);

    std::function<bool()> StopHook() const;
    std::function<void(double, double, double)> SolutionHook() const;
    /// Raises the callback's exception, or the signal handler's (KeyboardInterrupt).
    void Finish() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

/// Reads the `clock` keyword: "process" (false) or "wall" (true); ValueError otherwise.
bool ParseWallClock(const std::string& clock);

}  // namespace vornik

#endif  // VORNIK_BINDINGS_SOLVECALLBACKS_H
