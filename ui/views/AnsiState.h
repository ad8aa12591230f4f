#pragma once

#include <QColor>
#include <QList>

namespace vn {

struct Theme;

// The colour of an ANSI colour index: 0..15 a fixed palette that does not
// follow the light or dark theme, 16..231 the 6x6x6 cube, 232.. the greys.
QColor ansiColor(int index);

// The drawing attributes of an ANSI text stream; every printed character takes
// all three. Invalid colours mean "the default".
struct AnsiState {
    QColor foreground;
    QColor background;
    bool bold = false;

    // Applies one Select Graphic Rendition parameter list. The colours come
    // from ansiColor alone, so the theme does not change the result.
    void sgr(const QList<int>& parameters, const Theme& theme);
    void sgr(const QList<int>& parameters);

    friend bool operator==(const AnsiState&, const AnsiState&) = default;
};

} // namespace vn
