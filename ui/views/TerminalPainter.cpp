#include "ui/views/TerminalPainter.h"

#include "ui/views/TerminalView.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace vn {

void TerminalView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    TerminalPainter::paint(*this, painter);
}

void TerminalPainter::paint(const TerminalView& view, QPainter& painter)
{
    const TerminalScreen& screen = view.m_screen;
    const Theme& theme = view.theme;
    const QFont base = view.font();
    const QFontMetricsF metrics(base);
    const qreal cw = metrics.horizontalAdvance(QLatin1Char('M'));
    const qreal lh = metrics.lineSpacing() * 1.15;
    const qreal ascent = metrics.ascent();
    constexpr qreal x0 = 16;
    constexpr qreal y0 = 12;

    if (!view.transparentBackground)
        painter.fillRect(view.rect(), theme.panel);

    const int v = view.m_scroll->value();
    const bool live = screen.alternateScreen() || v == screen.historyRows();
    const int cols = screen.cols();
    const bool selecting = view.hasSelection();
    // Plain variables, not a structured binding: the lambda below captures them,
    // which clang before 16 refuses for bindings.
    const std::pair<qint64, qint64> range = view.selectionRange();
    const qint64 lo = range.first;
    const qint64 hi = range.second;

    QFont regular = base;
    QFont bold = base;
    regular.setWeight(base.weight() > 500 ? QFont::Bold : QFont::Normal);
    bold.setWeight(QFont::Bold);

    for (int i = 0; i < screen.rows(); ++i) {
        const int row = v + i;
        if (row >= screen.documentRows())
            break;
        const qreal y = y0 + i * lh;
        // A history line is stored up to its last cell that is not blank;
        // the cells after it are blank and draw nothing unless selected.
        const TerminalLine line = screen.documentLine(row);
        const int width = std::min<int>(cols, static_cast<int>(line.size()));
        const qint64 rowStart = qint64(row) * cols;
        auto selected = [&](int j) {
            const qint64 p = rowStart + j;
            return selecting && p >= lo && p < hi;
        };
        for (int j = 0; j < cols; ++j) {
            const bool inside = j < width;
            const bool own = inside && line.at(j).hasBackground();
            if (!own && !selected(j))
                continue;
            const QRectF box(x0 + j * cw, y, cw, lh);
            if (own)
                painter.fillRect(box, line.at(j).background());
            if (selected(j))
                painter.fillRect(box, theme.accent);
        }
        bool boldActive = false;
        painter.setFont(regular);
        for (int j = 0; j < width; ++j) {
            const TerminalCell& cell = line.at(j);
            if (cell.continuation || cell.character == u' ')
                continue;
            const bool wantBold = cell.bold || base.weight() > 500;
            if (wantBold != boldActive) {
                painter.setFont(wantBold ? bold : regular);
                boldActive = wantBold;
            }
            painter.setPen(selected(j) ? theme.onaccent
                                       : cell.hasForeground() ? cell.foreground() : theme.text);
            painter.drawText(QPointF(x0 + j * cw, y + ascent), QString(cell.character));
        }
    }

    if (!live)
        return;
    const QPoint cursor = screen.cursor();
    const qreal cx = x0 + std::min(cursor.x(), cols - 1) * cw;
    const qreal cy = y0 + cursor.y() * lh;
    if (view.m_blinkOn && screen.cursorVisible() && view.hasFocus() && view.interactive) {
        QColor colour = theme.accent;
        colour.setAlpha(150);
        painter.fillRect(QRectF(cx, cy, view.blockCursor ? cw : 2, lh), colour);
    }
    if (!view.m_preedit.isEmpty()) {
        painter.setFont(base);
        painter.setPen(theme.accent);
        painter.drawText(QPointF(cx, cy + ascent), view.m_preedit);
        painter.fillRect(QRectF(cx, cy + metrics.height(), metrics.horizontalAdvance(view.m_preedit), 1),
                         theme.accent);
    }
}

} // namespace vn
