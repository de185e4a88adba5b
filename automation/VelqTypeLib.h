// The program's type library VELQLib: the four dual device interfaces (members in dispatch
// order), their identifiers and the five coclasses.
#pragma once

#include <cstdint>

#include "automation/Bstr.h"
#include "automation/Interfaces.h"
#include "automation/SafeArray.h"
#ifndef _WIN32
#include "automation/TypeInfo.h"
#endif

namespace velq3 {

inline constexpr Guid LIBID_VELQLib = GuidLiteral("{181202A3-A1F3-4287-9D85-A166A769E015}");

inline constexpr CLSID CLSID_Focuser = GuidLiteral("{8B73F203-A1F3-434E-97E0-EE6D2B7E8D16}");
inline constexpr CLSID CLSID_FilterWheel = GuidLiteral("{C3E62667-A1F3-4064-8B64-45CDED7C718C}");
inline constexpr CLSID CLSID_Rotator = GuidLiteral("{0E8237AF-A456-4575-AC6C-EE91E0F1C5C6}");
inline constexpr CLSID CLSID_Dome = GuidLiteral("{0E8237BF-A456-4575-AC6C-EE91E0F1C5C8}");
inline constexpr CLSID CLSID_Focuser2 = GuidLiteral("{8B73F205-A1F3-434E-97E0-EE6D2B7E8D16}");

class IFilterWheel : public IDispatch {
public:
    static constexpr IID kIid = GuidLiteral("{66A6F8D6-A1F3-44A6-98A3-72B3C6CDA13E}");

    virtual HRESULT get_Connected(VariantBool* value) = 0;
    virtual HRESULT put_Connected(VariantBool value) = 0;
    virtual HRESULT get_FocusOffsets(SafeArray<std::int32_t>* value) = 0;
    virtual HRESULT get_Names(SafeArray<Bstr>* value) = 0;
    virtual HRESULT put_Position(std::int16_t value) = 0;
    virtual HRESULT get_Position(std::int16_t* value) = 0;
    virtual HRESULT SetupDialog() = 0;

protected:
    ~IFilterWheel() = default;
};

class IFocuser : public IDispatch {
public:
    static constexpr IID kIid = GuidLiteral("{135C30B1-A1F3-4787-BAF8-9BACF1C6DE3D}");

    virtual HRESULT get_Link(VariantBool* value) = 0;
    virtual HRESULT put_Link(VariantBool value) = 0;
    virtual HRESULT get_Absolute(VariantBool* value) = 0;
    virtual HRESULT get_IsMoving(VariantBool* value) = 0;
    virtual HRESULT get_MaxIncrement(std::int32_t* value) = 0;
    virtual HRESULT get_MaxStep(std::int32_t* value) = 0;
    virtual HRESULT get_Position(std::int32_t* value) = 0;
    virtual HRESULT get_StepSize(double* value) = 0;
    virtual HRESULT get_TempComp(VariantBool* value) = 0;
    virtual HRESULT put_TempComp(VariantBool value) = 0;
    virtual HRESULT get_TempCompAvailable(VariantBool* value) = 0;
    virtual HRESULT get_Temperature(double* value) = 0;
    virtual HRESULT Halt() = 0;
    virtual HRESULT Move(std::int32_t position) = 0;
    virtual HRESULT SetupDialog() = 0;

protected:
    ~IFocuser() = default;
};

class IRotator : public IDispatch {
public:
    static constexpr IID kIid = GuidLiteral("{8D5C5A95-2802-4F99-8DD7-28BE75305CA1}");

    virtual HRESULT get_CanReverse(VariantBool* value) = 0;
    virtual HRESULT get_Connected(VariantBool* value) = 0;
    virtual HRESULT put_Connected(VariantBool value) = 0;
    virtual HRESULT get_Description(Bstr* value) = 0;
    virtual HRESULT get_DriverInfo(Bstr* value) = 0;
    virtual HRESULT get_DriverVersion(Bstr* value) = 0;
    virtual HRESULT get_InterfaceVersion(std::int16_t* value) = 0;
    virtual HRESULT get_IsMoving(VariantBool* value) = 0;
    virtual HRESULT get_Name(Bstr* value) = 0;
    virtual HRESULT get_Position(float* value) = 0;
    virtual HRESULT get_Reverse(VariantBool* value) = 0;
    virtual HRESULT put_Reverse(VariantBool value) = 0;
    virtual HRESULT get_StepSize(float* value) = 0;
    virtual HRESULT get_SupportedActions(SafeArray<Bstr>* value) = 0;
    virtual HRESULT get_TargetPosition(float* value) = 0;
    virtual HRESULT Halt() = 0;
    virtual HRESULT Move(float position) = 0;
    virtual HRESULT MoveAbsolute(float position) = 0;
    virtual HRESULT SetupDialog() = 0;

protected:
    ~IRotator() = default;
};

class IDome : public IDispatch {
public:
    static constexpr IID kIid = GuidLiteral("{135C30B5-A1F3-4787-BAF8-9BACF1C6DE3E}");

    virtual HRESULT get_Altitude(double* value) = 0;
    virtual HRESULT get_AtHome(VariantBool* value) = 0;
    virtual HRESULT get_AtPark(VariantBool* value) = 0;
    virtual HRESULT get_Azimuth(double* value) = 0;
    virtual HRESULT get_CanFindHome(VariantBool* value) = 0;
    virtual HRESULT get_CanPark(VariantBool* value) = 0;
    virtual HRESULT get_CanSetAltitude(VariantBool* value) = 0;
    virtual HRESULT get_CanSetAzimuth(VariantBool* value) = 0;
    virtual HRESULT get_CanSetPark(VariantBool* value) = 0;
    virtual HRESULT get_CanSetShutter(VariantBool* value) = 0;
    virtual HRESULT get_CanSlave(VariantBool* value) = 0;
    virtual HRESULT get_CanSyncAzimuth(VariantBool* value) = 0;
    virtual HRESULT get_Connected(VariantBool* value) = 0;
    virtual HRESULT put_Connected(VariantBool value) = 0;
    virtual HRESULT get_Description(Bstr* value) = 0;
    virtual HRESULT get_DriverInfo(Bstr* value) = 0;
    virtual HRESULT get_DriverVersion(Bstr* value) = 0;
    virtual HRESULT get_InterfaceVersion(std::int16_t* value) = 0;
    virtual HRESULT get_Name(Bstr* value) = 0;
    virtual HRESULT get_ShutterStatus(std::int32_t* value) = 0;
    virtual HRESULT get_Slaved(VariantBool* value) = 0;
    virtual HRESULT get_Slewing(VariantBool* value) = 0;
    virtual HRESULT get_SupportedActions(SafeArray<Bstr>* value) = 0;
    virtual HRESULT AbortSlew() = 0;
    virtual HRESULT FindHome() = 0;
    virtual HRESULT CloseShutter() = 0;
    virtual HRESULT OpenShutter() = 0;
    virtual HRESULT Park() = 0;
    virtual HRESULT SetPark() = 0;
    virtual HRESULT SlewToAltitude(double altitude) = 0;
    virtual HRESULT SlewToAzimuth(double azimuth) = 0;
    virtual HRESULT SyncToAzimuth(double azimuth) = 0;
    virtual HRESULT SetupDialog() = 0;

protected:
    ~IDome() = default;
};

#ifndef _WIN32
// VELQLib 1.0, locale 1033, built once on first use and never changed.
const TypeLib& VelqTypeLib();
#endif

} // namespace velq3
