#include "ui/kit/BackgroundSurface.h"

#include <QPainter>

namespace vn {

BackgroundSurface::BackgroundSurface(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void BackgroundSurface::paintEvent(QPaintEvent*)
{
    // An opaque-painting widget that fills nothing would show stale pixels
    // instead of the window behind it, so the promise follows `transparent`.
    if (testAttribute(Qt::WA_OpaquePaintEvent) == transparent) {
        setAttribute(Qt::WA_OpaquePaintEvent, !transparent);
        if (transparent) {
            update();
            return;
        }
    }
    QPainter painter(this);
    if (!transparent) {
        painter.fillRect(rect(), baseColor);
    }
    QRect target = rect();
    if (caption) {
        QWidget* top = window();
        target = QRect(mapFrom(top, QPoint(0, 0)), top->size());
    }
    background.paint(painter, target);
}

} // namespace vn
