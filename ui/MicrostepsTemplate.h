// Template 231 "Microsteps Table" and the ids of its controls.
#pragma once

#include "ui/DialogTemplate.h"

namespace velq3::ui {

namespace idc::microsteps {
inline constexpr int kApply = 1;      // the default button; the dialog stays open
inline constexpr int kExit = 2;
inline constexpr int kSin = 3054;
inline constexpr int kSinSin3 = 3055;
inline constexpr int kTan = 3056;
inline constexpr int kInverse = 3057;
inline constexpr int kTableText = 3058;
inline constexpr int kPow = 3059;
inline constexpr int kPowSpin = 3060;  // up-down of the Pow box, -50..50
inline constexpr int kOffset = 3078;   // the floor level
}  // namespace idc::microsteps

inline constexpr int kMicrostepsTemplateId = 231;
extern const DialogTemplate kMicrostepsTemplate;

}  // namespace velq3::ui
