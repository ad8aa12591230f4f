#include "ui/kit/StatusLed.h"

#include <QPainter>
#include <QRadialGradient>

namespace vn {

StatusLed::StatusLed(QWidget* parent)
    : QWidget(parent)
{
    setFixedSize(22, 22);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void StatusLed::setState(State state)
{
    if (state == m_state) {
        return;
    }
    m_state = state;
    update();
}

void StatusLed::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(width() / 2.0, height() / 2.0);

    if (m_state == Neutral) {
        painter.setPen(QPen(theme.edge, 1));
        painter.setBrush(theme.line);
        painter.drawEllipse(centre, 5.5, 5.5);
        return;
    }

    QColor lamp;
    switch (m_state) {
    case Green:
        lamp = theme.dark ? QColor(0x6e, 0xdf, 0x8d) : QColor(0x2b, 0x9e, 0x53);
        break;
    case Amber:
        lamp = theme.dark ? QColor(0xf4, 0xc4, 0x6b) : QColor(0xc5, 0x82, 0x20);
        break;
    default:
        lamp = theme.dark ? QColor(0xff, 0x92, 0x7c) : QColor(0xca, 0x51, 0x3f);
        break;
    }

    QColor glowColour = lamp;
    glowColour.setAlpha(theme.dark ? 100 : 65);
    QColor clear = lamp;
    clear.setAlpha(0);
    QRadialGradient glow(centre, 11);
    glow.setColorAt(0.35, glowColour);
    glow.setColorAt(1.0, clear);
    painter.setPen(Qt::NoPen);
    painter.setBrush(glow);
    painter.drawEllipse(centre, 11, 11);

    painter.setPen(QPen(lamp.darker(130), 1));
    painter.setBrush(lamp);
    painter.drawEllipse(centre, 5.5, 5.5);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 150));
    painter.drawEllipse(QRectF(centre + QPointF(-3.2, -3.1), QSizeF(3.4, 2.6)));
}

} // namespace vn
