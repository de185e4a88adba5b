// Self-registration of the Windows program: the five classes' keys (CLSID with LocalServer32,
// ProgID, Programmable, TypeLib, Version; the ProgID keys) in both registry views, the type
// library for win64 and win32, and with administrator rights the ASCOM Profile entries that
// list the drivers in the ASCOM Chooser. Per user (HKCU\Software\Classes,
// RegisterTypeLibForUser) when the per-user mode is on, else machine-wide.
#pragma once

#include <string>
#include <vector>

#include <windows.h>

namespace velq3 {

struct RegistrationOptions {
    std::wstring executable;  // full path of velq3.exe
    bool perUser = false;
};

struct RegistrationResult {
    HRESULT hr = S_OK;                 // S_OK, or the first failure (later steps still run)
    bool perUser = false;              // where the classes went
    bool chooserEntries = false;       // the ASCOM Profile entries were written (or removed)
    std::vector<std::string> notes;    // lines for the operator
};

// "/regserver".
RegistrationResult RegisterComServer(const RegistrationOptions& options);
// "/unregserver": removes what RegisterComServer wrote (the CLSID key itself stays).
RegistrationResult UnregisterComServer(const RegistrationOptions& options);

// The ASCOM Profile key of each class ("FilterWheel Drivers\VELQ3.FilterWheel") and the name
// the Chooser shows for it.
struct ChooserEntry {
    const char* driversKey;
    const char* progId;
    const char* displayName;
};
const std::vector<ChooserEntry>& ChooserEntries();

} // namespace velq3
