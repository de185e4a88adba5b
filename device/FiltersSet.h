// The base classes of the device object: the step-motor settings and the filter set with its
// filter list, current filter and the arrays handed to clients.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/FilterTable.h"

namespace velq3 {

// Settings of a step motor. Of the motor driven step by step from the computer only the
// step increment of the window's focuser buttons is used; the device drives its own motors.
class CStepMotor {
public:
    virtual ~CStepMotor() = default;

    std::int32_t MinMotorStep = 1;  // 1..200, persisted with the device settings
};

// The filter wheel's filter list. The device object replaces homing, selection and the
// position query with device commands.
class CFiltersSet : public CStepMotor, public CFilterTable {
public:
    virtual void OutputBits(std::uint8_t pattern) = 0;
    virtual bool Home(int unused) = 0;
    virtual bool SelectFilter(int position) = 0;
    virtual bool GetFilter(int& position) = 0;

    // The filter names in table order, for the FilterWheel driver's `Names`.
    std::vector<std::string> MakeNamesArray() const;
    // The focuser positions in table order, for the driver's `FocusOffsets`.
    std::vector<std::int32_t> MakeFocusOffsetsArray() const;
};

} // namespace velq3
