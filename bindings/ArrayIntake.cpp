#include "bindings/ArrayIntake.h"

namespace vornik {

ProblemArrays ReadArrays(ArrayReader& reader, std::vector<std::string> type_names,
                         std::size_t dimensions, bool scalar_loads) {
    ProblemArrays a;
    a.nodes = reader.Length("ids");
    a.agents = reader.Length("agent_ids");
    const std::size_t n = a.nodes;
    const std::size_t m = a.agents;
    a.ids = reader.Read<std::uint64_t>("ids", n, 0, true);
    a.positions = reader.Read<double>("positions", n, 3, true);
    a.depots = reader.Read<std::uint8_t>("depots", n, 0, false);
    a.dimensions = dimensions;
    a.scalar_loads = scalar_loads;
    if (dimensions > 0) {
        a.demands = reader.Read<double>("demands", n, dimensions, false);
        a.capacities = reader.Read<double>("capacities", m, dimensions, false);
    }
    a.service = reader.Read<double>("service", n, 0, false);
    a.required = reader.Read<std::uint8_t>("required", n, 0, false);
    a.penalty = reader.Read<double>("penalty", n, 0, false);
    a.window_rows = reader.Length("windows");
    a.windows = reader.Read<double>("windows", a.window_rows, 2, false);
    if (a.windows != nullptr) {
        a.window_offsets = reader.Read<std::int64_t>("window_offsets", n + 1, 0, true);
    }
    a.allowed_count = reader.Length("allowed");
    a.allowed = reader.Read<std::int32_t>("allowed", a.allowed_count, 0, false);
    if (a.allowed != nullptr) {
        a.allowed_offsets = reader.Read<std::int64_t>("allowed_offsets", n + 1, 0, true);
    }
    a.agent_ids = reader.Read<std::uint64_t>("agent_ids", m, 0, true);
    a.agent_types = reader.Read<std::int32_t>("agent_types", m, 0, true);
    a.start_nodes = reader.Read<std::uint64_t>("start_nodes", m, 0, true);
    a.end_nodes = reader.Read<std::uint64_t>("end_nodes", m, 0, true);
    a.max_length = reader.Read<double>("max_length", m, 0, false);
    a.type_names = std::move(type_names);
    return a;
}

}  // namespace vornik
