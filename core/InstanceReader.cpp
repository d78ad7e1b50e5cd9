#include "core/InstanceReader.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace vornik {
namespace {

using nlohmann::json;

// 2^64, and the open bounds within which a real truncates to a 32-bit signed integer.
// All three are exact doubles, so the comparisons below are exact.
constexpr double kTwoPow64 = 18446744073709551616.0;
constexpr double kInt32RealLow = -2147483649.0;
constexpr double kInt32RealHigh = 2147483648.0;

// Numbers whose conversion would be undefined behaviour are reported in the style of
// the library's own number-overflow error (out_of_range 406), naming the key.
[[noreturn]] void ThrowNumberOutOfRange(const std::string& key, const json& value,
                                        const char* rule) {
    throw json::out_of_range::create(
        406, "number out of range for key '" + key + "': " + value.dump() + " (" + rule + ")",
        &value);
}

// Left to itself the library would walk an object's values, treat null as empty and a
// lone value as one element; a list of records must be an array, and saying so with
// the library's own conversion error keeps every fault in one family.
const json& RequireArray(const json& value) {
    if (!value.is_array()) {
        throw json::type_error::create(
            302, std::string("type must be array, but is ") + value.type_name(), &value);
    }
    return value;
}

// Node ids, agent ids and node references. Integers convert as the library does (a
// negative one modulo 2^64, which is well defined); a real is truncated toward zero,
// which is only defined when the result fits, hence the range check. NaN fails it too.
std::uint64_t ReadId(const json& object, const char* key) {
    const json& value = object.at(key);
    if (value.is_number_float()) {
        const double real = value.get<double>();
        if (!(real >= 0.0 && real < kTwoPow64)) {
            ThrowNumberOutOfRange(key, value, "a real id must lie in [0, 2^64)");
        }
        return static_cast<std::uint64_t>(real);
    }
    return value.get<std::uint64_t>();
}

// "capacity" and "max_length": read as a 32-bit signed integer (reals truncated, true
// is 1, false is 0), stored as a double, 0 when absent. Values the narrowing would
// wrap or leave undefined are refused instead.
double ReadInt32Field(const json& object, const char* key) {
    const auto found = object.find(key);
    if (found == object.end()) {
        return 0.0;
    }
    const json& value = *found;
    constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
    constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
    bool fits = true;
    if (value.is_number_float()) {
        const double real = value.get<double>();
        fits = real > kInt32RealLow && real < kInt32RealHigh;
    } else if (value.is_number_unsigned()) {
        fits = value.get<std::uint64_t>() <= static_cast<std::uint64_t>(kMax);
    } else if (value.is_number_integer()) {
        const auto integer = value.get<std::int64_t>();
        fits = integer >= kMin && integer <= kMax;
    }
    if (!fits) {
        ThrowNumberOutOfRange(key, value, "must fit a 32-bit signed integer");
    }
    return static_cast<double>(value.get<std::int32_t>());
}

// The improvement path's numbers: finite and not negative, named as the document names
// them ("nodes[2].service").
double ReadAmount(const json& value, const std::string& field) {
    const double amount = value.get<double>();
    if (!(std::isfinite(amount) && amount >= 0.0)) {
        throw std::invalid_argument(field + " must be a finite number >= 0 (got " + value.dump() +
                                    ")");
    }
    return amount;
}

// A number or an array of numbers, one per load dimension. A scalar 0 (like an absent
// field) is no load in any dimension; any other scalar is one dimension.
std::vector<double> ReadAmounts(const json& value, const std::string& field) {
    std::vector<double> amounts;
    if (value.is_array()) {
        for (std::size_t d = 0; d < value.size(); ++d) {
            amounts.push_back(ReadAmount(value[d], field + "[" + std::to_string(d) + "]"));
        }
    } else {
        const double amount = ReadAmount(value, field);
        if (amount != 0.0) amounts.push_back(amount);
    }
    return amounts;
}

// Every demand and capacity array has one length: the instance's number of load
// dimensions. The first field that has a length sets it.
class DimensionCheck {
public:
    void Check(const std::vector<double>& amounts, const std::string& field) {
        if (amounts.empty()) return;
        if (first_field_.empty()) {
            first_field_ = field;
            length_ = amounts.size();
        } else if (amounts.size() != length_) {
            throw std::invalid_argument(
                field + " has " + std::to_string(amounts.size()) + " dimension(s) but " +
                first_field_ + " has " + std::to_string(length_) +
                ": every demand and capacity must have the same number of entries");
        }
    }

private:
    std::string first_field_;
    std::size_t length_ = 0;
};

void ReadFleetNodeFields(const json& entry, std::size_t index, Node& node,
                         DimensionCheck& dimensions) {
    const std::string name = "nodes[" + std::to_string(index) + "]";
    if (const auto demand = entry.find("demand"); demand != entry.end()) {
        node.demands = ReadAmounts(*demand, name + ".demand");
        dimensions.Check(node.demands, name + ".demand");
    }
    if (const auto service = entry.find("service"); service != entry.end()) {
        node.service = ReadAmount(*service, name + ".service");
    }
    if (const auto required = entry.find("required"); required != entry.end()) {
        if (!required->is_boolean()) {
            throw std::invalid_argument(name + ".required must be true or false (got " +
                                        required->dump() + ")");
        }
        node.required = required->get<bool>();
    }
    if (const auto penalty = entry.find("penalty"); penalty != entry.end()) {
        node.penalty = ReadAmount(*penalty, name + ".penalty");
    }
}

void ReadNodes(const json& document, Problem& problem, bool fleet_fields,
               DimensionCheck& dimensions) {
    for (const json& entry : RequireArray(document.at("nodes"))) {
        Node node;
        node.id = ReadId(entry, "id");
        node.position.x = entry.at("x").get<double>();
        node.position.y = entry.at("y").get<double>();
        node.position.z = entry.at("z").get<double>();
        // Only the exact spelling makes a depot; "depot" or "Depot" stay targets.
        const auto type = entry.find("type");
        if (type != entry.end() && type->get<std::string>() == "DEPOT") {
            node.type = NodeType::DEPOT;
        }
        const auto demand = entry.find("demand");
        if (demand != entry.end()) {
            // On the improvement path an array has no single value to carry here.
            if (!fleet_fields || !demand->is_array()) node.demand = demand->get<double>();
        }
        if (fleet_fields) {
            ReadFleetNodeFields(entry, problem.nodes.size(), node, dimensions);
        }
        problem.AddNode(node);
    }
}

// A real "max_length" on the improvement path; any number, NaN refused (0 or less is no
// limit, as on the focal search's path).
double ReadLimit(const json& entry, const std::string& field) {
    const auto found = entry.find("max_length");
    if (found == entry.end()) return 0.0;
    const double limit = found->get<double>();
    if (std::isnan(limit)) throw std::invalid_argument(field + " must be a number (got NaN)");
    return limit;
}

void ReadAgents(const json& document, Problem& problem, bool fleet_fields,
                DimensionCheck& dimensions) {
    for (const json& entry : RequireArray(document.at("agents"))) {
        Agent agent;
        agent.id = ReadId(entry, "id");
        agent.type = entry.at("type").get<std::string>();
        agent.start_node = ReadId(entry, "start_node");
        agent.end_node = ReadId(entry, "end_node");
        if (fleet_fields) {
            const std::string name =
                "agents[" + std::to_string(problem.agents_ordered.size()) + "]";
            if (const auto capacity = entry.find("capacity"); capacity != entry.end()) {
                agent.capacities = ReadAmounts(*capacity, name + ".capacity");
                dimensions.Check(agent.capacities, name + ".capacity");
                if (!capacity->is_array()) agent.capacity_limit = capacity->get<double>();
            }
            agent.time_limit = ReadLimit(entry, name + ".max_length");
        } else {
            agent.capacity_limit = ReadInt32Field(entry, "capacity");
            agent.time_limit = ReadInt32Field(entry, "max_length");
        }
        problem.AddAgent(agent, agent.id);
    }
}

// Service belongs to targets: a route's clock starts at its start and stops at its end.
void RefuseDepotService(const Problem& problem) {
    for (std::size_t v = 0; v < problem.nodes.size(); ++v) {
        const Node& node = problem.nodes[v];
        if (node.service == 0.0) continue;
        for (const Agent& agent : problem.agents_ordered) {
            if (agent.start_node == node.id || agent.end_node == node.id) {
                throw std::invalid_argument(
                    "nodes[" + std::to_string(v) +
                    "].service must be 0 at a node where an agent starts or ends (node " +
                    std::to_string(node.id) + ", agent " + std::to_string(agent.id) + ")");
            }
        }
    }
}

// An object's members come in ascending byte order of their names; an array's
// elements are named by their index ("0", "1", ...), which items() supplies.
void ReadCosts(const json& document, Problem& problem) {
    if (!document.contains("costs")) {
        return;
    }
    for (const auto& member : document.at("costs").items()) {
        problem.SetCostMatrix(member.key(), member.value().get<CostMatrix>());
    }
}

void ReadConstraints(const json& document, Problem& problem, bool fleet_fields) {
    // Accumulated over all constraint objects, so a later item for a node replaces an
    // earlier one even across objects; installed also when there are no constraints.
    AssignmentConstraint assignment;
    TimeWindowConstraint windows;
    if (document.contains("constraints")) {
        for (const json& constraint : RequireArray(document.at("constraints"))) {
            const auto kind = constraint.at("kind").get<std::string>();
            if (kind == "assignment" && constraint.contains("items")) {
                for (const json& item : RequireArray(constraint.at("items"))) {
                    const std::uint64_t node = ReadId(item, "node");
                    assignment.SetAssignment(node,
                                             item.at("types").get<std::vector<std::string>>());
                }
            } else if (kind == "timewindow" && constraint.contains("items")) {
                for (const json& item : RequireArray(constraint.at("items"))) {
                    // Read end first, then start, then node: that order decides which
                    // missing key an incomplete item reports.
                    const auto end = item.at("end").get<double>();
                    const auto start = item.at("start").get<double>();
                    if (fleet_fields) {
                        windows.AddTimewindow(ReadId(item, "node"), start, end);
                    } else {
                        windows.SetTimewindow(ReadId(item, "node"), start, end);
                    }
                }
            } else if (kind == "sequence" && constraint.contains("precedence")) {
                // Precedence is validated like everything else but has no effect.
                for (const json& precedence : RequireArray(constraint.at("precedence"))) {
                    ReadId(precedence, "before");
                    ReadId(precedence, "after");
                    const auto type = precedence.find("type");
                    if (type != precedence.end()) {
                        static_cast<void>(type->get<std::string>());
                    }
                }
            }
        }
    }
    problem.SetAssignmentConstraint(assignment);
    problem.SetTimewindowConstraint(windows);
}

// value() demands an object (type_error 306 otherwise) and converts a present key with
// the library's checks; each option is assigned whether or not its key is present.
void ReadOptions(const json& document, Problem& problem) {
    if (!document.contains("options")) {
        return;
    }
    const json& options = document.at("options");
    problem.options.return_to_end = options.value("return_to_end", true);
    const auto objective = options.value("objective", std::string("min_sum"));
    problem.options.objective = (objective == "min_max" || objective == "MIN_MAX")
                                    ? ObjectiveType::MinMax
                                    : ObjectiveType::MinSum;
    problem.options.time_limit = options.value("time_limit", 60.0);
}

}  // namespace

void ReadInstance(const json& document, Problem& problem, bool fleet_fields) {
    DimensionCheck dimensions;
    ReadNodes(document, problem, fleet_fields, dimensions);
    ReadAgents(document, problem, fleet_fields, dimensions);
    if (fleet_fields) RefuseDepotService(problem);
    ReadCosts(document, problem);
    ReadConstraints(document, problem, fleet_fields);
    ReadOptions(document, problem);
}

Problem ParseInstance(const std::string& text, bool fleet_fields) {
    // The defaults of parse() are the strict ones: one value, trailing white space only,
    // no comments, no trailing commas.
    const json document = json::parse(text);
    Problem problem;
    ReadInstance(document, problem, fleet_fields);
    return problem;
}

}  // namespace vornik
