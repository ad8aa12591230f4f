#include "ui/ssh/SshDialogs.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "core/ssh/SshAuthSession.h"
#include "core/ssh/SshCredentialCache.h"
#include "ui/kit/Theme.h"

#include "tests/core/ssh/SshTestServer.h"
#include "tests/ui/ssh/DialogDriver.h"

#include <QCheckBox>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

using namespace vn;
using vn::test::DialogDriver;
using vn::test::SshTestServer;

namespace {

QString currentUser()
{
    const passwd* entry = ::getpwuid(::geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QStringLiteral("root");
}

const QString Passphrase = QStringLiteral("open sesame");

} // namespace

// The dialogs as the main window uses them, against a private sshd on
// loopback: every question of a real ssh goes through a dialog that the test
// answers like a user.
class SshDialogsEndToEndTest : public QObject {
    Q_OBJECT
    SshTestServer m_server;
    QTemporaryDir m_data;
    bool m_serverUp = false;
    QString m_key;

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", m_data.path().toUtf8());
        m_serverUp = m_server.start();
        if (!m_serverUp)
            QSKIP(qPrintable(QStringLiteral("private sshd unavailable: ") + m_server.errorString()));
        m_key = m_server.addClientKey(QStringLiteral("locked_key"), Passphrase);
        QVERIFY(!m_key.isEmpty());
    }
    void cleanupTestCase() { m_server.stop(); }

    void trustRememberReconnectClearAndAskAgain()
    {
        const Theme theme = Theme::make(false);
        QWidget window;
        window.resize(900, 640);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        Engine engine;
        engine.sshProgram = m_server.clientProgram();
        engine.sshCredentialDirectory = m_data.filePath(QStringLiteral("credentials"));
        connect(&engine, &Engine::sshPromptRequested, &window,
                [&](SshAuthPrompt* prompt) { showSshAuthPrompt(prompt, &window, theme); });

        Config config;
        config.kind = QStringLiteral("ssh");
        config.ssh_host = QStringLiteral("127.0.0.1");
        config.ssh_port = m_server.port();
        config.ssh_user = currentUser();
        config.ssh_identity = m_key;

        // First connection: trust the host key, then give the passphrase and
        // keep it.
        DialogDriver driver;
        driver.on(QStringLiteral("sshAuthenticationDialog"), [](QWidget* dialog) {
            auto* challenge = dialog->findChild<QPlainTextEdit*>(QStringLiteral("sshAuthenticationChallenge"));
            if (dialog->windowTitle() == QStringLiteral("确认 SSH 主机指纹")) {
                QVERIFY(challenge->toPlainText().contains(QStringLiteral("SHA256:")));
                QTest::mouseClick(DialogDriver::button(dialog, QDialogButtonBox::Ok), Qt::LeftButton);
                return;
            }
            auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("sshPassword"));
            QCOMPARE(edit->placeholderText(), QStringLiteral("输入私钥口令"));
            QTest::keyClicks(edit, Passphrase);
            QTest::mouseClick(dialog->findChild<QCheckBox*>(QStringLiteral("sshRememberPassword")), Qt::LeftButton);
            QTest::keyClick(edit, Qt::Key_Return);
        });
        QPointer<Channel> first = engine.open(config);
        QTRY_COMPARE_WITH_TIMEOUT(first->state, QStringLiteral("connected"), 30000);
        QCOMPARE(driver.texts, (QStringList{QStringLiteral("确认 SSH 主机指纹"), QStringLiteral("SSH 身份验证")}));
        QVERIFY(QFile::exists(SshCredentialCache::cachePath(engine.sshCredentialDirectory, config.ssh_host)));
        first->close();

        // Second connection: the host is known and the passphrase remembered,
        // so no dialog opens.
        QPointer<Channel> second = engine.open(config);
        QTRY_COMPARE_WITH_TIMEOUT(second->state, QStringLiteral("connected"), 30000);
        QCOMPARE(driver.seen.size(), 2);

        // Forget both: the open session is closed, the secret and the host
        // key are gone.
        driver.on(QStringLiteral("sshCacheDialog"), [](QWidget* dialog) {
            QTest::mouseClick(DialogDriver::button(dialog, QDialogButtonBox::Ok), Qt::LeftButton);
        });
        driver.on(QStringLiteral("sshCacheCleared"), DialogDriver::acknowledge);
        clearSshCache(config, &engine, &window, theme);
        QCOMPARE(driver.texts.mid(2),
                 (QStringList{QStringLiteral("清除当前主机的 SSH 缓存"),
                              QStringLiteral("已清除所选缓存，移除 1 条主机指纹。\n请重新建立连接。")}));
        QCOMPARE(second->state, QStringLiteral("closed"));
        QVERIFY(!QFile::exists(SshCredentialCache::cachePath(engine.sshCredentialDirectory, config.ssh_host)));
        QVERIFY(!SshTestServer::run(QStringLiteral("ssh-keygen"),
                                    {QStringLiteral("-F"), QStringLiteral("[127.0.0.1]:%1").arg(m_server.port()),
                                     QStringLiteral("-f"), m_server.knownHosts()}));

        // Third connection: the host key is asked again; the connection is
        // closed while its dialog is open, which takes the question away and
        // closes the dialog without an answer.
        QPointer<QWidget> asking;
        driver.on(QStringLiteral("sshAuthenticationDialog"), [&](QWidget* dialog) { asking = dialog; });
        QPointer<Channel> third = engine.open(config);
        QTRY_VERIFY_WITH_TIMEOUT(asking, 30000);
        QCOMPARE(asking->windowTitle(), QStringLiteral("确认 SSH 主机指纹"));
        third->close();
        QTRY_VERIFY_WITH_TIMEOUT(!asking, 10000);
        QCOMPARE(third->state, QStringLiteral("closed"));
        QVERIFY(!SshTestServer::run(QStringLiteral("ssh-keygen"),
                                    {QStringLiteral("-F"), QStringLiteral("[127.0.0.1]:%1").arg(m_server.port()),
                                     QStringLiteral("-f"), m_server.knownHosts()}));
    }
};

QTEST_MAIN(SshDialogsEndToEndTest)
#include "SshDialogsEndToEndTest.moc"
