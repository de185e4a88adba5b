// The dialogs' behaviour cases against the fake control layer: the rules alone, no toolkit.
#include "DialogLayers.h"
#include "FakeControls.h"
#include "ui/DialogTemplates.h"
#include "ui/FilterWheelRules.h"
#include "ui/FilterWheelSettingsRules.h"
#include "ui/FocuserSettingsRules.h"
#include "ui/HeaterControlRules.h"

namespace velq3::test {
namespace {

// The focuser settings' choosers: a cancelled folder choice, a microsteps dialog that is
// only counted.
class FakeFocuserSettings : public ui::FocuserSettingsRules {
public:
    using FocuserSettingsRules::FocuserSettingsRules;
    int microstepsRuns = 0;

protected:
    std::optional<std::string> PickFolder(const std::string&, const std::string&) override { return std::nullopt; }
    void RunMicrostepsDialog() override { ++microstepsRuns; }
};

// The operator's actions, on the fake controls of a dialog or of the main window.
template <class Driver>
class FakeOperated : public Driver {
public:
    ui::DialogControls& Controls() override { return m_Controls; }
    void Click(int id) override { m_Controls.Click(id); }
    void Type(int id, const std::string& text) override { m_Controls.Type(id, text); }
    void Choose(int id, int index) override { m_Controls.Choose(id, index); }
    void Step(int id, bool up) override { m_Controls.Step(id, up); }
    void Escape() override { m_Controls.Escape(); }

protected:
    explicit FakeOperated(const ui::DialogTemplate& t) : m_Controls(t) {}

    FakeControls m_Controls;
};

template <class Rules>
class FakeDriver : public FakeOperated<DialogDriver> {
public:
    FakeDriver(const ui::DialogTemplate& t, OrnFilterWheel& device) : FakeOperated(t), m_Rules(device, m_Controls) {
        m_Rules.OnInitDialog();
        m_Controls.Attach(m_Rules);
    }

    std::optional<int> Ended() const override { return m_Controls.ended; }
    std::vector<std::string> Messages() const override {
        std::vector<std::string> texts;
        for (const auto& m : m_Controls.messages) texts.push_back(m.text);
        return texts;
    }

private:
    Rules m_Rules;
};

// The main window's rules with what the layer does for them: the settings file chosen as the
// driver says, modal steps without polling, no further windows.
class FakeWindowRules : public ui::FilterWheelRules {
public:
    FakeWindowRules(OrnFilterWheel& device, MainLoop& loop, FakeControls& controls, WindowDriver& driver)
        : FilterWheelRules(device, loop), m_Driver(driver) {
        SetControls(&controls);
    }
    ~FakeWindowRules() override {
        StopPoll();
        SetControls(nullptr);
    }
    using FilterWheelRules::OnInitWindow;
    void OnCancel() override {}

protected:
    void OnOnTop() override { ExchangeData(Transfer::ToFields); }
    void OnWheelSettings() override {}
    void OnFocuserSettings() override {}
    void OnHeater() override {}
    void OnGraphs() override {}
    std::optional<std::string> ChooseSettingsFile(bool save) override {
        m_Driver.savedWith.push_back(save);
        m_Driver.pollingDuringChooser.push_back(PollingEnabled);
        return m_Driver.chooserPath;
    }
    void RunModalStep(const std::function<void()>& step) override {
        PollingEnabled = 0;
        step();
        PollingEnabled = 1;
    }

private:
    WindowDriver& m_Driver;
};

class FakeWindowDriver : public FakeOperated<WindowDriver> {
public:
    FakeWindowDriver(OrnFilterWheel& device, MainLoop& loop)
        : FakeOperated(ui::kFilterWheelDlgTemplate), m_Rules(device, loop, m_Controls, *this) {
        // The layer's port list: "Auto" and COM1..COM15.
        std::vector<std::string> ports = {"Auto"};
        for (int n = 1; n <= 15; ++n) ports.push_back("COM" + std::to_string(n));
        m_Controls.SetItems(ui::idc::kPortList, ports);
        m_Rules.OnInitWindow();
        m_Controls.Attach(m_Rules);
    }

    ui::FilterWheelRules& Rules() override { return m_Rules; }
    void ArrowKey(int editId, bool up) override { m_Controls.ArrowKey(editId, up); }
    void EditCell(int row, int column, const std::string& text) override {
        m_Rules.EditRow = row;
        m_Rules.EditColumn = column;
        m_Rules.CommitCellText(text);
    }
    std::vector<std::string> Messages() const override {
        std::vector<std::string> shown;
        for (const auto& m : m_Controls.messages) shown.push_back(m.text + "|" + m.caption);
        return shown;
    }

private:
    FakeWindowRules m_Rules;
};

class FakeLayer : public DialogLayer {
public:
    std::unique_ptr<DialogDriver> Open(DialogKind kind, OrnFilterWheel& device) override {
        switch (kind) {
            case DialogKind::WheelSettings:
                return std::make_unique<FakeDriver<ui::FilterWheelSettingsRules>>(ui::kFilterWheelSettingsTemplate, device);
            case DialogKind::FocuserSettings:
                return std::make_unique<FakeDriver<FakeFocuserSettings>>(ui::kFocuserSettingsTemplate, device);
            case DialogKind::Heater:
                return std::make_unique<FakeDriver<ui::HeaterControlRules>>(ui::kHeaterControlTemplate, device);
        }
        return nullptr;
    }
    std::unique_ptr<WindowDriver> OpenWindow(OrnFilterWheel& device, ManualMainLoop& loop) override {
        return std::make_unique<FakeWindowDriver>(device, loop);
    }
};

FakeLayer fakeLayer;

INSTANTIATE_TEST_SUITE_P(Fake, DialogRulesTest, ::testing::Values(LayerParam{"Fake", &fakeLayer}),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Fake, WindowRulesTest, ::testing::Values(LayerParam{"Fake", &fakeLayer}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velq3::test
