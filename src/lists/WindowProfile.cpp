#include "lists/WindowProfile.h"

#include "core/WindowLayout.h"
#include "settings/SystemProxy.h"
#include "win/Registry.h"

#include <exception>

void LoadWindowLayout(Form& form, ProxyListView& list, const char* name)
{
    std::string text;
    try {
        TRegistry registry;
        if (registry.OpenExistingUserKey(SettingsKey))
            text = registry.LoadText(name);
    } catch (const std::exception&) {
        return; // a value of another kind: none of the window's
    }
    const auto layout = ParseWindowLayout(text, static_cast<std::size_t>(list.ColumnCount()));
    if (!layout)
        return;
    form.Place({{layout->width, layout->height}, layout->maximized});
    for (std::size_t column = 0; column < layout->widths.size(); ++column)
        list.SetColumnWidth(static_cast<int>(column), layout->widths[column]);
    list.SetColumnOrder(layout->order);
}

void StoreWindowLayout(const Form& form, const ProxyListView& list, const char* name)
{
    const Form::Placement placement = form.CurrentPlacement();
    WindowLayout layout{static_cast<int>(placement.size.cx), static_cast<int>(placement.size.cy), placement.maximized,
                        {}, list.ColumnOrder()};
    for (int column = 0; column < list.ColumnCount(); ++column)
        layout.widths.push_back(list.ColumnWidth(column));
    try {
        TRegistry registry;
        registry.OpenOrCreateUserKey(SettingsKey);
        registry.StoreText(name, FormatWindowLayout(layout));
    } catch (const std::exception&) {
        // The next start shows the window at its default layout.
    }
}
