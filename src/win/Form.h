#pragma once
// A top-level window laid out in pixels at 96 dots per inch and scaled to the monitor, with the
// program's font, centred on the desktop, shown modeless or modally.

#include "win/UniqueHandle.h"
#include "win/Window.h"

#include <string>

class Form : public Window {
public:
    void Show() const { ShowWindow(Handle(), SW_SHOW); }
    // Hides the form; a modal showing ends here, with its owner enabled again first.
    void Hide();
    bool Visible() const { return IsWindowVisible(Handle()) != FALSE; }

    // Shows the form with its owner disabled, the focus on its first control in tab order, and
    // dispatches messages until the form is hidden again; the owner's control that had the focus
    // gets it back. A quit request that arrives meanwhile ends the showing and is passed on.
    void ShowModal();

    // Puts the keyboard focus on the first control in tab order.
    void FocusFirstControl() const;

protected:
    // Keeps the keyboard focus on the window's controls across activations.
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    struct Frame {
        const char* className;
        std::string caption;
        int clientWidth;
        int clientHeight;
        DWORD style;
    };
    // Creates the form hidden, centred on the desktop, with the frame's client size.
    void CreateForm(const Frame& frame, HWND owner);

    // A layout length in pixels at 96 dpi, scaled to the monitor.
    int Scale(int pixels) const { return MulDiv(pixels, dpi_, 96); }

    // Creates a child control at a 96-dpi layout position, in the program's font. Controls
    // created one after another take the tab order of their creation. Tab and Esc leave a
    // multi-line box to the window's keyboard navigation.
    HWND AddControl(const char* windowClass, const std::string& text, DWORD style, DWORD exStyle,
                    int left, int top, int width, int height, int commandId, bool bold = false);

private:
    int dpi_ = 96;
    UniqueGdiObject font_;
    UniqueGdiObject boldFont_;
    bool showingModal_ = false;
    HWND lastFocus_ = nullptr; // the control that had the focus when the window was deactivated
};
