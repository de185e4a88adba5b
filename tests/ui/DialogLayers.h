// The dialogs' behaviour cases, written once against a toolkit layer: a layer opens a dialog on
// a device object, and the case drives it as the operator would and reads its controls through
// the control interface. Each test program instantiates the suite with its layers.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SimWheelFixture.h"
#include "common/TestSimulator.h"
#include "device/OrnFilterWheel.h"
#include "ui/DialogControls.h"
#include "ui/FilterWheelRules.h"

namespace velq3::test {

enum class DialogKind { WheelSettings, FocuserSettings, Heater };

// One dialog opened in one layer.
class DialogDriver {
public:
    virtual ~DialogDriver() = default;
    // The dialog's controls, as the rules see them.
    virtual ui::DialogControls& Controls() = 0;
    // --- the operator ---
    virtual void Click(int id) = 0;
    virtual void Type(int id, const std::string& text) = 0;  // over the edit's text
    virtual void Choose(int id, int index) = 0;
    virtual void Step(int id, bool up) = 0;  // an up-down's arrow
    virtual void Escape() = 0;
    // --- what the operator saw ---
    // kIdOk or kIdCancel once the dialog ended; nothing while it is open.
    virtual std::optional<int> Ended() const = 0;
    virtual std::vector<std::string> Messages() const = 0;

    std::string Text(int id) { return Controls().Text(id); }
};

// The main window opened in one layer (without a modal loop).
class WindowDriver : public DialogDriver {
public:
    virtual ui::FilterWheelRules& Rules() = 0;
    // Opens the in-place editor on a cell of the filter list, types `text` and ends the edit by
    // moving on.
    virtual void EditCell(int row, int column, const std::string& text) = 0;
    // Up or Down pressed in an edit box.
    virtual void ArrowKey(int editId, bool up) = 0;

    // The file chooser of Save... and Load...: it answers `chooserPath` (nothing: cancelled)
    // and notes whether it saved and whether the window polled meanwhile.
    std::optional<std::string> chooserPath;
    std::vector<bool> savedWith;
    std::vector<int> pollingDuringChooser;
    // The message boxes shown, as "text|caption".
    std::vector<std::string> boxes;
    std::vector<std::string> Messages() const override { return boxes; }
    std::optional<int> Ended() const override { return std::nullopt; }
};

class DialogLayer {
public:
    virtual ~DialogLayer() = default;
    virtual std::unique_ptr<DialogDriver> Open(DialogKind kind, OrnFilterWheel& device) = 0;
    virtual std::unique_ptr<WindowDriver> OpenWindow(OrnFilterWheel& device, ManualMainLoop& loop) = 0;
};

// Names the instantiations by their layer.
struct LayerParam {
    const char* name;
    DialogLayer* layer;
};
inline std::string PrintToString(const LayerParam& p) { return p.name; }

// A device object on the simulated controller (COM3), its link held by another client as the
// main window holds it; user settings in a temporary hive.
class DialogRulesTest : public ::testing::TestWithParam<LayerParam> {
protected:
    static constexpr int kPort = 3;
    static constexpr ClientId kHolder = 0x5150;

    void SetUp() override {
        sim = std::make_unique<SimProcess>(std::vector<std::string>{"--move-ms", "2", "--focus-speedup", "2000"});
        DeviceEnvironment env;
        env.userHive = &hive;
        env.loop = &loop;
        env.portPath = [this](int n) { return n == kPort ? sim->ttyPath() : dir.file("no-such-tty"); };
        device = std::make_unique<OrnFilterWheel>(env);
        device->ComPort = kPort;
        device->SetSink([](std::string_view) {});
        ASSERT_TRUE(device->ConnectMulti(kHolder));
    }

    std::unique_ptr<DialogDriver> Open(DialogKind kind) { return GetParam().layer->Open(kind, *device); }

    // The controller's own memory, read over the link.
    std::vector<std::uint8_t> DeviceMemory() {
        std::vector<std::uint8_t> bytes(static_cast<size_t>(device->m_MemorySize));
        EXPECT_TRUE(device->ReadMemory(0, device->m_MemorySize, bytes.data()));
        return bytes;
    }
    std::vector<std::uint8_t> ImageCopy() const {
        return std::vector<std::uint8_t>(device->ImageBytes(), device->ImageBytes() + kMaxMemorySize);
    }
    // The image as far as the controller has memory.
    std::vector<std::uint8_t> ImageAsDevice() const {
        return std::vector<std::uint8_t>(device->ImageBytes(), device->ImageBytes() + device->m_MemorySize);
    }

    TempDir dir;
    RegistryHive hive{FixtureHiveFile(dir), FixtureHiveRoot(dir)};
    ManualMainLoop loop;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<OrnFilterWheel> device;
};

// The main window on the simulated controller (on COM3) and a manual main loop whose virtual
// time drives the poll; the device's log lines are kept.
class WindowRulesTest : public SimWheelFixture<::testing::TestWithParam<LayerParam>> {
protected:
    void TearDown() override {
        window.reset();
        device.reset();
    }

    void OpenWindow() {
        MakeDeviceObject();
        window = GetParam().layer->OpenWindow(*device, loop);
    }

    // Picks COM3 in the port list, presses Connect and lets one tick show the connection.
    void StartConnected(std::vector<std::string> args = {}) {
        StartSim(std::move(args));
        OpenWindow();
        window->Choose(ui::idc::kPortList, kSimPort);
        window->Click(ui::idc::kConnect);
        ASSERT_TRUE(device->IsOpen());
        Tick();
    }

    void Tick() { loop.AdvanceBy(std::chrono::milliseconds(1000)); }
    std::string Text(int id) { return window->Controls().Text(id); }
    bool Enabled(int id) { return window->Controls().Enabled(id); }

    std::unique_ptr<WindowDriver> window;
};

}  // namespace velq3::test
