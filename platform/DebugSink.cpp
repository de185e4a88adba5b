// The parts of the diagnostic channel that are the same on every system: the split into pieces
// with the count of what was dropped, rotation settings and the process's channel. The writes,
// the rotation itself and the file identity are the system bodies' (linux/, win32/).
#include "platform/DebugSink.h"

namespace velq3 {

void DebugChannel::WritePieces(std::string_view text, std::size_t pieceSize) {
    while (!text.empty()) {
        const std::string_view piece = text.substr(0, pieceSize);
        if (!WritePiece(piece)) {
            m_Dropped += text.size();
            return;
        }
        text.remove_prefix(piece.size());
    }
}

void DebugChannel::RotateAt(const std::filesystem::path& file, std::uint64_t maxBytes) {
    std::lock_guard hold(m_Mutex);
    if (!SameFile(m_Fd, file)) return;
    m_RotateFile = file;
    m_RotateBytes = maxBytes;
}

std::uint64_t DebugChannel::DroppedBytes() const {
    std::lock_guard hold(m_Mutex);
    return m_Dropped;
}

DebugChannel& ProcessDebugChannel() {
    static DebugChannel channel(2);  // standard error
    return channel;
}

void DebugOutput(std::string_view text) { ProcessDebugChannel().Write(text); }

}  // namespace velq3
