#ifndef VORNIK_PLUGINS_DEFAULTEXPANSION_H
#define VORNIK_PLUGINS_DEFAULTEXPANSION_H

#include <cstdint>
#include <string>
#include <vector>

#include "plugins/ExpansionPlugin.h"

namespace vornik {

/// Expands a node for the open agent with the smallest accumulated cost, so that the
/// agents' clocks advance together. Owned by the Solver.
class DefaultExpansion final : public ExpansionPlugin {
public:
    std::string GetName() const override { return "DefaultExpansion"; }
    /// Keeps the number of agents (the length of `end_vertices`).
    void Init(const std::vector<std::uint64_t>& end_vertices) override;
    /// The open agent with the strictly smallest cost, the lowest index among equals;
    /// -1 when no agent is open or none costs less than the largest finite double.
    std::int64_t SelectAgent(const SearchNode& node) const override;

private:
    std::uint64_t num_agents_ = 0;
};

}  // namespace vornik

#endif  // VORNIK_PLUGINS_DEFAULTEXPANSION_H
