// The five automation classes (the object map): identities and registry names, their class
// objects, and creation of a driver object by class identifier.
#pragma once

#include <span>
#include <string_view>

#include "automation/VelqTypeLib.h"
#include "drivers/DriverObject.h"

namespace velq3 {

inline constexpr const char* kProgIdFocuser = "VELQ3.Focuser";
inline constexpr const char* kProgIdFilterWheel = "VELQ3.FilterWheel";
inline constexpr const char* kProgIdRotator = "VELQ3.Rotator";
inline constexpr const char* kProgIdDome = "VELQ3.Dome";
inline constexpr const char* kProgIdFocuser2 = "VELQ3.Focuser2";

struct DriverClass {
    std::string_view implementation;  // e.g. "CFocuser"
    std::string_view coclass;         // e.g. "Focuser"
    std::string_view progId;
    CLSID clsid;
    IID iid;
    std::string_view progIdName;   // default value of the ProgID key
    std::string_view clsidName;    // default value of the CLSID key
    int scriptResource;            // number of the class's registry script
    bool aggregatable;
};

// In object-map order: Focuser, FilterWheel, Rotator, Dome, Focuser2.
std::span<const DriverClass> DriverClasses();
const DriverClass* FindDriverClass(const CLSID& clsid);
const DriverClass* FindDriverClassByProgId(std::string_view progId);

// A new class object for `clsid`, asked for `iid` (IClassFactory or IUnknown).
// CLASS_E_CLASSNOTAVAILABLE for an identifier that is not one of the five.
HRESULT GetDriverClassObject(DriverContext& ctx, const CLSID& clsid, const IID& iid, void** object);

// Creates a driver object as a client's creation request does: through the class object,
// with its aggregation rules.
HRESULT CreateDriver(DriverContext& ctx, const CLSID& clsid, IUnknown* outer, const IID& iid, void** object);

} // namespace velq3
