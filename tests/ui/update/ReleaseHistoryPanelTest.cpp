#include "UpdateTestData.h"

#include "ui/kit/Combo.h"
#include "ui/update/ReleaseHistoryPanel.h"
#include "ui/update/UpdateHosts.h"
#include "ui/update/UpdateService.h"

#include <QFile>
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

const QByteArray ListPath = QByteArray(update_hosts::RestListPath) + '?' + update_hosts::RestListQuery;

QByteArray builtInstaller(const QString& version)
{
    QFile file(QStringLiteral(VN_BINARY_DIR "/ui/update/releases/") + installer_platform::fileName(version));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class ReleaseHistoryPanelTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void startsFromTheBuiltInList();
    void refreshKeepsTheChoice();
    void refreshFailureKeepsTheList_data();
    void refreshFailureKeepsTheList();
    void downloadReadyAndChoosingAnother();
    void downloadingLocksTheChoice();
    void releaseWithoutNotes();

private:
    QStringList choices() const;
    void choose(int index) { versions()->setCurrentIndex(index); }
    Combo* versions() const { return m_panel->findChild<Combo*>("releaseHistoryVersions"); }
    QString status() const { return m_panel->findChild<QLabel*>("releaseHistoryStatus")->text(); }
    QPushButton* button(const char* name) const { return m_panel->findChild<QPushButton*>(name); }
    QProgressBar* progress() const { return m_panel->findChild<QProgressBar*>("releaseHistoryProgress"); }
    UpdateService* service() const { return m_panel->findChild<UpdateService*>(); }
    void refresh(const QJsonArray& list);

    std::unique_ptr<QTemporaryDir> m_cache;
    std::unique_ptr<LocalHttpServer> m_server;
    std::unique_ptr<LoopbackManager> m_manager;
    std::unique_ptr<ReleaseHistoryPanel> m_panel;
};

void ReleaseHistoryPanelTest::init()
{
    m_cache = std::make_unique<QTemporaryDir>();
    qputenv("XDG_CACHE_HOME", m_cache->path().toLocal8Bit());
    m_server = std::make_unique<LocalHttpServer>();
    m_manager = std::make_unique<LoopbackManager>(m_server->port());
    m_panel = std::make_unique<ReleaseHistoryPanel>(nullptr, m_manager.get());
    m_panel->show();
}

void ReleaseHistoryPanelTest::cleanup()
{
    m_panel.reset();
    m_manager.reset();
    m_server.reset();
    m_cache.reset();
}

QStringList ReleaseHistoryPanelTest::choices() const
{
    QStringList items;
    for (int i = 0; i < versions()->count(); ++i)
        items << versions()->itemText(i) + u'=' + versions()->itemData(i).toString();
    return items;
}

void ReleaseHistoryPanelTest::refresh(const QJsonArray& list)
{
    m_server->route(ListPath, {200, compact(list)});
    QSignalSpy changed(service(), &UpdateService::historyChanged);
    QTest::mouseClick(button("releaseHistoryRefresh"), Qt::LeftButton);
    QCOMPARE(status(), QStringLiteral("正在刷新，现有发布记录仍可查看。"));
    QVERIFY(!button("releaseHistoryRefresh")->isEnabled());
    QVERIFY(!button("releaseHistoryDownload")->isEnabled());
    QVERIFY(changed.wait());
}

void ReleaseHistoryPanelTest::startsFromTheBuiltInList()
{
    QCOMPARE(m_panel->objectName(), QStringLiteral("releaseHistoryPanel"));
    QVERIFY(versions()->menuPopup);
    QCOMPARE(choices(), (QStringList{"v0.15.31=0.15.31", "v0.15.30=0.15.30", "v0.15.29=0.15.29"}));
    QCOMPARE(versions()->currentIndex(), 0);
    QCOMPARE(status(), QStringLiteral("已载入随软件附带的发布记录，可联网刷新。"));
    QCOMPARE(m_panel->findChild<QLabel*>("releaseHistoryDetails")->text(),
             QStringLiteral("Varnelle 0.15.31  ·  %1  ·  0.0 MiB").arg(localDate("2026-11-24T08:30:00Z")));
    QVERIFY(m_panel->findChild<QTextBrowser*>("releaseHistoryNotes")->toPlainText().contains(
        QStringLiteral("波形图在暂停时保留悬停读数")));
    QCOMPARE(button("releaseHistoryDownload")->text(), QStringLiteral("下载安装包"));
    QVERIFY(button("releaseHistoryDownload")->isEnabled());
    QVERIFY(!button("releaseHistoryCancel")->isVisible());
    QVERIFY(!progress()->isVisible());

    choose(2);
    QCOMPARE(status(), QStringLiteral("所选版本的安装包来自 GitHub；下载期间可继续使用瓦内勒。"));
    QVERIFY(m_panel->findChild<QLabel*>("releaseHistoryDetails")->text().startsWith("Varnelle 0.15.29"));
}

void ReleaseHistoryPanelTest::refreshKeepsTheChoice()
{
    const QByteArray file = "installer";
    choose(1); // v0.15.30
    refresh({release("0.15.33", file, "a"), release("0.15.32", file, "b"), release("0.15.30", file, "c"),
             release("0.15.29", file, "d")});
    QCOMPARE(choices(), (QStringList{"v0.15.33=0.15.33", "v0.15.32=0.15.32", "v0.15.30=0.15.30"}));
    QCOMPARE(versions()->currentData().toString(), QStringLiteral("0.15.30"));
    QCOMPARE(status(), QStringLiteral("已从 GitHub 更新最近 3 个正式版本。"));
    QCOMPARE(m_panel->findChild<QTextBrowser*>("releaseHistoryNotes")->toPlainText().trimmed(), QStringLiteral("c"));
    QVERIFY(button("releaseHistoryRefresh")->isEnabled());

    // The chosen version is gone: the newest is chosen.
    refresh({release("0.15.36", file, "x"), release("0.15.35", file, "y"), release("0.15.34", file, "z")});
    QCOMPARE(versions()->currentData().toString(), QStringLiteral("0.15.36"));
    QCOMPARE(versions()->currentIndex(), 0);
}

void ReleaseHistoryPanelTest::refreshFailureKeepsTheList_data()
{
    QTest::addColumn<int>("statusCode");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("server error") << 500 << QByteArray("[]");
    QTest::newRow("no valid release") << 200 << QByteArray(R"([{"tag_name": "V1.0.0"}])");
    QTest::newRow("not a list") << 200 << QByteArray("{}");
}

void ReleaseHistoryPanelTest::refreshFailureKeepsTheList()
{
    QFETCH(int, statusCode);
    QFETCH(QByteArray, body);
    m_server->route(ListPath, {statusCode, body});
    choose(1);
    QSignalSpy failed(service(), &UpdateService::historyFailed);
    QTest::mouseClick(button("releaseHistoryRefresh"), Qt::LeftButton);
    QVERIFY(failed.wait());
    QCOMPARE(status(), QStringLiteral("无法刷新版本列表，保留已有发布记录。可稍后重试。"));
    QCOMPARE(choices().size(), 3);
    QCOMPARE(versions()->currentIndex(), 1);
    QVERIFY(button("releaseHistoryRefresh")->isEnabled());
    QVERIFY(button("releaseHistoryDownload")->isEnabled());
}

void ReleaseHistoryPanelTest::downloadReadyAndChoosingAnother()
{
    for (const char* version : {"0.15.31", "0.15.30"}) {
        const QString v = QString::fromLatin1(version);
        const QByteArray bytes = builtInstaller(v);
        QVERIFY(!bytes.isEmpty());
        m_server->route(downloadPath(v).toUtf8(), {200, bytes});
    }
    QSignalSpy ready(service(), &UpdateService::downloadReady);
    QTest::mouseClick(button("releaseHistoryDownload"), Qt::LeftButton);
    QVERIFY(ready.wait());
    QCOMPARE(status(), QStringLiteral("安装包大小及 SHA-256 校验通过，准备好后点击安装。安装器会保留本地设置。"));
    QCOMPARE(button("releaseHistoryDownload")->text(), QStringLiteral("关闭瓦内勒并安装"));
    QVERIFY(progress()->isVisible());
    QCOMPARE(progress()->value(), 100);

    choose(1);
    QCOMPARE(button("releaseHistoryDownload")->text(), QStringLiteral("下载安装包"));
    QVERIFY(!progress()->isVisible());
    choose(0);
    QCOMPARE(button("releaseHistoryDownload")->text(), QStringLiteral("关闭瓦内勒并安装"));

    QSignalSpy install(m_panel.get(), &ReleaseHistoryPanel::installRequested);
    QTest::mouseClick(button("releaseHistoryDownload"), Qt::LeftButton);
    QCOMPARE(install.size(), 1);
    QCOMPARE(install.first().first().toString(), service()->downloadedPath());
    QVERIFY(install.first().first().toString().endsWith(installer_platform::fileName("0.15.31")));

    // Another version downloads over the same page; the first is then no longer ready.
    choose(1);
    QTest::mouseClick(button("releaseHistoryDownload"), Qt::LeftButton);
    QVERIFY(ready.wait());
    QCOMPARE(button("releaseHistoryDownload")->text(), QStringLiteral("关闭瓦内勒并安装"));
    choose(0);
    QCOMPARE(button("releaseHistoryDownload")->text(), QStringLiteral("下载安装包"));
}

void ReleaseHistoryPanelTest::downloadingLocksTheChoice()
{
    const UpdateRelease first = service()->history().first();
    const qint64 stallAt = first.size / 2;
    m_server->route(first.url.path().toUtf8(), {200, builtInstaller(first.version), -1, stallAt});
    QTest::mouseClick(button("releaseHistoryDownload"), Qt::LeftButton);
    QVERIFY(service()->isDownloading());
    QVERIFY(!versions()->isEnabled());
    QVERIFY(!button("releaseHistoryRefresh")->isEnabled());
    QVERIFY(!button("releaseHistoryDownload")->isEnabled());
    QCOMPARE(button("releaseHistoryDownload")->text(), QStringLiteral("正在下载"));
    QVERIFY(button("releaseHistoryCancel")->isVisible());
    QVERIFY(progress()->isVisible());
    QTRY_COMPARE(progress()->value(), int(stallAt * 100 / first.size));
    QCOMPARE(status(), QStringLiteral("正在下载 0.0 / 0.0 MiB；可离开设置继续使用瓦内勒。"));

    // A refresh asked for now changes nothing.
    m_panel->refreshHistory();
    QVERIFY(!service()->isRefreshingHistory());

    QTest::mouseClick(button("releaseHistoryCancel"), Qt::LeftButton);
    QTRY_COMPARE(status(), QStringLiteral("下载失败或安装包校验未通过，请重试"));
    QVERIFY(versions()->isEnabled());
    QVERIFY(button("releaseHistoryDownload")->isEnabled());
    QCOMPARE(button("releaseHistoryDownload")->text(), QStringLiteral("下载安装包"));
    QVERIFY(!button("releaseHistoryCancel")->isVisible());
}

void ReleaseHistoryPanelTest::releaseWithoutNotes()
{
    refresh({release("0.15.33", "x", QString()), release("0.15.32", "y", QStringLiteral("## 有说明"))});
    auto* notes = m_panel->findChild<QTextBrowser*>("releaseHistoryNotes");
    QCOMPARE(notes->toPlainText().trimmed(), QStringLiteral("此版本未提供特性说明。"));
    choose(1);
    QCOMPARE(notes->toPlainText().trimmed(), QStringLiteral("有说明"));
    choose(0);
    QCOMPARE(notes->toPlainText().trimmed(), QStringLiteral("此版本未提供特性说明。"));
}

QTEST_MAIN(ReleaseHistoryPanelTest)
#include "ReleaseHistoryPanelTest.moc"
