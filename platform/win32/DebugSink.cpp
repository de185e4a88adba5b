// The diagnostic channel on Windows: every line goes to the debugger (OutputDebugStringW, seen
// by DebugView or an attached debugger) and to the channel's descriptor when it is open.
#include "platform/DebugSink.h"

#include "platform/win32/Utf16.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

namespace velq3 {

namespace {

constexpr std::size_t kPiece = 4096;

}  // namespace

bool DebugChannel::SameFile(int fd, const std::filesystem::path& path) {
    BY_HANDLE_FILE_INFORMATION a{}, b{};
    const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(fd));
    if (handle == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(handle, &a)) return false;
    HANDLE other = ::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr);
    if (other == INVALID_HANDLE_VALUE) return false;
    const bool ok = ::GetFileInformationByHandle(other, &b);
    ::CloseHandle(other);
    return ok && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

void DebugChannel::Write(std::string_view text) {
    std::lock_guard hold(m_Mutex);
    ::OutputDebugStringW(win32::Widen(text).c_str());
    if (m_Fd < 0 || ::_get_osfhandle(m_Fd) == -1) return;  // no console or file (a windowed start)
    WritePieces(text, kPiece);
}

bool DebugChannel::WritePiece(std::string_view piece) {
    if (!m_RotateFile.empty()) RotateIfFull(piece.size());
    while (!piece.empty()) {
        const int n = ::_write(m_Fd, piece.data(), static_cast<unsigned>(piece.size()));
        if (n <= 0) return false;
        piece.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

void DebugChannel::RotateIfFull(std::size_t adding) {
    const long long size = ::_filelengthi64(m_Fd);
    if (size <= 0 || static_cast<std::uint64_t>(size) + adding <= m_RotateBytes) return;
    if (!SameFile(m_Fd, m_RotateFile)) return;
    std::filesystem::path old = m_RotateFile;
    old += ".1";
    // Windows renames no file that is open without delete sharing, as the C runtime opens files:
    // the descriptor lets go of the file first (it points at NUL meanwhile), and takes up the
    // file again, at its end, when the rename fails after all (another holder).
    const int nul = ::_wopen(L"NUL", _O_WRONLY | _O_BINARY | _O_NOINHERIT);
    if (nul < 0) return;
    ::_dup2(nul, m_Fd);
    ::_close(nul);
    const bool renamed = ::MoveFileExW(m_RotateFile.c_str(), old.c_str(), MOVEFILE_REPLACE_EXISTING);
    const int flags = renamed ? _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT
                              : _O_WRONLY | _O_APPEND | _O_BINARY | _O_NOINHERIT;
    const int fd = ::_wopen(m_RotateFile.c_str(), flags, _S_IREAD | _S_IWRITE);
    if (fd < 0) return;  // the writes go nowhere rather than into a file that cannot be kept
    ::_dup2(fd, m_Fd);
    ::_close(fd);
}

// Writes to a console or file do not wait on a reader as a full pipe does on Linux; a pipe is
// left as it is, since its mode is shared with whoever else holds it.
void DebugChannel::MakeNonBlocking() {}

}  // namespace velq3
