#include "ui/update/ReleaseHistoryPanel.h"

#include "ui/kit/Combo.h"
#include "ui/update/InstallerPlatform.h"
#include "ui/update/ReleaseText.h"
#include "ui/update/UpdateService.h"

#include <QBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBrowser>

namespace vn {

ReleaseHistoryPanel::ReleaseHistoryPanel(QWidget* parent, QNetworkAccessManager* manager)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("releaseHistoryPanel"));
    service = new UpdateService(this, manager);

    versions = new Combo;
    versions->setObjectName(QStringLiteral("releaseHistoryVersions"));
    versions->menuPopup = true;
    details = new QLabel;
    details->setObjectName(QStringLiteral("releaseHistoryDetails"));
    details->setTextFormat(Qt::PlainText);
    details->setWordWrap(true);
    notes = new QTextBrowser;
    notes->setObjectName(QStringLiteral("releaseHistoryNotes"));
    notes->setMinimumHeight(80);
    openHttpsLinksOnly(notes);
    status = new QLabel;
    status->setObjectName(QStringLiteral("releaseHistoryStatus"));
    status->setWordWrap(true);
    progress = new QProgressBar;
    progress->setObjectName(QStringLiteral("releaseHistoryProgress"));
    progress->setRange(0, 100);
    refreshButton = new QPushButton(QStringLiteral("刷新列表"));
    refreshButton->setObjectName(QStringLiteral("releaseHistoryRefresh"));
    downloadButton = new QPushButton(QStringLiteral("下载安装包"));
    downloadButton->setObjectName(QStringLiteral("releaseHistoryDownload"));
    cancelButton = new QPushButton(QStringLiteral("取消下载"));
    cancelButton->setObjectName(QStringLiteral("releaseHistoryCancel"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setSpacing(10);
    auto* title = new QLabel(QStringLiteral("版本回溯"));
    title->setStyleSheet(QStringLiteral("font-weight: 600; font-size: 15px;"));
    layout->addWidget(title);
    auto* description = new QLabel(QStringLiteral("查看最近 3 个正式版本的特性，下载对应的 %1 安装包。")
                                       .arg(QString::fromLatin1(installer_platform::Label)));
    description->setWordWrap(true);
    layout->addWidget(description);
    auto* chooserRow = new QHBoxLayout;
    chooserRow->addWidget(versions, 1);
    chooserRow->addWidget(refreshButton);
    layout->addLayout(chooserRow);
    layout->addWidget(details);
    layout->addWidget(notes, 1);
    status->setText(QStringLiteral("已载入随软件附带的发布记录，可联网刷新。"));
    layout->addWidget(status);
    layout->addWidget(progress);
    auto* actionRow = new QHBoxLayout;
    actionRow->addWidget(cancelButton);
    actionRow->addStretch();
    actionRow->addWidget(downloadButton);
    layout->addLayout(actionRow);

    connect(versions, &QComboBox::currentIndexChanged, this, [this] {
        render();
        setStatus(QStringLiteral("所选版本的安装包来自 GitHub；下载期间可继续使用瓦内勒。"));
    });
    connect(refreshButton, &QPushButton::clicked, this, &ReleaseHistoryPanel::refreshHistory);
    connect(cancelButton, &QPushButton::clicked, service, &UpdateService::cancelDownload);
    connect(downloadButton, &QPushButton::clicked, this, &ReleaseHistoryPanel::act);
    connect(service, &UpdateService::historyChanged, this, [this] {
        updateChoices();
        setStatus(QStringLiteral("已从 GitHub 更新最近 3 个正式版本。"));
    });
    connect(service, &UpdateService::historyFailed, this, [this](const QString& message) {
        render();
        setStatus(message);
    });
    connect(service, &UpdateService::downloadProgress, this, [this](qint64 received, qint64 total) {
        render();
        setStatus(QStringLiteral("正在下载 %1 / %2 MiB；可离开设置继续使用瓦内勒。")
                      .arg(mebibytes(received), mebibytes(total)));
    });
    connect(service, &UpdateService::downloadReady, this, [this] {
        render();
        setStatus(QStringLiteral("安装包大小及 SHA-256 校验通过，准备好后点击安装。安装器会保留本地设置。"));
    });
    connect(service, &UpdateService::downloadFailed, this, [this](const QString& message) {
        render();
        setStatus(message);
    });

    updateChoices();
}

void ReleaseHistoryPanel::setStatus(const QString& text)
{
    status->setText(text);
}

void ReleaseHistoryPanel::refreshHistory()
{
    if (service->isRefreshingHistory() || service->isDownloading())
        return;
    service->checkHistory();
    setStatus(QStringLiteral("正在刷新，现有发布记录仍可查看。"));
    render();
}

void ReleaseHistoryPanel::updateChoices()
{
    const QString chosen = versions->currentData().toString();
    {
        const QSignalBlocker quiet(versions);
        versions->clear();
        for (const UpdateRelease& release : service->history())
            versions->addItem(QStringLiteral("v") + release.version, release.version);
        const int index = versions->findData(chosen, Qt::UserRole, Qt::MatchExactly | Qt::MatchCaseSensitive);
        versions->setCurrentIndex(index >= 0 ? index : 0);
    }
    render();
}

void ReleaseHistoryPanel::render()
{
    const QList<UpdateRelease>& history = service->history();
    const int index = versions->currentIndex();
    const bool chosen = index >= 0 && index < history.size();
    bool ready = false;
    if (chosen) {
        const UpdateRelease& release = history.at(index);
        details->setText(QStringLiteral("%1  ·  %2  ·  %3 MiB")
                             .arg(release.title, releaseDate(release.publishedAt), mebibytes(release.size)));
        if (notes->property("releaseNotes").toString() != release.notes
            || !notes->property("releaseNotes").isValid()) {
            notes->setProperty("releaseNotes", release.notes);
            renderNotes(notes, release.notes.isEmpty() ? QStringLiteral("此版本未提供特性说明。") : release.notes);
            notes->moveCursor(QTextCursor::Start);
            notes->verticalScrollBar()->setValue(0);
        }
        const std::optional<UpdateRelease>& available = service->available();
        ready = available && available->version == release.version && !service->downloadedPath().isEmpty();
    }

    const bool downloading = service->isDownloading();
    const bool refreshing = service->isRefreshingHistory();
    versions->setEnabled(!downloading);
    refreshButton->setEnabled(!downloading && !refreshing);
    downloadButton->setEnabled(chosen && !downloading && !refreshing);
    downloadButton->setText(ready         ? QStringLiteral("关闭瓦内勒并安装")
                            : downloading ? QStringLiteral("正在下载")
                                          : QStringLiteral("下载安装包"));
    cancelButton->setVisible(downloading);
    progress->setVisible(ready || downloading);
    const std::optional<UpdateRelease>& available = service->available();
    if (ready)
        progress->setValue(100);
    else if (downloading && available && available->size >= 1)
        progress->setValue(int(service->received() * 100 / available->size));
    else
        progress->setValue(0);
}

void ReleaseHistoryPanel::act()
{
    const QList<UpdateRelease>& history = service->history();
    const int index = versions->currentIndex();
    if (index < 0 || index >= history.size())
        return;
    const UpdateRelease release = history.at(index);
    const std::optional<UpdateRelease>& available = service->available();
    if (available && available->version == release.version && !service->downloadedPath().isEmpty()) {
        // Checked once more right before it runs; a changed file is refused through
        // downloadFailed, which redraws the page with the message.
        const QString path = service->installerToStart();
        if (!path.isEmpty())
            Q_EMIT installRequested(path);
        return;
    }
    service->downloadRelease(release);
    render();
}

} // namespace vn
