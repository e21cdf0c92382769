#pragma once
// A top-level window laid out in pixels at 96 dots per inch and scaled to the monitor, with the
// program's font, centred on the desktop, shown modeless or modally.

#include "win/Controls.h"
#include "win/StatusBar.h"
#include "win/UniqueHandle.h"
#include "win/Window.h"

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

class Form : public Window {
public:
    // Shows the form (maximized where Place said so, the first time).
    void Show() { ShowWindow(Handle(), TakeShowCommand()); }
    // How the form is to be shown next: SW_SHOWMAXIMIZED once after Place said so, else SW_SHOW.
    int TakeShowCommand() { return std::exchange(maximizeAtShow_, false) ? SW_SHOWMAXIMIZED : SW_SHOW; }
    // Hides the form; a modal showing ends here, with its owner enabled again first.
    void Hide();
    bool Visible() const { return IsWindowVisible(Handle()) != FALSE; }

    // Shows the form with its owner disabled, the focus on its first control in tab order, and
    // dispatches messages until the form is hidden again; the owner's control that had the focus
    // gets it back. A quit request that arrives meanwhile ends the showing and is passed on.
    void ShowModal();

    // Puts the keyboard focus on the first control in tab order.
    void FocusFirstControl() const;

    // The window's outer size restored and whether it is maximized: what a profile keeps.
    struct Placement {
        SIZE size;
        bool maximized;
    };
    Placement CurrentPlacement() const;
    // The restored size `placement.size` (within the window's least size and the desktop),
    // centred on the desktop, and maximized at its next showing where `placement.maximized`. For
    // a resizable window (MakeResizable).
    void Place(const Placement& placement);

protected:
    struct Frame {
        const char* className;
        std::string caption;
        int clientWidth;
        int clientHeight;
        DWORD style;
    };
    // Creates the form hidden, centred on the desktop, with the frame's client size. The control
    // that had the focus gets it back when the form is activated again, as in a dialog.
    void CreateForm(const Frame& frame, HWND owner);

    // One control of a form's table. Its place is in 96-dpi pixels of the form's client area;
    // a label sizes itself to its text; a button's click runs `onClick`.
    struct ControlEntry {
        Control& control;
        const char* windowClass;
        std::string text;
        int left, top, width, height;
        DWORD style;
        DWORD exStyle = 0;
        Handler onClick = {};
        bool bold = false;
    };
    // Creates the controls in the table's order, which is their tab order, each shifted by
    // (`left`, `top`). Tab and Esc leave a multi-line box to the window's keyboard navigation.
    void CreateControls(std::initializer_list<ControlEntry> table, int left = 0, int top = 0);

    // Adds the status bar below everything the window holds: the window grows by its height.
    void CreateStatusBar(StatusBar& bar);

    // How a control follows the window's size: its left and top edges keep their distance to the
    // window's left and top edges, unless it follows the right or the bottom edge (it moves with
    // it), and it grows in width or height as the window does.
    enum Follow : unsigned { kFollowRight = 1, kFollowBottom = 2, kGrowWidth = 4, kGrowHeight = 8 };
    // From now on the user can resize and maximize the window, down to the size it has now; each
    // control of `follows` follows it as its flags say (every other control stays where it is),
    // and the status bar stays at the bottom. The window's style has WS_THICKFRAME and
    // WS_MAXIMIZEBOX.
    void MakeResizable(std::initializer_list<std::pair<Control*, unsigned>> follows);

    // A layout length in pixels at 96 dpi, scaled to the monitor.
    int Scale(int pixels) const { return MulDiv(pixels, dpi_, 96); }

private:
    HWND AddControl(const ControlEntry& entry, int left, int top, int controlId);
    void Activated(bool active);
    void Resized();

    struct Following {
        HWND control;
        unsigned follow;
        RECT bounds; // at the window's least size, in its client area
    };
    std::vector<Following> following_;
    SIZE leastClient_{0, 0};
    SIZE leastWindow_{0, 0};
    StatusBar* statusBar_ = nullptr;
    bool maximizeAtShow_ = false;

    int dpi_ = 96;
    UniqueGdiObject font_;
    UniqueGdiObject boldFont_;
    bool showingModal_ = false;
    HWND lastFocus_ = nullptr; // the control that had the focus when the window was deactivated
};
