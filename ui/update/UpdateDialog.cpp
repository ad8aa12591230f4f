#include "ui/update/UpdateDialog.h"

#include "core/Version.h"
#include "ui/kit/Factories.h"
#include "ui/update/InstallerPlatform.h"
#include "ui/update/ReleaseText.h"
#include "ui/update/UpdateService.h"

#include <QBoxLayout>
#include <QCoreApplication>
#include <QIcon>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>

namespace vn {

namespace {

QString runningVersion()
{
    const QString version = QCoreApplication::applicationVersion();
    return version.isEmpty() ? QString::fromLatin1(Version) : version;
}

} // namespace

UpdateDialog::UpdateDialog(UpdateService* updates, QWidget* parent)
    : QDialog(parent)
    , service(updates)
{
    setObjectName(QStringLiteral("updateDialog"));
    setWindowTitle(QStringLiteral("Varnelle 更新"));
    setWindowIcon(QIcon(QStringLiteral(":/brand/lightning.svg")));
    setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
    setModal(false);
    resize(660, 520);
    setMinimumSize(440, 320);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 22, 24, 22);
    layout->setSpacing(14);

    heading = new QLabel;
    heading->setObjectName(QStringLiteral("updateHeading"));
    QFont headingFont = font();
    headingFont.setPointSize(16);
    headingFont.setWeight(QFont::Weight(600));
    heading->setFont(headingFont);
    heading->setStyleSheet(QStringLiteral("font-size: 16pt; font-weight: 600;"));
    heading->setWordWrap(true);
    versionLine = new QLabel;
    versionLine->setWordWrap(true);
    notes = new QTextBrowser;
    notes->setObjectName(QStringLiteral("updateNotes"));
    openHttpsLinksOnly(notes);
    progress = new QProgressBar;
    progress->setObjectName(QStringLiteral("updateDialogProgress"));
    progress->setRange(0, 100);
    statusLine = new QLabel;
    statusLine->setWordWrap(true);

    background = new QPushButton(QStringLiteral("稍后"));
    background->setObjectName(QStringLiteral("updateBackground"));
    cancel = new QPushButton(QStringLiteral("取消下载"));
    action = new QPushButton(QStringLiteral("下载更新"));
    action->setObjectName(QStringLiteral("updateAction"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(background);
    buttons->addStretch();
    buttons->addWidget(cancel);
    buttons->addWidget(action);

    layout->addWidget(heading);
    layout->addWidget(versionLine);
    layout->addWidget(notes, 1);
    layout->addWidget(progress);
    layout->addWidget(statusLine);
    layout->addLayout(buttons);

    connect(background, &QPushButton::clicked, this, &QWidget::hide);
    connect(cancel, &QPushButton::clicked, this, [this] {
        if (service)
            service->cancelDownload();
    });
    connect(action, &QPushButton::clicked, this, &UpdateDialog::act);

    makeDialogScrollable(this, QSize(440, 280));

    if (service) {
        connect(service, &UpdateService::updateAvailable, this, &UpdateDialog::refresh);
        connect(service, &UpdateService::downloadReady, this, &UpdateDialog::refresh);
        connect(service, &UpdateService::downloadFailed, this, [this](const QString& message) {
            failure = message;
            refresh();
        });
        connect(service, &UpdateService::downloadProgress, this, [this](qint64 received, qint64 total) {
            refresh();
            statusLine->setText(QStringLiteral("正在下载 %1 / %2 MiB，可以最小化此窗口继续使用瓦内勒。")
                                    .arg(mebibytes(received), mebibytes(total)));
        });
    }
    refresh();
}

void UpdateDialog::reject()
{
    hide();
}

void UpdateDialog::act()
{
    if (!service)
        return;
    failure.clear();
    if (!service->downloadedPath().isEmpty()) {
        // Checked once more against its release right before it runs; a file that
        // changed since is refused through downloadFailed, which redraws us.
        const QString path = service->installerToStart();
        if (!path.isEmpty())
            Q_EMIT installRequested(path);
        return;
    }
    service->download();
    refresh();
}

void UpdateDialog::refresh()
{
    const std::optional<UpdateRelease> release =
        service ? service->available() : std::optional<UpdateRelease>();
    heading->setText(release ? QStringLiteral("发现新版本 v%1").arg(release->version)
                             : QStringLiteral("等待更新信息"));
    if (release) {
        const QString date = releaseDate(release->publishedAt);
        versionLine->setText(QStringLiteral("当前版本 v%1  ·  %2  ·  %3 MiB%4")
                                 .arg(runningVersion(), QString::fromLatin1(installer_platform::Label),
                                      mebibytes(release->size),
                                      date.isEmpty() ? QString() : QStringLiteral("  ·  ") + date));
        const QString text =
            release->notes.isEmpty() ? QStringLiteral("此版本未提供更新说明。") : release->notes;
        // Unchanged notes are not rendered again, so their scroll position stays.
        if (notes->property("releaseNotes").toString() != text) {
            notes->setProperty("releaseNotes", text);
            renderNotes(notes, text);
        }
    }

    const bool downloading = service && service->isDownloading();
    const bool ready = !downloading && service && !service->downloadedPath().isEmpty();
    if (downloading) {
        action->setText(QStringLiteral("正在下载"));
        action->setEnabled(false);
        background->setText(QStringLiteral("后台下载"));
        statusLine->setText(QStringLiteral("下载正在后台进行，可最小化或关闭此窗口。"));
    } else if (ready) {
        action->setText(QStringLiteral("关闭瓦内勒并安装"));
        action->setEnabled(true);
        background->setText(QStringLiteral("稍后安装"));
        statusLine->setText(QStringLiteral("下载完成，安装包校验通过。可以继续使用瓦内勒，准备好后再安装。"));
    } else {
        action->setText(QStringLiteral("下载更新"));
        action->setEnabled(release.has_value());
        background->setText(QStringLiteral("稍后"));
        // A failure stays in view until the next click: a refresh from a later
        // update check does not wipe it.
        statusLine->setText(failure.isEmpty()
                                ? QStringLiteral("下载期间可继续使用串口、SSH 和 MCP。安装器会沿用原安装目录。")
                                : failure);
    }
    cancel->setVisible(downloading);
    progress->setVisible(downloading || ready);
    if (ready)
        progress->setValue(100);
    else
        progress->setValue(release && release->size >= 1 ? int(service->received() * 100 / release->size) : 0);
}

} // namespace vn
