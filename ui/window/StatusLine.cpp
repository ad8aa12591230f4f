#include "ui/window/StatusLine.h"

#include "core/Version.h"
#include "ui/update/UpdateService.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

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

    message = statusLabel(QStringLiteral("尚未连接"), QStringLiteral("statusText"), bar);
    message->setTextFormat(Qt::PlainText);
    bar->addWidget(message, 1);

    ai = statusLabel(QString(), QStringLiteral("aiStatus"), bar);
    // The latest call's summary comes from an agent and is shown as written.
    ai->setTextFormat(Qt::PlainText);
    ai->setMaximumWidth(420);
    ai->hide();
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
