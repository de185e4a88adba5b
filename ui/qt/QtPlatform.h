// Choice of Qt's platform before the application object exists: the offscreen platform when
// there is no display, so that the window program and its tests run on a headless machine.
#pragma once

#include <cstdio>

namespace velq3::ui {

// Sets QT_QPA_PLATFORM=offscreen when neither it nor DISPLAY nor WAYLAND_DISPLAY is set, and
// then says so on `err`. Once it is set, later calls change and say nothing. True when it chose.
bool UseOffscreenWithoutDisplay(std::FILE* err = stderr);

}  // namespace velq3::ui
