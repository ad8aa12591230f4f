#include "core/Channel.h"
#include "core/Engine.h"
#include "core/ssh/SshAuthSession.h"
#include "core/ssh/SshCredentialCache.h"
#include "core/ssh/SshHostCache.h"

#include "tests/core/ssh/SshTestServer.h"

#include <QFile>
#include <QJsonArray>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <pwd.h>
#include <unistd.h>

using namespace vn;
using vn::test::SshTestServer;

namespace {

// One engine with one SSH channel, its received bytes and its questions.
class Session {
public:
    explicit Session(const QString& program, const QString& credentials)
    {
        engine.sshProgram = program;
        engine.sshCredentialDirectory = credentials;
        QObject::connect(&engine, &Engine::sshPromptRequested, &engine, [this](SshAuthPrompt* prompt) {
            questions.append(prompt->prompt);
            retries.append(prompt->retry);
            if (answer)
                answer(prompt);
        });
    }

    Channel* open(const Config& config)
    {
        channel = engine.open(config);
        watch();
        return channel;
    }
    // Re-opens through a fresh channel, as a new connection request does.
    void watch()
    {
        QObject::connect(channel, &Channel::bytesReceived, channel, [this](const QByteArray& bytes) {
            received += bytes;
            chunks.append({bytes, channel->state});
        });
    }

    QStringList statusMessages() const
    {
        QStringList messages;
        const QJsonArray events = engine.journal.read(0, 1000, channel->id).value(QStringLiteral("events")).toArray();
        for (const QJsonValue& event : events) {
            if (event[QStringLiteral("direction")] == QStringLiteral("status"))
                messages << event[QStringLiteral("message")].toString();
        }
        return messages;
    }
    int journaled(const QString& direction) const
    {
        int count = 0;
        const QJsonArray events = engine.journal.read(0, 1000, channel->id).value(QStringLiteral("events")).toArray();
        for (const QJsonValue& event : events)
            count += event[QStringLiteral("direction")] == direction;
        return count;
    }
    void type(const QByteArray& text) { channel->send(text, QString(), QStringLiteral("test")); }
    // The remote shell has printed its prompt ("$ " or "# "): it reads input now.
    bool shellReady() const { return received.contains("$ ") || received.contains("# "); }

    Engine engine;
    QPointer<Channel> channel;
    QByteArray received;
    QList<QPair<QByteArray, QString>> chunks;
    QStringList questions;
    QList<bool> retries;
    std::function<void(SshAuthPrompt*)> answer;
};

Config sshConfig(quint16 port, const QString& user, const QString& identity = QString())
{
    Config config;
    config.kind = QStringLiteral("ssh");
    config.ssh_host = QStringLiteral("127.0.0.1");
    config.ssh_port = port;
    config.ssh_user = user;
    config.ssh_identity = identity;
    return config;
}

QString currentUser()
{
    const passwd* entry = ::getpwuid(::geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QStringLiteral("root");
}

QString writeScript(const QTemporaryDir& dir, const QString& name, const QByteArray& body)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write("#!/bin/sh\n" + body) < 0)
        return {};
    file.close();
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

const QStringList FixedArguments{"-tt", "-o", "BatchMode=no", "-o", "StrictHostKeyChecking=ask",
                                 "-o", "ConnectTimeout=15", "-o", "ServerAliveInterval=30",
                                 "-o", "ServerAliveCountMax=3"};

} // namespace

class SshChannelTest : public QObject {
    Q_OBJECT
    SshTestServer m_server;
    QTemporaryDir m_data;
    QTemporaryDir m_scripts;
    QString m_key;
    bool m_serverUp = false;

    QString credentials() const { return m_data.filePath(QStringLiteral("ssh-cache")); }
    void requireServer()
    {
        if (!m_serverUp)
            QSKIP(qPrintable(QStringLiteral("private sshd unavailable: ") + m_server.errorString()));
    }
    void resetKnownHosts()
    {
        QFile file(m_server.knownHosts());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", m_data.path().toUtf8());
        m_serverUp = m_server.start();
        if (m_serverUp)
            m_key = m_server.addClientKey(QStringLiteral("plain_key"), QString());
    }
    void cleanupTestCase() { m_server.stop(); }

    // --- The client's side, with stand-in programs -----------------------

    void argumentList_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("identity");
        QTest::addColumn<QStringList>("tail");
        QTest::newRow("bare") << QString() << 0 << QString() << QStringList{"box"};
        QTest::newRow("everything") << "pi" << 2222 << "/k/id ed" << QStringList{"-l", "pi", "-p", "2222", "-i", "/k/id ed", "box"};
    }
    void argumentList()
    {
        QFETCH(QString, user);
        QFETCH(int, port);
        QFETCH(QString, identity);
        QFETCH(QStringList, tail);
        Session session(writeScript(m_scripts, QStringLiteral("args"), "printf '%s\\n' \"$@\"\n"), credentials());
        Config config = sshConfig(quint16(port), user, identity);
        config.ssh_host = QStringLiteral("box");
        session.open(config);
        QTRY_COMPARE(session.channel->state, QStringLiteral("closed"));
        QCOMPARE(QString::fromUtf8(session.received).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts),
                 FixedArguments + tail);
        QCOMPARE(session.statusMessages(),
                 (QStringList{"connecting", "connected", QStringLiteral("SSH 会话已结束")}));
    }

    void escapeSequencesAreNotTalk()
    {
        // The cursor is hidden first, then a title split over three reads,
        // blanks and control bytes; only the login prompt is talk.
        Session session(writeScript(m_scripts, QStringLiteral("escapes"),
                                    "printf '\\033[?25l'; sleep 0.3; printf '\\033]0;ti'; sleep 0.3;"
                                    " printf 'tle\\033'; sleep 0.3; printf '\\\\ \\t\\r\\n\\007'; sleep 0.3;"
                                    " printf '\\033(B'; sleep 0.3; printf 'login: '; sleep 30\n"),
                        credentials());
        session.open(sshConfig(0, QString()));
        QTRY_COMPARE_WITH_TIMEOUT(session.channel->state, QStringLiteral("connected"), 10000);
        QVERIFY(session.chunks.size() >= 2);
        for (const auto& [bytes, state] : std::as_const(session.chunks)) {
            const bool talk = bytes.contains("login");
            QCOMPARE(state, talk ? QStringLiteral("connected") : QStringLiteral("connecting"));
            if (talk)
                break;
        }
        session.channel->close();
        QCOMPARE(session.statusMessages().last(), QStringLiteral("closed"));
    }

    void exitCodes_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QStringList>("messages");
        QTest::newRow("silent success is an error")
            << QByteArray("exit 0\n") << QStringList{"connecting", QStringLiteral("SSH 连接结束，退出码 0")};
        QTest::newRow("failure while connecting")
            << QByteArray("exit 255\n") << QStringList{"connecting", QStringLiteral("SSH 连接结束，退出码 255")};
        QTest::newRow("failure after talk")
            << QByteArray("echo hi; exit 3\n")
            << QStringList{"connecting", "connected", QStringLiteral("SSH 连接结束，退出码 3")};
    }
    void exitCodes()
    {
        QFETCH(QByteArray, script);
        QFETCH(QStringList, messages);
        Session session(writeScript(m_scripts, QStringLiteral("exit"), script), credentials());
        session.open(sshConfig(0, QString()));
        QTRY_COMPARE(session.statusMessages().size(), messages.size());
        QCOMPARE(session.statusMessages(), messages);
        QCOMPARE(session.channel->error, messages.last().startsWith(QStringLiteral("SSH 连接结束")) ? messages.last() : QString());
    }

    void startRefused()
    {
        Session session(QStringLiteral("vn-no-such-ssh"), credentials());
        session.open(sshConfig(0, QString()));
        QCOMPARE(session.channel->state, QStringLiteral("error"));
        QCOMPARE(session.channel->error, QStringLiteral("无法启动 SSH 终端，系统错误 2"));
        QCOMPARE(session.statusMessages(),
                 (QStringList{"connecting", QStringLiteral("无法启动 SSH 终端，系统错误 2")}));
        QVERIFY_THROWS_EXCEPTION(std::exception, session.type("x"));
    }

    // --- Against the private sshd --------------------------------------

    void unknownHostKeyRefused()
    {
        requireServer();
        resetKnownHosts();
        Session session(m_server.clientProgram(), credentials());
        session.answer = [](SshAuthPrompt* prompt) {
            QVERIFY(prompt->yesNo);
            prompt->answer(QStringLiteral("no"), false);
        };
        session.open(sshConfig(m_server.port(), currentUser(), m_key));
        QTRY_COMPARE_WITH_TIMEOUT(session.channel->state, QStringLiteral("error"), 20000);
        QCOMPARE(session.questions.size(), 1);
        QVERIFY(session.questions.first().contains(QStringLiteral("(yes/no")));
        QVERIFY(session.received.contains("Host key verification failed."));
        QCOMPARE(session.channel->error, QStringLiteral("SSH 连接结束，退出码 255"));
        QVERIFY(!SshTestServer::run(QStringLiteral("ssh-keygen"),
                                    {QStringLiteral("-F"), QStringLiteral("[127.0.0.1]:%1").arg(m_server.port()),
                                     QStringLiteral("-f"), m_server.knownHosts()}));
    }

    void cancelledQuestionClosesTheChannel()
    {
        requireServer();
        resetKnownHosts();
        Session session(m_server.clientProgram(), credentials());
        session.answer = [](SshAuthPrompt* prompt) { prompt->cancel(); };
        session.open(sshConfig(m_server.port(), currentUser(), m_key));
        QTRY_COMPARE_WITH_TIMEOUT(session.channel->state, QStringLiteral("closed"), 20000);
        QCOMPARE(session.statusMessages(), (QStringList{"connecting", "closed"}));
    }

    void acceptedHostKeyAndASessionBothWays()
    {
        requireServer();
        resetKnownHosts();
        Session session(m_server.clientProgram(), credentials());
        session.answer = [](SshAuthPrompt* prompt) {
            QVERIFY(prompt->yesNo);
            prompt->answer(QStringLiteral("yes"), false);
        };
        session.open(sshConfig(m_server.port(), currentUser(), m_key));
        QTRY_COMPARE_WITH_TIMEOUT(session.channel->state, QStringLiteral("connected"), 20000);
        QCOMPARE(session.questions.size(), 1);
        QVERIFY(SshTestServer::run(QStringLiteral("ssh-keygen"),
                                   {QStringLiteral("-F"), QStringLiteral("[127.0.0.1]:%1").arg(m_server.port()),
                                    QStringLiteral("-f"), m_server.knownHosts()}));

        QTRY_VERIFY_WITH_TIMEOUT(session.shellReady(), 10000);
        // The host's records, as the cache-clearing dialog finds them.
        const SshHostRecords records = SshHostCache::resolve(session.channel->config, m_server.clientProgram());
        QCOMPARE(records.hostKeyNames, QStringList{QStringLiteral("[127.0.0.1]:%1").arg(m_server.port())});
        QCOMPARE(records.knownHostsFiles, QStringList{m_server.knownHosts()});
        session.type("echo vn-$((6*7))\r");
        QTRY_VERIFY_WITH_TIMEOUT(session.received.contains("vn-42"), 10000);
        session.channel->resizeTerminal(QSize(101, 41));
        session.type("stty size\r");
        QTRY_VERIFY_WITH_TIMEOUT(session.received.contains("41 101"), 10000);
        QVERIFY(session.channel->txBytes > 0);
        QCOMPARE(session.journaled(QStringLiteral("tx")), 0); // what is typed comes back as echo
        QVERIFY(session.journaled(QStringLiteral("rx")) > 0);

        session.type("exit\r");
        QTRY_COMPARE_WITH_TIMEOUT(session.channel->state, QStringLiteral("closed"), 10000);
        QCOMPARE(session.statusMessages().last(), QStringLiteral("SSH 会话已结束"));
        QVERIFY(session.channel->error.isEmpty());
    }

    void droppedServer()
    {
        requireServer();
        resetKnownHosts();
        QVERIFY(m_server.trustHostKey());
        Session session(m_server.clientProgram(), credentials());
        session.open(sshConfig(m_server.port(), currentUser(), m_key));
        QTRY_COMPARE_WITH_TIMEOUT(session.channel->state, QStringLiteral("connected"), 20000);
        QVERIFY(session.questions.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(session.shellReady(), 10000);
        session.type("echo ready-$((1+1))\r");
        QTRY_VERIFY_WITH_TIMEOUT(session.received.contains("ready-2"), 10000);
        m_server.dropSessions();
        QTRY_COMPARE_WITH_TIMEOUT(session.channel->state, QStringLiteral("error"), 20000);
        QCOMPARE(session.channel->error, QStringLiteral("SSH 连接结束，退出码 255"));
    }

    void passphraseFromThePromptThenFromTheCache()
    {
        requireServer();
        resetKnownHosts();
        QVERIFY(m_server.trustHostKey());
        const QString key = m_server.addClientKey(QStringLiteral("locked_key"), QStringLiteral("open sesame"));
        QVERIFY(!key.isEmpty());
        const Config config = sshConfig(m_server.port(), currentUser(), key);
        {
            Session session(m_server.clientProgram(), credentials());
            session.answer = [](SshAuthPrompt* prompt) {
                QVERIFY(prompt->secret);
                prompt->answer(QStringLiteral("open sesame"), true);
                QVERIFY(prompt->error.isEmpty());
            };
            session.open(config);
            QTRY_COMPARE_WITH_TIMEOUT(session.channel->state, QStringLiteral("connected"), 20000);
            QCOMPARE(session.questions.size(), 1);
            QVERIFY(session.questions.first().contains(QStringLiteral("passphrase")));
            session.channel->close();
        }
        Session again(m_server.clientProgram(), credentials());
        again.open(config);
        QTRY_COMPARE_WITH_TIMEOUT(again.channel->state, QStringLiteral("connected"), 20000);
        QVERIFY(again.questions.isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(again.shellReady(), 10000);
        again.type("echo cached-$((2+3))\r");
        QTRY_VERIFY_WITH_TIMEOUT(again.received.contains("cached-5"), 10000);
        SshCredentialCache::remove(credentials(), config.ssh_host, QString());
    }

    void passwordLoginAndAWrongRememberedPassword()
    {
        requireServer();
        if (!m_server.addPasswordUser(QStringLiteral("Pw-4711 x")))
            QSKIP("a throwaway account needs root");
        resetKnownHosts();
        QVERIFY(m_server.trustHostKey());
        const Config config = sshConfig(m_server.port(), m_server.passwordUser());
        QString entry;
        {
            Session session(m_server.clientProgram(), credentials());
            session.answer = [&entry, &config](SshAuthPrompt* prompt) {
                QVERIFY(prompt->secret);
                QVERIFY(!prompt->retry);
                entry = config.key() + QLatin1Char('\n') + prompt->prompt;
                prompt->answer(QStringLiteral("Pw-4711 x"), false);
            };
            session.open(config);
            QTRY_COMPARE_WITH_TIMEOUT(session.channel->state, QStringLiteral("connected"), 20000);
            QVERIFY(session.questions.first().contains(QStringLiteral("password")));
            QTRY_VERIFY_WITH_TIMEOUT(session.shellReady(), 10000);
            session.type("id -un\r");
            QTRY_VERIFY_WITH_TIMEOUT(session.received.contains(m_server.passwordUser().toUtf8() + "\r\n"), 10000);
            session.channel->close();
        }
        // A remembered password that the server no longer takes.
        SshCredentialCache::write(credentials(), config.ssh_host, entry, QStringLiteral("stale"));
        Session session(m_server.clientProgram(), credentials());
        session.answer = [&](SshAuthPrompt* prompt) {
            QVERIFY(prompt->retry);
            QCOMPARE(SshCredentialCache::read(credentials(), config.ssh_host, entry), QString());
            prompt->answer(QStringLiteral("Pw-4711 x"), false);
        };
        session.open(config);
        // The stale one went out without asking; ssh's second question comes to the user.
        QTRY_COMPARE_WITH_TIMEOUT(session.questions.size(), 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(session.shellReady(), 10000);
        QCOMPARE(session.channel->state, QStringLiteral("connected"));
        QCOMPARE(SshCredentialCache::read(credentials(), config.ssh_host, entry), QString());
        session.type("exit\r");
        QTRY_COMPARE_WITH_TIMEOUT(session.channel->state, QStringLiteral("closed"), 10000);
    }
};

QTEST_GUILESS_MAIN(SshChannelTest)
#include "tst_SshChannel.moc"
