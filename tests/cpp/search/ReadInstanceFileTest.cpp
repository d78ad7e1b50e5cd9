#include <gtest/gtest.h>
#include <sys/stat.h>
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

TEST(ReadInstanceFileTest, ReadsARegularFileByteForByte) {
    const std::filesystem::path dir = FreshDirectory();
    const std::string bytes("{\"a\": \"\xff\"}\0tail", 15);
    std::ofstream(dir / "bytes.json", std::ios::binary) << bytes;
    EXPECT_EQ(ReadInstanceFile((dir / "bytes.json").string()), bytes);
    std::filesystem::remove_all(dir);
}

// Files without an end or without content are refused before any read or wait: a
// device that never ends, a FIFO no one writes to, a folder, a missing file.
TEST(ReadInstanceFileTest, RefusesWhatIsNotARegularFileAtOnce) {
    const std::filesystem::path dir = FreshDirectory();
    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {std::string("/dev/zero"), fifo, dir.string(),
                                   (dir / "missing.json").string()}) {
        SCOPED_TRACE(path);
        try {
            (void)ReadInstanceFile(path);
            ADD_FAILURE() << "read";
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()), "Cannot open file: " + path);
        }
    }
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
