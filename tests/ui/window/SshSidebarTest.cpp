#include "core/Engine.h"
#include "core/ssh/SshAuthSession.h"
#include "ui/window/Window.h"

#include "WorkspaceFixture.h"

#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace vn;

// The SSH page of the sidebar against an SSH configuration in a home folder of
// the test's own.
class SshSidebarTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void hostListFollowsTheConfiguration();
    void aChosenAliasThatLeavesIsCleared();
    void cacheButtonFollowsTheHostText_data();
    void cacheButtonFollowsTheHostText();
    void cacheButtonReadsTheForm();
    void promptsReachTheRootWindow();

private:
    void writeConfig(const QByteArray& text)
    {
        QFile file(home.filePath(QStringLiteral(".ssh/config")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
    }
    QStringList hosts() const
    {
        QStringList items;
        for (int index = 0; index < hostBox->count(); ++index)
            items.append(hostBox->itemText(index));
        return items;
    }
    void type(QLineEdit* edit, const QString& text)
    {
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }

    QTemporaryDir home;
    std::unique_ptr<test::WorkspaceFixture> fixture;
    Window* window = nullptr;
    QComboBox* hostBox = nullptr;
    QPushButton* clearCache = nullptr;
};

void SshSidebarTest::initTestCase()
{
    QVERIFY(home.isValid());
    QVERIFY(QDir(home.path()).mkpath(QStringLiteral(".ssh")));
    qputenv("HOME", home.path().toLocal8Bit());
    QCOMPARE(QDir::homePath(), home.path());
}

void SshSidebarTest::init()
{
    writeConfig("Host bench-a\n  HostName 127.0.0.1\n\nHost bench-b *.wild\n  User tester\n");
    fixture = std::make_unique<test::WorkspaceFixture>();
    window = fixture->open();
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    window->findChild<QComboBox*>(QStringLiteral("protocolSelector"))->setCurrentIndex(4);
    hostBox = window->findChild<QComboBox*>(QStringLiteral("sshHost"));
    clearCache = window->findChild<QPushButton*>(QStringLiteral("sshClearCache"));
    QVERIFY(hostBox && clearCache);
}

void SshSidebarTest::cleanup()
{
    fixture.reset();
    window = nullptr;
}

void SshSidebarTest::hostListFollowsTheConfiguration()
{
    QCOMPARE(hosts(), QStringList({"bench-a", "bench-b"}));
    QCOMPARE(hostBox->currentIndex(), -1);
    QCOMPARE(hostBox->currentText(), QString());
    QCOMPARE(hostBox->toolTip(), QStringLiteral("选择或输入 SSH 主机"));
    QCOMPARE(hostBox->lineEdit()->placeholderText(), QStringLiteral("选择配置或输入地址"));
    QCOMPARE(window->findChild<QLabel*>(QStringLiteral("connectionHint"))->text(),
             QStringLiteral("读取 ~/.ssh/config 中的主机别名\n使用系统密钥或代理登录"));

    // Text typed by hand stays while a new Host entry appears.
    type(hostBox->lineEdit(), QStringLiteral("10.0.0.7"));
    QCOMPARE(hostBox->toolTip(), QStringLiteral("10.0.0.7"));
    writeConfig("Host bench-a\nHost bench-b\nHost bench-c\n");
    QTRY_COMPARE_WITH_TIMEOUT(hosts(), QStringList({"bench-a", "bench-b", "bench-c"}), 20000);
    QCOMPARE(hostBox->currentText(), QStringLiteral("10.0.0.7"));
    QCOMPARE(window->form().ssh_host, QStringLiteral("10.0.0.7"));
}

void SshSidebarTest::aChosenAliasThatLeavesIsCleared()
{
    hostBox->setCurrentIndex(1);
    QCOMPARE(hostBox->currentText(), QStringLiteral("bench-b"));
    QCOMPARE(hostBox->toolTip(), QStringLiteral("bench-b"));
    QVERIFY(clearCache->isEnabled());

    writeConfig("Host bench-a\n");
    QTRY_COMPARE_WITH_TIMEOUT(hosts(), QStringList{"bench-a"}, 20000);
    QCOMPARE(hostBox->currentText(), QString());
    QCOMPARE(hostBox->toolTip(), QStringLiteral("选择或输入 SSH 主机"));
    QVERIFY(!clearCache->isEnabled());
}

void SshSidebarTest::cacheButtonFollowsTheHostText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("empty") << "" << false;
    QTest::newRow("spaces") << "   " << false;
    QTest::newRow("alias") << "bench-a" << true;
    QTest::newRow("address with spaces") << " 127.0.0.1 " << true;
}

void SshSidebarTest::cacheButtonFollowsTheHostText()
{
    QFETCH(QString, text);
    QFETCH(bool, enabled);
    type(hostBox->lineEdit(), QStringLiteral("x"));
    QVERIFY(clearCache->isEnabled());
    type(hostBox->lineEdit(), text);
    QCOMPARE(clearCache->isEnabled(), enabled);
    QCOMPARE(clearCache->toolTip(), QStringLiteral("清除当前主机保存的密码及指纹记录，重新进行连接认证"));
}

void SshSidebarTest::cacheButtonReadsTheForm()
{
    type(hostBox->lineEdit(), QStringLiteral("bench-a"));
    // A form that cannot be read reports the reason and clears nothing.
    type(window->findChild<QLineEdit*>(QStringLiteral("sshPort")), QStringLiteral("0"));
    QTest::mouseClick(clearCache, Qt::LeftButton);
    QCOMPARE(window->statusBar()->currentMessage(), QStringLiteral("操作失败：SSH 端口需要 1 到 65535 的整数"));

    // A readable form goes to the cache dialog; any dialog it shows is closed.
    window->statusBar()->clearMessage();
    type(window->findChild<QLineEdit*>(QStringLiteral("sshPort")), QStringLiteral("2222"));
    QTimer closer;
    connect(&closer, &QTimer::timeout, window, [this]() {
        for (QDialog* dialog : window->findChildren<QDialog*>()) {
            if (dialog->isVisible())
                dialog->reject();
        }
    });
    closer.start(20);
    QTest::mouseClick(clearCache, Qt::LeftButton);
    closer.stop();
    QCOMPARE(window->statusBar()->currentMessage(), QString());
}

void SshSidebarTest::promptsReachTheRootWindow()
{
    // The question goes to the prompt dialog of the root window, which either
    // answers it at once or shows itself; a shown dialog is cancelled here.
    auto* prompt = new SshAuthPrompt(window);
    prompt->host = QStringLiteral("bench-a");
    prompt->prompt = QStringLiteral("tester@bench-a's password:");
    prompt->secret = true;
    bool answered = false;
    bool accepted = true;
    prompt->callback = [&](bool ok, const QString&, bool) {
        answered = true;
        accepted = ok;
    };
    Q_EMIT fixture->engine.sshPromptRequested(prompt);
    QTRY_VERIFY([&]() {
        for (QDialog* dialog : window->findChildren<QDialog*>()) {
            if (dialog->isVisible())
                dialog->reject();
        }
        return answered;
    }());
    QVERIFY(!accepted);
}

QTEST_MAIN(SshSidebarTest)
#include "SshSidebarTest.moc"
