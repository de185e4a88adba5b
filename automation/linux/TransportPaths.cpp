// Paths of the out-of-process transport.
#include "automation/TransportPaths.h"

namespace velq3 {

std::filesystem::path DefaultSocketPath(const EnvLookup& env) { return RuntimeDir(env) / kTransportSocketName; }

std::filesystem::path LockPathFor(const std::filesystem::path& socketPath) {
    std::filesystem::path lock = socketPath;
    lock += ".lock";
    return lock;
}

std::filesystem::path DefaultServerLogPath(const EnvLookup& env) { return DataDir(env) / "server.log"; }

} // namespace velq3
