// Activation of out-of-process objects: a ProgID or CLSID is looked up in the classes-root
// hive, the client connects to the server's socket and, when nothing listens there, starts
// the class's registered LocalServer32 command with "-Embedding" and waits for the socket.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/Interfaces.h"
#include "platform/Registry.h"

namespace velq3 {

struct ActivationOptions {
    const RegistryHive* classesRoot = nullptr;  // the registrations
    std::filesystem::path socketPath;           // the transport's socket
    // How long a started server may take to listen.
    std::chrono::milliseconds startTimeout{15000};
    // Standard error of a started server (truncated at its start); empty: discarded.
    std::filesystem::path serverLog;
};

// The CLSID of a ProgID ("VELQ3.FilterWheel", any case) from its registration, or of a
// braced CLSID string. CO_E_CLASSSTRING when neither.
HRESULT CLSIDFromProgID(const RegistryHive& classesRoot, std::string_view progId, CLSID* clsid);

// Splits a registered command line into program and arguments: blanks
// separate, double quotes group ("" inside quotes is one quote).
std::vector<std::string> SplitCommandLine(std::string_view line);

// The LocalServer32 command registered for `clsid`, split; nothing when it is not registered.
std::optional<std::vector<std::string>> LocalServerCommand(const RegistryHive& classesRoot, const CLSID& clsid);

// A proxy of the class object of `clsid` (IClassFactory or IUnknown), starting its server when
// needed. REGDB_E_CLASSNOTREG without a LocalServer32 registration, CO_E_SERVER_EXEC_FAILURE
// when the server cannot be started or does not listen within the time-out.
HRESULT CoGetClassObject(const CLSID& clsid, const ActivationOptions& options, const IID& iid, void** object);

// A new object of class `clsid`, through a proxy for `iid`. An outer object is refused with
// CLASS_E_NOAGGREGATION: an object in another process cannot be aggregated. When the server
// was ending just as the request came, a new server is started once.
HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, const ActivationOptions& options, const IID& iid,
                         void** object);

} // namespace velq3
