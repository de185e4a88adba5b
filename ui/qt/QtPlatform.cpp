// The offscreen fallback when no display is reachable.
#include "ui/qt/QtPlatform.h"

#include <QByteArray>
#include <QtGlobal>

namespace velq3::ui {

bool UseOffscreenWithoutDisplay(std::FILE* err) {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return false;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (err) std::fprintf(err, "velq3: no display found; using Qt's offscreen platform (windows are not shown)\n");
    return true;
}

}  // namespace velq3::ui
