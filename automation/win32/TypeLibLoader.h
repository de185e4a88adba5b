// The program's type library on Windows, loaded on first use through its registration
// (LoadRegTypeLib by LIBID and version) and kept for the life of the process: late-bound
// calls work only while the library is registered.
#pragma once

#include <mutex>

#include <windows.h>
#include <oaidl.h>

#include "automation/Guid.h"
#include "automation/HResult.h"

namespace velq3 {

class TypeLibLoader {
public:
    TypeLibLoader(const GUID& libid, WORD major, WORD minor) : m_Libid(libid), m_Major(major), m_Minor(minor) {}
    ~TypeLibLoader();
    TypeLibLoader(const TypeLibLoader&) = delete;
    TypeLibLoader& operator=(const TypeLibLoader&) = delete;

    // The type information of interface `iid`, with a reference for the caller. A failed load
    // is not kept: the next call tries again.
    HRESULT GetTypeInfoOfGuid(const IID& iid, ITypeInfo** out);
    bool IsLoaded();

private:
    const GUID m_Libid;
    const WORD m_Major;
    const WORD m_Minor;
    std::mutex m_Mutex;  // serialises the first load
    ITypeLib* m_Lib = nullptr;
};

} // namespace velq3
