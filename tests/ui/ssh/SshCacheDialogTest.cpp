#include "ui/ssh/SshDialogs.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "core/ssh/SshCredentialCache.h"
#include "ui/kit/Theme.h"

#include "tests/ui/ssh/DialogDriver.h"

#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace vn;
using vn::test::DialogDriver;

namespace {

// Stands in for ssh: "-G" prints the effective settings of lab-box, any other
// run waits like a session that is still logging in.
const QByteArray StandInClient =
    "#!/bin/sh\n"
    "if [ \"$1\" = \"-G\" ]; then\n"
    "  printf 'hostname lab-box\\nport 2222\\nuser pi\\n"
    "userknownhostsfile ~/.ssh/known_hosts ~/.ssh/known_hosts2\\n'\n"
    "  exit 0\n"
    "fi\n"
    "exec sleep 60\n";

const QByteArray KnownHosts =
    "[lab-box]:2222 ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIKeyOne\n"
    "other-box ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIKeyTwo\n"
    "[lab-box]:2222,10.0.0.9 ssh-rsa AAAAB3NzaC1yc2EAAAADAQABKeyThree\n";
const QByteArray KnownHosts2 = "[lab-box]:2222 ecdsa-sha2-nistp256 AAAAE2VjZHNhKeyFour\n";

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

Config sshConfig(const QString& host)
{
    Config config;
    config.kind = QStringLiteral("ssh");
    config.ssh_host = host;
    config.ssh_user = QStringLiteral("pi");
    config.ssh_port = 2222;
    return config;
}

QLabel* labelWithText(QWidget* dialog, const QString& text)
{
    const QList<QLabel*> labels = dialog->findChildren<QLabel*>();
    for (QLabel* label : labels) {
        if (label->text() == text)
            return label;
    }
    return nullptr;
}

} // namespace

class SshCacheDialogTest : public QObject {
    Q_OBJECT
    const Theme m_theme = Theme::make(true);
    QTemporaryDir m_data;
    std::unique_ptr<QTemporaryDir> m_home;
    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<Engine> m_engine;
    QTcpServer m_listener;

    QString sshFolder() const { return m_home->filePath(QStringLiteral(".ssh")); }
    QString knownHosts() const { return sshFolder() + QStringLiteral("/known_hosts"); }
    QString knownHosts2() const { return sshFolder() + QStringLiteral("/known_hosts2"); }
    QString credentials() const { return m_home->filePath(QStringLiteral("credentials")); }
    QString secretFile() const { return SshCredentialCache::cachePath(credentials(), QStringLiteral("lab-box")); }
    QStringList backups() const
    {
        return QDir(sshFolder()).entryList({QStringLiteral("known_hosts.varnelle-*.bak")}, QDir::Files);
    }

    Channel* openSsh(const QString& host)
    {
        Channel* channel = m_engine->open(sshConfig(host));
        return channel;
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", m_data.path().toUtf8());
        QVERIFY(m_listener.listen(QHostAddress::LocalHost));
    }

    // A fresh home with a saved secret and two known_hosts files naming
    // lab-box, an engine whose client is the stand-in, and a main window.
    void init()
    {
        m_home = std::make_unique<QTemporaryDir>();
        QVERIFY(m_home->isValid());
        qputenv("HOME", m_home->path().toUtf8());
        QVERIFY(QDir().mkpath(sshFolder()));
        QVERIFY(writeFile(knownHosts(), KnownHosts));
        QVERIFY(writeFile(knownHosts2(), KnownHosts2));
        const QString client = m_home->filePath(QStringLiteral("ssh"));
        QVERIFY(writeFile(client, StandInClient));
        QVERIFY(QFile::setPermissions(client, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        m_engine = std::make_unique<Engine>();
        m_engine->sshProgram = client;
        m_engine->sshCredentialDirectory = credentials();
        SshCredentialCache::write(credentials(), QStringLiteral("lab-box"),
                                  QStringLiteral("ssh:lab-box:pi:2222:\npi@lab-box's password: "),
                                  QStringLiteral("s3cret"));
        QVERIFY(QFile::exists(secretFile()));

        m_window = std::make_unique<QWidget>();
        m_window->resize(800, 600);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    }
    void cleanup()
    {
        m_window.reset();
        m_engine.reset();
        m_home.reset();
    }

    void clearsWhatIsTicked_data()
    {
        QTest::addColumn<bool>("passwords");
        QTest::addColumn<bool>("fingerprints");
        QTest::addColumn<QString>("leave");
        QTest::addColumn<bool>("acted");
        QTest::newRow("both") << true << true << "ok" << true;
        QTest::newRow("passwords only") << true << false << "ok" << true;
        QTest::newRow("fingerprints only") << false << true << "ok" << true;
        QTest::newRow("neither") << false << false << "ok" << false;
        QTest::newRow("cancel") << true << true << "cancel" << false;
        QTest::newRow("escape") << true << true << "escape" << false;
    }
    void clearsWhatIsTicked()
    {
        QFETCH(bool, passwords);
        QFETCH(bool, fingerprints);
        QFETCH(QString, leave);
        QFETCH(bool, acted);

        QPointer<Channel> typed = openSsh(QStringLiteral("Lab-Box"));
        QPointer<Channel> otherCase = openSsh(QStringLiteral("LAB-BOX"));
        QPointer<Channel> otherHost = openSsh(QStringLiteral("other-box"));
        // A TCP connection to the same machine, with an SSH host left in its
        // settings from an earlier choice in the form.
        Config tcp;
        tcp.kind = QStringLiteral("tcp-client");
        tcp.host = QStringLiteral("127.0.0.1");
        tcp.network_port = m_listener.serverPort();
        tcp.ssh_host = QStringLiteral("lab-box");
        QPointer<Channel> plain = m_engine->open(tcp);
        QTRY_COMPARE(plain->state, QStringLiteral("connected"));
        for (Channel* channel : {typed.data(), otherCase.data(), otherHost.data()})
            QCOMPARE(channel->state, QStringLiteral("connecting"));

        DialogDriver driver;
        driver.on(QStringLiteral("sshCacheDialog"), [&](QWidget* dialog) {
            QCOMPARE(dialog->parentWidget(), m_window.get());
            QVERIFY(qobject_cast<QDialog*>(dialog)->isModal());
            QCOMPARE(dialog->styleSheet(), m_theme.stylesheet());
            QCOMPARE(dialog->minimumSize(), QSize(440, 260));
            QLabel* target = labelWithText(dialog, QStringLiteral("Lab-Box → lab-box:2222"));
            QVERIFY(target);
            QCOMPARE(target->textFormat(), Qt::PlainText);
            QVERIFY(labelWithText(dialog, QStringLiteral(
                "清除会断开瓦内勒中此主机的 SSH 连接，下次连接可重新确认指纹、输入密码。SSH 配置和私钥文件会保留。修改指纹文件前会自动备份。")));
            auto* forgetSecrets = dialog->findChild<QCheckBox*>(QStringLiteral("sshClearPasswords"));
            auto* forgetKeys = dialog->findChild<QCheckBox*>(QStringLiteral("sshClearFingerprints"));
            QVERIFY(forgetSecrets && forgetKeys);
            QCOMPARE(forgetSecrets->text(), QStringLiteral("忘记此主机在瓦内勒中保存的密码和私钥口令"));
            QCOMPARE(forgetKeys->text(), QStringLiteral("清除这台主机的指纹记录（设备重装或更换时使用）"));
            QVERIFY(forgetSecrets->isChecked() && forgetKeys->isChecked());
            if (!passwords)
                QTest::mouseClick(forgetSecrets, Qt::LeftButton);
            if (!fingerprints)
                QTest::mouseClick(forgetKeys, Qt::LeftButton);
            QCOMPARE(forgetSecrets->isChecked(), passwords);
            QCOMPARE(forgetKeys->isChecked(), fingerprints);
            QPushButton* ok = DialogDriver::button(dialog, QDialogButtonBox::Ok);
            QCOMPARE(ok->text(), QStringLiteral("清除并断开连接"));
            QCOMPARE(DialogDriver::button(dialog, QDialogButtonBox::Cancel)->text(), QStringLiteral("取消"));
            if (leave == QLatin1String("ok"))
                QTest::mouseClick(ok, Qt::LeftButton);
            else if (leave == QLatin1String("cancel"))
                QTest::mouseClick(DialogDriver::button(dialog, QDialogButtonBox::Cancel), Qt::LeftButton);
            else
                QTest::keyClick(dialog, Qt::Key_Escape);
        });
        QWidget* summaryParent = nullptr;
        driver.on(QStringLiteral("sshCacheCleared"), [&](QWidget* box) {
            QCOMPARE(box->windowTitle(), QStringLiteral("SSH 缓存已清除"));
            summaryParent = box->parentWidget();
            DialogDriver::acknowledge(box);
        });
        driver.on(QStringLiteral("sshCacheFailed"), DialogDriver::acknowledge);

        clearSshCache(sshConfig(QStringLiteral("Lab-Box")), m_engine.get(), m_window.get(), m_theme);

        const int removed = fingerprints && acted ? 3 : 0;
        QStringList expected{QStringLiteral("sshCacheDialog")};
        if (acted)
            expected << QStringLiteral("sshCacheCleared");
        QCOMPARE(driver.seen, expected);
        if (acted) {
            QCOMPARE(driver.texts.last(),
                     QStringLiteral("已清除所选缓存，移除 %1 条主机指纹。\n请重新建立连接。").arg(removed));
            QCOMPARE(summaryParent, m_window.get());
        }
        QCOMPARE(m_window->findChild<QDialog*>(QStringLiteral("sshCacheDialog")), nullptr);

        // Closing comes with any clearing, whichever boxes were ticked.
        const QString sshState = acted ? QStringLiteral("closed") : QStringLiteral("connecting");
        QCOMPARE(typed->state, sshState);
        QCOMPARE(otherCase->state, sshState);
        QCOMPARE(otherHost->state, QStringLiteral("connecting"));
        QCOMPARE(plain->state, QStringLiteral("connected"));

        QCOMPARE(QFile::exists(secretFile()), !(acted && passwords));
        if (removed) {
            const QByteArray left = readFile(knownHosts());
            QVERIFY(!left.contains("lab-box"));
            QVERIFY(left.contains("other-box ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAAIKeyTwo\n"));
            QVERIFY(left.contains("10.0.0.9 ssh-rsa AAAAB3NzaC1yc2EAAAADAQABKeyThree"));
            QVERIFY(!readFile(knownHosts2()).contains("lab-box"));
            QCOMPARE(backups().size(), 1);
            QCOMPARE(readFile(sshFolder() + QLatin1Char('/') + backups().first()), KnownHosts);
        } else {
            QCOMPARE(readFile(knownHosts()), KnownHosts);
            QCOMPARE(readFile(knownHosts2()), KnownHosts2);
            QVERIFY(backups().isEmpty());
        }
    }

    // A failure is shown in a warning box; what was done before it stays done.
    void failuresAreShown_data()
    {
        QTest::addColumn<QString>("breakage");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("asked");
        QTest::newRow("client missing") << "client" << "" << false;
        QTest::newRow("host invalid") << "host" << "SSH 主机、用户名或端口无效" << false;
        QTest::newRow("second known_hosts unreadable") << "known_hosts2" << "无法读取主机指纹记录" << true;
    }
    void failuresAreShown()
    {
        QFETCH(QString, breakage);
        QFETCH(QString, message);
        QFETCH(bool, asked);
        QPointer<Channel> session = openSsh(QStringLiteral("lab-box"));
        Config config = sshConfig(QStringLiteral("lab-box"));
        if (breakage == QLatin1String("client")) {
            m_engine->sshProgram = m_home->filePath(QStringLiteral("no-such-ssh"));
        } else if (breakage == QLatin1String("host")) {
            config.ssh_host = QStringLiteral("-oProxyCommand=touch");
        } else {
            QVERIFY(QFile::remove(knownHosts2()));
            QVERIFY(QDir().mkpath(knownHosts2()));
        }

        DialogDriver driver;
        driver.on(QStringLiteral("sshCacheDialog"), [](QWidget* dialog) {
            QTest::mouseClick(DialogDriver::button(dialog, QDialogButtonBox::Ok), Qt::LeftButton);
        });
        QWidget* warningParent = nullptr;
        driver.on(QStringLiteral("sshCacheFailed"), [&](QWidget* box) {
            QCOMPARE(box->windowTitle(), QStringLiteral("无法清除 SSH 缓存"));
            QCOMPARE(qobject_cast<QMessageBox*>(box)->icon(), QMessageBox::Warning);
            warningParent = box->parentWidget();
            DialogDriver::acknowledge(box);
        });
        driver.on(QStringLiteral("sshCacheCleared"), DialogDriver::acknowledge);

        clearSshCache(config, m_engine.get(), m_window.get(), m_theme);

        QStringList expected;
        if (asked)
            expected << QStringLiteral("sshCacheDialog");
        expected << QStringLiteral("sshCacheFailed");
        QCOMPARE(driver.seen, expected);
        QCOMPARE(warningParent, m_window.get());
        if (message.isEmpty())
            QVERIFY(!driver.texts.last().isEmpty());
        else
            QCOMPARE(driver.texts.last(), message);

        // Nothing is rolled back: the channel, the secret and the first file
        // were dealt with before the second file failed.
        QCOMPARE(session->state, asked ? QStringLiteral("closed") : QStringLiteral("connecting"));
        QCOMPARE(QFile::exists(secretFile()), !asked);
        QCOMPARE(readFile(knownHosts()).contains("lab-box"), !asked);
        QCOMPARE(backups().size(), asked ? 1 : 0);
    }

    void noEngineNoDialog()
    {
        DialogDriver driver;
        driver.on(QStringLiteral("sshCacheDialog"), [](QWidget* dialog) { dialog->close(); });
        clearSshCache(sshConfig(QStringLiteral("lab-box")), nullptr, m_window.get(), m_theme);
        QVERIFY(driver.seen.isEmpty());
    }
};

QTEST_MAIN(SshCacheDialogTest)
#include "SshCacheDialogTest.moc"
