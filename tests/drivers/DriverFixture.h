// Driver objects over a device object on a simulated controller (port 3), with VELQLib registered
// in a temporary classes-root hive, a module lock and a main window that counts its calls.
#pragma once

#include <fstream>

#include "automation/AutomationFixture.h"
#include "device/DeviceFixture.h"
#include "drivers/DriverClasses.h"

namespace velq3::test {

struct RecordingWindow : IClientWindow {
    void ShowForClient() override { ++shown; }
    void HideForClient() override { ++hidden; }
    void BringToFront() override { ++fronts; }
    bool CanShowWindows() const override { return display; }
    int shown = 0, hidden = 0, fronts = 0;
    bool display = true;
};

class DriverTest : public DeviceTest {
protected:
    void SetUp() override {
        std::ofstream(dir.file("velq3")) << "library";
        ASSERT_EQ(RegisterTypeLib(classes, VelqTypeLib(), dir.file("velq3")), S_OK);
    }

    // A simulator started with `args` (fast mode) and the device object on its port. Without
    // a simulator the device finds no port.
    void Start(std::vector<std::string> args) {
        StartSim(std::move(args));
        MakeFw();
    }
    void MakeFw() {
        fw = MakeDevice();
        fw->ComPort = simPort;
    }

    DriverContext& Ctx() {
        if (!ctx) ctx = std::make_unique<DriverContext>(DriverContext{*fw, window, loader, module});
        return *ctx;
    }

    template <class I>
    ComPtr<I> Create(const CLSID& clsid) {
        ComPtr<I> p;
        EXPECT_EQ(CreateDriver(Ctx(), clsid, nullptr, kIidOf<I>, p.PutVoid()), S_OK);
        return p;
    }

    // The log lines written since the last call.
    std::vector<std::string> TakeLog() { return std::exchange(logLines, {}); }

    // True when some line starts with `prefix`.
    bool Logged(const std::string& prefix) const {
        for (const auto& l : logLines)
            if (l.rfind(prefix, 0) == 0) return true;
        return false;
    }

    // Places motor `motor` at `position` in the simulator and reads it into the status.
    void PlaceMotor(int motor, int position) {
        sim->control("set focus " + std::to_string(motor) + " " + std::to_string(position));
        int read = 0;
        ASSERT_TRUE(fw->GetFocus(read, motor));
        ASSERT_EQ(read, position);
    }

    // Where the simulator's motor stands now.
    int MotorInDevice(int motor) {
        const std::int32_t before = motor == 0 ? fw->FocusPos : fw->Focus2Pos;
        const bool lost[] = {fw->m_bFocusPosLost, fw->m_bFocus2PosLost};
        int read = -99999;
        EXPECT_TRUE(fw->GetFocus(read, motor));
        (motor == 0 ? fw->FocusPos : fw->Focus2Pos) = before;  // leave the status record alone
        fw->m_bFocusPosLost = lost[0];
        fw->m_bFocus2PosLost = lost[1];
        return read;
    }

    RegistryHive classes{dir.file("classes.reg"), kClassesRoot};
    TypeLibLoader loader{VelqTypeLib(), classes};
    ModuleLock module;
    RecordingWindow window;
    std::unique_ptr<OrnFilterWheel> fw;
    std::unique_ptr<DriverContext> ctx;
};

// Late-bound helpers on any driver interface.
inline Variant LateGet(IDispatch* d, const char* name, HRESULT expected = S_OK) {
    LateCall c = CallByName(d, name, DISPATCH_PROPERTYGET | DISPATCH_METHOD);
    EXPECT_EQ(c.hr, expected) << name;
    return c.result;
}
inline LateCall LatePut(IDispatch* d, const char* name, Variant value) {
    return CallByName(d, name, DISPATCH_PROPERTYPUT, {std::move(value)});
}
inline LateCall LateCallMethod(IDispatch* d, const char* name, std::vector<Variant> args = {}) {
    return CallByName(d, name, DISPATCH_METHOD, std::move(args));
}

} // namespace velq3::test
