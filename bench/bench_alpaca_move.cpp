// Latency of Alpaca status reads (GET filterwheel/0/position) while wheel moves run: velq3
// --service against the simulator in real-time mode, the wheel sent from one end to the other a
// few times, and the position read over one kept-alive connection for as long as each move
// runs. Reports p50, p99 and the maximum of the reads answered while the move ran.
// Usage: bench_alpaca_move [MOVES] (default 10). Target: p99 <= 100 ms.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "alpaca/HttpClient.h"
#include "alpaca/ServiceProcess.h"
#include "common/SimProcess.h"

namespace {

using Clock = std::chrono::steady_clock;

double Percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

int Run(int moves) {
    velq3::test::TempDir home;
    velq3::test::SimProcess sim({"--realtime"});
    velq3::test::ServiceProcess service(VELQ3_APPS_DIR "/velq3",
                                        {"--service", "--port", sim.ttyPath(), "--alpaca-port", "0"},
                                        home.path());
    const int port = service.WaitForAlpacaPort();
    if (port == 0) {
        std::fprintf(stderr, "velq3 --service did not announce its Alpaca port:\n%s\n", service.Output().c_str());
        return 1;
    }
    velq3::test::http::Client client("127.0.0.1", port, 10000);
    const std::string base = "/api/v1/filterwheel/0/";
    auto put = [&](const std::string& member, const velq3::test::http::Params& form) {
        auto reply = client.Put(base + member, form);
        if (!reply || reply->status != 200) return false;
        const auto json = nlohmann::json::parse(reply->body, nullptr, false);
        return !json.is_discarded() && json.value("ErrorNumber", -1) == 0;
    };
    auto get = [&](const std::string& member, nlohmann::json& value) {
        auto reply = client.Get(base + member + "?ClientID=7");
        if (!reply || reply->status != 200) return false;
        const auto json = nlohmann::json::parse(reply->body, nullptr, false);
        if (json.is_discarded() || json.value("ErrorNumber", -1) != 0) return false;
        value = json["Value"];
        return true;
    };

    if (!put("connected", {{"Connected", "true"}, {"ClientID", "7"}})) {
        std::fprintf(stderr, "could not connect filterwheel/0\n%s\n", service.Output().c_str());
        return 1;
    }
    nlohmann::json names;
    if (!get("names", names) || names.size() < 2) {
        std::fprintf(stderr, "filterwheel/0 has no filter names\n");
        return 1;
    }
    const int last = static_cast<int>(names.size()) - 1;

    std::vector<double> duringMove;  // milliseconds
    std::vector<double> moveSeconds;
    for (int i = 0; i < moves; ++i) {
        const int target = i % 2 == 0 ? last : 0;
        const auto start = Clock::now();
        if (!put("position", {{"Position", std::to_string(target)}, {"ClientID", "7"}})) {
            std::fprintf(stderr, "PUT position=%d failed\n", target);
            return 1;
        }
        const double putMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        for (;;) {
            const auto before = Clock::now();
            nlohmann::json position;
            if (!get("position", position)) {
                std::fprintf(stderr, "GET position failed during the move\n");
                return 1;
            }
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - before).count();
            if (position == -1) duringMove.push_back(ms);
            if (position == target) break;
            if (Clock::now() - start > std::chrono::seconds(60)) {
                std::fprintf(stderr, "the move to %d did not end within 60 s\n", target);
                return 1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        moveSeconds.push_back(std::chrono::duration<double>(Clock::now() - start).count());
        std::printf("move %d -> %d: %.2f s (PUT answered in %.2f ms)\n", i % 2 == 0 ? 0 : last, target,
                    moveSeconds.back(), putMs);
    }
    put("connected", {{"Connected", "false"}, {"ClientID", "7"}});

    const double p50 = Percentile(duringMove, 0.50);
    const double p99 = Percentile(duringMove, 0.99);
    const double max = duringMove.empty() ? 0.0 : *std::max_element(duringMove.begin(), duringMove.end());
    std::printf("status reads during %d wheel moves: %zu reads, p50 %.3f ms, p99 %.3f ms, max %.3f ms "
                "(target p99 <= 100 ms: %s)\n",
                moves, duringMove.size(), p50, p99, max,
                !duringMove.empty() && p99 <= 100.0 ? "met" : "MISSED");
    return duringMove.empty() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int moves = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    return Run(moves);
}
