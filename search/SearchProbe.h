#ifndef VORNIK_SEARCH_SEARCHPROBE_H
#define VORNIK_SEARCH_SEARCHPROBE_H

#include <cstdint>

namespace vornik {

/// A point where a caller steps into a running focal search. The Solver owns it and
/// calls it on the searching thread before it hands out each new node id; tests use it
/// to make a search fail exactly where the system would run out of memory.
class SearchProbe {
public:
    virtual ~SearchProbe() = default;
    /// Called with the id the next node gets. May throw (std::bad_alloc, say): the search
    /// then fails as if storing the node had.
    virtual void BeforeNewNode(std::int64_t id) = 0;
};

}  // namespace vornik

#endif  // VORNIK_SEARCH_SEARCHPROBE_H
