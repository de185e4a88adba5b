// The command log: time-stamped lines to the debug output and, when opened, to a file.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "platform/Stopwatch.h"

namespace velq3 {

class CTimeLogFile {
public:
    static constexpr std::size_t kLineBufferSize = 2048;

    // Seconds since the log's start; tests inject their own.
    using SecondsSource = std::function<double()>;
    // Where every line goes besides the file; standard error unless replaced.
    using Sink = std::function<void(std::string_view)>;

    CTimeLogFile();
    ~CTimeLogFile();
    CTimeLogFile(const CTimeLogFile&) = delete;
    CTimeLogFile& operator=(const CTimeLogFile&) = delete;

    // Formats one line, "%.3f : " then the message (which brings its own line end), cut to
    // the 2048-byte buffer.
    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // Creates or truncates the file at `path` for writing; true when it opened.
    bool Open(const std::string& path);
    void Close();
    bool IsFileOpen() const { return m_File != nullptr; }

    // Milliseconds since the log started.
    double ElapsedMs() const { return m_Seconds ? m_Seconds() * 1000.0 : m_Start.ElapsedMs(); }

    void SetSecondsSource(SecondsSource source) { m_Seconds = std::move(source); }
    void SetSink(Sink sink) { m_Sink = std::move(sink); }

private:
    std::FILE* m_File = nullptr;
    Stopwatch m_Start;
    SecondsSource m_Seconds;
    Sink m_Sink;
};

} // namespace velq3
