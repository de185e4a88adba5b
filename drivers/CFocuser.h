// The Focuser automation object for the built-in focuser (motor 0), with temperature
// compensation.
#pragma once

#include "drivers/FocuserBase.h"

namespace velq3 {

class CFocuser : public CFocuserBase {
public:
    explicit CFocuser(DriverContext& ctx);

    HRESULT get_TempComp(VariantBool* value) override;
    HRESULT put_TempComp(VariantBool value) override;
    HRESULT get_TempCompAvailable(VariantBool* value) override;
    HRESULT get_Temperature(double* value) override;
};

} // namespace velq3
