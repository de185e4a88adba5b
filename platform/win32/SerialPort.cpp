// The serial port on Windows: a COM port opened without sharing, DCB line settings and
// COMMTIMEOUTS that carry the link's time-outs (the driver waits, not this code).
#include "platform/SerialPort.h"

#include "platform/win32/Utf16.h"

#include <windows.h>

#include <cerrno>

namespace velq3 {
namespace {

constexpr DWORD kQueueBytes = 512;

HANDLE Win(PortHandle h) { return reinterpret_cast<HANDLE>(h); }

COMMTIMEOUTS ToCommTimeouts(const SerialTimeouts& t) {
    COMMTIMEOUTS c{};
    c.ReadIntervalTimeout = static_cast<DWORD>(t.readIntervalMs);
    c.ReadTotalTimeoutMultiplier = static_cast<DWORD>(t.readTotalMultiplierMs);
    c.ReadTotalTimeoutConstant = static_cast<DWORD>(t.readTotalConstantMs);
    c.WriteTotalTimeoutMultiplier = static_cast<DWORD>(t.writeTotalMultiplierMs);
    c.WriteTotalTimeoutConstant = static_cast<DWORD>(t.writeTotalConstantMs);
    return c;
}

bool IsDefault(const SerialTimeouts& t) {
    const SerialTimeouts d;
    return t.readIntervalMs == d.readIntervalMs && t.readTotalMultiplierMs == d.readTotalMultiplierMs &&
           t.readTotalConstantMs == d.readTotalConstantMs &&
           t.writeTotalMultiplierMs == d.writeTotalMultiplierMs &&
           t.writeTotalConstantMs == d.writeTotalConstantMs;
}

// Time-outs other than the defaults that SerialOpen set hold for one call.
class TimeoutsForCall {
public:
    TimeoutsForCall(HANDLE h, const SerialTimeouts& t) : h_(h), changed_(!IsDefault(t)) {
        if (changed_) {
            COMMTIMEOUTS c = ToCommTimeouts(t);
            ::SetCommTimeouts(h_, &c);
        }
    }
    ~TimeoutsForCall() {
        if (changed_) {
            COMMTIMEOUTS c = ToCommTimeouts(SerialTimeouts{});
            ::SetCommTimeouts(h_, &c);
        }
    }
    TimeoutsForCall(const TimeoutsForCall&) = delete;
    TimeoutsForCall& operator=(const TimeoutsForCall&) = delete;

private:
    HANDLE h_;
    bool changed_;
};

void Fail(std::string* error, const std::string& what, DWORD code) {
    if (error) *error = what + ": " + win32::ErrorText(code);
}

}  // namespace

PortHandle SerialOpen(const std::string& path, int baud, std::string* error) {
    // No sharing (exclusive), an existing device only, synchronous I/O.
    HANDLE h = ::CreateFileW(win32::Widen(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        switch (code) {
        case ERROR_FILE_NOT_FOUND: case ERROR_PATH_NOT_FOUND: case ERROR_BAD_PATHNAME:
            Fail(error, "no such port " + path, code);
            errno = ENOENT;
            break;
        case ERROR_ACCESS_DENIED: case ERROR_SHARING_VIOLATION:
            // A COM port another program has open refuses a second open this way.
            Fail(error, "port in use: " + path, code);
            errno = EBUSY;
            break;
        default:
            Fail(error, "open " + path, code);
            errno = EIO;
        }
        return kNoPort;
    }
    if (!::SetupComm(h, kQueueBytes, kQueueBytes)) {
        Fail(error, "not a serial port: " + path, ::GetLastError());
        ::CloseHandle(h);
        errno = ENOTTY;
        return kNoPort;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    ::GetCommState(h, &dcb);
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_DISABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = FALSE;
    ::SetCommState(h, &dcb);  // not checked, as on Linux
    COMMTIMEOUTS timeouts = ToCommTimeouts(SerialTimeouts{});
    ::SetCommTimeouts(h, &timeouts);
    ::SetCommMask(h, EV_RXCHAR);
    ::PurgeComm(h, PURGE_TXCLEAR | PURGE_RXCLEAR);
    return reinterpret_cast<PortHandle>(h);
}

size_t SerialRead(PortHandle h, void* buf, size_t n, const SerialTimeouts& t) {
    if (h == kNoPort || n == 0) return 0;
    TimeoutsForCall use(Win(h), t);
    DWORD got = 0;
    if (!::ReadFile(Win(h), buf, static_cast<DWORD>(n), &got, nullptr)) {
        // A failing line (an adapter pulled out) reads as a silent one: wait out the time-out
        // so that callers looping on reads never spin.
        ::Sleep(static_cast<DWORD>(t.readTotalConstantMs + t.readTotalMultiplierMs * static_cast<long long>(n)));
        return 0;
    }
    return got;
}

size_t SerialWrite(PortHandle h, const void* buf, size_t n, const SerialTimeouts& t) {
    if (h == kNoPort) return 0;
    TimeoutsForCall use(Win(h), t);
    DWORD done = 0;
    if (!::WriteFile(Win(h), buf, static_cast<DWORD>(n), &done, nullptr)) return done;
    return done;
}

bool SerialDrain(PortHandle h) { return h != kNoPort && ::FlushFileBuffers(Win(h)); }

void SerialPurge(PortHandle h) {
    if (h != kNoPort) ::PurgeComm(Win(h), PURGE_TXCLEAR | PURGE_RXCLEAR);
}

bool SerialHungUp(PortHandle h) {
    if (h == kNoPort) return false;
    // A removed device fails every request on its handle; a working port answers this one.
    DWORD errors = 0;
    COMSTAT status{};
    return !::ClearCommError(Win(h), &errors, &status);
}

void SerialClose(PortHandle h) {
    if (h != kNoPort) ::CloseHandle(Win(h));
}

}  // namespace velq3
