// The diagnostic channel that always receives log lines (standard error; on Windows also the
// debugger output, OutputDebugString). It never holds up its caller: what a full pipe or
// terminal cannot take at once is dropped and counted (Linux), and a log file behind it can be
// rotated at a size.
#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string_view>

namespace velq3 {

class DebugChannel {
public:
    // Writes to `fd`, which the channel does not own.
    explicit DebugChannel(int fd) : m_Fd(fd) {}
    DebugChannel(const DebugChannel&) = delete;
    DebugChannel& operator=(const DebugChannel&) = delete;

    // Writes the text as it is, in pieces that a pipe takes whole, so that lines of concurrent
    // writers do not interleave. Never waits: a piece that does not fit now is dropped with
    // the rest of the text.
    void Write(std::string_view text);

    // Gives the channel a non-blocking open of its own of the pipe or terminal behind the
    // descriptor (put in its place), so that others sharing the old one are not affected.
    // Anything else is left as it is; the writes still never wait.
    void MakeNonBlocking();

    // When the descriptor is the file `file`: before a write would take it past `maxBytes`,
    // the file is renamed to `file` + ".1" (replacing an older one) and a new, empty file
    // takes its place behind the descriptor.
    void RotateAt(const std::filesystem::path& file, std::uint64_t maxBytes);

    // Bytes dropped because the reader did not keep up (or the channel failed).
    std::uint64_t DroppedBytes() const;

private:
    // Writes the text in pieces of at most `pieceSize` bytes; what does not go out is counted
    // as dropped. The caller holds m_Mutex.
    void WritePieces(std::string_view text, std::size_t pieceSize);
    bool WritePiece(std::string_view piece);
    void RotateIfFull(std::size_t adding);
    // True when `fd` is the regular file `path` (a rotation renames only the channel's own file).
    static bool SameFile(int fd, const std::filesystem::path& path);

    int m_Fd;
    mutable std::mutex m_Mutex;
    std::uint64_t m_Dropped = 0;
    std::filesystem::path m_RotateFile;  // empty: no rotation
    std::uint64_t m_RotateBytes = 0;
};

// The process's channel: standard error.
DebugChannel& ProcessDebugChannel();

// Writes to the process's channel.
void DebugOutput(std::string_view text);

} // namespace velq3
