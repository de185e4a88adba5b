// Template 206 "Temperature Graph": a sizable window whose client area the graph fills.
#pragma once

#include "ui/DialogTemplate.h"

namespace velq3::ui {

inline constexpr int kTermGraphTemplateId = 206;
extern const DialogTemplate kTermGraphTemplate;

// The graph is drawn again this often (milliseconds).
inline constexpr int kTermGraphRedrawMs = 5000;

}  // namespace velq3::ui
