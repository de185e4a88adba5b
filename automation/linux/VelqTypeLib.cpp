// VELQLib as data: each interface member with its dispatch id, kind and help string, bound to
// the interface's own table.
#include "automation/VelqTypeLib.h"

namespace velq3 {

namespace {

TypeInfo FilterWheelInfo() {
    using I = IFilterWheel;
    return TypeInfo("IFilterWheel", I::kIid,
                    {
                        PropGet<&I::get_Connected>("Connected", 1),
                        PropPut<&I::put_Connected>("Connected", 1),
                        PropGet<&I::get_FocusOffsets>("FocusOffsets", 2),
                        PropGet<&I::get_Names>("Names", 3),
                        PropPut<&I::put_Position>("Position", 4),
                        PropGet<&I::get_Position>("Position", 4),
                        Method<&I::SetupDialog>("SetupDialog", 5),
                    });
}

TypeInfo FocuserInfo() {
    using I = IFocuser;
    return TypeInfo("IFocuser", I::kIid,
                    {
                        PropGet<&I::get_Link>("Link", 1),
                        PropPut<&I::put_Link>("Link", 1),
                        PropGet<&I::get_Absolute>("Absolute", 2),
                        PropGet<&I::get_IsMoving>("IsMoving", 3),
                        PropGet<&I::get_MaxIncrement>("MaxIncrement", 4),
                        PropGet<&I::get_MaxStep>("MaxStep", 5),
                        PropGet<&I::get_Position>("Position", 6),
                        PropGet<&I::get_StepSize>("StepSize", 7),
                        PropGet<&I::get_TempComp>("TempComp", 8),
                        PropPut<&I::put_TempComp>("TempComp", 8),
                        PropGet<&I::get_TempCompAvailable>("TempCompAvailable", 9),
                        PropGet<&I::get_Temperature>("Temperature", 10),
                        Method<&I::Halt>("Halt", 11),
                        Method<&I::Move>("Move", 12, "Position"),
                        Method<&I::SetupDialog>("SetupDialog", 13),
                    });
}

TypeInfo RotatorInfo() {
    using I = IRotator;
    return TypeInfo("IRotator", I::kIid,
                    {
                        PropGet<&I::get_CanReverse>("CanReverse", 1),
                        PropGet<&I::get_Connected>("Connected", 2),
                        PropPut<&I::put_Connected>("Connected", 2),
                        PropGet<&I::get_Description>("Description", 3),
                        PropGet<&I::get_DriverInfo>("DriverInfo", 4),
                        PropGet<&I::get_DriverVersion>("DriverVersion", 5),
                        PropGet<&I::get_InterfaceVersion>("InterfaceVersion", 6),
                        PropGet<&I::get_IsMoving>("IsMoving", 7),
                        PropGet<&I::get_Name>("Name", 8),
                        PropGet<&I::get_Position>("Position", 9),
                        PropGet<&I::get_Reverse>("Reverse", 10),
                        PropPut<&I::put_Reverse>("Reverse", 10),
                        PropGet<&I::get_StepSize>("StepSize", 11),
                        PropGet<&I::get_SupportedActions>("SupportedActions", 12),
                        PropGet<&I::get_TargetPosition>("TargetPosition", 13),
                        Method<&I::Halt>("Halt", 14),
                        Method<&I::Move>("Move", 15, "Position"),
                        Method<&I::MoveAbsolute>("MoveAbsolute", 16, "Position"),
                        Method<&I::SetupDialog>("SetupDialog", 17),
                    });
}

TypeInfo DomeInfo() {
    using I = IDome;
    return TypeInfo("IDome", I::kIid,
                    {
                        PropGet<&I::get_Altitude>("Altitude", 1),
                        PropGet<&I::get_AtHome>("AtHome", 2),
                        PropGet<&I::get_AtPark>("AtPark", 3),
                        PropGet<&I::get_Azimuth>("Azimuth", 4),
                        PropGet<&I::get_CanFindHome>("CanFindHome", 5),
                        PropGet<&I::get_CanPark>("CanPark", 6),
                        PropGet<&I::get_CanSetAltitude>("CanSetAltitude", 7),
                        PropGet<&I::get_CanSetAzimuth>("CanSetAzimuth", 8),
                        PropGet<&I::get_CanSetPark>("CanSetPark", 9),
                        PropGet<&I::get_CanSetShutter>("CanSetShutter", 10),
                        PropGet<&I::get_CanSlave>("CanSlave", 11),
                        PropGet<&I::get_CanSyncAzimuth>("CanSyncAzimuth", 12),
                        PropGet<&I::get_Connected>("Connected", 13),
                        PropPut<&I::put_Connected>("Connected", 13),
                        PropGet<&I::get_Description>("Description", 14),
                        PropGet<&I::get_DriverInfo>("DriverInfo", 15),
                        PropGet<&I::get_DriverVersion>("DriverVersion", 16),
                        PropGet<&I::get_InterfaceVersion>("InterfaceVersion", 17),
                        PropGet<&I::get_Name>("Name", 18),
                        PropGet<&I::get_ShutterStatus>("ShutterStatus", 19),
                        PropGet<&I::get_Slaved>("Slaved", 20),
                        PropGet<&I::get_Slewing>("Slewing", 21),
                        PropGet<&I::get_SupportedActions>("SupportedActions", 22),
                        Method<&I::AbortSlew>("AbortSlew", 23),
                        Method<&I::FindHome>("FindHome", 24),
                        Method<&I::CloseShutter>("CloseShutter", 25),
                        Method<&I::OpenShutter>("OpenShutter", 26),
                        Method<&I::Park>("Park", 27),
                        Method<&I::SetPark>("SetPark", 28),
                        Method<&I::SlewToAltitude>("SlewToAltitude", 29, "Altitude"),
                        Method<&I::SlewToAzimuth>("SlewToAzimuth", 30, "Azimuth"),
                        Method<&I::SyncToAzimuth>("SyncToAzimuth", 31, "Azimuth"),
                        Method<&I::SetupDialog>("SetupDialog", 32),
                    });
}

TypeLib BuildVelqLib() {
    TypeLib lib;
    lib.name = "VELQLib";
    lib.libid = LIBID_VELQLib;
    lib.majorVersion = 1;
    lib.minorVersion = 0;
    lib.lcid = kLocaleEnglishUS;
    lib.helpString = "VELQ3 1.0 Type Library";
    lib.interfaces.push_back(FocuserInfo());
    lib.interfaces.push_back(FilterWheelInfo());
    lib.interfaces.push_back(RotatorInfo());
    lib.interfaces.push_back(DomeInfo());
    lib.coclasses = {
        {"Focuser", CLSID_Focuser, "Focuser Class", IFocuser::kIid},
        {"FilterWheel", CLSID_FilterWheel, "FilterWheel Class", IFilterWheel::kIid},
        {"Rotator", CLSID_Rotator, "Rotator Class", IRotator::kIid},
        {"Dome", CLSID_Dome, "Dome Class", IDome::kIid},
        {"Focuser2", CLSID_Focuser2, "Focuser2 Class", IFocuser::kIid},
    };
    return lib;
}

} // namespace

const TypeLib& VelqTypeLib() {
    static const TypeLib lib = BuildVelqLib();  // immutable once built
    return lib;
}

} // namespace velq3
