#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/InstanceModel.h"
#include "graph/DenseGraph.h"
#include "improve/EngineModel.h"
#include "search/FocalTables.h"
#include "tests/cpp/core/RandomProblems.h"

namespace vornik {
namespace {

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(InstanceModelTest, ReadsEveryPartOfRandomProblemsAsGiven) {
    std::mt19937_64 rng(22);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Problem problem = RandomProblem(rng);
        if (round % 2 == 1) AddFleetFields(problem, rng);
        const std::size_t n = problem.nodes.size();
        const InstanceModel model(problem);

        ASSERT_EQ(model.NumVertices(), n);
        for (std::size_t v = 0; v < n; ++v) {
            EXPECT_EQ(model.NodeId(v), problem.nodes[v].id);
            EXPECT_EQ(model.NodePosition(v).y, problem.nodes[v].position.y);
        }
        for (std::uint64_t id = 0; id < n + 3; ++id) {
            EXPECT_EQ(model.VertexOf(id), LastVertexOf(problem, id));
        }

        ASSERT_EQ(model.NumTypes(), problem.type_index_of.size());
        for (const auto& [name, index] : problem.type_index_of) {
            EXPECT_EQ(model.TypeName(index), name);
        }

        ASSERT_EQ(model.NumAgents(), problem.agents_ordered.size());
        for (std::size_t a = 0; a < model.NumAgents(); ++a) {
            const Agent& agent = problem.agents_ordered[a];
            const ModelAgent& read = model.Agent(a);
            EXPECT_EQ(read.id, agent.id);
            // The type recorded last under the id wins, as for a repeated agent id.
            EXPECT_EQ(read.type, static_cast<std::int64_t>(problem.agent_type_of.at(agent.id)));
            EXPECT_EQ(read.start, LastVertexOf(problem, agent.start_node));
            EXPECT_EQ(read.end, LastVertexOf(problem, agent.end_node));
            EXPECT_EQ(read.time_limit, agent.time_limit);
            EXPECT_EQ(read.capacity_limit, agent.capacity_limit);
            const ListView<double> capacities = model.Capacities(a);
            EXPECT_EQ(std::vector<double>(capacities.begin(), capacities.end()), agent.capacities);
        }

        for (std::size_t v = 0; v < n; ++v) {
            std::set<std::int64_t> allowed;
            const auto& by_node = problem.assignment_constraint.types_by_node;
            const auto listed = by_node.find(problem.nodes[v].id);
            for (const auto& [name, index] : problem.type_index_of) {
                const bool named = listed == by_node.end() ||
                                   std::count(listed->second.begin(), listed->second.end(), name);
                if (named) allowed.insert(static_cast<std::int64_t>(index));
            }
            EXPECT_EQ(model.AllowedTypes(v),
                      std::vector<std::int64_t>(allowed.begin(), allowed.end()));

            const auto& windows = problem.timewindow_constraint.window_by_node;
            const auto window = windows.find(problem.nodes[v].id);
            const bool has =
                window != windows.end() &&
                LastVertexOf(problem, problem.nodes[v].id) == static_cast<std::int64_t>(v);
            ASSERT_EQ(model.Window(v).present, has);
            if (has) {
                EXPECT_EQ(model.Window(v).start, window->second.first);
                EXPECT_EQ(model.Window(v).end, window->second.second);
            }
            // Several windows only where a node has more than one, as given.
            const auto& lists = problem.timewindow_constraint.windows_by_node;
            const auto list = lists.find(problem.nodes[v].id);
            using Windows = std::vector<std::pair<double, double>>;
            const ListView<std::pair<double, double>> read = model.WindowList(v);
            const Windows expected =
                has && list != lists.end() && list->second.size() >= 2 ? list->second : Windows{};
            EXPECT_EQ(Windows(read.begin(), read.end()), expected);

            const Node& node = problem.nodes[v];
            const ListView<double> demands = model.Demands(v);
            EXPECT_EQ(std::vector<double>(demands.begin(), demands.end()), node.demands);
            EXPECT_EQ(model.Service(v), node.service);
            EXPECT_EQ(model.Required(v), node.required);
            EXPECT_EQ(model.Penalty(v), node.penalty);
        }

        // Costs: the given ones bit for bit, the rest no arc; the focal search's graph
        // takes the rest as its own large cost and has no loops.
        const FocalTables tables = BuildFocalTables(model);
        for (const auto& [name, t] : problem.type_index_of) {
            const auto matrix = problem.cost_matrices.find(name);
            for (std::size_t u = 0; u < n; ++u) {
                for (std::size_t v = 0; v < n; ++v) {
                    const bool given = matrix != problem.cost_matrices.end() &&
                                       u < matrix->second.size() && v < matrix->second[u].size();
                    const double cost = given ? matrix->second[u][v] : InstanceModel::kNoArc;
                    EXPECT_EQ(model.Given(t, u, v), given);
                    EXPECT_TRUE(SameBits(model.Cost(t, u, v), cost));
                    const double* arc = tables.graph->FindArcCost(u, v);
                    if (u == v) {
                        EXPECT_EQ(arc, nullptr);
                    } else {
                        ASSERT_NE(arc, nullptr);
                        EXPECT_TRUE(SameBits(arc[t], given ? cost : kFocalNoArcCost));
                    }
                }
            }
        }
    }
}

// Costs from arrays (read in place) and computed distances replace a type's matrix; the
// improvement engine built on the model prices every leg as the model does.
TEST(InstanceModelTest, ReadsCostTablesInPlaceAndTheEngineReadsTheModel) {
    std::mt19937_64 rng(7);
    int engine_rounds = 0;
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Problem problem = RandomProblem(rng);
        const std::size_t n = problem.nodes.size();
        CostTables tables;
        std::vector<std::vector<double>> arrays;
        arrays.reserve(problem.type_index_of.size());
        std::vector<int> kind(problem.type_index_of.size(), 0);  // 0 as given, 1 array, 2 computed
        for (const auto& [name, t] : problem.type_index_of) {
            kind[t] = static_cast<int>(rng() % 3);
            if (kind[t] == 1) {
                std::vector<double>& array = arrays.emplace_back(n * n);
                for (double& cost : array) cost = static_cast<double>(rng() % 50);
                tables.arrays.push_back(CostTables::Array{name, array.data(), n, n});
            } else if (kind[t] == 2) {
                tables.computed.emplace_back(name, static_cast<DistanceRule>(rng() % 3));
            }
        }
        // The engine refuses matrices with costs a clock cannot run on; those are the
        // focal search's alone.
        bool engine_reads = true;
        for (const auto& [name, matrix] : problem.cost_matrices) {
            if (kind[problem.type_index_of.at(name)] != 0) continue;
            for (const auto& row : matrix) {
                for (const double cost : row) engine_reads = engine_reads && cost < 1e300;
            }
        }
        const auto model = std::make_shared<const InstanceModel>(problem, tables);
        // The cost the tables give, found literally.
        const auto table_cost = [&](const std::string& name, std::size_t u, std::size_t v) {
            for (const CostTables::Array& array : tables.arrays) {
                if (array.type == name) return array.data[u * n + v];
            }
            for (const auto& [type, rule] : tables.computed) {
                if (type == name) {
                    return u == v ? 0.0
                                  : PositionDistance(rule, problem.nodes[u].position,
                                                     problem.nodes[v].position);
                }
            }
            return std::nan("");
        };
        std::size_t matrices = 0;
        for (const auto& [name, t] : problem.type_index_of) {
            if (kind[t] == 0) {  // read as the previous test reads them
                matrices += problem.cost_matrices.count(name);
                continue;
            }
            for (std::size_t u = 0; u < n; ++u) {
                for (std::size_t v = 0; v < n; ++v) {
                    EXPECT_TRUE(model->Given(t, u, v));
                    EXPECT_TRUE(SameBits(model->Cost(t, u, v), table_cost(name, u, v)));
                }
            }
        }
        EXPECT_EQ(model->NumMatrixTables(), matrices);
        if (!engine_reads) continue;
        ++engine_rounds;
        const EngineModel engine(model, problem.options);
        for (std::size_t a = 0; a < engine.NumAgents(); ++a) {
            const std::int64_t type = model->Agent(a).type;
            for (std::uint32_t u = 0; u < n; ++u) {
                for (std::uint32_t v = 0; v < n; ++v) {
                    if (u == v) continue;
                    const double cost = model->Cost(static_cast<std::size_t>(type), u, v);
                    EXPECT_TRUE(SameBits(engine.Cost(a, u, v), cost));
                }
            }
        }
    }
    EXPECT_GT(engine_rounds, 40);
}

TEST(InstanceModelTest, RefusesWhatTheSolverRefusesAndWarnsInItsOrder) {
    Problem problem;
    for (std::uint64_t id : {10, 11, 12}) {
        Node node;
        node.id = id;
        problem.AddNode(node);
    }
    Agent agent;
    agent.type = "car";
    agent.start_node = 10;
    agent.end_node = 12;
    problem.AddAgent(agent, 0);
    problem.assignment_constraint.SetAssignment(11, {"car"});
    problem.timewindow_constraint.SetTimewindow(99, 0.0, 5.0);

    testing::internal::CaptureStderr();
    const InstanceModel model(problem, true);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "[warning] node 10 has no assignment constraint; allowing all types\n"
              "[warning] node 12 has no assignment constraint; allowing all types\n"
              "[warning] time window node id 99 not found in nodes\n");
    EXPECT_FALSE(model.HasWindows());

    struct Case {
        const char* name;
        void (*spoil)(Problem&);
        bool out_of_range;
    };
    const Case cases[] = {
        {"unknown end node", [](Problem& p) { p.agents_ordered[0].end_node = 7; }, true},
        {"matrix of a type no agent has", [](Problem& p) { p.SetCostMatrix("boat", {}); }, true},
        {"NaN cost",
         [](Problem& p) {
             p.SetCostMatrix("car", {{0.0, std::nan("")}});
         },
         false},
        {"more rows than nodes", [](Problem& p) { p.SetCostMatrix("car", CostMatrix(4)); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Problem spoilt = problem;
        c.spoil(spoilt);
        if (c.out_of_range) {
            try {
                const InstanceModel refused(spoilt);
                ADD_FAILURE() << "not refused";
            } catch (const std::out_of_range& error) {
                EXPECT_EQ(std::string(error.what()).rfind("_Map_base::at: ", 0), 0u);
            }
        } else {
            EXPECT_THROW(InstanceModel{spoilt}, std::invalid_argument);
        }
    }
}

TEST(DenseGraphTest, KeepsItsShapeAndChangesOnlyArcCosts) {
    // Two vertices, two types: arc 0 -> 1 costs (1, 2), arc 1 -> 0 costs (3, 4).
    DenseGraph graph(2, 2, {0, 0, 1, 2, 3, 4, 0, 0});
    EXPECT_EQ(graph.GetArcCost(1, 0), (CostVector{3, 4}));
    EXPECT_EQ(graph.FindArcCost(1, 1), nullptr);
    EXPECT_EQ(graph.FindArcCost(0, 2), nullptr);
    EXPECT_EQ(graph.NumEdge(), 2u);
    EXPECT_TRUE(graph.SetArcCost(0, 1, {5, 6}));
    EXPECT_EQ(graph.GetOutArcCosts(0), (std::vector<CostVector>{{5, 6}}));
    EXPECT_EQ(graph.GetArcCost(1, 0), (CostVector{3, 4}));
    EXPECT_THROW(graph.SetArcCost(0, 0, {1, 1}), std::invalid_argument);
    EXPECT_THROW(graph.SetArcCost(0, 1, {1}), std::invalid_argument);
    EXPECT_THROW(graph.AddVertex(2), std::logic_error);
    EXPECT_THROW(DenseGraph(2, 2, {1.0}), std::invalid_argument);
}

}  // namespace
}  // namespace vornik
