#include "ui/window/ParameterGrip.h"

#include "ui/window/Window.h"
#include "ui/window/WorkspaceFile.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>

#include <cmath>

namespace vn {

ParameterGrip::ParameterGrip(Window* owner, QWidget* parent) : QWidget(parent), window(owner)
{
    setObjectName(QStringLiteral("parameterGrip"));
    setFixedWidth(8);
    setCursor(Qt::SplitHCursor);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(QStringLiteral("连接参数栏宽度"));
    setToolTip(QStringLiteral("拖动调整连接参数栏宽度，双击恢复默认\n方向键微调，Shift 加速，Home 恢复默认"));
}

// The width the sidebar shows now, which is where a drag starts from.
int ParameterGrip::sidebarWidth() const
{
    QScrollArea* scroll = window->parameterScroll();
    // Below the central widget only: torn-off windows are the root window's
    // children and have scroll areas of the same name.
    if (!scroll && window->centralWidget())
        scroll = window->centralWidget()->findChild<QScrollArea*>(QStringLiteral("parameterScroll"));
    return scroll ? scroll->width() : window->parameterWidth;
}

void ParameterGrip::paintEvent(QPaintEvent*)
{
    QColor colour = window->theme.muted;
    colour.setAlpha(65);
    if (dragging || underMouse() || hasFocus())
        colour = window->theme.accent;
    QPainter painter(this);
    painter.setPen(QPen(colour, 1, Qt::SolidLine));
    const int middle = width() / 2;
    painter.drawLine(middle, 0, middle, height());
    for (const int centre : {height() / 2 - 6, height() / 2, height() / 2 + 6})
        painter.fillRect(middle - 1, centre, 2, 2, colour);
}

void ParameterGrip::enterEvent(QEnterEvent* event)
{
    QWidget::enterEvent(event);
    update();
}

void ParameterGrip::leaveEvent(QEvent* event)
{
    QWidget::leaveEvent(event);
    update();
}

void ParameterGrip::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    dragging = true;
    pressX = event->globalPosition().x();
    startWidth = sidebarWidth();
    update();
    event->accept();
}

void ParameterGrip::mouseMoveEvent(QMouseEvent* event)
{
    if (!dragging) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    // std::lround rounds halves away from zero, as a drag to either side should.
    const long offset = std::lround(event->globalPosition().x() - pressX);
    window->resizeParameters(startWidth + int(offset));
    event->accept();
}

void ParameterGrip::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || !dragging) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    dragging = false;
    window->saveSettings();
    update();
    event->accept();
}

void ParameterGrip::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    dragging = false;
    window->resizeParameters(DefaultParameterWidth);
    window->saveSettings();
    update();
    event->accept();
}

void ParameterGrip::keyPressEvent(QKeyEvent* event)
{
    const int step = event->modifiers().testFlag(Qt::ShiftModifier) ? 40 : 10;
    switch (event->key()) {
    case Qt::Key_Home:
        window->resizeParameters(DefaultParameterWidth);
        break;
    // From the width shown: a stored width the window cannot show would
    // swallow the first presses.
    case Qt::Key_Left:
        window->resizeParameters(sidebarWidth() - step);
        break;
    case Qt::Key_Right:
        window->resizeParameters(sidebarWidth() + step);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    window->saveSettings();
    event->accept();
}

} // namespace vn
