// The dialogs' behaviour cases against the Qt layer: the dialogs as widgets, driven through
// their buttons, edits, lists and arrows.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTreeWidget>

#include "DialogLayers.h"
#include "ui/DialogTemplates.h"
#include "ui/qt/FilterWheelDlg.h"
#include "ui/qt/FilterWheelSettingsDlg.h"
#include "ui/qt/FocuserSettingsDlg.h"
#include "ui/qt/HeaterControlDlg.h"
#include "ui/qt/UpDown.h"

namespace velq3::test {
namespace {

// The operator's actions, on the widgets of a dialog or of the main window.
template <class Driver>
class QtOperated : public Driver {
public:
    void Click(int id) override { Get<QAbstractButton>(id)->click(); }
    void Type(int id, const std::string& text) override {
        auto* edit = Get<QLineEdit>(id);
        edit->selectAll();
        edit->insert(QString::fromStdString(text));
        if (text.empty()) edit->clear();
    }
    void Choose(int id, int index) override { Get<QComboBox>(id)->setCurrentIndex(index); }
    void Step(int id, bool up) override { Get<ui::CUpDown>(id)->Step(up); }

protected:
    virtual QWidget* Control(int id) = 0;

    template <class T>
    T* Get(int id) {
        auto* t = qobject_cast<T*>(Control(id));
        EXPECT_NE(t, nullptr) << "no control " << id << " of the expected kind";
        return t;
    }
};

class QtDriver : public QtOperated<DialogDriver> {
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
    void Escape() override { m_Dialog->reject(); }
    std::optional<int> Ended() const override { return m_Ended; }
    std::vector<std::string> Messages() const override { return m_Messages; }

private:
    QWidget* Control(int id) override { return m_Dialog->Control(id); }

    std::unique_ptr<ui::QtRulesDialog> m_Dialog;
    std::optional<int> m_Ended;
    std::vector<std::string> m_Messages;
};

// The main window shown without a modal loop.
class QtWindowDriver : public QtOperated<WindowDriver> {
public:
    QtWindowDriver(OrnFilterWheel& device, ManualMainLoop& loop) : m_Loop(loop) {
        m_Window = std::make_unique<ui::CFilterWheelDlg>(device, loop);
        EXPECT_TRUE(m_Window->CreateModeless());
        m_Window->SetFileChooser([this](bool save, QWidget*) -> std::optional<QString> {
            savedWith.push_back(save);
            pollingDuringChooser.push_back(m_Window->PollingEnabled);
            if (!chooserPath) return std::nullopt;
            return QString::fromStdString(*chooserPath);
        });
        m_Window->SetMessageBox([this](const QString& text, const QString& caption, QWidget*) {
            boxes.push_back((text + "|" + caption).toStdString());
        });
    }
    ~QtWindowDriver() override {
        m_Window.reset();
        // Windows closed from their own handlers are deleted once the loop comes round.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    ui::FilterWheelRules& Rules() override { return *m_Window; }
    ui::DialogControls& Controls() override { return *m_Window->WindowControls(); }
    void Escape() override { m_Window->Window()->reject(); }
    void ArrowKey(int editId, bool up) override {
        QWidget* target = Get<QWidget>(editId);
        const Qt::Key key = up ? Qt::Key_Up : Qt::Key_Down;
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QApplication::sendEvent(target, &release);
    }
    // A click on the cell opens the editor; the edit ends when the focus has moved on at the
    // next tick.
    void EditCell(int row, int column, const std::string& text) override {
        auto* list = Get<QTreeWidget>(ui::idc::kFilterList);
        const QPoint at = list->visualRect(list->model()->index(row, column)).center();
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            QMouseEvent e(type, QPointF(at), list->viewport()->mapToGlobal(QPointF(at)), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(list->viewport(), &e);
        }
        auto* edit = qobject_cast<QLineEdit*>(m_Window->Control(ui::idc::kCellEdit));
        ASSERT_NE(edit, nullptr);
        edit->setText(QString::fromStdString(text));
        Get<QWidget>(ui::idc::kSensorName0 + 3)->setFocus();
        m_Loop.AdvanceBy(std::chrono::milliseconds(1000));
        EXPECT_FALSE(m_Window->CellEditorOpen());
    }

private:
    QWidget* Control(int id) override { return m_Window->Control(id); }

    ManualMainLoop& m_Loop;
    std::unique_ptr<ui::CFilterWheelDlg> m_Window;
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
        }
        return nullptr;
    }
    std::unique_ptr<WindowDriver> OpenWindow(OrnFilterWheel& device, ManualMainLoop& loop) override {
        return std::make_unique<QtWindowDriver>(device, loop);
    }
};

QtLayer qtLayer;

INSTANTIATE_TEST_SUITE_P(Qt, DialogRulesTest, ::testing::Values(LayerParam{"Qt", &qtLayer}),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Qt, WindowRulesTest, ::testing::Values(LayerParam{"Qt", &qtLayer}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velq3::test
