#pragma once

#include <QChar>
#include <QColor>
#include <QList>
#include <QRgb>

#include <type_traits>

namespace vn {

// One position of the grid. A double-width character fills its own cell and
// marks the next one as its continuation, which holds a blank and is never
// drawn. A grid of 500 x 200 and its history hold many of these, so a colour
// is its 32-bit RGBA value and the whole cell is 12 bytes, every one of them
// defined (no padding), so cells copy, fill and compare as plain words.
// A colour of its own is opaque, as every SGR colour is: an RGBA value of 0
// (transparent) is the flag for "none of its own", which means the theme's
// text colour for the foreground and no background for the background.
class TerminalCell {
public:
    QChar character = QChar(u' ');
    bool bold = false;
    bool continuation = false;

    // Invalid: the theme's text colour.
    QColor foreground() const { return hasForeground() ? QColor::fromRgba(m_foreground) : QColor(); }
    // Invalid: no background of its own.
    QColor background() const { return hasBackground() ? QColor::fromRgba(m_background) : QColor(); }
    bool hasForeground() const { return m_foreground != kNone; }
    bool hasBackground() const { return m_background != kNone; }
    // An invalid colour takes the cell's own colour away; so does a fully
    // transparent one, which draws nothing of its own.
    void setForeground(const QColor& colour) { m_foreground = own(colour); }
    void setBackground(const QColor& colour) { m_background = own(colour); }

    // A blank draws nothing of its own: a space with no background and not a
    // continuation. Its foreground and weight do not show.
    bool isBlank() const { return character == u' ' && !continuation && m_background == kNone; }
    // Everything but the character: what the cells of one run share.
    bool sameLook(const TerminalCell& other) const
    {
        return m_foreground == other.m_foreground && m_background == other.m_background && bold == other.bold
               && continuation == other.continuation;
    }

    // The look in two words, for loops that compare many cells.
    quint64 colours() const { return quint64(m_foreground) << 32 | m_background; }
    quint16 flags() const { return quint16(quint16(bold) | quint16(continuation) << 8); }

    friend bool operator==(const TerminalCell&, const TerminalCell&) = default;

private:
    static constexpr QRgb kNone = 0;
    static QRgb own(const QColor& colour) { return colour.isValid() && colour.alpha() != 0 ? colour.rgba() : kNone; }
    QRgb m_foreground = kNone;
    QRgb m_background = kNone;
};

static_assert(sizeof(TerminalCell) == 12, "a terminal cell takes 12 bytes, none of them padding");
static_assert(std::is_trivially_copyable_v<TerminalCell>);

// Lines are implicitly shared, so handing one to the alternate-screen save
// area shares its cells instead of copying them.
using TerminalLine = QList<TerminalCell>;

} // namespace vn
