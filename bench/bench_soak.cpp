// The clients of the night soak (bench/soak.sh): against a velq3 --service whose calendar clock
// and timers run SCALE times as fast, ten Alpaca clients poll at 2 Hz of simulated time (each
// every 500 ms / SCALE of real time: a night's worth of requests) and one client moves the
// wheel and the focuser every simulated minute. Meanwhile it watches the service's resident
// memory and open descriptors; at the end it counts the temperature log's lines.
//
// Usage: bench_soak --port P --pid PID --scale S --hours H --log-dir DIR [--files N] [--trace FILE]
// Bounds (exit 1 when one is out): resident memory at the end within 5 % of the reading after
// the warm-up (the first tenth of the run); open descriptors at the end at most 2 above it; no
// client error; temperature-log lines plus skipped ticks within max(2, 0.5 %) of one per 5 s
// tick while connected; skipped ticks at most 1 % of them; no malformed line; N log files when
// --files is given. A tick is skipped when the service's loop was held up (a move, a starved
// process) for more than one scaled period: the log shows a gap of that many ticks.
#include <dirent.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "alpaca/HttpClient.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Json = nlohmann::json;

constexpr double kTickSeconds = 5.0;          // the temperature log's period (simulated)
constexpr double kPollSeconds = 0.5;          // each poller's period (simulated): 2 Hz
constexpr double kMoveSeconds = 60.0;         // the mover's period (simulated)
constexpr int kPollers = 10;
constexpr double kRssBound = 0.05;
constexpr long kFdSlack = 2;
constexpr double kMaxLineGapSeconds = 7.0;    // one tick plus the jitter of a whole-second stamp
constexpr double kSkippedBound = 0.01;

struct Args {
    int port = 0;
    int pid = 0;
    double scale = 0;
    double hours = 0;
    std::string logDir;
    int files = 0;
    std::string trace;
};

std::optional<Args> ParseArgs(int argc, char** argv) {
    Args a;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i], value = argv[i + 1];
        if (key == "--port") a.port = std::atoi(value.c_str());
        else if (key == "--pid") a.pid = std::atoi(value.c_str());
        else if (key == "--scale") a.scale = std::atof(value.c_str());
        else if (key == "--hours") a.hours = std::atof(value.c_str());
        else if (key == "--log-dir") a.logDir = value;
        else if (key == "--files") a.files = std::atoi(value.c_str());
        else if (key == "--trace") a.trace = value;
        else return std::nullopt;
    }
    if (argc % 2 != 1 || a.port <= 0 || a.pid <= 0 || !(a.scale >= 1) || !(a.hours > 0) || a.logDir.empty())
        return std::nullopt;
    return a;
}

// ---- the service process, seen through /proc ----

long ResidentKiB(int pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// User and system CPU time of the process, in seconds.
double CpuSeconds(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // The fields after the command name, which may hold blanks and parentheses: state is the 3rd.
    const auto close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int i = 3; fields >> field && i <= 15; ++i) {
        if (i == 14) utime = std::atof(field.c_str());
        if (i == 15) stime = std::atof(field.c_str());
    }
    return (utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long OpenDescriptors(int pid) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
    DIR* d = opendir(dir.c_str());
    if (!d) return -1;
    long count = 0;
    while (const dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++count;
    closedir(d);
    return count;
}

// ---- clients ----

// Errors of every client, with the first few described.
class ErrorLog {
public:
    void Add(const std::string& what) {
        std::lock_guard lock(mutex_);
        if (++count_ <= 10) first_.push_back(what);
    }
    long Count() const {
        std::lock_guard lock(mutex_);
        return count_;
    }
    std::vector<std::string> First() const {
        std::lock_guard lock(mutex_);
        return first_;
    }

private:
    mutable std::mutex mutex_;
    long count_ = 0;
    std::vector<std::string> first_;
};

// Requests pass the gate; a measurement closes it and waits until no request is in flight, so
// that the descriptors counted are the service's own and its clients' kept-alive connections.
class Gate {
public:
    void Enter() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !closed_; });
        ++inFlight_;
    }
    void Leave() {
        std::lock_guard lock(mutex_);
        --inFlight_;
        changed_.notify_all();
    }
    void Close() {
        std::unique_lock lock(mutex_);
        closed_ = true;
        changed_.wait(lock, [this] { return inFlight_ == 0; });
    }
    void Open() {
        std::lock_guard lock(mutex_);
        closed_ = false;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool closed_ = false;
    int inFlight_ = 0;
};

class Pass {
public:
    explicit Pass(Gate& gate) : gate_(gate) { gate_.Enter(); }
    ~Pass() { gate_.Leave(); }
    Pass(const Pass&) = delete;
    Pass& operator=(const Pass&) = delete;

private:
    Gate& gate_;
};

Gate g_Gate;
ErrorLog g_Errors;
std::atomic<long> g_Requests{0};

class AlpacaClient {
public:
    AlpacaClient(int port, int clientId) : http_("127.0.0.1", port, 10000), clientId_(std::to_string(clientId)) {}

    // GET /api/v1/<path>; the value on success, none after an error (logged).
    std::optional<Json> Get(const std::string& path) {
        Pass pass(g_Gate);
        const std::string target = "/api/v1/" + path + (path.find('?') == std::string::npos ? "?" : "&") +
                                   "ClientID=" + clientId_ + "&ClientTransactionID=" + std::to_string(++transaction_);
        return Check("GET " + path, http_.Get(target));
    }

    void Close() { http_.Close(); }

    std::optional<Json> Put(const std::string& path, velq3::test::http::Params form) {
        Pass pass(g_Gate);
        form.emplace("ClientID", clientId_);
        form.emplace("ClientTransactionID", std::to_string(++transaction_));
        return Check("PUT " + path, http_.Put("/api/v1/" + path, form));
    }

private:
    std::optional<Json> Check(const std::string& what, const velq3::test::http::Result& reply) {
        ++g_Requests;
        if (!reply) {
            g_Errors.Add(what + ": " + reply.error());
            return std::nullopt;
        }
        if (reply->status != 200) {
            g_Errors.Add(what + ": HTTP " + std::to_string(reply->status) + " " + reply->body.substr(0, 120));
            return std::nullopt;
        }
        const Json json = Json::parse(reply->body, nullptr, false);
        if (json.is_discarded() || !json.is_object()) {
            g_Errors.Add(what + ": not a JSON object: " + reply->body.substr(0, 120));
            return std::nullopt;
        }
        const int number = json.value("ErrorNumber", -1);
        if (number != 0) {
            g_Errors.Add(what + ": ErrorNumber " + std::to_string(number) + " " + json.value("ErrorMessage", ""));
            return std::nullopt;
        }
        return json.contains("Value") ? json["Value"] : Json();
    }

    velq3::test::http::Client http_;
    std::string clientId_;
    unsigned transaction_ = 0;
};

// Runs `step` every `period` of real time until `stop`; a step that falls behind moves the
// schedule on instead of bursting.
template <typename Step>
void Every(Clock::duration period, const std::atomic<bool>& stop, Step step) {
    auto next = Clock::now();
    while (!stop) {
        step();
        next += period;
        const auto now = Clock::now();
        if (next < now) next = now;
        std::this_thread::sleep_until(next);
    }
}

// Poller k reads one device in turn: focuser 0 (even k) or the filter wheel (odd k).
void Poll(int port, int k, Clock::duration period, const std::atomic<bool>& stop) {
    AlpacaClient client(port, 100 + k);
    static const std::vector<std::string> kFocuser = {"focuser/0/position", "focuser/0/ismoving",
                                                      "focuser/0/temperature", "focuser/0/devicestate"};
    static const std::vector<std::string> kWheel = {"filterwheel/0/position", "filterwheel/0/names",
                                                    "filterwheel/0/focusoffsets", "filterwheel/0/devicestate"};
    const auto& members = k % 2 == 0 ? kFocuser : kWheel;
    std::size_t turn = static_cast<std::size_t>(k);
    Every(period, stop, [&] { client.Get(members[turn++ % members.size()]); });
}

// Waits (real time) until `done` says so; false, after an error, when it does not within 30 s.
template <typename Done>
bool WaitFor(const std::string& what, Done done) {
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (Clock::now() > deadline) {
            g_Errors.Add(what + " did not end within 30 s");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// Every simulated minute: the wheel to the other of filters 0 and 1, then the focuser 200
// steps out or back, each waited for.
void Move(AlpacaClient& client, Clock::duration period, const std::atomic<bool>& stop, long& moves) {
    const auto start = client.Get("focuser/0/position");
    const auto maxStep = client.Get("focuser/0/maxstep");
    if (!start || !maxStep) return;
    const int home = start->get<int>();
    const int away = home + 200 <= maxStep->get<int>() ? home + 200 : home - 200;
    bool out = true;
    int filter = 1;
    Every(period, stop, [&] {
        if (client.Put("filterwheel/0/position", {{"Position", std::to_string(filter)}})) {
            WaitFor("the wheel move to " + std::to_string(filter), [&] {
                const auto p = client.Get("filterwheel/0/position");
                return !p || *p == filter;
            });
        }
        filter = 1 - filter;
        const int target = out ? away : home;
        if (client.Put("focuser/0/move", {{"Position", std::to_string(target)}})) {
            WaitFor("the focuser move to " + std::to_string(target), [&] {
                const auto moving = client.Get("focuser/0/ismoving");
                if (!moving) return true;
                if (*moving == true) return false;
                const auto p = client.Get("focuser/0/position");
                return !p || *p == target;
            });
        }
        out = !out;
        ++moves;
    });
}

// ---- the temperature log ----

struct LogCount {
    long lines = 0;         // data lines in all files
    long headers = 0;
    long badLines = 0;      // lines that are neither
    long gaps = 0;          // consecutive lines more than kMaxLineGapSeconds apart
    long skipped = 0;       // ticks missing between the first and the last line
    long maxGap = 0;        // seconds
    std::vector<std::pair<std::string, long>> files;  // name, data lines
};

// Days from 1970-01-01 to a civil date.
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

// Reads term_log_YYYY-MM-DD.csv files in name order; the time of a line is the file's date plus
// its "HH:MM:SS" (hours past 24 after midnight), in seconds of local time.
LogCount CountLog(const std::string& dir) {
    LogCount count;
    std::vector<fs::path> paths;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
        if (entry.path().filename().string().rfind("term_log_", 0) == 0) paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    std::optional<long long> first, previous;
    for (const auto& path : paths) {
        int y = 0, m = 0, d = 0;
        if (std::sscanf(path.filename().c_str(), "term_log_%d-%d-%d.csv", &y, &m, &d) != 3) continue;
        const long long day = DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) * 86400;
        std::ifstream in(path, std::ios::binary);
        std::string line;
        long lines = 0;
        while (std::getline(in, line)) {
            if (line.rfind("Time,", 0) == 0) {
                ++count.headers;
                continue;
            }
            int h = 0, mi = 0, s = 0;
            if (line.empty() || line.back() != '\r' || std::sscanf(line.c_str(), "%d:%d:%d,", &h, &mi, &s) != 3) {
                ++count.badLines;
                continue;
            }
            ++lines;
            const long long at = day + h * 3600LL + mi * 60LL + s;
            if (previous) {
                const long long gap = at - *previous;
                count.maxGap = std::max<long>(count.maxGap, static_cast<long>(gap));
                if (gap > kMaxLineGapSeconds || gap < 0) ++count.gaps;
            }
            if (!first) first = at;
            previous = at;
        }
        count.lines += lines;
        count.files.emplace_back(path.filename().string(), lines);
    }
    // A loop held up past a tick fires it once, late, and counts the period from then: the
    // span between the first and the last line shows how many ticks went missing.
    if (first && previous)
        count.skipped = std::lround(static_cast<double>(*previous - *first) / kTickSeconds) + 1 - count.lines;
    return count;
}

struct Reading {
    long rss = -1;
    long fds = -1;
};

Reading Measure(int pid) { return {ResidentKiB(pid), OpenDescriptors(pid)}; }

// The same with no request in flight, for the readings that are compared.
Reading MeasureQuiet(int pid) {
    g_Gate.Close();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let closed connections go
    const Reading reading = Measure(pid);
    g_Gate.Open();
    return reading;
}

int Run(const Args& a) {
    const auto toReal = [&a](double simulatedSeconds) {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(simulatedSeconds / a.scale));
    };
    const auto runLength = toReal(a.hours * 3600.0);
    std::printf("soak: %.2f simulated hours at %g times as fast: %.1f real minutes; %d pollers at 2 Hz simulated "
                "(every %.1f ms), one mover every simulated minute (every %.2f s)\n",
                a.hours, a.scale, std::chrono::duration<double>(runLength).count() / 60.0, kPollers,
                std::chrono::duration<double, std::milli>(toReal(kPollSeconds)).count(),
                std::chrono::duration<double>(toReal(kMoveSeconds)).count());
    std::fflush(stdout);
    const Reading before = MeasureQuiet(a.pid);
    const double cpuBefore = CpuSeconds(a.pid);

    // Connect every client; the first connection opens the link.
    AlpacaClient mover(a.port, 99);
    const auto connectedAt = Clock::now();
    if (!mover.Put("filterwheel/0/connected", {{"Connected", "true"}}) ||
        !mover.Put("focuser/0/connected", {{"Connected", "true"}})) {
        std::fprintf(stderr, "soak: the mover could not connect\n");
        for (const auto& e : g_Errors.First()) std::fprintf(stderr, "  %s\n", e.c_str());
        return 1;
    }
    for (int k = 0; k < kPollers; ++k) {
        AlpacaClient c(a.port, 100 + k);
        c.Put(k % 2 == 0 ? "focuser/0/connected" : "filterwheel/0/connected", {{"Connected", "true"}});
    }

    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int k = 0; k < kPollers; ++k) threads.emplace_back(Poll, a.port, k, toReal(kPollSeconds), std::cref(stop));
    long moves = 0;
    threads.emplace_back([&] { Move(mover, toReal(kMoveSeconds), stop, moves); });

    // Watch: the warm-up reading after a tenth of the run, then one reading per real second.
    std::FILE* trace = a.trace.empty() ? nullptr : std::fopen(a.trace.c_str(), "w");
    if (trace) std::fprintf(trace, "real_s,simulated_h,rss_kib,fds,requests,errors\n");
    const auto start = Clock::now();
    const auto warmEnd = start + runLength / 10;
    const auto end = start + runLength;
    std::optional<Reading> warm;
    Reading last, peak;
    auto nextPrint = start;
    for (auto now = Clock::now(); now < end; now = Clock::now()) {
        std::this_thread::sleep_until(std::min(end, now + std::chrono::seconds(1)));
        now = Clock::now();
        if (now >= end) break;
        last = !warm && now >= warmEnd ? MeasureQuiet(a.pid) : Measure(a.pid);
        if (last.rss < 0) {
            std::fprintf(stderr, "soak: the service (pid %d) is gone\n", a.pid);
            stop = true;
            break;
        }
        peak.rss = std::max(peak.rss, last.rss);
        peak.fds = std::max(peak.fds, last.fds);
        if (!warm && now >= warmEnd) warm = last;
        const double realS = std::chrono::duration<double>(now - start).count();
        if (trace)
            std::fprintf(trace, "%.1f,%.3f,%ld,%ld,%ld,%ld\n", realS, realS * a.scale / 3600.0, last.rss, last.fds,
                         g_Requests.load(), g_Errors.Count());
        if (now >= nextPrint) {
            std::printf("  %6.2f h simulated: rss %ld KiB, %ld descriptors, %ld requests, %ld errors\n",
                        realS * a.scale / 3600.0, last.rss, last.fds, g_Requests.load(), g_Errors.Count());
            std::fflush(stdout);
            nextPrint += runLength / 12;
        }
    }
    const Reading atEnd = MeasureQuiet(a.pid);
    stop = true;
    for (auto& t : threads) t.join();
    if (trace) std::fclose(trace);

    for (int k = 0; k < kPollers; ++k) {
        AlpacaClient c(a.port, 100 + k);
        c.Put(k % 2 == 0 ? "focuser/0/connected" : "filterwheel/0/connected", {{"Connected", "false"}});
    }
    mover.Put("filterwheel/0/connected", {{"Connected", "false"}});
    mover.Put("focuser/0/connected", {{"Connected", "false"}});
    const auto disconnectedAt = Clock::now();
    mover.Close();  // its kept-alive connection would count in the service's descriptors
    std::this_thread::sleep_for(toReal(2 * kTickSeconds));  // no line may follow the disconnection
    const Reading after = MeasureQuiet(a.pid);
    const double cpuUsed = CpuSeconds(a.pid) - cpuBefore;

    // ---- figures and bounds ----
    bool pass = true;
    auto verdict = [&pass](bool ok) {
        pass = pass && ok;
        return ok ? "ok" : "OUT OF BOUNDS";
    };
    if (!warm) warm = last;
    const double rssChange = warm->rss > 0 ? static_cast<double>(atEnd.rss - warm->rss) / static_cast<double>(warm->rss) : 1.0;
    const double connectedSim = std::chrono::duration<double>(disconnectedAt - connectedAt).count() * a.scale;
    const long expected = std::lround(connectedSim / kTickSeconds);
    const LogCount log = CountLog(a.logDir);
    const long lineSlack = std::max(2L, std::lround(static_cast<double>(expected) * 0.005));

    std::printf("\nsoak report (%.2f simulated hours, time %g times as fast, %.1f real minutes)\n", a.hours, a.scale,
                std::chrono::duration<double>(disconnectedAt - connectedAt).count() / 60.0);
    std::printf("resident memory: %ld KiB before the clients, %ld KiB after the warm-up, %ld KiB at the end "
                "(%+.2f %%, bound 5 %%), peak %ld KiB, %ld KiB after the clients left: %s\n",
                before.rss, warm->rss, atEnd.rss, rssChange * 100.0, peak.rss, after.rss,
                verdict(atEnd.rss > 0 && std::fabs(rssChange) <= kRssBound));
    std::printf("open descriptors: %ld before the clients, %ld after the warm-up, %ld at the end (bound +%ld), "
                "peak %ld, %ld after the clients left: %s\n",
                before.fds, warm->fds, atEnd.fds, kFdSlack, peak.fds, after.fds,
                verdict(atEnd.fds >= 0 && atEnd.fds <= warm->fds + kFdSlack && after.fds <= before.fds + kFdSlack));
    std::printf("service CPU time: %.1f s, %.1f %% of one core over the run\n", cpuUsed,
                100.0 * cpuUsed / std::chrono::duration<double>(disconnectedAt - connectedAt).count());
    std::printf("client errors: %ld in %ld requests, %ld move rounds: %s\n", g_Errors.Count(), g_Requests.load(), moves,
                verdict(g_Errors.Count() == 0 && g_Requests.load() > 0 && moves > 0));
    for (const auto& e : g_Errors.First()) std::printf("  %s\n", e.c_str());
    const long skippedBound = std::max(2L, std::lround(static_cast<double>(expected) * kSkippedBound));
    std::printf("temperature log: %ld lines + %ld skipped ticks = %ld, %ld expected for %.0f simulated seconds "
                "connected (bound +-%ld): %s\n",
                log.lines, log.skipped, log.lines + log.skipped, expected, connectedSim, lineSlack,
                verdict(std::labs(log.lines + log.skipped - expected) <= lineSlack));
    std::printf("  skipped ticks: %ld in %ld gaps above %.0f s (largest %ld s), bound %ld: %s\n", log.skipped, log.gaps,
                kMaxLineGapSeconds, log.maxGap, skippedBound, verdict(log.skipped <= skippedBound));
    std::printf("  malformed lines: %ld: %s\n", log.badLines, verdict(log.badLines == 0));
    for (const auto& [name, lines] : log.files) std::printf("  %s: %ld lines\n", name.c_str(), lines);
    if (a.files > 0)
        std::printf("  %zu files (%d expected), %ld header lines: %s\n", log.files.size(), a.files, log.headers,
                    verdict(static_cast<int>(log.files.size()) == a.files && log.headers == a.files));
    std::printf("  sample history: %ld ticks recorded, cap 10000: %s\n", log.lines,
                log.lines > 10000 ? "passed (the oldest samples are being dropped)" : "not reached in this run");
    std::printf("soak: %s\n", pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const auto args = ParseArgs(argc, argv);
    if (!args) {
        std::fprintf(stderr, "usage: bench_soak --port P --pid PID --scale S --hours H --log-dir DIR [--files N] "
                             "[--trace FILE]\n");
        return 2;
    }
    return Run(*args);
}
