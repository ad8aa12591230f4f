#include "ui/window/PortDelegate.h"

#include "ui/window/PortText.h"
#include "ui/window/Window.h"

#include <QApplication>
#include <QFontMetrics>
#include <QJsonObject>
#include <QPainter>
#include <QStringList>

namespace vn {

namespace {

constexpr int ListWidth = 430;
constexpr int Inset = 10;
constexpr int TopGap = 7;

QJsonObject portOf(const QModelIndex& index)
{
    return index.data(PortObjectRole).toJsonObject();
}

} // namespace

PortDelegate::PortDelegate(Window* owner, QObject* parent)
    : QStyledItemDelegate(parent)
    , window(owner)
{
}

void PortDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QJsonObject port = portOf(index);
    if (port.isEmpty()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }

    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    item.text.clear();
    item.icon = QIcon();
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

    const Theme theme = window ? window->theme : Theme();
    const QFontMetrics metrics(option.font);
    const int x = option.rect.left() + Inset;
    const int usable = std::max(0, option.rect.width() - 2 * Inset);
    const int lineHeight = metrics.height();
    const int ascent = metrics.ascent();

    QString first = port.value(QStringLiteral("port")).toString();
    if (const QString description = port.value(QStringLiteral("description")).toString(); !description.isEmpty())
        first += QStringLiteral(" · ") + description;

    QStringList parts;
    if (const QString maker = port.value(QStringLiteral("manufacturer")).toString(); !maker.isEmpty())
        parts.append(maker);
    if (const QString identity = usbIdentity(port); !identity.isEmpty())
        parts.append(identity);
    if (const QString number = serialNumber(port); !number.isEmpty())
        parts.append(QStringLiteral("SN ") + number);
    const QString second = parts.isEmpty() ? QStringLiteral("串口设备") : parts.join(QStringLiteral(" · "));

    painter->save();
    painter->setClipRect(option.rect);
    painter->setFont(option.font);
    painter->setPen(theme.text);
    painter->drawText(QPoint(x, option.rect.top() + TopGap + ascent),
                      metrics.elidedText(first, Qt::ElideRight, usable));
    painter->setPen(theme.muted);
    painter->drawText(QPoint(x, option.rect.top() + TopGap + lineHeight + ascent),
                      metrics.elidedText(second, Qt::ElideRight, usable));
    painter->restore();
}

QSize PortDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const int lineHeight = QFontMetrics(option.font).height();
    return {ListWidth, 18 + (portOf(index).isEmpty() ? 1 : 2) * lineHeight};
}

} // namespace vn
