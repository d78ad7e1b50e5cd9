#include "improve/EngineModel.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>

#include "core/CostMatrixCheck.h"
#include "improve/NeighbourLists.h"
#include "improve/Precheck.h"

namespace vornik {

namespace {

// Amounts of one kind in `dims` dimensions: an empty list is zeros, anything else must
// have exactly `dims` finite entries >= 0.
void CheckAmounts(const ListView<double>& amounts, std::size_t dims, const std::string& what) {
    if (!amounts.empty() && amounts.size() != dims) {
        throw std::invalid_argument(what + " has " + std::to_string(amounts.size()) +
                                    " entries but the instance has " + std::to_string(dims) +
                                    " load dimensions");
    }
    for (const double amount : amounts) {
        if (!(std::isfinite(amount) && amount >= 0.0)) {
            throw std::invalid_argument(what + " must hold finite numbers >= 0 (got " +
                                        std::to_string(amount) + ")");
        }
    }
}

// Above this many targets, neighbour lists of computed distances come from a grid.
constexpr std::size_t kGridTargets = 1000;

// From kNearTableFewest to kNearTableMost vertices a dense table is also kept renumbered
// (8 n^2 bytes more: 50 MB at 2,500 vertices), within the model's allowance for them. Below, the
// table stays in cache anyway and the renumbering only adds work (4 % slower at 200 vertices).
constexpr std::size_t kNearTableFewest = 500;
constexpr std::size_t kNearTableMost = 2500;

}  // namespace

void EngineModel::BindAgentTables() {
    agent_tables_.clear();
    for (const EngineAgent& agent : agents_) {
        agent_tables_.push_back(tables_[table_of_slot_[agent.slot]]);
    }
}

EngineModel::EngineModel(const Problem& problem, const CostTables& tables)
    : EngineModel(std::make_shared<const InstanceModel>(problem, tables), problem.options) {}

EngineModel::EngineModel(std::shared_ptr<const InstanceModel> instance, const Options& options,
                         std::size_t near_table_bytes)
    : n_(instance->NumVertices()),
      instance_(std::move(instance)),
      return_to_end_(options.return_to_end),
      objective_(options.objective) {
    const InstanceModel& model = *instance_;
    positions_ = model.Positions().data();
    // One cost slot per type index in use; the agent's type is the one recorded under its
    // id (a later agent with the same id takes it over, as in the Solver).
    std::unordered_map<std::int64_t, std::size_t> slot_of_type;
    std::vector<std::int64_t> type_of_slot;
    for (std::size_t a = 0; a < model.NumAgents(); ++a) {
        const ModelAgent& agent = model.Agent(a);
        auto [slot, inserted] = slot_of_type.emplace(agent.type, type_of_slot.size());
        if (inserted) type_of_slot.push_back(agent.type);
        EngineAgent entry;
        entry.id = agent.id;
        entry.slot = slot->second;
        entry.start = agent.start;
        entry.end = agent.end;
        entry.limit = agent.time_limit;
        agents_.push_back(entry);
    }

    is_target_.assign(n_, 1);
    for (const EngineAgent& agent : agents_) {
        is_target_[agent.start] = 0;
        is_target_[agent.end] = 0;
    }
    for (std::size_t v = 0; v < n_; ++v) {
        if (is_target_[v] != 0) targets_.push_back(static_cast<std::uint32_t>(v));
    }

    // Cost tables: views of the instance model's. A given cost of a matrix must be one a
    // clock can run on: a negative or infinite cost would let clocks fall, or never end,
    // along a route, and the engine's segments and the checker's walk would disagree.
    // (Arrays were held to the same rule when the model read them.)
    constexpr std::size_t kNoTable = static_cast<std::size_t>(-1);
    table_of_slot_.assign(type_of_slot.size(), kNoTable);
    for (std::size_t slot = 0; slot < type_of_slot.size(); ++slot) {
        const std::int64_t type = type_of_slot[slot];
        if (type < 0) continue;
        const auto t = static_cast<std::size_t>(type);
        const InstanceModel::CostSource* source = model.Costs(t);
        if (source == nullptr) continue;
        if (source->from_matrix) {
            for (std::size_t r = 0; r < n_; ++r) {
                for (std::size_t c = 0; c < model.GivenColumns(t, r); ++c) {
                    CheckTravelCost(model.TypeName(t), r, c, source->data[r * n_ + c]);
                }
            }
        }
        table_of_slot_[slot] = tables_.size();
        tables_.push_back(Table{source->data, source->rule, false});
    }
    for (std::size_t& table : table_of_slot_) {
        if (table != kNoTable) continue;
        if (no_arc_table_ == kNoTable) {
            no_arc_table_ = tables_.size();
            tables_.push_back(Table{nullptr, DistanceRule::kExact, true});
        }
        table = no_arc_table_;
    }

    BindAgentTables();

    allowed_.assign(type_of_slot.size() * n_, 0);
    for (std::size_t v = 0; v < n_; ++v) {
        if (is_target_[v] == 0) continue;
        for (const std::int64_t type : model.AllowedTypes(v)) {
            const auto slot = slot_of_type.find(type);
            if (slot != slot_of_type.end()) allowed_[slot->second * n_ + v] = 1;
        }
    }

    windows_.assign(n_, TimeWindow{});
    for (std::size_t v = 0; v < n_; ++v) {
        windows_[v] = model.Window(v);
        has_windows_ = has_windows_ || windows_[v].present;
    }
    // Several windows: the vertex's window becomes their span, and the list is kept for
    // the walk. One window stays exactly as given, as the focal search reads it.
    std::vector<std::vector<TimeWindow>> lists(n_);
    for (std::size_t v = 0; v < n_; ++v) {
        const ListView<std::pair<double, double>> given = model.WindowList(v);
        if (given.size() < 2) continue;
        std::vector<TimeWindow> merged =
            MergedWindows(std::vector<std::pair<double, double>>(given.begin(), given.end()));
        windows_[v] = TimeWindow{true, merged.front().start, merged.back().end};
        if (merged.size() > 1) lists[v] = std::move(merged);
    }
    window_offset_.assign(n_ + 1, 0);
    for (std::size_t v = 0; v < n_; ++v) {
        window_offset_[v] = several_.size();
        several_.insert(several_.end(), lists[v].begin(), lists[v].end());
        any_several_windows_ = any_several_windows_ || !lists[v].empty();
    }
    window_offset_[n_] = several_.size();

    // A route ends with a move onto the vertex that closes it, and that vertex's assignment
    // must admit the agent's type, as in the focal search and the checker: the end vertex,
    // or, on open routes, the start vertex when the end does not admit it or has a window
    // the start has not. An agent that can close nowhere leaves the instance without a
    // solution. Every start and end given stays a depot all the same.
    for (std::size_t a = 0; a < agents_.size(); ++a) {
        EngineAgent& agent = agents_[a];
        const std::int64_t type = type_of_slot[agent.slot];
        const auto admits = [&](std::uint32_t v) {
            const std::vector<std::int64_t>& types = model.AllowedTypes(v);
            return std::find(types.begin(), types.end(), type) != types.end();
        };
        // The closing leg of an open route is free, so either vertex is reached at the
        // same time, never before the start's window opened (the route left then): the
        // start never delays that arrival, and refuses it no sooner than the end does when
        // its window closes no earlier (a start with several windows may make it wait).
        const TimeWindow& at_start = windows_[agent.start];
        const TimeWindow& at_end = windows_[agent.end];
        const bool start_is_better =
            !return_to_end_ && admits(agent.start) && agent.start != agent.end &&
            lists[agent.start].empty() &&
            (!at_start.present || (at_end.present && at_start.end >= at_end.end));
        if (admits(agent.end) && !start_is_better) continue;
        if (!return_to_end_ && admits(agent.start)) {
            agent.end = agent.start;
        } else {
            routable_ = false;
        }
    }

    // Service, loads and optional targets.
    node_ids_.resize(n_);
    service_.assign(n_, 0.0);
    required_.assign(n_, 1);
    penalty_.assign(n_, 0.0);
    for (std::size_t v = 0; v < n_; ++v) dims_ = std::max(dims_, model.Demands(v).size());
    for (std::size_t a = 0; a < agents_.size(); ++a) {
        dims_ = std::max(dims_, model.Capacities(a).size());
    }
    demand_.assign(n_ * dims_, 0.0);
    for (std::size_t v = 0; v < n_; ++v) {
        const std::string name = "node " + std::to_string(model.NodeId(v));
        node_ids_[v] = model.NodeId(v);
        const ListView<double> demands = model.Demands(v);
        CheckAmounts(demands, dims_, "demands of " + name);
        std::copy(demands.begin(), demands.end(), demand_.begin() + v * dims_);
        const double service = model.Service(v);
        const double penalty = model.Penalty(v);
        if (!(std::isfinite(service) && service >= 0.0)) {
            throw std::invalid_argument("service of " + name + " must be a finite number >= 0");
        }
        if (!(std::isfinite(penalty) && penalty >= 0.0)) {
            throw std::invalid_argument("penalty of " + name + " must be a finite number >= 0");
        }
        if (service != 0.0 && is_target_[v] == 0) {
            throw std::invalid_argument("service of " + name +
                                        " must be 0: an agent starts or ends there");
        }
        service_[v] = service;
        any_service_ = any_service_ || service != 0.0;
        if (is_target_[v] != 0 && !model.Required(v)) {
            required_[v] = 0;
            penalty_[v] = penalty;
            any_optional_ = true;
        }
    }
    capacity_.assign(agents_.size() * dims_, std::numeric_limits<double>::infinity());
    for (std::size_t a = 0; a < agents_.size(); ++a) {
        const ListView<double> capacities = model.Capacities(a);
        CheckAmounts(capacities, dims_, "capacities of agent " + std::to_string(agents_[a].id));
        for (std::size_t d = 0; d < capacities.size(); ++d) {
            // 0 is no limit in that dimension, as 0 is for max_length.
            if (capacities[d] > 0) capacity_[a * dims_ + d] = capacities[d];
        }
    }

    // Neighbour lists by the cheapest round trip over the types in use. When every type
    // travels at distances between positions, the nearest lie close by in the plane and a
    // grid finds them without comparing every pair.
    std::vector<std::size_t> agent_of_table(tables_.size(), 0);
    for (std::size_t a = agents_.size(); a-- > 0;)
        agent_of_table[table_of_slot_[agents_[a].slot]] = a;
    bool computed_only = model.AnyComputed();
    bool any_arc = false;
    for (const Table& table : tables_) {
        computed_only = computed_only && table.data == nullptr;
        any_arc = any_arc || !table.no_arc;
    }
    const NearnessKey round_trip = [&](std::uint32_t v, std::uint32_t w) {
        double best = kNoArc;
        for (std::size_t t = 0; t < tables_.size(); ++t) {
            const std::size_t a = agent_of_table[t];
            // A computed distance is the same both ways, bit for bit: one root, not two
            // (this key is most of the first solution's time on 10,000 nodes).
            const bool computed = tables_[t].data == nullptr && !tables_[t].no_arc;
            best = std::min(best, computed ? 2.0 * Cost(a, v, w) : Cost(a, v, w) + Cost(a, w, v));
        }
        return best;
    };
    // Rounded distances stay within half a unit of the straight line.
    constexpr double kRoundingSlack = 2.0;
    // Dense tables only (those of the types in use; a type without arcs adds nothing).
    std::vector<const double*> dense;
    bool dense_only = true;
    for (std::size_t a = 0; a < agents_.size(); ++a) {
        const Table& table = tables_[table_of_slot_[agents_[a].slot]];
        if (table.data != nullptr) {
            if (std::find(dense.begin(), dense.end(), table.data) == dense.end())
                dense.push_back(table.data);
        } else if (!table.no_arc) {
            dense_only = false;
        }
    }
    if (computed_only && any_arc && targets_.size() > kGridTargets) {
        neighbours_ =
            NearestOnGrid(n_, targets_, kNeighbours, round_trip, model.Positions(), kRoundingSlack);
    } else if (dense_only && !dense.empty()) {
        neighbours_ = NearestInTables(n_, targets_, kNeighbours, dense);
    } else {
        neighbours_ = NearestByKey(n_, targets_, kNeighbours, round_trip);
    }

    // Near vertices, near numbers: a chain from each vertex to its nearest one not yet
    // numbered, and on from the lowest vertex not yet numbered where it ends.
    if (n_ >= kNearTableFewest && n_ <= kNearTableMost && !dense.empty()) {
        constexpr std::uint32_t kUnranked = static_cast<std::uint32_t>(-1);
        rank_.assign(n_, kUnranked);
        std::uint32_t next = 0;
        std::size_t lowest = 0;
        while (next < n_) {
            while (rank_[lowest] != kUnranked) ++lowest;
            auto v = static_cast<std::uint32_t>(lowest);
            while (true) {
                rank_[v] = next++;
                const std::vector<std::uint32_t>& near = neighbours_[v];
                const auto unranked = std::find_if(near.begin(), near.end(), [&](std::uint32_t w) {
                    return rank_[w] == kUnranked;
                });
                if (unranked == near.end()) break;
                v = *unranked;
            }
        }
        std::size_t spent = 0;
        const std::size_t table_bytes = n_ * n_ * sizeof(double);
        for (Table& table : tables_) {
            if (table.data == nullptr) continue;
            // The copies are a speed-up only: past their memory allowance the rest of the
            // tables are read as they are.
            if (spent + table_bytes > near_table_bytes) break;
            spent += table_bytes;
            auto copy = std::make_shared<std::vector<double>>(n_ * n_);
            for (std::size_t u = 0; u < n_; ++u) {
                double* row = copy->data() + static_cast<std::size_t>(rank_[u]) * n_;
                for (std::size_t v = 0; v < n_; ++v) row[rank_[v]] = table.data[u * n_ + v];
            }
            table.near = copy->data();
            near_tables_.push_back(std::move(copy));
        }
    }

    BindAgentTables();  // again, with the renumbered copies

    // Targets that no route can serve are found once and left out of the search.
    servable_.assign(n_, 1);
    precheck_ = PrecheckTargets(*this);
    for (const TargetReason& reason : precheck_) servable_[reason.vertex] = 0;
}

}  // namespace vornik
