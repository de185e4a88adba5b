// Template of the "Temperature Graph" window: no controls, the first size only.
#include "ui/TermGraphTemplate.h"

namespace velq3::ui {

const DialogTemplate kTermGraphTemplate = {kTermGraphTemplateId, "Temperature Graph", 8, "MS Sans Serif", 316, 185, {}};

}  // namespace velq3::ui
