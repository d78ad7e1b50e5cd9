#include "graph/SimpleTimer.h"

#include <iostream>

namespace vornik {

namespace {

// Ticks per second of clock: 1000000 on the supported platform, where every stored time
// stamp and budget is expressed in these processor seconds.
constexpr double kTicksPerSecond = static_cast<double>(CLOCKS_PER_SEC);
static_assert(CLOCKS_PER_SEC == 1000000, "processor seconds assume a 1 MHz clock tick");

}  // namespace

int SimpleTimer::Start() {
    start_ = std::clock();
    return 0;
}

double SimpleTimer::GetDuration() const {
    // The difference is taken in integer ticks first, so no precision is lost to the
    // large absolute tick values of a long-running process.
    const std::clock_t ticks = std::clock() - start_;
    return static_cast<double>(ticks) / kTicksPerSecond;
}

std::ostream& SimpleTimer::PrintDuration() const {
    std::cout << " System Clock Duration: " << GetDuration() << '\n';
    std::cout.flush();
    return std::cout;
}

}  // namespace vornik
