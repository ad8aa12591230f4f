#include "ui/kit/Combo.h"

#include "ui/kit/ButtonMotion.h"
#include "ui/kit/Factories.h"

#include <QAbstractItemView>
#include <QFrame>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QWheelEvent>

namespace vn {

Combo::Combo(QWidget* parent)
    : QComboBox(parent)
{
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(4);
    setMinimumWidth(0);
    setMaxVisibleItems(12);
}

void Combo::wheelEvent(QWheelEvent* event)
{
    // A closed combo inside a scrolling form must not swallow the page's scroll.
    if (view() && view()->isVisible()) {
        QComboBox::wheelEvent(event);
    } else {
        event->ignore();
    }
}

void Combo::paintEvent(QPaintEvent* event)
{
    QComboBox::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double w = width();
    const double h = height();
    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.drawLine(QPointF(w - 28, h / 2 - 5), QPointF(w - 28, h / 2 + 5));

    QColor chevron = palette().color(QPalette::Text);
    if (!isEnabled()) {
        chevron = palette().color(QPalette::Disabled, QPalette::Text);
    } else if (underMouse() || (view() && view()->isVisible())) {
        chevron = palette().color(QPalette::Highlight);
    }
    painter.setPen(QPen(chevron, 1.7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    QPainterPath path(QPointF(w - 18, h / 2 - 2));
    path.lineTo(w - 14, h / 2 + 2);
    path.lineTo(w - 10, h / 2 - 2);
    painter.drawPath(path);
}

void Combo::showPopup()
{
    if (menuPopup) {
        showMenuPopup();
        return;
    }
    QWidget* popup = view() ? view()->window() : nullptr;
    const bool frame = popup && popup != window() && qobject_cast<QFrame*>(popup);
    if (frame && popup->windowType() == Qt::Popup) {
        roundPopupWindow(popup);
    }
    QComboBox::showPopup();
    if (frame && popup->isVisible()) {
        roundPopupWindow(popup);
    }
}

void Combo::showMenuPopup()
{
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setMinimumWidth(width());
    for (int index = 0; index < count(); ++index) {
        const QString tip = itemData(index, Qt::ToolTipRole).toString();
        // Item texts are user data (group names, ports).
        QAction* action = menu->addAction(menuText(tip.isEmpty() ? itemText(index) : tip));
        action->setCheckable(true);
        action->setChecked(index == currentIndex());
        connect(action, &QAction::triggered, this, [this, index] {
            setCurrentIndex(index);
            Q_EMIT activated(index);
        });
    }
    menu->popup(mapToGlobal(QPoint(0, height() + 1)));
}

ProtocolCombo::ProtocolCombo(QWidget* parent)
    : Combo(parent)
{
    setObjectName(QStringLiteral("protocolSelector"));
    addItems({QStringLiteral("串口"), QStringLiteral("TCP 客户端"), QStringLiteral("TCP 服务端"),
              QStringLiteral("UDP"), QStringLiteral("SSH")});
}

void ProtocolCombo::showPopup()
{
    menuPopup = true;
    Combo::showPopup();
}

} // namespace vn
