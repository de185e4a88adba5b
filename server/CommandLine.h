// The server's command line: the registration switches, found anywhere in a lower-cased copy
// of at most 1023 characters, and the switch with which an activation starts the server.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace velq3 {

inline constexpr std::size_t kCommandLineCopyLength = 1023;

struct CommandLineInfo {
    std::string copy;               // the arguments joined with blanks, cut and lower-cased
    bool registerServer = false;    // "/regserver" anywhere in the copy
    bool unregisterServer = false;  // "/unregserver" anywhere in the copy, and no "/regserver"
    bool embedding = false;         // started for a client: an argument "-Embedding" or "/Embedding"

    bool RegistrationRun() const { return registerServer || unregisterServer; }
};

// `arguments` are those after the program name. The embedding test looks at each whole
// argument: '-' or '/' followed by "Embedding" or "Automation" in any case.
CommandLineInfo ParseCommandLine(std::span<const std::string> arguments);

} // namespace velq3
