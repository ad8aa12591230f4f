#include "ui/kit/Splitter.h"

#include <QMouseEvent>
#include <QPainter>

namespace vn {

Grip::Grip(Qt::Orientation orientation, QSplitter* parent)
    : QSplitterHandle(orientation, parent)
{
    setToolTip(QStringLiteral("拖动调整大小，双击均分"));
}

void Grip::mouseDoubleClickEvent(QMouseEvent* event)
{
    QSplitter* owner = splitter();
    int total = 0;
    for (const int size : owner->sizes()) {
        total += size;
    }
    owner->setSizes({total / 2, total / 2});
    event->accept();
}

void Grip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QColor colour = palette().color(QPalette::Mid);
    colour.setAlpha(underMouse() ? 150 : 60);
    const int cx = (width() - 1) / 2;
    const int cy = (height() - 1) / 2;
    if (orientation() == Qt::Vertical) {
        // A horizontal strip between stacked panes: three short dashes.
        for (const int x : {cx - 8, cx - 2, cx + 4}) {
            painter.fillRect(QRect(x, cy - 1, 4, 2), colour);
        }
    } else if (underMouse()) {
        painter.setPen(QPen(colour, 2, Qt::SolidLine, Qt::FlatCap));
        painter.drawLine(QPoint(cx, cy - 16), QPoint(cx, cy + 16));
    }
}

Splitter::Splitter(Qt::Orientation orientation, QWidget* parent)
    : QSplitter(orientation, parent)
{
    setHandleWidth(8);
    setChildrenCollapsible(false);
}

QSplitterHandle* Splitter::createHandle()
{
    return new Grip(orientation(), this);
}

} // namespace vn
