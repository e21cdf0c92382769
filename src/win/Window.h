#pragma once
// Base of the program's top-level windows: binds the object to its HWND and routes every message
// through HandleMessage, inside the boundary that shows an escaping exception in the error box.

#include <windows.h>

class Window {
public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    // Destroys the window, and with it its controls, if that has not happened yet.
    virtual ~Window();

    HWND Handle() const { return hwnd_; }
    void Destroy();

protected:
    // Registers `className` on first use and creates the window bound to this object.
    // Raises std::runtime_error when the window cannot be created.
    void CreateBound(const char* className, const char* caption, DWORD style, DWORD exStyle,
                     const RECT& bounds, HWND owner);

    // Derived windows unpack the messages they handle and pass the rest on to this one.
    virtual LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam,
                                            LPARAM lParam);

    HWND hwnd_ = nullptr;
};
