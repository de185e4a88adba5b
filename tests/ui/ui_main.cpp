// Test program entry: Qt's offscreen platform without a display, and the application object
// that every window test needs, before the tests run.
#include <QApplication>

#include <gtest/gtest.h>

#include "ui/QtPlatform.h"

int main(int argc, char** argv) {
    velq3::ui::UseOffscreenWithoutDisplay();
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
