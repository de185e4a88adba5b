// Activation: registry look-ups, connecting, and starting a server that does not listen yet.
#include "automation/Activation.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <thread>

#include "automation/RemoteClient.h"

namespace velq3 {

namespace {

using Clock = std::chrono::steady_clock;

std::string ClsidKey(const CLSID& clsid) { return "CLSID\\" + FormatGuid(clsid); }

// The server process started for a client: detached in its own session, so that it outlives
// the client and is reaped by the system (or by the nearest sub-reaper). `pid` is the server's.
HRESULT StartServer(std::vector<std::string> command, const std::filesystem::path& log, pid_t* pid) {
    command.push_back("-Embedding");
    std::vector<char*> argv;
    for (std::string& a : command) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string logPath = log.string();

    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return CO_E_SERVER_EXEC_FAILURE;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return CO_E_SERVER_EXEC_FAILURE;
    }
    if (child == 0) {
        // Only async-signal-safe calls from here on.
        ::setsid();
        const pid_t server = ::fork();
        if (server < 0) ::_exit(1);
        if (server > 0) {
            [[maybe_unused]] ssize_t n = ::write(report[1], &server, sizeof server);
            ::_exit(0);
        }
        // Nothing of the client's but the environment: no blocked signals, no open files
        // beyond the three standard ones (marked close-on-exec; kernels without the call skip it).
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::syscall(SYS_close_range, 3u, ~0u, CLOSE_RANGE_CLOEXEC);
        const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        const int out = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        int err = logPath.empty() ? -1 : ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (err < 0) err = out;
        if (in >= 0) ::dup2(in, STDIN_FILENO);
        if (out >= 0) ::dup2(out, STDOUT_FILENO);
        if (err >= 0) ::dup2(err, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        const int error = errno;
        [[maybe_unused]] ssize_t n = ::write(report[1], &error, sizeof error);
        ::_exit(127);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {}
    pid_t server = -1;
    int execError = 0;
    const bool started = ::read(report[0], &server, sizeof server) == static_cast<ssize_t>(sizeof server) &&
                         ::read(report[0], &execError, sizeof execError) <= 0;
    ::close(report[0]);
    if (!started) return CO_E_SERVER_EXEC_FAILURE;
    *pid = server;
    return S_OK;
}

// Connects to the server, starting it first when nothing listens.
HRESULT ConnectOrStart(const CLSID& clsid, const ActivationOptions& options,
                       std::shared_ptr<RemoteConnection>* connection) {
    if (!options.classesRoot) return E_INVALIDARG;
    const auto command = LocalServerCommand(*options.classesRoot, clsid);
    if (!command) return REGDB_E_CLASSNOTREG;
    if (Succeeded(RemoteConnection::Connect(options.socketPath, connection))) return S_OK;

    pid_t pid = -1;
    if (HRESULT hr = StartServer(*command, options.serverLog, &pid); Failed(hr)) return hr;
    // Tells when the server ends before it listens (it could not start, or lost the socket to
    // another server started at the same moment: then that one answers).
    const int exited = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    const auto deadline = Clock::now() + options.startTimeout;
    auto pause = std::chrono::milliseconds(2);
    HRESULT hr = CO_E_SERVER_EXEC_FAILURE;
    for (;;) {
        if (Succeeded(RemoteConnection::Connect(options.socketPath, connection))) {
            hr = S_OK;
            break;
        }
        if (Clock::now() >= deadline) break;
        bool ended = false;
        if (exited >= 0) {
            pollfd p{exited, POLLIN, 0};
            ended = ::poll(&p, 1, static_cast<int>(pause.count())) > 0;
        } else {
            ended = ::kill(pid, 0) != 0 && errno == ESRCH;
            std::this_thread::sleep_for(pause);
        }
        if (ended) {
            if (Succeeded(RemoteConnection::Connect(options.socketPath, connection))) hr = S_OK;
            break;
        }
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
    if (exited >= 0) ::close(exited);
    return hr;
}

} // namespace

HRESULT CLSIDFromProgID(const RegistryHive& classesRoot, std::string_view progId, CLSID* clsid) {
    if (!clsid) return E_POINTER;
    *clsid = CLSID{};
    if (auto parsed = ParseGuid(progId)) {
        *clsid = *parsed;
        return S_OK;
    }
    if (progId.empty() || progId.find('\\') != std::string_view::npos) return CO_E_CLASSSTRING;
    const auto text = classesRoot.GetString(std::string(progId) + "\\CLSID", "");
    const auto parsed = text ? ParseGuid(*text) : std::nullopt;
    if (!parsed) return CO_E_CLASSSTRING;
    *clsid = *parsed;
    return S_OK;
}

std::vector<std::string> SplitCommandLine(std::string_view line) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                word += '"';
                ++i;
            } else {
                quoted = !quoted;
            }
            inWord = true;
        } else if ((c == ' ' || c == '\t') && !quoted) {
            if (inWord) words.push_back(std::exchange(word, {}));
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

std::optional<std::vector<std::string>> LocalServerCommand(const RegistryHive& classesRoot, const CLSID& clsid) {
    const auto line = classesRoot.GetString(ClsidKey(clsid) + "\\LocalServer32", "");
    if (!line) return std::nullopt;
    std::vector<std::string> words = SplitCommandLine(*line);
    if (words.empty() || words[0].empty()) return std::nullopt;
    return words;
}

HRESULT CoGetClassObject(const CLSID& clsid, const ActivationOptions& options, const IID& iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    std::shared_ptr<RemoteConnection> connection;
    if (HRESULT hr = ConnectOrStart(clsid, options, &connection); Failed(hr)) return hr;
    return connection->GetClassObject(clsid, iid, object);
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, const ActivationOptions& options, const IID& iid,
                         void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    HRESULT hr = E_UNEXPECTED;
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::shared_ptr<RemoteConnection> connection;
        if (hr = ConnectOrStart(clsid, options, &connection); Failed(hr)) return hr;
        hr = connection->CreateInstance(clsid, iid, object);
        // The server was ending and closed the connection: the next attempt finds it gone
        // (or starts a new one).
        if (hr != RPC_E_CALL_FAILED) return hr;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return hr;
}

} // namespace velq3
