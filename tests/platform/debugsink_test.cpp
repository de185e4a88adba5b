// The debug channel: it never waits for a reader (what does not fit is dropped and counted),
// its non-blocking descriptor is its own, and a log file is rotated at its size.
#include "platform/DebugSink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <string>

#include "common/SimProcess.h"

namespace velq3 {
namespace {

using namespace std::chrono_literals;

std::string ReadAll(int fd) {
    std::string got;
    char buf[65536];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) got.append(buf, static_cast<std::size_t>(n));
    return got;
}

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string Line(int i) {
    std::string l = "line " + std::to_string(i) + " ";
    l.resize(99, '.');
    return l + "\n";
}

TEST(DebugChannelTest, APipeNobodyReadsDropsWholeLinesInsteadOfWaiting) {
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    DebugChannel channel(p[1]);
    constexpr int kLines = 2000;  // 200 000 bytes: three times what the pipe holds
    auto writer = std::async(std::launch::async, [&] {
        for (int i = 0; i < kLines; ++i) channel.Write(Line(i));
    });
    const bool finished = writer.wait_for(5s) == std::future_status::ready;
    ::fcntl(p[0], F_SETFL, O_NONBLOCK);
    const std::string got = ReadAll(p[0]);  // also frees a writer that waits
    writer.wait();
    ASSERT_TRUE(finished) << "the write waited for a reader";
    EXPECT_GT(channel.DroppedBytes(), 0u);
    EXPECT_EQ(got.size() + channel.DroppedBytes(), static_cast<std::size_t>(kLines) * 100);
    // Lines arrive whole and in order: the first ones, up to where the pipe was full.
    ASSERT_EQ(got.size() % 100, 0u);
    for (std::size_t i = 0; i < got.size() / 100; ++i) ASSERT_EQ(got.substr(i * 100, 100), Line(static_cast<int>(i)));
    ::close(p[0]);
    ::close(p[1]);
}

TEST(DebugChannelTest, TheNonBlockingDescriptorIsTheChannelsOwn) {
    int p[2];
    ASSERT_EQ(::pipe2(p, O_CLOEXEC), 0);
    const int shared = ::dup(p[1]);  // as a parent shell or a sibling holds it
    DebugChannel channel(p[1]);
    channel.MakeNonBlocking();
    EXPECT_TRUE(::fcntl(p[1], F_GETFL) & O_NONBLOCK);
    EXPECT_FALSE(::fcntl(shared, F_GETFL) & O_NONBLOCK);
    channel.Write("through the new descriptor\n");
    ::close(p[1]);
    ::close(shared);
    EXPECT_EQ(ReadAll(p[0]), "through the new descriptor\n");
    ::close(p[0]);
}

TEST(DebugChannelTest, ALogFileIsRotatedAtItsSizeWithoutSplittingLines) {
    test::TempDir dir;
    const std::string path = dir.file("server.log");
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0);
    {
        DebugChannel channel(fd);
        channel.RotateAt(path, 1000);
        for (int i = 0; i < 55; ++i) channel.Write(Line(i));
        EXPECT_EQ(channel.DroppedBytes(), 0u);
    }
    const std::string current = FileText(path), previous = FileText(path + ".1");
    EXPECT_LE(current.size(), 1000u);
    EXPECT_LE(previous.size(), 1000u);
    // The newest lines: 50..54 in the file, 40..49 in the one before.
    EXPECT_EQ(current, Line(50) + Line(51) + Line(52) + Line(53) + Line(54));
    std::string expected;
    for (int i = 40; i < 50; ++i) expected += Line(i);
    EXPECT_EQ(previous, expected);
    EXPECT_FALSE(std::filesystem::exists(path + ".2"));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ::close(fd);
}

TEST(DebugChannelTest, ADescriptorThatIsNotTheNamedFileIsNeverRotated) {
    test::TempDir dir;
    const std::string path = dir.file("server.log");
    std::ofstream(path) << "someone else's\n";
    const int fd = ::open(dir.file("other.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    DebugChannel channel(fd);
    channel.RotateAt(path, 100);
    for (int i = 0; i < 5; ++i) channel.Write(Line(i));
    EXPECT_EQ(FileText(path), "someone else's\n");
    EXPECT_EQ(FileText(dir.file("other.log")).size(), 500u);
    ::close(fd);
}

} // namespace
} // namespace velq3
