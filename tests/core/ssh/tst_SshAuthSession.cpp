#include "core/ssh/SshAuthSession.h"
#include "core/ssh/SshCredentialCache.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using vn::SshAuthPrompt;
using vn::SshAuthSession;
using vn::SshCredentialCache;
using vn::SshTarget;

namespace {

SshTarget labTarget()
{
    return {QStringLiteral("Lab-Box"), QStringLiteral("pi"), 0, QString(), QStringLiteral("ssh:lab-box:pi:0:")};
}

QByteArray requestLine(const QString& token, const QString& prompt, const QString& hint = QStringLiteral("entry"))
{
    QJsonObject object;
    object.insert(QStringLiteral("token"), token);
    object.insert(QStringLiteral("prompt"), prompt);
    object.insert(QStringLiteral("hint"), hint);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

// One askpass connection, as the helper makes it.
class Client {
public:
    explicit Client(const SshAuthSession& session)
    {
        QObject::connect(&socket, &QLocalSocket::readyRead, &socket, [this] { reply += socket.readAll(); });
        QObject::connect(&socket, &QLocalSocket::disconnected, &socket, [this] { ended = true; });
        socket.connectToServer(session.serverName());
        connected = socket.waitForConnected(5000);
    }
    void send(const QByteArray& bytes)
    {
        socket.write(bytes);
        socket.flush();
    }
    QLocalSocket socket;
    QByteArray reply;
    bool ended = false;
    bool connected = false;
};

const QByteArray Accepted = "{\"accepted\":true,\"answer\":\"\"}\n";
const QByteArray Refused = "{\"accepted\":false,\"answer\":\"\"}\n";

} // namespace

class SshAuthSessionTest : public QObject {
    Q_OBJECT
    QTemporaryDir m_data;
    QString m_cache;

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", m_data.path().toUtf8()); // the user's key lives here
        m_cache = m_data.filePath(QStringLiteral("cache"));
    }

    void environmentAnnouncesTheBridge()
    {
        SshAuthSession session(labTarget(), m_cache, nullptr);
        const QProcessEnvironment environment = session.environment();
        QCOMPARE(environment.value(QStringLiteral("SSH_ASKPASS")),
                 QCoreApplication::applicationDirPath() + QStringLiteral("/VarnelleSSHAskpass"));
        QVERIFY(QFileInfo(environment.value(QStringLiteral("SSH_ASKPASS"))).isExecutable());
        QCOMPARE(environment.value(QStringLiteral("SSH_ASKPASS_REQUIRE")), QStringLiteral("force"));
        QCOMPARE(environment.value(QStringLiteral("VN_SSH_AUTH_SERVER")),
                 QStringLiteral("Varnelle-ssh-") + session.token());
        QCOMPARE(environment.value(QStringLiteral("VN_SSH_AUTH_TOKEN")), session.token());
        QVERIFY(environment.contains(QStringLiteral("PATH")));
        // Only this user may reach the bridge's socket.
        const QFile::Permissions socketMode =
            QFile::permissions(QDir::tempPath() + QLatin1Char('/') + session.serverName());
        QVERIFY(socketMode & QFile::WriteOwner);
        QVERIFY(!(socketMode & (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther)));
        QCOMPARE(session.token().size(), 32);
        QVERIFY(QRegularExpression(QStringLiteral("^[0-9a-f]{32}$")).match(session.token()).hasMatch());
        SshAuthSession other(labTarget(), m_cache, nullptr);
        QVERIFY(other.token() != session.token());
    }

    void noticeIsAnsweredAtOnce()
    {
        SshAuthSession session(labTarget(), m_cache, nullptr);
        QSignalSpy prompts(&session, &SshAuthSession::promptRequested);
        Client client(session);
        QVERIFY(client.connected);
        client.send(requestLine(session.token(), QStringLiteral("Confirm user presence"), QStringLiteral("none")));
        QTRY_VERIFY(client.ended);
        QCOMPARE(client.reply, Accepted);
        QCOMPARE(prompts.count(), 0);
        // Nothing was recorded: the same question as a real one is no retry.
        Client again(session);
        again.send(requestLine(session.token(), QStringLiteral("Confirm user presence")));
        QTRY_COMPARE(prompts.count(), 1);
        QVERIFY(!prompts.at(0).at(0).value<SshAuthPrompt*>()->retry);
    }

    void endedConnectionsLeaveNoTimer()
    {
        // A single-shot timer whose context object has gone stays parked under
        // the event dispatcher until it fires; a connection's own must not.
        QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
        SshAuthSession session(labTarget(), m_cache, nullptr);
        const qsizetype parked = dispatcher->children().size();
        for (int i = 0; i < 20; ++i) {
            Client client(session);
            QVERIFY(client.connected);
            client.send(requestLine(session.token(), QStringLiteral("Confirm user presence"), QStringLiteral("none")));
            QTRY_VERIFY(client.ended);
            QCOMPARE(client.reply, Accepted);
        }
        QCOMPARE(dispatcher->children().size(), parked);
    }

    void badRequestsEndTheConnectionWithoutReply_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        const QString token = QStringLiteral("%1");
        QTest::newRow("token in other case") << QByteArray("UPPER");
        QTest::newRow("not json") << QByteArray("hello\n");
        QTest::newRow("not an object") << QByteArray("[1,2]\n");
        QTest::newRow("no token") << QByteArray("{\"prompt\":\"Password:\"}\n");
        QTest::newRow("too long, no line feed") << QByteArray(16385, 'x');
        QTest::newRow("16384 bytes and a line feed") << QByteArray("LONG16384");
    }
    void badRequestsEndTheConnectionWithoutReply()
    {
        QFETCH(QByteArray, bytes);
        SshAuthSession session(labTarget(), m_cache, nullptr);
        QSignalSpy prompts(&session, &SshAuthSession::promptRequested);
        if (bytes == "UPPER")
            bytes = requestLine(session.token().toUpper(), QStringLiteral("Password:"));
        if (bytes == "LONG16384") {
            bytes = requestLine(session.token(), QStringLiteral("Password:"));
            bytes = requestLine(session.token(), QString(16384 - bytes.size() + 1 + 9, QLatin1Char('p')));
            QCOMPARE(bytes.size(), 16385);
        }
        Client client(session);
        client.send(bytes);
        QTRY_VERIFY(client.ended);
        QCOMPARE(client.reply, QByteArray());
        QCOMPARE(prompts.count(), 0);
    }

    void longestRequestFits()
    {
        SshAuthSession session(labTarget(), m_cache, nullptr);
        QSignalSpy prompts(&session, &SshAuthSession::promptRequested);
        QByteArray bytes = requestLine(session.token(), QStringLiteral("Code:"));
        bytes = requestLine(session.token(), QString(16384 - bytes.size() + 5, QLatin1Char('c')));
        QCOMPARE(bytes.size(), 16384);
        Client client(session);
        client.send(bytes);
        QTRY_COMPARE(prompts.count(), 1);
    }

    void questionsAreClassified_data()
    {
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<bool>("yesNo");
        QTest::addColumn<bool>("secret");
        QTest::newRow("host key") << "Are you sure you want to continue connecting (yes/no/[fingerprint])? "
                                  << "entry" << true << false;
        QTest::newRow("confirm hint") << "Allow use of key?" << "confirm" << true << false;
        QTest::newRow("confirm wins over password") << "Password ok?" << "confirm" << true << false;
        QTest::newRow("hint is case-sensitive") << "Password:" << "Confirm" << false << true;
        QTest::newRow("login password") << "pi@lab-box's password: " << "entry" << false << true;
        QTest::newRow("key passphrase") << "Enter passphrase for key '/k': " << "" << false << true;
        QTest::newRow("capitals") << "PASSWORD:" << "entry" << false << true;
        QTest::newRow("one-time code") << "Verification code: " << "entry" << false << false;
    }
    void questionsAreClassified()
    {
        QFETCH(QString, question);
        QFETCH(QString, hint);
        QFETCH(bool, yesNo);
        QFETCH(bool, secret);
        SshAuthSession session(labTarget(), m_cache, nullptr);
        QSignalSpy prompts(&session, &SshAuthSession::promptRequested);
        Client client(session);
        client.send(requestLine(session.token(), question, hint));
        QTRY_COMPARE(prompts.count(), 1);
        auto* prompt = prompts.at(0).at(0).value<SshAuthPrompt*>();
        QCOMPARE(prompt->host, QStringLiteral("Lab-Box"));
        QCOMPARE(prompt->prompt, question);
        QCOMPARE(prompt->yesNo, yesNo);
        QCOMPARE(prompt->secret, secret);
        QVERIFY(!prompt->retry);
        // Answering a yes/no or plain question never remembers anything.
        prompt->answer(QStringLiteral("yes"), true);
        QTRY_VERIFY(client.ended);
        QCOMPARE(client.reply, QByteArray("{\"accepted\":true,\"answer\":\"yes\"}\n"));
        QCOMPARE(QFile::exists(SshCredentialCache::cachePath(m_cache, QStringLiteral("Lab-Box"))), secret);
        SshCredentialCache::remove(m_cache, QStringLiteral("Lab-Box"), QString());
    }

    void requestInPiecesAndTwoLines()
    {
        SshAuthSession session(labTarget(), m_cache, nullptr);
        QSignalSpy prompts(&session, &SshAuthSession::promptRequested);
        Client client(session);
        const QByteArray line = requestLine(session.token(), QStringLiteral("Code:"));
        client.send(line.left(10));
        QTest::qWait(50);
        QCOMPARE(prompts.count(), 0);
        client.send(line.mid(10, line.size() - 11));
        QTest::qWait(50);
        QCOMPARE(prompts.count(), 0);
        client.send("\r\n" + requestLine(session.token(), QStringLiteral("Other:")));
        QTRY_COMPARE(prompts.count(), 1);
        auto* prompt = prompts.at(0).at(0).value<SshAuthPrompt*>();
        QCOMPARE(prompt->prompt, QStringLiteral("Code:"));
        prompt->answer(QStringLiteral("123456"), false);
        QTRY_VERIFY(client.ended);
        QCOMPARE(client.reply, QByteArray("{\"accepted\":true,\"answer\":\"123456\"}\n"));
        QCOMPARE(prompts.count(), 1);
    }

    void rememberedSecretIsOfferedOnceThenDropped()
    {
        const SshTarget target = labTarget();
        const QString question = QStringLiteral("pi@lab-box's password: ");
        const QString entry = target.key + QLatin1Char('\n') + question;
        SshCredentialCache::write(m_cache, target.host, entry, QStringLiteral("old-secret"));

        SshAuthSession session(target, m_cache, nullptr);
        QSignalSpy prompts(&session, &SshAuthSession::promptRequested);
        QSignalSpy cancelled(&session, &SshAuthSession::cancelled);
        Client first(session);
        first.send(requestLine(session.token(), question));
        QTRY_VERIFY(first.ended);
        QCOMPARE(first.reply, QByteArray("{\"accepted\":true,\"answer\":\"old-secret\"}\n"));
        QCOMPARE(prompts.count(), 0);

        // ssh asks again: the remembered secret was wrong.
        Client second(session);
        second.send(requestLine(session.token(), question));
        QTRY_COMPARE(prompts.count(), 1);
        auto* prompt = prompts.at(0).at(0).value<SshAuthPrompt*>();
        QVERIFY(prompt->retry);
        QCOMPARE(SshCredentialCache::read(m_cache, target.host, entry), QString());
        prompt->answer(QStringLiteral("new-secret"), true);
        QVERIFY(prompt->error.isEmpty());
        QTRY_VERIFY(second.ended);
        QCOMPARE(second.reply, QByteArray("{\"accepted\":true,\"answer\":\"new-secret\"}\n"));
        QCOMPARE(SshCredentialCache::read(m_cache, QStringLiteral("lab-box"), entry), QStringLiteral("new-secret"));
        QCOMPARE(cancelled.count(), 0);

        // A new session offers the remembered secret again.
        SshAuthSession later(target, m_cache, nullptr);
        Client third(later);
        third.send(requestLine(later.token(), question));
        QTRY_VERIFY(third.ended);
        QCOMPARE(third.reply, QByteArray("{\"accepted\":true,\"answer\":\"new-secret\"}\n"));
        SshCredentialCache::remove(m_cache, target.host, QString());
    }

    void typedAnswerAskedAgainIsRetry()
    {
        SshAuthSession session(labTarget(), m_cache, nullptr);
        QSignalSpy prompts(&session, &SshAuthSession::promptRequested);
        for (int round = 0; round < 2; ++round) {
            Client client(session);
            client.send(requestLine(session.token(), QStringLiteral("Password:")));
            QTRY_COMPARE(prompts.count(), round + 1);
            auto* prompt = prompts.at(round).at(0).value<SshAuthPrompt*>();
            QCOMPARE(prompt->retry, round == 1);
            prompt->answer(QStringLiteral("typed"), false);
            QTRY_VERIFY(client.ended);
        }
    }

    void failedRememberKeepsTheAnswer()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        SshAuthSession session(labTarget(), dir.filePath(QStringLiteral("file/cache")), nullptr);
        QSignalSpy prompts(&session, &SshAuthSession::promptRequested);
        Client client(session);
        client.send(requestLine(session.token(), QStringLiteral("Password:")));
        QTRY_COMPARE(prompts.count(), 1);
        auto* prompt = prompts.at(0).at(0).value<SshAuthPrompt*>();
        QSignalSpy finished(prompt, &SshAuthPrompt::finished);
        prompt->answer(QStringLiteral("pw"), true);
        QCOMPARE(prompt->error, QStringLiteral("无法创建 SSH 密码缓存目录"));
        QVERIFY(finished.count() >= 1);
        prompt->answer(QStringLiteral("again"), false); // the reply runs once only
        QTRY_VERIFY(client.ended);
        QCOMPARE(client.reply, QByteArray("{\"accepted\":true,\"answer\":\"pw\"}\n"));
    }

    void refusalCancels()
    {
        SshAuthSession session(labTarget(), m_cache, nullptr);
        QSignalSpy prompts(&session, &SshAuthSession::promptRequested);
        QSignalSpy cancelled(&session, &SshAuthSession::cancelled);
        Client client(session);
        client.send(requestLine(session.token(), QStringLiteral("Password:")));
        QTRY_COMPARE(prompts.count(), 1);
        prompts.at(0).at(0).value<SshAuthPrompt*>()->cancel();
        QTRY_VERIFY(client.ended);
        QCOMPARE(client.reply, Refused);
        QCOMPARE(cancelled.count(), 1);
    }

    void stopAbortsPendingQuestions()
    {
        SshAuthSession session(labTarget(), m_cache, nullptr);
        QSignalSpy prompts(&session, &SshAuthSession::promptRequested);
        QSignalSpy cancelled(&session, &SshAuthSession::cancelled);
        Client client(session);
        client.send(requestLine(session.token(), QStringLiteral("Password:")));
        QTRY_COMPARE(prompts.count(), 1);
        QPointer<SshAuthPrompt> prompt = prompts.at(0).at(0).value<SshAuthPrompt*>();
        QSignalSpy finished(prompt.data(), &SshAuthPrompt::finished);
        session.stop();
        QCOMPARE(finished.count(), 1);
        // A late refusal of a question whose connection has gone ends nothing.
        prompt->cancel();
        QTRY_VERIFY(client.ended);
        QCOMPARE(client.reply, QByteArray());
        QTRY_VERIFY(prompt.isNull()); // it went with its connection
        // No new connection is taken.
        QLocalSocket late;
        late.connectToServer(session.serverName());
        QVERIFY(!late.waitForConnected(500));
        QCOMPARE(cancelled.count(), 0);
    }

    void clientLeavingEarlyAsksNothing()
    {
        SshAuthSession session(labTarget(), m_cache, nullptr);
        QSignalSpy prompts(&session, &SshAuthSession::promptRequested);
        {
            Client client(session);
            client.send("{\"token\":");
            client.socket.disconnectFromServer();
        }
        QTest::qWait(100);
        QCOMPARE(prompts.count(), 0);
    }

    void askpassHelperSpeaksForSsh_data()
    {
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("askpassPrompt");
        QTest::addColumn<bool>("yesNo");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("code");
        QTest::addColumn<QByteArray>("printed");
        QTest::newRow("host key yes") << "Are you sure you want to continue connecting (yes/no/[fingerprint])? "
                                      << "" << true << "yes" << 0 << QByteArray("yes\n");
        QTest::newRow("password") << "pi@lab-box's password: " << "" << false << "密码 with space" << 0
                                  << QByteArray("密码 with space\n");
        QTest::newRow("refused") << "Password:" << "" << false << "" << 1 << QByteArray();
        QTest::newRow("notice") << "Confirm user presence for key" << "none" << false << "-" << 0 << QByteArray("\n");
    }
    void askpassHelperSpeaksForSsh()
    {
        QFETCH(QString, question);
        QFETCH(QString, askpassPrompt);
        QFETCH(bool, yesNo);
        QFETCH(QString, answer);
        QFETCH(int, code);
        QFETCH(QByteArray, printed);
        SshAuthSession session(labTarget(), m_cache, nullptr);
        connect(&session, &SshAuthSession::promptRequested, this, [&](SshAuthPrompt* prompt) {
            QCOMPARE(prompt->yesNo, yesNo);
            QCOMPARE(prompt->prompt, question);
            if (answer.isEmpty())
                prompt->cancel();
            else
                prompt->answer(answer, false);
        });
        QProcessEnvironment environment = session.environment();
        if (!askpassPrompt.isEmpty())
            environment.insert(QStringLiteral("SSH_ASKPASS_PROMPT"), askpassPrompt);
        QProcess helper;
        helper.setProcessEnvironment(environment);
        helper.start(environment.value(QStringLiteral("SSH_ASKPASS")), {question});
        QVERIFY(helper.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(helper.state(), QProcess::NotRunning, 10000);
        QCOMPARE(helper.exitCode(), code);
        QCOMPARE(helper.readAllStandardOutput(), printed);
    }

    void askpassHelperWithoutBridgeFails()
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("VN_SSH_AUTH_SERVER"), QStringLiteral("Varnelle-ssh-nobody"));
        environment.insert(QStringLiteral("VN_SSH_AUTH_TOKEN"), QStringLiteral("x"));
        QProcess helper;
        helper.setProcessEnvironment(environment);
        helper.start(SshAuthSession::askpassProgram(), {QStringLiteral("Password:")});
        QVERIFY(helper.waitForFinished(15000));
        QVERIFY(helper.exitCode() != 0);
        QCOMPARE(helper.readAllStandardOutput(), QByteArray());
    }
};

QTEST_GUILESS_MAIN(SshAuthSessionTest)
#include "tst_SshAuthSession.moc"
