#pragma once
// Shared set-up of the tests that drive the program's windows in-process: the two windows as the
// program creates them, the error box replaced by a recorder, and a clean slate of the settings.

#include "app/Unit1.h"
#include "lists/Unit2.h"
#include "settings/AgentOverride.h"
#include "settings/SystemProxy.h"
#include "win/Application.h"
#include "win/ErrorBox.h"

#include "MessagePump.h"
#include "RawRegistry.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

// A control's place, compared and printed as a whole.
inline bool operator==(const RECT& a, const RECT& b)
{
    return EqualRect(&a, &b) != FALSE;
}
inline void PrintTo(const RECT& r, std::ostream* out)
{
    *out << "{" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << "}";
}

// The window class of a control, and the font it draws with.
inline std::string ClassOf(HWND hwnd)
{
    char name[64] = {};
    GetClassNameA(hwnd, name, sizeof name);
    return name;
}

inline LOGFONTA FontOf(HWND hwnd)
{
    LOGFONTA font{};
    GetObjectA(reinterpret_cast<HGDIOBJ>(SendMessageA(hwnd, WM_GETFONT, 0, 0)), sizeof font, &font);
    return font;
}

// The platform's own record of the default connection's proxy, which the program sets beside the
// registry values and which this process keeps from test to test: back to a direct connection.
inline void ResetConnectionProxy()
{
    INTERNET_PER_CONN_OPTIONA option{};
    option.dwOption = INTERNET_PER_CONN_FLAGS;
    option.Value.dwValue = PROXY_TYPE_DIRECT;
    INTERNET_PER_CONN_OPTION_LISTA list{sizeof list, nullptr, 1, 0, &option};
    InternetSetOptionA(nullptr, INTERNET_OPTION_PER_CONNECTION_OPTION, &list, sizeof list);
}

class WindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        Application.ResetTermination();
        previousErrorBox_ = ReplaceErrorBox([this](const std::string& text) { errors.push_back(text); });
        raw::RestoreKey(SettingsKey); // in case an earlier test left it broken
        LeaveACleanMachine();
        for (const char* name : {"Zarnuinfo", "Zarnubrowser", "Zarnumainwindow", "Zarnucheckerwindow"})
            raw::RemoveValue(SettingsKey, name);
        raw::RemoveTree(AgentKey);
    }

    // No proxy of the user's, none of the program's: what the next test, and the next run of the
    // tests in this prefix, start from.
    static void LeaveACleanMachine()
    {
        ResetConnectionProxy(); // the platform may mirror it into the values: they go after it
        for (const char* name : {"ProxyEnable", "ProxyServer", "ProxyOverride", "AutoConfigURL", SavedProxyValue})
            raw::RemoveValue(SettingsKey, name);
    }

    void TearDown() override
    {
        checker.Destroy();
        main.Destroy();
        DispatchPending();
        LeaveACleanMachine();
        ReplaceErrorBox(previousErrorBox_);
        Application.ResetTermination();
    }

    // Creates both windows the way the program starts.
    void Start()
    {
        main.Create();
        main.CreateChecker(checker);
    }

    // Dispatches every message waiting in this thread's queue; true when a quit request was
    // among them.
    static bool DispatchPending()
    {
        bool quit = false;
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            if (!TApplication::DispatchOne(message))
                quit = true;
        return quit;
    }

    // Presses `key` (with Shift held when `shifted`) on the control that has the focus: the key
    // messages go through the message loop, as the keyboard's do.
    static void PressKey(UINT key, bool shifted = false)
    {
        BYTE keys[256] = {};
        GetKeyboardState(keys);
        keys[VK_SHIFT] = shifted ? 0x80 : 0;
        SetKeyboardState(keys);
        const HWND target = GetFocus();
        PostMessageA(target, WM_KEYDOWN, key, 1);
        PostMessageA(target, WM_KEYUP, key, 0xC0000001);
        DispatchPending();
        keys[VK_SHIFT] = 0;
        SetKeyboardState(keys);
    }

    std::vector<std::string> errors;
    TForm1 main;
    TForm2 checker;

private:
    ErrorBoxPresenter previousErrorBox_;
};
