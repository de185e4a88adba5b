// A device object connected to the simulated controller without the main window, for the
// tests of the dialogs that the main window and the settings dialogs open.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>

#include <memory>
#include <string>
#include <vector>

#include "common/SimProcess.h"
#include "device/OrnFilterWheel.h"

namespace velq3::test {

class SimDeviceTest : public ::testing::Test {
protected:
    static constexpr int kPort = 3;

    // Starts the simulator with `args` and connects a fresh device object to it.
    void Connect(std::vector<std::string> args = {}) {
        sim = std::make_unique<SimProcess>(std::move(args));
        DeviceEnvironment env;
        env.portPath = [this](int n) { return n == kPort ? sim->ttyPath() : dir.file("no-such-tty"); };
        device = std::make_unique<OrnFilterWheel>(env);
        device->ComPort = kPort;
        ASSERT_TRUE(device->OpenLink());
    }

    // A 16-bit word of the controller's own memory, read over the link.
    int DeviceWord(int offset, bool isSigned = true) {
        std::uint8_t b[2] = {};
        EXPECT_TRUE(device->ReadMemory(offset, 2, b));
        return isSigned ? GetI16(b) : GetU16(b);
    }

    static QLineEdit* Edit(QWidget* w) {
        auto* e = qobject_cast<QLineEdit*>(w);
        EXPECT_NE(e, nullptr);
        return e;
    }
    static QComboBox* Combo(QWidget* w) {
        auto* c = qobject_cast<QComboBox*>(w);
        EXPECT_NE(c, nullptr);
        return c;
    }
    static void Click(QWidget* w) {
        auto* b = qobject_cast<QAbstractButton*>(w);
        ASSERT_NE(b, nullptr);
        b->click();
    }

    TempDir dir;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<OrnFilterWheel> device;
};

}  // namespace velq3::test
