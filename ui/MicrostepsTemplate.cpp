// Template table of the "Microsteps Table" dialog: every control with its kind, caption and
// position in dialog units. The drawing fills the client area below the table text.
#include "ui/MicrostepsTemplate.h"

namespace velq3::ui {

namespace {

using K = ControlKind;
namespace m = idc::microsteps;

constexpr ControlTemplate kMicrostepsControls[] = {
    {m::kSin, K::PushButton, "Sin", 10, 11, 35, 13},
    {m::kTan, K::PushButton, "Tan", 49, 11, 35, 13},
    {m::kSinSin3, K::PushButton, "sin+sin3", 88, 11, 35, 13},
    {kNoId, K::Label, "Pow", 129, 2, 15, 8},
    {m::kPow, K::Edit, "", 125, 11, 28, 13},
    {m::kPowSpin, K::UpDown, "", 143, 11, 11, 14, kArrowKeys | kAlignRightOfPrevious},
    {m::kInverse, K::CheckBox, "Inverse", 156, 13, 37, 10},
    {m::kApply, K::PushButton, "Apply", 193, 11, 31, 14},
    {m::kExit, K::PushButton, "Exit", 229, 11, 26, 14, kCancel},
    {m::kTableText, K::Edit, "", 7, 32, 204, 15},
    {kNoId, K::Label, "offset", 215, 37, 18, 8},
    {m::kOffset, K::Edit, "", 236, 32, 20, 14},
};

}  // namespace

const DialogTemplate kMicrostepsTemplate = {
    kMicrostepsTemplateId, "Microsteps Table", 8, "MS Sans Serif", 263, 343, kMicrostepsControls};

}  // namespace velq3::ui
