#include "ui/window/StatusLine.h"

#include "core/Version.h"
#include "ui/update/UpdateService.h"
#include "ui/window/StatusText.h"

#include <QBoxLayout>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

#include <algorithm>
#include <limits>

namespace vn {

namespace {

QLabel* statusLabel(const QString& text, const QString& name, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    return label;
}

} // namespace

StatusLine::StatusLine(QStatusBar* statusBar, bool withUpdates)
    : QObject(statusBar)
    , bar(statusBar)
{
    bar->setSizeGripEnabled(false);
    bar->setContentsMargins(12, 2, 12, 2);

    message = new StatusText(QStringLiteral("尚未连接"), bar);
    message->setObjectName(QStringLiteral("statusText"));
    bar->addWidget(message, 1);
    connect(message, &StatusText::fieldsChanged, this, &StatusLine::fit);

    ai = statusLabel(QString(), QStringLiteral("aiStatus"), bar);
    // The latest call's summary comes from an agent and is shown as written.
    ai->setTextFormat(Qt::PlainText);
    ai->setMaximumWidth(420);
    ai->hide();
    m_wanted.insert(ai, false);
    bar->addPermanentWidget(ai);

    mcp = statusLabel(QString(), QStringLiteral("mcpStatus"), bar);
    bar->addPermanentWidget(mcp);

    if (withUpdates) {
        updateProgress = new QProgressBar(bar);
        updateProgress->setObjectName(QStringLiteral("updateProgress"));
        updateProgress->setFixedSize(90, 8);
        updateProgress->setTextVisible(false);
        updateProgress->setRange(0, 100);
        updateProgress->hide();
        bar->addPermanentWidget(updateProgress);

        updateButton = new QPushButton(bar);
        updateButton->setObjectName(QStringLiteral("updateButton"));
        updateButton->setToolTip(QStringLiteral("查看新版本及更新说明"));
        updateButton->setCursor(Qt::PointingHandCursor);
        updateButton->hide();
        bar->addPermanentWidget(updateButton);
        connect(updateButton, &QPushButton::clicked, this, &StatusLine::updateRequested);
    }

    const QString running = QString::fromLatin1(Version);
    version = statusLabel(QStringLiteral("v") + running, QStringLiteral("currentVersionStatus"), bar);
    version->setContentsMargins(12, 0, 0, 0);
    version->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    version->setToolTip(QStringLiteral("当前运行版本：Varnelle ") + running);
    bar->addPermanentWidget(version);
    bar->installEventFilter(this);
}

namespace {

// The row of QStatusBar's own layout that holds its widgets.
QBoxLayout* rowOf(QLayout* layout, QWidget* member)
{
    if (!layout)
        return nullptr;
    if (layout->indexOf(member) >= 0)
        return qobject_cast<QBoxLayout*>(layout);
    for (int index = 0; index < layout->count(); ++index) {
        if (QBoxLayout* found = rowOf(layout->itemAt(index)->layout(), member))
            return found;
    }
    return nullptr;
}

// The least width a widget takes in that row when shown.
int least(const QWidget* part)
{
    const int width = part->minimumWidth() > 0 ? part->minimumWidth() : part->minimumSizeHint().width();
    return std::min(width, part->maximumWidth());
}

} // namespace

void StatusLine::want(QWidget* part, bool shown)
{
    m_wanted.insert(part, shown);
    fit();
}

bool StatusLine::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == bar && (event->type() == QEvent::Resize || event->type() == QEvent::LayoutRequest))
        fit();
    return QObject::eventFilter(watched, event);
}

void StatusLine::fit()
{
    QBoxLayout* row = rowOf(bar->layout(), message);
    if (!row || m_fitting)
        return;
    m_fitting = true;
    const int spacing = std::max(0, row->spacing());
    // Most important first: each goes in while the bar still has room for it
    // beside the left text's main field and the parts that always stay.
    const QList<QWidget*> optional{mcp, ai, version};
    int needed = 0;
    bool before = false;
    for (int index = 0; index < row->count(); ++index) {
        QLayoutItem* item = row->itemAt(index);
        QWidget* part = item->widget();
        if (!part) {
            needed += item->minimumSize().width();
            continue;
        }
        // The left text counts while a passing message hides it, too.
        if (optional.contains(part) || (part->isHidden() && part != message))
            continue;
        needed += (before ? spacing : 0) + (part == message ? message->keptWidth() : least(part));
        before = true;
    }
    // A bar not on screen has no width of its own yet: nothing is dropped.
    const int room = bar->isVisible() ? bar->contentsRect().width() : std::numeric_limits<int>::max();
    for (QWidget* part : optional) {
        const int taken = least(part) + spacing;
        const bool shown = wanted(part) && needed <= room - taken;
        if (shown)
            needed += taken;
        if (part->isHidden() == shown)
            part->setVisible(shown);
    }
    m_fitting = false;
}

void StatusLine::follow(UpdateService* service)
{
    connect(service, &UpdateService::updateAvailable, this, &StatusLine::showUpdate);
    connect(service, &UpdateService::downloadProgress, this, &StatusLine::showProgress);
    connect(service, &UpdateService::downloadFailed, this, &StatusLine::showFailure);
    connect(service, &UpdateService::downloadReady, this, &StatusLine::showReady);
}

void StatusLine::showUpdate(const QString& found)
{
    if (!updateButton)
        return;
    updateButton->setText(QStringLiteral("发现新版本 v%1  ↓").arg(found));
    updateButton->setToolTip(QStringLiteral("查看 Varnelle v%1 的更新说明").arg(found));
    updateButton->show();
}

void StatusLine::showProgress(qint64 received, qint64 total)
{
    if (!updateButton || total <= 0)
        return;
    const int percent = int(received * 100 / total);
    updateProgress->show();
    updateProgress->setValue(percent);
    updateButton->setText(QStringLiteral("正在下载更新 %1% ↓").arg(percent));
    updateProgress->setToolTip(QStringLiteral("已下载 %1 / %2 MB")
                                   .arg(double(received) / 1048576.0, 0, 'f', 1)
                                   .arg(double(total) / 1048576.0, 0, 'f', 1));
}

void StatusLine::showFailure(const QString& text)
{
    if (!updateButton)
        return;
    updateProgress->hide();
    updateButton->setEnabled(true);
    updateButton->setText(QStringLiteral("更新下载未完成 · 查看并重试"));
    updateButton->show();
    bar->showMessage(text, 10000);
}

void StatusLine::showReady(const QString&)
{
    if (!updateButton)
        return;
    updateProgress->hide();
    updateButton->setText(QStringLiteral("更新已下载 · 查看并安装"));
    updateButton->setToolTip(QStringLiteral("安装包已校验，点击打开更新窗口"));
    updateButton->show();
}

} // namespace vn
