// velq3 --service with sped-up time: VELQ3_TIME_SCALE and VELQ3_TIME_START reach the calendar
// clock of the temperature log and the loop's timers together; a bad value ends the program.
#include "e2e/E2eFixture.h"

#include <filesystem>

namespace velq3::test {
namespace {

class TimeScaleE2eTest : public E2eTest {
protected:
    // The programs' environment with TZ fixed and the given variables added.
    std::vector<std::string> EnvWith(const std::vector<std::string>& extra) const {
        std::vector<std::string> env;
        for (const std::string& v : Env())
            if (v.rfind("TZ=", 0) != 0) env.push_back(v);
        env.push_back("TZ=UTC0");
        env.insert(env.end(), extra.begin(), extra.end());
        return env;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static std::vector<std::string> DataLines(const std::string& path) {
        std::vector<std::string> lines;
        std::istringstream in(ReadFile(path));
        for (std::string l; std::getline(in, l);)
            if (l.rfind("Time,", 0) != 0) lines.push_back(l);
        return lines;
    }
    // "HH:MM:SS,..." in seconds (hours past 24 included).
    static int LineSeconds(const std::string& line) {
        int h = 0, m = 0, s = 0;
        return std::sscanf(line.c_str(), "%d:%d:%d,", &h, &m, &s) == 3 ? h * 3600 + m * 60 + s : -1;
    }
};

TEST_F(TimeScaleE2eTest, BadValuesEndTheServiceWithTheirName) {
    for (const auto& [variable, value] : std::vector<std::pair<std::string, std::string>>{
             {"VELQ3_TIME_SCALE", "fast"}, {"VELQ3_TIME_SCALE", "0.5"}, {"VELQ3_TIME_START", "2026-02-30T12:00:00"}}) {
        Process p(Program("velq3"), {"--service", "--simulate", "--alpaca-port", "0"}, EnvWith({variable + "=" + value}), {});
        std::string out, err;
        EXPECT_EQ(p.Finish(&out, &err, 20s), std::optional<int>(2)) << variable << "=" << value << "\n" << err;
        EXPECT_NE(err.find(variable + "=" + value), std::string::npos) << err;
    }
}

// At 100 times as fast from 11:59:00, the log's five-second ticks come every 50 ms and cross
// noon after 0.6 s: the night of the 6th ends, the file of the 7th begins, one tick apart.
TEST_F(TimeScaleE2eTest, TemperatureLogRunsOnTheScaledClockThroughNoon) {
    Register();
    const std::string logDir = home.file("termlog");
    std::filesystem::create_directory(logDir);
    {
        RegistryHive user(CurrentUserHivePath(HomeLookup()), kCurrentUserRoot);
        user.Load();
        user.SetString(kSettingsKey, "TermLogPath", logDir);
        ASSERT_TRUE(user.Save());
    }
    const std::string errorFile = home.file("service.err");
    Process service(Program("velq3"), {"--service", "--simulate", "--alpaca-port", "0"},
                    EnvWith({"VELQ3_TIME_SCALE=100", "VELQ3_TIME_START=2026-12-07T11:59:00"}),
                    {.pipeInput = false, .outputFile = home.file("service.out"), .errorFile = errorFile});
    auto deadline = Clock::now() + 10s;
    while (Clock::now() < deadline && !(ReadFile(errorFile).find("serving without a window") != std::string::npos && SocketExists()))
        std::this_thread::sleep_for(20ms);
    ASSERT_NE(ReadFile(errorFile).find("time runs 100 times as fast; the calendar clock shows 2026-12-07 11:59:00"),
              std::string::npos) << ReadFile(errorFile);

    Process::Options input;
    input.pipeInput = true;
    auto client = Start(Program("velq3-ctl"), {"VELQ3.FilterWheel", "-"}, input);
    client->Write("Connected=true\n");
    ASSERT_EQ(client->ReadLine(), "Connected = true");
    const std::string before = logDir + "/term_log_2026-12-06.csv", after = logDir + "/term_log_2026-12-07.csv";
    deadline = Clock::now() + 20s;
    while (Clock::now() < deadline && DataLines(after).size() < 10) std::this_thread::sleep_for(20ms);
    client->Write("Connected=false\n");
    EXPECT_EQ(client->ReadLine(), "Connected = false");
    client->CloseInput();
    EXPECT_EQ(client->WaitExit(10s), std::optional<int>(0));
    service.Signal(SIGTERM);
    EXPECT_EQ(service.WaitExit(10s), std::optional<int>(0));

    const auto night = DataLines(before), day = DataLines(after);
    ASSERT_FALSE(night.empty());
    ASSERT_GE(day.size(), 10u);
    // Before noon the hours count past 24; after it the new file starts at 12.
    EXPECT_EQ(night.front().rfind("35:59:", 0), 0u) << night.front();
    EXPECT_EQ(night.back().rfind("35:59:", 0), 0u) << night.back();
    EXPECT_EQ(day.front().rfind("12:00:0", 0), 0u) << day.front();
    // Calendar seconds between ticks: five, less a cut second, or a multiple when a busy machine
    // made the loop skip a tick; across the new file too.
    std::vector<std::string> all = night;
    all.insert(all.end(), day.begin(), day.end());
    for (std::size_t i = 1; i < all.size(); ++i) {
        int gap = LineSeconds(all[i]) - LineSeconds(all[i - 1]);
        if (i == night.size()) gap += 24 * 3600;  // 35:59:5x is 11:59:5x of the next day
        EXPECT_GE(gap, 4) << all[i - 1] << " -> " << all[i];
        EXPECT_LE(gap, 16) << all[i - 1] << " -> " << all[i];
    }
}

}  // namespace
}  // namespace velq3::test
