#include "ui/pages/ScriptResultsPanel.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "ui/kit/IconButton.h"
#include "ui/pages/SessionToolbar.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonArray>
#include <QLabel>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace vn {

ScriptResultsPanel::ScriptResultsPanel(QSplitter* receiveSplitter, QWidget* parent)
    : QFrame(parent)
    , m_splitter(receiveSplitter)
{
    setObjectName(QStringLiteral("scriptResultsPanel"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 0, 14, 8);
    column->setSpacing(4);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(new QLabel(QStringLiteral("脚本解析")));
    status = new QLabel(QStringLiteral("等待解析"));
    status->setObjectName(QStringLiteral("muted"));
    status->setTextFormat(Qt::PlainText);
    status->setWordWrap(true);
    header->addWidget(status, 1);
    clearButton = new IconButton(QStringLiteral("trash"), QStringLiteral("清空脚本结果显示，保留共享历史"));
    clearButton->setObjectName(QStringLiteral("clearScriptResults"));
    clearButton->setFixedSize(28, 28);
    collapseButton = new IconButton(QStringLiteral("scriptCollapse"), QStringLiteral("收起脚本结果"));
    collapseButton->setObjectName(QStringLiteral("collapseScriptResults"));
    collapseButton->setFixedSize(28, 28);
    header->addWidget(clearButton);
    header->addWidget(collapseButton);
    column->addLayout(header);

    tree = new QTreeWidget;
    tree->setObjectName(QStringLiteral("scriptResults"));
    tree->setColumnCount(2);
    tree->setHeaderLabels({QStringLiteral("时间"), QStringLiteral("解析字段")});
    tree->setHeaderHidden(true);
    tree->setColumnWidth(0, 116);
    tree->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    tree->header()->setStretchLastSection(false);
    tree->setRootIsDecorated(false);
    tree->setUniformRowHeights(true);
    tree->setAlternatingRowColors(true);
    tree->setMinimumHeight(54);
    tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    tree->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tree->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* copy = new QAction(QStringLiteral("复制解析结果"), tree);
    copy->setObjectName(QStringLiteral("copyScriptResults"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    tree->addAction(copy);
    column->addWidget(tree, 1);
    hide();

    connect(clearButton, &IconButton::clicked, this, [this]() { Q_EMIT clearRequested(); });
    connect(collapseButton, &IconButton::clicked, this, &ScriptResultsPanel::toggleCollapsed);
    connect(copy, &QAction::triggered, this, &ScriptResultsPanel::copySelection);
    connect(m_splitter, &QSplitter::splitterMoved, this, [this]() {
        if (!isHidden() && !collapsed)
            rememberHeight();
    });
}

QString ScriptResultsPanel::timeOfDay(const QString& isoTime)
{
    return isoTime.mid(11, 12);
}

QString ScriptResultsPanel::fieldsText(const QJsonObject& value)
{
    QStringList names = value.keys();
    std::sort(names.begin(), names.end());
    QStringList parts;
    for (const QString& name : std::as_const(names))
        parts.append(name + QStringLiteral(" = ") + QString::number(value.value(name).toDouble(), 'g', 9));
    return parts.join(QStringLiteral("    "));
}

void ScriptResultsPanel::restart()
{
    cursors = QJsonObject();
    clearPoint = 0;
    tree->clear();
}

void ScriptResultsPanel::refresh(const Context& context)
{
    Channel* channel = context.channel;
    const bool enabled = channel ? channel->scriptEnabled : context.pageEnabled;
    bool held = false;
    if (channel) {
        for (const auto& [peer, source] : channel->sources) {
            if (source && !source->scriptRecords.empty())
                held = true;
        }
    }
    QString error = channel ? channel->scriptError : QString();
    if (error.isEmpty())
        error = context.pageError;

    const bool show = context.supported && (enabled || held || !error.isEmpty());
    const bool wasHidden = isHidden();
    setVisible(show);
    if (show && wasHidden) {
        resizePanel();
        QTimer::singleShot(0, this, &ScriptResultsPanel::resizePanel);
    }
    if (!show)
        return;

    if (channel && !context.paused) {
        const QJsonObject result = channel->scriptResults(0, MaxRows, cursors);
        const QJsonObject sources = result.value(QLatin1String("sources")).toObject();
        for (auto it = sources.begin(); it != sources.end(); ++it) {
            const QJsonObject entry = it.value().toObject();
            cursors.insert(it.key(), entry.value(QLatin1String("next_cursor")));
            for (const QJsonValue& record : entry.value(QLatin1String("records")).toArray()) {
                if (record.toObject().value(QLatin1String("event_seq")).toInteger(0) > clearPoint)
                    append(record.toObject(), context.follow);
            }
        }
    }

    if (!error.isEmpty())
        status->setText(QStringLiteral("已停用 · ") + error);
    else if (channel)
        status->setText(tree->topLevelItemCount() > 0
                            ? QStringLiteral("%1 条结果").arg(tree->topLevelItemCount())
                            : (enabled ? QStringLiteral("等待解析") : QStringLiteral("已停用")));
    else
        status->setText(QStringLiteral("连接后开始解析"));
    status->setToolTip(error);
}

void ScriptResultsPanel::append(const QJsonObject& record, bool follow)
{
    auto* item = new QTreeWidgetItem;
    item->setText(0, timeOfDay(record.value(QLatin1String("time")).toString()));
    item->setData(0, Qt::UserRole, record);
    item->setText(1, fieldsText(record.value(QLatin1String("value")).toObject()));
    item->setToolTip(1, record.value(QLatin1String("pretty")).toString());
    tree->addTopLevelItem(item);
    while (tree->topLevelItemCount() > MaxRows)
        delete tree->takeTopLevelItem(0);
    if (follow)
        tree->scrollToItem(item);
}

void ScriptResultsPanel::clear(Channel* channel, qint64 latest)
{
    tree->clear();
    QJsonObject fresh;
    if (channel) {
        for (const auto& [peer, source] : channel->sources) {
            if (source)
                fresh.insert(peer, source->scriptSeq);
        }
    }
    cursors = fresh;
    clearPoint = latest;
    status->setText(QStringLiteral("0 条结果"));
}

void ScriptResultsPanel::rememberHeight()
{
    const QList<int> sizes = m_splitter->sizes();
    panelHeight = std::max(sizes.size() >= 2 ? sizes.at(1) : panelHeight, MinHeight);
}

void ScriptResultsPanel::toggleCollapsed()
{
    if (!collapsed)
        rememberHeight();
    collapsed = !collapsed;
    resizePanel();
    Q_EMIT collapseToggled();
}

void ScriptResultsPanel::resizePanel()
{
    if (isHidden())
        return;
    tree->setVisible(!collapsed);
    setMinimumHeight(collapsed ? CollapsedHeight : MinHeight);
    collapseButton->setIconName(collapsed ? QStringLiteral("scriptExpand") : QStringLiteral("scriptCollapse"));
    setButtonTip(collapseButton, collapsed ? QStringLiteral("展开脚本结果") : QStringLiteral("收起脚本结果"));

    const QList<int> sizes =
        splitSizes(m_splitter->height() - m_splitter->handleWidth(), panelHeight, collapsed);
    m_splitter->setSizes(sizes);
}

QList<int> ScriptResultsPanel::splitSizes(int space, int remembered, bool collapsed)
{
    if (collapsed)
        return space > 180 ? QList<int>{space - CollapsedHeight, CollapsedHeight} : QList<int>{148, CollapsedHeight};
    const int available = std::max(space, 180);
    const int limit = space > 193 ? space / 2 : MinHeight;
    const int panel = std::min(remembered, limit);
    return {std::max(available - panel, 80), panel};
}

void ScriptResultsPanel::copySelection() const
{
    QStringList texts;
    for (const QTreeWidgetItem* item : tree->selectedItems())
        texts.append(item->data(0, Qt::UserRole).toJsonObject().value(QLatin1String("text")).toString());
    if (!texts.isEmpty())
        QApplication::clipboard()->setText(texts.join(u'\n'));
}

} // namespace vn
