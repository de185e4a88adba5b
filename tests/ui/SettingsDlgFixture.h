// The settings dialogs' test fixture: a device object on the simulated controller, its link held
// by another client as the main window holds it, and helpers to reach a dialog's controls.
#pragma once

#include <QComboBox>
#include <QStringList>

#include <array>
#include <cstring>

#include "UiFixture.h"
#include "ui/DataExchange.h"

namespace velq3::test {

class SettingsDlgTest : public UiTest {
protected:
    static constexpr ClientId kHolder = 0x5150;  // the client holding the link

    // The device object without a window, on the simulator's port (or a missing one).
    void MakeDevice() {
        MakeDeviceObject();
        device->ComPort = kSimPort;
    }

    void OpenDevice(std::vector<std::string> args = {}) {
        StartSim(std::move(args));
        MakeDevice();
        ASSERT_TRUE(device->ConnectMulti(kHolder));
    }

    // Changes the controller's memory or size with a control line and reads it back with the
    // connection handshake, as a fresh connection would.
    void Reconfigure(const std::string& controlLine) {
        sim->control(controlLine);
        ASSERT_TRUE(device->Handshake());
    }

    // The controller's own memory, as far as it has memory, read over the link.
    std::vector<std::uint8_t> DeviceMemory() {
        std::vector<std::uint8_t> bytes(static_cast<size_t>(device->m_MemorySize));
        EXPECT_TRUE(device->ReadMemory(0, device->m_MemorySize, bytes.data()));
        return bytes;
    }
    int DeviceU16(int offset) {
        const auto m = DeviceMemory();
        return GetU16(&m[static_cast<size_t>(offset)]);
    }
    int DeviceI16(int offset) {
        const auto m = DeviceMemory();
        return GetI16(&m[static_cast<size_t>(offset)]);
    }

    std::array<std::uint8_t, kMaxMemorySize> ImageCopy() const {
        std::array<std::uint8_t, kMaxMemorySize> copy{};
        std::memcpy(copy.data(), device->ImageBytes(), copy.size());
        return copy;
    }

    // A control of a settings dialog by id, of the kind the test expects.
    template <class T = QWidget, class Dlg>
    T* C(Dlg& dlg, int id) {
        auto* t = qobject_cast<T*>(dlg.Control(id));
        EXPECT_NE(t, nullptr) << "no control " << id << " of the expected kind";
        return t;
    }

    static QStringList Items(QComboBox* list) {
        QStringList items;
        for (int i = 0; i < list->count(); ++i) items << list->itemText(i);
        return items;
    }

    // Prompts the dialogs would have shown.
    std::vector<QString> prompts;
    ui::PromptHook RecordPrompt() {
        return [this](const std::string& text) { prompts.push_back(QString::fromStdString(text)); };
    }
};

}  // namespace velq3::test
