#pragma once
// Building blocks of the menus' rows: the label is looked up once, when the
// menu opens, so a row shows the language of that moment.
#include "app.h"
#include "l10n.h"

#include <string>
#include <utility>

namespace menu_rows {

inline App::MenuItem item(const std::string& label, const char* shortcut, std::function<void()> act,
                          bool enabled = true)
{
    App::MenuItem m;
    m.label = label;
    m.shortcut = shortcut;
    m.act = std::move(act);
    m.enabled = enabled;
    return m;
}

inline App::MenuItem row(const char* key, const char* shortcut, std::function<void()> act, bool enabled = true)
{
    return item(L10n::tr(key), shortcut, std::move(act), enabled);
}

// A choice shown with a check mark, or with a dot when it is one of several.
inline App::MenuItem choice(const char* key, bool checked, bool radio, std::function<void()> act)
{
    App::MenuItem m = row(key, "", std::move(act));
    m.checked = checked;
    m.radio = radio;
    return m;
}

inline App::MenuItem separator()
{
    App::MenuItem m;
    m.separator = true;
    return m;
}

} // namespace menu_rows
