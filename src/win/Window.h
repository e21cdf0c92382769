#pragma once
// Base of the program's top-level windows: binds the object to its HWND and cracks every message
// once into typed calls. A window states which handler runs for which control and event; a
// message without one goes to the platform's default. Every call runs inside the boundary that
// shows an escaping exception in the error box.

#include "win/UniqueHandle.h"

#include <commctrl.h>

#include <functional>
#include <map>
#include <vector>

class Window {
public:
    using Handler = std::function<void()>;
    using NotifyHandler = std::function<LRESULT(const NMHDR& notification)>;
    // `position` is the context menu's screen position, or -1 when the keyboard asked for it.
    using ContextMenuHandler = std::function<void(LPARAM position)>;

    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    // Destroys the window, and with it its controls, if that has not happened yet.
    virtual ~Window();

    HWND Handle() const { return hwnd_; }
    void Destroy();

    // The message map. A button's click, told apart from a menu command by coming from a control.
    void OnClick(HWND control, Handler handler) { clicks_[control] = std::move(handler); }
    // A menu item's command.
    void OnMenuCommand(UINT id, Handler handler) { menuCommands_[id] = std::move(handler); }
    // Notifications from a control; the handler's result is the message's.
    void OnNotify(HWND control, NotifyHandler handler) { notifications_[control] = std::move(handler); }
    // A context menu asked for on a control (by the mouse or the keyboard).
    void OnContextMenu(HWND control, ContextMenuHandler handler) { contextMenus_[control] = std::move(handler); }
    // The window system's close command. Without a handler the window is destroyed.
    void OnClose(Handler handler) { close_ = std::move(handler); }
    // Esc, as the keyboard navigation reports it.
    void OnCancel(Handler handler) { cancel_ = std::move(handler); }
    // The user's session ends: the process ends after this call.
    void OnEndSession(Handler handler) { endSession_ = std::move(handler); }
    // The window becomes active (true) or inactive (false).
    void OnActivate(std::function<void(bool active)> handler) { activate_ = std::move(handler); }
    // The window's client area has a new size (not for a minimised window).
    void OnSize(Handler handler) { size_ = std::move(handler); }
    // How small the user may make the window, in pixels of its outer size.
    void SetLeastSize(SIZE least) { leastSize_ = least; }
    // Draws a static control (or a read-only edit) in these colours.
    void SetColors(HWND control, COLORREF text, COLORREF background);

protected:
    // Registers `className` on first use and creates the window bound to this object.
    // Raises std::runtime_error when the window cannot be created.
    void CreateBound(const char* className, const char* caption, DWORD style, DWORD exStyle,
                     const RECT& bounds, HWND owner);

private:
    struct Colors {
        COLORREF text;
        COLORREF background;
        UniqueGdiObject brush;
    };

    static LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void HandleCommand(WPARAM wParam, LPARAM lParam);
    // WM_SIZE and WM_GETMINMAXINFO; false where the default is to handle it.
    bool HandleSizing(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleColors(HDC dc, HWND control);

    HWND hwnd_ = nullptr;
    std::map<HWND, Handler> clicks_;
    std::map<UINT, Handler> menuCommands_;
    std::map<HWND, NotifyHandler> notifications_;
    std::map<HWND, ContextMenuHandler> contextMenus_;
    std::map<HWND, Colors> colors_;
    Handler close_;
    Handler cancel_;
    Handler endSession_;
    std::function<void(bool)> activate_;
    Handler size_;
    SIZE leastSize_{0, 0};
};
