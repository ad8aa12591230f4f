#include "core/Channel.h"
#include "core/Engine.h"
#include "tests/core/ssh/SshTestServer.h"
#include "ui/kit/StatusLed.h"
#include "ui/pages/Pane.h"
#include "ui/window/Window.h"

#include "WorkspaceFixture.h"

#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

using namespace vn;
using vn::test::SshTestServer;

namespace {

QString currentUser()
{
    const passwd* entry = ::getpwuid(::geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QStringLiteral("root");
}

} // namespace

// SSH connections made from the sidebar against a private sshd on loopback.
class SshSessionTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void connectsAndClosesFromTheSidebar();
    void anUnknownHostKeyIsAskedInTheWindow();

private:
    void requireServer()
    {
        if (!serverUp)
            QSKIP(qPrintable(QStringLiteral("private sshd unavailable: ") + server.errorString()));
    }
    void type(const char* name, const QString& text)
    {
        auto* edit = window->findChild<QLineEdit*>(QLatin1String(name));
        if (!edit)
            edit = window->findChild<QComboBox*>(QLatin1String(name))->lineEdit();
        edit->setFocus();
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
        QTest::keyClick(edit, Qt::Key_Tab);
    }
    void fillForm()
    {
        window->findChild<QComboBox*>(QStringLiteral("protocolSelector"))->setCurrentIndex(4);
        type("sshHost", QStringLiteral("127.0.0.1"));
        type("sshUser", currentUser());
        type("sshPort", QString::number(server.port()));
        type("sshIdentity", key);
    }
    void clickConnect()
    {
        QTest::mouseClick(window->findChild<QWidget*>("sidebar")->findChild<QPushButton*>("primary"),
                          Qt::LeftButton);
    }
    QString stateText() { return window->findChild<QLabel*>(QStringLiteral("connectionState"))->text(); }

    SshTestServer server;
    QTemporaryDir data;
    QString key;
    bool serverUp = false;
    std::unique_ptr<test::WorkspaceFixture> fixture;
    Window* window = nullptr;
};

void SshSessionTest::initTestCase()
{
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    serverUp = server.start();
    if (serverUp)
        key = server.addClientKey(QStringLiteral("plain_key"), QString());
}

void SshSessionTest::cleanupTestCase()
{
    server.stop();
}

void SshSessionTest::init()
{
    fixture = std::make_unique<test::WorkspaceFixture>();
    fixture->engine.sshProgram = server.clientProgram();
    fixture->engine.sshCredentialDirectory = data.filePath(QStringLiteral("ssh-cache"));
    window = fixture->open();
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
}

void SshSessionTest::cleanup()
{
    fixture.reset();
    window = nullptr;
}

void SshSessionTest::connectsAndClosesFromTheSidebar()
{
    requireServer();
    QVERIFY(server.trustHostKey());
    fillForm();
    QCOMPARE(window->findChild<QPushButton*>(QStringLiteral("sshClearCache"))->isEnabled(), true);
    clickConnect();
    Channel* channel = window->current->channel;
    QVERIFY(channel);
    QCOMPARE(channel->config.kind, QStringLiteral("ssh"));
    QCOMPARE(channel->config.ssh_port, int(server.port()));
    QTRY_COMPARE_WITH_TIMEOUT(channel->state, QStringLiteral("connected"), 20000);
    QTRY_COMPARE(stateText(), QStringLiteral("已连接"));
    QCOMPARE(window->findChild<StatusLed*>(QStringLiteral("connectionLed"))->state(), StatusLed::Green);
    QCOMPARE(window->findChild<QWidget*>("sidebar")->findChild<QPushButton*>("primary")->text(),
             QStringLiteral("断开连接"));

    // Another user in the form is another connection: the sidebar no longer
    // shows this one's state.
    type("sshUser", QStringLiteral("nobody"));
    QTRY_COMPARE(stateText(), QStringLiteral("未连接"));
    type("sshUser", currentUser());
    QTRY_COMPARE(stateText(), QStringLiteral("已连接"));

    clickConnect();
    QTRY_COMPARE(channel->state, QStringLiteral("closed"));
    QTRY_COMPARE(stateText(), QStringLiteral("已断开"));
}

void SshSessionTest::anUnknownHostKeyIsAskedInTheWindow()
{
    requireServer();
    {
        QFile known(server.knownHosts());
        QVERIFY(known.open(QIODevice::WriteOnly | QIODevice::Truncate));
    }
    fillForm();
    clickConnect();
    Channel* channel = window->current->channel;
    QVERIFY(channel);
    // The question reaches the root window's prompt dialog; refusing it ends
    // the attempt.
    QTRY_VERIFY_WITH_TIMEOUT([&]() {
        for (QDialog* dialog : window->findChildren<QDialog*>()) {
            if (dialog->isVisible())
                dialog->reject();
        }
        return channel->state == QLatin1String("closed") || channel->state == QLatin1String("error");
    }(), 20000);
    QTRY_VERIFY(stateText() == QStringLiteral("已断开") || stateText() == QStringLiteral("连接异常"));
}

QTEST_MAIN(SshSessionTest)
#include "SshSessionTest.moc"
