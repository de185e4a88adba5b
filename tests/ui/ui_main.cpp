// Test program entry: Qt's offscreen platform without a display, and the application object
// that every window test needs, before the tests run.
#include <QApplication>

#include <gtest/gtest.h>

#include "ui/qt/QtPlatform.h"
#include "ui/qt/UiScale.h"

int main(int argc, char** argv) {
    velq3::ui::UseOffscreenWithoutDisplay();
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    velq3::ui::ApplyUiScale(velq3::ui::kDefaultUiScale);  // the application as velq3 sets it up
    return RUN_ALL_TESTS();
}
