// The tour search alone on one route: random points in a square, every target in one
// agent's route in a random order, then the search with a number of kicks per visit.
// Prints the route's length before and after and the processor time per kick, so that
// two builds compare on the same route and the same random kicks.
//
//   tour_bench [--visits N] [--kicks K] [--seeds S] [--tsp FILE] [--deep]
//
//   --visits N  targets in the route (default 400)
//   --kicks K   kicks per visit (default 100)
//   --seeds S   searches, each with its own generator, from the same route (default 3)
//   --tsp FILE  the points of a TSPLIB file (the first one the depot) in place of random
//               ones, so that the length compares with the file's known optimum
//   --deep      the deep search (3-opt too; K kicks in a row without a shorter tour)

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "core/InstanceReader.h"
#include "improve/EngineModel.h"
#include "improve/EngineSolution.h"
#include "improve/TourSearch.h"

int main(int argc, char** argv) {
    std::size_t visits = 400;
    double kicks = 100.0;
    int seeds = 3;
    std::string tsp;
    vornik::TourDepth depth = vornik::TourDepth::kQuick;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (std::strcmp(argv[i], "--visits") == 0 && has_value) {
            visits = std::strtoull(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--kicks") == 0 && has_value) {
            kicks = std::strtod(argv[++i], nullptr);
        } else if (std::strcmp(argv[i], "--seeds") == 0 && has_value) {
            seeds = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--deep") == 0) {
            depth = vornik::TourDepth::kDeep;
        } else if (std::strcmp(argv[i], "--tsp") == 0 && has_value) {
            tsp = argv[++i];
        } else {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    std::vector<double> xs;
    std::vector<double> ys;
    std::mt19937_64 rng(42);
    if (!tsp.empty()) {
        std::ifstream in(tsp);
        std::string line;
        bool coords = false;
        while (std::getline(in, line)) {
            if (line.rfind("NODE_COORD_SECTION", 0) == 0) {
                coords = true;
            } else if (coords) {
                std::istringstream fields(line);
                double id = 0.0;
                double x = 0.0;
                double y = 0.0;
                if (!(fields >> id >> x >> y)) break;
                xs.push_back(x);
                ys.push_back(y);
            }
        }
        if (xs.size() < 2) {
            std::fprintf(stderr, "no coordinates in %s\n", tsp.c_str());
            return 2;
        }
        visits = xs.size() - 1;
    } else {
        std::uniform_real_distribution<double> unit(0.0, 1000.0);
        for (std::size_t v = 0; v <= visits; ++v) {
            xs.push_back(unit(rng));
            ys.push_back(unit(rng));
        }
    }
    const std::size_t n = visits + 1;
    std::string json = "{\"nodes\":[";
    for (std::size_t v = 0; v < n; ++v) {
        json += (v > 0 ? "," : "") + std::string("{\"id\":") + std::to_string(v) +
                ",\"x\":" + std::to_string(xs[v]) + ",\"y\":" + std::to_string(ys[v]) +
                ",\"z\":0,\"type\":\"" + (v == 0 ? "DEPOT" : "TARGET") + "\"}";
    }
    json +=
        "],\"agents\":[{\"id\":0,\"type\":\"car\",\"start_node\":0,\"end_node\":0}],\"costs\":{},"
        "\"options\":{\"return_to_end\":true,\"objective\":\"min_sum\"}}";
    vornik::Problem problem = vornik::ParseInstance(json);
    vornik::CostMatrix matrix(n, std::vector<double>(n));
    for (std::size_t u = 0; u < n; ++u) {
        for (std::size_t v = 0; v < n; ++v) matrix[u][v] = std::hypot(xs[u] - xs[v], ys[u] - ys[v]);
    }
    problem.SetCostMatrix("car", matrix);
    const vornik::EngineModel model(problem);
    std::vector<std::uint32_t> order = model.Targets();
    std::shuffle(order.begin(), order.end(), rng);
    const std::size_t count = static_cast<std::size_t>(kicks * static_cast<double>(visits));
    for (int seed = 0; seed < seeds; ++seed) {
        vornik::EngineSolution solution(&model);
        solution.MutableUnassigned().clear();
        solution.SetVisits(0, order);
        const double before = solution.Route(0).cost;
        vornik::TourSearch search(&model, vornik::EngineParams{}, depth);
        std::mt19937_64 kick_rng(static_cast<std::uint64_t>(seed));
        const std::clock_t start = std::clock();
        search.Improve(solution, 0, count, kick_rng);
        const double seconds = static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
        std::printf(
            "visits %zu kicks %zu seed %d length %.2f -> %.2f cpu_s %.3f us_per_kick %.2f\n",
            visits, count, seed, before, solution.Route(0).cost, seconds,
            count > 0 ? 1e6 * seconds / static_cast<double>(count) : 0.0);
    }
    return 0;
}
