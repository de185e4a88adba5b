// The Focuser automation object for the second motor (motor 1) in Second Focuser Mode;
// without temperature compensation.
#pragma once

#include "drivers/FocuserBase.h"

namespace velq3 {

class CFocuser2 : public CFocuserBase {
public:
    explicit CFocuser2(DriverContext& ctx);

    HRESULT get_TempComp(VariantBool* value) override;
    HRESULT put_TempComp(VariantBool value) override;
    HRESULT get_TempCompAvailable(VariantBool* value) override;
    HRESULT get_Temperature(double* value) override;
};

} // namespace velq3
