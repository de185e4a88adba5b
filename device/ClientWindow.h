// What the drivers need of the operator's main window. Until a window exists the calls do
// nothing.
#pragma once

namespace velq3 {

class IClientWindow {
public:
    virtual ~IClientWindow() = default;
    // A client's connection opened the port: create and show the window if there is none.
    virtual void ShowForClient() {}
    // A client's disconnection closed the port: close a window that ShowForClient opened.
    virtual void HideForClient() {}
    // A client asked for the setup dialog.
    virtual void BringToFront() {}
    // Whether a window can be shown at all (false without a display): a setup dialog that
    // nobody can see would wait forever.
    virtual bool CanShowWindows() const { return true; }
};

} // namespace velq3
