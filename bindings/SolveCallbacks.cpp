#include "bindings/SolveCallbacks.h"

#include <stdexcept>
#include <utility>

namespace py = pybind11;

namespace vornik {

struct SolveCallbacks::State {
    std::optional<py::function> on_solution;
    std::optional<py::function> should_stop;
    std::optional<py::error_already_set> error;
    bool signalled = false;
    bool release_gil = false;
};

SolveCallbacks::SolveCallbacks(std::optional<py::function> on_solution,
                               std::optional<py::function> should_stop, bool release_gil)
    : state_(std::make_shared<State>()) {
    state_->on_solution = std::move(on_solution);
    state_->should_stop = std::move(should_stop);
    state_->release_gil = release_gil;
}

std::function<bool()> SolveCallbacks::StopHook() const {
    return [state = state_] {
        std::optional<py::gil_scoped_acquire> gil;
        if (state->release_gil) gil.emplace();
        if (state->error || state->signalled) return true;
        // Signal handlers run here; one that raises (Ctrl-C) stops the solve.
        if (PyErr_CheckSignals() != 0) {
            state->signalled = true;
            return true;
        }
        if (!state->should_stop) return false;
        try {
            return py::cast<bool>((*state->should_stop)());
        } catch (py::error_already_set& error) {
            state->error = std::move(error);
        } catch (const py::cast_error&) {
            PyErr_SetString(PyExc_TypeError, "should_stop must return a bool");
            state->error = py::error_already_set();
        }
        return true;
    };
}

std::function<void(double, double, double)> SolveCallbacks::SolutionHook() const {
    if (!state_->on_solution) return {};
    return [state = state_](double time, double max_cost, double sum_cost) {
        std::optional<py::gil_scoped_acquire> gil;
        if (state->release_gil) gil.emplace();
        if (state->error || state->signalled) return;
        try {
            (*state->on_solution)(time, max_cost, sum_cost);
        } catch (py::error_already_set& error) {
            state->error = std::move(error);
        }
    };
}

void SolveCallbacks::Finish() const {
    if (state_->error) throw *state_->error;
    if (state_->signalled && PyErr_Occurred() != nullptr) throw py::error_already_set();
}

bool ParseWallClock(const std::string& clock) {
    if (clock == "process") return false;
    if (clock == "wall") return true;
    throw std::invalid_argument("clock must be \"process\" or \"wall\" (got \"" + clock + "\")");
}

}  // namespace vornik
