#pragma once
// A list window's layout in the user's profile (a value of the settings key): its size restored,
// whether it was maximized, and its list's column widths and order. It is read when the window is
// created and written when the program ends. A value that is no such layout (of another kind,
// garbled, for another number of columns) is passed over, and trouble with the profile is never
// a box: a layout is the user's comfort, not their data. UI thread only.

#include "lists/ProxyListView.h"
#include "win/Form.h"

// The window and its list as the value `name` has them, where it holds a layout.
void LoadWindowLayout(Form& form, ProxyListView& list, const char* name);
// The window's and its list's layout into the value `name`.
void StoreWindowLayout(const Form& form, const ProxyListView& list, const char* name);
