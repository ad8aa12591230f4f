#pragma once

#include <QString>

#include <functional>

class QFont;
class QMenu;

namespace vn {

class Pane;
class TerminalView;

// Pushes the window's look onto one page: the data font, the palette and the
// receive-area background. Called when a page is made or moves to another
// window, and for every page when the font, theme or backgrounds change.
class PageAppearance {
public:
    // "font-family: 'A', 'B'; font-size: 12pt; font-weight: 400; font-style: normal;"
    static QString fontRule(const QFont& font);

    static void apply(Pane& page);

    // The terminal clipboard menu: the three shortcut switches, then copy and
    // paste once. `changed` runs after a switch was toggled.
    static void fillClipboardMenu(QMenu& menu, TerminalView* terminal, const std::function<void()>& changed);
};

} // namespace vn
