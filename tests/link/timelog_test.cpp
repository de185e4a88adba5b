// Command log lines: the time-stamp prefix, the line buffer limit and the log file.
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "link/TimeLogFile.h"

namespace velq3::test {
namespace {

std::string ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(TimeLog, PrefixAndLongLines) {
    CTimeLogFile log;
    std::vector<std::string> lines;
    log.SetSink([&](std::string_view l) { lines.emplace_back(l); });
    log.SetSecondsSource([] { return 83.25; });
    log.Log("CFocuser::get_Position(%i)\n", 1234);
    EXPECT_EQ(lines.at(0), "83.250 : CFocuser::get_Position(1234)\n");

    std::string big(5000, 'x');
    log.Log("%s\r\n", big.c_str());
    EXPECT_EQ(lines.at(1).size(), CTimeLogFile::kLineBufferSize - 1);
    EXPECT_EQ(lines.at(1).rfind("83.250 : xxx", 0), 0u);
}

TEST(TimeLog, FileIsTruncatedAtEachOpenAndClosedOnRequest) {
    auto dir = std::filesystem::temp_directory_path() / ("velq3-log-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto path = dir / "cmd.log";
    CTimeLogFile log;
    std::vector<std::string> lines;
    log.SetSink([&](std::string_view l) { lines.emplace_back(l); });
    log.Log("before\n");
    ASSERT_TRUE(log.Open(path.string()));
    log.Log("first connection\n");
    ASSERT_TRUE(log.Open(path.string()));
    log.Log("second connection\n");
    log.Close();
    log.Log("after close\n");
    std::string text = ReadFile(path);
    EXPECT_EQ(text.find("first"), std::string::npos);
    EXPECT_NE(text.find(" : second connection\n"), std::string::npos);
    EXPECT_EQ(text.find("after"), std::string::npos);
    EXPECT_EQ(lines.size(), 4u);  // the sink gets every line
    EXPECT_FALSE(log.Open((dir / "missing" / "x.log").string()));
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace velq3::test
