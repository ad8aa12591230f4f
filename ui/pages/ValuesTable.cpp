#include "ui/pages/ValuesTable.h"

#include "ui/plot/WavePlot.h"

#include <QHeaderView>
#include <QJsonArray>
#include <QLocale>

namespace vn {

namespace {

void writeText(QTreeWidgetItem* item, int column, const QString& text)
{
    // Rewriting an unchanged text would still repaint and re-measure the row.
    if (item->text(column) != text)
        item->setText(column, text);
}

void writeToolTip(QTreeWidgetItem* item, int column, const QString& text)
{
    if (item->toolTip(column) != text)
        item->setToolTip(column, text);
}

} // namespace

ValuesTable::ValuesTable(QWidget* parent)
    : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("waveValues"));
    setRootIsDecorated(false);
    setUniformRowHeights(true);
    setAlternatingRowColors(true);
    setHeaderLabels({QStringLiteral("变量"), QStringLiteral("当前值"), QStringLiteral("来源"), QStringLiteral("采样序号")});
    setColumnWidth(0, 115);
    setColumnWidth(1, 135);
    setColumnWidth(2, 80);
    setColumnHidden(2, true);
    setColumnHidden(3, true);
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    header()->setSectionResizeMode(1, QHeaderView::Stretch);
}

QString ValuesTable::valueText(double value)
{
    return QLocale::c().toString(value, 'g', QLocale::FloatingPointShortest);
}

void ValuesTable::fill(const QJsonObject& sources, const WavePlot& plot)
{
    int row = 0;
    for (auto source = sources.begin(); source != sources.end(); ++source) {
        const QString name = source.key();
        const QJsonArray samples = source.value().toObject().value(QStringLiteral("samples")).toArray();
        if (samples.isEmpty())
            continue;
        const QJsonObject newest = samples.last().toObject();
        const qint64 index = newest.value(QStringLiteral("index")).toInteger();
        if (!plot.sampleIsCurrent(name, index))
            continue;
        const bool own = name == QLatin1String("default");
        const QString sourceText = own ? QStringLiteral("本连接") : name;
        const QString indexText = QString::number(index);
        const QJsonObject values = newest.value(QStringLiteral("values")).toObject();
        for (auto value = values.begin(); value != values.end(); ++value, ++row) {
            const QString variable = value.key();
            const QString curve = own ? variable : name + QLatin1Char('/') + variable;
            const QString shown = valueText(value.value().toDouble());
            QTreeWidgetItem* item = topLevelItem(row);
            if (!item) {
                item = new QTreeWidgetItem;
                addTopLevelItem(item);
            }
            writeText(item, 0, plot.curveLabel(curve));
            writeText(item, 1, shown);
            writeText(item, 2, sourceText);
            writeText(item, 3, indexText);
            writeToolTip(item, 0, variable);
            writeToolTip(item, 1, shown + QStringLiteral("\n来源：") + sourceText + QStringLiteral("\n采样序号：") + indexText);
        }
    }
    while (topLevelItemCount() > row)
        delete takeTopLevelItem(topLevelItemCount() - 1);
}

} // namespace vn
