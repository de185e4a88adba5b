// The main window wired to a device object on a simulated controller (on COM3), a registry
// hive in a temporary folder and a manual main loop whose virtual time drives the poll.
#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTreeWidget>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "SimWheelFixture.h"
#include "ui/DialogTemplates.h"
#include "ui/qt/DialogBuilder.h"
#include "ui/qt/FilterWheelDlg.h"
#include "ui/qt/UpDown.h"

namespace velq3::test {

using namespace std::chrono_literals;
using ui::CFilterWheelDlg;
namespace idc = ui::idc;

class UiTest : public SimWheelFixture<::testing::Test> {
protected:
    void TearDown() override {
        dlg.reset();
        device.reset();
        // Windows closed from their own handlers are deleted once the loop comes round.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // The device object and the window object, and the window shown without a modal loop.
    void MakeWindow() {
        MakeDeviceObject();
        dlg = std::make_unique<CFilterWheelDlg>(*device, loop);
        ASSERT_TRUE(dlg->CreateModeless());
    }

    // Picks COM3 in the port list, presses Connect and lets one tick show the connection.
    void ConnectThroughWindow() {
        Get<QComboBox>(idc::kPortList)->setCurrentIndex(kSimPort);
        Click(idc::kConnect);
        ASSERT_TRUE(device->IsOpen());
        Tick();
    }

    void StartConnected(std::vector<std::string> args = {}) {
        StartSim(std::move(args));
        MakeWindow();
        ConnectThroughWindow();
    }

    void Tick() { loop.AdvanceBy(1000ms); }

    template <class T = QWidget>
    T* Get(int id) {
        QWidget* w = dlg->Control(id);
        EXPECT_NE(w, nullptr) << "no control " << id;
        T* t = qobject_cast<T*>(w);
        EXPECT_NE(t, nullptr) << "control " << id << " is not of the expected kind";
        return t;
    }

    QString Text(int id) {
        QWidget* w = dlg->Control(id);
        if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
        if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
        if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
        ADD_FAILURE() << "control " << id << " has no text";
        return {};
    }

    bool Enabled(int id) { return Get(id)->isEnabled(); }
    // Shown as far as the window is concerned (the window itself may be off screen).
    bool Shown(int id) { return !Get(id)->isHidden(); }

    void Click(int id) { Get<QAbstractButton>(id)->click(); }

    void Key(QWidget* target, Qt::Key key, Qt::KeyboardModifiers mods = Qt::NoModifier, const QString& text = {}) {
        QKeyEvent press(QEvent::KeyPress, key, mods, text);
        QApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, key, mods, text);
        QApplication::sendEvent(target, &release);
    }

    void Mouse(QWidget* target, QEvent::Type type, QPoint at) {
        QMouseEvent e(type, QPointF(at), target->mapToGlobal(QPointF(at)), Qt::LeftButton,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(target, &e);
    }

    QTreeWidget* List() { return Get<QTreeWidget>(idc::kFilterList); }

    // The centre of a cell of the filter list, in viewport coordinates.
    QPoint CellCentre(int row, int column) { return List()->visualRect(List()->model()->index(row, column)).center(); }

    void ClickCell(int row, int column) {
        Mouse(List()->viewport(), QEvent::MouseButtonPress, CellCentre(row, column));
        Mouse(List()->viewport(), QEvent::MouseButtonRelease, CellCentre(row, column));
    }

    void DoubleClickCell(int row, int column) {
        QWidget* vp = List()->viewport();
        const QPoint at = CellCentre(row, column);
        Mouse(vp, QEvent::MouseButtonPress, at);
        Mouse(vp, QEvent::MouseButtonRelease, at);
        Mouse(vp, QEvent::MouseButtonDblClick, at);
        Mouse(vp, QEvent::MouseButtonRelease, at);
    }

    std::unique_ptr<CFilterWheelDlg> dlg;
};

}  // namespace velq3::test
