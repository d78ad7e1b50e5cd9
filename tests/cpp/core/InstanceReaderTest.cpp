#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "core/InstanceReader.h"

namespace vornik {
namespace {

using nlohmann::json;

// A small instance that uses every key of the format; each case changes one thing.
json BaseInstance() {
    return json::parse(R"({
      "nodes": [{"id": 0, "x": 0, "y": 0, "z": 0, "type": "DEPOT"},
                {"id": 1, "x": 1.5, "y": 2, "z": 3, "demand": 4.5}],
      "agents": [{"id": 0, "type": "truck", "start_node": 0, "end_node": 0,
                  "capacity": 10, "max_length": 100}],
      "costs": {"truck": [[0, 1], [1, 0]]},
      "constraints": [
        {"kind": "assignment", "items": [{"node": 1, "types": ["truck"]}]},
        {"kind": "timewindow", "items": [{"end": 50, "start": 5, "node": 1}]},
        {"kind": "sequence", "precedence": [{"before": 0, "after": 1, "type": "same"}]}],
      "options": {"return_to_end": false, "objective": "min_max", "time_limit": 10}
    })");
}

Problem Read(const json& document) {
    Problem problem;
    ReadInstance(document, problem);
    return problem;
}

// The text of the library exception the reader throws, or a marker if it throws none.
std::string ReadError(const json& document) {
    Problem problem;
    try {
        ReadInstance(document, problem);
    } catch (const json::exception& error) {
        return error.what();
    }
    return "<no error>";
}

TEST(InstanceReaderTest, ReadsEveryKeyOfACompleteInstance) {
    const Problem problem = Read(BaseInstance());
    ASSERT_EQ(problem.nodes.size(), 2u);
    EXPECT_EQ(problem.nodes[0].type, NodeType::DEPOT);
    EXPECT_EQ(problem.nodes[1].type, NodeType::TARGET);
    EXPECT_EQ(problem.nodes[1].id, 1u);
    EXPECT_DOUBLE_EQ(problem.nodes[1].position.x, 1.5);
    EXPECT_DOUBLE_EQ(problem.nodes[1].position.z, 3.0);
    EXPECT_DOUBLE_EQ(problem.nodes[1].demand, 4.5);
    EXPECT_DOUBLE_EQ(problem.nodes[0].demand, 0.0);
    ASSERT_EQ(problem.agents_ordered.size(), 1u);
    EXPECT_EQ(problem.agents_ordered[0].type, "truck");
    EXPECT_DOUBLE_EQ(problem.agents_ordered[0].capacity_limit, 10.0);
    EXPECT_DOUBLE_EQ(problem.agents_ordered[0].time_limit, 100.0);
    EXPECT_EQ(problem.agent_type_of.at(0), 0u);
    EXPECT_EQ(problem.cost_matrices.at("truck"), (CostMatrix{{0, 1}, {1, 0}}));
    EXPECT_EQ(problem.assignment_constraint.types_by_node.at(1), std::vector<std::string>{"truck"});
    EXPECT_EQ(problem.timewindow_constraint.window_by_node.at(1),
              (std::pair<double, double>{5, 50}));
    EXPECT_FALSE(problem.options.return_to_end);
    EXPECT_EQ(problem.options.objective, ObjectiveType::MinMax);
    EXPECT_DOUBLE_EQ(problem.options.time_limit, 10.0);
}

TEST(InstanceReaderTest, OptionalKeysTakeTheirDefaults) {
    const Problem problem = Read(json::parse(R"({
      "nodes": [{"id": 0, "x": 0, "y": 0, "z": 0}],
      "agents": [{"id": 0, "type": "", "start_node": 0, "end_node": 0}]})"));
    EXPECT_EQ(problem.nodes[0].type, NodeType::TARGET);
    EXPECT_DOUBLE_EQ(problem.agents_ordered[0].capacity_limit, 0.0);
    EXPECT_DOUBLE_EQ(problem.agents_ordered[0].time_limit, 0.0);
    EXPECT_TRUE(problem.cost_matrices.empty());
    EXPECT_TRUE(problem.assignment_constraint.types_by_node.empty());
    EXPECT_TRUE(problem.options.return_to_end);
    EXPECT_EQ(problem.options.objective, ObjectiveType::MinSum);
    EXPECT_DOUBLE_EQ(problem.options.time_limit, 60.0);
}

TEST(InstanceReaderTest, EmptyInstanceIsAccepted) {
    const Problem problem = Read(json::parse(R"({"nodes": [], "agents": []})"));
    EXPECT_TRUE(problem.nodes.empty());
    EXPECT_TRUE(problem.agents_ordered.empty());
}

TEST(InstanceReaderTest, OnlyTheExactSpellingMakesADepot) {
    json document = BaseInstance();
    const std::vector<std::string> spellings = {"DEPOT", "depot", "Depot", "DEPOT ", ""};
    document["nodes"] = json::array();
    for (const auto& spelling : spellings) {
        document["nodes"].push_back({{"id", 0}, {"x", 0}, {"y", 0}, {"z", 0}, {"type", spelling}});
    }
    const Problem problem = Read(document);
    EXPECT_EQ(problem.nodes[0].type, NodeType::DEPOT);
    for (std::size_t i = 1; i < spellings.size(); ++i) {
        EXPECT_EQ(problem.nodes[i].type, NodeType::TARGET) << spellings[i];
    }
}

TEST(InstanceReaderTest, ObjectiveSpellings) {
    struct Case {
        json options;
        ObjectiveType expected;
    };
    const std::vector<Case> cases = {
        {{{"objective", "min_max"}}, ObjectiveType::MinMax},
        {{{"objective", "MIN_MAX"}}, ObjectiveType::MinMax},
        {{{"objective", "MinMax"}}, ObjectiveType::MinSum},  // not one of the two spellings
        {{{"objective", "min_sum"}}, ObjectiveType::MinSum},
        {{{"time_limit", 3}}, ObjectiveType::MinSum},  // absent inside "options"
        {json::object(), ObjectiveType::MinSum},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.options.dump());
        json document = BaseInstance();
        document["options"] = c.options;
        EXPECT_EQ(Read(document).options.objective, c.expected);
    }
}

TEST(InstanceReaderTest, EmptyOptionsObjectRestoresEveryDefault) {
    json document = BaseInstance();
    document["options"] = json::object();
    const Options options = Read(document).options;
    EXPECT_TRUE(options.return_to_end);
    EXPECT_EQ(options.objective, ObjectiveType::MinSum);
    EXPECT_DOUBLE_EQ(options.time_limit, 60.0);
}

TEST(InstanceReaderTest, CapacityAndMaxLengthReadAsInt32) {
    struct Case {
        json value;
        double expected;
    };
    const std::vector<Case> cases = {
        {2.9, 2.0},    // truncated toward zero
        {-2.9, -2.0},  // toward zero, not down
        {true, 1.0},
        {false, 0.0},
        {7, 7.0},
        {2147483647, 2147483647.0},
        {2147483647.9, 2147483647.0},    // truncates to INT32_MAX
        {-2147483648.9, -2147483648.0},  // truncates to INT32_MIN
        {-2147483648, -2147483648.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.dump());
        json document = BaseInstance();
        document["agents"][0]["capacity"] = c.value;
        document["agents"][0]["max_length"] = c.value;
        const Agent agent = Read(document).agents_ordered[0];
        EXPECT_DOUBLE_EQ(agent.capacity_limit, c.expected);
        EXPECT_DOUBLE_EQ(agent.time_limit, c.expected);
    }
}

TEST(InstanceReaderTest, IdConversions) {
    struct Case {
        json value;
        std::uint64_t expected;
    };
    const std::vector<Case> cases = {
        {3.0, 3},
        {3.9, 3},          // truncated toward zero
        {-1, UINT64_MAX},  // -1 modulo 2^64
        {-2, UINT64_MAX - 1},
        {UINT64_MAX, UINT64_MAX},
        {18446744073709549568.0, 18446744073709549568u},  // largest double below 2^64
        {0.0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.dump());
        json document = BaseInstance();
        document["nodes"][1]["id"] = c.value;
        document["agents"][0]["start_node"] = c.value;
        document["constraints"][0]["items"][0]["node"] = c.value;
        document["constraints"][1]["items"][0]["node"] = c.value;
        const Problem problem = Read(document);
        EXPECT_EQ(problem.nodes[1].id, c.expected);
        EXPECT_EQ(problem.agents_ordered[0].start_node, c.expected);
        EXPECT_EQ(problem.assignment_constraint.types_by_node.count(c.expected), 1u);
        EXPECT_EQ(problem.timewindow_constraint.window_by_node.count(c.expected), 1u);
    }
}

TEST(InstanceReaderTest, CostsGivenAsAnArrayAreNamedByIndex) {
    json document = BaseInstance();
    document["costs"] = json::parse("[[[0, 1], [1, 0]], [[0, 2], [2, 0]]]");
    const Problem problem = Read(document);
    ASSERT_EQ(problem.cost_matrices.size(), 2u);
    EXPECT_EQ(problem.cost_matrices.at("0")[0][1], 1.0);
    EXPECT_EQ(problem.cost_matrices.at("1")[0][1], 2.0);
}

TEST(InstanceReaderTest, LaterAssignmentAndWindowForANodeWin) {
    json document = BaseInstance();
    document["constraints"] = json::parse(R"([
      {"kind": "assignment", "items": [{"node": 1, "types": ["a"]}, {"node": 1, "types": ["b"]}]},
      {"kind": "assignment", "items": [{"node": 2, "types": ["c"]}]},
      {"kind": "assignment", "items": [{"node": 2, "types": []}]},
      {"kind": "timewindow", "items": [{"node": 1, "start": 1, "end": 2}]},
      {"kind": "timewindow", "items": [{"node": 1, "start": 9, "end": 3}]}])");
    const Problem problem = Read(document);
    EXPECT_EQ(problem.assignment_constraint.types_by_node.at(1), std::vector<std::string>{"b"});
    EXPECT_TRUE(problem.assignment_constraint.types_by_node.at(2).empty());
    // start may exceed end: windows are stored unchecked.
    EXPECT_EQ(problem.timewindow_constraint.window_by_node.at(1),
              (std::pair<double, double>{9, 3}));
}

TEST(InstanceReaderTest, UnknownKindsAndConstraintsWithoutItemsAreSkipped) {
    json document = BaseInstance();
    document["constraints"] = json::parse(R"([
      {"kind": "capacity", "items": 5},
      {"kind": "assignment"},
      {"kind": "timewindow", "precedence": []},
      {"kind": "sequence", "items": 7}])");
    const Problem problem = Read(document);
    EXPECT_TRUE(problem.assignment_constraint.types_by_node.empty());
    EXPECT_TRUE(problem.timewindow_constraint.window_by_node.empty());
}

TEST(InstanceReaderTest, ParseInstanceIsStrict) {
    const std::string valid = R"({"nodes": [], "agents": []})";
    EXPECT_NO_THROW(static_cast<void>(ParseInstance(valid + " \n\t")));
    const std::vector<std::string> invalid = {
        valid + " {}",                      // a second value
        valid + " x",                       // trailing garbage
        "/* note */ " + valid,              // comments are not JSON
        R"({"nodes": [], "agents": [],})",  // trailing comma
        "",
    };
    for (const auto& text : invalid) {
        SCOPED_TRACE(text);
        EXPECT_THROW(static_cast<void>(ParseInstance(text)), json::parse_error);
    }
    try {
        static_cast<void>(ParseInstance(""));
        FAIL() << "empty input parsed";
    } catch (const json::parse_error& error) {
        EXPECT_NE(std::string(error.what())
                      .find("attempting to parse an empty input; check that your input string "
                            "or stream contains the expected JSON"),
                  std::string::npos);
    }
}

TEST(InstanceReaderTest, ParseInstanceReadsTheDocument) {
    const Problem problem = ParseInstance(BaseInstance().dump());
    EXPECT_EQ(problem.nodes.size(), 2u);
    EXPECT_EQ(problem.options.objective, ObjectiveType::MinMax);
}

// One fault per row; the expected text is the library's complete message.
struct FaultCase {
    const char* name;
    void (*mutate)(json&);
    const char* expected;
};

class InstanceReaderFaultTest : public testing::TestWithParam<FaultCase> {};

TEST_P(InstanceReaderFaultTest, ThrowsTheLibraryError) {
    json document = BaseInstance();
    GetParam().mutate(document);
    EXPECT_EQ(ReadError(document), GetParam().expected);
}

const FaultCase kFaultCases[] = {
    // Missing required keys: out_of_range 403.
    {"MissingNodes", [](json& d) { d.erase("nodes"); },
     "[json.exception.out_of_range.403] key 'nodes' not found"},
    {"MissingBothReportsNodesFirst",
     [](json& d) {
         d.erase("nodes");
         d.erase("agents");
     },
     "[json.exception.out_of_range.403] key 'nodes' not found"},
    {"MissingAgents", [](json& d) { d.erase("agents"); },
     "[json.exception.out_of_range.403] key 'agents' not found"},
    {"NodeFaultBeforeMissingAgents",
     [](json& d) {
         d.erase("agents");
         d["nodes"][1].erase("z");
     },
     "[json.exception.out_of_range.403] key 'z' not found"},
    {"NodeWithoutId", [](json& d) { d["nodes"][0].erase("id"); },
     "[json.exception.out_of_range.403] key 'id' not found"},
    {"NodeWithoutX", [](json& d) { d["nodes"][0].erase("x"); },
     "[json.exception.out_of_range.403] key 'x' not found"},
    {"AgentWithoutType", [](json& d) { d["agents"][0].erase("type"); },
     "[json.exception.out_of_range.403] key 'type' not found"},
    {"AgentWithoutEndNode", [](json& d) { d["agents"][0].erase("end_node"); },
     "[json.exception.out_of_range.403] key 'end_node' not found"},
    {"ConstraintWithoutKind", [](json& d) { d["constraints"][0].erase("kind"); },
     "[json.exception.out_of_range.403] key 'kind' not found"},
    {"AssignmentItemWithoutTypes", [](json& d) { d["constraints"][0]["items"][0].erase("types"); },
     "[json.exception.out_of_range.403] key 'types' not found"},
    {"WindowWithoutStartAndEndNamesEnd",
     [](json& d) {
         d["constraints"][1]["items"][0].erase("start");
         d["constraints"][1]["items"][0].erase("end");
     },
     "[json.exception.out_of_range.403] key 'end' not found"},
    {"WindowWithoutStartOrNodeNamesStart",
     [](json& d) {
         d["constraints"][1]["items"][0].erase("start");
         d["constraints"][1]["items"][0].erase("node");
     },
     "[json.exception.out_of_range.403] key 'start' not found"},
    {"PrecedenceWithoutAfter", [](json& d) { d["constraints"][2]["precedence"][0].erase("after"); },
     "[json.exception.out_of_range.403] key 'after' not found"},
    // Required key looked up in a non-object: type_error 304.
    {"DocumentIsArray", [](json& d) { d = json::array(); },
     "[json.exception.type_error.304] cannot use at() with array"},
    {"DocumentIsNull", [](json& d) { d = nullptr; },
     "[json.exception.type_error.304] cannot use at() with null"},
    {"NodeIsNumber", [](json& d) { d["nodes"][1] = 5; },
     "[json.exception.type_error.304] cannot use at() with number"},
    {"AgentIsString", [](json& d) { d["agents"][0] = "truck"; },
     "[json.exception.type_error.304] cannot use at() with string"},
    {"ConstraintIsNull", [](json& d) { d["constraints"][0] = nullptr; },
     "[json.exception.type_error.304] cannot use at() with null"},
    {"ItemIsArray", [](json& d) { d["constraints"][1]["items"][0] = json::array(); },
     "[json.exception.type_error.304] cannot use at() with array"},
    {"PrecedenceIsBoolean", [](json& d) { d["constraints"][2]["precedence"][0] = true; },
     "[json.exception.type_error.304] cannot use at() with boolean"},
    // Options that are not an object: type_error 306.
    {"OptionsIsArray", [](json& d) { d["options"] = json::array(); },
     "[json.exception.type_error.306] cannot use value() with array"},
    {"OptionsIsNull", [](json& d) { d["options"] = nullptr; },
     "[json.exception.type_error.306] cannot use value() with null"},
    // Values that must be strings.
    {"NodeTypeIsNumber", [](json& d) { d["nodes"][0]["type"] = 1; },
     "[json.exception.type_error.302] type must be string, but is number"},
    {"AgentTypeIsNull", [](json& d) { d["agents"][0]["type"] = nullptr; },
     "[json.exception.type_error.302] type must be string, but is null"},
    {"KindIsBoolean", [](json& d) { d["constraints"][0]["kind"] = true; },
     "[json.exception.type_error.302] type must be string, but is boolean"},
    {"ObjectiveIsNumber", [](json& d) { d["options"]["objective"] = 1; },
     "[json.exception.type_error.302] type must be string, but is number"},
    {"PrecedenceTypeIsNumber", [](json& d) { d["constraints"][2]["precedence"][0]["type"] = 2; },
     "[json.exception.type_error.302] type must be string, but is number"},
    {"TypesElementIsNumber", [](json& d) { d["constraints"][0]["items"][0]["types"][0] = 3; },
     "[json.exception.type_error.302] type must be string, but is number"},
    // Values that must be numbers.
    {"NodeIdIsString", [](json& d) { d["nodes"][0]["id"] = "0"; },
     "[json.exception.type_error.302] type must be number, but is string"},
    {"NodeIdIsBoolean", [](json& d) { d["nodes"][0]["id"] = true; },
     "[json.exception.type_error.302] type must be number, but is boolean"},
    {"CoordinateIsNull", [](json& d) { d["nodes"][0]["y"] = nullptr; },
     "[json.exception.type_error.302] type must be number, but is null"},
    {"DemandIsString", [](json& d) { d["nodes"][1]["demand"] = "4"; },
     "[json.exception.type_error.302] type must be number, but is string"},
    {"AgentIdIsObject", [](json& d) { d["agents"][0]["id"] = json::object(); },
     "[json.exception.type_error.302] type must be number, but is object"},
    {"StartNodeIsArray", [](json& d) { d["agents"][0]["start_node"] = json::array(); },
     "[json.exception.type_error.302] type must be number, but is array"},
    {"CapacityIsString", [](json& d) { d["agents"][0]["capacity"] = "10"; },
     "[json.exception.type_error.302] type must be number, but is string"},
    {"MaxLengthIsNull", [](json& d) { d["agents"][0]["max_length"] = nullptr; },
     "[json.exception.type_error.302] type must be number, but is null"},
    {"MatrixEntryIsString", [](json& d) { d["costs"]["truck"][1][0] = "1"; },
     "[json.exception.type_error.302] type must be number, but is string"},
    {"MatrixEntryIsBoolean", [](json& d) { d["costs"]["truck"][1][0] = false; },
     "[json.exception.type_error.302] type must be number, but is boolean"},
    {"WindowStartIsString", [](json& d) { d["constraints"][1]["items"][0]["start"] = "5"; },
     "[json.exception.type_error.302] type must be number, but is string"},
    {"WindowEndIsBoolean", [](json& d) { d["constraints"][1]["items"][0]["end"] = true; },
     "[json.exception.type_error.302] type must be number, but is boolean"},
    {"AssignmentNodeIsString", [](json& d) { d["constraints"][0]["items"][0]["node"] = "1"; },
     "[json.exception.type_error.302] type must be number, but is string"},
    {"BeforeIsNull", [](json& d) { d["constraints"][2]["precedence"][0]["before"] = nullptr; },
     "[json.exception.type_error.302] type must be number, but is null"},
    {"TimeLimitIsString", [](json& d) { d["options"]["time_limit"] = "10"; },
     "[json.exception.type_error.302] type must be number, but is string"},
    {"TimeLimitIsBoolean", [](json& d) { d["options"]["time_limit"] = true; },
     "[json.exception.type_error.302] type must be number, but is boolean"},
    // Values that must be arrays.
    {"MatrixIsNumber", [](json& d) { d["costs"]["truck"] = 5; },
     "[json.exception.type_error.302] type must be array, but is number"},
    {"RowIsNumber", [](json& d) { d["costs"]["truck"][1] = 1; },
     "[json.exception.type_error.302] type must be array, but is number"},
    {"CostsIsNumberMeansOneBadMatrix", [](json& d) { d["costs"] = 3; },
     "[json.exception.type_error.302] type must be array, but is number"},
    // Object members are read in ascending name order: "a" fails before "b".
    {"CostsReadInNameOrder",
     [](json& d) {
         d["costs"] = {{"b", 5}, {"a", "x"}};
     },
     "[json.exception.type_error.302] type must be array, but is string"},
    {"TypesIsString", [](json& d) { d["constraints"][0]["items"][0]["types"] = "truck"; },
     "[json.exception.type_error.302] type must be array, but is string"},
    {"NodesIsObject", [](json& d) { d["nodes"] = json::object(); },
     "[json.exception.type_error.302] type must be array, but is object"},
    {"AgentsIsNull", [](json& d) { d["agents"] = nullptr; },
     "[json.exception.type_error.302] type must be array, but is null"},
    {"ConstraintsIsObject", [](json& d) { d["constraints"] = d["constraints"][0]; },
     "[json.exception.type_error.302] type must be array, but is object"},
    {"ItemsIsObject",
     [](json& d) { d["constraints"][1]["items"] = d["constraints"][1]["items"][0]; },
     "[json.exception.type_error.302] type must be array, but is object"},
    {"PrecedenceIsNumber", [](json& d) { d["constraints"][2]["precedence"] = 1; },
     "[json.exception.type_error.302] type must be array, but is number"},
    // Booleans.
    {"ReturnToEndIsNumber", [](json& d) { d["options"]["return_to_end"] = 1; },
     "[json.exception.type_error.302] type must be boolean, but is number"},
    {"ReturnToEndIsString", [](json& d) { d["options"]["return_to_end"] = "true"; },
     "[json.exception.type_error.302] type must be boolean, but is string"},
    // Numbers whose conversion would be undefined: out_of_range 406 naming the key.
    {"CapacityAboveInt32", [](json& d) { d["agents"][0]["capacity"] = 2147483648u; },
     "[json.exception.out_of_range.406] number out of range for key 'capacity': 2147483648 "
     "(must fit a 32-bit signed integer)"},
    {"CapacityBelowInt32", [](json& d) { d["agents"][0]["capacity"] = -2147483649; },
     "[json.exception.out_of_range.406] number out of range for key 'capacity': -2147483649 "
     "(must fit a 32-bit signed integer)"},
    {"MaxLengthRealAboveInt32", [](json& d) { d["agents"][0]["max_length"] = 3e9; },
     "[json.exception.out_of_range.406] number out of range for key 'max_length': 3000000000.0 "
     "(must fit a 32-bit signed integer)"},
    {"MaxLengthRealJustBelowInt32", [](json& d) { d["agents"][0]["max_length"] = -2147483649.0; },
     "[json.exception.out_of_range.406] number out of range for key 'max_length': -2147483649.0 "
     "(must fit a 32-bit signed integer)"},
    {"NegativeRealId", [](json& d) { d["nodes"][1]["id"] = -1.5; },
     "[json.exception.out_of_range.406] number out of range for key 'id': -1.5 "
     "(a real id must lie in [0, 2^64))"},
    {"RealIdAtTwoPow64", [](json& d) { d["agents"][0]["end_node"] = 18446744073709551616.0; },
     "[json.exception.out_of_range.406] number out of range for key 'end_node': "
     "1.8446744073709552e+19 (a real id must lie in [0, 2^64))"},
    {"HugeRealNodeReference",
     [](json& d) { d["constraints"][2]["precedence"][0]["after"] = 1e300; },
     "[json.exception.out_of_range.406] number out of range for key 'after': 1e+300 "
     "(a real id must lie in [0, 2^64))"},
    {"NanId", [](json& d) { d["constraints"][1]["items"][0]["node"] = std::nan(""); },
     "[json.exception.out_of_range.406] number out of range for key 'node': null "
     "(a real id must lie in [0, 2^64))"},
};

INSTANTIATE_TEST_SUITE_P(FailureTable, InstanceReaderFaultTest, testing::ValuesIn(kFaultCases),
                         [](const testing::TestParamInfo<FaultCase>& param_info) {
                             return std::string(param_info.param.name);
                         });

}  // namespace
}  // namespace vornik

namespace vornik {
namespace {

// The improvement path reads the fleet fields; the focal search's reading of the same
// document stays as it was (one window per node, capacity and max_length truncated).
TEST(InstanceReaderFleetTest, ReadsFleetFieldsOnlyWhenAsked) {
    json document = BaseInstance();
    document["nodes"][1]["demand"] = json::array({1.5, 2});
    document["nodes"][1]["service"] = 2.5;
    document["nodes"][1]["required"] = false;
    document["nodes"][1]["penalty"] = 7;
    document["agents"][0]["capacity"] = json::array({3.5, 0});
    document["agents"][0]["max_length"] = 10.5;
    document["constraints"][1]["items"].push_back({{"node", 1}, {"start", 60}, {"end", 70}});
    Problem fleet;
    ReadInstance(document, fleet, true);
    EXPECT_EQ(fleet.nodes[1].demands, (std::vector<double>{1.5, 2}));
    EXPECT_EQ(fleet.nodes[1].service, 2.5);
    EXPECT_FALSE(fleet.nodes[1].required);
    EXPECT_EQ(fleet.nodes[1].penalty, 7.0);
    EXPECT_EQ(fleet.agents_ordered[0].capacities, (std::vector<double>{3.5, 0}));
    EXPECT_EQ(fleet.agents_ordered[0].time_limit, 10.5);
    using Windows = std::vector<std::pair<double, double>>;
    EXPECT_EQ(fleet.timewindow_constraint.windows_by_node.at(1), (Windows{{5, 50}, {60, 70}}));

    document["nodes"][1]["demand"] = 4.5;
    document["agents"][0]["capacity"] = 10.9;
    Problem focal;
    ReadInstance(document, focal);
    EXPECT_EQ(focal.agents_ordered[0].capacity_limit, 10.0);
    EXPECT_EQ(focal.agents_ordered[0].time_limit, 10.0);
    EXPECT_TRUE(focal.nodes[1].demands.empty());
    EXPECT_TRUE(focal.nodes[1].required);
    EXPECT_TRUE(focal.timewindow_constraint.windows_by_node.empty());
    EXPECT_EQ(focal.timewindow_constraint.window_by_node.at(1),
              (std::pair<double, double>{60, 70}));
}

TEST(InstanceReaderFleetTest, RefusesBadFleetFieldsNamingThem) {
    struct Case {
        const char* pointer;
        json value;
        const char* message;
    };
    const Case cases[] = {
        {"/nodes/1/demand", -1, "nodes[1].demand must be a finite number >= 0"},
        {"/nodes/1/demand", json::array({1, -2}), "nodes[1].demand[1] must be a finite"},
        {"/nodes/1/service", -0.5, "nodes[1].service must be a finite number >= 0"},
        {"/nodes/0/service", 3, "nodes[0].service must be 0 at a node where an agent starts"},
        {"/nodes/1/penalty", -1, "nodes[1].penalty must be a finite number >= 0"},
        {"/nodes/1/required", "yes", "nodes[1].required must be true or false"},
        {"/agents/0/capacity", json::array({1, 2, 3}),
         "agents[0].capacity has 3 dimension(s) but nodes[1].demand has 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pointer);
        json document = BaseInstance();
        document["nodes"][1]["demand"] = json::array({1, 1});
        document["agents"][0]["capacity"] = json::array({10, 0});
        document[json::json_pointer(c.pointer)] = c.value;
        Problem problem;
        try {
            ReadInstance(document, problem, true);
            ADD_FAILURE() << "no error";
        } catch (const std::invalid_argument& error) {
            EXPECT_NE(std::string(error.what()).find(c.message), std::string::npos) << error.what();
        }
    }
}

}  // namespace
}  // namespace vornik
