#pragma once

#include <QChar>
#include <QColor>
#include <QList>
#include <QRgb>

namespace vn {

// One position of the grid. A double-width character fills its own cell and
// marks the next one as its continuation, which holds a blank and is never
// drawn. A grid of 500 x 200 and its history hold many of these, so a colour
// is its 32-bit RGBA value with a flag for "a colour of its own" (without it
// the theme's text colour, or no background), and the whole cell is 12 bytes.
class TerminalCell {
public:
    QChar character = QChar(u' ');
    bool bold : 1 = false;
    bool continuation : 1 = false;

    // Invalid: the theme's text colour.
    QColor foreground() const { return m_ownForeground ? QColor::fromRgba(m_foreground) : QColor(); }
    // Invalid: no background of its own.
    QColor background() const { return m_ownBackground ? QColor::fromRgba(m_background) : QColor(); }
    bool hasForeground() const { return m_ownForeground; }
    bool hasBackground() const { return m_ownBackground; }
    // An invalid colour takes the cell's own colour away.
    void setForeground(const QColor& colour)
    {
        m_ownForeground = colour.isValid();
        m_foreground = m_ownForeground ? colour.rgba() : 0;
    }
    void setBackground(const QColor& colour)
    {
        m_ownBackground = colour.isValid();
        m_background = m_ownBackground ? colour.rgba() : 0;
    }

    // A blank draws nothing of its own: a space with no background and not a
    // continuation. Its foreground and weight do not show.
    bool isBlank() const { return character == u' ' && !continuation && !m_ownBackground; }
    // Everything but the character: what cells of one run share.
    bool sameLook(const TerminalCell& other) const
    {
        return bold == other.bold && continuation == other.continuation
               && m_ownForeground == other.m_ownForeground && m_ownBackground == other.m_ownBackground
               && m_foreground == other.m_foreground && m_background == other.m_background;
    }

    friend bool operator==(const TerminalCell&, const TerminalCell&) = default;

private:
    bool m_ownForeground : 1 = false;
    bool m_ownBackground : 1 = false;
    QRgb m_foreground = 0;   // 0 unless a colour of its own, so that equal cells compare equal
    QRgb m_background = 0;
};

static_assert(sizeof(TerminalCell) <= 12, "a terminal cell takes at most 12 bytes");

// Lines are implicitly shared, so handing one to the alternate-screen save
// area shares its cells instead of copying them.
using TerminalLine = QList<TerminalCell>;

} // namespace vn
