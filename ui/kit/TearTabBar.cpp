#include "ui/kit/TearTabBar.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointingDevice>
#include <QStyleOptionTab>
#include <QTabWidget>
#include <QTimer>
#include <QWindow>

#include <algorithm>

namespace vn {

TearTabBar::TearTabBar(QWidget* parent)
    : QTabBar(parent)
{
    setMovable(true);
    setDrawBase(false);
    setExpanding(false);
    setElideMode(Qt::ElideRight);
}

void TearTabBar::setPageColor(const QColor& colour)
{
    if (colour != m_pageColor) {
        m_pageColor = colour;
        update();
    }
}

QObject* TearTabBar::identity(int index) const
{
    if (index < 0 || index >= count()) {
        return nullptr;
    }
    const QVariant stored = tabData(index);
    if (stored.canConvert<QObject*>()) {
        if (QObject* object = stored.value<QObject*>()) {
            return object;
        }
    }
    if (auto* tabs = qobject_cast<QTabWidget*>(parentWidget())) {
        return tabs->widget(index);
    }
    return nullptr;
}

int TearTabBar::indexOfIdentity(const QObject* object) const
{
    if (!object) {
        return -1;
    }
    for (int index = 0; index < count(); ++index) {
        if (identity(index) == object) {
            return index;
        }
    }
    return -1;
}

void TearTabBar::mousePressEvent(QMouseEvent* event)
{
    const QPoint position = event->position().toPoint();
    if (event->button() == Qt::MiddleButton && m_middleClickClosing) {
        m_middlePressedTab = identity(tabAt(position));
        event->accept();
        return;
    }
    if (event->button() == Qt::LeftButton) {
        m_pressPosition = position;
        m_pressedTab = identity(tabAt(position));
    }
    QTabBar::mousePressEvent(event);
}

void TearTabBar::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint position = event->position().toPoint();
    if ((event->buttons() & Qt::LeftButton) && m_pressedTab) {
        const QPoint moved = position - m_pressPosition;
        const bool far = moved.manhattanLength() >= QApplication::startDragDistance();
        const bool outside = !rect().adjusted(-36, -26, 36, 26).contains(position);
        if (far && outside) {
            const int index = indexOfIdentity(m_pressedTab);
            m_pressedTab = nullptr;
            // End the bar's own tab move before the page leaves it.
            QMouseEvent release(QEvent::MouseButtonRelease, event->position(), event->globalPosition(),
                                Qt::LeftButton, Qt::NoButton, event->modifiers(),
                                QPointingDevice::primaryPointingDevice());
            QTabBar::mouseReleaseEvent(&release);
            releaseMouse();
            if (index >= 0) {
                Q_EMIT tearRequested(index, event->globalPosition().toPoint());
            }
            return;
        }
    }
    QTabBar::mouseMoveEvent(event);
}

void TearTabBar::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::MiddleButton && m_middleClickClosing) {
        const int index = tabAt(event->position().toPoint());
        QObject* pressed = m_middlePressedTab;
        m_middlePressedTab = nullptr;
        if (pressed && index >= 0 && identity(index) == pressed) {
            Q_EMIT tabCloseRequested(index);
        }
        event->accept();
        return;
    }
    m_pressedTab = nullptr;
    QTabBar::mouseReleaseEvent(event);
}

void TearTabBar::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::MiddleButton && m_middleClickClosing) {
        m_middlePressedTab = nullptr;
        event->accept();
        return;
    }
    QTabBar::mouseDoubleClickEvent(event);
}

void TearTabBar::initStyleOption(QStyleOptionTab* option, int tabIndex) const
{
    QTabBar::initStyleOption(option, tabIndex);
    // Every tab drawn alike, without the style's first and last tab margins.
    // Qt 6.4 lacks the "moving" position; "middle" has the same effect here.
    option->position = QStyleOptionTab::Middle;
}

void TearTabBar::paintEvent(QPaintEvent* event)
{
    QTabBar::paintEvent(event);
    const int current = currentIndex();
    if (current < 0 || !m_pageColor.isValid() || m_pressedTab) {
        return;
    }
    const QRect r = tabRect(current);
    const bool inTabWidget = qobject_cast<QTabWidget*>(parentWidget()) != nullptr;
    const double y = std::min(r.y() + r.height(), height());
    const double m = inTabWidget ? 8 : 6;
    const double k = 0.5522847498 * m;

    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(m_pageColor);
    if (!(inTabWidget && current == 0)) {
        const double x0 = r.x() + (inTabWidget ? 0 : 6);
        QPainterPath left(QPointF(x0 - m, y));
        left.cubicTo(QPointF(x0 - m + k, y), QPointF(x0, y - m + k), QPointF(x0, y - m));
        left.lineTo(x0, y);
        left.closeSubpath();
        painter.drawPath(left);
    }
    const double x1 = r.x() + r.width() - (inTabWidget ? 12 : 6);
    QPainterPath right(QPointF(x1, y - m));
    right.cubicTo(QPointF(x1, y - m + k), QPointF(x1 + m - k, y), QPointF(x1 + m, y));
    right.lineTo(x1, y);
    right.closeSubpath();
    painter.drawPath(right);
}

void beginNativeMove(QWidget* window)
{
    QTimer::singleShot(0, window, [guard = QPointer<QWidget>(window)] {
        if (!guard || !(QGuiApplication::mouseButtons() & Qt::LeftButton)) {
            return;
        }
        if (QWindow* handle = guard->windowHandle()) {
            handle->startSystemMove();
        }
    });
}

bool cursorOver(QWidget* widget, const QPoint& globalPos)
{
    if (!widget || !widget->isVisible()) {
        return false;
    }
    const QRect area(widget->mapToGlobal(QPoint(0, 0)), widget->size());
    return area.adjusted(-8, -10, 8, 10).contains(globalPos);
}

} // namespace vn
