#ifndef VORNIK_GRAPH_SIMPLETIMER_H
#define VORNIK_GRAPH_SIMPLETIMER_H

#include <ctime>
#include <ostream>

namespace vornik {

/// Stopwatch of the process's processor time (the C library's clock), so time spent
/// sleeping or waiting does not count. The Solver owns one; the search starts it and
/// reads it to enforce the time budget and to time-stamp solutions.
class SimpleTimer {
public:
    virtual ~SimpleTimer() = default;

    /// Sets the start tick to the current clock value; returns 0.
    virtual int Start();
    /// Processor seconds since the last Start. Meaningless before the first Start.
    virtual double GetDuration() const;
    /// Writes " System Clock Duration: " + GetDuration() in the default floating-point
    /// format + a line end to the standard output stream, flushes it and returns it.
    virtual std::ostream& PrintDuration() const;

private:
    std::clock_t start_ = 0;  ///< clock value at the last Start
};

}  // namespace vornik

#endif  // VORNIK_GRAPH_SIMPLETIMER_H
