#include "ui/pages/RecordTable.h"

#include "ui/views/SearchFilter.h"

#include <QHeaderView>

namespace vn {

RecordTable::RecordTable(QWidget* parent)
    : QTreeWidget(parent)
{
    setRootIsDecorated(false);
    setAlternatingRowColors(true);
    setUniformRowHeights(true);
    header()->setStretchLastSection(true);
    setHeaderLabels({QStringLiteral("时间"), QStringLiteral("格式"), QStringLiteral("来源"), QStringLiteral("内容")});
    setColumnWidth(0, 130);
    setColumnWidth(1, 80);
    setColumnWidth(2, 150);
}

void RecordTable::append(const QJsonObject& record, const QString& source, const SearchFilter& filter)
{
    const QString text = record.value(QStringLiteral("text")).toString();
    // Device texts go into item texts only, which never interpret markup.
    auto* item = new QTreeWidgetItem(QStringList{
        record.value(QStringLiteral("time")).toString().mid(11, 12),
        record.value(QStringLiteral("format")).toString().toUpper(),
        source,
        text.left(MaxText),
    });
    item->setData(0, Qt::UserRole, record);
    addTopLevelItem(item);
    const bool visible = filter.matches(text);
    item->setHidden(!visible);
    if (visible)
        setCurrentItem(item);
    while (topLevelItemCount() > MaxRows)
        delete takeTopLevelItem(0);
}

void RecordTable::applyFilter(const SearchFilter& filter)
{
    QTreeWidgetItem* firstVisible = nullptr;
    for (int row = 0; row < topLevelItemCount(); ++row) {
        QTreeWidgetItem* item = topLevelItem(row);
        const bool visible = filter.matches(recordOf(item).value(QStringLiteral("text")).toString());
        item->setHidden(!visible);
        if (visible && !firstVisible)
            firstVisible = item;
    }
    QTreeWidgetItem* current = currentItem();
    if (!current || current->isHidden())
        setCurrentItem(firstVisible);
}

QJsonObject RecordTable::recordOf(const QTreeWidgetItem* item)
{
    return item ? item->data(0, Qt::UserRole).toJsonObject() : QJsonObject();
}

QJsonObject RecordTable::currentRecord() const
{
    return recordOf(currentItem());
}

} // namespace vn
