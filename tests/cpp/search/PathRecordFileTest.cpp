#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "search/PathRecordFile.h"

namespace vornik {
namespace {

// Runs each test in a fresh temporary working directory, since the file is written
// relative to it.
class PathRecordFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = std::filesystem::current_path();
        dir_ = std::filesystem::temp_directory_path() /
               ("zelk_paths_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        std::filesystem::current_path(dir_);
    }
    void TearDown() override {
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(dir_);
    }
    static std::string ReadAll(const std::string& name) {
        std::ifstream in(name);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::filesystem::path previous_;
    std::filesystem::path dir_;
};

TEST_F(PathRecordFileTest, WritesSortedKeysRoutesWithoutTheirLastVertex) {
    Result result;
    result.paths = {{0, {0, 4, 0}}, {1, {1, 5, 6, 1}}, {2, {2, 2}}};
    result.times = {{0, 8.0}, {1, 12.5}, {2, 0.0}};
    testing::internal::CaptureStdout();
    WritePathRecordFile("demo", {0, 1, 2}, {0, 1, 2}, 12.5, 3, result);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Saved to paths/paths_astar/demo_astar.json\n");
    const std::string expected =
        "{\n"
        "  \"goals\": [\n    0,\n    1,\n    2\n  ],\n"
        "  \"max_path_length\": 12.5,\n"
        "  \"num_agents\": 3,\n"
        "  \"paths\": {\n"
        "    \"0\": [\n      0,\n      4\n    ],\n"
        "    \"1\": [\n      1,\n      5,\n      6\n    ],\n"
        "    \"2\": [\n      2\n    ]\n"
        "  },\n"
        "  \"starts\": [\n    0,\n    1,\n    2\n  ],\n"
        "  \"total_costs\": [\n    8.0,\n    12.5,\n    0.0\n  ]\n"
        "}\n";
    EXPECT_EQ(ReadAll("paths/paths_astar/demo_astar.json"), expected);
}

TEST_F(PathRecordFileTest, ElevenRoutesAreOrderedAsStrings) {
    Result result;
    for (std::int64_t j = 0; j < 11; ++j) {
        result.paths[j] = {j, j};
        result.times[j] = 0.0;
    }
    std::vector<std::uint64_t> depots(11);
    for (std::uint64_t j = 0; j < 11; ++j) depots[j] = j;
    testing::internal::CaptureStdout();
    WritePathRecordFile("eleven", depots, depots, 0.0, 11, result);
    testing::internal::GetCapturedStdout();
    const std::string text = ReadAll("paths/paths_astar/eleven_astar.json");
    const auto at = [&](const char* key) { return text.find(std::string("\"") + key + "\": ["); };
    EXPECT_LT(at("1"), at("10"));
    EXPECT_LT(at("10"), at("2"));
    EXPECT_LT(at("2"), at("9"));
}

TEST_F(PathRecordFileTest, EmptyRouteAndSecondWriteOverwrite) {
    Result result;
    result.paths = {{0, {}}};
    result.times = {{0, 0.0}};
    testing::internal::CaptureStdout();
    WritePathRecordFile("again", {0}, {0}, 1.0, 1, result);
    WritePathRecordFile("again", {0}, {0}, 2.0, 1, result);
    testing::internal::GetCapturedStdout();
    const std::string text = ReadAll("paths/paths_astar/again_astar.json");
    EXPECT_NE(text.find("\"0\": []"), std::string::npos);
    EXPECT_NE(text.find("\"max_path_length\": 2.0"), std::string::npos);
}

TEST_F(PathRecordFileTest, UnopenableFileIsReportedNotThrown) {
    std::filesystem::create_directories("paths/paths_astar/blocked_astar.json");
    Result result;
    testing::internal::CaptureStderr();
    WritePathRecordFile("blocked", {}, {}, 0.0, 0, result);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Error: cannot open paths/paths_astar/blocked_astar.json for writing.\n");
}

TEST_F(PathRecordFileTest, FolderThatCannotBeCreatedRaises) {
    std::ofstream("paths") << "a plain file";
    Result result;
    EXPECT_THROW(WritePathRecordFile("x", {}, {}, 0.0, 0, result),
                 std::filesystem::filesystem_error);
}

}  // namespace
}  // namespace vornik
