// The FilterWheel automation object: the wheel slot in the light path, the filter names and
// focus offsets, and wheel moves.
#pragma once

#include "automation/VelqTypeLib.h"
#include "device/DeviceMoves.h"
#include "drivers/DriverClasses.h"
#include "drivers/DriverObject.h"

namespace velq3 {

class CFilterWheelImpl : public DriverObject<IFilterWheel> {
public:
    explicit CFilterWheelImpl(DriverContext& ctx) : DriverObject(ctx, "CFilterWheelImpl", kProgIdFilterWheel) {}

    HRESULT get_Connected(VariantBool* value) override;
    HRESULT put_Connected(VariantBool value) override;
    HRESULT get_FocusOffsets(SafeArray<std::int32_t>* value) override;
    HRESULT get_Names(SafeArray<Bstr>* value) override;
    HRESULT put_Position(std::int16_t value) override;
    HRESULT get_Position(std::int16_t* value) override;
    HRESULT SetupDialog() override;

    static constexpr int kRetryDelayMs = kSelectFilterRetryDelayMs;
};

} // namespace velq3
