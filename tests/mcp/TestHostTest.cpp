// The head-less host the end-to-end tests run: its command line, its first
// output line, its switch commands and its way of stopping.

#include "HttpClient.h"
#include "tests/support/ForeignClient.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using namespace vn::test;

namespace {

QString hostPath()
{
    return QStringLiteral(VN_BINARY_DIR "/bin/mcp-test-host");
}

QByteArray readLine(QProcess& process)
{
    waitUntil([&] { return process.canReadLine() || process.state() == QProcess::NotRunning; }, 15000);
    return process.readLine().trimmed();
}

} // namespace

class TestHostTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void servesAndStopsWhenInputCloses()
    {
        QProcess host;
        host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        host.start(hostPath(), {"--port", "0", "--demo"});
        QVERIFY2(host.waitForStarted(5000), qPrintable(host.errorString()));
        const QString url = QString::fromUtf8(readLine(host));
        const QRegularExpressionMatch match = QRegularExpression("^http://127\\.0\\.0\\.1:(\\d+)/mcp$").match(url);
        QVERIFY2(match.hasMatch(), qPrintable(url));
        const quint16 port = static_cast<quint16>(match.captured(1).toUInt());

        const QString session = initialize(port);
        QVERIFY(!session.isEmpty());
        QJsonObject status = callTool(port, session, "get_status").value("result").toObject()
                                 .value("structuredContent").toObject();
        QCOMPARE(status.value("connection_count").toInt(), 2);
        QCOMPARE(status.value("allow_ai_control").toBool(true), false);

        host.write("allow-ai-control on\n");
        QCOMPARE(readLine(host), QByteArray("ok"));
        host.write("protocol udp off\n");
        QCOMPARE(readLine(host), QByteArray("ok"));
        host.write("protocol demo off\n");
        QCOMPARE(readLine(host), QByteArray("error: 未知的 MCP 协议"));
        host.write("dance\n");
        QCOMPARE(readLine(host), QByteArray("error: unknown command"));
        status = callTool(port, session, "get_status").value("result").toObject().value("structuredContent").toObject();
        QCOMPARE(status.value("allow_ai_control").toBool(), true);
        QCOMPARE(status.value("protocol_access").toObject().value("udp").toBool(true), false);

        host.closeWriteChannel();
        QVERIFY(host.waitForFinished(15000));
        QCOMPARE(host.exitStatus(), QProcess::NormalExit);
        QCOMPARE(host.exitCode(), 0);
    }

    void servesOnlyItsOwnUser()
    {
        const QString why = ForeignClient::unavailable();
        if (!why.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no client under another uid: ") + why));
        QProcess host;
        host.start(hostPath(), {"--port", "0"});
        QVERIFY2(host.waitForStarted(5000), qPrintable(host.errorString()));
        const QString url = QString::fromUtf8(readLine(host));
        const quint16 port = static_cast<quint16>(url.section(QLatin1Char(':'), 2).section(QLatin1Char('/'), 0, 0).toUInt());
        QVERIFY2(port != 0, qPrintable(url));

        ForeignClient intruder;
        QVERIFY(intruder.start(QStringLiteral("127.0.0.1"), port, 1,
                               postRequest(R"({"jsonrpc":"2.0","id":1,"method":"initialize"})")));
        QTRY_COMPARE_WITH_TIMEOUT(intruder.replies().size(), 1, 15000);
        QVERIFY2(intruder.replies().constFirst().startsWith("HTTP/1.1 403 Error\r\n"),
                 intruder.replies().constFirst().constData());
        QByteArray said;
        QVERIFY(waitUntil([&] {
            said += host.readAllStandardError();
            return said.contains('\n');
        }, 15000));
        QCOMPARE(said, QStringLiteral("mcp-test-host: 已拒绝其他本地账户的 1 个连接\n").toUtf8());
        QVERIFY(!initialize(port).isEmpty());

        host.closeWriteChannel();
        QVERIFY(host.waitForFinished(15000));
        QCOMPARE(host.exitCode(), 0);
    }

    void refusesABadPort()
    {
        QProcess host;
        host.start(hostPath(), {"--port", "70000"});
        QVERIFY(host.waitForFinished(15000));
        QCOMPARE(host.exitCode(), 2);
    }
};

QTEST_GUILESS_MAIN(TestHostTest)
#include "TestHostTest.moc"
