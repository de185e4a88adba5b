// Formatting and output of command-log lines.
#include "link/TimeLogFile.h"

#include <cstdarg>

#include "platform/DebugSink.h"
#include "platform/Files.h"

namespace velq3 {

CTimeLogFile::CTimeLogFile() = default;

CTimeLogFile::~CTimeLogFile() { Close(); }

void CTimeLogFile::Log(const char* format, ...) {
    char line[kLineBufferSize];
    int used = std::snprintf(line, sizeof line, "%.3f : ", ElapsedMs() / 1000.0);
    if (used < 0) return;
    va_list args;
    va_start(args, format);
    std::vsnprintf(line + used, sizeof line - static_cast<std::size_t>(used), format, args);
    va_end(args);
    std::string_view text(line);  // vsnprintf always terminates, cutting a long message
    if (m_Sink) m_Sink(text);
    else DebugOutput(text);
    if (m_File) std::fwrite(text.data(), 1, text.size(), m_File);
}

bool CTimeLogFile::Open(const std::string& path) {
    Close();
    m_File = OpenFile(Utf8Path(path), "wb");  // the same bytes on Windows: no CR added
    return m_File != nullptr;
}

void CTimeLogFile::Close() {
    if (m_File) std::fclose(m_File);
    m_File = nullptr;
}

} // namespace velq3
