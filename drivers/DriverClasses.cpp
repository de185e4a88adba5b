// The object map of the five driver classes and their class objects.
#include "drivers/DriverClasses.h"

#include <array>
#include <new>

#include "automation/ClassObject.h"
#include "drivers/CDomeImpl.h"
#include "drivers/CFilterWheelImpl.h"
#include "drivers/CFocuser.h"
#include "drivers/CFocuser2.h"
#include "drivers/CRotatorImpl.h"

namespace velq3 {

namespace {

constexpr std::array<DriverClass, 5> kClasses{{
    {"CFocuser", "Focuser", kProgIdFocuser, CLSID_Focuser, IFocuser::kIid, "Focuser Class", "Focuser Class", 106, true},
    {"CFilterWheelImpl", "FilterWheel", kProgIdFilterWheel, CLSID_FilterWheel, IFilterWheel::kIid, "FilterWheel Class",
     "FilterWheel Class", 107, false},
    {"CRotatorImpl", "Rotator", kProgIdRotator, CLSID_Rotator, IRotator::kIid, "Rotator Class", "RotatorImpl Class", 108,
     false},
    {"CDomeImpl", "Dome", kProgIdDome, CLSID_Dome, IDome::kIid, "Dome Class", "DomeImpl Class", 109, false},
    {"CFocuser2", "Focuser2", kProgIdFocuser2, CLSID_Focuser2, IFocuser::kIid, "Focuser2 Class", "Focuser2 Class", 208,
     true},
}};

template <class Impl>
IClassFactory* NewClassObject(DriverContext& ctx, bool aggregatable) {
    return new (std::nothrow) ClassObject<Impl, DriverContext>(ctx.module, ctx, aggregatable);
}

} // namespace

std::span<const DriverClass> DriverClasses() { return kClasses; }

const DriverClass* FindDriverClass(const CLSID& clsid) {
    for (const DriverClass& c : kClasses)
        if (c.clsid == clsid) return &c;
    return nullptr;
}

const DriverClass* FindDriverClassByProgId(std::string_view progId) {
    for (const DriverClass& c : kClasses)
        if (c.progId == progId) return &c;
    return nullptr;
}

HRESULT GetDriverClassObject(DriverContext& ctx, const CLSID& clsid, const IID& iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    const DriverClass* c = FindDriverClass(clsid);
    if (!c) return CLASS_E_CLASSNOTAVAILABLE;
    IClassFactory* factory = nullptr;
    if (clsid == CLSID_Focuser) factory = NewClassObject<CFocuser>(ctx, c->aggregatable);
    else if (clsid == CLSID_FilterWheel) factory = NewClassObject<CFilterWheelImpl>(ctx, c->aggregatable);
    else if (clsid == CLSID_Rotator) factory = NewClassObject<CRotatorImpl>(ctx, c->aggregatable);
    else if (clsid == CLSID_Dome) factory = NewClassObject<CDomeImpl>(ctx, c->aggregatable);
    else factory = NewClassObject<CFocuser2>(ctx, c->aggregatable);
    if (!factory) return E_OUTOFMEMORY;
    factory->AddRef();
    const HRESULT hr = factory->QueryInterface(iid, object);
    factory->Release();
    return hr;
}

HRESULT CreateDriver(DriverContext& ctx, const CLSID& clsid, IUnknown* outer, const IID& iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    ComPtr<IClassFactory> factory;
    if (HRESULT hr = GetDriverClassObject(ctx, clsid, IID_IClassFactory, factory.PutVoid()); Failed(hr)) return hr;
    return factory->CreateInstance(outer, iid, object);
}

} // namespace velq3
