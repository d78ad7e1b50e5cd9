#ifndef VORNIK_SEARCH_PATHRECORDFILE_H
#define VORNIK_SEARCH_PATHRECORDFILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "core/Problem.h"

namespace vornik {

/// Writes the routes of the last solution to "paths/paths_astar/<name>_astar.json" under
/// the working directory (creating the folders), then prints "Saved to <file>" on the
/// standard output stream. A file that cannot be opened is reported on the standard
/// error stream; a folder that cannot be created raises std::filesystem::filesystem_error.
void WritePathRecordFile(const std::string& instance_name,
                         const std::vector<std::uint64_t>& start_vertices,
                         const std::vector<std::uint64_t>& end_vertices, double max_path_length,
                         std::int32_t num_agents, const Result& result);

}  // namespace vornik

#endif  // VORNIK_SEARCH_PATHRECORDFILE_H
