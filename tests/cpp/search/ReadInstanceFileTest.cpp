#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "search/JsonSolve.h"

namespace vornik {
namespace {

std::filesystem::path FreshDirectory() {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("zelk_read_" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

// Devices, FIFOs and folders are tested from Python, in a child process under a memory
// cap and a timeout: a regression would read /dev/zero until memory runs out, or block.
TEST(ReadInstanceFileTest, ReadsARegularFileByteForByte) {
    const std::filesystem::path dir = FreshDirectory();
    const std::string bytes("{\"a\": \"\xff\"}\0tail", 15);
    std::ofstream(dir / "bytes.json", std::ios::binary) << bytes;
    EXPECT_EQ(ReadInstanceFile((dir / "bytes.json").string()), bytes);
    std::filesystem::remove_all(dir);
}

// The C library would open the file named by the part before the NUL.
TEST(ReadInstanceFileTest, RefusesAPathWithANul) {
    const std::filesystem::path dir = FreshDirectory();
    std::ofstream(dir / "real.json") << "{}";
    const std::string path = (dir / "real.json").string() + std::string(1, '\0') + "junk";
    EXPECT_THROW((void)ReadInstanceFile(path), std::invalid_argument);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vornik
