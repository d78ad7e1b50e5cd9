// One solve on the improvement path of a seeded random Euclidean instance whose matrix
// comes as rows (as a list of lists does from Python), for a fixed number of engine
// steps: the peak resident memory of the process, the steps per processor second and the
// result, so that two builds compare on the same work.
//
//   engine_bench [--nodes N] [--agents M] [--iterations K] [--seed S] [--text]
//                [--budget T] [--min-max] [--rules]
//
//   --nodes N       vertices, the depot included (default 1000)
//   --agents M      agents, all of one type on one depot (default 10)
//   --iterations K  engine steps (default 20000)
//   --seed S        the engine's seed (default 1)
//   --text          write the matrix into the instance text instead of handing it over
//   --budget T      stop at T processor seconds instead of after K steps
//   --min-max       balance the longest route instead of the summed cost
//   --rules         also windows on a third of the targets, service, demands and
//                   capacities (the engine's other pricing paths, for before/after checks)
//
// Prints one line: nodes, agents, steps, processor seconds, steps per second, peak RSS
// in MB, the largest and summed route costs, the processor seconds from the call to its
// first solution, and a digest of the routes and of both costs bit for bit, so that two
// builds that must find the same result are held to it.

#include <sys/resource.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "search/JsonSolve.h"

namespace {

double ProcessorSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

double PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t n = 1000;
    std::size_t agents = 10;
    std::int64_t iterations = 20000;
    std::uint64_t seed = 1;
    bool text = false;
    double budget = 0.0;
    bool min_max = false;
    bool rules = false;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        if (std::strcmp(argv[i], "--nodes") == 0 && has_value) {
            n = std::strtoull(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--agents") == 0 && has_value) {
            agents = std::strtoull(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--iterations") == 0 && has_value) {
            iterations = std::strtoll(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--seed") == 0 && has_value) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (std::strcmp(argv[i], "--text") == 0) {
            text = true;
        } else if (std::strcmp(argv[i], "--budget") == 0 && has_value) {
            budget = std::strtod(argv[++i], nullptr);
        } else if (std::strcmp(argv[i], "--min-max") == 0) {
            min_max = true;
        } else if (std::strcmp(argv[i], "--rules") == 0) {
            rules = true;
        } else {
            std::fprintf(stderr, "unknown argument %s\n", argv[i]);
            return 2;
        }
    }

    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> unit(0.0, 1000.0);
    std::vector<double> xs(n);
    std::vector<double> ys(n);
    for (std::size_t v = 0; v < n; ++v) {
        xs[v] = unit(rng);
        ys[v] = unit(rng);
    }
    vornik::CostMatrix matrix(n, std::vector<double>(n));
    for (std::size_t u = 0; u < n; ++u) {
        for (std::size_t v = 0; v < n; ++v)
            matrix[u][v] = std::round(std::hypot(xs[u] - xs[v], ys[u] - ys[v]));
    }
    std::string json = "{\"nodes\":[";
    std::string windows;
    std::size_t total_demand = 0;
    for (std::size_t v = 0; v < n; ++v) {
        json += (v > 0 ? "," : "") + std::string("{\"id\":") + std::to_string(v) +
                ",\"x\":" + std::to_string(xs[v]) + ",\"y\":" + std::to_string(ys[v]) +
                ",\"z\":0,\"type\":\"" + (v == 0 ? "DEPOT" : "TARGET") + "\"";
        if (rules && v > 0) {
            const std::size_t demand = 1 + rng() % 9;
            total_demand += demand;
            json += ",\"demand\":" + std::to_string(demand) + ",\"service\":5";
            if (v % 3 == 0) {
                const std::uint64_t start = rng() % 20000;
                windows += std::string(windows.empty() ? "" : ",") +
                           "{\"node\":" + std::to_string(v) +
                           ",\"start\":" + std::to_string(start) +
                           ",\"end\":" + std::to_string(start + 15000) + "}";
            }
        }
        json += "}";
    }
    json += "],\"agents\":[";
    for (std::size_t a = 0; a < agents; ++a) {
        json += (a > 0 ? "," : "") + std::string("{\"id\":") + std::to_string(a) +
                ",\"type\":\"car\",\"start_node\":0,\"end_node\":0";
        if (rules) json += ",\"capacity\":" + std::to_string(total_demand * 13 / 10 / agents + 1);
        json += "}";
    }
    json += "],";
    if (rules) {
        json += "\"constraints\":[{\"kind\":\"timewindow\",\"items\":[" + windows + "]}],";
    }
    json += "\"costs\":{";
    vornik::CostMatrices handed;
    if (text) {
        json += "\"car\":[";
        for (std::size_t u = 0; u < n; ++u) {
            json += u > 0 ? ",[" : "[";
            for (std::size_t v = 0; v < n; ++v) {
                json += (v > 0 ? "," : "") + std::to_string(static_cast<long>(matrix[u][v]));
            }
            json += "]";
        }
        json += "]";
        vornik::CostMatrix().swap(matrix);
    } else {
        handed.emplace_back("car", std::move(matrix));
    }
    json += std::string("},\"options\":{\"return_to_end\":true,\"objective\":\"") +
            (min_max ? "min_max" : "min_sum") + "\",\"time_limit\":1e6}}";

    vornik::SolveSettings settings;
    settings.improve = true;
    settings.improve_settings.seed = seed;
    settings.improve_settings.iteration_limit = budget > 0 ? -1 : iterations;
    double first = -1.0;
    const double before = ProcessorSeconds();
    vornik::SolveHooks hooks;
    hooks.on_solution = [&](double, double, double) {
        if (first < 0) first = ProcessorSeconds() - before;
    };
    const vornik::JsonSolveOutcome outcome =
        vornik::SolveJsonText(json, budget, hooks, settings, std::move(handed));
    const double seconds = ProcessorSeconds() - before;
    // FNV-1a over every route's vertices, then the exact costs in hexadecimal.
    std::uint64_t digest = 14695981039346656037ULL;
    const auto mix = [&](std::uint64_t value) {
        for (int byte = 0; byte < 8; ++byte) {
            digest = (digest ^ ((value >> (8 * byte)) & 0xffU)) * 1099511628211ULL;
        }
    };
    for (const vornik::RouteOutcome& route : outcome.routes) {
        mix(route.agent_id);
        for (const std::int64_t v : route.path) mix(static_cast<std::uint64_t>(v));
        mix(~0ULL);
    }
    std::printf(
        "nodes %zu agents %zu steps %lld cpu_s %.2f steps_per_s %.0f peak_rss_mb %.1f max %.1f "
        "sum %.1f first_s %.3f digest %016llx %a %a\n",
        n, agents, static_cast<long long>(outcome.improve_iterations), seconds,
        static_cast<double>(outcome.improve_iterations) / seconds, PeakMegabytes(),
        outcome.max_cost, outcome.sum_cost, first, static_cast<unsigned long long>(digest),
        outcome.max_cost, outcome.sum_cost);
    return outcome.success ? 0 : 1;
}
