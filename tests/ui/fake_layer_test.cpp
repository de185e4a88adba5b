// The dialogs' behaviour cases against the fake control layer: the rules alone, no toolkit.
#include "DialogLayers.h"
#include "FakeControls.h"
#include "ui/FilterWheelSettingsRules.h"
#include "ui/FocuserSettingsRules.h"
#include "ui/HeaterControlRules.h"
#include "ui/MicrostepsRules.h"

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

template <class Rules>
class FakeDriver : public DialogDriver {
public:
    FakeDriver(const ui::DialogTemplate& t, OrnFilterWheel& device) : m_Controls(t), m_Rules(device, m_Controls) {
        m_Rules.OnInitDialog();
        m_Controls.Attach(m_Rules);
    }

    ui::DialogControls& Controls() override { return m_Controls; }
    void Click(int id) override { m_Controls.Click(id); }
    void Type(int id, const std::string& text) override { m_Controls.Type(id, text); }
    void Choose(int id, int index) override { m_Controls.Choose(id, index); }
    void Step(int id, bool up) override { m_Controls.Step(id, up); }
    void Escape() override { m_Controls.Escape(); }
    std::optional<int> Ended() const override { return m_Controls.ended; }
    std::vector<std::string> Messages() const override {
        std::vector<std::string> texts;
        for (const auto& m : m_Controls.messages) texts.push_back(m.text);
        return texts;
    }

private:
    FakeControls m_Controls;
    Rules m_Rules;
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
            case DialogKind::Microsteps:
                return std::make_unique<FakeDriver<ui::MicrostepsRules>>(ui::kMicrostepsTemplate, device);
        }
        return nullptr;
    }
};

FakeLayer fakeLayer;

INSTANTIATE_TEST_SUITE_P(Fake, DialogRulesTest, ::testing::Values(LayerParam{"Fake", &fakeLayer}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velq3::test
