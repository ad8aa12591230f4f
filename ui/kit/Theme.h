#pragma once

#include <QColor>
#include <QFont>
#include <QString>

namespace vn {

// The palette every window and self-painting widget draws from. A plain value:
// a theme change is a new Theme handed to each widget that keeps a copy.
struct Theme {
    bool dark = false;
    QColor bg{0xdc, 0xe2, 0xd3};       // window and dialog background
    QColor panel{0xf6, 0xf4, 0xe8};    // raised surfaces: pages, inputs, menus, cards
    QColor side{0xe9, 0xec, 0xdd};     // side bars, tool strips, headers, status bar
    QColor text{0x28, 0x39, 0x2f};     // normal text
    QColor muted{0x64, 0x73, 0x60};    // secondary and disabled text, inactive tabs
    QColor line{0xb7, 0xc2, 0xac};     // thin borders, separators, grooves
    QColor accent{0xdc, 0x8c, 0x38};   // focus, selection, primary buttons
    QColor hover{0xdc, 0xe4, 0xcd};    // hovered and selected item backgrounds
    QColor green{0x47, 0x72, 0x55};    // signal colours
    QColor red{0xb8, 0x58, 0x45};
    QColor amber{0x99, 0x60, 0x22};
    QColor edge{0x7c, 0x8c, 0x74};     // stronger borders
    QColor rail{0x29, 0x3e, 0x35};     // navigation rail and brand block
    QColor onaccent{0x28, 0x39, 0x2f}; // text on an accent background

    // The light palette, or the dark one when `dark` is true.
    static Theme make(bool dark);

    // The application style sheet for this palette. Also hands the palette to the
    // button motion and installs the keyboard-focus marking (once per process).
    QString stylesheet() const;

    // "Microsoft YaHei UI", 14 px: the interface font.
    static QFont interfaceFont();
    // "Cascadia Mono" when installed, else "Consolas"; 12 pt, monospace, with
    // "Microsoft YaHei UI" as fall-back for Chinese text.
    static QFont defaultDataFont();
    // The family of the interface pixel font drawn for 8 or 12 px; empty for
    // other sizes, "Consolas" when the font could not be registered.
    static QString fontFamily(int pixelSize);

    // Maps the Windows family names the program stores ("Microsoft YaHei UI",
    // "Cascadia Mono", "Consolas", "Segoe UI") onto fonts installed here.
    // Idempotent; the font functions above call it themselves.
    static void installFontSubstitutions();

    bool operator==(const Theme&) const = default;
};

} // namespace vn
