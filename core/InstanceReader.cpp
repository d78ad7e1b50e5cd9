#include "core/InstanceReader.h"

#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
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

void ReadNodes(const json& document, Problem& problem) {
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
            node.demand = demand->get<double>();
        }
        problem.AddNode(node);
    }
}

void ReadAgents(const json& document, Problem& problem) {
    for (const json& entry : RequireArray(document.at("agents"))) {
        Agent agent;
        agent.id = ReadId(entry, "id");
        agent.type = entry.at("type").get<std::string>();
        agent.start_node = ReadId(entry, "start_node");
        agent.end_node = ReadId(entry, "end_node");
        agent.capacity_limit = ReadInt32Field(entry, "capacity");
        agent.time_limit = ReadInt32Field(entry, "max_length");
        problem.AddAgent(agent, agent.id);
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

void ReadConstraints(const json& document, Problem& problem) {
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
                    windows.SetTimewindow(ReadId(item, "node"), start, end);
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

void ReadInstance(const json& document, Problem& problem) {
    ReadNodes(document, problem);
    ReadAgents(document, problem);
    ReadCosts(document, problem);
    ReadConstraints(document, problem);
    ReadOptions(document, problem);
}

Problem ParseInstance(const std::string& text) {
    // The defaults of parse() are the strict ones: one value, trailing white space only,
    // no comments, no trailing commas.
    const json document = json::parse(text);
    Problem problem;
    ReadInstance(document, problem);
    return problem;
}

}  // namespace vornik
