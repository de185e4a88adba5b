// Test helper of the Windows test programs under Wine: the Linux velq3-sim (VELQ3_SIM_PATH, a
// Unix path) run from a Windows program, with the same face as the Linux tests' SimProcess.
// Wine starts a Unix program it is handed, but gives back neither a process handle nor its
// output; so the simulator links its pseudo-terminal into the test's folder (the device opens
// that link through Wine's Z: drive), takes control lines on a loopback TCP port whose number it
// writes into that folder, and ends when the test's control connection closes, which also
// happens when the test program dies.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifndef VELQ3_SIM_PATH
#error "VELQ3_SIM_PATH must name the Linux velq3-sim binary"
#endif

namespace velq3::test {

// A Unix path as the Windows program reaches it, on Wine's Z: drive.
inline std::string WinePath(const std::string& unixPath) {
    std::string p = "Z:" + unixPath;
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

// A fresh folder under the Unix temporary folder (TMPDIR, else /tmp), and a settings key of the
// same name under HKCU\Software\velq3-tests; both removed by the destructor.
class TempDir {
public:
    TempDir() {
        static std::atomic<int> counter{0};
        const char* base = std::getenv("TMPDIR");
        const std::string root = base && *base == '/' ? base : "/tmp";
        for (int attempt = 0; attempt < 100 && unix_.empty(); ++attempt) {
            const std::string name = "velq3-wtest-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                     std::to_string(counter++) + "-" + std::to_string(::GetTickCount64() % 100000);
            if (::CreateDirectoryA(WinePath(root + "/" + name).c_str(), nullptr)) {
                name_ = name;
                unix_ = root + "/" + name;
            }
        }
        if (unix_.empty()) throw std::runtime_error("cannot make a folder under " + root);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path(), ec);
        ::RegDeleteTreeA(HKEY_CURRENT_USER, ("Software\\velq3-tests\\" + name_).c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string path() const { return WinePath(unix_); }
    std::string file(const std::string& name) const { return path() + "\\" + name; }
    std::string unixFile(const std::string& name) const { return unix_ + "/" + name; }
    // The settings key of this folder, as a hive root.
    std::string registryRoot() const { return "HKEY_CURRENT_USER\\Software\\velq3-tests\\" + name_; }

private:
    std::string name_;
    std::string unix_;
};

class SimProcess {
public:
    // Starts the simulator with `args` (its memory file in the temporary folder unless args
    // name one) and waits until it serves its terminal and its control port.
    explicit SimProcess(std::vector<std::string> args = {}) {
        static const bool winsock = [] {
            WSADATA data;
            return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
        }();
        if (!winsock) throw std::runtime_error("WSAStartup failed");
        bool memoryNamed = false;
        for (const auto& a : args) memoryNamed = memoryNamed || a == "--eeprom";
        if (!memoryNamed) args.insert(args.end(), {"--eeprom", dir_.unixFile("eeprom.bin")});
        args.insert(args.end(), {"--link", dir_.unixFile("tty"), "--control-port", dir_.unixFile("control.port"),
                                 "--exit-with-control"});
        std::wstring command = Wide(WinePath(VELQ3_SIM_PATH));
        for (const auto& a : args) command += L" \"" + Wide(a) + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi{};
        if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
            throw std::runtime_error("cannot start " + std::string(VELQ3_SIM_PATH));
        if (pi.hProcess) ::CloseHandle(pi.hProcess);
        if (pi.hThread) ::CloseHandle(pi.hThread);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        int port = 0;
        while (std::chrono::steady_clock::now() < deadline) {
            std::ifstream portFile(dir_.file("control.port"));
            if (portFile >> port && Exists(ttyPath())) break;
            port = 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (port <= 0 || port > 65535) throw std::runtime_error("velq3-sim did not open its terminal and control port");
        control_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = ::htons(static_cast<u_short>(port));
        addr.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        const DWORD timeoutMs = 5000;
        ::setsockopt(control_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof timeoutMs);
        if (control_ == INVALID_SOCKET || ::connect(control_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
            throw std::runtime_error("cannot reach velq3-sim's control port");
    }

    // Closing the control connection ends the simulator; it removes its link as it goes.
    ~SimProcess() {
        if (control_ != INVALID_SOCKET) ::closesocket(control_);
        for (int i = 0; i < 100 && Exists(ttyPath()); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // The terminal, as the device opens it.
    std::string ttyPath() const { return dir_.file("tty"); }
    const TempDir& dir() const { return dir_; }

    // Sends one control line and waits for the answer; anything but "ok" fails the test.
    void control(const std::string& line) {
        const std::string reply = query(line);
        if (reply.rfind("ok", 0) != 0) ADD_FAILURE() << "control \"" << line << "\" answered \"" << reply << "\"";
    }

    // Sends one control line and returns the last line of the answer ("ok" or "error: ...").
    std::string query(const std::string& line) {
        const std::string text = line + "\n";
        if (::send(control_, text.data(), static_cast<int>(text.size()), 0) != static_cast<int>(text.size()))
            return "error: the control connection is gone";
        char buf[256];
        for (;;) {
            size_t nl;
            while ((nl = pending_.find('\n')) != std::string::npos) {
                const std::string got = pending_.substr(0, nl);
                pending_.erase(0, nl + 1);
                if (got.rfind("ok", 0) == 0 || got.rfind("error", 0) == 0) return got;
            }
            const int n = ::recv(control_, buf, sizeof buf, 0);
            if (n <= 0) return "error: no answer on the control connection";
            pending_.append(buf, static_cast<size_t>(n));
        }
    }

private:
    static std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }
    // Whether the folder lists the name (the terminal's link is looked at, never opened).
    static bool Exists(const std::string& path) {
        WIN32_FIND_DATAA found;
        const HANDLE h = ::FindFirstFileA(path.c_str(), &found);
        if (h == INVALID_HANDLE_VALUE) return false;
        ::FindClose(h);
        return true;
    }

    TempDir dir_;
    SOCKET control_ = INVALID_SOCKET;
    std::string pending_;
};

}  // namespace velq3::test
