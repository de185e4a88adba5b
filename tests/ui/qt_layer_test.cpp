// The dialogs' behaviour cases against the Qt layer: the dialogs as widgets, driven through
// their buttons, edits, lists and arrows.
#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>

#include "DialogLayers.h"
#include "ui/qt/FilterWheelSettingsDlg.h"
#include "ui/qt/FocuserSettingsDlg.h"
#include "ui/qt/HeaterControlDlg.h"
#include "ui/qt/MicrostepsDlg.h"
#include "ui/qt/UpDown.h"

namespace velq3::test {
namespace {

class QtDriver : public DialogDriver {
public:
    explicit QtDriver(std::unique_ptr<ui::QtRulesDialog> dialog) : m_Dialog(std::move(dialog)) {
        m_Dialog->SetMessageBox([this](QWidget*, const QString&, const QString& text, QMessageBox::Icon) {
            m_Messages.push_back(text.toStdString());
        });
        QObject::connect(m_Dialog.get(), &QDialog::finished, [this](int result) {
            m_Ended = result == QDialog::Accepted ? ui::kIdOk : ui::kIdCancel;
        });
    }

    ui::DialogControls& Controls() override { return m_Dialog->Controls(); }
    void Click(int id) override { Get<QAbstractButton>(id)->click(); }
    void Type(int id, const std::string& text) override {
        auto* edit = Get<QLineEdit>(id);
        edit->selectAll();
        edit->insert(QString::fromStdString(text));
        if (text.empty()) edit->clear();
    }
    void Choose(int id, int index) override { Get<QComboBox>(id)->setCurrentIndex(index); }
    void Step(int id, bool up) override { Get<ui::CUpDown>(id)->Step(up); }
    void Escape() override { m_Dialog->reject(); }
    std::optional<int> Ended() const override { return m_Ended; }
    std::vector<std::string> Messages() const override { return m_Messages; }

private:
    template <class T>
    T* Get(int id) {
        auto* t = qobject_cast<T*>(m_Dialog->Control(id));
        EXPECT_NE(t, nullptr) << "no control " << id << " of the expected kind";
        return t;
    }

    std::unique_ptr<ui::QtRulesDialog> m_Dialog;
    std::optional<int> m_Ended;
    std::vector<std::string> m_Messages;
};

class QtLayer : public DialogLayer {
public:
    std::unique_ptr<DialogDriver> Open(DialogKind kind, OrnFilterWheel& device) override {
        switch (kind) {
            case DialogKind::WheelSettings:
                return std::make_unique<QtDriver>(std::make_unique<ui::CFilterWheelSettingsDlg>(device));
            case DialogKind::FocuserSettings: {
                auto d = std::make_unique<ui::CFocuserSettingsDlg>(device);
                d->ChooseFolder = [](QWidget*, const QString&, const QString&) { return QString(); };
                d->OpenMicrosteps = nullptr;
                return std::make_unique<QtDriver>(std::move(d));
            }
            case DialogKind::Heater: return std::make_unique<QtDriver>(std::make_unique<ui::CHeaterControlDlg>(device));
            case DialogKind::Microsteps: return std::make_unique<QtDriver>(std::make_unique<ui::CMicrostepsDlg>(device));
        }
        return nullptr;
    }
};

QtLayer qtLayer;

INSTANTIATE_TEST_SUITE_P(Qt, DialogRulesTest, ::testing::Values(LayerParam{"Qt", &qtLayer}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velq3::test
