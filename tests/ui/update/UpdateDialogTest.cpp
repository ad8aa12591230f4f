#include "UpdateTestData.h"

#include "ui/update/InstallerLaunch.h"
#include "ui/update/UpdateDialog.h"
#include "ui/update/UpdateHosts.h"
#include "ui/update/UpdateService.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include <memory>

using namespace vn;
using namespace vn::test;

namespace {

const QString Idle = QStringLiteral("下载期间可继续使用串口、SSH 和 MCP。安装器会沿用原安装目录。");
const QString Failed = QStringLiteral("下载失败或安装包校验未通过，请重试");

} // namespace

class UpdateDialogTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QCoreApplication::setApplicationVersion(QStringLiteral("0.15.32")); }
    void init();
    void cleanup();

    void waitsForARelease();
    void showsTheRelease_data();
    void showsTheRelease();
    void progressCancelAndHiding();
    void readyInstallerIsHandedOver();
    void changedInstallerIsRefused();
    void failureStaysUntilTheNextAction_data();
    void failureStaysUntilTheNextAction();
    void onlyHttpsLinksOpen();

private:
    // A dialog over a service that has found 0.15.33 with this installer and notes.
    void findRelease(const QByteArray& sha256, qint64 size, const QString& notes = QStringLiteral("## 新增"));
    QLabel* versionLine() const;
    QString statusLine() const;
    bool showsStatus(const QString& text) const;
    QPushButton* button(const char* name) const { return m_dialog->findChild<QPushButton*>(name); }
    QPushButton* cancelButton() const;

    std::unique_ptr<QTemporaryDir> m_cache;
    std::unique_ptr<LocalHttpServer> m_server;
    std::unique_ptr<LoopbackManager> m_manager;
    std::unique_ptr<QWidget> m_window;
    UpdateService* m_service = nullptr;
    UpdateDialog* m_dialog = nullptr;
};

void UpdateDialogTest::init()
{
    m_cache = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CACHE_HOME", m_cache->path().toLocal8Bit());
    m_server = std::make_unique<LocalHttpServer>();
    m_manager = std::make_unique<LoopbackManager>(m_server->port());
    m_window = std::make_unique<QWidget>();
    m_service = new UpdateService(m_window.get(), m_manager.get());
    m_dialog = new UpdateDialog(m_service, m_window.get());
    m_dialog->show();
}

void UpdateDialogTest::cleanup()
{
    m_window.reset();
    m_manager.reset();
    m_server.reset();
    m_cache.reset();
}

void UpdateDialogTest::findRelease(const QByteArray& sha256, qint64 size, const QString& notes)
{
    m_server->route(update_hosts::FeedPath, {200, compact(manifest("0.15.33", sha256, size, notes))});
    QSignalSpy found(m_service, &UpdateService::updateAvailable);
    m_service->check();
    QVERIFY(found.wait());
}

QLabel* UpdateDialogTest::versionLine() const
{
    // The line right below the heading.
    const QList<QLabel*> labels = m_dialog->findChildren<QLabel*>();
    for (QLabel* label : labels) {
        if (label->text().startsWith(QStringLiteral("当前版本")))
            return label;
    }
    return nullptr;
}

QString UpdateDialogTest::statusLine() const
{
    for (QLabel* label : m_dialog->findChildren<QLabel*>()) {
        const QString text = label->text();
        if (text.contains(QStringLiteral("下载")) && label->objectName().isEmpty()
            && !text.startsWith(QStringLiteral("当前版本")))
            return text;
    }
    return {};
}

bool UpdateDialogTest::showsStatus(const QString& text) const
{
    // The status line has no name; its text tells it from the version line.
    for (QLabel* label : m_dialog->findChildren<QLabel*>()) {
        if (label->objectName().isEmpty() && label->text() == text)
            return label->isVisible();
    }
    return false;
}

QPushButton* UpdateDialogTest::cancelButton() const
{
    for (QPushButton* candidate : m_dialog->findChildren<QPushButton*>()) {
        if (candidate->text() == QStringLiteral("取消下载"))
            return candidate;
    }
    return nullptr;
}

void UpdateDialogTest::waitsForARelease()
{
    QCOMPARE(m_dialog->objectName(), QStringLiteral("updateDialog"));
    QCOMPARE(m_dialog->windowTitle(), QStringLiteral("Varnelle 更新"));
    QVERIFY(!m_dialog->isModal());
    QCOMPARE(m_dialog->findChild<QLabel*>("updateHeading")->text(), QStringLiteral("等待更新信息"));
    QCOMPARE(button("updateAction")->text(), QStringLiteral("下载更新"));
    QVERIFY(!button("updateAction")->isEnabled());
    QCOMPARE(button("updateBackground")->text(), QStringLiteral("稍后"));
    QVERIFY(!m_dialog->findChild<QProgressBar*>("updateDialogProgress")->isVisible());
    QVERIFY(!cancelButton()->isVisible());
    QCOMPARE(statusLine(), Idle);

    // The background button only hides the dialog.
    QTest::mouseClick(button("updateBackground"), Qt::LeftButton);
    QVERIFY(!m_dialog->isVisible());
    QVERIFY(m_dialog->parent());
}

void UpdateDialogTest::showsTheRelease_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("notes");
    QTest::addColumn<QString>("sizeText");
    QTest::addColumn<QString>("shown");

    QTest::newRow("14.7 MiB with notes") << qint64(15439442) << QStringLiteral("## 新增\n\n- 波形导出")
                                         << QStringLiteral("14.7") << QStringLiteral("波形导出");
    QTest::newRow("one byte, no notes") << qint64(1) << QString() << QStringLiteral("0.0")
                                        << QStringLiteral("此版本未提供更新说明。");
    QTest::newRow("300 MiB") << qint64(314572800) << QStringLiteral("<b>raw</b> html")
                             << QStringLiteral("300.0") << QStringLiteral("<b>raw</b> html");
}

void UpdateDialogTest::showsTheRelease()
{
    QFETCH(qint64, size);
    QFETCH(QString, notes);
    QFETCH(QString, sizeText);
    QFETCH(QString, shown);
    findRelease(QByteArray(64, 'a'), size, notes);
    QCOMPARE(m_dialog->findChild<QLabel*>("updateHeading")->text(), QStringLiteral("发现新版本 v0.15.33"));
    QVERIFY(versionLine());
    QCOMPARE(versionLine()->text(), QStringLiteral("当前版本 v0.15.32  ·  Linux x86_64  ·  %1 MiB  ·  %2")
                                        .arg(sizeText, localDate("2026-12-01T10:00:00Z")));
    auto* browser = m_dialog->findChild<QTextBrowser*>("updateNotes");
    // HTML in the notes stays text.
    QVERIFY2(browser->toPlainText().contains(shown), qPrintable(browser->toPlainText()));
    QVERIFY(button("updateAction")->isEnabled());
    QCOMPARE(statusLine(), Idle);
}

void UpdateDialogTest::progressCancelAndHiding()
{
    const qint64 size = 2 * 1048576;
    m_server->route(feedPath("0.15.33").toUtf8(), {200, {}, size, 1048576});
    findRelease(sha(patternBytes(size)).toLatin1(), size);

    QTest::mouseClick(button("updateAction"), Qt::LeftButton);
    QVERIFY(m_service->isDownloading());
    QCOMPARE(button("updateAction")->text(), QStringLiteral("正在下载"));
    QVERIFY(!button("updateAction")->isEnabled());
    QCOMPARE(button("updateBackground")->text(), QStringLiteral("后台下载"));
    QVERIFY(cancelButton()->isVisible());
    auto* progress = m_dialog->findChild<QProgressBar*>("updateDialogProgress");
    QVERIFY(progress->isVisible());
    QTRY_COMPARE(progress->value(), 50);
    QCOMPARE(statusLine(), QStringLiteral("正在下载 1.0 / 2.0 MiB，可以最小化此窗口继续使用瓦内勒。"));

    // Closing the window leaves the download running; opening it again shows it.
    QTest::keyClick(m_dialog, Qt::Key_Escape);
    QVERIFY(!m_dialog->isVisible());
    QVERIFY(m_service->isDownloading());
    m_dialog->refresh();
    m_dialog->show();
    QCOMPARE(progress->value(), 50);
    QCOMPARE(statusLine(), QStringLiteral("下载正在后台进行，可最小化或关闭此窗口。"));

    QSignalSpy failed(m_service, &UpdateService::downloadFailed);
    QTest::mouseClick(cancelButton(), Qt::LeftButton);
    QTRY_COMPARE(failed.size(), 1);
    QCOMPARE(statusLine(), Failed);
    QCOMPARE(button("updateAction")->text(), QStringLiteral("下载更新"));
    QVERIFY(button("updateAction")->isEnabled());
    QVERIFY(!cancelButton()->isVisible());
    QVERIFY(!progress->isVisible());
}

void UpdateDialogTest::readyInstallerIsHandedOver()
{
    const QByteArray installer = recordingInstaller();
    m_server->route(feedPath("0.15.33").toUtf8(), {200, installer});
    findRelease(sha(installer).toLatin1(), installer.size());

    QSignalSpy ready(m_service, &UpdateService::downloadReady);
    QTest::mouseClick(button("updateAction"), Qt::LeftButton);
    QVERIFY(ready.wait());
    QCOMPARE(button("updateAction")->text(), QStringLiteral("关闭瓦内勒并安装"));
    QVERIFY(button("updateAction")->isEnabled());
    QCOMPARE(button("updateBackground")->text(), QStringLiteral("稍后安装"));
    QCOMPARE(m_dialog->findChild<QProgressBar*>("updateDialogProgress")->value(), 100);
    QVERIFY(m_dialog->findChild<QProgressBar*>("updateDialogProgress")->isVisible());
    QCOMPARE(statusLine(), QStringLiteral("下载完成，安装包校验通过。可以继续使用瓦内勒，准备好后再安装。"));

    QSignalSpy install(m_dialog, &UpdateDialog::installRequested);
    QTest::mouseClick(button("updateAction"), Qt::LeftButton);
    QCOMPARE(install.size(), 1);
    const QString path = install.first().first().toString();
    QCOMPARE(path, m_service->downloadedPath());
    QCOMPARE(int(QFileInfo(path).permissions() & 0x0777), 0x0700);

    // The hand-over starts it with no arguments in its own folder.
    QVERIFY(startInstaller(path));
    QFile record(path + QStringLiteral(".ran"));
    QTRY_VERIFY(record.exists());
    QVERIFY(record.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromLocal8Bit(record.readAll()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines, (QStringList{QStringLiteral("0"), QFileInfo(path).absolutePath()}));
}

void UpdateDialogTest::changedInstallerIsRefused()
{
    const QByteArray installer = recordingInstaller();
    m_server->route(feedPath("0.15.33").toUtf8(), {200, installer});
    findRelease(sha(installer).toLatin1(), installer.size());
    QSignalSpy ready(m_service, &UpdateService::downloadReady);
    QTest::mouseClick(button("updateAction"), Qt::LeftButton);
    QVERIFY(ready.wait());

    QFile file(m_service->downloadedPath());
    QVERIFY(file.open(QIODevice::Append));
    file.write("echo changed\n");
    file.close();
    QSignalSpy install(m_dialog, &UpdateDialog::installRequested);
    QTest::mouseClick(button("updateAction"), Qt::LeftButton);
    QCOMPARE(install.size(), 0);
    QCOMPARE(statusLine(), QStringLiteral("安装包已被更改或损坏，请重新下载"));
    QCOMPARE(button("updateAction")->text(), QStringLiteral("下载更新"));

    // A file that is not the user's own regular file is not started either.
    QVERIFY(!startInstaller(QString()));
    QVERIFY(!startInstaller(m_cache->filePath(QStringLiteral("missing"))));
    const QString link = m_cache->filePath(QStringLiteral("link"));
    QVERIFY(QFile::link(file.fileName(), link));
    QVERIFY(!startInstaller(link));
}

void UpdateDialogTest::failureStaysUntilTheNextAction_data()
{
    QTest::addColumn<bool>("folderBlocked");
    QTest::addColumn<QString>("message");
    QTest::newRow("folder") << true << QStringLiteral("无法创建更新下载目录");
    QTest::newRow("installer") << false << QStringLiteral("无法写入更新安装包");
}

void UpdateDialogTest::failureStaysUntilTheNextAction()
{
    QFETCH(bool, folderBlocked);
    QFETCH(QString, message);
    const QByteArray installer = recordingInstaller();
    m_server->route(feedPath("0.15.33").toUtf8(), {200, installer});
    findRelease(sha(installer).toLatin1(), installer.size());

    // A file where the folder should be, or a folder where the installer should be.
    const QString folder = UpdateService::downloadFolder();
    const QString blocker = folderBlocked ? folder : folder + u'/' + m_service->available()->fileName;
    QVERIFY(QDir().mkpath(folderBlocked ? QFileInfo(folder).absolutePath() : blocker));
    if (folderBlocked) {
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    QSignalSpy failed(m_service, &UpdateService::downloadFailed);
    QTest::mouseClick(button("updateAction"), Qt::LeftButton);
    QCOMPARE(failed.size(), 1);
    QVERIFY(showsStatus(message));
    QCOMPARE(button("updateAction")->text(), QStringLiteral("下载更新"));
    QVERIFY(button("updateAction")->isEnabled());

    // The next update check redraws the dialog, and the failure is still there.
    findRelease(sha(installer).toLatin1(), installer.size());
    m_dialog->refresh();
    QVERIFY(showsStatus(message));

    // The next click is the next action: with the way clear, it downloads.
    if (folderBlocked)
        QVERIFY(QFile::remove(blocker));
    else
        QVERIFY(QDir(blocker).removeRecursively());
    QSignalSpy ready(m_service, &UpdateService::downloadReady);
    QTest::mouseClick(button("updateAction"), Qt::LeftButton);
    QVERIFY(!showsStatus(message));
    QVERIFY(ready.wait());
    QCOMPARE(statusLine(), QStringLiteral("下载完成，安装包校验通过。可以继续使用瓦内勒，准备好后再安装。"));
}

void UpdateDialogTest::onlyHttpsLinksOpen()
{
    findRelease(QByteArray(64, 'a'), 10,
                QStringLiteral("[secure](https://example.org/notes) [plain](http://example.org/plain) "
                               "[local](file:///etc/passwd) [mail](mailto:a@example.org)"));
    OpenedLinks links;
    auto* browser = m_dialog->findChild<QTextBrowser*>("updateNotes");
    QVERIFY(QTest::qWaitForWindowExposed(m_dialog));
    for (const char* href : {"http://example.org/plain", "file:///etc/passwd", "mailto:a@example.org",
                             "https://example.org/notes"})
        QVERIFY2(clickLink(browser, QString::fromLatin1(href)), href);
    QCOMPARE(links.opened, QList<QUrl>{QUrl(QStringLiteral("https://example.org/notes"))});
    // The browser itself went nowhere.
    QVERIFY(browser->toPlainText().contains(QStringLiteral("secure")));
}

QTEST_MAIN(UpdateDialogTest)
#include "UpdateDialogTest.moc"
