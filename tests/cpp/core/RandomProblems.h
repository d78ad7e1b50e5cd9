#ifndef VORNIK_TESTS_CPP_CORE_RANDOMPROBLEMS_H
#define VORNIK_TESTS_CPP_CORE_RANDOMPROBLEMS_H

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "core/Problem.h"

namespace vornik {

inline const char* const kTypeNames[] = {"car", "bike", "drone"};

// Random instances of every shape the readers must survive: repeated node ids, agents of
// one to three types (an agent id given twice), matrices that are missing, short-rowed or
// hold huge and infinite costs, assignments naming unknown types or nobody, nodes without
// one, and windows of unknown node ids.
inline Problem RandomProblem(std::mt19937_64& rng) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Problem problem;
    const std::size_t n = 1 + rng() % 9;
    for (std::size_t v = 0; v < n; ++v) {
        Node node;
        node.id = rng() % (n + 2);
        node.position = Position{100.0 * unit(rng), -50.0 * unit(rng), unit(rng)};
        problem.AddNode(node);
    }
    const std::size_t types = 1 + rng() % 3;
    const std::size_t agents = 1 + rng() % 4;
    for (std::size_t a = 0; a < agents; ++a) {
        Agent agent;
        agent.id = rng() % (agents + 1);
        agent.type = kTypeNames[rng() % types];
        agent.start_node = problem.nodes[rng() % n].id;
        agent.end_node = problem.nodes[rng() % n].id;
        agent.time_limit = rng() % 2 == 0 ? 0.0 : 100.0 * unit(rng);
        agent.capacity_limit = static_cast<double>(rng() % 5);
        problem.AddAgent(agent, agent.id);
    }
    for (const auto& type : problem.type_index_of) {
        if (rng() % 4 == 0) continue;  // no matrix for this type
        CostMatrix matrix(rng() % 3 == 0 ? rng() % (n + 1) : n);
        for (auto& row : matrix) {
            row.resize(rng() % 3 == 0 ? rng() % (n + 1) : n);
            for (double& cost : row) {
                const std::uint64_t pick = rng() % 10;
                cost = pick == 0   ? std::numeric_limits<double>::infinity()
                       : pick == 1 ? 9999.0
                       : pick == 2 ? 1e300
                                   : std::floor(100.0 * unit(rng));
            }
        }
        problem.SetCostMatrix(type.first, matrix);
    }
    for (std::size_t k = 0; k < n + 2; ++k) {
        const std::uint64_t id = rng() % (n + 3);
        if (rng() % 3 == 0) {
            std::vector<std::string> names;
            for (std::size_t i = rng() % 3; i > 0; --i) {
                names.push_back(rng() % 4 == 0 ? "boat" : kTypeNames[rng() % 3]);
            }
            problem.assignment_constraint.SetAssignment(id, names);
        }
        if (rng() % 3 == 0) {
            const double start = 50.0 * unit(rng);
            problem.timewindow_constraint.SetTimewindow(id, start, start + 50.0 * unit(rng));
        }
    }
    return problem;
}

// The improvement path's fields at random: demands and capacities of differing lengths,
// service, optional nodes with penalties, and second windows (some of unknown ids).
inline void AddFleetFields(Problem& problem, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (Node& node : problem.nodes) {
        node.demands.resize(rng() % 3);
        for (double& amount : node.demands) amount = std::floor(10.0 * unit(rng));
        node.service = rng() % 2 == 0 ? 0.0 : 5.0 * unit(rng);
        node.required = rng() % 3 != 0;
        node.penalty = 100.0 * unit(rng);
    }
    for (Agent& agent : problem.agents_ordered) {
        agent.capacities.resize(rng() % 3);
        for (double& amount : agent.capacities) amount = std::floor(30.0 * unit(rng));
    }
    for (std::size_t k = rng() % 4; k > 0; --k) {
        const std::uint64_t id = rng() % (problem.nodes.size() + 2);
        const double start = 100.0 * unit(rng);
        problem.timewindow_constraint.AddTimewindow(id, start, start + 10.0 * unit(rng));
    }
}

// The vertex of node `id` read literally: the last node that has it.
inline std::int64_t LastVertexOf(const Problem& problem, std::uint64_t id) {
    std::int64_t vertex = -1;
    for (std::size_t v = 0; v < problem.nodes.size(); ++v) {
        if (problem.nodes[v].id == id) vertex = static_cast<std::int64_t>(v);
    }
    return vertex;
}

}  // namespace vornik

#endif  // VORNIK_TESTS_CPP_CORE_RANDOMPROBLEMS_H
