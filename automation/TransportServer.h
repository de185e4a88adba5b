// The server half of the out-of-process transport: a Unix stream socket on which clients
// create objects from the class table and call them. An I/O thread reads and writes the
// messages; every call is carried out on the main loop's thread, in the order of arrival.
// Each connection has its own table of the interface pointers it holds; when the
// connection closes, everything it held is released.
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "automation/ClassTable.h"
#include "automation/TypeInfo.h"
#include "platform/MainLoop.h"

namespace velq3 {

class TransportServer {
public:
    // Connections beyond this many are closed at once.
    static constexpr std::size_t kMaxConnections = 64;
    // Replies waiting for a client that does not read them: beyond this much, its requests wait.
    static constexpr std::size_t kMaxPendingOutput = 1u << 20;
    // Received bytes not yet taken as requests: at this much, the connection's socket is not
    // read until requests have been taken out (one frame of the largest size fits).
    static constexpr std::size_t kMaxBufferedInput = (1u << 20) + 4;

    // Creations come from `classes`; interfaces described by `marshalled` (and IDispatch) are
    // called through the object's IDispatch. All three must outlive the server's use of them
    // (until Stop()).
    TransportServer(ClassTable& classes, MainLoop& loop, const TypeLib& marshalled);
    // Stops the server; on the loop's thread.
    ~TransportServer();
    TransportServer(const TransportServer&) = delete;
    TransportServer& operator=(const TransportServer&) = delete;

    enum class StartResult {
        Started,
        Busy,    // another server holds the lock; its socket was not touched
        Failed,  // the lock file or the socket could not be made
    };

    // Takes the server lock (LockPathFor(socketPath), held with flock while serving), replaces
    // a socket file that a dead server left, listens and starts the I/O thread. Unless
    // started, `error` gets the reason.
    StartResult Start(const std::filesystem::path& socketPath, std::string* error = nullptr);

    // Stops listening, closes every connection and releases everything the connections held;
    // removes the socket file, then releases the lock. On the loop's thread; idempotent.
    void Stop();

    bool Running() const { return m_Thread.joinable(); }

    // What the connections hold now; on the loop's thread.
    std::size_t ConnectionCount() const;
    std::size_t HandleCount() const;
    // Bytes the I/O thread holds for all connections (received and not yet taken, replies not
    // yet sent), as of its last pass; from any thread.
    std::size_t BufferedBytes() const { return m_BufferedBytes.load(); }

    struct Shared;  // state shared with the tasks posted to the loop

private:
    void IoThread();

    ClassTable& m_Classes;
    MainLoop& m_Loop;
    const TypeLib& m_Marshalled;
    std::shared_ptr<Shared> m_Shared;
    std::filesystem::path m_SocketPath;
    int m_ListenFd = -1;
    int m_LockFd = -1;
    std::atomic<bool> m_Stop{false};
    std::atomic<std::size_t> m_BufferedBytes{0};
    std::thread m_Thread;
};

} // namespace velq3
