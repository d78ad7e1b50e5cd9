#ifndef VORNIK_CORE_DIAGNOSTICS_H
#define VORNIK_CORE_DIAGNOSTICS_H

#include <iostream>
#include <string>

namespace vornik {

/// Writes one whole warning or diagnostic line to the standard error stream and
/// flushes, so that lines never interleave with Python's own output half-written.
inline void WarnLine(const std::string& line) {
    std::cerr << line << '\n';
    std::cerr.flush();
}

/// Writes one whole progress or debug line to the standard output stream and flushes.
inline void InfoLine(const std::string& line) {
    std::cout << line << '\n';
    std::cout.flush();
}

}  // namespace vornik

#endif  // VORNIK_CORE_DIAGNOSTICS_H
