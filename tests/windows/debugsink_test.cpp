// The diagnostic channel on Windows: lines reach the channel's file whole, and a log file is
// rotated at its size although the C runtime holds it open without delete sharing.
#include "platform/DebugSink.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace velq3 {
namespace {

namespace fs = std::filesystem;

// 100 bytes: "line NN " padded with dots and a line break.
std::string Line(int n) {
    std::string text = "line " + std::to_string(n) + " ";
    text.resize(99, '.');
    return text + "\n";
}

std::string FileText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class WindowsDebugChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("velq3-debug-" + std::to_string(::GetCurrentProcessId()));
        fs::create_directories(dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    int OpenLog(const fs::path& path) {
        return ::_wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, _S_IREAD | _S_IWRITE);
    }
    fs::path dir;
};

TEST_F(WindowsDebugChannelTest, ALogFileIsRotatedAtItsSizeWithoutSplittingLines) {
    const fs::path path = dir / "server.log";
    const int fd = OpenLog(path);
    ASSERT_GE(fd, 0);
    {
        DebugChannel channel(fd);
        channel.RotateAt(path, 1000);
        for (int i = 0; i < 55; ++i) channel.Write(Line(i));
        EXPECT_EQ(channel.DroppedBytes(), 0u);
    }
    ::_close(fd);
    fs::path older = path;
    older += ".1";
    EXPECT_EQ(FileText(path), Line(50) + Line(51) + Line(52) + Line(53) + Line(54));
    std::string expected;
    for (int i = 40; i < 50; ++i) expected += Line(i);
    EXPECT_EQ(FileText(older), expected);
}

TEST_F(WindowsDebugChannelTest, ADescriptorThatIsNotTheNamedFileIsNeverRotated) {
    const fs::path path = dir / "server.log";
    std::ofstream(path, std::ios::binary) << "someone else's\n";
    const int fd = OpenLog(dir / "other.log");
    ASSERT_GE(fd, 0);
    {
        DebugChannel channel(fd);
        channel.RotateAt(path, 100);
        for (int i = 0; i < 5; ++i) channel.Write(Line(i));
    }
    ::_close(fd);
    EXPECT_EQ(FileText(path), "someone else's\n");
    EXPECT_EQ(FileText(dir / "other.log").size(), 500u);
}

// A channel whose descriptor is not open (a program started without a console) still takes
// lines, for the debugger, and counts nothing as dropped.
TEST_F(WindowsDebugChannelTest, AChannelWithoutADescriptorOnlyFeedsTheDebugger) {
    DebugChannel channel(-1);
    channel.Write("to the debugger only\n");
    EXPECT_EQ(channel.DroppedBytes(), 0u);
}

}  // namespace
}  // namespace velq3
