#include "ui/window/ActivityTables.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"

#include <QJsonObject>
#include <QScrollBar>
#include <QTextDocument>
#include <QTreeWidget>

namespace vn {

namespace {

constexpr const char* SequenceProperty = "lastSequence";

qint64 sequenceOf(const QTreeWidgetItem* item)
{
    if (!item)
        return -1;
    return item->data(0, Qt::UserRole).toJsonObject().value(QStringLiteral("seq")).toInteger(-1);
}

} // namespace

QString plainToolTip(const QString& text)
{
    if (!Qt::mightBeRichText(text))
        return text;
    return QStringLiteral("<p style='white-space:pre'>") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

void fillConnectionsOverview(QTreeWidget* tree, const Engine* engine)
{
    tree->setUpdatesEnabled(false);
    tree->clear();
    for (const auto& entry : engine->channels) {
        const Channel* channel = entry.second;
        auto* item = new QTreeWidgetItem(tree);
        item->setText(0, channel->name);
        item->setText(1, channel->config.kind);
        item->setText(2, stateText(channel->state));
        item->setText(3, channel->id);
        item->setText(4, QStringLiteral("%1 / %2").arg(channel->rxBytes).arg(channel->txBytes));
    }
    tree->setUpdatesEnabled(true);
}

void fillCallLog(QTreeWidget* tree, const McpServer* server)
{
    const QVariant seen = tree->property(SequenceProperty);
    if (seen.isValid() && seen.toLongLong() == server->callCount)
        return;
    tree->setProperty(SequenceProperty, server->callCount);

    QScrollBar* bar = tree->verticalScrollBar();
    const int value = bar->value();
    // The last two pixels count as the end, so a reader there follows new rows.
    const int nearEnd = bar->maximum() - 2;
    const qint64 currentSeq = sequenceOf(tree->currentItem());
    const qint64 topSeq = sequenceOf(tree->itemAt(QPoint(1, 1)));

    tree->setUpdatesEnabled(false);
    tree->clear();
    QTreeWidgetItem* top = nullptr;
    for (const QJsonValue& entry : server->history) {
        const QJsonObject record = entry.toObject();
        const QString summary = record.value(QStringLiteral("summary")).toString();
        const QString tool = record.value(QStringLiteral("tool")).toString();
        auto* item = new QTreeWidgetItem(tree);
        // The clock part hh:mm:ss.zzz of the ISO time.
        item->setText(0, record.value(QStringLiteral("time")).toString().mid(11, 12));
        item->setText(1, record.value(QStringLiteral("client")).toString());
        item->setText(2, summary.isEmpty() ? tool : summary);
        item->setText(3, record.value(QStringLiteral("status")).toString() == QLatin1String("ok")
                             ? QStringLiteral("成功")
                             : QStringLiteral("失败"));
        item->setText(4, QString::number(record.value(QStringLiteral("duration_ms")).toInteger()));
        item->setText(5, record.value(QStringLiteral("error")).toString());
        item->setData(0, Qt::UserRole, record);
        item->setToolTip(0, plainToolTip(tool));
        const qint64 seq = record.value(QStringLiteral("seq")).toInteger(-2);
        if (seq == currentSeq)
            tree->setCurrentItem(item);
        if (seq == topSeq)
            top = item;
    }
    tree->setUpdatesEnabled(true);

    if (value < nearEnd || tree->topLevelItemCount() == 0) {
        if (top)
            tree->scrollToItem(top, QAbstractItemView::PositionAtTop);
        else
            bar->setValue(value);
    } else {
        tree->scrollToBottom();
    }
}

} // namespace vn
