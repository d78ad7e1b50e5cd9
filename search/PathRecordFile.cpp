#include "search/PathRecordFile.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "core/Diagnostics.h"

namespace vornik {

void WritePathRecordFile(const std::string& instance_name,
                         const std::vector<std::uint64_t>& start_vertices,
                         const std::vector<std::uint64_t>& end_vertices, double max_path_length,
                         std::int32_t num_agents, const Result& result) {
    // nlohmann::json objects keep their keys sorted byte-wise, which is the file's order
    // (so the route of agent 10 comes before that of agent 2).
    nlohmann::json record;
    record["goals"] = end_vertices;
    record["max_path_length"] = max_path_length;
    record["num_agents"] = num_agents;
    nlohmann::json paths = nlohmann::json::object();
    const auto route_count = static_cast<std::int64_t>(result.paths.size());
    for (std::int64_t j = 0; j < route_count; ++j) {
        // Each route without its final vertex (the depot it closes on). A key the search
        // did not fill, or an empty route, is written as an empty list.
        std::vector<std::int64_t> route;
        const auto found = result.paths.find(j);
        if (found != result.paths.end() && !found->second.empty()) {
            route.assign(found->second.begin(), found->second.end() - 1);
        }
        paths[std::to_string(j)] = route;
    }
    record["paths"] = paths;
    record["starts"] = start_vertices;
    std::vector<double> totals;
    const auto cost_count = static_cast<std::int64_t>(result.times.size());
    for (std::int64_t j = 0; j < cost_count; ++j) {
        const auto found = result.times.find(j);
        totals.push_back(found == result.times.end() ? 0.0 : found->second);
    }
    record["total_costs"] = totals;

    std::filesystem::create_directories("paths/paths_astar");
    const std::string file_name = "paths/paths_astar/" + instance_name + "_astar.json";
    std::ofstream out(file_name, std::ios::trunc);
    if (!out.is_open()) {
        WarnLine("Error: cannot open " + file_name + " for writing.");
        return;
    }
    out << record.dump(2, ' ', false) << '\n';
    out.close();
    InfoLine("Saved to " + file_name);
}

}  // namespace vornik
